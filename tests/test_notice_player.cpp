// The player's side of the notice page against a loopback site: the push
// message read at start-up, the update check, and the hand-off of a new updater.
#include "AppInfo.h"
#include "Dialog.h"
#include "Form1.h"
#include "NoticePage.h"
#include "PlayerFixture.h"
#include "PushMessage.h"
#include "Skin.h"
#include "TestSetUp.h"
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
#include <QTimer>
#include <QtTest>

#include <filesystem>

namespace fs = std::filesystem;
using Response = HttpServer::Response;

namespace {

const QString kLocal = AppInfo::localVersionText();
const QString kUpdaterCaption = QStringLiteral("TamselMP3Player 更新程序");
const QString kPath = QStringLiteral("/notice.html");
constexpr int kNever = PlayerFixture::kNever;
// Who holds an updater window while a new updater file waits.
enum Holder { NoWindow, WindowHere, ProcessCloses, ProcessKilled };

// How the start-up read of the page goes, and the push window after it.
struct Push
{
    Response response;
    QString pushSwitch = {}, pushText = {}; // as read and cut from the page
    QString shown = {};                     // in the push window, when the switch is on
    const char *button = "OKButton";        // that closes the push window
    bool goesOn = true;                     // the push, after that
    bool connectedWhenItOpens = true, connected = true;
    int tickMs = 0; // of a running push timer; 0: the test ticks by hand
};

struct Decision
{
    Response response;
    QList<int> answers = {};
    QStringList boxes = {};
    int updater = 1; // 0 missing, 1 there, 2 there but cannot start
    bool started = false, website = false, connected = true;
};

struct HandOff
{
    Holder holder = NoWindow;
    bool oldThere = true, newBeforeStart = true;
    int failures = 0;    // renames that fail before one works
    bool direct = false; // not loaded, no watch: only a call of killUD
    bool program = true; // the new file is a whole program for this machine
};

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

Response respond(const QByteArray &body, HttpServer::Fault fault = HttpServer::NoFault, int status = 200)
{
    Response response;
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
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();
    fs::permissions(QFileInfo(path).filesystemFilePath(), fs::perms(mode));
}

// A real program of this machine, standing in for a new updater.
const QByteArray &program()
{
    static const QByteArray bytes = readAll(QStandardPaths::findExecutable(QStringLiteral("true")));
    return bytes;
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
    const QList<T *> windows = player.window->findChildren<T *>();
    const auto it =
        std::find_if(windows.begin(), windows.end(), [](T *window) { return window->isVisible(); });
    return it == windows.end() ? nullptr : *it;
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
        return player.window->findChild<PushMessage *>()->findChild<QTimer *>(QStringLiteral("Timer1"));
    }

    // The page has been read, or given up: push is then on or off for good.
    static bool pageDealtWith(const PlayerFixture &player)
    {
        return pushTimer(player)->isActive() || pushTimer(player)->interval() == 0;
    }

    static QString programFile(const PlayerFixture &player, const char *name)
    {
        return player.dir.filePath(AppInfo::executableName(QLatin1String(name)));
    }

    // Requests for the notice page since the test began.
    int hits() const { return m_server.hits(kPath) - m_hitsBefore; }

    LoopbackSite m_site;
    HttpServer &m_server = m_site.server;
    int m_hitsBefore = 0;

private slots:
    void initTestCase() { QVERIFY(m_site.start()); }

    void init()
    {
        m_server.clearRoutes();
        m_hitsBefore = m_server.hits(kPath);
    }

    // ---- The push message, read at start-up ----

