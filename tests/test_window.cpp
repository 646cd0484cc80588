// The main window's own behaviour, its pop-up menu and the mini window, on a
// media component the test drives.
#include "PlayerFixture.h"
#include "TestSetUp.h"

#include "ImageButton.h"
#include "Mini.h"
#include "WindowPresence.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QWindow>
#include <QtTest>

namespace {

using enum MediaComponent::PlayState;
enum Place { Scrolled, Centred, Still };
const QString kPlaying = QStringLiteral("正在播放:晴天");

struct MiniPress
{
    const char *button = nullptr;
    int entries = 3, state = Playing;
    QStringList calls = {};
    bool playPicture = false;
    bool listEnds = false; // the last entry ends by itself before the press
};

std::unique_ptr<PlayerFixture> loaded(int entries)
{
    auto player = std::make_unique<PlayerFixture>();
    if (!player->load())
        return nullptr;
    player->window->addChosenFiles(PlayerFixture::paths(entries));
    return player;
}

QAction *item(PlayerFixture &p, const char *name)
{
    return p.window->findChild<QMenu *>(QStringLiteral("菜单"))
        ->findChild<QAction *>(QString::fromUtf8(name));
}

template <typename T = QWidget> T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

// The mini window with its timer stopped: the test ticks by hand.
Mini *openMini(PlayerFixture &p)
{
    p.window->Image1_Click();
    child<QTimer>(p.window->mini(), "Timer1")->stop();
    return p.window->mini();
}

void tick(Mini *mini)
{
    QMetaObject::invokeMethod(mini, "Timer1_Timer");
}

// Sent as the window system would, so that it propagates to the parent.
void mouse(QWidget *target, QEvent::Type type, QPoint local, Qt::MouseButton button, int held)
{
    QMouseEvent event(type, QPointF(local), target->mapToGlobal(QPointF(local)), button,
                      Qt::MouseButtons(held), {});
    QApplication::sendEvent(target, &event);
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    // Each case looks at window records of its own.
    void init() { m_runtime = std::make_unique<PrivateRuntime>(); }

    void menu_captionsInOrder_websiteAndMinimise()
    {
        auto p = loaded(0);
        QStringList captions;
        for (const QAction *action : p->window->findChild<QMenu *>(QStringLiteral("菜单"))->actions())
            captions.append(action->text());
        QCOMPARE(captions,
                 QStringList({"打开播放列表", "保存播放列表", "-", "添加歌曲", "删除歌曲", "清空列表", "-",
                              "上一曲", "下一曲", "-", "窗体置顶", "检查更新", "官方网站", "-", "退出"}));
        item(*p, "官方网站")->trigger();
        QCOMPARE(p->shell.websites, QStringList{p->services.noticeUrl});
        p->click("imgMin");
        QVERIFY(p->window->isMinimized());
        QVERIFY(p->prompts.shown().isEmpty());
    }

    void topmost_captionIsTheState_andOnlyStackingChanges_data()
    {
        QTest::addColumn<int>("toggles");
        QTest::addColumn<bool>("viaMini"); // hidden for the mini window and shown again after
        QTest::newRow("once") << 1 << false;
        QTest::newRow("twice: back to normal") << 2 << false;
        QTest::newRow("once, then the mini window and back") << 1 << true;
    }

    void topmost_captionIsTheState_andOnlyStackingChanges()
    {
        QFETCH(int, toggles);
        QFETCH(bool, viaMini);
        auto p = loaded(0);
        p->window->move(120, 70);
        const QRect before = p->window->frameGeometry();
        const QWindow *native = p->window->windowHandle();
        for (int i = 0; i < toggles; ++i)
            item(*p, "窗体置顶")->trigger();
        if (viaMini)
            child<ImageButton>(openMini(*p), "Image10")->click();
        const bool onTop = toggles % 2 == 1;
        QCOMPARE(p->window->topmostCaption(),
                 onTop ? QStringLiteral("取消置顶") : QStringLiteral("窗体置顶"));
        QCOMPARE(p->window->windowFlags().testFlag(Qt::WindowStaysOnTopHint), onTop);
        QCOMPARE(p->window->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint), onTop);
        QCOMPARE(p->window->windowHandle(), native); // not re-created
        QVERIFY(p->window->isVisible());
        QCOMPARE(p->window->frameGeometry(), before);
    }

