// Deleting, clearing and moving playlist entries: the boxes, the two lists
// kept in step, and what happens to playback.
#include "PlayerFixture.h"

#include "ImageButton.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QtTest>

#include <numeric>

namespace {

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

private slots:
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
