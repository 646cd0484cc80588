// The updater: the notes window and the download strip, on page fixtures and
// against a loopback server that misbehaves on purpose.
#include "Form1.h"
#include "HttpServer.h"
#include "PlayerFixture.h"
#include "StagedInstall.h"
#include "Transfer.h"
#include "UD.h"
#include "UpdateFiles.h"

#include "AppInfo.h"
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
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const QString kUpdaterCaption = QStringLiteral("TamselMP3Player 更新程序");
const QString kFailureText = QStringLiteral("更新失败，是否去官网下载最新版本");
const QString kNewVersion = QStringLiteral("13.05.23");
const QString kProgram = AppInfo::executableName(QStringLiteral("TamselMP3Player"));
const QString kUpdater = AppInfo::executableName(QStringLiteral("KivuUpdate"));
const QString kNewUpdater = AppInfo::executableName(QStringLiteral("NewKivuUpdate"));
const QString kNone = QStringLiteral("<none>");

QString withEntities(QString address)
{
    return address.replace(QLatin1Char('&'), QLatin1String("&amp;"));
}

// A file paragraph as the makers write it: prefix and name, then the link.
QString fileParagraph(const QString &prefixedName, const QString &shareAddress)
{
    return QStringLiteral("<p>%1(<a href=\"%2\" target=\"_blank\">点击下载</a>)</p>")
        .arg(prefixedName, withEntities(shareAddress));
}

// A notice page laid out as the makers write it: paragraphs back to back.
QString noticePage(const QString &version, const QStringList &log, const QStringList &files = {})
{
    return QStringLiteral("<html><head><title>公告</title></head><body><p><strong>Ver%1</strong></p>"
                          "<p><strong><span style=\"color: #ff0000;\">更新日志</span></strong></p>%2"
                          "<p><strong>更新文件及地址：</strong></p>%3"
                          "<p>消息推送：关</p><p>欢迎使用</p><p>最新完整版下载</p></body></html>")
        .arg(version,
             log.isEmpty() ? QString() : QStringLiteral("<p>%1</p>").arg(log.join(QStringLiteral("</p><p>"))),
             files.join(QString()));
}

// A file-sharing page whose save link leads to the file.
QByteArray sharePage(const QString &fileAddress)
{
    return QStringLiteral("<html><body><div>update</div><span>保存至网盘</span>"
                          "<a class=\"btn\" href=\"%1\" id=\"save\">下载</a></body></html>")
        .arg(withEntities(fileAddress))
        .toUtf8();
}

QByteArray contentOf(const QString &name, int size)
{
    QByteArray bytes = (name.toUtf8() + " new build ").repeated(size / (name.size() + 11) + 1);
    bytes.truncate(size);
    return bytes;
}

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
        static int instances = 0;
        connectivity.connected = true;
        services.prompts = &prompts;
        services.shell = &shell;
        services.connectivity = &connectivity;
        services.programFolder = dir.path();
        services.noticeUrl = server.url(QStringLiteral("/notice.html"));
        services.localVersion = QStringLiteral("13.05.22");
        // Each fixture is an updater of its own for the single-instance test.
        services.instanceName = QStringLiteral("KivuUpdate-test-%1-%2").arg(::getpid()).arg(++instances);
        services.countdownIntervalMs = 20;
        services.idleTimeoutMs = 700;
    }

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
        file.close();
        fs::permissions(fsPath(name), fs::perms(mode));
    }
    int mode(const QString &name) const
    {
        return int(fs::status(fsPath(name)).permissions() & fs::perms::mask);
    }
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

template <typename T> T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

// The download strips that are open, as 确定 leaves them.
QList<UD *> openStrips()
{
    QList<UD *> strips;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *strip = qobject_cast<UD *>(window))
            strips << strip;
    }
    return strips;
}

// Records the strip's captions: each download's as it starts, then each step
// of the countdown while the strip is still up.
void recordCaptions(const QPointer<UD> &ud, QStringList *captions, QObject *context)
{
    QLabel *label1 = child<QLabel>(ud, "Label1");
    QObject::connect(child<Transfer>(ud, "Inet1"), &Transfer::stateChanged, context, [=](int state) {
        if (state == Transfer::Connecting && label1->text().startsWith(QStringLiteral("正在下载")))
            *captions << label1->text();
    });
    const auto caption = [=] {
        if (ud && ud->isVisible())
            *captions << label1->text();
    };
    QObject::connect(child<QTimer>(ud, "Timer1"), &QTimer::timeout, context, caption);
    QObject::connect(ud.data(), &UD::downloadsFinished, context, caption);
}

