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
#include <functional>

namespace fs = std::filesystem;

namespace {

const QString kLocal = AppInfo::localVersionText();
const QString kUpdaterCaption = QStringLiteral("TamselMP3Player 更新程序");
const QString kPath = QStringLiteral("/notice.html");
constexpr int kNever = PlayerFixture::kNever;

// A page laid out as the makers write theirs: paragraphs back to back, the
// switch right after the push marker's colon, the end marker opening a paragraph.
QByteArray page(const QString &version, const QString &pushSwitch = QStringLiteral("开"))
{
    return QStringLiteral(
               "<html><head><title>公告</title></head><body><p><strong>最新版本：Ver%1</strong></p>"
               "<p><strong>更新日志</strong></p><p>1.修复</p><p><strong>更新文件及地址：</strong></p>"
               "<p>1.KivuUpdate(<a href=\"http://h/s\" target=\"_blank\">下载</a>)</p>"
               "<p><strong>消息推送：%2</strong></p><p><span style=\"color: #ff0000;\">第一行</span></p>"
               "<p>第二行&nbsp;</p><p>最新完整版下载</p></body></html>")
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

void writeFile(const QString &path, const QByteArray &bytes, int mode)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();
    fs::permissions(QFileInfo(path).filesystemFilePath(), fs::perms(mode));
}

fs::perms modeOf(const QString &path)
{
    return fs::status(QFileInfo(path).filesystemFilePath()).permissions();
}

QStringList boxes(const ScriptedPrompts &prompts)
{
    QStringList list;
    for (const auto &box : prompts.shown())
        list.append(box.title + QLatin1Char('|') + box.text);
    return list;
}

// The first visible window of that kind that the main window owns.
template <typename T> T *shown(const PlayerFixture &player)
{
    for (T *window : player.window->findChildren<T *>()) {
        if (window->isVisible())
            return window;
    }
    return nullptr;
}

template <typename T> T *child(QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

void tick(QObject *window, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QVERIFY(QMetaObject::invokeMethod(window, "Timer1_Timer", Qt::DirectConnection));
}

} // namespace

class NoticePlayerTest : public QObject
{
    Q_OBJECT

public:
    // Who holds an updater window while a new updater file waits.
    enum Holder { NoWindow, WindowHere, ProcessCloses, ProcessKilled };
    Q_ENUM(Holder)

private:
    // A player on fakes whose notice page is the test site's, every interval
    // short; tune changes the services before the window is built.
    std::unique_ptr<PlayerFixture> makePlayer(bool connected,
                                              const std::function<void(PlayerServices &)> &tune = {})
    {
        auto player = std::make_unique<PlayerFixture>();
        player->useNoticeSite(m_server.url(kPath), connected, tune);
        return player;
    }

    static QTimer *pushTimer(const PlayerFixture &player)
    {
        return player.window->findChild<QTimer *>(QStringLiteral("Timer1"), Qt::FindDirectChildrenOnly);
    }

    // The page has been read, or given up: push is then on or off for good.
    static bool pageDealtWith(const PlayerFixture &player)
    {
        QTimer *push = pushTimer(player);
        return push->isActive() || push->interval() == 0;
    }

    static QString programFile(const PlayerFixture &player, const char *name)
    {
        return player.dir.filePath(AppInfo::executableName(QLatin1String(name)));
    }

    // Requests for the notice page since the test began.
    int hits() const { return m_server.hits(kPath) - m_hitsBefore; }

    HttpServer m_server;
    QTemporaryDir m_runtime;
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
        m_hitsBefore = m_server.hits(kPath);
    }

    // ---- Start-up ----

