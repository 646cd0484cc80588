// Deleting, clearing and moving playlist entries: the boxes, the two lists
// kept in step, and what happens to playback; and what the handlers that ask
// first do when calls arrive while their box is open.
#include "PlayerFixture.h"

#include "AppInfo.h"
#include "AppInstance.h"
#include "ImageButton.h"
#include "Mpris.h"
#include "TestSetUp.h"
#include "Update.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QtTest>

#include <numeric>

namespace {

// A handler that asks (a box or a chooser) and then acts, and a call that
// arrives while it asks.
enum Asker { Delete, Save, OpenList, Add, PlayEmpty, UpdateOffer };
enum Meanwhile { HandOver, OpenUri, GoToLast, HandOverThenStop };

struct AskedMeanwhile
{
    Asker asker;
    Meanwhile call;
    int entries = 1, selected = -1, playing = -1; // before: /m/<i>.mp3, -1 for none
    QStringList names = {};                       // after, and by name:
    QString playingAfter = {}, selectedAfter = {};
    bool stoppedByUser = false;
};

// Both lists and the count hold /m/<i>.mp3 for each i of order, in that order.
void checkEntries(const PlayerFixture &player, const QList<int> &order)
{
    QStringList names, urls;
    for (int i : order) {
        names.append(QStringLiteral("%1.mp3").arg(i));
        urls.append(QStringLiteral("/m/%1.mp3").arg(i));
    }
    QCOMPARE(player.names(), names);
    QCOMPARE(player.urls(), urls);
    QCOMPARE(player.count(), QString::number(order.size()));
}

} // namespace

class PlaylistEditingTest : public QObject
{
    Q_OBJECT

private:
    // A loaded window holding /m/0.mp3 .. /m/<n-1>.mp3, added through the add dialog.
    std::unique_ptr<PlayerFixture> playerWith(int n)
    {
        auto player = std::make_unique<PlayerFixture>();
        if (!player->load())
            return nullptr;
        if (n > 0) {
            player->prompts.chooseFilesNext(PlayerFixture::paths(n));
            player->click("imgAdd");
        }
        player->prompts.clear();
        return player;
    }
    // Plays the entry as a user would: select it, press Play.
    void play(PlayerFixture &player, int index)
    {
        player.listName()->setCurrentRow(index);
        player.click("imgPlay");
        player.media.calls.clear();
    }
    QString playingUrl(PlayerFixture &player)
    {
        return player.window->playlist().urlAt(player.window->playingEntry());
    }
    void checkOnlyBox(PlayerFixture &player, const QString &title, const QString &text,
                      Prompts::Buttons buttons = Prompts::Ok)
    {
        QCOMPARE(player.prompts.shown().size(), 1);
        const ScriptedPrompts::Shown &box = player.prompts.shown().constFirst();
        QCOMPARE(box.title, title);
        QCOMPARE(box.text, text);
        QCOMPARE(box.buttons, buttons);
        QCOMPARE(box.icon, Prompts::Warning);
        QCOMPARE(player.prompts.unexpected(), 0);
    }

    LoopbackSite m_site;
    QTemporaryDir m_files;

private slots:
    void initTestCase()
    {
        QVERIFY(m_site.start());
        m_site.server.route(QStringLiteral("/notice.html"), QByteArray("<p>Ver99.01.01</p>"));
        for (const char *name : {"new.mp3", "list.m3u"}) {
            QFile file(m_files.filePath(QLatin1String(name)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("/m/c.mp3\r\n") > 0);
        }
    }

    void edit_refused_warnsAndChangesNothing_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("row");       // selected before, -1 for none
        QTest::addColumn<QString>("title"); // empty: no box at all
        QTest::addColumn<QString>("text");
        const auto add = [](const char *name, int entries, const char *button, int row,
                            const char *title = "", const char *text = "") {
            QTest::newRow(name) << entries << QString::fromUtf8(button) << row << QString::fromUtf8(title)
                                << QString::fromUtf8(text);
        };
        // Not the "select one" box: there is nothing to select.
        add("delete, empty list", 0, "imgDelete", -1, "删除错误:", "无可删除曲目！");
        add("delete, no selection", 3, "imgDelete", -1, "删除错误:", "请选中要删除的曲目！");
        add("down from last", 3, "imglistNext", 2, "移动错误:", "已是尾纪录！");
        add("up from first", 3, "imglistPre", 0, "移动错误:", "已是首纪录！");
        add("down, empty list", 0, "imglistNext", -1, "操作错误:", "播放列表空，无可移动曲目！");
        add("up, empty list", 0, "imglistPre", -1, "操作错误:", "播放列表空，无可移动曲目！");
        add("down, no selection", 3, "imglistNext", -1);
        add("up, no selection", 3, "imglistPre", -1);
    }