    void drag_onlyTheLeftButtonOnThePictureMoves_data()
    {
        QTest::addColumn<bool>("mini");
        QTest::addColumn<QString>("target"); // empty: the bare background
        QTest::addColumn<int>("held");
        QTest::addColumn<bool>("moves");
        const int left = Qt::LeftButton, right = Qt::RightButton;
        QTest::newRow("main, background, left") << false << "" << left << true;
        QTest::newRow("main, background, right") << false << "" << right << false;
        QTest::newRow("main, background, left and right") << false << "" << (left | right) << false;
        QTest::newRow("main, label") << false << "lblTime" << left << false;
        QTest::newRow("main, playlist header") << false << "Picture2" << left << false;
        QTest::newRow("main, seek bar") << false << "Picture1" << left << false;
        QTest::newRow("main, playlist") << false << "listName" << left << false;
        QTest::newRow("mini, picture, left") << true << "Image1" << left << true;
        QTest::newRow("mini, picture, right") << true << "Image1" << right << false;
    }

    void drag_onlyTheLeftButtonOnThePictureMoves()
    {
        QFETCH(bool, mini);
        QFETCH(QString, target);
        QFETCH(int, held);
        QFETCH(bool, moves);
        auto p = loaded(0);
        p->window->move(100, 60);
        QWidget *window = mini ? static_cast<QWidget *>(openMini(*p)) : p->window.get();
        QWidget *grabbed = target.isEmpty() ? window : window->findChild<QWidget *>(target);
        if (auto *list = qobject_cast<QAbstractScrollArea *>(grabbed))
            grabbed = list->viewport();
        const QPoint grab = target.isEmpty() ? QPoint(335, 100) : QPoint(3, 3);
        // An earlier grab elsewhere on the background must not count.
        mouse(window, QEvent::MouseButtonPress, QPoint(320, 150), Qt::LeftButton, Qt::LeftButton);
        mouse(window, QEvent::MouseButtonRelease, QPoint(320, 150), Qt::LeftButton, 0);
        const QPoint start = window->pos();
        // The pointer's way on the screen: one pixel, then on.
        const QPoint pointer = grabbed->mapToGlobal(grab);
        const auto at = [&](QPoint way) { return grabbed->mapFromGlobal(pointer + way); };
        const auto first = Qt::MouseButton(held & Qt::LeftButton ? Qt::LeftButton : Qt::RightButton);
        mouse(grabbed, QEvent::MouseButtonPress, grab, first, first);
        mouse(grabbed, QEvent::MouseMove, at({1, 0}), Qt::NoButton, held);
        mouse(grabbed, QEvent::MouseMove, at({40, 25}), Qt::NoButton, held);
        mouse(grabbed, QEvent::MouseButtonRelease, at({40, 25}), first, 0);
        // Moved by the pointer's way: the grabbed point stays under it.
        QCOMPARE(window->pos(), moves ? start + QPoint(40, 25) : start);
    }