    void startUp_readsPushOrTurnsItOff_data()
    {
        QTest::addColumn<HttpServer::Response>("response");
        QTest::addColumn<QString>("pushSwitch");
        QTest::addColumn<QString>("pushText");

        const QString on = QStringLiteral("开");
        QTest::newRow("switch on") << respond(page(kLocal)) << on << kCleanedPush;
        QTest::newRow("switch off, text still cut") << respond(page(kLocal, "关")) << "关" << kCleanedPush;
        QTest::newRow("full-width space is off")
            << respond(page(kLocal, "\u3000")) << "\u3000" << kCleanedPush;
        QTest::newRow("switch on, empty message")
            << respond("<p>消息推送：开最新完整版</p>") << on << QString();
        // From here on the push is off and nothing was taken from the page.
        QTest::newRow("no end marker") << respond(page(kLocal).replace("最新完整版", "")) << ""
                                       << "";
        QTest::newRow("no push marker") << respond(page(kLocal).replace("消息推送：", "")) << ""
                                        << "";
        QTest::newRow("end marker first")
            << respond("最新完整版" + page(kLocal).replace("最新完整版", "")) << ""
            << "";
        QTest::newRow("error status") << respond(page(kLocal), HttpServer::NoFault, 500) << ""
                                      << "";
        QTest::newRow("body cut short") << respond(page(kLocal), HttpServer::CutBody) << ""
                                        << "";
        QTest::newRow("closed at once") << respond(page(kLocal), HttpServer::CloseAtOnce) << ""
                                        << "";
        QTest::newRow("stalls") << respond(page(kLocal), HttpServer::Stall) << ""
                                << "";
        QTest::newRow("over 4 MB") << respond(page(kLocal) + QByteArray(4 << 20, ' ')) << ""
                                   << "";
        QTest::newRow("not text") << respond(QByteArray("\xff\xfe\x00\x01", 4)) << ""
                                  << "";
    }

    void startUp_readsPushOrTurnsItOff()
    {
        QFETCH(HttpServer::Response, response);
        QFETCH(QString, pushSwitch);
        QFETCH(QString, pushText);

        m_server.route(kPath, response);
        auto player = makePlayer(true);
        QTimer *push = pushTimer(*player);
        QVERIFY(player->load());
        // Start-up is over before the page has come.
        QVERIFY(player->window->isVisible());
        QVERIFY(!pageDealtWith(*player));

        QTRY_VERIFY_WITH_TIMEOUT(pageDealtWith(*player), 5000);
        const bool on = pushSwitch == QStringLiteral("开");
        QCOMPARE(push->isActive(), on);
        QCOMPARE(push->interval(), on ? kNever : 0);
        QCOMPARE(player->window->pushSwitch(), pushSwitch);
        QCOMPARE(player->window->pushText(), pushText);
        // At least one request: Qt asks once more when a connection closes without a word.
        QVERIFY(hits() >= 1);
        // Never the damage box: the site is not part of the installation.
        QVERIFY(player->prompts.shown().isEmpty());
        QVERIFY(player->window->isVisible());
        QCOMPARE(player->quits, 0);
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
        QVERIFY(!pageDealtWith(*player));
        QTRY_COMPARE_WITH_TIMEOUT(pushTimer(*player)->interval(), 0, 5000);
        QVERIFY(!pushTimer(*player)->isActive());
        QVERIFY(player->prompts.shown().isEmpty());
        QVERIFY(player->window->isVisible());
    }

    void startUp_noConnection_noRequestAndPushOff()
    {
        m_server.route(kPath, page(kLocal));
        auto player = makePlayer(false);
        QVERIFY(player->load());
        QCOMPARE(pushTimer(*player)->interval(), 0);
        QVERIFY(!pushTimer(*player)->isActive());
        tick(player->window.get(), 3);
        QTest::qWait(200);
        QCOMPARE(hits(), 0);
        QVERIFY(!shown<Dialog>(*player));
    }