    void push_data()
    {
        QTest::addColumn<Push>("c");
        const Response normal = respond(page(kLocal));
        const QString cleaned = QStringLiteral("<p>第一行<p>第二行<p>");
        const QString lines = QStringLiteral("第一行\n第二行");
        // On: the push window opens on the third tick, and its button decides whether it ever comes back.
        QTest::newRow("on, 确定") << Push{normal, "开", cleaned, lines};
        QTest::newRow("on, 知道了，不再提醒") << Push{normal, "开", cleaned, lines, "CancelButton", false};
        QTest::newRow("on, connection lost since start-up")
            << Push{normal, "开", cleaned, "网络连接失败，暂时无法获取消息推送内容", "OKButton", true, false};
        QTest::newRow("on, running timer") << Push{
            .response = normal, .pushSwitch = "开", .pushText = cleaned, .shown = lines, .tickMs = 150};
        QTest::newRow("on, the published sample")
            << Push{respond(readAll(QStringLiteral(TAMSEL_SAMPLE_PAGE))), "开",
                    "<p>欢迎使用 TamselMP3Player！<p>新版本已经发布，点击“检查更新”即可升级。<p>",
                    "欢迎使用 TamselMP3Player！\n新版本已经发布，点击“检查更新”即可升级。"};
        QTest::newRow("on, empty message") << Push{respond("<p>消息推送：开最新完整版</p>"), "开"};
        QTest::newRow("switch off, text still cut") << Push{respond(page(kLocal, "关")), "关", cleaned};
        QTest::newRow("full-width space is off") << Push{respond(page(kLocal, "\u3000")), "\u3000", cleaned};
        // From here on the push is off and nothing was taken from the page.
        QTest::newRow("no end marker") << Push{respond(page(kLocal).replace("最新完整版", ""))};
        QTest::newRow("no push marker") << Push{respond(page(kLocal).replace("消息推送：", ""))};
        QTest::newRow("end marker first")
            << Push{respond("最新完整版" + page(kLocal).replace("最新完整版", ""))};
        QTest::newRow("error status") << Push{respond(page(kLocal), HttpServer::NoFault, 500)};
        QTest::newRow("body cut short") << Push{respond(page(kLocal), HttpServer::CutBody)};
        QTest::newRow("closed at once") << Push{respond(page(kLocal), HttpServer::CloseAtOnce)};
        QTest::newRow("stalls") << Push{respond(page(kLocal), HttpServer::Stall)};
        QTest::newRow("never answers") << Push{respond(page(kLocal), HttpServer::NeverAnswer)};
        QTest::newRow("over 4 MB") << Push{respond(page(kLocal) + QByteArray(4 << 20, ' '))};
        QTest::newRow("not text") << Push{respond(QByteArray("\xff\xfe\x00\x01", 4))};
        QTest::newRow("no connection: no request") << Push{.response = normal, .connected = false};
    }

    void push()
    {
        QFETCH(Push, c);
        m_server.route(kPath, c.response);
        auto player =
            makePlayer(c.connected, [&](PlayerServices &s) { s.pushTickMs = c.tickMs ? c.tickMs : kNever; });
        // With the skin, whose dialogs have light text: the message stays red.
        QVERIFY(QFile::copy(QStringLiteral(TAMSEL_SKIN_FILE), player->dir.filePath("Tamsel.Skin")));
        const auto unskin = qScopeGuard([] { qApp->setStyleSheet(QString()); });
        // Whether the push window was up after each tick of the push timer.
        QList<bool> upAfterTick;
        connect(pushTimer(*player), &QTimer::timeout, this,
                [&] { upAfterTick.append(shown<Dialog>(*player) != nullptr); });
        QVERIFY(player->load());
        // Start-up is over before the page has come, and the window takes clicks meanwhile.
        QVERIFY(player->window->isVisible());
        QCOMPARE(pageDealtWith(*player), !c.connected);
        if (c.response.fault == HttpServer::NeverAnswer)
            QTRY_COMPARE_WITH_TIMEOUT(hits(), 1, 5000);
        player->click("imgLoop");
        QCOMPARE(player->label("lblLoop")->text(), QStringLiteral("顺序循环"));
        QCOMPARE(pageDealtWith(*player), !c.connected);
        QTRY_VERIFY_WITH_TIMEOUT(pageDealtWith(*player), 5000);
        const bool on = c.pushSwitch == QStringLiteral("开");
        QCOMPARE(pushTimer(*player)->isActive(), on);
        QCOMPARE(pushTimer(*player)->interval(), on ? player->services.pushTickMs : 0);
        QCOMPARE(player->window->pushSwitch(), c.pushSwitch);
        QCOMPARE(player->window->pushText(), c.pushText);
        if (c.tickMs) {
            QTRY_VERIFY_WITH_TIMEOUT(shown<Dialog>(*player), 10000);
            // On the third tick, not before.
            QCOMPARE(upAfterTick.mid(0, 3), QList<bool>({false, false, true}));
        } else {
            player->connectivity.connected = c.connected && c.connectedWhenItOpens;
            tick(player->window.get(), 2);
            QVERIFY(!shown<Dialog>(*player));
            tick(player->window.get());
        }
        Dialog *dialog = shown<Dialog>(*player);
        QCOMPARE(dialog != nullptr, on);
        if (dialog) {
            QVERIFY(!dialog->isModal());
            QCOMPARE(dialog->windowTitle(), QStringLiteral("消息推送："));
            QCOMPARE(dialog->size(), QSize(402, 213));
            auto *text1 = child<QPlainTextEdit>(dialog, "Text1");
            QCOMPARE(text1->toPlainText(), c.shown);
            text1->ensurePolished();
            QCOMPARE(text1->palette().color(QPalette::Text), QColor(255, 0, 0));
            auto *ok = child<QPushButton>(dialog, "OKButton");
            auto *cancel = child<QPushButton>(dialog, "CancelButton");
            QCOMPARE(ok->text(), QStringLiteral("确定"));
            QCOMPARE(cancel->text(), QStringLiteral("知道了，不再提醒"));
            QVERIFY(dialog->focusWidget() == ok && ok->nextInFocusChain() == cancel);
            QTest::mouseClick(child<QPushButton>(dialog, c.button), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!player->window->findChild<Dialog *>(), 2000);
            QCOMPARE(pushTimer(*player)->isActive(), c.goesOn);
            QCOMPARE(pushTimer(*player)->interval(), c.goesOn ? player->services.pushTickMs : 0);
            // Once per run: later ticks only count.
            if (c.tickMs)
                QTest::qWait(5 * c.tickMs);
            else
                tick(player->window.get(), 5);
            QVERIFY(!shown<Dialog>(*player));
        }
        if (!c.connected)
            QTest::qWait(200);
        // At least one request: Qt asks once more when a connection closes without a word.
        QCOMPARE(hits() >= 1, c.connected);
        // Never the damage box: the site is not part of the installation.
        QVERIFY(player->prompts.shown().isEmpty());
        QVERIFY(player->window->isVisible());
        QCOMPARE(player->quits, 0);
    }

