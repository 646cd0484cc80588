// The notice page's text helpers on page fixtures, and the transfer layer
// against a loopback server that misbehaves on purpose.
#include "HttpServer.h"
#include "NoticePage.h"
#include "Transfer.h"

#include <QSignalSpy>
#include <QtTest>

#include <optional>

namespace {

// Stands for a cut that cannot be made.
const QString kNoCut = QStringLiteral("<no cut>");

QString shown(const std::optional<QString> &cut)
{
    return cut ? *cut : kNoCut;
}

const QString kRed = QStringLiteral("<span style=\"color: #ff0000;\">");
const QString kBlack = QStringLiteral("<span style=\"color: #000000;\">");

// A page laid out as the makers write it: paragraphs back to back.
QString samplePage(const QString &version, const QString &pushSwitch)
{
    return QStringLiteral(
               "<html><head><title>公告</title></head><body>"
               "<p><strong>Ver%1</strong></p>"
               "<p><strong>更新日志</strong></p><p>1.Fix A</p><p>2.Add %2B</span></p>"
               "<p><strong>更新文件及地址：</strong></p>"
               "<p>1.TamselMP3Player(<a href=\"http://h/s?a=1&amp;b=2\" target=\"_blank\">下载</a>)</p>"
               "<p>消息推送：%3</p><p>Hello&nbsp;</p><p>最新完整版</p></body></html>")
        .arg(version, kRed, pushSwitch);
}

} // namespace