QStringList countdownCaptions()
{
    QStringList captions;
    for (int left = UD::kCountdownTicks; left >= 1; --left)
        captions << QStringLiteral("更新完成，%1秒钟后自动关闭本窗口").arg(left);
    return captions;
}

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
    }
    void init()
    {
        m_server.clearRoutes();
        m_requestsBefore = m_server.requests().size();
    }

    // ---- the notes window ---------------------------------------------------

    void form1_showsPage_data()
    {
        using S = HttpServer;
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("label1");
        QTest::addColumn<QString>("label2"); // and for the failure rows Text1 too
        QTest::addColumn<QString>("log");

        const QString offer = QStringLiteral("单击确定来进行如下版本的更新:");
        const QString failed = QStringLiteral("在线升级失败");
        const QStringList log = {QStringLiteral("1.Fix A"), QStringLiteral("2.Add B")};
        const QString good = noticePage(kNewVersion, log);
        const QString twoLines = QStringLiteral("更新日志\n1.Fix A\n2.Add B");
        const auto row = [](const char *name, const QString &page, int status = 200,
                            int fault = S::NoFault) -> QTestData & {
            return QTest::newRow(name) << page << status << fault << true;
        };
        row("newer version", good) << offer << QStringLiteral("Ver:13.05.23") << twoLines;
        row("same version", noticePage(QStringLiteral("13.05.22"), log))
            << QStringLiteral("您的软件已经是最新版:") << QStringLiteral("Ver:13.05.22") << twoLines;
        row("older version offered too", noticePage(QStringLiteral("13.05.21"), log))
            << offer << QStringLiteral("Ver:13.05.21") << twoLines;
        row("colon after Ver", noticePage(QStringLiteral(":13.05.22"), log))
            << offer << QStringLiteral("Ver::13.05.2") << twoLines;
        row("tags and spaces cleaned",
            noticePage(kNewVersion,
                       {QStringLiteral("<span style=\"color: #ff0000;\"><strong>1.</strong>修&nbsp;A</span>"),
                        QStringLiteral("<span style=\"color: #000000;\">2.新增</span><br>B")}))
            << offer << QStringLiteral("Ver:13.05.23") << QStringLiteral("更新日志\n1.修A\n2.新增<br>B");
        row("last line runs into the file list",
            QStringLiteral(
                "Ver13.05.23<p>更新日志</p><p>1.Fix A</p><p>2.Add B更新文件及地址：<p>消息推送：关"))
            << offer << QStringLiteral("Ver:13.05.23") << QStringLiteral("更新日志\n1.Fix A\n2.Add");
        row("no line after the heading", QStringLiteral("Ver13.05.23 更新日志 none 更新文件及地址："))
            << failed << kNone << QString();
        row("no version marker", QStringLiteral("<p>更新日志</p><p>1.Fix A</p><p>更新文件及地址："))
            << failed << kNone << QString();
        row("markers out of order",
            QStringLiteral("Ver13.05.23<p>更新文件及地址：</p><p>更新日志</p><p>1.A</p>"))
            << failed << kNone << QString();
        row("page not found", good, 404) << failed << kNone << QString();
        row("page cut short", good, 200, S::CutBody) << failed << kNone << QString();
        row("page stalls", good, 200, S::Stall) << failed << kNone << QString();
        QTest::newRow("offline") << good << 200 << int(S::NoFault) << false << QStringLiteral("网络连接失败")
                                 << QStringLiteral("无法获取版本号")
                                 << QStringLiteral("\n\n无法获取更新内容");
    }

    void form1_showsPage()
    {
        QFETCH(QString, page);
        QFETCH(int, status);
        QFETCH(int, fault);
        QFETCH(bool, connected);
        QFETCH(QString, label1);
        QFETCH(QString, label2);
        QFETCH(QString, log);
        HttpServer::Response response;
        response.status = status;
        response.body = page.toUtf8();
        response.fault = HttpServer::Fault(fault);
        response.faultAt = response.body.size() / 2;
        m_server.route(QStringLiteral("/notice.html"), response);
        const bool failure = label2 == kNone;
        if (failure) {
            label2 = QStringLiteral("无法获取版本号");
            log = QStringLiteral("\n\n对不起，在线升级失败，您可以进入官网手动下载最新版本");
        }

        UpdaterFixture updater(m_server);
        updater.connectivity.connected = connected;
        Form1 form1(updater.services);
        QVERIFY(form1.load());
        auto *version = child<QLabel>(&form1, "Label2");
        QTRY_VERIFY_WITH_TIMEOUT(version->text() != QStringLiteral("正在获取版本信息"), 5000);
        QCOMPARE(child<QLabel>(&form1, "Label1")->text(), label1);
        QCOMPARE(version->text(), label2);
        QCOMPARE(child<QPlainTextEdit>(&form1, "Text1")->toPlainText(), log);
        QCOMPARE(child<QPushButton>(&form1, "Command1")->isEnabled(),
                 label1.startsWith(QStringLiteral("单击")));
        QCOMPARE(child<QLabel>(&form1, "Label3")->isVisible(), failure);
        QCOMPARE(hits(QStringLiteral("/notice.html")), connected ? 1 : 0);
        QVERIFY(form1.isVisible());
        QVERIFY(updater.prompts.shown().isEmpty());
    }

    void updateLog_linesJoinedByCrLf_noBreakAtTheEnd()
    {
        const QString page = noticePage(kNewVersion, {QStringLiteral("1.Fix A"), QStringLiteral("2.Add B")});
        QCOMPARE(Form1::updateLog(page).value_or(kNone), QStringLiteral("更新日志\r\n1.Fix A\r\n2.Add B"));
    }

    void form1_whileThePageIsOnItsWay_isShownAndAnswers()
    {
        HttpServer::Response silent;
        silent.fault = HttpServer::NeverAnswer;
        m_server.route(QStringLiteral("/notice.html"), silent);
        UpdaterFixture updater(m_server);
        Form1 form1(updater.services);
        QVERIFY(form1.load());
        QVERIFY(form1.isVisible());
        QVERIFY(WindowPresence::exists(kUpdaterCaption));
        QTRY_COMPARE_WITH_TIMEOUT(hits(QStringLiteral("/notice.html")), 1, 5000);
        QCOMPARE(child<QPlainTextEdit>(&form1, "Text1")->toPlainText(), QStringLiteral("正在获取更新信息\n"));
        QVERIFY(!child<QPushButton>(&form1, "Command1")->isEnabled());
        QTest::mouseClick(child<QPushButton>(&form1, "Command2"), Qt::LeftButton);
        QVERIFY(!form1.isVisible());
        QVERIFY(!WindowPresence::exists(kUpdaterCaption));
        // The page that never came changes nothing later.
        QTest::qWait(updater.services.idleTimeoutMs + 200);
        QCOMPARE(child<QLabel>(&form1, "Label2")->text(), QStringLiteral("正在获取版本信息"));
    }

    void form1_secondUpdater_isRefusedWithItsBox()
    {
        UpdaterFixture updater(m_server);
        QVERIFY(WindowPresence::claimSingleInstance(updater.services.instanceName));
        Form1 form1(updater.services);
        QVERIFY(!form1.load());
        QVERIFY(!form1.isVisible());
        QCOMPARE(updater.prompts.shown().size(), 1);
        QCOMPARE(updater.prompts.shown()[0].title, QStringLiteral("提示："));
        QCOMPARE(updater.prompts.shown()[0].text, QStringLiteral("更新程序已经在运行"));
        QVERIFY(requests().isEmpty());
    }

    void form1_link_opensTheWebsiteOnTheLeftButtonOnly()
    {
        m_server.route(QStringLiteral("/notice.html"), QByteArray("no markers"));
        UpdaterFixture updater(m_server);
        Form1 form1(updater.services);
        QVERIFY(form1.load());
        auto *label3 = child<QLabel>(&form1, "Label3");
        QTRY_VERIFY_WITH_TIMEOUT(label3->isVisible(), 5000);
        QTest::mousePress(label3, Qt::RightButton);
        QTest::mousePress(label3, Qt::MiddleButton);
        QVERIFY(updater.shell.websites.isEmpty());
        QTest::mousePress(label3, Qt::LeftButton);
        QCOMPARE(updater.shell.websites, QStringList{updater.services.noticeUrl});
        QVERIFY(form1.isVisible());
    }

    void form1_confirm_opensOneStripWhichUpdatesAndStartsThePlayer()
    {
        UpdaterFixture updater(m_server);
        updater.write(kProgram, "installed");
        serveUpdate({kProgram}, {QByteArray("new player")});
        Form1 form1(updater.services);
        QVERIFY(form1.load());
        auto *command1 = child<QPushButton>(&form1, "Command1");
        QTRY_VERIFY_WITH_TIMEOUT(command1->isEnabled(), 5000);
        QTest::mouseClick(command1, Qt::LeftButton);
        QVERIFY(!form1.isVisible());
        form1.Command1_Click(); // a late second click opens nothing more
        const QList<UD *> strips = openStrips();
        QCOMPARE(strips.size(), 1);
        QPointer<UD> ud = strips[0];
        QVERIFY(ud->isVisible());
        QCOMPARE(ud->windowTitle(), kUpdaterCaption);
        QVERIFY(WindowPresence::exists(kUpdaterCaption));
        QCOMPARE(child<QLabel>(ud, "Label1")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QTRY_COMPARE_WITH_TIMEOUT(updater.shell.programs.size(), 1, 10000);
        QVERIFY(!ud);
        QVERIFY(!updater.shell.updaterWindowAtStart);
        QCOMPARE(updater.read(kProgram), QByteArray("new player"));
        QVERIFY(updater.prompts.shown().isEmpty());
    }

    // ---- the file list and the sharing pages --------------------------------

    void entries_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("entries"); // text|name|share, one entry a line
        const QString a = QStringLiteral("http://s/a?x=1&y=2");
        QTest::newRow("two files") << noticePage(
                                          kNewVersion, {},
                                          {fileParagraph(QStringLiteral("1.TamselMP3Player.exe"), a),
                                           fileParagraph(QStringLiteral("2.KivuUpdate.exe"), "http://s/b")})
                                   << QStringLiteral(
                                          "1.TamselMP3Player.exe\"%1\"|TamselMP3Player.exe|%1\n"
                                          "2.KivuUpdate.exe\"http://s/b\"|KivuUpdate.exe|http://s/b")
                                          .arg(a);
        QTest::newRow("prefix 3. and a library")
            << noticePage(kNewVersion, {}, {fileParagraph(QStringLiteral("3.skin.dll"), "http://s/c")})
            << QStringLiteral("3.skin.dll\"http://s/c\"|skin.dll|http://s/c");
        QTest::newRow("parenthesis in a name is lost")
            << noticePage(kNewVersion, {}, {fileParagraph(QStringLiteral("1.a(1).txt"), "http://s/d")})
            << QStringLiteral("1.a1).txt\"http://s/d\"|a1).txt|http://s/d");
        QTest::newRow("last paragraph runs into the push marker")
            << QStringLiteral("更新文件及地址：<p>1.a\"http://s/a\" x<p>2.b\"http://s/b\" y消息推送：关")
            << QStringLiteral("1.a\"http://s/a\"|a|http://s/a");
        QTest::newRow("no entry") << noticePage(kNewVersion, {}) << kNone;
        QTest::newRow("one quote only")
            << QStringLiteral("更新文件及地址：<p>1.a\"http://s/a<p>消息推送：") << kNone;
        QTest::newRow("no push marker") << QStringLiteral("更新文件及地址：<p>1.a\"http://s/a\"<p>") << kNone;
        QTest::newRow("quote inside the prefix")
            << QStringLiteral("更新文件及地址：<p>1\"http://s/a\"<p>消息推送：") << kNone;
    }

    void entries()
    {
        QFETCH(QString, page);
        QFETCH(QString, entries);
        QStringList found;
        for (const UpdateFiles::Entry &entry :
             UpdateFiles::entries(page).value_or(QList<UpdateFiles::Entry>()))
            found << entry.text + QLatin1Char('|') + entry.name + QLatin1Char('|') + entry.shareAddress;
        QCOMPARE(found.isEmpty() ? kNone : found.join(QLatin1Char('\n')), entries);
    }

    void downloadAddress_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("address");
        QTest::newRow("entities made plain") << QString::fromUtf8(sharePage("http://f/get?a=1&b=2&c=3"))
                                             << QStringLiteral("http://f/get?a=1&b=2&c=3");
        QTest::newRow("blanks trimmed")
            << QStringLiteral("保存至网盘<a href=  \"  http://f/y  \"   id=\"x\">")
            << QStringLiteral("http://f/y");
        QTest::newRow("href before the save link is not taken")
            << QStringLiteral("<a href=\"http://ad/\" id=\"ad\">保存至网盘<a href=\"http://f/z\" id=\"s\">")
            << QStringLiteral("http://f/z");
        QTest::newRow("no save link") << QStringLiteral("<a href=\"http://f/x\" id=\"s\">") << kNone;
        QTest::newRow("no href after it")
            << QStringLiteral("<a href=\"http://f/x\" id=\"s\">保存至网盘") << kNone;
        QTest::newRow("no id after it") << QStringLiteral("保存至网盘<a href=\"http://f/x\">") << kNone;
    }

    void downloadAddress()
    {
        QFETCH(QString, page);
        QFETCH(QString, address);
        QCOMPARE(UpdateFiles::downloadAddress(page).value_or(kNone), address);
    }

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("saved"); // kNone: refused
        QTest::newRow("program") << kProgram << kProgram;
        QTest::newRow("own file") << kUpdater << kNewUpdater;
        QTest::newRow("library") << QStringLiteral("skin.dll") << QStringLiteral("skin.dll");
        QTest::newRow("255 bytes") << QString(255, QLatin1Char('a')) << QString(255, QLatin1Char('a'));
        QTest::newRow("85 chinese = 255 bytes") << QString(85, QChar(0x6587)) << QString(85, QChar(0x6587));
        QTest::newRow("256 bytes") << QString(256, QLatin1Char('a')) << kNone;
        QTest::newRow("86 chinese = 258 bytes") << QString(86, QChar(0x6587)) << kNone;
        const QStringList unsafe = {QString(),
                                    QStringLiteral("."),
                                    QStringLiteral(".."),
                                    QStringLiteral("../evil"),
                                    QStringLiteral("/etc/passwd"),
                                    QStringLiteral("sub/x"),
                                    QStringLiteral("..\\x"),
                                    QStringLiteral("a\nb"),
                                    QStringLiteral("a\x7f"),
                                    QStringLiteral("a") + QChar(0),
                                    QStringLiteral("a") + QChar(0x85)};
        for (const QString &name : unsafe)
            QTest::addRow("unsafe %s", qPrintable(name.toUtf8().toPercentEncoding())) << name << kNone;
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(QString, saved);
        QCOMPARE(UpdateFiles::isSafeName(name), saved != kNone);
        if (saved != kNone)
            QCOMPARE(UpdateFiles::savedName(name), saved);
    }

    // ---- the download strip -------------------------------------------------

    void ud_update_data()
    {
        using S = HttpServer;
        QTest::addColumn<int>("faultyFile");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("fault");
        QTest::newRow("every file arrives") << -1 << 200 << int(S::NoFault);
        QTest::newRow("no length, ends at close") << 1 << 200 << int(S::NoContentLength);
        QTest::newRow("own file cut short") << 0 << 200 << int(S::CutBody);
        QTest::newRow("second cut short") << 1 << 200 << int(S::CutBody);
        QTest::newRow("last cut short") << 2 << 200 << int(S::CutBody);
        QTest::newRow("stalls") << 1 << 200 << int(S::Stall);
        QTest::newRow("never answers") << 2 << 200 << int(S::NeverAnswer);
        QTest::newRow("closes at once") << 1 << 200 << int(S::CloseAtOnce);
        QTest::newRow("longer length declared") << 1 << 200 << int(S::WrongLength);
        QTest::newRow("not found") << 2 << 404 << int(S::NoFault);
        QTest::newRow("server error") << 0 << 500 << int(S::NoFault);
    }

    // Three files, the updater's own first; each replaces an installed one.
    void ud_update()
    {
        QFETCH(int, faultyFile);
        QFETCH(int, status);
        QFETCH(int, fault);
        const bool ok =
            status == 200 && (fault == HttpServer::NoFault || fault == HttpServer::NoContentLength);
        UpdaterFixture updater(m_server);
        const QStringList names = {kUpdater, kProgram, QStringLiteral("skin.dll")};
        QList<QByteArray> bodies;
        for (int i = 0; i < names.size(); ++i) {
            bodies << contentOf(names[i], 20000 + i * 7000);
            updater.write(names[i], "installed " + names[i].toUtf8(), 0755);
        }
        serveUpdate(names, bodies);
        if (faultyFile >= 0) {
            HttpServer::Response response;
            response.body = bodies[faultyFile];
            response.status = status;
            response.fault = HttpServer::Fault(fault);
            response.faultAt = response.body.size() / 2;
            response.declaredLength = response.body.size() + 100;
            m_server.route(filePath(faultyFile), response);
        }
        const QStringList before = updater.files();
        updater.prompts.answerNext(Prompts::AnswerYes);

        QPointer<UD> ud = updater.makeStrip();
        QStringList captions;
        recordCaptions(ud, &captions, this);
        ud->load();
        QCOMPARE(child<QLabel>(ud, "Label1")->text(), QStringLiteral("正在准备更新..."));
        QVERIFY(WindowPresence::exists(kUpdaterCaption));
        QTRY_COMPARE_WITH_TIMEOUT(updater.outcome, int(ok), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
        QVERIFY(!WindowPresence::exists(kUpdaterCaption));

        if (ok) {
            QStringList expected = {QStringLiteral("正在下载 ") + kNewUpdater,
                                    QStringLiteral("正在下载 ") + kProgram,
                                    QStringLiteral("正在下载 skin.dll")};
            QCOMPARE(captions, expected + countdownCaptions());
            QCOMPARE(updater.read(kNewUpdater), bodies[0]);
            QCOMPARE(updater.read(kUpdater), "installed " + kUpdater.toUtf8());
            QCOMPARE(updater.read(kProgram), bodies[1]);
            QCOMPARE(updater.read(QStringLiteral("skin.dll")), bodies[2]);
            QCOMPARE(updater.files().size(), before.size() + 1);
            QCOMPARE(updater.shell.programs, QStringList{updater.dir.path() + QLatin1Char('/') + kProgram});
            QVERIFY(!updater.shell.updaterWindowAtStart);
            QVERIFY(updater.prompts.shown().isEmpty());
        } else {
            QCOMPARE(updater.prompts.shown().size(), 1);
            QCOMPARE(updater.prompts.shown()[0].title, QStringLiteral("提示"));
            QCOMPARE(updater.prompts.shown()[0].text, kFailureText);
            QCOMPARE(updater.prompts.shown()[0].buttons, Prompts::YesNo);
            QCOMPARE(updater.shell.websites, QStringList{updater.services.noticeUrl});
            // Nothing changed: no new file, no temporary left, every installed file as it was.
            QCOMPARE(updater.files(), before);
            for (const QString &name : names)
                QCOMPARE(updater.read(name), "installed " + name.toUtf8());
            QVERIFY(updater.shell.programs.isEmpty());
            for (int i = faultyFile + 1; i < names.size(); ++i)
                QCOMPARE(hits(filePath(i)), 0);
        }
    }

    void ud_loadFails_beforeAnyFileIsFetched_data()
    {
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QByteArray>("share");
        QTest::addColumn<int>("shareHits");
        const QString share = m_server.url(QStringLiteral("/share"));
        const QByteArray goodShare = sharePage(m_server.url(QStringLiteral("/file")));
        const auto page = [&](const QString &first, const QString &second = QString()) {
            QStringList files = {fileParagraph(first, share)};
            if (!second.isEmpty())
                files << fileParagraph(second, share);
            return noticePage(kNewVersion, {QStringLiteral("1.Fix")}, files);
        };
        QTest::newRow("no file list") << QStringLiteral("Ver13.05.23 更新日志") << goodShare << 0;
        QTest::newRow("no entry") << noticePage(kNewVersion, {}) << goodShare << 0;
        QTest::newRow("entry without its address")
            << noticePage(kNewVersion, {}, {QStringLiteral("<p>1.skin.dll</p>")}) << goodShare << 0;
        QTest::newRow("parent folder") << page(QStringLiteral("1.../evil")) << goodShare << 0;
        QTest::newRow("absolute path") << page(QStringLiteral("1./tmp/evil")) << goodShare << 0;
        QTest::newRow("unsafe name after a good one")
            << page(QStringLiteral("1.skin.dll"), QStringLiteral("2.a\tb")) << goodShare << 0;
        QTest::newRow("sharing page without the save link")
            << page(QStringLiteral("1.skin.dll")) << QByteArray("<a href=\"x\" id=\"y\">") << 1;
        QTest::newRow("save link that is no web address")
            << page(QStringLiteral("1.skin.dll"))
            << QByteArray("保存至网盘<a href=\"file:///etc/passwd\" id=\"y\">") << 1;
        QTest::newRow("sharing page missing")
            << noticePage(kNewVersion, {},
                          {fileParagraph("1.skin.dll", m_server.url(QStringLiteral("/gone")))})
            << goodShare << 0;
    }

    void ud_loadFails_beforeAnyFileIsFetched()
    {
        QFETCH(QString, notice);
        QFETCH(QByteArray, share);
        QFETCH(int, shareHits);
        m_server.route(QStringLiteral("/notice.html"), notice.toUtf8());
        m_server.route(QStringLiteral("/share"), share);
        m_server.route(QStringLiteral("/file"), QByteArray("payload"));
        UpdaterFixture updater(m_server);
        updater.write(QStringLiteral("skin.dll"), "installed");
        updater.prompts.answerNext(Prompts::AnswerNo);
        updater.makeStrip()->load();
        QTRY_COMPARE_WITH_TIMEOUT(updater.outcome, 0, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!updater.ud, 5000);
        QCOMPARE(updater.prompts.shown().size(), 1);
        QCOMPARE(updater.prompts.shown()[0].text, kFailureText);
        QVERIFY(updater.shell.websites.isEmpty()); // answered No
        QCOMPARE(hits(QStringLiteral("/share")), shareHits);
        QCOMPARE(hits(QStringLiteral("/file")), 0);
        QCOMPARE(updater.files(), QStringList{QStringLiteral("skin.dll")});
        QCOMPARE(updater.read(QStringLiteral("skin.dll")), QByteArray("installed"));
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/evil")));
    }

    void ud_refuses_data()
    {
        QTest::addColumn<bool>("anotherUpdater");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("another updater")
            << true << QStringLiteral("提示：") << QStringLiteral("更新程序已经在运行，请勿重复运行更新程序");
        QTest::newRow("player window open") << false << QStringLiteral("TamselMP3Player 更新提示:")
                                            << QStringLiteral("发现原程序正在运行,请关闭原程序后再点击更新.");
    }

    void ud_refuses()
    {
        QFETCH(bool, anotherUpdater);
        QFETCH(QString, title);
        QFETCH(QString, text);
        m_server.route(QStringLiteral("/notice.html"), QByteArray("whatever"));
        UpdaterFixture updater(m_server);
        std::unique_ptr<WindowPresence::Registration> player;
        if (anotherUpdater)
            QVERIFY(WindowPresence::claimSingleInstance(updater.services.instanceName));
        else
            player = WindowPresence::announce(QStringLiteral("TamselMP3Player"));
        updater.makeStrip()->load();
        QCOMPARE(updater.prompts.shown().size(), 1);
        QCOMPARE(updater.prompts.shown()[0].title, title);
        QCOMPARE(updater.prompts.shown()[0].text, text);
        QCOMPARE(updater.prompts.shown()[0].buttons, Prompts::Ok);
        QTRY_VERIFY_WITH_TIMEOUT(!updater.ud, 5000);
        QTest::qWait(50);
        QVERIFY(requests().isEmpty());
        QVERIFY(updater.files().isEmpty());
        QVERIFY(updater.shell.programs.isEmpty());
    }

    void ud_permissions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("installedMode"); // -1: not installed
        QTest::addColumn<QString>("saved");
        QTest::addColumn<int>("mode");
        QTest::newRow("replaced file keeps 0600")
            << QStringLiteral("a.bin") << 0600 << QStringLiteral("a.bin") << 0600;
        QTest::newRow("replaced file keeps 0750")
            << QStringLiteral("a.sh") << 0750 << QStringLiteral("a.sh") << 0750;
        QTest::newRow("replaced program keeps 0700") << kProgram << 0700 << kProgram << 0700;
        QTest::newRow("new file") << QStringLiteral("new.txt") << -1 << QStringLiteral("new.txt") << 0644;
        QTest::newRow("new player program") << kProgram << -1 << kProgram << 0755;
        QTest::newRow("new updater program") << kUpdater << -1 << kNewUpdater << 0755;
        QTest::newRow("own file keeps the updater's bits") << kUpdater << 0750 << kNewUpdater << 0750;
    }

    void ud_permissions()
    {
        QFETCH(QString, name);
        QFETCH(int, installedMode);
        QFETCH(QString, saved);
        QFETCH(int, mode);
        UpdaterFixture updater(m_server);
        if (installedMode >= 0)
            updater.write(name, "installed", installedMode);
        serveUpdate({name}, {QByteArray("fresh contents")});
        updater.makeStrip()->load();
        QTRY_COMPARE_WITH_TIMEOUT(updater.outcome, 1, 10000);
        QCOMPARE(updater.read(saved), QByteArray("fresh contents"));
        QCOMPARE(QString::number(updater.mode(saved), 8), QString::number(mode, 8));
        QTRY_VERIFY_WITH_TIMEOUT(!updater.ud, 5000);
    }

    void ud_contentLength_data()
    {
        QTest::addColumn<QByteArray>("header"); // "-": none
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("barMaximum"); // 0: activity without a total
        QTest::newRow("1234 bytes") << QByteArray("1234") << 1234 << 1234;
        QTest::newRow("missing") << QByteArray("-") << 5000 << 0;
        QTest::newRow("zero, empty body") << QByteArray("0") << 0 << 0;
        QTest::newRow("not a number") << QByteArray("many") << 5000 << 0;
    }

    void ud_contentLength()
    {
        QFETCH(QByteArray, header);
        QFETCH(int, size);
        QFETCH(int, barMaximum);
        UpdaterFixture updater(m_server);
        updater.write(QStringLiteral("data.bin"), "installed");
        serveUpdate({QStringLiteral("data.bin")}, {QByteArray()});
        HttpServer::Response response;
        response.body = contentOf(QStringLiteral("d"), size);
        response.fault = HttpServer::NoContentLength;
        if (header != "-")
            response.headers.append({"Content-Length", header});
        m_server.route(filePath(0), response);

        QPointer<UD> ud = updater.makeStrip();
        auto *bar = child<QProgressBar>(ud, "ProgressBar1");
        int maximumWhileReceiving = -1;
        connect(child<Transfer>(ud, "Inet1"), &Transfer::stateChanged, this, [&](int state) {
            if (state == Transfer::ReceivingResponse)
                maximumWhileReceiving = bar->maximum();
        });
        ud->load();
        QTRY_COMPARE_WITH_TIMEOUT(updater.outcome, 1, 10000);
        QCOMPARE(maximumWhileReceiving, barMaximum);
        if (barMaximum > 0)
            QCOMPARE(bar->value(), barMaximum);
        QCOMPARE(updater.read(QStringLiteral("data.bin")), response.body);
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
    }

    void ud_largeFile_streamsInBlocks_barAtMostEvery50ms()
    {
        UpdaterFixture updater(m_server);
        QTemporaryFile big;
        QVERIFY(big.open());
        for (int i = 0; i < 24; ++i)
            big.write(contentOf(QStringLiteral("big"), 1 << 20));
        big.close();
        serveUpdate({QStringLiteral("big.bin")}, {QByteArray()});
        HttpServer::Response response;
        response.filePath = big.fileName();
        m_server.route(filePath(0), response);

        QPointer<UD> ud = updater.makeStrip();
        auto *bar = child<QProgressBar>(ud, "ProgressBar1");
        QList<qint64> updates;
        QElapsedTimer clock;
        QStringList folderWhileReceiving = {kNone};
        connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
            if (value > 0 && updates.isEmpty())
                folderWhileReceiving = updater.files();
            if (value > 0)
                updates << clock.elapsed();
        });
        clock.start();
        ud->load();
        QTRY_COMPARE_WITH_TIMEOUT(updater.outcome, 1, 30000);
        QVERIFY(!updates.isEmpty());
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(QFileInfo(updater.path(QStringLiteral("big.bin"))).size(), qint64(24) << 20);
        QCOMPARE(folderWhileReceiving, QStringList()); // not in place before it is complete
        // At most one step per 50 ms, the last one at the end of the file aside.
        for (qsizetype i = 1; i + 1 < updates.size(); ++i)
            QVERIFY2(updates[i] - updates[i - 1] >= 45,
                     qPrintable(QString::number(updates[i] - updates[i - 1])));
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
    }

    void ud_writeFails_nothingReplaced()
    {
        UpdaterFixture updater(m_server);
        updater.write(QStringLiteral("a.bin"), "installed a");
        updater.write(QStringLiteral("b.bin"), "installed b");
        serveUpdate({QStringLiteral("a.bin"), QStringLiteral("b.bin")},
                    {contentOf(QStringLiteral("a"), 1000), contentOf(QStringLiteral("b"), 400000)});
        const QStringList before = updater.files();
        updater.prompts.answerNext(Prompts::AnswerNo);
        // A disk that fills up: no file of this process may grow past 64 KB.
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        updater.makeStrip()->load();
        QTest::qWaitFor([&] { return updater.outcome >= 0; }, 10000);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(updater.outcome, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!updater.ud, 5000);
        QCOMPARE(updater.prompts.shown().size(), 1);
        QCOMPARE(updater.files(), before);
        QCOMPARE(updater.read(QStringLiteral("a.bin")), QByteArray("installed a"));
        QCOMPARE(updater.read(QStringLiteral("b.bin")), QByteArray("installed b"));
    }

    void ud_renameFails_filesAlreadyReplacedComeBack()
    {
        UpdaterFixture updater(m_server);
        updater.write(QStringLiteral("a.bin"), "installed a", 0640);
        // A folder stands where the last file should go.
        QVERIFY(QDir(updater.dir.path()).mkdir(QStringLiteral("c.bin")));
        serveUpdate({QStringLiteral("a.bin"), QStringLiteral("new.bin"), QStringLiteral("c.bin")},
                    {QByteArray("new a"), QByteArray("new"), QByteArray("new c")});
        updater.prompts.answerNext(Prompts::AnswerNo);
        updater.makeStrip()->load();
        QTRY_COMPARE_WITH_TIMEOUT(updater.outcome, 0, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!updater.ud, 5000);
        QCOMPARE(updater.files(), QStringList{QStringLiteral("a.bin")});
        QCOMPARE(updater.read(QStringLiteral("a.bin")), QByteArray("installed a"));
        QCOMPARE(updater.mode(QStringLiteral("a.bin")), 0640);
        QVERIFY(QFileInfo(updater.path(QStringLiteral("c.bin"))).isDir());
    }

    void stagedInstall_shortOrUnfinishedFile_placesNothing()
    {
        QTemporaryDir dir;
        QFile installed(dir.filePath(QStringLiteral("a.bin")));
        QVERIFY(installed.open(QIODevice::WriteOnly) && installed.write("old") == 3);
        installed.close();
        {
            StagedInstall install(dir.path());
            QVERIFY(install.begin(QStringLiteral("a.bin"), QStringLiteral("a.bin")));
            QVERIFY(install.write("new contents"));
            QVERIFY(!install.finish(13)); // one byte short of its length
            QVERIFY(install.begin(QStringLiteral("b.bin"), QStringLiteral("b.bin")));
            QVERIFY(install.write("b"));
            QVERIFY(!install.commit()); // the short one never finished
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("a.bin")});
        QVERIFY(installed.open(QIODevice::ReadOnly));
        QCOMPARE(installed.readAll(), QByteArray("old"));
    }

    // ---- the whole update ---------------------------------------------------

    // The player offers the new version and ends; the updater replaces the
    // files from the site, counts down and starts the player again, which
    // then puts the new updater in place of the old one.
    void wholeUpdate_fromThePlayersOfferToTheNewUpdater()
    {
        // 1. An installed program folder, and the site with three new files.
        UpdaterFixture updater(m_server);
        const QString folder = updater.dir.path();
        // Not the 0755 a new program gets: the bits must be kept all the way.
        updater.write(kProgram, "old player", 0750);
        updater.write(kUpdater, "old updater", 0750);
        const QString skin = QStringLiteral("skin.dll");
        const QList<QByteArray> bodies = {contentOf(kProgram, 30000), contentOf(kUpdater, 20000),
                                          contentOf(skin, 5000)};
        serveUpdate({kProgram, kUpdater, skin}, bodies);

        // 2. The player's check offers it; OK starts the updater and ends the player.
        auto player = std::make_unique<PlayerFixture>(folder);
        player->useNoticeSite(updater.services.noticeUrl, true);
        QVERIFY(player->load());
        player->prompts.answerNext(Prompts::AnswerOk);
        player->click("Image2");
        QTRY_COMPARE_WITH_TIMEOUT(player->quits, 1, 10000);
        QCOMPARE(player->prompts.shown().size(), 1);
        QCOMPARE(player->prompts.shown()[0].text, QStringLiteral("发现新版本 Ver：13.05.23 是否需要更新？"));
        QCOMPARE(player->shell.programs, QStringList{folder + QLatin1Char('/') + kUpdater});
        QVERIFY(!player->window->isVisible());
        // Its process ends there, and every window record with it.
        player.reset();
        QVERIFY(!WindowPresence::exists(QStringLiteral("TamselMP3Player")));

        // 3. The updater: the notes, 确定, the downloads, the countdown, the player started.
        QStringList installed = updater.files() << kNewUpdater << skin;
        installed.sort();
        Form1 form1(updater.services);
        QVERIFY(form1.load());
        auto *command1 = child<QPushButton>(&form1, "Command1");
        QTRY_VERIFY_WITH_TIMEOUT(command1->isEnabled(), 5000);
        QCOMPARE(child<QLabel>(&form1, "Label2")->text(), QStringLiteral("Ver:13.05.23"));
        QCOMPARE(child<QPlainTextEdit>(&form1, "Text1")->toPlainText(), QStringLiteral("更新日志\n1.Fix"));
        QTest::mouseClick(command1, Qt::LeftButton);
        const QList<UD *> strips = openStrips();
        QCOMPARE(strips.size(), 1);
        const QPointer<UD> ud = strips[0];
        QStringList captions;
        recordCaptions(ud, &captions, this);
        QTRY_COMPARE_WITH_TIMEOUT(updater.shell.programs.size(), 1, 15000);
        QCOMPARE(updater.shell.programs, QStringList{folder + QLatin1Char('/') + kProgram});
        QVERIFY(!updater.shell.updaterWindowAtStart); // the strip had gone
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
        const QStringList downloads = {QStringLiteral("正在下载 ") + kProgram,
                                       QStringLiteral("正在下载 ") + kNewUpdater,
                                       QStringLiteral("正在下载 ") + skin};
        QCOMPARE(captions, downloads + countdownCaptions());
        QVERIFY(updater.prompts.shown().isEmpty());
        // No temporary left, nothing else touched.
        QStringList files = updater.files();
        files.sort();
        QCOMPARE(files, installed);
        QCOMPARE(updater.read(kProgram), bodies[0]);
        QCOMPARE(updater.read(kNewUpdater), bodies[1]);
        QCOMPARE(updater.read(kUpdater), QByteArray("old updater"));
        QCOMPARE(updater.read(skin), bodies[2]);
        QCOMPARE(QString::number(updater.mode(kProgram), 8), QStringLiteral("750"));
        QCOMPARE(QString::number(updater.mode(kNewUpdater), 8), QStringLiteral("750"));
        QCOMPARE(QString::number(updater.mode(skin), 8), QStringLiteral("644"));

        // 4. The player, started again, swaps the new updater in.
        PlayerFixture restarted(folder);
        restarted.useNoticeSite(updater.services.noticeUrl, true);
        QVERIFY(restarted.load());
        QTRY_COMPARE_WITH_TIMEOUT(updater.read(kUpdater), bodies[1], 5000);
        QVERIFY(!QFile::exists(updater.path(kNewUpdater)));
        QCOMPARE(QString::number(updater.mode(kUpdater), 8), QStringLiteral("750"));
        QCOMPARE(updater.read(kProgram), bodies[0]);
        QVERIFY(restarted.window->isVisible());
        QCOMPARE(restarted.quits, 0);
        QVERIFY(restarted.prompts.shown().isEmpty());
    }

