// The updater: the notes window and the download strip, on page fixtures and
// against a loopback server that misbehaves on purpose.
#include "Form1.h"
#include "HttpServer.h"
#include "MinisignSigner.h"
#include "PlayerFixture.h"
#include "ProcessSignals.h"
#include "StagedInstall.h"
#include "Transfer.h"
#include "UD.h"
#include "UpdateFiles.h"

#include "AppInfo.h"
#include "FolderLock.h"
#include "WindowPresence.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <elf.h>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Response = HttpServer::Response;
using S = HttpServer;

namespace {

// A file outside the program folder that an unsafe entry name points at; the
// process id keeps runs side by side apart.
QString outsidePath()
{
    return QDir::tempPath() + QStringLiteral("/tamsel-outside-%1").arg(QCoreApplication::applicationPid());
}

namespace fs = std::filesystem;

const QString kUpdaterCaption = u"TamselMP3Player 更新程序"_s;
const QString kNewVersion = u"13.05.23"_s;
const QString kProgram = AppInfo::executableName(u"TamselMP3Player"_s);
const QString kUpdater = AppInfo::executableName(u"KivuUpdate"_s);
const QString kNewUpdater = AppInfo::executableName(u"NewKivuUpdate"_s);
const QString kNotice = u"/notice.html"_s;
const QString kOffer = u"单击确定来进行如下版本的更新:"_s;
const QString kFailed = u"在线升级失败"_s;
const QString kNone = u"<none>"_s;

// Records, at the moment the player is started, whether an updater window
// is still there.
class RecordingShell : public FakeShell
{
public:
    bool startProgram(const QString &programFolder, const QString &name) override
    {
        updaterWindowAtStart = WindowPresence::exists(kUpdaterCaption);
        return FakeShell::startProgram(programFolder, name);
    }
    bool updaterWindowAtStart = true;
};

// The updater's services on fakes, in a program folder of its own.
struct UpdaterFixture
{
    explicit UpdaterFixture(const HttpServer &server)
    {
        connectivity.connected = true;
        services.prompts = &prompts;
        services.shell = &shell;
        services.connectivity = &connectivity;
        services.programFolder = dir.path();
        services.noticeUrl = server.url(kNotice);
        services.localVersion = u"13.05.22"_s;
        services.countdownIntervalMs = 20;
        services.idleTimeoutMs = 700;
    }

    // A strip left running by a failed check goes with its fixture.
    ~UpdaterFixture() { delete ud; }

    // The download strip as 确定 opens it; outcome: -1 running, 1 done, 0 failed.
    QPointer<UD> makeStrip()
    {
        ud = new UD(services);
        ud->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(ud, &UD::downloadsFinished, ud, [this](bool ok) { outcome = ok; });
        return ud;
    }

    QString path(const QString &name) const { return dir.filePath(name); }
    fs::path fsPath(const QString &name) const { return QFile::encodeName(path(name)).toStdString(); }
    QByteArray read(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void write(const QString &name, const QByteArray &bytes, int mode = 0644) const
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        fs::permissions(fsPath(name), fs::perms(mode));
    }
    // The permission bits in octal.
    QString mode(const QString &name) const
    {
        return QString::number(int(fs::status(fsPath(name)).permissions() & fs::perms::mask), 8);
    }
    // By name, case aside.
    QStringList files() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    QTemporaryDir dir;
    ScriptedPrompts prompts;
    RecordingShell shell;
    FakeConnectivity connectivity;
    UpdaterServices services;
    QPointer<UD> ud;
    int outcome = -1;
};

} // namespace

class UpdaterTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Window records of this run only: other programs' windows must not count.
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        QVERIFY(m_server.listen());
        QVERIFY(m_signer.isValid());
    }
    void init()
    {
        m_server.clearRoutes();
        m_requestsBefore = m_server.requests().size();
    }

    // ---- the notes window ---------------------------------------------------

    void form1_showsPage_data()
    {
        QTest::addColumn<Response>("response");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("label1");
        QTest::addColumn<QString>("label2");
        QTest::addColumn<QString>("log");

        const QStringList log = {u"1.Fix A"_s, u"2.Add B"_s};
        const QString good = noticePage(kNewVersion, log), twoLines = u"更新日志\n1.Fix A\n2.Add B"_s;
        const auto row = [](const char *name, const QString &page, S::Fault fault = S::NoFault,
                            int status = 200, bool connected = true) -> QTestData & {
            return QTest::newRow(name) << Response(page.toUtf8(), fault, status) << connected;
        };
        const auto failed = [&](const char *name, const QString &page, S::Fault fault = S::NoFault,
                                int status = 200) {
            row(name, page, fault, status) << kFailed << u"无法获取版本号"_s
                                           << u"\n\n对不起，在线升级失败，您可以进入官网手动下载最新版本"_s;
        };
        row("newer version", good) << kOffer << u"Ver:13.05.23"_s << twoLines;
        row("same version", noticePage(u"13.05.22"_s, log))
            << u"您的软件已经是最新版:"_s << u"Ver:13.05.22"_s << twoLines;
        row("older version offered too", noticePage(u"13.05.21"_s, log))
            << kOffer << u"Ver:13.05.21"_s << twoLines;
        row("colon after Ver", noticePage(u":13.05.22"_s, log)) << kOffer << u"Ver::13.05.2"_s << twoLines;
        row("tags and spaces cleaned",
            noticePage(kNewVersion, {u"<span style=\"color: #ff0000;\"><strong>1.</strong>修&nbsp;A</span>"_s,
                                     u"<span style=\"color: #000000;\">2.新增</span><br>B"_s}))
            << kOffer << u"Ver:13.05.23"_s << u"更新日志\n1.修A\n2.新增<br>B"_s;
        row("last line runs into the file list",
            u"Ver13.05.23<p>更新日志</p><p>1.Fix A</p><p>2.Add B更新文件及地址：<p>消息推送：关"_s)
            << kOffer << u"Ver:13.05.23"_s << u"更新日志\n1.Fix A\n2.Add"_s;
        failed("no line after the heading", u"Ver13.05.23 更新日志 none 更新文件及地址："_s);
        failed("no version marker", u"<p>更新日志</p><p>1.Fix A</p><p>更新文件及地址："_s);
        failed("markers out of order", u"Ver13.05.23<p>更新文件及地址：</p><p>更新日志</p><p>1.A</p>"_s);
        failed("page not found", good, S::NoFault, 404);
        failed("page cut short", good, S::CutBody);
        failed("page stalls", good, S::Stall);
        row("offline", good, S::NoFault, 200, false)
            << u"网络连接失败"_s << u"无法获取版本号"_s << u"\n\n无法获取更新内容"_s;
        // The window is up and answers while the page is on its way.
        row("page on its way", good, S::NeverAnswer)
            << kOffer << u"正在获取版本信息"_s << u"正在获取更新信息\n"_s;
    }

    void form1_showsPage()
    {
        QFETCH(Response, response);
        QFETCH(bool, connected);
        QFETCH(QString, label1);
        QFETCH(QString, label2);
        QFETCH(QString, log);
        m_server.route(kNotice, response);

        UpdaterFixture updater(m_server);
        updater.connectivity.connected = connected;
        Form1 form1(updater.services);
        QVERIFY(form1.load());
        QVERIFY(form1.isVisible());
        QVERIFY(WindowPresence::exists(kUpdaterCaption));
        QTRY_COMPARE_WITH_TIMEOUT(requests().count(kNotice), qsizetype(connected), 5000);
        auto *version = form1.findChild<QLabel *>(u"Label2"_s);
        QTRY_COMPARE_WITH_TIMEOUT(version->text(), label2, 5000);
        QCOMPARE(form1.findChild<QLabel *>(u"Label1"_s)->text(), label1);
        QCOMPARE(form1.findChild<QPlainTextEdit *>(u"Text1"_s)->toPlainText(), log);
        QCOMPARE(form1.findChild<QPushButton *>(u"Command1"_s)->isEnabled(),
                 label1 == kOffer && label2.startsWith(u"Ver:"_s));
        // The log's lines are joined by CR LF, with no break at the end.
        if (label2.startsWith(u"Ver:"_s))
            QCOMPARE(Form1::updateLog(QString::fromUtf8(response.body)).value_or(kNone),
                     log.replace(u"\n"_s, u"\r\n"_s));
        // The website link, shown on a failure, answers the left button only.
        const bool failure = label1 == kFailed;
        auto *label3 = form1.findChild<QLabel *>(u"Label3"_s);
        QCOMPARE(label3->isVisible(), failure);
        if (failure) {
            for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton, Qt::LeftButton})
                QTest::mousePress(label3, button);
            QCOMPARE(updater.shell.websites, QStringList{updater.services.noticeUrl});
        }
        QVERIFY(updater.prompts.shown().isEmpty());
        // 取消 ends it; a page still on its way changes nothing later.
        QTest::mouseClick(form1.findChild<QPushButton *>(u"Command2"_s), Qt::LeftButton);
        QVERIFY(!form1.isVisible());
        QVERIFY(!WindowPresence::exists(kUpdaterCaption));
        if (response.fault == S::NeverAnswer) {
            QTest::qWait(updater.services.idleTimeoutMs + 200);
            QCOMPARE(version->text(), label2);
        }
    }

    // What the updater reads from the site: the file list of a notice page,
    // the download address of a sharing page, the name each file is saved as.
    void siteInput_data()
    {
        QTest::addColumn<int>("read");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("found"); // kNone: nothing; of a file list, text|name|share of each entry
        const auto row = [](int read, const char *name, const QString &input, const QString &found) {
            QTest::newRow(name) << read << input << found;
        };
        const auto files = [](const QStringList &paragraphs) {
            return noticePage(kNewVersion, {}, paragraphs);
        };
        row(FileList, "two files",
            files({fileParagraph(u"1.TamselMP3Player.exe"_s, u"http://s/a?x=1&y=2"_s),
                   fileParagraph(u"2.KivuUpdate.exe"_s, u"http://s/b"_s)}),
            u"1.TamselMP3Player.exe\"http://s/a?x=1&y=2\"|TamselMP3Player.exe|http://s/a?x=1&y=2\n"
            "2.KivuUpdate.exe\"http://s/b\"|KivuUpdate.exe|http://s/b"_s);
        row(FileList, "prefix 3. and a library", files({fileParagraph(u"3.skin.dll"_s, u"http://s/c"_s)}),
            u"3.skin.dll\"http://s/c\"|skin.dll|http://s/c"_s);
        row(FileList, "entry 10: the whole number is the prefix",
            files({fileParagraph(u"10.1.2.so"_s, u"http://s/c"_s)}),
            u"10.1.2.so\"http://s/c\"|1.2.so|http://s/c"_s);
        row(FileList, "parenthesis in a name is lost",
            files({fileParagraph(u"1.a(1).txt"_s, u"http://s/d"_s)}),
            u"1.a1).txt\"http://s/d\"|a1).txt|http://s/d"_s);
        row(FileList, "last paragraph runs into the push marker",
            u"更新文件及地址：<p>1.a\"http://s/a\" x<p>2.b\"http://s/b\" y消息推送：关"_s,
            u"1.a\"http://s/a\"|a|http://s/a"_s);
        row(FileList, "no entry", files({}), kNone);
        row(FileList, "one quote only", u"更新文件及地址：<p>1.a\"http://s/a<p>消息推送："_s, kNone);
        row(FileList, "no push marker", u"更新文件及地址：<p>1.a\"http://s/a\"<p>"_s, kNone);
        row(FileList, "quote inside the prefix", u"更新文件及地址：<p>1\"http://s/a\"<p>消息推送："_s, kNone);
        row(DownloadAddress, "entities made plain",
            QString::fromUtf8(sharePage(u"http://f/get?a=1&b=2&c=3"_s)), u"http://f/get?a=1&b=2&c=3"_s);
        row(DownloadAddress, "blanks trimmed", u"保存至网盘<a href=  \"  http://f/y  \"   id=\"x\">"_s,
            u"http://f/y"_s);
        row(DownloadAddress, "href before the save link is not taken",
            u"<a href=\"http://ad/\" id=\"ad\">保存至网盘<a href=\"http://f/z\" id=\"s\">"_s,
            u"http://f/z"_s);
        row(DownloadAddress, "no save link", u"<a href=\"http://f/x\" id=\"s\">"_s, kNone);
        row(DownloadAddress, "no href after it", u"<a href=\"http://f/x\" id=\"s\">保存至网盘"_s, kNone);
        row(DownloadAddress, "no id after it", u"保存至网盘<a href=\"http://f/x\">"_s, kNone);
        row(HttpsAddress, "https after an https page", u"https://f/x"_s, u"https://f/x"_s);
        row(HttpsAddress, "http after an https page", u"http://f/x"_s, kNone);
        row(SavedName, "program", kProgram, kProgram);
        row(SavedName, "own file", kUpdater, kNewUpdater);
        row(SavedName, "library", u"skin.dll"_s, u"skin.dll"_s);
        row(SavedName, "255 bytes", QString(255, u'a'), QString(255, u'a'));
        row(SavedName, "85 chinese = 255 bytes", QString(85, QChar(0x6587)), QString(85, QChar(0x6587)));
        row(SavedName, "256 bytes", QString(256, u'a'), kNone);
        row(SavedName, "86 chinese = 258 bytes", QString(86, QChar(0x6587)), kNone);
        for (const QString &name :
             {QString(), u"."_s, u".."_s, u"../evil"_s, u"/etc/passwd"_s, u"sub/x"_s, u"..\\x"_s, u"a\nb"_s,
              u"a\x7f"_s, u"a"_s + QChar(0), u"a"_s + QChar(0x85), u"exe.\u202Etxt"_s, u"a\u2066b"_s,
              u"a\u200Fb"_s, u"a\u061Cb"_s, u".KivuUpdate.journal"_s, u".KivuUpdate.lock"_s})
            row(SavedName, qPrintable(u"unsafe "_s + name.toUtf8().toPercentEncoding()), name, kNone);
    }

    void siteInput()
    {
        QFETCH(int, read);
        QFETCH(QString, input);
        QFETCH(QString, found);
        QStringList got;
        if (read == DownloadAddress)
            got << UpdateFiles::downloadAddress(input).value_or(kNone);
        else if (read == HttpsAddress)
            got << (UpdateFiles::isAllowedAddress(input, true) ? input : kNone);
        else if (read == SavedName)
            got << (UpdateFiles::isSafeName(input) ? UpdateFiles::savedName(input) : kNone);
        else {
            for (const UpdateFiles::Entry &entry :
                 UpdateFiles::entries(input).value_or(QList<UpdateFiles::Entry>()))
                got << entry.text + u'|' + entry.name + u'|' + entry.shareAddress;
        }
        QCOMPARE(got.isEmpty() ? kNone : got.join(u'\n'), found);
    }

    // ---- the download strip -------------------------------------------------

    // Three files, the updater's own first, each replacing an installed one;
    // each row changes one answer of the site, or the folder. The update ends
    // with every file in place, or with nothing changed and a box shown.
    void ud_update_data()
    {
        QTest::addColumn<QString>("path"); // whose answer is response
        QTest::addColumn<Response>("response");
        QTest::addColumn<int>("setup");
        QTest::addColumn<int>("made");          // requests, of the notice, the shares, the files in turn
        QTest::addColumn<int>("barMaximum");    // while the second file arrives (0: activity without a total)
        QTest::addColumn<QStringList>("boxes"); // title|text of each; none when the update is done
        QTest::addColumn<bool>("yes");          // the answer to the box
        const auto done = [](const char *name, const QString &path, const Response &response, int barMaximum,
                             int setup = Plain) {
            QTest::newRow(name) << path << response << setup << 7 << barMaximum << QStringList() << false;
        };
        const auto failed = [](const char *name, const QString &path, const Response &response, int made,
                               bool yes = false, int setup = Plain,
                               const QStringList &boxes = {u"提示|更新失败，是否去官网下载最新版本"_s}) {
            QTest::newRow(name) << path << response << setup << made << 0 << boxes << yes;
        };
        // The second file without a length, or with this one.
        const auto length = [](const QByteArray &body, const QByteArray &header = {}) {
            Response response(body, S::NoContentLength);
            if (!header.isEmpty())
                response.headers.append({"Content-Length", header});
            return response;
        };
        const auto notice = [](const QStringList &files) {
            return Response(noticePage(kNewVersion, {}, files).toUtf8());
        };
        const QString share0 = u"/share/0"_s, share = m_server.url(share0);
        const int second = int(updateBody(1).size());
        done("every file arrives", {}, {}, second);
        done("into an empty folder", {}, {}, second, FreshFolder);
        done("24 MB, the bar at most every 50 ms", filePath(1), Response(contentOf(u"big"_s, 24 << 20)),
             24 << 20);
        done("length 1234", filePath(1), length(contentOf(u"d"_s, 1234), "1234"), 1234);
        // An answer that does not say where it ends, or says it badly, or is empty, is no file.
        failed("no length, ends at close", filePath(1), length(updateBody(1)), 6);
        failed("length zero, empty body", filePath(1), length({}, "0"), 6);
        failed("length not a number", filePath(1), length(updateBody(1), "many"), 6);
        failed("own file cut short", filePath(0), Response(updateBody(0), S::CutBody), 5, true);
        failed("second cut short", filePath(1), Response(updateBody(1), S::CutBody), 6, true);
        failed("last cut short", filePath(2), Response(updateBody(2), S::CutBody), 7, true);
        failed("stalls", filePath(1), Response(updateBody(1), S::Stall), 6, true);
        failed("never answers", filePath(2), Response(updateBody(2), S::NeverAnswer), 7, true);
        failed("closes at once", filePath(1), Response(updateBody(1), S::CloseAtOnce), 6, true);
        failed("longer length declared", filePath(1), Response(updateBody(1), S::WrongLength), 6, true);
        failed("not found", filePath(2), Response(updateBody(2), S::NoFault, 404), 7, true);
        failed("server error", filePath(0), Response(updateBody(0), S::NoFault, 500), 5, true);
        failed("disk full", filePath(1), Response(contentOf(u"b"_s, 400000)), 6, false, DiskFull);
        failed("a folder where the last file goes", {}, {}, 7, false, FolderInPlace);
        failed("roll-back fails", {}, {}, 7, false, NoRollBack,
               {u"提示|更新失败，以下文件未能恢复原样：TamselMP3Player。下次启动程序时会再次尝试修复。"
                "是否去官网下载最新版本"_s});
        QTest::newRow("player cannot be started")
            << QString() << Response() << int(NoStart) << 7 << second
            << QStringList{u"提示|更新已完成，但无法启动 TamselMP3Player，请在程序文件夹中手动启动它。"_s}
            << false;
        // Only a whole executable for this machine takes a program's place.
        failed("304 for the own file", filePath(0), Response({}, S::NoFault, 304), 5, true);
        failed("a login page for the player", filePath(2), Response("<html><body>请登录</body></html>"), 7);
        failed("the player cut, the cut length told", filePath(2), Response(executable().left(30000)), 7);
        QByteArray otherMachine = updateBody(2);
        otherMachine[18] = char(otherMachine[18] == char(EM_X86_64) ? EM_AARCH64 : EM_X86_64);
        failed("the player for another machine", filePath(2), Response(otherMachine), 7);
        failed("a script listed as NewKivuUpdate", {}, {}, 5, false, NewUpdaterListed);
        // Every name is checked, and every address found, before any file is fetched.
        failed("no file list", kNotice, Response("Ver13.05.23 更新日志"), 1);
        failed("no entry", kNotice, notice({}), 1);
        failed("entry without its address", kNotice, notice({u"<p>1.skin.dll</p>"_s}), 1);
        failed("parent folder", kNotice, notice({fileParagraph(u"1.../evil"_s, share)}), 1);
        failed("absolute path", kNotice, notice({fileParagraph(u"1."_s + outsidePath(), share)}), 1);
        failed("unsafe name after a good one", kNotice,
               notice({fileParagraph(u"1.skin.dll"_s, share), fileParagraph(u"2.a\tb"_s, share)}), 1);
        failed("sharing page without the save link", share0, Response("<a href=\"x\" id=\"y\">"), 2);
        failed("save link that is no web address", share0,
               Response("保存至网盘<a href=\"file:///etc/passwd\" id=\"y\">"), 2);
        failed("sharing page missing", share0, Response("gone", S::NoFault, 404), 2);
        // Beside another updater both windows refuse, and the strip while the player's files are
        // in use; nothing is fetched.
        failed("another updater", {}, {}, 0, false, OtherUpdater,
               {u"提示：|更新程序已经在运行"_s, u"提示：|更新程序已经在运行，请勿重复运行更新程序"_s});
        failed("player window open", {}, {}, 0, false, PlayerOpen,
               {u"TamselMP3Player 更新提示:|发现原程序正在运行,请关闭原程序后再点击更新."_s});
    }

    void ud_update()
    {
        QFETCH(QString, path);
        QFETCH(Response, response);
        QFETCH(int, setup);
        QFETCH(int, made);
        QFETCH(int, barMaximum);
        QFETCH(QStringList, boxes);
        QFETCH(bool, yes);
        const bool refused = setup == OtherUpdater || setup == PlayerOpen;
        UpdaterFixture updater(m_server);
        const QStringList names = {kUpdater, u"skin.dll"_s, kProgram},
                          saved = {kNewUpdater, names[1], kProgram};
        QList<QByteArray> bodies = {updateBody(0), updateBody(1), updateBody(2)};
        QStringList listed = names;
        if (setup == NewUpdaterListed) {
            listed[0] = kNewUpdater;
            bodies[0] = "#!/bin/sh\n";
        }
        serveUpdate(listed, bodies);
        m_server.route(path, response);
        if (path == filePath(1))
            bodies[1] = response.body;
        // Bits no new file gets, on a program too: they must come through either way, but
        // for set-user-id and set-group-id, which an installed file never hands on.
        const QStringList bits = setup == FreshFolder ? QStringList{u"755"_s, u"644"_s, u"755"_s}
                                                      : QStringList{u"4750"_s, u"600"_s, u"2750"_s};
        for (int i = 0; i < names.size() && setup != FreshFolder; ++i) {
            if (setup == FolderInPlace && i == 2)
                QVERIFY(QDir(updater.dir.path()).mkdir(names[i]));
            else
                updater.write(names[i], "installed " + names[i].toUtf8(), bits[i].toInt(nullptr, 8));
        }
        // Another updater on the folder holds its lock, a file there.
        const QStringList before = updater.files();
        std::optional<FolderLock> another;
        if (setup == OtherUpdater)
            another.emplace(updater.dir.path());
        updater.shell.startSucceeds = setup != NoStart;
        if (setup == NoRollBack)
            updater.services.placingStep = [&updater](int step) {
                // After the second rename a folder takes the player's place: the
                // player is not replaced, and the file before it cannot be put back.
                if (step == 4 && QFile::remove(updater.path(kProgram)))
                    QDir(updater.path(kProgram)).mkpath(u"in-use"_s);
            };
        updater.prompts.answerNext(yes ? Prompts::AnswerYes : Prompts::AnswerNo);
        const auto player = setup == PlayerOpen ? WindowPresence::announce(u"TamselMP3Player"_s) : nullptr;
        if (setup == OtherUpdater) {
            QCOMPARE(another->state(), FolderLock::Held);
            // The notes window refuses too, before it is shown.
            Form1 form1(updater.services);
            QVERIFY(!form1.load());
            QVERIFY(!form1.isVisible());
        }

        QPointer<UD> ud = updater.makeStrip();
        auto *bar = ud->findChild<QProgressBar *>(u"ProgressBar1"_s);
        auto *label1 = ud->findChild<QLabel *>(u"Label1"_s);
        // The bar's total as each file starts to arrive, then what it lacks of it at the end; whether
        // anything was in place before the end; when the bar steps within a file.
        QList<int> totals;
        bool touched = false;
        connect(ud.data(), &UD::downloadsFinished, this, [&] { totals << bar->maximum() - bar->value(); });
        connect(ud->findChild<Transfer *>(u"Inet1"_s), &Transfer::stateChanged, this, [&](int state) {
            if (!label1->text().startsWith(u"正在下载"_s))
                return;
            if (state == Transfer::ReceivingResponse)
                totals << bar->maximum();
            if (state == Transfer::Connecting) {
                QStringList now = updater.files();
                now.removeOne(FolderLock::kFileName); // the strip's hold on the folder
                touched = touched || now != before;
            }
        });
        QString status;
        connect(ud.data(), &UD::downloadsFinished, this, [&] { status = label1->text(); });
        // A disk that fills up: no file of this process may grow past 64 KB.
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const rlimit limit{setup == DiskFull ? 64 * 1024 : old.rlim_cur, old.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        ud->load();
        QCOMPARE(label1->text(), u"正在准备更新..."_s);
        QCOMPARE(WindowPresence::exists(kUpdaterCaption), !refused);
        const bool over = QTest::qWaitFor([&] { return !ud; }, 30000);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, handler);
        QVERIFY(over);
        another.reset();
        const bool done = boxes.isEmpty() || setup == NoStart;
        QCOMPARE(updater.outcome, done ? 1 : refused ? -1 : 0);
        QVERIFY(!WindowPresence::exists(kUpdaterCaption));
        QTest::qWait(50);
        // The notice, every sharing page, then the files; nothing after a failure.
        const QStringList all = {kNotice,     u"/share/0"_s, u"/share/1"_s, u"/share/2"_s,
                                 filePath(0), filePath(1),   filePath(2)};
        QStringList asked = requests();
        asked.removeDuplicates(); // a connection closed at once is tried again
        QCOMPARE(asked, all.mid(0, made));
        QVERIFY(!touched);

        QStringList shown;
        for (const ScriptedPrompts::Shown &box : updater.prompts.shown()) {
            shown << box.title + u'|' + box.text;
            QCOMPARE(box.buttons, refused || done ? Prompts::Ok : Prompts::YesNo);
        }
        QCOMPARE(shown, boxes);
        // The reason stands on the status line, in words.
        QVERIFY2(setup != DiskFull || status == u"更新失败：写入失败：文件超过了允许的大小"_s,
                 qPrintable(status));
        if (setup == NoRollBack)
            return; // the next start finishes the placing (test_install)
        if (done) {
            QCOMPARE(totals, QList<int>({int(bodies[0].size()), barMaximum, int(bodies[2].size()), 0}));
            for (int i = 0; i < saved.size(); ++i) {
                QCOMPARE(updater.read(saved[i]), bodies[i]);
                QCOMPARE(updater.mode(saved[i]), bits[i].right(3));
            }
            // Beside the old updater, no temporary left; the player started once the strip was gone.
            QCOMPARE(updater.files().size(), before.size() + (setup == FreshFolder ? 3 : 1));
            QCOMPARE(updater.shell.programs, QStringList{updater.path(kProgram)});
            QVERIFY(!updater.shell.updaterWindowAtStart);
            return;
        }
        QCOMPARE(updater.shell.websites, yes ? QStringList{updater.services.noticeUrl} : QStringList());
        // No new file, no temporary left, every installed file as it was.
        QCOMPARE(updater.files(), before);
        for (const QString &name : before) {
            QCOMPARE(updater.read(name), "installed " + name.toUtf8());
            QCOMPARE(updater.mode(name), bits[names.indexOf(name)]);
        }
        QVERIFY(setup != FolderInPlace || QFileInfo(updater.path(names[2])).isDir());
        QVERIFY(updater.shell.programs.isEmpty());
        QVERIFY(!QFile::exists(outsidePath()));
    }

    // The updater's own file and a library, with SHA256SUMS and its signature
    // for the page's version by the test's key; each row changes one thing
    // (the verdicts themselves are test_install's).
    // Outcome: 1 all in place, 0 refused, -1 ended by a process signal while
    // the library arrives; but for 1, the folder stays as it was.
    void ud_signedUpdate_data()
    {
        QTest::addColumn<bool>("keyed");
        QTest::addColumn<int>("change");
        QTest::addColumn<int>("outcome");
        QTest::newRow("signed, in a build with a key") << true << int(NoChange) << 1;
        QTest::newRow("a file changed after signing") << true << int(FileChanged) << 0;
        QTest::newRow("a file changed, in a build without a key") << false << int(FileChanged) << 0;
        QTest::newRow("not signed, in a build with a key") << true << int(Unsigned) << 0;
        for (const int signal : {SIGTERM, SIGINT, SIGHUP})
            QTest::addRow("signal %d while a file arrives", signal) << false << signal << -1;
    }

    void ud_signedUpdate()
    {
        QFETCH(bool, keyed);
        QFETCH(int, change);
        QFETCH(int, outcome);
        UpdaterFixture updater(m_server);
        updater.services.updateKey = keyed ? m_signer.publicKey() : QByteArray();
        updater.services.idleTimeoutMs = 30000;
        updater.write(kUpdater, "installed");
        QStringList names = {kUpdater, u"skin.dll"_s, u"SHA256SUMS"_s, u"SHA256SUMS.minisig"_s};
        QList<QByteArray> bodies = {updateBody(0), updateBody(1)};
        const auto sha256 = [](const QByteArray &bytes) {
            return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
        };
        bodies << sha256(bodies[0]) + "  " + names[0].toUtf8() + "\n" + sha256(bodies[1]) + " *skin.dll\n";
        bodies << m_signer.sign(bodies[2], u"TamselMP3Player "_s + kNewVersion);
        bodies[1] += change == FileChanged ? "!" : "";
        if (change == Unsigned)
            names.resize(2);
        serveUpdate(names, bodies);
        if (outcome < 0)
            m_server.route(filePath(1), Response(bodies[1], S::Stall));
        QStringList after = updater.files();
        if (outcome == 1)
            after << kNewUpdater << names[1];
        after.sort(Qt::CaseInsensitive);
        updater.prompts.answerNext(Prompts::AnswerNo);
        ProcessSignals processSignals;
        connect(&processSignals, &ProcessSignals::quitRequested, this, &endUpdater);
        const QPointer<UD> ud = updater.makeStrip();
        // The signal comes once the strip has taken the first half of the library.
        connect(ud->findChild<Transfer *>(u"Inet1"_s), &Transfer::readyRead, this, [&] {
            if (outcome < 0 && requests().contains(filePath(1)))
                ::raise(change);
        });
        ud->load();
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 10000);
        QCOMPARE(updater.outcome, outcome);
        // The two entries are checked, never installed; a signal leaves no temporary behind.
        QCOMPARE(updater.files(), after);
        QCOMPARE(updater.read(kNewUpdater), outcome == 1 ? bodies[0] : "<missing>");
        QCOMPARE(updater.prompts.shown().size(), outcome == 0 ? 1 : 0);
        // A page without a signature is refused before anything is fetched from it.
        QVERIFY(change != Unsigned || requests().size() == 1);
    }

    void stagedInstall_shortOrUnfinishedFile_placesNothing()
    {
        UpdaterFixture updater(m_server);
        updater.write(u"a.bin"_s, "old");
        {
            StagedInstall install(updater.dir.path());
            QVERIFY(install.begin(u"a.bin"_s) && install.write("new contents"));
            QVERIFY(!install.finish(13)); // one byte short of its length
            QVERIFY(install.begin(u"b.bin"_s) && install.write("b"));
            QVERIFY(!install.commit()); // the short one never finished
        }
        // An install dropped while a file syncs waits for the sync, and answers nobody.
        int answers = 0;
        {
            StagedInstall install(updater.dir.path());
            QVERIFY(install.begin(u"c.bin"_s) && install.write(QByteArray(1 << 20, 'c')));
            install.finishInBackground(-1, [&answers](bool) { ++answers; });
        }
        QTest::qWait(50);
        QCOMPARE(answers, 0);
        QCOMPARE(updater.files(), QStringList{u"a.bin"_s});
        QCOMPARE(updater.read(u"a.bin"_s), QByteArray("old"));
    }

    // ---- the whole update ---------------------------------------------------

    // The player offers the new version and ends; the updater replaces the
    // files from the site, counts down and starts the player again, which
    // then puts the new updater in place of the old one.
    void wholeUpdate_fromThePlayersOfferToTheNewUpdater()
    {
        // 1. An installed program folder, and the site with three new files.
        UpdaterFixture updater(m_server);
        // Not the 0755 a new program gets: the bits must be kept all the way.
        updater.write(kProgram, "old player", 0750);
        updater.write(kUpdater, "old updater", 0750);
        const QString skin = u"skin.dll"_s;
        const QList<QByteArray> bodies = {executable() + contentOf(kProgram, 30000),
                                          executable() + contentOf(kUpdater, 20000), contentOf(skin, 5000)};
        serveUpdate({kProgram, kUpdater, skin}, bodies);

        // 2. The player's check offers it; OK starts the updater and ends the player.
        auto player = std::make_unique<PlayerFixture>(updater.dir.path());
        player->useNoticeSite(updater.services.noticeUrl, true);
        QVERIFY(player->load());
        player->prompts.answerNext(Prompts::AnswerOk);
        player->click("Image2");
        QTRY_COMPARE_WITH_TIMEOUT(player->quits, 1, 10000);
        QCOMPARE(player->shell.programs, QStringList{updater.path(kUpdater)});
        // Its process ends there, and every window record with it.
        player.reset();
        QVERIFY(!WindowPresence::exists(u"TamselMP3Player"_s));

        // 3. The updater: the notes, 确定 (once), the downloads, the countdown, the player started.
        QStringList installed = updater.files() << kNewUpdater << skin;
        installed.sort(Qt::CaseInsensitive);
        Form1 form1(updater.services);
        QVERIFY(form1.load());
        auto *command1 = form1.findChild<QPushButton *>(u"Command1"_s);
        QTRY_VERIFY_WITH_TIMEOUT(command1->isEnabled(), 5000);
        QTest::mouseClick(command1, Qt::LeftButton);
        QVERIFY(!form1.isVisible());
        form1.Command1_Click(); // a late second click opens nothing more
        QWidgetList strips = QApplication::topLevelWidgets();
        strips.removeIf([](QWidget *window) { return !qobject_cast<UD *>(window); });
        QCOMPARE(strips.size(), 1);
        const QPointer<UD> ud = qobject_cast<UD *>(strips[0]);
        QVERIFY(ud->isVisible());
        QCOMPARE(ud->windowTitle(), kUpdaterCaption);
        QVERIFY(WindowPresence::exists(kUpdaterCaption));
        auto *label1 = ud->findChild<QLabel *>(u"Label1"_s);
        QCOMPARE(label1->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        // Each caption the strip shows while it is up, as requests start and the countdown ticks.
        QStringList captions;
        const auto record = [&] {
            if (ud && ud->isVisible() && captions.value(captions.size() - 1) != label1->text())
                captions << label1->text();
        };
        connect(ud->findChild<Transfer *>(u"Inet1"_s), &Transfer::stateChanged, this, record);
        connect(ud->findChild<QTimer *>(u"Timer1"_s), &QTimer::timeout, this, record);
        connect(ud.data(), &UD::downloadsFinished, this, record);
        QTRY_COMPARE_WITH_TIMEOUT(updater.shell.programs, QStringList{updater.path(kProgram)}, 15000);
        QVERIFY(!updater.shell.updaterWindowAtStart); // the strip had gone
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
        QStringList expected = {u"正在准备更新..."_s};
        for (const QString &name : {kProgram, kNewUpdater, skin})
            expected << u"正在下载 "_s + name;
        for (int left = 5; left >= 1; --left)
            expected << u"更新完成，%1秒钟后自动关闭本窗口"_s.arg(left);
        QCOMPARE(captions, expected);
        QVERIFY(updater.prompts.shown().isEmpty());
        // No temporary left, nothing else touched.
        QCOMPARE(updater.files(), installed);
        QCOMPARE(updater.read(kUpdater), QByteArray("old updater"));

        // 4. The player, started again, swaps the new updater in.
        PlayerFixture restarted(updater.dir.path());
        restarted.useNoticeSite(updater.services.noticeUrl, true);
        QVERIFY(restarted.load());
        QTRY_COMPARE_WITH_TIMEOUT(updater.read(kUpdater), bodies[1], 5000);
        QVERIFY(!QFile::exists(updater.path(kNewUpdater)));
        QCOMPARE(updater.mode(kUpdater), u"750"_s);
        QCOMPARE(updater.read(kProgram), bodies[0]);
        QVERIFY(restarted.window->isVisible());
        QCOMPARE(restarted.quits, 0);
        QVERIFY(restarted.prompts.shown().isEmpty());
    }

private:
    // Past the signal numbers.
    enum Change { NoChange = 100, FileChanged, Unsigned };
    enum Read { FileList, DownloadAddress, SavedName, HttpsAddress };
    enum Setup {
        Plain,
        FreshFolder,
        DiskFull,
        FolderInPlace,
        OtherUpdater,
        PlayerOpen,
        NoRollBack,
        NoStart,
        NewUpdaterListed
    };

    static QString withEntities(QString address) { return address.replace(u'&', u"&amp;"_s); }

    // A file paragraph as the makers write it: prefix and name, then the link.
    static QString fileParagraph(const QString &prefixedName, const QString &share)
    {
        return u"<p>%1(<a href=\"%2\" target=\"_blank\">点击下载</a>)</p>"_s.arg(prefixedName,
                                                                                 withEntities(share));
    }

    // A notice page laid out as the makers write it: paragraphs back to back.
    static QString noticePage(const QString &version, const QStringList &log, const QStringList &files = {})
    {
        return u"<html><head><title>公告</title></head><body><p><strong>Ver%1</strong></p>"
               "<p><strong><span style=\"color: #ff0000;\">更新日志</span></strong></p>%2"
               "<p><strong>更新文件及地址：</strong></p>%3"
               "<p>消息推送：关</p><p>欢迎使用</p><p>最新完整版下载</p></body></html>"_s.arg(
                   version, log.isEmpty() ? QString() : u"<p>%1</p>"_s.arg(log.join(u"</p><p>"_s)),
                   files.join(QString()));
    }

    // A file-sharing page whose save link leads to the file.
    static QByteArray sharePage(const QString &fileAddress)
    {
        return u"<html><body><div>update</div><span>保存至网盘</span>"
               "<a class=\"btn\" href=\"%1\" id=\"save\">下载</a></body></html>"_s
                   .arg(withEntities(fileAddress))
                   .toUtf8();
    }

    static QByteArray contentOf(const QString &name, int size)
    {
        return (name.toUtf8() + " new build ").repeated(size / (name.size() + 11) + 1).left(size);
    }

    // A real executable for this machine, standing in for a program of the update.
    static QByteArray executable()
    {
        static const QByteArray bytes = [] {
            QFile file(QStandardPaths::findExecutable(u"true"_s));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        return bytes;
    }

    // What the site serves of ud_update's three files: the own updater, a library, the player.
    static QByteArray updateBody(int i)
    {
        return (i == 1 ? QByteArray() : executable()) + contentOf(QString::number(i), 20000 + i * 7000);
    }

    // Serves a notice page listing the files, a sharing page for each at
    // /share/<i>, and the files at filePath(i).
    void serveUpdate(const QStringList &names, const QList<QByteArray> &bodies)
    {
        QStringList paragraphs;
        for (int i = 0; i < names.size(); ++i) {
            const QString share = u"/share/%1"_s.arg(i);
            paragraphs << fileParagraph(u"%1.%2"_s.arg(i + 1).arg(names[i]), m_server.url(share));
            m_server.route(share, sharePage(m_server.url(filePath(i))));
            m_server.route(filePath(i), bodies[i]);
        }
        m_server.route(kNotice, noticePage(kNewVersion, {u"1.Fix"_s}, paragraphs).toUtf8());
    }

    // Served only when asked for with plain ampersands.
    static QString filePath(int i) { return u"/files/%1?v=2&n=%1"_s.arg(i); }

    // Requests of the running test.
    QStringList requests() const { return m_server.requests().mid(m_requestsBefore); }

    QTemporaryDir m_runtime;
    HttpServer m_server;
    MinisignSigner m_signer;
    qsizetype m_requestsBefore = 0;
};

QTEST_MAIN(UpdaterTest)
#include "test_updater.moc"