    void samplePage_readsAsPublished()
    {
        const QByteArray sample = readAll(QStringLiteral(TAMSEL_SAMPLE_PAGE));
        const QString text = NoticePage::DecodeUtf8(sample);
        QCOMPARE(NoticePage::version(text).value_or(QString()), kLocal);
        QString files = NoticePage::fileListSection(text).value_or(QString());
        NoticePage::cleanUpFileList(files);
        const QStringList entries = NoticePage::paragraphs(files.mid(3));
        QCOMPARE(entries.size(), 3);
        QCOMPARE(
            entries.at(1),
            QStringLiteral("2.KivuUpdate\"https://example.org/share/?file=KivuUpdate&v=13.05.22\" 下载"));

        m_server.route(kPath, sample);
        auto player = makePlayer(true);
        QVERIFY(player->load());
        QTRY_VERIFY_WITH_TIMEOUT(pushTimer(*player)->isActive(), 5000);
        tick(player->window.get(), 3);
        QVERIFY(shown<Dialog>(*player));
        QCOMPARE(child<QPlainTextEdit>(shown<Dialog>(*player), "Text1")->toPlainText(),
                 QStringLiteral("欢迎使用 TamselMP3Player！\n新版本已经发布，点击“检查更新”即可升级。"));
    }

    // ---- The push window ----