    void mini_loadPlacesShapesAndTakesStateFromMain_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("mainOnTop");
        QTest::addColumn<bool>("playPicture");
        QTest::newRow("playing, main normal") << int(Playing) << false << false;
        QTest::newRow("paused, main on top") << int(Paused) << true << true;
        QTest::newRow("stopped, main normal") << int(Stopped) << false << true;
    }

    void mini_loadPlacesShapesAndTakesStateFromMain()
    {
        QFETCH(int, state);
        QFETCH(bool, mainOnTop);
        QFETCH(bool, playPicture);
        auto p = loaded(1);
        p->window->move(90, 40);
        p->window->state().stoppedByUser = true; // no advance at "stopped"
        p->media.setState(state);
        if (mainOnTop)
            item(*p, "窗体置顶")->trigger();
        p->media.calls.clear();
        p->click("Image1");
        Mini *mini = p->window->mini();
        QVERIFY(mini->isVisible() && !p->window->isVisible());
        QVERIFY(p->media.calls.isEmpty()); // playback and the display timers go on
        QVERIFY(child<QTimer>(p->window.get(), "timerTotle")->isActive());

        QCOMPARE(mini->windowTitle(), QStringLiteral("TamselMP3Player"));
        QCOMPARE(mini->size(), QSize(201, 180));           // 3015 x 2700 twips
        QCOMPARE(mini->pos(), QPoint(90 + 213, 40 + 120)); // + 3200, + 1800 twips
        QCOMPARE(mini->windowFlags().testFlag(Qt::WindowStaysOnTopHint), mainOnTop);
        QCOMPARE(mini->showsPlayPicture(), playPicture);
        QCOMPARE(mini->label1Left(), 3015.0); // enters from beyond the right edge
        QCOMPARE(child<QTimer>(mini, "Timer1")->interval(), 100);
        // Shaped from its pictures as it is shown: body in; corner and empty strip out.
        QVERIFY(mini->windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(mini->mask().contains(QPoint(100, 80)));
        QVERIFY(!mini->mask().contains(QPoint(0, 0)) && !mini->mask().contains(QPoint(190, 170)));
    }

    void mini_eachShowingIsLoadedAnew_registeredWhileShown_andAnyCloseReturns()
    {
        PlayerFixture p; // not loaded: the main window has not announced itself
        p.window->addChosenFiles(PlayerFixture::paths(1));
        p.media.setState(Playing);
        QPointer<Mini> first = openMini(p);
        QVERIFY(WindowPresence::exists(QStringLiteral("TamselMP3Player")));
        child<ImageButton>(first, "Image4")->click();
        QVERIFY(first->showsPlayPicture());
        child<ImageButton>(first, "Image10")->click();
        QVERIFY(p.window->isVisible());
        QVERIFY(!WindowPresence::exists(QStringLiteral("TamselMP3Player")));
        QTRY_VERIFY_WITH_TIMEOUT(!first, 2000);

        p.window->move(200, 100);
        Mini *second = openMini(p);
        QCOMPARE(second->pos(), QPoint(200 + 213, 100 + 120));
        QVERIFY(!second->showsPlayPicture());
        second->close(); // as the desktop would
        QVERIFY(p.window->isVisible());
    }

    void mini_buttons_data()
    {
        QTest::addColumn<MiniPress>("c");
        QTest::newRow("toggle, play picture: plays") << MiniPress{"Image4", 3, Stopped, {"setUrl:/m/1.mp3"}};
        QTest::newRow("toggle, empty list: adds, does not play") << MiniPress{"Image4", 0, Stopped, {}, true};
        QTest::newRow("toggle, pause picture: pauses") << MiniPress{"Image4", 3, Playing, {"pause"}, true};
        QTest::newRow("previous") << MiniPress{"Image2", 3, Playing, {"setUrl:/m/0.mp3"}};
        QTest::newRow("next") << MiniPress{"Image3", 3, Playing, {"setUrl:/m/2.mp3"}};
        QTest::newRow("ten seconds back") << MiniPress{"Image5", 3, Playing, {"seek:20"}};
        QTest::newRow("ten seconds on") << MiniPress{"Image6", 3, Playing, {"seek:40"}};
        QTest::newRow("stop") << MiniPress{"Image7", 3, Playing, {"stop"}, true};
        QTest::newRow("toggle, the list ended by itself: pause kept, pauses")
            << MiniPress{"Image4", 2, Playing, {"pause"}, true, true};
    }

    void mini_buttons()
    {
        QFETCH(MiniPress, c);
        auto p = loaded(c.entries);
        p->window->goTo(1);
        p->media.setPosition(30);
        p->window->state().stoppedByUser = true;
        p->media.setState(c.state);
        p->prompts.chooseFilesNext({QStringLiteral("/m/new.mp3")});
        Mini *mini = openMini(*p);
        if (c.listEnds) { // in order, no repeat: the last entry ends
            p->window->state().stoppedByUser = false;
            p->window->state().playMode = 3;
            p->media.setState(Stopped);
            QCOMPARE(p->label("lblCurrent")->text(), QStringLiteral("已停止"));
            QVERIFY(!mini->showsPlayPicture());
        }
        p->media.calls.clear();
        child<ImageButton>(mini, c.button)->click();
        QCOMPARE(p->media.calls, c.calls);
        QCOMPARE(p->prompts.choosersShown(), c.entries ? 0 : 1);
        QCOMPARE(mini->showsPlayPicture(), c.playPicture);
        if (QLatin1String(c.button) == "Image4" && !c.playPicture) // the status re-enters at its own width
            QCOMPARE(mini->label1Left(), child<QLabel>(mini, "Label1")->width() * 15.0);
    }

    void mini_tickCopiesCentresAndScrolls_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("place");
        const auto row = [](const char *name, const QString &first, const QString &second,
                            const QString &shown,
                            Place place) { QTest::newRow(name) << first << second << shown << int(place); };
        row("playing scrolls", kPlaying, kPlaying, kPlaying, Scrolled);
        row("a new title is copied", kPlaying, "正在播放:夜曲", "正在播放:夜曲", Scrolled);
        row("paused centres", kPlaying, "已暂停", "已暂停", Centred);
        row("stopped centres", kPlaying, "已停止", "已停止", Centred);
        row("resumed scrolls from the middle", "已暂停", kPlaying, kPlaying, Scrolled);
        row("other text: paused stays centred", "已暂停", "缓冲中", "已暂停", Centred);
        row("other text: title freezes", kPlaying, "正在播", kPlaying, Still);
        row("longer paused text: copied, still", kPlaying, "已暂停（缓冲）", "已暂停（缓冲）", Still);
    }

    void mini_tickCopiesCentresAndScrolls()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, shown);
        QFETCH(int, place);
        auto p = loaded(1);
        Mini *mini = openMini(*p);
        auto *label1 = child<QLabel>(mini, "Label1");
        p->label("lblCurrent")->setText(first);
        tick(mini);
        const double before = mini->label1Left();
        p->label("lblCurrent")->setText(second);
        p->label("lblTime")->setText(QStringLiteral("00:01:02"));
        p->label("lblTotletime")->setText(QStringLiteral("00:03:04"));
        tick(mini);

        QCOMPARE(label1->text(), shown);
        const double width = label1->width() * 15.0;
        const double expected[] = {before - 100, 3015 / 2.0 - width / 2, before};
        QCOMPARE(mini->label1Left(), expected[place]);
        QCOMPARE(label1->x(), qRound(mini->label1Left() / 15));
        QCOMPARE(child<QLabel>(mini, "Label2")->text(), QStringLiteral("00:01:02"));
        QCOMPARE(child<QLabel>(mini, "Label3")->text(), QStringLiteral("00:03:04"));
        if (place == Scrolled) { // gone off the left edge, in again at its own width
            while (mini->label1Left() - 100 > -width)
                tick(mini);
            tick(mini);
            QCOMPARE(mini->label1Left(), width);
        }
    }

    void accessibility_buttonsLabelsAndBarsAreNamed_andPressable()
    {
        auto p = loaded(1);
        Mini *mini = openMini(*p);
        for (QWidget *window : {static_cast<QWidget *>(p->window.get()), static_cast<QWidget *>(mini)}) {
            QAccessibleInterface *frame = QAccessible::queryAccessibleInterface(window);
            QCOMPARE(frame->role(), QAccessible::Window);
            QCOMPARE(frame->text(QAccessible::Name), QStringLiteral("TamselMP3Player"));
            for (ImageButton *button : window->findChildren<ImageButton *>()) {
                QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(button);
                QVERIFY2(!button->toolTip().isEmpty(), qPrintable(button->objectName()));
                QCOMPARE(iface->text(QAccessible::Name), button->toolTip());
                QCOMPARE(iface->text(QAccessible::Description), button->toolTip());
                const QStringList actions = iface->actionInterface()->actionNames();
                QCOMPARE(actions.contains(QAccessibleActionInterface::pressAction()), button->isEnabled());
            }
            for (QLabel *label : window->findChildren<QLabel *>()) {
                const QString name = label->text().isEmpty() ? label->accessibleName() : label->text();
                QCOMPARE(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name), name);
            }
        }
        for (const char *name : {"Picture1", "lineFront", "imgSound", "Picture2", "listName"})
            QVERIFY2(!child(p->window.get(), name)->accessibleName().isEmpty(), name);
        QVERIFY(!child(mini, "Image1")->accessibleName().isEmpty());

        p->media.calls.clear();
        QAccessibleInterface *stop = QAccessible::queryAccessibleInterface(child(mini, "Image7"));
        stop->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE_WITH_TIMEOUT(p->media.calls, QStringList{"stop"}, 2000);
    }

    void exit_endsAtOnce_data()
    {
        QTest::addColumn<bool>("fromMenu");
        QTest::newRow("close button") << false;
        QTest::newRow("menu item 退出") << true;
    }

    void exit_endsAtOnce()
    {
        QFETCH(bool, fromMenu);
        auto p = loaded(2);
        p->click("imgPlay");
        p->media.setState(Playing);
        QPointer<Mini> mini = openMini(*p);
        child<QTimer>(mini, "Timer1")->start();
        p->window->show(); // both windows up, as a remote control can leave them
        const QStringList files = QDir(p->services.programFolder).entryList(QDir::Files);

        QTimer::singleShot(5000, p->window.get(), [] { QCoreApplication::exit(99); });
        QTimer::singleShot(0, p->window.get(),
                           [&] { fromMenu ? item(*p, "退出")->trigger() : p->click("imgClose"); });
        QCOMPARE(QCoreApplication::exec(), 0); // the event loop ends, nothing can hold it

        QVERIFY(!p->window->isVisible());
        QVERIFY(!mini || (!mini->isVisible() && !child<QTimer>(mini, "Timer1")->isActive()));
        for (QTimer *timer : p->window->findChildren<QTimer *>())
            QVERIFY2(!timer->isActive(), qPrintable(timer->objectName()));
        QVERIFY(p->prompts.shown().isEmpty());
        QCOMPARE(QDir(p->services.programFolder).entryList(QDir::Files), files);
    }

private:
    std::unique_ptr<PrivateRuntime> m_runtime;
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"
