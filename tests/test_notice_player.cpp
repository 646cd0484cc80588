// The player's side of the notice page against a loopback site: the push
// message read at start-up, the update check, and the hand-off of a new updater.
#include "AppInfo.h"
#include "Dialog.h"
#include "HttpServer.h"
#include "NoticePage.h"
#include "PlayerFixture.h"
#include "Update.h"
#include "WindowPresence.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <filesystem>

namespace {

const QString kLocal = AppInfo::localVersionText();
const QString kUpdaterCaption = QStringLiteral("TamselMP3Player 更新程序");
const QString kPath = QStringLiteral("/notice.html");
// Long enough that a timer never ticks by itself during a test.
constexpr int kNever = 3600 * 1000;

// A page laid out as the makers write theirs: paragraphs back to back, the
// switch right after the push marker's colon, the end marker opening a paragraph.
QByteArray page(const QString &version, const QString &pushSwitch = QStringLiteral("开"))
{
    return QStringLiteral(
               "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>公告</title></head><body>"
               "<p><strong>最新版本：Ver%1</strong></p>"
               "<p><strong>更新日志</strong></p><p>1.修复若干问题</p>"
               "<p><strong>更新文件及地址：</strong></p>"
               "<p>1.KivuUpdate(<a href=\"http://h/s?a=1&amp;b=2\" target=\"_blank\">下载</a>)</p>"
               "<p><strong>消息推送：%2</strong></p>"
               "<p><span style=\"color: #ff0000;\">第一行</span></p><p>第二行&nbsp;</p>"
               "<p>最新完整版下载</p></body></html>")
        .arg(version, pushSwitch)
        .toUtf8();
}

// The push text of page() after the cleanup.
const QString kCleanedPush = QStringLiteral("<p>第一行<p>第二行<p>");

HttpServer::Response respond(const QByteArray &body, HttpServer::Fault fault = HttpServer::NoFault,
                             int status = 200)
{
    HttpServer::Response response;
    response.body = body;
    response.fault = fault;
    response.status = status;
    response.faultAt = 10;
    return response;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes, QFile::Permissions permissions)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();
    QVERIFY(file.setPermissions(permissions));
}

std::filesystem::perms modeOf(const QString &path)
{
    return std::filesystem::status(QFileInfo(path).filesystemFilePath()).permissions();
}

constexpr QFile::Permissions kRunnable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                         QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                         QFile::ExeOther;
constexpr QFile::Permissions kPlain =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;

QStringList boxes(const ScriptedPrompts &prompts)
{
    QStringList list;
    for (const auto &box : prompts.shown())
        list.append(box.title + QLatin1Char('|') + box.text);
    return list;
}

} // namespace

class NoticePlayerTest : public QObject
{
    Q_OBJECT

private:
    // A player on fakes whose notice page is the test site's, with every
    // interval short; connected says whether the machine seems online.
    std::unique_ptr<PlayerFixture> makePlayer(bool connected)
    {
        auto player = std::make_unique<PlayerFixture>();
        player->connectivity.connected = connected;
        PlayerServices &services = player->services;
        services.noticeUrl = m_server.url(kPath);
        services.pushTickMs = kNever;
        services.updateTickMs = 2;
        services.handOffDelayMs = 100;
        services.handOffRecheckMs = 100;
        services.handOffRetryMs = 100;
        services.transferTimeoutMs = 1000;
        services.quit = [this] { ++m_quits; };
        rebuild(*player);
        return player;
    }

    static void rebuild(PlayerFixture &player)
    {
        player.window.reset();
        player.window = std::make_unique<FrmPlayer>(player.services);
    }

    static QTimer *timer(const PlayerFixture &player, const char *name)
    {
        return player.window->findChild<QTimer *>(QLatin1String(name), Qt::FindDirectChildrenOnly);
    }

    // Loaded and its page read (or refused): push is then on or off for good.
    std::unique_ptr<PlayerFixture> loadedPlayer(const QByteArray &body, int pushTickMs = kNever)
    {
        m_server.route(kPath, body);
        auto player = makePlayer(true);
        player->services.pushTickMs = pushTickMs;
        rebuild(*player);
        if (!player->load())
            return nullptr;
        QTimer *push = timer(*player, "Timer1");
        // Neither the design value nor running: the page has been dealt with.
        [&] { QTRY_VERIFY_WITH_TIMEOUT(push->isActive() || push->interval() == 0, 5000); }();
        return player;
    }

