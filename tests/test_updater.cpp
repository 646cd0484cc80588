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
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>

namespace {

const QString kUpdaterCaption = QStringLiteral("TamselMP3Player 更新程序");
const QString kLocalVersion = QStringLiteral("13.05.22");
const QString kRed = QStringLiteral("<span style=\"color: #ff0000;\">");
const QString kFailureText = QStringLiteral("更新失败，是否去官网下载最新版本");
const QString kProgram = AppInfo::executableName(QStringLiteral("TamselMP3Player"));
const QString kUpdater = AppInfo::executableName(QStringLiteral("KivuUpdate"));
const QString kNewUpdater = AppInfo::executableName(QStringLiteral("NewKivuUpdate"));

// A file paragraph as the makers write it: prefix and name, then the link.
QString fileParagraph(const QString &prefixedName, const QString &shareAddress)
{
    QString address = shareAddress;
    address.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    return QStringLiteral("<p>%1(<a href=\"%2\" target=\"_blank\">点击下载</a>)</p>")
        .arg(prefixedName, address);
}

// A notice page laid out as the makers write it: paragraphs back to back.
QString noticePage(const QString &version, const QStringList &log, const QStringList &fileParagraphs)
{
    QString page = QStringLiteral("<html><head><title>TamselMP3Player 公告</title></head><body>"
                                  "<p><strong>Ver%1</strong></p><p><strong>%2更新日志</span></strong></p>")
                       .arg(version, kRed);
    for (const QString &line : log)
        page += QStringLiteral("<p>") + line + QStringLiteral("</p>");
    page += QStringLiteral("<p><strong>更新文件及地址：</strong></p>") + fileParagraphs.join(QString());
    page += QStringLiteral("<p>消息推送：关</p><p>欢迎使用</p><p>最新完整版下载</p></body></html>");
    return page;
}

// A file-sharing page whose save link leads to the file.
QByteArray sharePage(const QString &fileAddress)
{
    QString address = fileAddress;
    address.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    return QStringLiteral("<html><body><div class=\"name\">update</div><span>保存至网盘</span>"
                          "<a class=\"btn\" href=\"%1\" id=\"save\">下载</a></body></html>")
        .arg(address)
        .toUtf8();
}

QByteArray contentOf(const QString &name, int size = 3000)
{
    QByteArray bytes;
    bytes.reserve(size);
    const QByteArray seed = name.toUtf8() + " new build ";
    while (bytes.size() < size)
        bytes += seed;
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
        services.localVersion = kLocalVersion;
        // Each fixture is an updater of its own for the single-instance test.
        services.instanceName =
            QStringLiteral("KivuUpdate-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(++instances);
        services.countdownIntervalMs = 20;
        services.idleTimeoutMs = 700;
    }

    QString path(const QString &name) const { return dir.filePath(name); }
    QByteArray read(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void write(const QString &name, const QByteArray &bytes, int mode = 0644) const
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        std::filesystem::permissions(QFile::encodeName(path(name)).toStdString(),
                                     std::filesystem::perms(mode));
    }
    int mode(const QString &name) const
    {
        return int(std::filesystem::status(QFile::encodeName(path(name)).toStdString()).permissions() &
                   std::filesystem::perms::mask);
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
};

template <typename T> T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

} // namespace

class UpdaterTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_server.listen()); }
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
        QTest::addColumn<QString>("label2");
        QTest::addColumn<QString>("log");
        QTest::addColumn<bool>("canUpdate");
        QTest::addColumn<bool>("linkShown");

        const QString offer = QStringLiteral("单击确定来进行如下版本的更新:");
        const QString upToDate = QStringLiteral("您的软件已经是最新版:");
        const QString failed = QStringLiteral("在线升级失败");
        const QString noVersion = QStringLiteral("无法获取版本号");
        const QString failedLog = QStringLiteral("\n\n对不起，在线升级失败，您可以进入官网手动下载最新版本");
        const QStringList log = {QStringLiteral("1.Fix A"), QStringLiteral("2.Add B")};
        const QString twoLines = QStringLiteral("更新日志\n1.Fix A\n2.Add B");

        QTest::newRow("newer version")
            << noticePage(QStringLiteral("13.05.23"), log, {}) << 200 << int(S::NoFault) << true << offer
            << QStringLiteral("Ver:13.05.23") << twoLines << true << false;
        QTest::newRow("same version")
            << noticePage(kLocalVersion, log, {}) << 200 << int(S::NoFault) << true << upToDate
            << QStringLiteral("Ver:13.05.22") << twoLines << false << false;
        QTest::newRow("older version offered too")
            << noticePage(QStringLiteral("13.05.21"), log, {}) << 200 << int(S::NoFault) << true << offer
            << QStringLiteral("Ver:13.05.21") << twoLines << true << false;
        QTest::newRow("colon after Ver")
            << noticePage(QStringLiteral(":13.05.22"), log, {}) << 200 << int(S::NoFault) << true << offer
            << QStringLiteral("Ver::13.05.2") << twoLines << true << false;
        QTest::newRow("tags and spaces cleaned")
            << noticePage(QStringLiteral("13.05.23"),
                          {kRed + QStringLiteral("<strong>1.</strong>修复&nbsp;A</span>"),
                           QStringLiteral("<span style=\"color: #000000;\">2.新增</span><br>B")},
                          {})
            << 200 << int(S::NoFault) << true << offer << QStringLiteral("Ver:13.05.23")
            << QStringLiteral("更新日志\n1.修复A\n2.新增<br>B") << true << false;
        QTest::newRow("last line runs into the file list")
            << QStringLiteral(
                   "Ver13.05.23<p>更新日志</p><p>1.Fix A</p><p>2.Add B更新文件及地址：<p>消息推送：关")
            << 200 << int(S::NoFault) << true << offer << QStringLiteral("Ver:13.05.23")
            << QStringLiteral("更新日志\n1.Fix A\n2.Add") << true << false;
        QTest::newRow("no line after the heading")
            << QStringLiteral("Ver13.05.23 更新日志 none 更新文件及地址：") << 200 << int(S::NoFault) << true
            << failed << noVersion << failedLog << false << true;
        QTest::newRow("no version marker")
            << QStringLiteral("<p>更新日志</p><p>1.Fix A</p><p>更新文件及地址：") << 200 << int(S::NoFault)
            << true << failed << noVersion << failedLog << false << true;
        QTest::newRow("markers out of order")
            << QStringLiteral("Ver13.05.23<p>更新文件及地址：</p><p>更新日志</p><p>1.Fix A</p>") << 200
            << int(S::NoFault) << true << failed << noVersion << failedLog << false << true;
        QTest::newRow("page not found")
            << noticePage(QStringLiteral("13.05.23"), log, {}) << 404 << int(S::NoFault) << true << failed
            << noVersion << failedLog << false << true;
        QTest::newRow("page cut short")
            << noticePage(QStringLiteral("13.05.23"), log, {}) << 200 << int(S::CutBody) << true << failed
            << noVersion << failedLog << false << true;
        QTest::newRow("page stalls") << noticePage(QStringLiteral("13.05.23"), log, {}) << 200
                                     << int(S::Stall) << true << failed << noVersion << failedLog << false
                                     << true;
        QTest::newRow("offline") << noticePage(QStringLiteral("13.05.23"), log, {}) << 200 << int(S::NoFault)
                                 << false << QStringLiteral("网络连接失败") << noVersion
                                 << QStringLiteral("\n\n无法获取更新内容") << false << false;
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
        QFETCH(bool, canUpdate);
        QFETCH(bool, linkShown);
        HttpServer::Response response;
        response.status = status;
        response.body = page.toUtf8();
        response.fault = HttpServer::Fault(fault);
        response.faultAt = response.body.size() / 2;
        m_server.route(QStringLiteral("/notice.html"), response);

        UpdaterFixture updater(m_server);
        updater.connectivity.connected = connected;
        Form1 form1(updater.services);
        QVERIFY(form1.load());
        QVERIFY(form1.isVisible());
        auto *version = child<QLabel>(&form1, "Label2");
        QTRY_VERIFY_WITH_TIMEOUT(version->text() != QStringLiteral("正在获取版本信息"), 5000);
        QCOMPARE(child<QLabel>(&form1, "Label1")->text(), label1);
        QCOMPARE(version->text(), label2);
        QCOMPARE(child<QPlainTextEdit>(&form1, "Text1")->toPlainText(), log);
        QCOMPARE(child<QPushButton>(&form1, "Command1")->isEnabled(), canUpdate);
        QCOMPARE(child<QLabel>(&form1, "Label3")->isVisible(), linkShown);
        QCOMPARE(hits(QStringLiteral("/notice.html")), connected ? 1 : 0);
        QVERIFY(form1.isVisible());
        QVERIFY(updater.prompts.shown().isEmpty());
    }

    void updateLog_linesJoinedByCrLf_noBreakAtTheEnd()
    {
        const QString page = noticePage(QStringLiteral("13.05.23"),
                                        {QStringLiteral("1.Fix A"), QStringLiteral("2.Add B")}, {});
        QCOMPARE(Form1::updateLog(page),
                 std::optional<QString>(QStringLiteral("更新日志\r\n1.Fix A\r\n2.Add B")));
        QCOMPARE(Form1::updateLog(QStringLiteral("更新日志更新文件及地址")), std::nullopt);
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
        QCOMPARE(child<QLabel>(&form1, "Label2")->text(), QStringLiteral("正在获取版本信息"));
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
        QCOMPARE(updater.prompts.shown()[0].buttons, Prompts::Ok);
        QVERIFY(requests().isEmpty());
    }

    void form1_link_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("opened");
        QTest::newRow("left button opens the website") << int(Qt::LeftButton) << 1;
        QTest::newRow("right button does nothing") << int(Qt::RightButton) << 0;
        QTest::newRow("middle button does nothing") << int(Qt::MiddleButton) << 0;
    }

    void form1_link()
    {
        QFETCH(int, button);
        QFETCH(int, opened);
        m_server.route(QStringLiteral("/notice.html"), QByteArray("no markers"));
        UpdaterFixture updater(m_server);
        Form1 form1(updater.services);
        QVERIFY(form1.load());
        auto *label3 = child<QLabel>(&form1, "Label3");
        QTRY_VERIFY_WITH_TIMEOUT(label3->isVisible(), 5000);
        QTest::mousePress(label3, Qt::MouseButton(button));
        QCOMPARE(updater.shell.websites.size(), opened);
        if (opened)
            QCOMPARE(updater.shell.websites[0], updater.services.noticeUrl);
        QVERIFY(form1.isVisible());
    }

    void form1_confirm_opensTheStripWhichUpdatesAndStartsThePlayer()
    {
        UpdaterFixture updater(m_server);
        updater.write(kProgram, "installed");
        servePlainUpdate({kProgram}, {QByteArray("new player")});
        Form1 form1(updater.services);
        QVERIFY(form1.load());
        auto *command1 = child<QPushButton>(&form1, "Command1");
        QTRY_VERIFY_WITH_TIMEOUT(command1->isEnabled(), 5000);
        QTest::mouseClick(command1, Qt::LeftButton);
        QVERIFY(!form1.isVisible());
        form1.Command1_Click(); // a late second click opens nothing more
        QList<UD *> strips;
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (auto *strip = qobject_cast<UD *>(window))
                strips << strip;
        }
        QCOMPARE(strips.size(), 1);
        QPointer<UD> ud = strips[0];
        QVERIFY(ud->isVisible());
        QVERIFY(WindowPresence::exists(kUpdaterCaption));
        auto *label1 = child<QLabel>(ud, "Label1");
        QCOMPARE(label1->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(ud->windowTitle(), kUpdaterCaption);
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
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("shares");
        const QStringList none = {QStringLiteral("<none>")};

        QTest::newRow("two files")
            << noticePage(kLocalVersion, {},
                          {fileParagraph(QStringLiteral("1.TamselMP3Player.exe"),
                                         QStringLiteral("http://s/a?x=1&y=2")),
                           fileParagraph(QStringLiteral("2.KivuUpdate.exe"), QStringLiteral("http://s/b"))})
            << QStringList{QStringLiteral("1.TamselMP3Player.exe\"http://s/a?x=1&y=2\""),
                           QStringLiteral("2.KivuUpdate.exe\"http://s/b\"")}
            << QStringList{QStringLiteral("TamselMP3Player.exe"), QStringLiteral("KivuUpdate.exe")}
            << QStringList{QStringLiteral("http://s/a?x=1&y=2"), QStringLiteral("http://s/b")};
        QTest::newRow("prefix 3. and a library")
            << noticePage(kLocalVersion, {},
                          {fileParagraph(QStringLiteral("3.skin.dll"), QStringLiteral("http://s/c"))})
            << QStringList{QStringLiteral("3.skin.dll\"http://s/c\"")}
            << QStringList{QStringLiteral("skin.dll")} << QStringList{QStringLiteral("http://s/c")};
        QTest::newRow("parenthesis in a name is lost")
            << noticePage(kLocalVersion, {},
                          {fileParagraph(QStringLiteral("1.a(1).txt"), QStringLiteral("http://s/d"))})
            << QStringList{QStringLiteral("1.a1).txt\"http://s/d\"")}
            << QStringList{QStringLiteral("a1).txt")} << QStringList{QStringLiteral("http://s/d")};
        QTest::newRow("last paragraph runs into the push marker")
            << QStringLiteral("更新文件及地址：<p>1.a\"http://s/a\" x<p>2.b\"http://s/b\" y消息推送：关")
            << QStringList{QStringLiteral("1.a\"http://s/a\"")} << QStringList{QStringLiteral("a")}
            << QStringList{QStringLiteral("http://s/a")};
        QTest::newRow("no entry") << noticePage(kLocalVersion, {}, {}) << none << none << none;
        QTest::newRow("one quote only")
            << QStringLiteral("更新文件及地址：<p>1.a\"http://s/a<p>消息推送：关") << none << none << none;
        QTest::newRow("no push marker")
            << QStringLiteral("更新文件及地址：<p>1.a\"http://s/a\"<p>") << none << none << none;
        QTest::newRow("quote inside the prefix")
            << QStringLiteral("更新文件及地址：<p>1\"http://s/a\"<p>消息推送：关") << none << none << none;
    }

    void entries()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, names);
        QFETCH(QStringList, shares);
        const auto found = UpdateFiles::entries(page);
        QStringList gotTexts, gotNames, gotShares;
        if (!found) {
            gotTexts = gotNames = gotShares = QStringList{QStringLiteral("<none>")};
        } else {
            for (const UpdateFiles::Entry &entry : *found) {
                gotTexts << entry.text;
                gotNames << entry.name;
                gotShares << entry.shareAddress;
            }
        }
        QCOMPARE(gotTexts, texts);
        QCOMPARE(gotNames, names);
        QCOMPARE(gotShares, shares);
    }

    void downloadAddress_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("address");
        const QString none = QStringLiteral("<none>");
        QTest::newRow("plain") << QString::fromUtf8(sharePage(QStringLiteral("http://f/x.bin")))
                               << QStringLiteral("http://f/x.bin");
        QTest::newRow("entities made plain")
            << QStringLiteral("保存至网盘 <a href=\"http://f/get?a=1&amp;b=2&amp;c=3\" id=\"x\">")
            << QStringLiteral("http://f/get?a=1&b=2&c=3");
        QTest::newRow("blanks around trimmed")
            << QStringLiteral("保存至网盘<a href=  \"  http://f/y  \"   id=\"x\">")
            << QStringLiteral("http://f/y");
        QTest::newRow("href before the save link is not taken")
            << QStringLiteral("<a href=\"http://ad/\" id=\"ad\">保存至网盘<a href=\"http://f/z\" id=\"s\">")
            << QStringLiteral("http://f/z");
        QTest::newRow("no save link") << QStringLiteral("<a href=\"http://f/x\" id=\"s\">") << none;
        QTest::newRow("no href after it")
            << QStringLiteral("<a href=\"http://f/x\" id=\"s\">保存至网盘") << none;
        QTest::newRow("no id after it") << QStringLiteral("保存至网盘<a href=\"http://f/x\">") << none;
    }

    void downloadAddress()
    {
        QFETCH(QString, page);
        QFETCH(QString, address);
        QCOMPARE(UpdateFiles::downloadAddress(page).value_or(QStringLiteral("<none>")), address);
    }

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("safe");
        QTest::addColumn<QString>("saved");
        QTest::newRow("program") << kProgram << true << kProgram;
        QTest::newRow("own file") << kUpdater << true << kNewUpdater;
        QTest::newRow("library") << QStringLiteral("skin.dll") << true << QStringLiteral("skin.dll");
        QTest::newRow("chinese") << QStringLiteral("说明.txt") << true << QStringLiteral("说明.txt");
        QTest::newRow("255 bytes") << QString(255, QLatin1Char('a')) << true
                                   << QString(255, QLatin1Char('a'));
        QTest::newRow("85 chinese = 255 bytes")
            << QString(85, QChar(0x6587)) << true << QString(85, QChar(0x6587));
        QTest::newRow("256 bytes") << QString(256, QLatin1Char('a')) << false << QString();
        QTest::newRow("86 chinese = 258 bytes") << QString(86, QChar(0x6587)) << false << QString();
        QTest::newRow("empty") << QString() << false << QString();
        QTest::newRow("dot") << QStringLiteral(".") << false << QString();
        QTest::newRow("dot dot") << QStringLiteral("..") << false << QString();
        QTest::newRow("parent path") << QStringLiteral("../evil") << false << QString();
        QTest::newRow("absolute") << QStringLiteral("/etc/passwd") << false << QString();
        QTest::newRow("sub folder") << QStringLiteral("sub/x") << false << QString();
        QTest::newRow("backslash") << QStringLiteral("..\\x") << false << QString();
        QTest::newRow("line feed") << QStringLiteral("a\nb") << false << QString();
        QTest::newRow("NUL") << QString(QStringLiteral("a")) + QChar(0) << false << QString();
        QTest::newRow("DEL") << QStringLiteral("a\x7f") << false << QString();
        QTest::newRow("C1 control") << QString(QStringLiteral("a")) + QChar(0x85) << false << QString();
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(bool, safe);
        QFETCH(QString, saved);
        QCOMPARE(UpdateFiles::isSafeName(name), safe);
        if (safe)
            QCOMPARE(UpdateFiles::savedName(name), saved);
    }

    // ---- the download strip -------------------------------------------------

    void ud_update_data()
    {
        using S = HttpServer;
        QTest::addColumn<int>("faultyFile");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("ok");
        QTest::newRow("every file arrives") << -1 << 200 << int(S::NoFault) << true;
        QTest::newRow("no length, ends at close") << 1 << 200 << int(S::NoContentLength) << true;
        QTest::newRow("own file cut short") << 0 << 200 << int(S::CutBody) << false;
        QTest::newRow("second cut short") << 1 << 200 << int(S::CutBody) << false;
        QTest::newRow("last cut short") << 2 << 200 << int(S::CutBody) << false;
        QTest::newRow("stalls") << 1 << 200 << int(S::Stall) << false;
        QTest::newRow("never answers") << 2 << 200 << int(S::NeverAnswer) << false;
        QTest::newRow("closes at once") << 1 << 200 << int(S::CloseAtOnce) << false;
        QTest::newRow("longer length declared") << 1 << 200 << int(S::WrongLength) << false;
        QTest::newRow("not found") << 2 << 404 << int(S::NoFault) << false;
        QTest::newRow("server error") << 0 << 500 << int(S::NoFault) << false;
    }

    // Three files, the updater's own first; all of them replace installed ones.
    void ud_update()
    {
        QFETCH(int, faultyFile);
        QFETCH(int, status);
        QFETCH(int, fault);
        QFETCH(bool, ok);
        UpdaterFixture updater(m_server);
        const QStringList names = {kUpdater, kProgram, QStringLiteral("skin.dll")};
        QStringList paragraphs;
        for (int i = 0; i < names.size(); ++i) {
            const QString share = QStringLiteral("/share/%1").arg(i);
            const QString file = QStringLiteral("/files/%1?name=%2&v=2").arg(i).arg(names[i]);
            paragraphs << fileParagraph(QStringLiteral("%1.%2").arg(i + 1).arg(names[i]),
                                        m_server.url(share));
            m_server.route(share, sharePage(m_server.url(file)));
            HttpServer::Response response;
            response.body = contentOf(names[i], 20000 + i * 7000);
            response.contentType = "application/octet-stream";
            if (i == faultyFile) {
                response.status = status;
                response.fault = HttpServer::Fault(fault);
                response.faultAt = response.body.size() / 2;
                response.declaredLength = response.body.size() + 100;
            }
            m_server.route(file, response);
            updater.write(names[i], "installed " + names[i].toUtf8(), 0755);
        }
        m_server.route(
            QStringLiteral("/notice.html"),
            noticePage(QStringLiteral("13.05.23"), {QStringLiteral("1.Fix")}, paragraphs).toUtf8());
        const QStringList before = updater.files();

        QPointer<UD> ud = new UD(updater.services);
        ud->setAttribute(Qt::WA_DeleteOnClose);
        QSignalSpy finished(ud.data(), &UD::downloadsFinished);
        QStringList captions;
        auto *label1 = child<QLabel>(ud, "Label1");
        connect(child<Transfer>(ud, "Inet1"), &Transfer::stateChanged, this, [&](int state) {
            if (state == Transfer::Connecting && label1->text().startsWith(QStringLiteral("正在下载")))
                captions << label1->text();
        });
        connect(child<QTimer>(ud, "Timer1"), &QTimer::timeout, this, [&] {
            if (ud && ud->isVisible())
                captions << label1->text();
        });
        connect(ud.data(), &UD::downloadsFinished, this, [&] { captions << label1->text(); });
        ud->load();
        QVERIFY(ud->isVisible());
        QCOMPARE(label1->text(), QStringLiteral("正在准备更新..."));
        QVERIFY(WindowPresence::exists(kUpdaterCaption));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
        QCOMPARE(finished[0][0].toBool(), ok);
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
        QVERIFY(!WindowPresence::exists(kUpdaterCaption));

        if (ok) {
            QCOMPARE(captions,
                     QStringList({QStringLiteral("正在下载 ") + kNewUpdater,
                                  QStringLiteral("正在下载 ") + kProgram, QStringLiteral("正在下载 skin.dll"),
                                  QStringLiteral("更新完成，5秒钟后自动关闭本窗口"),
                                  QStringLiteral("更新完成，4秒钟后自动关闭本窗口"),
                                  QStringLiteral("更新完成，3秒钟后自动关闭本窗口"),
                                  QStringLiteral("更新完成，2秒钟后自动关闭本窗口"),
                                  QStringLiteral("更新完成，1秒钟后自动关闭本窗口")}));
            QCOMPARE(updater.read(kNewUpdater), contentOf(names[0], 20000));
            QCOMPARE(updater.read(kUpdater), "installed " + kUpdater.toUtf8());
            QCOMPARE(updater.read(kProgram), contentOf(names[1], 27000));
            QCOMPARE(updater.read(QStringLiteral("skin.dll")), contentOf(names[2], 34000));
            QStringList after = before;
            after << kNewUpdater;
            after.sort(Qt::CaseInsensitive);
            QCOMPARE(updater.files(), after);
            QCOMPARE(updater.shell.programs, QStringList{updater.dir.path() + QLatin1Char('/') + kProgram});
            QVERIFY(!updater.shell.updaterWindowAtStart);
            QVERIFY(updater.prompts.shown().isEmpty());
        } else {
            QCOMPARE(updater.prompts.shown().size(), 1);
            QCOMPARE(updater.prompts.shown()[0].title, QStringLiteral("提示"));
            QCOMPARE(updater.prompts.shown()[0].text, kFailureText);
            QCOMPARE(updater.prompts.shown()[0].buttons, Prompts::YesNo);
            // Nothing changed: no new file, no temporary left, every installed file as it was.
            QCOMPARE(updater.files(), before);
            for (const QString &name : names)
                QCOMPARE(updater.read(name), "installed " + name.toUtf8());
            QVERIFY(updater.shell.programs.isEmpty());
            // The later files were never asked for.
            for (int i = faultyFile + 1; i < names.size(); ++i)
                QCOMPARE(hits(QStringLiteral("/files/%1?name=%2&v=2").arg(i).arg(names[i])), 0);
        }
    }

    void ud_failureBox_yesOpensTheWebsite_noDoesNot_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("opened");
        QTest::newRow("yes") << int(Prompts::AnswerYes) << 1;
        QTest::newRow("no") << int(Prompts::AnswerNo) << 0;
    }

    void ud_failureBox_yesOpensTheWebsite_noDoesNot()
    {
        QFETCH(int, answer);
        QFETCH(int, opened);
        UpdaterFixture updater(m_server);
        updater.prompts.answerNext(answer);
        QPointer<UD> ud = new UD(updater.services);
        ud->setAttribute(Qt::WA_DeleteOnClose);
        ud->load(); // the notice page is not there
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
        QCOMPARE(updater.prompts.unexpected(), 0);
        QCOMPARE(updater.prompts.shown().size(), 1);
        QCOMPARE(updater.shell.websites, opened ? QStringList{updater.services.noticeUrl} : QStringList());
    }

    void ud_loadFails_beforeAnyFileIsFetched_data()
    {
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QByteArray>("share");
        QTest::addColumn<int>("shareHits");
        const QString good = m_server.url(QStringLiteral("/share"));
        const QByteArray goodShare = sharePage(m_server.url(QStringLiteral("/file")));
        const auto page = [](const QStringList &paragraphs) {
            return noticePage(QStringLiteral("13.05.23"), {QStringLiteral("1.Fix")}, paragraphs);
        };
        QTest::newRow("no file list") << QStringLiteral("Ver13.05.23 更新日志") << goodShare << 0;
        QTest::newRow("no entry") << page({}) << goodShare << 0;
        QTest::newRow("entry without its address")
            << page({QStringLiteral("<p>1.skin.dll</p>")}) << goodShare << 0;
        QTest::newRow("parent folder")
            << page({fileParagraph(QStringLiteral("1.../evil"), good)}) << goodShare << 0;
        QTest::newRow("absolute path")
            << page({fileParagraph(QStringLiteral("1./tmp/evil"), good)}) << goodShare << 0;
        QTest::newRow("unsafe name after a good one")
            << page({fileParagraph(QStringLiteral("1.skin.dll"), good),
                     fileParagraph(QStringLiteral("2.sub/evil"), good)})
            << goodShare << 0;
        QTest::newRow("backslash") << page({fileParagraph(QStringLiteral("1...\\evil"), good)}) << goodShare
                                   << 0;
        QTest::newRow("dot dot") << page({fileParagraph(QStringLiteral("1..."), good)}) << goodShare << 0;
        QTest::newRow("empty name") << page({fileParagraph(QStringLiteral("1."), good)}) << goodShare << 0;
        QTest::newRow("control character")
            << page({fileParagraph(QStringLiteral("1.a\tb"), good)}) << goodShare << 0;
        QTest::newRow("name too long")
            << page({fileParagraph(QStringLiteral("1.") + QString(256, QLatin1Char('n')), good)}) << goodShare
            << 0;
        QTest::newRow("sharing page without the save link")
            << page({fileParagraph(QStringLiteral("1.skin.dll"), good)})
            << QByteArray("<a href=\"x\" id=\"y\">") << 1;
        QTest::newRow("save link that is no web address")
            << page({fileParagraph(QStringLiteral("1.skin.dll"), good)})
            << QByteArray("保存至网盘<a href=\"file:///etc/passwd\" id=\"y\">") << 1;
        QTest::newRow("sharing page missing")
            << page({fileParagraph(QStringLiteral("1.skin.dll"), m_server.url(QStringLiteral("/gone")))})
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
        QPointer<UD> ud = new UD(updater.services);
        ud->setAttribute(Qt::WA_DeleteOnClose);
        QSignalSpy finished(ud.data(), &UD::downloadsFinished);
        ud->load();
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toBool(), false);
        QCOMPARE(updater.prompts.shown().size(), 1);
        QCOMPARE(updater.prompts.shown()[0].text, kFailureText);
        QCOMPARE(hits(QStringLiteral("/share")), shareHits);
        QCOMPARE(hits(QStringLiteral("/file")), 0);
        QCOMPARE(updater.files(), QStringList{QStringLiteral("skin.dll")});
        QCOMPARE(updater.read(QStringLiteral("skin.dll")), QByteArray("installed"));
        QVERIFY(!QFile::exists(QDir(updater.dir.path()).filePath(QStringLiteral("../evil"))));
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
        updater.write(kProgram, "installed");
        std::unique_ptr<WindowPresence::Registration> player;
        if (anotherUpdater)
            QVERIFY(WindowPresence::claimSingleInstance(updater.services.instanceName));
        else
            player = WindowPresence::announce(QStringLiteral("TamselMP3Player"));
        QPointer<UD> ud = new UD(updater.services);
        ud->setAttribute(Qt::WA_DeleteOnClose);
        ud->load();
        QCOMPARE(updater.prompts.shown().size(), 1);
        QCOMPARE(updater.prompts.shown()[0].title, title);
        QCOMPARE(updater.prompts.shown()[0].text, text);
        QCOMPARE(updater.prompts.shown()[0].buttons, Prompts::Ok);
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
        QTest::qWait(50);
        QVERIFY(requests().isEmpty());
        QCOMPARE(updater.files(), QStringList{kProgram});
        QVERIFY(updater.shell.programs.isEmpty());
    }

    void ud_permissions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("installedMode"); // -1: not installed
        QTest::addColumn<QString>("saved");
        QTest::addColumn<int>("mode");
        QTest::newRow("replaced file keeps 0600")
            << QStringLiteral("data.bin") << 0600 << QStringLiteral("data.bin") << 0600;
        QTest::newRow("replaced file keeps 0750")
            << QStringLiteral("run.sh") << 0750 << QStringLiteral("run.sh") << 0750;
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
        servePlainUpdate({name}, {QByteArray("fresh contents")});
        runToTheEnd(updater, true);
        QCOMPARE(updater.read(saved), QByteArray("fresh contents"));
        QCOMPARE(QString::number(updater.mode(saved), 8), QString::number(mode, 8));
    }

    void ud_contentLength_data()
    {
        QTest::addColumn<QByteArray>("header"); // "" : none
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("barMaximum");
        QTest::newRow("1234 bytes") << QByteArray("1234") << 1234 << 1234;
        QTest::newRow("missing") << QByteArray() << 5000 << 0;
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
        servePlainUpdate({QStringLiteral("data.bin")}, {contentOf(QStringLiteral("d"), size)});
        HttpServer::Response response;
        response.body = contentOf(QStringLiteral("d"), size);
        if (header != "1234" && header != "0") {
            response.fault = HttpServer::NoContentLength;
            if (!header.isEmpty())
                response.headers.append({"Content-Length", header});
        }
        m_server.route(QStringLiteral("/files/0"), response);

        QPointer<UD> ud = new UD(updater.services);
        ud->setAttribute(Qt::WA_DeleteOnClose);
        auto *bar = child<QProgressBar>(ud, "ProgressBar1");
        int maximumWhileReceiving = -1;
        connect(child<Transfer>(ud, "Inet1"), &Transfer::stateChanged, this, [&](int state) {
            if (state == Transfer::ReceivingResponse)
                maximumWhileReceiving = bar->maximum();
        });
        QSignalSpy finished(ud.data(), &UD::downloadsFinished);
        ud->load();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QVERIFY(finished[0][0].toBool());
        QCOMPARE(maximumWhileReceiving, barMaximum);
        if (barMaximum > 0)
            QCOMPARE(bar->value(), barMaximum);
        QCOMPARE(updater.read(QStringLiteral("data.bin")), contentOf(QStringLiteral("d"), size));
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
    }

    void ud_largeFile_streamsInBlocks_barAtMostEvery50ms()
    {
        UpdaterFixture updater(m_server);
        QTemporaryFile big;
        QVERIFY(big.open());
        const QByteArray block = contentOf(QStringLiteral("big"), 1 << 20);
        for (int i = 0; i < 24; ++i)
            big.write(block);
        big.close();
        servePlainUpdate({QStringLiteral("big.bin")}, {QByteArray()});
        HttpServer::Response response;
        response.filePath = big.fileName();
        m_server.route(QStringLiteral("/files/0"), response);

        QPointer<UD> ud = new UD(updater.services);
        ud->setAttribute(Qt::WA_DeleteOnClose);
        auto *bar = child<QProgressBar>(ud, "ProgressBar1");
        QList<qint64> updates;
        QElapsedTimer clock;
        QStringList folderWhileReceiving = {QStringLiteral("<not looked at>")};
        connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
            if (value > 0 && updates.isEmpty())
                folderWhileReceiving = updater.files();
            if (value > 0)
                updates << clock.elapsed();
        });
        QSignalSpy finished(ud.data(), &UD::downloadsFinished);
        clock.start();
        ud->load();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        QVERIFY(finished[0][0].toBool());
        QVERIFY(!updates.isEmpty());
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(QFileInfo(updater.path(QStringLiteral("big.bin"))).size(), qint64(24) << 20);
        // On its way the file is not in place yet.
        QCOMPARE(folderWhileReceiving, QStringList());
        QCOMPARE(updater.files(), QStringList{QStringLiteral("big.bin")});
        // At most one step per 50 ms, the last one at the end of the file aside.
        for (qsizetype i = 1; i + 1 < updates.size(); ++i)
            QVERIFY2(updates[i] - updates[i - 1] >= 45,
                     qPrintable(QStringLiteral("%1 ms").arg(updates[i] - updates[i - 1])));
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
    }

    void ud_writeFails_nothingReplaced()
    {
        UpdaterFixture updater(m_server);
        updater.write(QStringLiteral("a.bin"), "installed a");
        updater.write(QStringLiteral("b.bin"), "installed b");
        servePlainUpdate({QStringLiteral("a.bin"), QStringLiteral("b.bin")},
                         {contentOf(QStringLiteral("a"), 1000), contentOf(QStringLiteral("b"), 400000)});
        const QStringList before = updater.files();
        // A disk that fills up: no file of this process may grow past 64 KB.
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        QPointer<UD> ud = new UD(updater.services);
        ud->setAttribute(Qt::WA_DeleteOnClose);
        QSignalSpy finished(ud.data(), &UD::downloadsFinished);
        ud->load();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(finished[0][0].toBool(), false);
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
        QCOMPARE(updater.prompts.shown().size(), 1);
        QCOMPARE(updater.prompts.shown()[0].text, kFailureText);
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
        servePlainUpdate({QStringLiteral("a.bin"), QStringLiteral("new.bin"), QStringLiteral("c.bin")},
                         {QByteArray("new a"), QByteArray("new"), QByteArray("new c")});
        const QStringList before = updater.files();
        runToTheEnd(updater, false);
        QCOMPARE(updater.files(), before);
        QCOMPARE(updater.read(QStringLiteral("a.bin")), QByteArray("installed a"));
        QCOMPARE(updater.mode(QStringLiteral("a.bin")), 0640);
        QVERIFY(QFileInfo(updater.path(QStringLiteral("c.bin"))).isDir());
    }

    void stagedInstall_shortOrUnfinishedFile_placesNothing()
    {
        QTemporaryDir dir;
        QFile installed(dir.filePath(QStringLiteral("a.bin")));
        QVERIFY(installed.open(QIODevice::WriteOnly));
        installed.write("old");
        installed.close();
        {
            StagedInstall install(dir.path());
            QVERIFY(install.begin(QStringLiteral("a.bin"), QStringLiteral("a.bin")));
            QVERIFY(install.write("new contents"));
            QCOMPARE(install.written(), 12);
            QVERIFY(!install.finish(13)); // one byte short of its length
            QVERIFY(!install.errorString().isEmpty());
            QVERIFY(install.begin(QStringLiteral("b.bin"), QStringLiteral("b.bin")));
            QVERIFY(install.write("b"));
            QVERIFY(!install.commit()); // the short one never finished
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("a.bin")});
        QVERIFY(installed.open(QIODevice::ReadOnly));
        QCOMPARE(installed.readAll(), QByteArray("old"));
    }