    void pushWindow_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("connectedWhenItOpens");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("pushGoesOn");
        const QString lines = QStringLiteral("第一行\n第二行");
        QTest::newRow("确定") << "OKButton" << true << lines << true;
        QTest::newRow("知道了，不再提醒") << "CancelButton" << true << lines << false;
        QTest::newRow("connection lost since start-up")
            << "OKButton" << false << QStringLiteral("网络连接失败，暂时无法获取消息推送内容") << true;
    }

    void pushWindow()
    {
        QFETCH(QString, button);
        QFETCH(bool, connectedWhenItOpens);
        QFETCH(QString, text);
        QFETCH(bool, pushGoesOn);

        // With the skin, whose dialogs have light text: the message stays red.
        m_server.route(kPath, page(kLocal));
        auto player = makePlayer(true);
        QVERIFY(QFile::copy(QStringLiteral(TAMSEL_SKIN_FILE),
                            player->dir.filePath(QStringLiteral("Tamsel.Skin"))));
        const auto unskin = qScopeGuard([] { qApp->setStyleSheet(QString()); });
        QVERIFY(player->load());
        QTRY_VERIFY_WITH_TIMEOUT(pushTimer(*player)->isActive(), 5000);
        player->connectivity.connected = connectedWhenItOpens;

        tick(player->window.get(), 2);
        QVERIFY(!shown<Dialog>(*player));
        tick(player->window.get());
        Dialog *dialog = shown<Dialog>(*player);
        QVERIFY(dialog);
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("消息推送："));
        QCOMPARE(dialog->size(), QSize(402, 213));
        auto *text1 = child<QPlainTextEdit>(dialog, "Text1");
        QCOMPARE(text1->toPlainText(), text);
        text1->ensurePolished();
        QCOMPARE(text1->palette().color(QPalette::Text), QColor(255, 0, 0));
        auto *ok = child<QPushButton>(dialog, "OKButton");
        auto *cancel = child<QPushButton>(dialog, "CancelButton");
        QCOMPARE(ok->text(), QStringLiteral("确定"));
        QCOMPARE(cancel->text(), QStringLiteral("知道了，不再提醒"));
        QCOMPARE(dialog->focusWidget(), ok);
        QCOMPARE(ok->nextInFocusChain(), cancel);

        QTest::mouseClick(child<QPushButton>(dialog, qPrintable(button)), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!player->window->findChild<Dialog *>(), 2000);
        QCOMPARE(pushTimer(*player)->isActive(), pushGoesOn);
        QCOMPARE(pushTimer(*player)->interval(), pushGoesOn ? kNever : 0);
        // Once per run: later ticks only count.
        tick(player->window.get(), 5);
        QVERIFY(!shown<Dialog>(*player));
        QVERIFY(player->window->isVisible());
    }

    void push_runningTimer_opensTheWindowOnTheThirdTickOnly()
    {
        constexpr int kTick = 150;
        QElapsedTimer clock;
        clock.start();
        m_server.route(kPath, page(kLocal));
        auto player = makePlayer(true, [](PlayerServices &s) { s.pushTickMs = kTick; });
        QVERIFY(player->load());
        QTRY_VERIFY_WITH_TIMEOUT(shown<Dialog>(*player), 10000);
        // Not before the third tick (a coarse timer may fire a little early).
        QVERIFY2(clock.elapsed() >= 3 * kTick * 9 / 10, qPrintable(QString::number(clock.elapsed())));
        QTest::mouseClick(child<QPushButton>(shown<Dialog>(*player), "OKButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!shown<Dialog>(*player), 2000);
        QTest::qWait(5 * kTick);
        QVERIFY(!shown<Dialog>(*player));
    }

    void pushMessage_data()
    {
        QTest::addColumn<QString>("pushText");
        QTest::addColumn<QString>("shown");
        QTest::newRow("page layout") << "<p>A<p>B<p>"
                                     << "A\r\nB";
        QTest::newRow("before the first paragraph dropped") << "x<p>A<p>"
                                                            << "A";
        QTest::newRow("no paragraph: unchanged, mark-up too")
            << "<b>Hi</b> <span style=\"color: red\">x</span>"
            << "<b>Hi</b> <span style=\"color: red\">x</span>";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("only the closing paragraph") << "<p>"
                                                    << "";
        QTest::newRow("one line, one paragraph: words kept") << "<p>A"
                                                             << "A";
        QTest::newRow("four characters: all four go") << "<p>AB"
                                                      << "";
        QTest::newRow("last line without closing paragraph") << "<p>A<p>Bcd"
                                                             << "A\r\nB";
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
        QTest::addColumn<int>("updater"); // 0 missing, 1 there, 2 there but cannot start
        QTest::addColumn<QStringList>("expectedBoxes");
        QTest::addColumn<bool>("updaterStarted");
        QTest::addColumn<bool>("websiteOpened");

        const QString latest = QStringLiteral("TamselMP3Player提示：|您使用的已经是最新版本");
        const auto offer = [](const QString &v) {
            return QStringLiteral("更新提示：|发现新版本 Ver：%1 是否需要更新？").arg(v);
        };
        const QString damaged = QStringLiteral("提示:|更新文件已损坏,是否去官网重新下载最新完整版程序？");
        const QString newer = QStringLiteral("13.06.01");
        const int ok = Prompts::AnswerOk;
        const int cancel = Prompts::AnswerCancel;
        const int yes = Prompts::AnswerYes;
        const int no = Prompts::AnswerNo;

        QTest::newRow("same version")
            << true << respond(page(kLocal)) << QList<int>() << 1 << QStringList{latest} << false << false;
        QTest::newRow("newer, cancelled") << true << respond(page(newer)) << QList<int>{cancel} << 1
                                          << QStringList{offer(newer)} << false << false;
        QTest::newRow("newer, accepted") << true << respond(page(newer)) << QList<int>{ok} << 1
                                         << QStringList{offer(newer)} << true << false;
        QTest::newRow("updater missing, to the website")
            << true << respond(page(newer)) << QList<int>{ok, yes} << 0 << QStringList{offer(newer), damaged}
            << false << true;
        QTest::newRow("updater missing, declined") << true << respond(page(newer)) << QList<int>{ok, no} << 0
                                                   << QStringList{offer(newer), damaged} << false << false;
        QTest::newRow("updater cannot start") << true << respond(page(newer)) << QList<int>{ok, no} << 2
                                              << QStringList{offer(newer), damaged} << false << false;
        QTest::newRow("older is offered too") << true << respond(page("01.00.00")) << QList<int>{cancel} << 1
                                              << QStringList{offer("01.00.00")} << false << false;
        QTest::newRow("colon after Ver is always new")
            << true << respond(page(":" + kLocal)) << QList<int>{cancel} << 1
            << QStringList{offer(":" + kLocal.left(7))} << false << false;
        QTest::newRow("offline") << false << respond(page(kLocal)) << QList<int>() << 1 << QStringList()
                                 << false << false;
        QTest::newRow("error status") << true << respond(page(kLocal), HttpServer::NoFault, 404)
                                      << QList<int>() << 1 << QStringList() << false << false;
        QTest::newRow("stalled page") << true << respond(page(kLocal), HttpServer::Stall) << QList<int>() << 1
                                      << QStringList() << false << false;
        QTest::newRow("no version on the page") << true << respond(page(kLocal).replace("Ver", "ver"))
                                                << QList<int>() << 1 << QStringList() << false << false;
    }

    void update_decides()
    {
        QFETCH(bool, connected);
        QFETCH(HttpServer::Response, response);
        QFETCH(QList<int>, answers);
        QFETCH(int, updater);
        QFETCH(QStringList, expectedBoxes);
        QFETCH(bool, updaterStarted);
        QFETCH(bool, websiteOpened);

        m_server.route(kPath, response);
        auto player = makePlayer(false);
        QVERIFY(player->load());
        player->connectivity.connected = connected;
        if (updater > 0)
            writeFile(programFile(*player, "KivuUpdate"), "#!/bin/sh\n", 0755);
        player->shell.startSucceeds = updater != 2;
        for (int answer : answers)
            player->prompts.answerNext(answer);

        player->window->showUpdate();
        QVERIFY(shown<Update>(*player));
        QTRY_VERIFY_WITH_TIMEOUT(!player->window->findChild<Update *>(), 10000);

        QCOMPARE(boxes(player->prompts), expectedBoxes);
        QCOMPARE(player->prompts.unexpected(), 0);
        QCOMPARE(hits(), connected ? 1 : 0);
        const QStringList started{player->dir.path() + QLatin1Char('/') +
                                  AppInfo::executableName("KivuUpdate")};
        QCOMPARE(player->shell.programs, updaterStarted || updater == 2 ? started : QStringList());
        QCOMPARE(player->shell.websites,
                 websiteOpened ? QStringList{player->services.noticeUrl} : QStringList());
        // Starting the updater ends the player at once; nothing else does.
        QCOMPARE(player->quits, updaterStarted ? 1 : 0);
        QCOMPARE(player->window->isVisible(), !updaterStarted);
        if (updaterStarted) {
            QTest::qWait(300);
            for (QTimer *t : player->window->findChildren<QTimer *>())
                QVERIFY2(!t->isActive(), qPrintable(t->objectName()));
        }
    }

    void update_timeline_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("decision");
        QTest::addColumn<int>("boxesAtTheEnd");
        QTest::newRow("same version") << true << QStringLiteral("暂无更新") << 1;
        QTest::newRow("offline") << false << QStringLiteral("网络连接失败！") << 0;
    }

    void update_timeline()
    {
        QFETCH(bool, connected);
        QFETCH(QString, decision);
        QFETCH(int, boxesAtTheEnd);

        m_server.route(kPath, page(kLocal));
        auto player = makePlayer(connected, [](PlayerServices &s) { s.updateTickMs = kNever; });
        player->window->move(100, 50);
        // The main window is not loaded, so the only window record is the strip's.
        QVERIFY(!WindowPresence::exists(QStringLiteral("TamselMP3Player")));
        player->window->showUpdate();
        Update *strip = shown<Update>(*player);
        QVERIFY(strip);
        QCOMPARE(strip->windowTitle(), QStringLiteral("TamselMP3Player"));
        QVERIFY(strip->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(strip->size(), QSize(312, 46));
        const QRect main = player->window->frameGeometry();
        QCOMPARE(strip->pos(), QPoint(main.x() + main.width() / 2 - 156, main.y() + main.height() + 13));
        QVERIFY(WindowPresence::exists(QStringLiteral("TamselMP3Player")));
        auto *bar = child<QProgressBar>(strip, "ProgressBar1");
        auto *label = child<QLabel>(strip, "Label1");
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(label->text(), QStringLiteral("正在检查更新..."));
        QCOMPARE(child<QLineEdit>(strip, "Text1")->text(), kLocal);
        QVERIFY(child<QLineEdit>(strip, "Text1")->isHidden() && child<QLineEdit>(strip, "Text2")->isHidden());
        QVERIFY(child<QTimer>(strip, "Timer1")->isActive());
        QVERIFY(child<QObject>(strip, "Inet1"));
        // Only the bar and the status line are seen.
        QTRY_VERIFY_WITH_TIMEOUT(!strip->mask().isEmpty(), 2000);
        QVERIFY(strip->mask().contains(QPoint(150, 5)) && strip->mask().contains(QPoint(156, 30)));
        QVERIFY(!strip->mask().contains(QPoint(5, 40)));
        if (connected)
            QTRY_COMPARE_WITH_TIMEOUT(child<QLineEdit>(strip, "Text2")->text(), kLocal, 5000);

        tick(strip, 9);
        QCOMPARE(label->text(), QStringLiteral("正在检查更新..."));
        tick(strip);
        QCOMPARE(label->text(), QStringLiteral("正在检测版本信息..."));
        tick(strip, 80);
        QCOMPARE(label->text(), decision);
        tick(strip, 9);
        QVERIFY(strip->isVisible());
        QVERIFY(player->prompts.shown().isEmpty());
        tick(strip);
        QCOMPARE(bar->value(), 100);
        QVERIFY(!strip->isVisible());
        QCOMPARE(player->prompts.shown().size(), boxesAtTheEnd);
        QVERIFY(!WindowPresence::exists(QStringLiteral("TamselMP3Player")));
    }

    void update_latePage_decisionHoldsAt90_andSecondPressOnlyRaises()
    {
        m_server.route(kPath, respond(page("13.06.01"), HttpServer::HoldAnswer));
        auto player = makePlayer(true, [](PlayerServices &s) { s.transferTimeoutMs = 15000; });
        player->prompts.answerNext(Prompts::AnswerCancel);
        player->window->showUpdate();
        Update *strip = shown<Update>(*player);
        QVERIFY(strip);
        auto *bar = child<QProgressBar>(strip, "ProgressBar1");
        QTRY_COMPARE_WITH_TIMEOUT(bar->value(), Update::kDecision, 5000);
        QTest::qWait(100);
        QCOMPARE(bar->value(), Update::kDecision);
        QVERIFY(player->prompts.shown().isEmpty());

        player->window->showUpdate();
        QCOMPARE(player->window->findChildren<Update *>(), QList<Update *>{strip});
        QTest::qWait(100);
        QCOMPARE(hits(), 1);

        m_server.releaseHeld();
        QTRY_VERIFY_WITH_TIMEOUT(!player->window->findChild<Update *>(), 5000);
        QCOMPARE(boxes(player->prompts), QStringList{"更新提示：|发现新版本 Ver：13.06.01 是否需要更新？"});

        // Once the strip has gone, a press checks again.
        player->window->showUpdate();
        QTRY_VERIFY_WITH_TIMEOUT(hits() == 2 && m_server.heldCount() == 1, 5000);
    }

    // ---- Updater hand-off ----

    void handOff_data()
    {
        QTest::addColumn<Holder>("holder");
        QTest::addColumn<bool>("oldThere");
        QTest::addColumn<bool>("newBeforeStart");
        QTest::newRow("new file from before the start") << NoWindow << true << true;
        QTest::newRow("written later, while an updater window is open here") << WindowHere << true << false;
        QTest::newRow("updater process closes its window") << ProcessCloses << true << true;
        // Its record stays behind, unlocked, and no file-system event says so.
        QTest::newRow("updater process killed") << ProcessKilled << true << true;
        QTest::newRow("only the new file: it keeps its name") << NoWindow << false << true;
    }

    void handOff()
    {
        QFETCH(Holder, holder);
        QFETCH(bool, oldThere);
        QFETCH(bool, newBeforeStart);

        std::unique_ptr<WindowPresence::Registration> presence;
        QProcess process;
        if (holder == WindowHere)
            presence = WindowPresence::announce(kUpdaterCaption);
        if (holder == ProcessCloses || holder == ProcessKilled) {
            process.start(QStringLiteral(TAMSEL_HOLD_WINDOW), {kUpdaterCaption});
            QVERIFY(process.waitForReadyRead(10000));
            QCOMPARE(process.readAll().trimmed(), QByteArray("ready"));
        }
        QCOMPARE(WindowPresence::exists(kUpdaterCaption), holder != NoWindow);

        auto player = makePlayer(false);
        const QString updater = programFile(*player, "KivuUpdate");
        const QString fresh = programFile(*player, "NewKivuUpdate");
        if (oldThere)
            writeFile(updater, "old", 0755);
        if (newBeforeStart)
            writeFile(fresh, "new", 0644);
        QVERIFY(player->load());
        QTest::qWait(300);
        if (!newBeforeStart)
            writeFile(fresh, "new", 0644);
        if (holder != NoWindow || !oldThere) {
            QTest::qWait(700);
            QCOMPARE(readAll(fresh), QByteArray("new"));
            QCOMPARE(readAll(updater), oldThere ? QByteArray("old") : QByteArray());
        }
        if (!oldThere)
            return;

        presence.reset();
        if (holder == ProcessKilled)
            process.kill();
        process.closeWriteChannel();
        QVERIFY(holder == NoWindow || holder == WindowHere || process.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(fresh), 5000);
        QCOMPARE(readAll(updater), QByteArray("new"));
        QCOMPARE(modeOf(updater), fs::perms(0755));
    }

    void handOff_failedRename_keepsBothFilesAndTriesAgain()
    {
        QList<QPair<QByteArray, QByteArray>> seen;
        auto player = makePlayer(false, [&](PlayerServices &s) {
            s.replaceFile = [&](const QString &from, const QString &to, QString *error) {
                seen.append({readAll(from), readAll(to)});
                if (seen.size() < 3) {
                    *error = QStringLiteral("busy");
                    return false;
                }
                return AtomicFile::replace(from, to, error);
            };
        });
        const QString updater = programFile(*player, "KivuUpdate");
        const QString fresh = programFile(*player, "NewKivuUpdate");
        writeFile(updater, "old", 0755);
        writeFile(fresh, "new", 0644);
        QVERIFY(player->load());
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 1, 5000);
        // The failure loses nothing and the player goes on.
        QCOMPARE(readAll(updater), QByteArray("old"));
        QCOMPARE(readAll(fresh), QByteArray("new"));
        QVERIFY(player->window->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(fresh), 10000);
        using Seen = QPair<QByteArray, QByteArray>;
        QCOMPARE(seen, QList<Seen>(3, Seen("new", "old")));
        QCOMPARE(readAll(updater), QByteArray("new"));
    }

    void killUD_returnsAtOnce_andSwapsAfterTheRest()
    {
        auto player = makePlayer(false, [](PlayerServices &s) { s.handOffDelayMs = 400; });
        const QString updater = programFile(*player, "KivuUpdate");
        writeFile(updater, "old", 0755);
        writeFile(programFile(*player, "NewKivuUpdate"), "new", 0644);
        // Not loaded: no watch, only the call.
        player->window->killUD();
        QCOMPARE(readAll(updater), QByteArray("old"));
        QTRY_COMPARE_WITH_TIMEOUT(readAll(updater), QByteArray("new"), 5000);
        QVERIFY(!QFile::exists(programFile(*player, "NewKivuUpdate")));
    }
};

QTEST_MAIN(NoticePlayerTest)
#include "test_notice_player.moc"