    static void tick(QObject *window, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            QVERIFY(QMetaObject::invokeMethod(window, "Timer1_Timer", Qt::DirectConnection));
    }

    static Dialog *dialogOf(const PlayerFixture &player)
    {
        const auto dialogs = player.window->findChildren<Dialog *>();
        for (Dialog *dialog : dialogs) {
            if (dialog->isVisible())
                return dialog;
        }
        return nullptr;
    }

    static Update *stripOf(const PlayerFixture &player)
    {
        const auto strips = player.window->findChildren<Update *>();
        for (Update *strip : strips) {
            if (strip->isVisible())
                return strip;
        }
        return nullptr;
    }

    QString folderFile(const PlayerFixture &player, const char *name) const
    {
        return player.dir.filePath(AppInfo::executableName(QLatin1String(name)));
    }

    // Requests for the notice page since the test began.
    int hits() const { return m_server.hits(kPath) - m_hitsBefore; }

    HttpServer m_server;
    QTemporaryDir m_runtime;
    int m_quits = 0;
    int m_hitsBefore = 0;

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
        m_quits = 0;
        m_hitsBefore = m_server.hits(kPath);
    }

    // ---- Push at start-up ----

    void startUp_readsPushOrTurnsItOff_data()
    {
        QTest::addColumn<HttpServer::Response>("response");
        QTest::addColumn<bool>("pushOn");
        QTest::addColumn<QString>("pushSwitch");
        QTest::addColumn<QString>("pushText");

        QTest::newRow("switch on") << respond(page(kLocal)) << true << QStringLiteral("开") << kCleanedPush;
        QTest::newRow("switch off, text still cut")
            << respond(page(kLocal, QStringLiteral("关"))) << false << QStringLiteral("关") << kCleanedPush;
        QTest::newRow("full-width space is off") << respond(page(kLocal, QStringLiteral("\u3000"))) << false
                                                 << QStringLiteral("\u3000") << kCleanedPush;
        QTest::newRow("switch on, empty message")
            << respond("<p>Ver" + kLocal.toUtf8() + "</p><p>消息推送：开最新完整版</p>") << true
            << QStringLiteral("开") << QString();
        QByteArray noEnd = page(kLocal);
        noEnd.replace("最新完整版", "完整版");
        QTest::newRow("no end marker") << respond(noEnd) << false << QString() << QString();
        QByteArray noPush = page(kLocal);
        noPush.replace("消息推送：", "消息：");
        QTest::newRow("no push marker") << respond(noPush) << false << QString() << QString();
        QTest::newRow("end marker before push marker")
            << respond("<p>最新完整版</p>" + page(kLocal).replace("<p>最新完整版下载</p>", "")) << false
            << QString() << QString();
        QTest::newRow("error status")
            << respond(page(kLocal), HttpServer::NoFault, 500) << false << QString() << QString();
        QTest::newRow("body cut short")
            << respond(page(kLocal), HttpServer::CutBody) << false << QString() << QString();
        QTest::newRow("connection closed at once")
            << respond(page(kLocal), HttpServer::CloseAtOnce) << false << QString() << QString();
        QTest::newRow("stalls") << respond(page(kLocal), HttpServer::Stall) << false << QString()
                                << QString();
        QTest::newRow("oversize") << respond(page(kLocal) + QByteArray(4 * 1024 * 1024, ' ')) << false
                                  << QString() << QString();
        QTest::newRow("not text") << respond(QByteArray("\xff\xfe\x00\x01", 4)) << false << QString()
                                  << QString();
    }

    void startUp_readsPushOrTurnsItOff()
    {
        QFETCH(HttpServer::Response, response);
        QFETCH(bool, pushOn);
        QFETCH(QString, pushSwitch);
        QFETCH(QString, pushText);

        m_server.route(kPath, response);
        auto player = makePlayer(true);
        QTimer *push = timer(*player, "Timer1");
        QVERIFY(player->load());
        // Start-up is over before the page has come.
        QVERIFY(player->window->isVisible());
        QCOMPARE(push->interval(), 60000);
        QVERIFY(!push->isActive());

        QTRY_VERIFY_WITH_TIMEOUT(push->isActive() || push->interval() == 0, 5000);
        QCOMPARE(push->isActive(), pushOn);
        QCOMPARE(push->interval(), pushOn ? kNever : 0);
        QCOMPARE(player->window->pushSwitch(), pushSwitch);
        QCOMPARE(player->window->pushText(), pushText);
        // At least one request: Qt asks once more when a connection closes without a word.
        QVERIFY(hits() >= 1);
        // Never the damage box: the site is not part of the installation.
        QVERIFY(player->prompts.shown().isEmpty());
        QVERIFY(player->window->isVisible());
        QCOMPARE(m_quits, 0);
    }

    void startUp_siteNeverAnswers_windowAnswersAndPushEndsOff()
    {
        m_server.route(kPath, respond(page(kLocal), HttpServer::NeverAnswer));
        auto player = makePlayer(true);
        QVERIFY(player->load());
        QTRY_COMPARE_WITH_TIMEOUT(hits(), 1, 5000);
        // The request is open, and the window takes clicks.
        player->click("imgLoop");
        QCOMPARE(player->label("lblLoop")->text(), QStringLiteral("顺序循环"));
        QTimer *push = timer(*player, "Timer1");
        QCOMPARE(push->interval(), 60000);
        // Given up after the time-out, silently.
        QTRY_COMPARE_WITH_TIMEOUT(push->interval(), 0, 5000);
        QVERIFY(!push->isActive());
        QVERIFY(player->prompts.shown().isEmpty());
        QVERIFY(player->window->isVisible());
    }

    void startUp_noConnection_noRequestAndPushOff()
    {
        m_server.route(kPath, page(kLocal));
        auto player = makePlayer(false);
        QVERIFY(player->load());
        QTimer *push = timer(*player, "Timer1");
        QCOMPARE(push->interval(), 0);
        QVERIFY(!push->isActive());
        QTest::qWait(200);
        QCOMPARE(hits(), 0);
        QCOMPARE(player->window->pushText(), QString());
        tick(player->window.get(), 3);
        QVERIFY(!dialogOf(*player));
    }

    void samplePage_readsAsPublished()
    {
        const QByteArray sample = readAll(QStringLiteral(TAMSEL_SAMPLE_PAGE));
        QVERIFY(!sample.isEmpty());
        const QString text = NoticePage::DecodeUtf8(sample);
        QCOMPARE(NoticePage::version(text).value_or(QString()), kLocal);
        QString files = NoticePage::fileListSection(text).value_or(QString());
        NoticePage::cleanUpFileList(files);
        QVERIFY(files.startsWith(NoticePage::kParagraph));
        const QStringList entries = NoticePage::paragraphs(files.mid(3));
        QCOMPARE(entries.size(), 3);
        QCOMPARE(
            entries.at(1),
            QStringLiteral("2.KivuUpdate\"https://example.org/share/?file=KivuUpdate&v=13.05.22\" 下载"));

        auto player = loadedPlayer(sample);
        QVERIFY(player);
        QCOMPARE(player->window->pushSwitch(), QStringLiteral("开"));
        QVERIFY(timer(*player, "Timer1")->isActive());
        tick(player->window.get(), 3);
        QVERIFY(dialogOf(*player));
        QCOMPARE(dialogOf(*player)->findChild<QPlainTextEdit *>(QStringLiteral("Text1"))->toPlainText(),
                 QStringLiteral("欢迎使用 TamselMP3Player！\n新版本已经发布，点击“检查更新”即可升级。"));
    }

    // ---- The push window ----

    void push_opensOnThirdTickOnly_andOkLeavesTheTimerRunning()
    {
        // With the skin, whose dialogs have light text: the message stays red.
        m_server.route(kPath, page(kLocal));
        auto player = makePlayer(true);
        QVERIFY(QFile::copy(QStringLiteral(TAMSEL_SKIN_FILE),
                            player->dir.filePath(QStringLiteral("Tamsel.Skin"))));
        const auto unskin = qScopeGuard([] { qApp->setStyleSheet(QString()); });
        QVERIFY(player->load());
        QVERIFY(!qApp->styleSheet().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(timer(*player, "Timer1")->isActive(), 5000);
        tick(player->window.get(), 2);
        QVERIFY(!dialogOf(*player));
        tick(player->window.get());
        Dialog *dialog = dialogOf(*player);
        QVERIFY(dialog);
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("消息推送："));
        QCOMPARE(dialog->size(), QSize(402, 213));
        auto *text = dialog->findChild<QPlainTextEdit *>(QStringLiteral("Text1"));
        QCOMPARE(text->toPlainText(), QStringLiteral("第一行\n第二行"));
        text->ensurePolished();
        QCOMPARE(text->palette().color(QPalette::Text), QColor(255, 0, 0));
        auto *ok = dialog->findChild<QPushButton *>(QStringLiteral("OKButton"));
        auto *cancel = dialog->findChild<QPushButton *>(QStringLiteral("CancelButton"));
        QCOMPARE(ok->text(), QStringLiteral("确定"));
        QCOMPARE(cancel->text(), QStringLiteral("知道了，不再提醒"));
        QCOMPARE(dialog->focusWidget(), ok);
        QCOMPARE(ok->nextInFocusChain(), cancel);

        QTest::mouseClick(ok, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dialogOf(*player), 2000);
        QVERIFY(timer(*player, "Timer1")->isActive());
        // Later ticks only count.
        tick(player->window.get(), 5);
        QVERIFY(!dialogOf(*player));
        QVERIFY(player->window->isVisible());
    }

    void push_runningTimer_opensTheWindowAfterThreeTicks()
    {
        constexpr int kTick = 150;
        QElapsedTimer clock;
        clock.start();
        auto player = loadedPlayer(page(kLocal), kTick);
        QVERIFY(player);
        QVERIFY(!dialogOf(*player));
        QTRY_VERIFY_WITH_TIMEOUT(dialogOf(*player), 10000);
        // Not before the third tick (a coarse timer may fire a little early).
        QVERIFY2(clock.elapsed() >= 3 * kTick * 9 / 10, qPrintable(QString::number(clock.elapsed())));
        QTest::mouseClick(dialogOf(*player)->findChild<QPushButton *>(QStringLiteral("OKButton")),
                          Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dialogOf(*player), 2000);
        QTest::qWait(5 * kTick);
        QVERIFY(!dialogOf(*player));
    }

    void push_notAgain_stopsTheTimerForTheRun()
    {
        auto player = loadedPlayer(page(kLocal));
        QVERIFY(player);
        tick(player->window.get(), 3);
        Dialog *dialog = dialogOf(*player);
        QVERIFY(dialog);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("CancelButton")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dialogOf(*player), 2000);
        QTimer *push = timer(*player, "Timer1");
        QVERIFY(!push->isActive());
        QCOMPARE(push->interval(), 0);
    }

    void push_connectionLostBeforeTheWindowOpens_saysSo()
    {
        auto player = loadedPlayer(page(kLocal));
        QVERIFY(player);
        player->connectivity.connected = false;
        tick(player->window.get(), 3);
        Dialog *dialog = dialogOf(*player);
        QVERIFY(dialog);
        QCOMPARE(dialog->findChild<QPlainTextEdit *>(QStringLiteral("Text1"))->toPlainText(),
                 QStringLiteral("网络连接失败，暂时无法获取消息推送内容"));
    }

    void pushMessage_data()
    {
        QTest::addColumn<QString>("pushText");
        QTest::addColumn<QString>("shown");
        QTest::newRow("page layout") << QStringLiteral("<p>A<p>B<p>") << QStringLiteral("A\r\nB");
        QTest::newRow("before the first paragraph dropped")
            << QStringLiteral("x<p>A<p>") << QStringLiteral("A");
        QTest::newRow("no paragraph: unchanged, mark-up too")
            << QStringLiteral("<b>Hi</b> <span style=\"color: red\">x</span>")
            << QStringLiteral("<b>Hi</b> <span style=\"color: red\">x</span>");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("only the closing paragraph") << QStringLiteral("<p>") << QString();
        QTest::newRow("one line, one paragraph: words kept") << QStringLiteral("<p>A") << QStringLiteral("A");
        QTest::newRow("four characters: all four go") << QStringLiteral("<p>AB") << QString();
        QTest::newRow("last line without closing paragraph")
            << QStringLiteral("<p>A<p>Bcd") << QStringLiteral("A\r\nB");
    }

    void pushMessage()
    {
        QFETCH(QString, pushText);
        QFETCH(QString, shown);
        QCOMPARE(Dialog::messageText(pushText), shown);
    }

    // ---- Update check ----

    void update_decides_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<HttpServer::Response>("response");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<bool>("updaterInFolder");
        QTest::addColumn<QStringList>("expectedBoxes");
        QTest::addColumn<bool>("updaterStarted");
        QTest::addColumn<bool>("websiteOpened");

        const QString latest = QStringLiteral("TamselMP3Player提示：|您使用的已经是最新版本");
        const auto offer = [](const QString &version) {
            return QStringLiteral("更新提示：|发现新版本 Ver：%1 是否需要更新？").arg(version);
        };
        const QString damaged = QStringLiteral("提示:|更新文件已损坏,是否去官网重新下载最新完整版程序？");
        const QList<int> none;
        const int ok = Prompts::AnswerOk;
        const int cancel = Prompts::AnswerCancel;

        QTest::newRow("same version")
            << true << respond(page(kLocal)) << none << true << QStringList{latest} << false << false;
        QTest::newRow("newer, cancelled")
            << true << respond(page(QStringLiteral("13.06.01"))) << QList<int>{cancel} << true
            << QStringList{offer("13.06.01")} << false << false;
        QTest::newRow("newer, accepted")
            << true << respond(page(QStringLiteral("13.06.01"))) << QList<int>{ok} << true
            << QStringList{offer("13.06.01")} << true << false;
        QTest::newRow("newer, accepted, updater missing, to the website")
            << true << respond(page(QStringLiteral("13.06.01"))) << QList<int>{ok, Prompts::AnswerYes}
            << false << QStringList{offer("13.06.01"), damaged} << false << true;
        QTest::newRow("newer, accepted, updater missing, declined")
            << true << respond(page(QStringLiteral("13.06.01"))) << QList<int>{ok, Prompts::AnswerNo} << false
            << QStringList{offer("13.06.01"), damaged} << false << false;
        QTest::newRow("older is offered too")
            << true << respond(page(QStringLiteral("01.00.00"))) << QList<int>{cancel} << true
            << QStringList{offer("01.00.00")} << false << false;
        QTest::newRow("colon after Ver is always new")
            << true << respond(page(QStringLiteral(":") + kLocal)) << QList<int>{cancel} << true
            << QStringList{offer(QStringLiteral(":") + kLocal.left(7))} << false << false;
        QTest::newRow("offline") << false << respond(page(kLocal)) << none << true << QStringList() << false
                                 << false;
        QTest::newRow("error status") << true << respond(page(kLocal), HttpServer::NoFault, 404) << none
                                      << true << QStringList() << false << false;
        QTest::newRow("stalled page") << true << respond(page(kLocal), HttpServer::Stall) << none << true
                                      << QStringList() << false << false;
        QTest::newRow("no version on the page") << true << respond(page(kLocal).replace("Ver", "ver")) << none
                                                << true << QStringList() << false << false;
    }

    void update_decides()
    {
        QFETCH(bool, connected);
        QFETCH(HttpServer::Response, response);
        QFETCH(QList<int>, answers);
        QFETCH(bool, updaterInFolder);
        QFETCH(QStringList, expectedBoxes);
        QFETCH(bool, updaterStarted);
        QFETCH(bool, websiteOpened);

        m_server.route(kPath, response);
        auto player = makePlayer(false);
        QVERIFY(player->load());
        player->connectivity.connected = connected;
        if (updaterInFolder)
            writeFile(folderFile(*player, "KivuUpdate"), "#!/bin/sh\n", kRunnable);
        for (int answer : answers)
            player->prompts.answerNext(answer);

        player->window->showUpdate();
        QVERIFY(stripOf(*player));
        QTRY_VERIFY_WITH_TIMEOUT(!player->window->findChild<Update *>(), 10000);

        QCOMPARE(boxes(player->prompts), expectedBoxes);
        QCOMPARE(player->prompts.unexpected(), 0);
        QCOMPARE(hits(), connected ? 1 : 0);
        const QString updater = player->dir.path() + QLatin1Char('/') + AppInfo::executableName("KivuUpdate");
        QCOMPARE(player->shell.programs, updaterStarted ? QStringList{updater} : QStringList());
        QCOMPARE(player->shell.websites,
                 websiteOpened ? QStringList{player->services.noticeUrl} : QStringList());
        // Starting the updater ends the player; nothing else does.
        QCOMPARE(m_quits, updaterStarted ? 1 : 0);
        QCOMPARE(player->window->isVisible(), !updaterStarted);
        if (updaterStarted) {
            // Ended for good: the windows it closed start no timer again.
            QTest::qWait(300);
            for (QTimer *t : player->window->findChildren<QTimer *>())
                QVERIFY2(!t->isActive(), qPrintable(t->objectName()));
        }
    }

    void update_updaterCannotBeStarted_isTreatedAsDamaged()
    {
        m_server.route(kPath, page(QStringLiteral("13.06.01")));
        auto player = makePlayer(true);
        writeFile(folderFile(*player, "KivuUpdate"), "x", kRunnable);
        player->shell.startSucceeds = false;
        player->prompts.answerNext(Prompts::AnswerOk);
        player->prompts.answerNext(Prompts::AnswerNo);
        player->window->showUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(!player->window->findChild<Update *>(), 10000);
        QCOMPARE(player->prompts.shown().size(), 2);
        QCOMPARE(player->prompts.shown().at(1).title, QStringLiteral("提示:"));
        QCOMPARE(m_quits, 0);
    }

    void update_strip_layoutCaptionsAndTimeline()
    {
        m_server.route(kPath, page(kLocal));
        auto player = makePlayer(true);
        player->services.updateTickMs = kNever;
        rebuild(*player);
        player->window->move(100, 50);
        // The main window is not loaded here, so the only window record is the strip's.
        QVERIFY(!WindowPresence::exists(QStringLiteral("TamselMP3Player")));
        player->window->showUpdate();
        Update *strip = stripOf(*player);
        QVERIFY(strip);
        QCOMPARE(strip->windowTitle(), QStringLiteral("TamselMP3Player"));
        QVERIFY(strip->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(strip->size(), QSize(312, 46));
        const QRect main = player->window->frameGeometry();
        QCOMPARE(strip->pos(), QPoint(main.x() + main.width() / 2 - 156, main.y() + main.height() + 13));
        QVERIFY(WindowPresence::exists(QStringLiteral("TamselMP3Player")));

        auto *bar = strip->findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
        auto *label = strip->findChild<QLabel *>(QStringLiteral("Label1"));
        auto *local = strip->findChild<QLineEdit *>(QStringLiteral("Text1"));
        auto *published = strip->findChild<QLineEdit *>(QStringLiteral("Text2"));
        auto *tickTimer = strip->findChild<QTimer *>(QStringLiteral("Timer1"));
        QVERIFY(strip->findChild<QObject *>(QStringLiteral("Inet1")));
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(label->text(), QStringLiteral("正在检查更新..."));
        QCOMPARE(local->text(), kLocal);
        QVERIFY(local->isHidden());
        QVERIFY(published->isHidden());
        QVERIFY(tickTimer->isActive());
        QCOMPARE(tickTimer->interval(), kNever);
        // Only the bar and the status line are seen.
        QTRY_VERIFY_WITH_TIMEOUT(!strip->mask().isEmpty(), 2000);
        const QRegion seen = strip->mask();
        QVERIFY(seen.contains(QPoint(150, 5)));
        QVERIFY(seen.contains(QPoint(156, 30)));
        QVERIFY(!seen.contains(QPoint(5, 40)));

        QTRY_COMPARE_WITH_TIMEOUT(published->text(), kLocal, 5000);
        for (int i = 1; i <= 9; ++i)
            QVERIFY(QMetaObject::invokeMethod(strip, "Timer1_Timer"));
        QCOMPARE(label->text(), QStringLiteral("正在检查更新..."));
        QVERIFY(QMetaObject::invokeMethod(strip, "Timer1_Timer"));
        QCOMPARE(label->text(), QStringLiteral("正在检测版本信息..."));
        for (int i = 11; i <= 90; ++i)
            QVERIFY(QMetaObject::invokeMethod(strip, "Timer1_Timer"));
        QCOMPARE(label->text(), QStringLiteral("暂无更新"));
        QCOMPARE(bar->value(), 90);
        QVERIFY(strip->isVisible());
        for (int i = 91; i <= 99; ++i)
            QVERIFY(QMetaObject::invokeMethod(strip, "Timer1_Timer"));
        QVERIFY(strip->isVisible());
        QVERIFY(player->prompts.shown().isEmpty());
        QVERIFY(QMetaObject::invokeMethod(strip, "Timer1_Timer"));
        QCOMPARE(bar->value(), 100);
        QVERIFY(!strip->isVisible());
        QCOMPARE(player->prompts.shown().size(), 1);
        QVERIFY(!WindowPresence::exists(QStringLiteral("TamselMP3Player")));
    }

    void update_offline_saysSoAndCloses()
    {
        auto player = makePlayer(false);
        player->services.updateTickMs = kNever;
        rebuild(*player);
        player->window->showUpdate();
        Update *strip = stripOf(*player);
        QVERIFY(strip);
        auto *label = strip->findChild<QLabel *>(QStringLiteral("Label1"));
        for (int i = 1; i <= 90; ++i)
            QVERIFY(QMetaObject::invokeMethod(strip, "Timer1_Timer"));
        QCOMPARE(label->text(), QStringLiteral("网络连接失败！"));
        QVERIFY(strip->isVisible());
        for (int i = 91; i <= 100; ++i)
            QVERIFY(QMetaObject::invokeMethod(strip, "Timer1_Timer"));
        QVERIFY(!strip->isVisible());
        QVERIFY(player->prompts.shown().isEmpty());
    }

    void update_latePage_decisionHoldsAt90_andSecondPressOnlyRaises()
    {
        m_server.route(kPath, respond(page(QStringLiteral("13.06.01")), HttpServer::HoldAnswer));
        auto player = makePlayer(true);
        player->services.transferTimeoutMs = 15000;
        rebuild(*player);
        player->prompts.answerNext(Prompts::AnswerCancel);
        player->window->showUpdate();
        Update *strip = stripOf(*player);
        QVERIFY(strip);
        auto *bar = strip->findChild<QProgressBar *>(QStringLiteral("ProgressBar1"));
        QTRY_COMPARE_WITH_TIMEOUT(bar->value(), Update::kDecision, 5000);
        QTest::qWait(100);
        QCOMPARE(bar->value(), Update::kDecision);
        QVERIFY(player->prompts.shown().isEmpty());

        // A second press while the check runs starts nothing new.
        player->window->showUpdate();
        QCOMPARE(stripOf(*player), strip);
        QCOMPARE(player->window->findChildren<Update *>().size(), 1);
        QTest::qWait(100);
        QCOMPARE(hits(), 1);
        QCOMPARE(m_server.heldCount(), 1);

        m_server.releaseHeld();
        QTRY_VERIFY_WITH_TIMEOUT(!player->window->findChild<Update *>(), 5000);
        QCOMPARE(boxes(player->prompts),
                 QStringList{QStringLiteral("更新提示：|发现新版本 Ver：13.06.01 是否需要更新？")});
    }

    void update_afterTheStripClosed_aNewPressChecksAgain()
    {
        m_server.route(kPath, page(kLocal));
        auto player = makePlayer(true);
        player->window->showUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(!player->window->findChild<Update *>(), 10000);
        player->window->showUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(!player->window->findChild<Update *>(), 10000);
        QCOMPARE(hits(), 2);
        QCOMPARE(player->prompts.shown().size(), 2);
    }

    // ---- Updater hand-off ----

    void handOff_newUpdaterFromBeforeTheStart_takesThePlaceAndTheRunBit()
    {
        auto player = makePlayer(false);
        const QString updater = folderFile(*player, "KivuUpdate");
        const QString fresh = folderFile(*player, "NewKivuUpdate");
        writeFile(updater, "old", kRunnable);
        writeFile(fresh, "new", kPlain);
        QVERIFY(player->load());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(fresh), 5000);
        QCOMPARE(readAll(updater), QByteArray("new"));
        QCOMPARE(modeOf(updater), std::filesystem::perms(0755));
    }

    void handOff_waitsForTheUpdaterWindow_thenSwaps()
    {
        auto presence = WindowPresence::announce(kUpdaterCaption);
        auto player = makePlayer(false);
        const QString updater = folderFile(*player, "KivuUpdate");
        const QString fresh = folderFile(*player, "NewKivuUpdate");
        writeFile(updater, "old", kRunnable);
        QVERIFY(player->load());
        // Written long after start-up, while the updater is still open.
        QTest::qWait(200);
        writeFile(fresh, "new", kPlain);
        QTest::qWait(800);
        QCOMPARE(readAll(updater), QByteArray("old"));
        QVERIFY(QFile::exists(fresh));

        presence.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(fresh), 5000);
        QCOMPARE(readAll(updater), QByteArray("new"));
        QCOMPARE(modeOf(updater), std::filesystem::perms(0755));
    }

    void handOff_updaterInAnotherProcess_data()
    {
        QTest::addColumn<bool>("crashes");
        QTest::newRow("closes its window") << false;
        // Its record stays behind, unlocked, and no file-system event says so.
        QTest::newRow("is killed") << true;
    }

    void handOff_updaterInAnotherProcess()
    {
        QFETCH(bool, crashes);
        QProcess holder;
        holder.start(QStringLiteral(TAMSEL_HOLD_WINDOW), {kUpdaterCaption});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAll().trimmed(), QByteArray("ready"));
        QVERIFY(WindowPresence::exists(kUpdaterCaption));

        auto player = makePlayer(false);
        const QString updater = folderFile(*player, "KivuUpdate");
        const QString fresh = folderFile(*player, "NewKivuUpdate");
        writeFile(updater, "old", kRunnable);
        writeFile(fresh, "new", kPlain);
        QVERIFY(player->load());
        QTest::qWait(500);
        QCOMPARE(readAll(updater), QByteArray("old"));

        if (crashes) {
            holder.kill();
        } else {
            holder.closeWriteChannel();
        }
        QVERIFY(holder.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(fresh), 5000);
        QCOMPARE(readAll(updater), QByteArray("new"));
    }

    void handOff_onlyTheNewFile_keepsItsName()
    {
        auto player = makePlayer(false);
        const QString fresh = folderFile(*player, "NewKivuUpdate");
        writeFile(fresh, "new", kPlain);
        QVERIFY(player->load());
        QTest::qWait(500);
        QCOMPARE(readAll(fresh), QByteArray("new"));
        QVERIFY(!QFile::exists(folderFile(*player, "KivuUpdate")));
    }

    void handOff_failedRename_keepsBothFilesAndTriesAgain()
    {
        QList<QPair<QByteArray, QByteArray>> seen;
        auto player = makePlayer(false);
        const QString updater = folderFile(*player, "KivuUpdate");
        const QString fresh = folderFile(*player, "NewKivuUpdate");
        writeFile(updater, "old", kRunnable);
        writeFile(fresh, "new", kPlain);
        player->services.replaceFile = [&](const QString &from, const QString &to, QString *error) {
            seen.append({readAll(from), readAll(to)});
            if (seen.size() < 3) {
                *error = QStringLiteral("busy");
                return false;
            }
            return AtomicFile::replace(from, to, error);
        };
        rebuild(*player);
        QVERIFY(player->load());
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 1, 5000);
        // The failure loses nothing and the player goes on.
        QCOMPARE(readAll(updater), QByteArray("old"));
        QCOMPARE(readAll(fresh), QByteArray("new"));
        QVERIFY(player->window->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(fresh), 10000);
        QCOMPARE(seen.size(), 3);
        for (const auto &[from, to] : seen) {
            QCOMPARE(from, QByteArray("new"));
            QCOMPARE(to, QByteArray("old"));
        }
        QCOMPARE(readAll(updater), QByteArray("new"));
        QCOMPARE(modeOf(updater), std::filesystem::perms(0755));
    }

    void killUD_returnsAtOnce_andSwapsAfterTheRest()
    {
        auto player = makePlayer(false);
        player->services.handOffDelayMs = 400;
        rebuild(*player);
        const QString updater = folderFile(*player, "KivuUpdate");
        const QString fresh = folderFile(*player, "NewKivuUpdate");
        writeFile(updater, "old", kRunnable);
        writeFile(fresh, "new", kPlain);
        // Not loaded: no watch, only the call.
        player->window->killUD();
        QCOMPARE(readAll(updater), QByteArray("old"));
        QTRY_COMPARE_WITH_TIMEOUT(readAll(updater), QByteArray("new"), 5000);
        QVERIFY(!QFile::exists(fresh));
    }
};

QTEST_MAIN(NoticePlayerTest)
#include "test_notice_player.moc"