class NoticeTest : public QObject
{
    Q_OBJECT

private slots:
    void decodeUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("chinese") << QByteArray("\xe6\xb6\x88\xe6\x81\xaf") << QStringLiteral("消息");
        QTest::newRow("byte-order mark kept") << QByteArray("\xef\xbb\xbfVer") << QStringLiteral("\ufeffVer");
        QTest::newRow("malformed byte replaced") << QByteArray("a\xffz") << QStringLiteral("a\ufffdz");
        QTest::newRow("NUL kept") << QByteArray("a\0b", 3)
                                  << QString(QStringLiteral("a")) + QChar(0) + QLatin1Char('b');
    }

    void decodeUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(NoticePage::DecodeUtf8(bytes), text);
    }

    void stripToken_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("result");
        QTest::newRow("every occurrence")
            << QStringLiteral("a</p></p>b") << QStringLiteral("</p>") << QStringLiteral("ab");
        QTest::newRow("joined pieces go too")
            << QStringLiteral("<st<strong>rong>x") << QStringLiteral("<strong>") << QStringLiteral("x");
        QTest::newRow("absent") << QStringLiteral("abc") << QStringLiteral("<p>") << QStringLiteral("abc");
        QTest::newRow("case counts") << QStringLiteral("<P>a") << QStringLiteral("<p>")
                                     << QStringLiteral("<P>a");
    }

    void stripToken()
    {
        QFETCH(QString, text);
        QFETCH(QString, token);
        QFETCH(QString, result);
        NoticePage::StripToken(text, token);
        QCOMPARE(text, result);
    }

    void sections_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("expectedVersion");
        QTest::addColumn<QString>("expectedLog");
        QTest::addColumn<QString>("expectedFileList");
        QTest::addColumn<QString>("expectedSwitch");
        QTest::addColumn<QString>("expectedPushText");

        QTest::newRow("plain") << QStringLiteral(
                                      "Ver01.00.02 更新日志L更新文件及地址：F消息推送：开T最新完整版")
                               << QStringLiteral("01.00.02") << QStringLiteral("更新日志L")
                               << QStringLiteral("F") << QStringLiteral("开") << QStringLiteral("T");
        QTest::newRow("colon after Ver") << QStringLiteral("Ver:01.00.02") << QStringLiteral(":01.00.0")
                                         << kNoCut << kNoCut << kNoCut << kNoCut;
        QTest::newRow("short tail") << QStringLiteral("xxVer1.2") << QStringLiteral("Ver1.2") << kNoCut
                                    << kNoCut << kNoCut << kNoCut;
        QTest::newRow("first Ver wins") << QStringLiteral("<script>Version</script>Ver13.05.22")
                                        << QStringLiteral("sion</sc") << kNoCut << kNoCut << kNoCut << kNoCut;
        QTest::newRow("switch off") << QStringLiteral("消息推送：关<p>Hi<p>最新完整版") << kNoCut << kNoCut
                                    << kNoCut << QStringLiteral("关") << QStringLiteral("<p>Hi<p>");
        QTest::newRow("page ends at push marker")
            << QStringLiteral("消息推送：") << kNoCut << kNoCut << kNoCut << QStringLiteral("：") << kNoCut;
        QTest::newRow("push end before push") << QStringLiteral("最新完整版消息推送：开") << kNoCut << kNoCut
                                              << kNoCut << QStringLiteral("开") << kNoCut;
        QTest::newRow("file list after push")
            << QStringLiteral("消息推送：开更新文件及地址：最新完整版") << kNoCut << kNoCut << kNoCut
            << QStringLiteral("开") << QStringLiteral("更新文件及地址：");
        QTest::newRow("log end before log")
            << QStringLiteral("更新文件及地址更新日志") << kNoCut << kNoCut << kNoCut << kNoCut << kNoCut;
        QTest::newRow("empty sections")
            << QStringLiteral("更新日志更新文件及地址：消息推送：开最新完整版") << kNoCut
            << QStringLiteral("更新日志") << QString() << QStringLiteral("开") << QString();
        QTest::newRow("empty page") << QString() << kNoCut << kNoCut << kNoCut << kNoCut << kNoCut;
    }

    void sections()
    {
        QFETCH(QString, page);
        QFETCH(QString, expectedVersion);
        QFETCH(QString, expectedLog);
        QFETCH(QString, expectedFileList);
        QFETCH(QString, expectedSwitch);
        QFETCH(QString, expectedPushText);
        QCOMPARE(shown(NoticePage::version(page)), expectedVersion);
        QCOMPARE(shown(NoticePage::logSection(page)), expectedLog);
        QCOMPARE(shown(NoticePage::fileListSection(page)), expectedFileList);
        QCOMPARE(shown(NoticePage::pushSwitch(page)), expectedSwitch);
        QCOMPARE(shown(NoticePage::pushText(page)), expectedPushText);
    }

    void cleanup_sampleSections_leaveParagraphsAndPlainEntries()
    {
        const QString page = samplePage(QStringLiteral("13.05.22"), QStringLiteral("开"));
        QCOMPARE(shown(NoticePage::version(page)), QStringLiteral("13.05.22"));

        QString log = *NoticePage::logSection(page);
        NoticePage::cleanUp(log);
        QCOMPARE(log, QStringLiteral("更新日志<p>1.Fix A<p>2.Add B<p>"));
        QCOMPARE(NoticePage::paragraphs(log),
                 QStringList(
                     {QStringLiteral("更新日志"), QStringLiteral("1.Fix A"), QStringLiteral("2.Add B"), {}}));

        QString files = *NoticePage::fileListSection(page);
        NoticePage::cleanUpFileList(files);
        QCOMPARE(files, QStringLiteral("<p>1.TamselMP3Player\"http://h/s?a=1&b=2\" 下载<p>"));

        QString push = *NoticePage::pushText(page);
        NoticePage::cleanUp(push);
        QCOMPARE(push, QStringLiteral("<p>Hello<p>"));
        // Mark-up outside the list stays as it is.
        QString other = kBlack + QStringLiteral("a<br>") + kRed.toUpper();
        NoticePage::cleanUp(other);
        QCOMPARE(other, QStringLiteral("a<br>") + kRed.toUpper());
    }

    // ---- transfer ---------------------------------------------------------

    void initTestCase() { QVERIFY(m_server.listen()); }

    void fetchPage_data()
    {
        using S = HttpServer;
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("fault");
        QTest::addColumn<qint64>("faultAt");
        QTest::addColumn<int>("bodySize");
        QTest::addColumn<bool>("ok");
        QTest::newRow("whole page") << 200 << int(S::NoFault) << qint64(0) << 3000 << true;
        QTest::newRow("no length, ends at close")
            << 200 << int(S::NoContentLength) << qint64(0) << 3000 << true;
        QTest::newRow("not found") << 404 << int(S::NoFault) << qint64(0) << 10 << false;
        QTest::newRow("server error") << 500 << int(S::NoFault) << qint64(0) << 10 << false;
        QTest::newRow("body cut short") << 200 << int(S::CutBody) << qint64(100) << 3000 << false;
        QTest::newRow("stalls") << 200 << int(S::Stall) << qint64(100) << 3000 << false;
        QTest::newRow("never answers") << 200 << int(S::NeverAnswer) << qint64(0) << 10 << false;
        QTest::newRow("closes at once") << 200 << int(S::CloseAtOnce) << qint64(0) << 10 << false;
        QTest::newRow("over the cap") << 200 << int(S::NoFault) << qint64(0) << 5000 << false;
        QTest::newRow("over the cap, no length")
            << 200 << int(S::NoContentLength) << qint64(0) << 5000 << false;
    }

    void fetchPage()
    {
        QFETCH(int, status);
        QFETCH(int, fault);
        QFETCH(qint64, faultAt);
        QFETCH(int, bodySize);
        QFETCH(bool, ok);
        HttpServer::Response response;
        response.status = status;
        response.fault = HttpServer::Fault(fault);
        response.faultAt = faultAt;
        response.body = QByteArray(bodySize, 'x');
        m_server.route(QStringLiteral("/page"), response);

        Transfer transfer;
        transfer.setIdleTimeout(500);
        transfer.setPageLimit(4000);
        QSignalSpy fetched(&transfer, &Transfer::pageFetched);
        transfer.openUrl(m_server.url(QStringLiteral("/page")));
        QVERIFY(transfer.stillExecuting());
        QTRY_COMPARE_WITH_TIMEOUT(fetched.size(), 1, 5000);
        QCOMPARE(fetched[0][0].toBool(), ok);
        QCOMPARE(fetched[0][1].toByteArray(), ok ? response.body : QByteArray());
        QCOMPARE(transfer.state(), ok ? int(Transfer::ResponseCompleted) : int(Transfer::Error));
        QCOMPARE(transfer.stillExecuting(), false);
        QCOMPARE(transfer.errorString().isEmpty(), ok);
        // Nothing more follows, not even when the idle time has passed.
        QTest::qWait(600);
        QCOMPARE(fetched.size(), 1);
    }

    void fetchPage_followsRedirects_andDecodesTheNamedCharset()
    {
        HttpServer::Response gbk;
        gbk.body = QByteArray("\xcf\xfb\xcf\xa2"); // 消息 in GBK
        gbk.contentType = "text/plain; charset=GBK";
        m_server.route(QStringLiteral("/gbk"), gbk);
        m_server.redirect(QStringLiteral("/moved"), m_server.url(QStringLiteral("/gbk")));
        Transfer transfer;
        QSignalSpy fetched(&transfer, &Transfer::pageFetched);
        transfer.openUrl(m_server.url(QStringLiteral("/moved")));
        QTRY_COMPARE_WITH_TIMEOUT(fetched.size(), 1, 5000);
        QVERIFY(fetched[0][0].toBool());
        QCOMPARE(transfer.textOf(fetched[0][1].toByteArray()), QStringLiteral("消息"));
    }

    void fetchPage_badAddress_failsLater_andANewRequestReplacesTheOld()
    {
        Transfer transfer;
        QSignalSpy fetched(&transfer, &Transfer::pageFetched);
        transfer.openUrl(QStringLiteral("ftp://127.0.0.1/x"));
        QCOMPARE(fetched.size(), 0); // never from inside the call
        QTRY_COMPARE_WITH_TIMEOUT(fetched.size(), 1, 5000);
        QCOMPARE(fetched[0][0].toBool(), false);

        // The first request is dropped silently; only the second answers.
        m_server.route(QStringLiteral("/a"), QByteArray("a"));
        m_server.route(QStringLiteral("/b"), QByteArray("b"));
        transfer.openUrl(QStringLiteral("::not a url"));
        transfer.openUrl(m_server.url(QStringLiteral("/a")));
        transfer.openUrl(m_server.url(QStringLiteral("/b")));
        QTRY_COMPARE_WITH_TIMEOUT(fetched.size(), 2, 5000);
        QTest::qWait(100);
        QCOMPARE(fetched.size(), 2);
        QCOMPARE(fetched[1][1].toByteArray(), QByteArray("b"));
    }

    void fetchPage_transferGoneWithItsWindow_nothingArrives()
    {
        HttpServer::Response slow;
        slow.fault = HttpServer::NeverAnswer;
        m_server.route(QStringLiteral("/slow"), slow);
        int calls = 0;
        {
            auto *window = new QObject;
            auto *transfer = new Transfer(window);
            connect(transfer, &Transfer::pageFetched, this, [&calls] { ++calls; });
            transfer->openUrl(m_server.url(QStringLiteral("/slow")));
            QTest::qWait(50);
            delete window;
        }
        QTest::qWait(100);
        QCOMPARE(calls, 0);
    }

    void download_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("state");
        QTest::addColumn<qint64>("reportedLength");
        const qint64 size = 3 * 1024 * 1024;
        QTest::newRow("complete") << 200 << int(HttpServer::NoFault) << int(Transfer::ResponseCompleted)
                                  << size;
        QTest::newRow("no length") << 200 << int(HttpServer::NoContentLength)
                                   << int(Transfer::ResponseCompleted) << qint64(-1);
        QTest::newRow("cut short") << 200 << int(HttpServer::CutBody) << int(Transfer::Error) << size;
        QTest::newRow("stalls") << 200 << int(HttpServer::Stall) << int(Transfer::Error) << size;
        QTest::newRow("error status") << 404 << int(HttpServer::NoFault) << int(Transfer::Error) << size;
    }

    // The body arrives in blocks, never all at once in memory.
    void download()
    {
        QFETCH(int, status);
        QFETCH(int, fault);
        QFETCH(int, state);
        QFETCH(qint64, reportedLength);
        QByteArray body(3 * 1024 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < body.size(); ++i)
            body[i] = char(i * 7);
        HttpServer::Response response;
        response.status = status;
        response.body = body;
        response.contentType = "application/octet-stream";
        response.fault = HttpServer::Fault(fault);
        response.faultAt = body.size() / 2;
        m_server.route(QStringLiteral("/file"), response);

        Transfer transfer;
        transfer.setIdleTimeout(500);
        QByteArray received;
        qint64 largestBlock = 0;
        QList<int> states;
        connect(&transfer, &Transfer::readyRead, this, [&] {
            const QByteArray block = transfer.read(1 << 20);
            largestBlock = std::max<qint64>(largestBlock, block.size());
            received += block;
        });
        connect(&transfer, &Transfer::stateChanged, this, [&](int s) {
            states.append(s);
            if (s == Transfer::ResponseCompleted)
                received += transfer.read(body.size());
        });
        transfer.execute(m_server.url(QStringLiteral("/file")));
        QTRY_VERIFY_WITH_TIMEOUT(states.contains(state), 10000);
        QCOMPARE(states.first(), int(Transfer::Connecting));
        QVERIFY(!transfer.stillExecuting());
        if (state == Transfer::ResponseCompleted) {
            QCOMPARE(received.size(), body.size());
            QVERIFY(received == body);
            QVERIFY(states.contains(Transfer::ReceivingResponse));
        } else {
            QVERIFY(received.size() < body.size());
            if (status != 200)
                QCOMPARE(received.size(), 0);
        }
        QCOMPARE(transfer.contentLength(), reportedLength);
        QVERIFY2(largestBlock < body.size(), "the body came in one piece");
    }

private:
    HttpServer m_server;
};

QTEST_MAIN(NoticeTest)
#include "test_notice.moc"