private:
    // Serves a notice page listing the files, a sharing page for each at
    // /share/<i>, and the files at filePath(i).
    void serveUpdate(const QStringList &names, const QList<QByteArray> &bodies)
    {
        QStringList paragraphs;
        for (int i = 0; i < names.size(); ++i) {
            const QString share = QStringLiteral("/share/%1").arg(i);
            paragraphs << fileParagraph(QStringLiteral("%1.%2").arg(i + 1).arg(names[i]),
                                        m_server.url(share));
            m_server.route(share, sharePage(m_server.url(filePath(i))));
            HttpServer::Response response;
            response.body = bodies[i];
            response.contentType = "application/octet-stream";
            m_server.route(filePath(i), response);
        }
        m_server.route(QStringLiteral("/notice.html"),
                       noticePage(kNewVersion, {QStringLiteral("1.Fix")}, paragraphs).toUtf8());
    }

    // Served only when asked for with plain ampersands.
    static QString filePath(int i) { return QStringLiteral("/files/%1?v=2&n=%1").arg(i); }

    // Requests of the running test.
    QStringList requests() const { return m_server.requests().mid(m_requestsBefore); }
    int hits(const QString &path) const { return int(requests().count(path)); }

    QTemporaryDir m_runtime;
    HttpServer m_server;
    qsizetype m_requestsBefore = 0;
};

QTEST_MAIN(UpdaterTest)
#include "test_updater.moc"