    void edit_refused_warnsAndChangesNothing()
    {
        QFETCH(int, entries);
        QFETCH(QString, button);
        QFETCH(int, row);
        QFETCH(QString, title);
        QFETCH(QString, text);
        auto player = playerWith(entries);
        QVERIFY(player);
        if (row >= 0)
            player->listName()->setCurrentRow(row);
        // Delete recounts even when it refuses.
        if (button == QLatin1String("imgDelete"))
            player->label("lblTotlenum")->setText(QStringLiteral("stale"));
        player->click(qPrintable(button));
        if (title.isEmpty())
            QVERIFY(player->prompts.shown().isEmpty());
        else
            checkOnlyBox(*player, title, text);
        QList<int> all(entries);
        std::iota(all.begin(), all.end(), 0);
        checkEntries(*player, all);
        QCOMPARE(player->listName()->currentRow(), row);
        QVERIFY(player->media.calls.isEmpty());
    }

    void delete_asksFirst_andKeepsListsAndPlaybackInStep_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("playing"); // -1: nothing started
        QTest::addColumn<bool>("stopFirst");
        QTest::addColumn<bool>("byKey"); // the Delete key on the list instead of the button
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QList<int>>("left");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("rowAfter");
        QTest::addColumn<int>("playingAfter");
        const int ok = Prompts::AnswerOk;
        const QStringList none;
        QTest::newRow("cancelled") << 3 << -1 << false << false << 1 << int(Prompts::AnswerCancel)
                                   << QList<int>{0, 1, 2} << none << 1 << -1;
        // Its own stop, then Stop's.
        QTest::newRow("only entry, playing")
            << 1 << 0 << false << false << 0 << ok << QList<int>{} << QStringList{"stop", "stop"} << -1 << -1;
        QTest::newRow("playing, in the middle: the next one takes over")
            << 5 << 2 << false << false << 2 << ok << QList<int>{0, 1, 3, 4} << QStringList{"setUrl:/m/3.mp3"}
            << 2 << 2;
        QTest::newRow("playing, the last: stops")
            << 3 << 2 << false << false << 2 << ok << QList<int>{0, 1} << QStringList{"stop"} << 1 << -1;
        QTest::newRow("before the playing one")
            << 5 << 3 << false << false << 1 << ok << QList<int>{0, 2, 3, 4} << none << 1 << 2;
        QTest::newRow("after the playing one, the last")
            << 4 << 2 << false << false << 3 << ok << QList<int>{0, 1, 2} << none << 2 << 2;
        QTest::newRow("last played, after Stop")
            << 3 << 1 << true << false << 1 << ok << QList<int>{0, 2} << none << 1 << -1;
        QTest::newRow("Delete key") << 2 << -1 << false << true << 0 << ok << QList<int>{1} << none << 0
                                    << -1;
    }

    void delete_asksFirst_andKeepsListsAndPlaybackInStep()
    {
        QFETCH(int, entries);
        QFETCH(int, playing);
        QFETCH(bool, stopFirst);
        QFETCH(bool, byKey);
        QFETCH(int, row);
        QFETCH(int, answer);
        QFETCH(QList<int>, left);
        QFETCH(QStringList, calls);
        QFETCH(int, rowAfter);
        QFETCH(int, playingAfter);
        auto player = playerWith(entries);
        QVERIFY(player);
        if (playing >= 0)
            play(*player, playing);
        if (stopFirst) {
            player->click("imgStop");
            player->media.calls.clear();
        }
        player->listName()->setCurrentRow(row);
        player->prompts.answerNext(answer);
        if (byKey)
            QTest::keyClick(player->listName(), Qt::Key_Delete);
        else
            player->click("imgDelete");
        checkOnlyBox(*player, QStringLiteral("提示:"), QStringLiteral("确定将此曲目从当前列表中删除？"),
                     Prompts::OkCancel);
        QCOMPARE(player->window->state().msgAnswer, qint16(answer));
        checkEntries(*player, left);
        QCOMPARE(player->media.calls, calls);
        QCOMPARE(player->listName()->currentRow(), rowAfter);
        QCOMPARE(player->window->playingEntry(), playingAfter);
        if (playingAfter >= 0)
            QCOMPARE(playingUrl(*player), QStringLiteral("/m/%1.mp3").arg(left.at(playingAfter)));
        const bool stopped = playing >= 0 && playingAfter < 0;
        QCOMPARE(player->window->state().stoppedByUser, stopped);
        if (stopped)
            QCOMPARE(player->label("lblCurrent")->text(), QStringLiteral("已停止"));
    }

    void clear_emptiesBothLists_andStops_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("playing");
        QTest::newRow("playing list") << 4 << 1;
        QTest::newRow("empty list") << 0 << -1;
    }

    void clear_emptiesBothLists_andStops()
    {
        QFETCH(int, entries);
        QFETCH(int, playing);
        auto player = playerWith(entries);
        QVERIFY(player);
        if (playing >= 0)
            play(*player, playing);
        player->label("lblTotlenum")->setText(QStringLiteral("stale"));
        player->click("imgClear");
        checkEntries(*player, {});
        QCOMPARE(player->window->playingEntry(), -1);
        QCOMPARE(player->media.calls, QStringList{QStringLiteral("stop")});
        QCOMPARE(player->label("lblCurrent")->text(), QStringLiteral("已停止"));
        QVERIFY(player->window->state().stoppedByUser);
        QVERIFY(player->prompts.shown().isEmpty());
    }

    void move_swapsBothLists_andPlaybackFollowsItsEntry_data()
    {
        QTest::addColumn<int>("playing"); // -1: nothing started
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QList<int>>("order");
        QTest::addColumn<int>("playingAfter");
        QTest::newRow("down") << -1 << 2 << "imglistNext" << QList<int>{0, 1, 3, 2, 4} << -1;
        QTest::newRow("up") << -1 << 2 << "imglistPre" << QList<int>{0, 2, 1, 3, 4} << -1;
        QTest::newRow("playing entry down") << 2 << 2 << "imglistNext" << QList<int>{0, 1, 3, 2, 4} << 3;
        QTest::newRow("upper neighbour down past it")
            << 2 << 1 << "imglistNext" << QList<int>{0, 2, 1, 3, 4} << 1;
        QTest::newRow("lower neighbour up past it")
            << 2 << 3 << "imglistPre" << QList<int>{0, 1, 3, 2, 4} << 3;
    }

    void move_swapsBothLists_andPlaybackFollowsItsEntry()
    {
        QFETCH(int, playing);
        QFETCH(int, row);
        QFETCH(QString, button);
        QFETCH(QList<int>, order);
        QFETCH(int, playingAfter);
        auto player = playerWith(5);
        QVERIFY(player);
        if (playing >= 0)
            play(*player, playing);
        player->listName()->setCurrentRow(row);
        player->click(qPrintable(button));
        checkEntries(*player, order);
        QCOMPARE(player->listName()->currentRow(),
                 button == QLatin1String("imglistNext") ? row + 1 : row - 1);
        QCOMPARE(player->window->playingEntry(), playingAfter);
        if (playing >= 0)
            QCOMPARE(playingUrl(*player), QStringLiteral("/m/%1.mp3").arg(playing));
        QVERIFY(player->prompts.shown().isEmpty());
        QVERIFY(player->media.calls.isEmpty());
    }

    void askedThenActs_onWhatItAsked_andReadsTheRestAgain_data()
    {
        QTest::addColumn<AskedMeanwhile>("c");
        const QString n0 = "0.mp3", n1 = "1.mp3", n2 = "2.mp3", fresh = "new.mp3", c = "c.mp3";
        // The answer applies to the entry selected when the box opened; the list,
        // the selection and playback are read again after it.
        QTest::newRow("delete the only entry; a file handed over")
            << AskedMeanwhile{Delete, HandOver, 1, 0, -1, {fresh}, fresh, fresh};
        QTest::newRow("delete; OpenUri starts another")
            << AskedMeanwhile{Delete, OpenUri, 2, 0, 0, {n1, fresh}, fresh, fresh};
        QTest::newRow("delete; GoTo the last") << AskedMeanwhile{Delete, GoToLast, 3, 0, 0, {n1, n2}, n2, n2};
        QTest::newRow("save; a file handed over")
            << AskedMeanwhile{Save, HandOver, 1, -1, -1, {n0, fresh}, fresh, fresh};
        QTest::newRow("open a playlist; GoTo the last")
            << AskedMeanwhile{OpenList, GoToLast, 2, -1, 0, {n0, n1, c}, n1, n1};
        QTest::newRow("add; OpenUri starts another")
            << AskedMeanwhile{Add, OpenUri, 1, -1, -1, {n0, fresh, c}, fresh, fresh};
        QTest::newRow("play on an empty list; a file handed over")
            << AskedMeanwhile{PlayEmpty, HandOver, 0, -1, -1, {fresh, c}, fresh, fresh};
        // The later stop stands: a late report of the stopped engine must not advance.
        QTest::newRow("play on an empty list; a file handed over, then stopped")
            << AskedMeanwhile{PlayEmpty, HandOverThenStop, 0, -1, -1, {fresh, c}, {}, {}, true};
        QTest::newRow("update offered; a file handed over")
            << AskedMeanwhile{UpdateOffer, HandOver, 0, -1, -1, {fresh}, fresh, fresh};
    }

    void askedThenActs_onWhatItAsked_andReadsTheRestAgain()
    {
        QFETCH(AskedMeanwhile, c);
        auto player = std::make_unique<PlayerFixture>();
        if (c.asker == UpdateOffer) {
            player->useNoticeSite(m_site.server.url(QStringLiteral("/notice.html")), true);
            QFile updater(player->dir.filePath(AppInfo::executableName(QStringLiteral("KivuUpdate"))));
            QVERIFY(updater.open(QIODevice::WriteOnly));
        }
        QVERIFY(player->load());
        FrmPlayer *window = player->window.get();
        window->addChosenFiles(PlayerFixture::paths(c.entries));
        if (c.playing >= 0)
            window->goTo(c.playing);
        player->listName()->setCurrentRow(c.selected);
        // The remote control and the hand-over, wired as the program wires them.
        auto *mpris = new MprisService(window);
        AppInstance instance;
        connect(&instance, &AppInstance::filesOpened, window, &FrmPlayer::openFiles);
        const QString fresh = QUrl::fromLocalFile(m_files.filePath("new.mp3")).toString();
        player->prompts.whileNextIsOpen([&] {
            if (c.call == HandOver || c.call == HandOverThenStop)
                instance.Open({fresh}, {});
            if (c.call == OpenUri)
                mpris->OpenUri(fresh);
            if (c.call == GoToLast)
                mpris->GoTo(mpris->tracks().constLast());
            if (c.call == HandOverThenStop)
                mpris->Stop();
            player->media.calls.clear();
        });
        const QString saved = m_files.filePath("saved.m3u");
        switch (c.asker) {
        case Delete:
            player->prompts.answerNext(Prompts::AnswerOk);
            player->click("imgDelete");
            break;
        case Save:
            player->prompts.chooseFileNext(saved);
            player->click("imgLstsave");
            break;
        case OpenList:
            player->prompts.chooseFileNext(m_files.filePath("list.m3u"));
            player->click("imgLstopen");
            break;
        case Add:
        case PlayEmpty:
            if (c.asker == PlayEmpty)
                player->prompts.answerNext(Prompts::AnswerOk);
            player->prompts.chooseFilesNext({QStringLiteral("/m/c.mp3")});
            player->click(c.asker == Add ? "imgAdd" : "imgPlay");
            break;
        case UpdateOffer:
            player->prompts.answerNext(Prompts::AnswerOk);
            window->showUpdate();
            QTRY_VERIFY_WITH_TIMEOUT(!window->findChild<Update *>(), 10000);
            QCOMPARE(player->shell.programs.size(), 1);
            QCOMPARE(player->quits, 1);
            break;
        }
        // The engine reports the stop late: it must not advance.
        if (c.call == HandOverThenStop)
            player->media.setState(MediaComponent::Stopped);

        QCOMPARE(player->names(), c.names);
        QCOMPARE(player->count(), QString::number(c.names.size()));
        const auto nameAt = [&](int index) { return index < 0 ? QString() : player->names().value(index); };
        QCOMPARE(nameAt(window->playingEntry()), c.playingAfter);
        QCOMPARE(nameAt(player->listName()->currentRow()), c.selectedAfter);
        QCOMPARE(window->state().stoppedByUser, c.stoppedByUser);
        QCOMPARE(player->media.calls, QStringList());
        QCOMPARE(player->prompts.unexpected(), 0);
        QStringList paths;
        if (c.asker == Save)
            QVERIFY(Playlist::readFile(saved, &paths) && paths == player->urls());
    }

    void menuItems_runTheSameHandlersAsTheButtons()
    {
        auto player = playerWith(3);
        QVERIFY(player);
        auto *menu = player->window->findChild<QMenu *>(QStringLiteral("菜单"));
        QVERIFY(menu);
        auto item = [menu](const char *name) { return menu->findChild<QAction *>(QString::fromUtf8(name)); };

        player->listName()->setCurrentRow(0);
        item("下一曲")->trigger();
        checkEntries(*player, {1, 0, 2});
        QCOMPARE(player->listName()->currentRow(), 1);

        item("上一曲")->trigger();
        checkEntries(*player, {0, 1, 2});
        QCOMPARE(player->listName()->currentRow(), 0);

        player->prompts.answerNext(Prompts::AnswerOk);
        item("删除歌曲")->trigger();
        QCOMPARE(player->prompts.shown().size(), 1);
        checkEntries(*player, {1, 2});

        item("清空列表")->trigger();
        checkEntries(*player, {});
        QCOMPARE(player->media.calls, QStringList{QStringLiteral("stop")});
    }
};

QTEST_MAIN(PlaylistEditingTest)
#include "test_playlist_editing.moc"
