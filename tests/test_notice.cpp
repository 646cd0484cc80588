// The notice page's text helpers on page fixtures, and the transfer layer
// against a loopback server that misbehaves on purpose.
#include "HttpServer.h"
#include "NoticePage.h"
#include "Transfer.h"

#include <QSignalSpy>
#include <QtTest>

using namespace Qt::StringLiterals;
using Response = HttpServer::Response;

// Stands for a cut that cannot be made.
const QString kNoCut = u"<no cut>"_s;
const QString kRed = u"<span style=\"color: #ff0000;\">"_s;

class NoticeTest : public QObject
{
    Q_OBJECT

private slots:
    // Bytes decoded as UTF-8, or, given a token, the text with it stripped.
    void decodeAndStrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QByteArray() << QString() << QString();
        QTest::newRow("chinese") << QByteArray("\xe6\xb6\x88\xe6\x81\xaf") << QString() << u"消息"_s;
        QTest::newRow("byte-order mark kept") << QByteArray("\xef\xbb\xbfVer") << QString() << u"\ufeffVer"_s;
        QTest::newRow("malformed byte replaced") << QByteArray("a\xffz") << QString() << u"a\ufffdz"_s;
        QTest::newRow("NUL kept") << QByteArray("a\0b", 3) << QString() << QString(u"a"_s + QChar(0) + u'b');
        QTest::newRow("strip every occurrence") << QByteArray("a</p></p>b") << u"</p>"_s << u"ab"_s;
        QTest::newRow("joined pieces go too") << QByteArray("<st<strong>rong>x") << u"<strong>"_s << u"x"_s;
        QTest::newRow("token absent") << QByteArray("abc") << u"<p>"_s << u"abc"_s;
        QTest::newRow("case counts") << QByteArray("<P>a") << u"<p>"_s << u"<P>a"_s;
    }

    void decodeAndStrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, token);
        QFETCH(QString, text);
        QString result = NoticePage::DecodeUtf8(bytes);
        if (!token.isNull())
            NoticePage::StripToken(result, token);
        QCOMPARE(result, text);
    }

    void sections_data()
    {
        // The page, then what version, log, file list, push switch and push text cut from it.
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("cuts");
        const auto row = [](const char *name, const QString &page, const QStringList &cuts) {
            QTest::newRow(name) << page << cuts;
        };
        const QString n = kNoCut;
        row("plain", u"Ver01.00.02 更新日志L更新文件及地址：F消息推送：开T最新完整版"_s,
            {u"01.00.02"_s, u"更新日志L"_s, u"F"_s, u"开"_s, u"T"_s});
        row("colon after Ver", u"Ver:01.00.02"_s, {u":01.00.0"_s, n, n, n, n});
        row("short tail", u"xxVer1.2"_s, {u"Ver1.2"_s, n, n, n, n});
        row("first Ver wins", u"<script>Version</script>Ver13.05.22"_s, {u"sion</sc"_s, n, n, n, n});
        row("switch off", u"消息推送：关<p>Hi<p>最新完整版"_s, {n, n, n, u"关"_s, u"<p>Hi<p>"_s});
        row("page ends at push marker", u"消息推送："_s, {n, n, n, u"："_s, n});
        row("push end before push", u"最新完整版消息推送：开"_s, {n, n, n, u"开"_s, n});
        row("file list after push", u"消息推送：开更新文件及地址：最新完整版"_s,
            {n, n, n, u"开"_s, u"更新文件及地址："_s});
        row("log end before log", u"更新文件及地址更新日志"_s, {n, n, n, n, n});
        row("empty sections", u"更新日志更新文件及地址：消息推送：开最新完整版"_s,
            {n, u"更新日志"_s, {}, u"开"_s, {}});
        row("empty page", QString(), {n, n, n, n, n});
    }

    void sections()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, cuts);
        using namespace NoticePage;
        QCOMPARE(QStringList({version(page).value_or(kNoCut), logSection(page).value_or(kNoCut),
                              fileListSection(page).value_or(kNoCut), pushSwitch(page).value_or(kNoCut),
                              pushText(page).value_or(kNoCut)}),
                 cuts);
    }

    void cleanup_sampleSections_leaveParagraphsAndPlainEntries()
    {
        // A page laid out as the makers write it: paragraphs back to back.
        const QString page =
            u"<html><head><title>公告</title></head><body><p><strong>Ver13.05.22</strong></p>"
            "<p><strong>更新日志</strong></p><p>1.Fix A</p><p>2.Add %1B</span></p>"
            "<p><strong>更新文件及地址：</strong></p>"
            "<p>1.TamselMP3Player(<a href=\"http://h/s?a=1&amp;b=2\" target=\"_blank\">下载</a>)</p>"
            "<p>消息推送：开</p><p>Hello&nbsp;</p><p>最新完整版</p></body></html>"_s.arg(kRed);
        QCOMPARE(NoticePage::version(page).value_or(kNoCut), u"13.05.22"_s);
        const auto cleaned = [](QString text, void (*cleanUp)(QString &) = NoticePage::cleanUp) {
            cleanUp(text);
            return text;
        };
        const QString log = cleaned(*NoticePage::logSection(page));
        QCOMPARE(log, u"更新日志<p>1.Fix A<p>2.Add B<p>"_s);
        QCOMPARE(NoticePage::paragraphs(log), QStringList({u"更新日志"_s, u"1.Fix A"_s, u"2.Add B"_s, {}}));
        QCOMPARE(cleaned(*NoticePage::fileListSection(page), NoticePage::cleanUpFileList),
                 u"<p>1.TamselMP3Player\"http://h/s?a=1&b=2\" 下载<p>"_s);
        QCOMPARE(cleaned(*NoticePage::pushText(page)), u"<p>Hello<p>"_s);
        // Mark-up outside the list stays as it is.
        QCOMPARE(cleaned(u"<span style=\"color: #000000;\">a<br>"_s + kRed.toUpper()),
                 u"a<br>"_s + kRed.toUpper());
    }

    // ---- transfer ---------------------------------------------------------

    void initTestCase()
    {
        QVERIFY(m_server.listen());
        Response gbk("\xcf\xfb\xcf\xa2"); // 消息 in GBK
        gbk.contentType = "text/plain; charset=GBK";
        m_server.route(u"/gbk"_s, gbk);
    }

    void fetchPage_data()
    {
        using S = HttpServer;
        QTest::addColumn<Response>("response");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("text"); // of the page that arrives
        const QByteArray page(3000, 'x'), small(10, 'x'), big(5000, 'x');
        const auto row = [](const char *name, const Response &response, bool ok,
                            const QByteArray &text = {}) {
            QTest::newRow(name) << response << ok << QString::fromUtf8(text);
        };
        row("whole page", Response(page), true, page);
        row("no length, ends at close", Response(page, S::NoContentLength), true, page);
        row("not found", Response(small, S::NoFault, 404), false);
        row("server error", Response(small, S::NoFault, 500), false);
        row("body cut short", Response(page, S::CutBody), false);
        row("stalls", Response(page, S::Stall), false);
        row("never answers", Response(small, S::NeverAnswer), false);
        row("closes at once", Response(small, S::CloseAtOnce), false);
        row("over the cap", Response(big), false);
        row("over the cap, no length", Response(big, S::NoContentLength), false);
        // Followed, and decoded in the character set its answer names.
        Response moved({}, S::NoFault, 302);
        moved.headers.append({"Location", m_server.url(u"/gbk"_s).toUtf8()});
        row("redirect to a GBK page", moved, true, "消息");
    }

    void fetchPage()
    {
        QFETCH(Response, response);
        QFETCH(bool, ok);
        QFETCH(QString, text);
        m_server.route(u"/page"_s, response);
        Transfer transfer;
        transfer.setIdleTimeout(500);
        transfer.setPageLimit(4000);
        QSignalSpy fetched(&transfer, &Transfer::pageFetched);
        transfer.openUrl(m_server.url(u"/page"_s));
        QVERIFY(transfer.stillExecuting());
        QTRY_COMPARE_WITH_TIMEOUT(fetched.size(), 1, 5000);
        QCOMPARE(fetched[0][0].toBool(), ok);
        QCOMPARE(transfer.textOf(fetched[0][1].toByteArray()), text);
        QCOMPARE(transfer.state(), ok ? int(Transfer::ResponseCompleted) : int(Transfer::Error));
        QVERIFY(!transfer.stillExecuting());
        QCOMPARE(transfer.errorString().isEmpty(), ok);
        // Nothing more follows, not even when the idle time has passed.
        QTest::qWait(600);
        QCOMPARE(fetched.size(), 1);
    }

    // A bad address fails on a later turn; a request replaced by another, or
    // gone with its window, never answers.
    void fetchPage_badOrDroppedRequests()
    {
        m_server.route(u"/b"_s, QByteArray("b"));
        m_server.route(u"/slow"_s, Response({}, HttpServer::NeverAnswer));
        auto *window = new QObject;
        auto *transfer = new Transfer(window);
        QSignalSpy fetched(transfer, &Transfer::pageFetched);
        transfer->openUrl(u"ftp://127.0.0.1/x"_s);
        QCOMPARE(fetched.size(), 0); // never from inside the call
        QTRY_COMPARE_WITH_TIMEOUT(fetched.size(), 1, 5000);
        QCOMPARE(fetched[0][0].toBool(), false);
        transfer->openUrl(u"::not a url"_s);
        transfer->openUrl(m_server.url(u"/gbk"_s));
        transfer->openUrl(m_server.url(u"/b"_s));
        QTRY_COMPARE_WITH_TIMEOUT(fetched.size(), 2, 5000);
        QCOMPARE(fetched[1][1].toByteArray(), QByteArray("b"));
        transfer->openUrl(m_server.url(u"/slow"_s));
        QTest::qWait(50);
        delete window;
        QTest::qWait(100);
        QCOMPARE(fetched.size(), 2);
    }

    void download_data()
    {
        QTest::addColumn<Response>("response");
        QTest::addColumn<int>("state");
        QTest::addColumn<qint64>("reportedLength");
        QByteArray body(3 * 1024 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < body.size(); ++i)
            body[i] = char(i * 7);
        const int done = Transfer::ResponseCompleted, error = Transfer::Error;
        QTest::newRow("complete") << Response(body) << done << body.size();
        QTest::newRow("no length") << Response(body, HttpServer::NoContentLength) << done << qint64(-1);
        QTest::newRow("cut short") << Response(body, HttpServer::CutBody) << error << body.size();
        QTest::newRow("stalls") << Response(body, HttpServer::Stall) << error << body.size();
        QTest::newRow("error status") << Response(body, HttpServer::NoFault, 404) << error << body.size();
    }

    // The body arrives in blocks, never all at once in memory.
    void download()
    {
        QFETCH(Response, response);
        QFETCH(int, state);
        QFETCH(qint64, reportedLength);
        const QByteArray &body = response.body;
        m_server.route(u"/file"_s, response);

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
        transfer.execute(m_server.url(u"/file"_s));
        QTRY_VERIFY_WITH_TIMEOUT(states.contains(state), 10000);
        QCOMPARE(states.first(), int(Transfer::Connecting));
        QVERIFY(!transfer.stillExecuting());
        if (state == Transfer::ResponseCompleted)
            QVERIFY(received == body && states.contains(Transfer::ReceivingResponse));
        else // an error page is not the file
            QVERIFY(response.status == 200 ? received.size() < body.size() : received.isEmpty());
        QCOMPARE(transfer.contentLength(), reportedLength);
        QVERIFY2(largestBlock < body.size(), "the body came in one piece");
    }

private:
    HttpServer m_server;
};

QTEST_MAIN(NoticeTest)
#include "test_notice.moc"