    void pushMessage_data()
    {
        QTest::addColumn<QString>("pushText");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char *name, const char *pushText, const char *shown) {
            QTest::newRow(name) << QString::fromUtf8(pushText) << QString::fromUtf8(shown);
        };
        row("page layout", "<p>A<p>B<p>", "A\r\nB");
        row("before the first paragraph dropped", "x<p>A<p>", "A");
        const char *markUp = "<b>Hi</b> <span style=\"color: red\">x</span>";
        row("no paragraph: unchanged, mark-up too", markUp, markUp);
        row("empty", "", "");
        row("only the closing paragraph", "<p>", "");
        row("one line, one paragraph: words kept", "<p>A", "A");
        row("four characters: all four go", "<p>AB", "");
        row("last line without closing paragraph", "<p>A<p>Bcd", "A\r\nB");
        const QString xs(Dialog::kShownLimit - 1, QLatin1Char('x'));
        QTest::newRow("one 4 MB line: cut before a surrogate pair, not through it")
            << QStringLiteral("<p>") + xs + QStringLiteral("\U0001F3B5").repeated(1 << 20) +
                   QStringLiteral("<p>")
            << xs + QChar(0x2026);
    }

    void pushMessage()
    {
        QFETCH(QString, pushText);
        QFETCH(QString, shown);
        QCOMPARE(Dialog::messageText(pushText), shown);
    }

    void samplePage_readsAsPublished()
    {
        const QString text = NoticePage::DecodeUtf8(readAll(QStringLiteral(TAMSEL_SAMPLE_PAGE)));
        QCOMPARE(NoticePage::version(text).value_or(QString()), kLocal);
        QString files = NoticePage::fileListSection(text).value_or(QString());
        NoticePage::cleanUpFileList(files);
        const QStringList entries = NoticePage::paragraphs(files.mid(3));
        QCOMPARE(entries.size(), 3);
        QCOMPARE(
            entries.at(1),
            QStringLiteral("2.KivuUpdate\"https://example.org/share/?file=KivuUpdate&v=13.05.22\" 下载"));
    }

    // ---- Update check ----

    void update_decides_data()
    {
        QTest::addColumn<Decision>("c");
        const QString latest = QStringLiteral("TamselMP3Player提示：|您使用的已经是最新版本");
        const auto offer = [](const QString &v) {
            return QStringLiteral("更新提示：|发现新版本 Ver：%1 是否需要更新？").arg(v);
        };
        const QString damaged = QStringLiteral("提示:|更新文件已损坏,是否去官网重新下载最新完整版程序？");
        const QString newer = QStringLiteral("13.06.01");
        const int ok = Prompts::AnswerOk, cancel = Prompts::AnswerCancel;
        const int yes = Prompts::AnswerYes, no = Prompts::AnswerNo;

        QTest::newRow("same version") << Decision{respond(page(kLocal)), {}, {latest}};
        QTest::newRow("newer, cancelled") << Decision{respond(page(newer)), {cancel}, {offer(newer)}};
        QTest::newRow("newer, accepted") << Decision{respond(page(newer)), {ok}, {offer(newer)}, 1, true};
        QTest::newRow("updater missing, to the website")
            << Decision{respond(page(newer)), {ok, yes}, {offer(newer), damaged}, 0, false, true};
        QTest::newRow("updater missing, declined")
            << Decision{respond(page(newer)), {ok, no}, {offer(newer), damaged}, 0};
        QTest::newRow("updater cannot start")
            << Decision{respond(page(newer)), {ok, no}, {offer(newer), damaged}, 2};
        QTest::newRow("older is offered too")
            << Decision{respond(page("01.00.00")), {cancel}, {offer("01.00.00")}};
        QTest::newRow("colon after Ver is always new")
            << Decision{respond(page(":" + kLocal)), {cancel}, {offer(":" + kLocal.left(7))}};
        QTest::newRow("offline") << Decision{respond(page(kLocal)), {}, {}, 1, false, false, false};
        QTest::newRow("error status") << Decision{respond(page(kLocal), HttpServer::NoFault, 404)};
        QTest::newRow("stalled page") << Decision{respond(page(kLocal), HttpServer::Stall)};
        QTest::newRow("no version on the page") << Decision{respond(page(kLocal).replace("Ver", "ver"))};
    }

    void update_decides()
    {
        QFETCH(Decision, c);
        m_server.route(kPath, c.response);
        auto player = makePlayer(false);
        QVERIFY(player->load());
        player->connectivity.connected = c.connected;
        if (c.updater > 0)
            writeFile(programFile(*player, "KivuUpdate"), "#!/bin/sh\n", 0755);
        player->shell.startSucceeds = c.updater != 2;
        for (int answer : c.answers)
            player->prompts.answerNext(answer);

        player->window->showUpdate();
        QVERIFY(shown<Update>(*player));
        QTRY_VERIFY_WITH_TIMEOUT(!player->window->findChild<Update *>(), 10000);

        QCOMPARE(boxes(player->prompts), c.boxes);
        QCOMPARE(player->prompts.unexpected(), 0);
        QCOMPARE(hits(), c.connected ? 1 : 0);
        const QStringList started{programFile(*player, "KivuUpdate")};
        QCOMPARE(player->shell.programs, c.started || c.updater == 2 ? started : QStringList());
        QCOMPARE(player->shell.websites, c.website ? QStringList{player->services.noticeUrl} : QStringList());
        // Starting the updater ends the player at once; nothing else does.
        QCOMPARE(player->quits, c.started ? 1 : 0);
        QCOMPARE(player->window->isVisible(), !c.started);
        if (c.started) {
            QTest::qWait(300);
            for (QTimer *t : player->window->findChildren<QTimer *>())
                QVERIFY2(!t->isActive(), qPrintable(t->objectName()));
        }
    }

    void update_timeline_data()
    {
        QTest::addColumn<Response>("response");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("decision");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("same version") << respond(page(kLocal)) << true << QStringLiteral("暂无更新")
                                      << QStringList{"TamselMP3Player提示：|您使用的已经是最新版本"};
        QTest::newRow("offline") << respond(page(kLocal)) << false << QStringLiteral("网络连接失败！")
                                 << QStringList();
        // The bar holds at the decision until the page comes; a second press only raises the strip.
        QTest::newRow("late page") << respond(page("13.06.01"), HttpServer::HoldAnswer) << true
                                   << QStringLiteral("正在检测版本信息...")
                                   << QStringList{"更新提示：|发现新版本 Ver：13.06.01 是否需要更新？"};
    }

    void update_timeline()
    {
        QFETCH(Response, response);
        QFETCH(bool, connected);
        QFETCH(QString, decision);
        QFETCH(QStringList, boxes);

        const bool late = response.fault == HttpServer::HoldAnswer;
        m_server.route(kPath, response);
        auto player = makePlayer(connected, [](PlayerServices &s) {
            s.updateTickMs = kNever;
            s.transferTimeoutMs = 15000;
        });
        player->prompts.answerNext(Prompts::AnswerCancel);
        player->window->move(100, 50);
        // The main window is not loaded, so the only window record is the strip's.
        const QString caption = QStringLiteral("TamselMP3Player");
        QVERIFY(!WindowPresence::exists(caption));
        player->window->showUpdate();
        Update *strip = shown<Update>(*player);
        QVERIFY(strip && WindowPresence::exists(caption));
        QCOMPARE(strip->windowTitle(), caption);
        QVERIFY(strip->windowFlags() & Qt::FramelessWindowHint);
        const QRect main = player->window->frameGeometry();
        QCOMPARE(strip->geometry(),
                 QRect(main.x() + main.width() / 2 - 156, main.y() + main.height() + 13, 312, 46));
        auto *bar = child<QProgressBar>(strip, "ProgressBar1");
        auto *label = child<QLabel>(strip, "Label1");
        auto *text2 = child<QLineEdit>(strip, "Text2");
        QVERIFY(bar->maximum() == 100 && bar->value() == 0);
        QCOMPARE(label->text(), QStringLiteral("正在检查更新..."));
        QCOMPARE(child<QLineEdit>(strip, "Text1")->text(), kLocal);
        QVERIFY(child<QLineEdit>(strip, "Text1")->isHidden() && text2->isHidden());
        QVERIFY(child<QTimer>(strip, "Timer1")->isActive() && child<QObject>(strip, "Inet1"));
        // Only the bar and the status line are seen.
        QTRY_VERIFY_WITH_TIMEOUT(!strip->mask().isEmpty(), 2000);
        QVERIFY(strip->mask().contains(QPoint(150, 5)) && strip->mask().contains(QPoint(156, 30)));
        QVERIFY(!strip->mask().contains(QPoint(5, 40)));
        if (connected)
            QTRY_VERIFY_WITH_TIMEOUT(late ? hits() == 1 : text2->text() == kLocal, 5000);

        for (int value = 1; value < 100; ++value) {
            tick(strip);
            QCOMPARE(label->text(), value < 10   ? QStringLiteral("正在检查更新...")
                                    : value < 90 ? QStringLiteral("正在检测版本信息...")
                                                 : decision);
        }
        if (late) {
            QCOMPARE(bar->value(), Update::kDecision);
            player->window->showUpdate();
            QCOMPARE(player->window->findChildren<Update *>(), QList<Update *>{strip});
            QTest::qWait(100);
            QCOMPARE(hits(), 1);
            m_server.releaseHeld();
            QTRY_COMPARE_WITH_TIMEOUT(text2->text(), QStringLiteral("13.06.01"), 5000);
        }
        QVERIFY(strip->isVisible() && player->prompts.shown().isEmpty());
        tick(strip);
        QCOMPARE(bar->value(), late ? Update::kDecision + 1 : 100);
        QVERIFY(!strip->isVisible() && !WindowPresence::exists(caption));
        QCOMPARE(::boxes(player->prompts), boxes);
        if (late) { // once the strip has gone, a press checks again
            QTRY_VERIFY_WITH_TIMEOUT(!player->window->findChild<Update *>(), 5000);
            player->window->showUpdate();
            QTRY_VERIFY_WITH_TIMEOUT(hits() == 2 && m_server.heldCount() == 1, 5000);
        }
    }

    // ---- Updater hand-off ----

    void handOff_data()
    {
        QTest::addColumn<HandOff>("c");
        QTest::newRow("new file from before the start") << HandOff{};
        QTest::newRow("written later, while an updater window is open here")
            << HandOff{WindowHere, true, false};
        QTest::newRow("updater process closes its window") << HandOff{ProcessCloses};
        // Its record stays behind, unlocked, and no file-system event says so.
        QTest::newRow("updater process killed") << HandOff{ProcessKilled};
        QTest::newRow("only the new file: it keeps its name") << HandOff{NoWindow, false};
        // A failed rename loses nothing; the player goes on and tries again.
        QTest::newRow("rename fails twice") << HandOff{.failures = 2};
        QTest::newRow("killUD returns at once, swaps after the rest") << HandOff{.direct = true};
        // A script or a cut file is never swapped in, however often the watch looks.
        QTest::newRow("the new file is no program") << HandOff{.program = false};
    }

    void handOff()
    {
        QFETCH(HandOff, c);
        std::unique_ptr<WindowPresence::Registration> presence;
        QProcess process;
        if (c.holder == WindowHere)
            presence = WindowPresence::announce(kUpdaterCaption);
        if (c.holder == ProcessCloses || c.holder == ProcessKilled) {
            process.start(QStringLiteral(TAMSEL_HOLD_WINDOW), {kUpdaterCaption});
            QVERIFY(process.waitForReadyRead(10000));
            QCOMPARE(process.readAll().trimmed(), QByteArray("ready"));
        }
        QCOMPARE(WindowPresence::exists(kUpdaterCaption), c.holder != NoWindow);

        // Each rename is recorded with the two files as they were then, and done by the player's own.
        using Seen = QPair<QByteArray, QByteArray>;
        QList<Seen> seen;
        auto player = makePlayer(false, [&](PlayerServices &s) {
            if (c.direct)
                s.handOffDelayMs = 400;
            s.replaceFile = [&, replace = s.replaceFile](const QString &from, const QString &to,
                                                         QString *error) {
                seen.append({readAll(from), readAll(to)});
                *error = QStringLiteral("busy");
                return seen.size() > c.failures && replace(from, to, error);
            };
        });
        const QString updater = programFile(*player, "KivuUpdate");
        const QString fresh = programFile(*player, "NewKivuUpdate");
        if (c.oldThere)
            writeFile(updater, "old", 0755);
        const QByteArray newBody = c.program ? program() : QByteArray("#!/bin/sh\n");
        if (c.newBeforeStart)
            writeFile(fresh, newBody, 0644);
        if (c.direct) {
            player->window->killUD();
            QCOMPARE(readAll(updater), QByteArray("old"));
        } else {
            QVERIFY(player->load());
        }
        if (c.failures) {
            QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 1, 5000);
            QVERIFY(readAll(updater) == "old" && readAll(fresh) == newBody && player->window->isVisible());
        }
        QTest::qWait(300);
        if (!c.newBeforeStart)
            writeFile(fresh, newBody, 0644);
        if (c.holder != NoWindow || !c.oldThere || !c.program) {
            QTest::qWait(700);
            QCOMPARE(readAll(fresh), newBody);
            QCOMPARE(readAll(updater), c.oldThere ? QByteArray("old") : QByteArray());
        }
        if (c.oldThere && c.program) {
            presence.reset();
            if (c.holder == ProcessKilled)
                process.kill();
            process.closeWriteChannel();
            QVERIFY(c.holder == NoWindow || c.holder == WindowHere || process.waitForFinished(5000));
            QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(fresh), 10000);
            QCOMPARE(readAll(updater), newBody);
            QCOMPARE(fs::status(QFileInfo(updater).filesystemFilePath()).permissions(), fs::perms(0755));
        }
        QCOMPARE(seen, QList<Seen>(c.oldThere && c.program ? c.failures + 1 : 0, Seen(newBody, "old")));
    }

    // ---- The skin ----

    void skin_keepsTheUpdatersWebsiteLinkRed()
    {
        QTemporaryDir folder;
        QVERIFY(QFile::copy(QStringLiteral(TAMSEL_SKIN_FILE), folder.filePath("Tamsel.Skin")));
        QVERIFY(Skin::attach(folder.path()));
        const auto unskin = qScopeGuard([] { qApp->setStyleSheet(QString()); });
        // The link that the updater's failure display shows.
        Form1 form1{UpdaterServices()};
        auto *link = child<QLabel>(&form1, "Label3");
        link->ensurePolished();
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    }
};

QTEST_MAIN(NoticePlayerTest)
#include "test_notice_player.moc"