private:
    // Serves a notice page listing the files, one sharing page each, and the
    // files themselves at /files/<i>.
    void servePlainUpdate(const QStringList &names, const QList<QByteArray> &bodies)
    {
        QStringList paragraphs;
        for (int i = 0; i < names.size(); ++i) {
            const QString share = QStringLiteral("/share/%1").arg(i);
            paragraphs << fileParagraph(QStringLiteral("%1.%2").arg(i + 1).arg(names[i]),
                                        m_server.url(share));
            m_server.route(share, sharePage(m_server.url(QStringLiteral("/files/%1").arg(i))));
            HttpServer::Response response;
            response.body = bodies[i];
            response.contentType = "application/octet-stream";
            m_server.route(QStringLiteral("/files/%1").arg(i), response);
        }
        m_server.route(
            QStringLiteral("/notice.html"),
            noticePage(QStringLiteral("13.05.23"), {QStringLiteral("1.Fix")}, paragraphs).toUtf8());
    }

    void runToTheEnd(UpdaterFixture &updater, bool ok)
    {
        QPointer<UD> ud = new UD(updater.services);
        ud->setAttribute(Qt::WA_DeleteOnClose);
        QSignalSpy finished(ud.data(), &UD::downloadsFinished);
        ud->load();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QCOMPARE(finished[0][0].toBool(), ok);
        QTRY_VERIFY_WITH_TIMEOUT(!ud, 5000);
        QCOMPARE(updater.prompts.shown().size(), ok ? 0 : 1);
    }

    // Requests of the running test for that path.
    int hits(const QString &path) const { return int(m_server.requests().mid(m_requestsBefore).count(path)); }
    QStringList requests() const { return m_server.requests().mid(m_requestsBefore); }

    HttpServer m_server;
    qsizetype m_requestsBefore = 0;
};

QTEST_MAIN(UpdaterTest)
#include "test_updater.moc"
