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
const QByteArray kGbk = "\xcf\xfb\xcf\xa2"; // 消息

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
        QTest::newRow("nested deep") << QByteArray("</").repeated(500) + "<</</p>p>/p>" +
                                            QByteArray("p>").repeated(500) + 'a'
                                     << u"</p>"_s << u"a"_s;
        // A token that overlaps itself is removed pass by pass, leftmost first.
        QTest::newRow("overlapping token") << QByteArray("abababa") << u"aba"_s << u"b"_s;
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
        // Every tag we strip is one the one-pass removal is exact for.
        for (const QString &token : NoticePage::cleanupTokens() + NoticePage::fileListTokens())
            QVERIFY2(!NoticePage::overlapsItself(token), qPrintable(token));
        QVERIFY(NoticePage::overlapsItself(u"abab"_s) && !NoticePage::overlapsItself(u"aab"_s));
        // Mark-up outside the list stays as it is.
        QCOMPARE(cleaned(u"<span style=\"color: #000000;\">a<br>"_s + kRed.toUpper()),
                 u"a<br>"_s + kRed.toUpper());
    }

    // ---- transfer ---------------------------------------------------------

    void initTestCase()
    {
        QVERIFY(m_server.listen());
        Response gbk(kGbk);
        gbk.contentType = "text/plain; charset=GBK";
        m_server.route(u"/gbk"_s, gbk);
    }

    // One table of answers, each served to a page fetch and to a download at
    // once. A page or a file that arrives is exactly what the answer framed;
    // anything else fails, for the reason that holds a given part.
    void answers_data()
    {
        using S = HttpServer;
        QTest::addColumn<Response>("response");
        QTest::addColumn<QString>("pageWhy"); // empty: the page arrives
        QTest::addColumn<QString>("fileWhy"); // empty: the download completes
        QTest::addColumn<QByteArray>("arrives");
        // A file that comes in several blocks, under the page cap; one over it.
        const QByteArray file = QByteArray("0123456789abcdef").repeated(1 << 16), small(3000, 'x');
        const auto row = [](const char *name, const Response &response, const char *pageWhy,
                            const char *fileWhy = nullptr, const std::optional<QByteArray> &arrives = {}) {
            QTest::newRow(name) << response << QString::fromUtf8(pageWhy)
                                << QString::fromUtf8(fileWhy ? fileWhy : pageWhy)
                                << arrives.value_or(response.body);
        };
        const auto with = [](Response response, const QByteArray &name, const QByteArray &value) {
            response.headers.append({name, value});
            return response;
        };
        const auto declared = [](const QByteArray &body, qint64 length) {
            Response response(body, S::WrongLength);
            response.declaredLength = length;
            return response;
        };
        const auto chunked = [&](const QByteArray &data, const QByteArray &end = "0\r\n\r\n") {
            const QByteArray chunk = QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
            return with(Response(chunk + end, S::NoContentLength), "Transfer-Encoding", "chunked");
        };
        const Response unframed(small, S::NoContentLength);
        const char *noLength = "没有给出文件的长度", *timedOut = "秒内没有收到数据";
        row("whole", Response(file), "");
        row("chunked", chunked(small), "", "", small);
        row("no length, ends at close", unframed, "", noLength);
        row("half a file, no length", Response(small.left(1500), S::NoContentLength), "", noLength);
        row("two lengths, the first 100",
            with(with(unframed, "Content-Length", "100"), "Content-Length", "3000"), "长度无效：100, 3000");
        row("length with a sign", with(unframed, "Content-Length", "+3000"), "长度无效");
        row("chunked with a length", with(chunked(small), "Content-Length", "5"), "说是 5 字节");
        row("length shorter than the body: the answer ends there", declared(small, 100), "", "",
            small.left(100));
        row("length 0 with a body", declared(small, 0), "", "空的", QByteArray());
        row("empty 200", Response(QByteArray()), "", "空的");
        for (const int status : {204, 304, 300, 404, 500})
            row(qPrintable(u"status %1"_s.arg(status)),
                Response(status == 304 ? QByteArray() : small, S::NoFault, status),
                qPrintable(u"回答 %1"_s.arg(status)));
        row("compressed", with(Response(small), "Content-Encoding", "gzip"), "压缩");
        row("body cut short", Response(file, S::CutBody), "连接出错");
        row("chunks cut short", chunked(small, "10\r\nabc"), "连接出错");
        row("closes at once", Response(small, S::CloseAtOnce), "连接出错");
        row("stalls", Response(small, S::Stall), timedOut);
        row("never answers", Response(small, S::NeverAnswer), timedOut);
        // A byte every 50 ms beats the time-out and the lowest speed, not the deadline.
        Response trickle(small, S::Trickle);
        trickle.trickleMs = 50;
        row("trickles past the deadline", trickle, "秒内没有完成");
        trickle.trickleMs = 200;
        row("trickles below the lowest speed", trickle, "速度太慢");
        row("over the page cap", Response(file.repeated(5)), "页面太大", "");
        row("over the page cap, no length", Response(file.repeated(5), S::NoContentLength), "页面太大",
            noLength);
        row("redirect", with(Response({}, S::NoFault, 302), "Location", m_server.url(u"/gbk"_s).toUtf8()), "",
            "", kGbk);
    }

    void answers()
    {
        QFETCH(Response, response);
        QFETCH(QString, pageWhy);
        QFETCH(QString, fileWhy);
        QFETCH(QByteArray, arrives);
        m_server.route(u"/page"_s, response);
        m_server.route(u"/file"_s, response);
        Transfer page, file;
        for (Transfer *transfer : {&page, &file}) {
            transfer->setIdleTimeout(300);
            transfer->setLowestSpeed(10, 500);
            transfer->setDeadline(1200);
        }
        QSignalSpy fetched(&page, &Transfer::pageFetched);
        QByteArray received;
        qint64 largestBlock = 0;
        QList<int> states;
        connect(&file, &Transfer::readyRead, this, [&] {
            const QByteArray block = file.read(1 << 20);
            largestBlock = std::max<qint64>(largestBlock, block.size());
            received += block;
        });
        connect(&file, &Transfer::stateChanged, this, [&](int s) {
            states.append(s);
            if (s == Transfer::ResponseCompleted)
                received += file.read(arrives.size() + 1);
        });
        page.openUrl(m_server.url(u"/page"_s));
        file.execute(m_server.url(u"/file"_s));
        QVERIFY(page.stillExecuting() && file.stillExecuting());
        QTRY_VERIFY_WITH_TIMEOUT(fetched.size() == 1 && !page.stillExecuting() && !file.stillExecuting(),
                                 10000);
        const auto endedAsSaid = [](const Transfer &t, const QString &why) {
            return t.state() == (why.isEmpty() ? Transfer::ResponseCompleted : Transfer::Error) &&
                   t.errorString().contains(why) && t.errorString().isEmpty() == why.isEmpty();
        };
        QVERIFY2(endedAsSaid(page, pageWhy), qPrintable(page.errorString()));
        QCOMPARE(fetched[0], QVariantList({pageWhy.isEmpty(), pageWhy.isEmpty() ? arrives : QByteArray()}));
        QVERIFY2(endedAsSaid(file, fileWhy), qPrintable(file.errorString()));
        QCOMPARE(states.first(), int(Transfer::Connecting));
        if (fileWhy.isEmpty()) {
            QCOMPARE(received, arrives);
            QVERIFY(states.contains(Transfer::ReceivingResponse));
            const bool chunks = response.headers.contains({"Transfer-Encoding", "chunked"});
            QCOMPARE(file.contentLength(), chunks ? -1 : arrives.size());
            QVERIFY2(received.size() < (1 << 20) || largestBlock < received.size(),
                     "the body came in one piece");
        } else if (response.status != 200) {
            QVERIFY(received.isEmpty()); // an error page is not the file
        }
        // Nothing more follows, not even when the time-out has passed.
        QTest::qWait(350);
        QCOMPARE(fetched.size(), 1);
        QCOMPARE(states.count(Transfer::ResponseCompleted) + states.count(Transfer::Error), 1);
    }

    // A bad address fails on a later turn; a request replaced by another, or
    // gone with its window, never answers. A page is read in the character
    // set its answer names.
    void fetchPage_badOrDroppedRequests()
    {
        m_server.route(u"/slow"_s, Response({}, HttpServer::NeverAnswer));
        auto *window = new QObject;
        auto *transfer = new Transfer(window);
        QSignalSpy fetched(transfer, &Transfer::pageFetched);
        transfer->openUrl(u"ftp://127.0.0.1/x"_s);
        QCOMPARE(fetched.size(), 0); // never from inside the call
        QTRY_COMPARE_WITH_TIMEOUT(fetched.size(), 1, 5000);
        QCOMPARE(fetched[0][0].toBool(), false);
        transfer->openUrl(u"::not a url"_s);
        transfer->openUrl(m_server.url(u"/slow"_s));
        transfer->openUrl(m_server.url(u"/gbk"_s));
        QTRY_COMPARE_WITH_TIMEOUT(fetched.size(), 2, 5000);
        QCOMPARE(transfer->textOf(fetched[1][1].toByteArray()), u"消息"_s);
        transfer->openUrl(m_server.url(u"/slow"_s));
        QTest::qWait(50);
        delete window;
        QTest::qWait(100);
        QCOMPARE(fetched.size(), 2);
    }

private:
    HttpServer m_server;
};

QTEST_MAIN(NoticeTest)
#include "test_notice.moc"
