// Deleting, clearing and moving playlist entries: the boxes, the two lists
// kept in step, and what happens to playback.
#include "PlayerFixture.h"

#include "ImageButton.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QtTest>

namespace {

QStringList namesOf(const QList<int> &order)
{
    QStringList list;
    for (int i : order)
        list.append(QStringLiteral("%1.mp3").arg(i));
    return list;
}

QStringList urlsOf(const QList<int> &order)
{
    QStringList list;
    for (int i : order)
        list.append(QStringLiteral("/m/%1.mp3").arg(i));
    return list;
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
    void delete_emptyList_warnsNothingToDelete()
    {
        auto player = playerWith(0);
        QVERIFY(player);
        player->label("lblTotlenum")->setText(QStringLiteral("stale"));
        player->click("imgDelete");
        // Not the "select one" box: there is nothing to select.
        checkOnlyBox(*player, QStringLiteral("删除错误:"), QStringLiteral("无可删除曲目！"));
        QCOMPARE(player->count(), QStringLiteral("0"));
        QVERIFY(player->media.calls.isEmpty());
    }

    void delete_noSelection_asksForOne_listsUnchanged()
    {
        auto player = playerWith(3);
        QVERIFY(player);
        player->click("imgDelete");
        checkOnlyBox(*player, QStringLiteral("删除错误:"), QStringLiteral("请选中要删除的曲目！"));
        QCOMPARE(player->names(), namesOf({0, 1, 2}));
        QCOMPARE(player->urls(), urlsOf({0, 1, 2}));
        QCOMPARE(player->count(), QStringLiteral("3"));
    }

    void delete_cancelled_removesNothing_andKeepsAnswer()
    {
        auto player = playerWith(3);
        QVERIFY(player);
        player->listName()->setCurrentRow(1);
        player->prompts.answerNext(Prompts::AnswerCancel);
        player->click("imgDelete");
        checkOnlyBox(*player, QStringLiteral("提示:"), QStringLiteral("确定将此曲目从当前列表中删除？"),
                     Prompts::OkCancel);
        QCOMPARE(player->window->state().msgAnswer, qint16(Prompts::AnswerCancel));
        QCOMPARE(player->names(), namesOf({0, 1, 2}));
        QCOMPARE(player->urls(), urlsOf({0, 1, 2}));
        QCOMPARE(player->listName()->currentRow(), 1);
        QVERIFY(player->media.calls.isEmpty());
    }

    void delete_onlyEntry_emptiesBothLists_thenStops()
    {
        auto player = playerWith(1);
        QVERIFY(player);
        play(*player, 0);
        player->prompts.answerNext(Prompts::AnswerOk);
        player->click("imgDelete");
        QCOMPARE(player->window->state().msgAnswer, qint16(Prompts::AnswerOk));
        QCOMPARE(player->listName()->count(), 0);
        QCOMPARE(player->listUrl()->count(), 0);
        QCOMPARE(player->count(), QStringLiteral("0"));
        // Its own stop, then Stop's.
        QCOMPARE(player->media.calls, QStringList({"stop", "stop"}));
        QCOMPARE(player->label("lblCurrent")->text(), QStringLiteral("已停止"));
        QVERIFY(player->window->state().stoppedByUser);
        QCOMPARE(player->window->playingEntry(), -1);
    }

    void delete_playingEntryInMiddle_startsEntryThatTookItsPlace()
    {
        auto player = playerWith(5);
        QVERIFY(player);
        play(*player, 2);
        player->prompts.answerNext(Prompts::AnswerOk);
        player->click("imgDelete");
        QCOMPARE(player->names(), namesOf({0, 1, 3, 4}));
        QCOMPARE(player->urls(), urlsOf({0, 1, 3, 4}));
        QCOMPARE(player->count(), QStringLiteral("4"));
        QCOMPARE(player->media.calls, QStringList{QStringLiteral("setUrl:/m/3.mp3")});
        QCOMPARE(player->listName()->currentRow(), 2);
        QCOMPARE(player->window->playingEntry(), 2);
        QVERIFY(!player->window->state().stoppedByUser);
    }

    void delete_playingLastEntry_stopsAndSelectsNewLast()
    {
        auto player = playerWith(3);
        QVERIFY(player);
        play(*player, 2);
        player->prompts.answerNext(Prompts::AnswerOk);
        player->click("imgDelete");
        QCOMPARE(player->urls(), urlsOf({0, 1}));
        QCOMPARE(player->media.calls, QStringList{QStringLiteral("stop")});
        QCOMPARE(player->label("lblCurrent")->text(), QStringLiteral("已停止"));
        QVERIFY(player->window->state().stoppedByUser);
        QCOMPARE(player->listName()->currentRow(), 1);
        QCOMPARE(player->window->playingEntry(), -1);
        QCOMPARE(player->count(), QStringLiteral("2"));
    }

    void delete_otherEntries_leavePlaybackAlone_andFollowPlayingEntry()
    {
        auto player = playerWith(5);
        QVERIFY(player);
        play(*player, 3);

        // Before the playing entry: it moves up one place.
        player->listName()->setCurrentRow(1);
        player->prompts.answerNext(Prompts::AnswerOk);
        player->click("imgDelete");
        QCOMPARE(player->urls(), urlsOf({0, 2, 3, 4}));
        QCOMPARE(player->listName()->currentRow(), 1);
        QCOMPARE(player->window->playingEntry(), 2);

        // After it, and the last: the selection lands on the new last entry.
        player->listName()->setCurrentRow(3);
        player->prompts.answerNext(Prompts::AnswerOk);
        player->click("imgDelete");
        QCOMPARE(player->urls(), urlsOf({0, 2, 3}));
        QCOMPARE(player->listName()->currentRow(), 2);
        QCOMPARE(player->window->playingEntry(), 2);
        QCOMPARE(playingUrl(*player), QStringLiteral("/m/3.mp3"));

        QVERIFY(player->media.calls.isEmpty());
        QCOMPARE(player->count(), QStringLiteral("3"));
    }

    void delete_afterStop_lastPlayedEntry_startsNothing()
    {
        auto player = playerWith(3);
        QVERIFY(player);
        play(*player, 1);
        player->click("imgStop");
        player->media.calls.clear();
        player->listName()->setCurrentRow(1);
        player->prompts.answerNext(Prompts::AnswerOk);
        player->click("imgDelete");
        QCOMPARE(player->urls(), urlsOf({0, 2}));
        QVERIFY(player->media.calls.isEmpty());
        QCOMPARE(player->window->playingEntry(), -1);
    }

    void deleteKey_onList_runsDelete()
    {
        auto player = playerWith(2);
        QVERIFY(player);
        player->listName()->setCurrentRow(0);
        player->prompts.answerNext(Prompts::AnswerOk);
        QTest::keyClick(player->listName(), Qt::Key_Delete);
        QCOMPARE(player->prompts.shown().size(), 1);
        QCOMPARE(player->urls(), urlsOf({1}));
        QCOMPARE(player->names(), namesOf({1}));
        QCOMPARE(player->listName()->currentRow(), 0);
    }

    void clear_emptiesBothLists_andStops()
    {
        auto player = playerWith(4);
        QVERIFY(player);
        play(*player, 1);
        player->click("imgClear");
        QCOMPARE(player->listName()->count(), 0);
        QCOMPARE(player->listUrl()->count(), 0);
        QCOMPARE(player->count(), QStringLiteral("0"));
        QCOMPARE(player->window->playingEntry(), -1);
        QCOMPARE(player->media.calls, QStringList{QStringLiteral("stop")});
        QCOMPARE(player->label("lblCurrent")->text(), QStringLiteral("已停止"));
        QVERIFY(player->prompts.shown().isEmpty());
    }

    void clear_emptyList_stillStopsAndShowsZero()
    {
        auto player = playerWith(0);
        QVERIFY(player);
        player->label("lblTotlenum")->setText(QStringLiteral("stale"));
        player->click("imgClear");
        QCOMPARE(player->count(), QStringLiteral("0"));
        QCOMPARE(player->media.calls, QStringList{QStringLiteral("stop")});
        QVERIFY(player->window->state().stoppedByUser);
        QVERIFY(player->prompts.shown().isEmpty());
    }

    void moveDown_fromIndex2OfFive_swapsBothListsAndSelects3()
    {
        auto player = playerWith(5);
        QVERIFY(player);
        player->listName()->setCurrentRow(2);
        player->click("imglistNext");
        QCOMPARE(player->names(), namesOf({0, 1, 3, 2, 4}));
        QCOMPARE(player->urls(), urlsOf({0, 1, 3, 2, 4}));
        QCOMPARE(player->listName()->currentRow(), 3);
        QVERIFY(player->prompts.shown().isEmpty());
        QVERIFY(player->media.calls.isEmpty());
        QCOMPARE(player->count(), QStringLiteral("5"));
    }

    void moveUp_fromIndex2OfFive_swapsBothListsAndSelects1()
    {
        auto player = playerWith(5);
        QVERIFY(player);
        player->listName()->setCurrentRow(2);
        player->click("imglistPre");
        QCOMPARE(player->names(), namesOf({0, 2, 1, 3, 4}));
        QCOMPARE(player->urls(), urlsOf({0, 2, 1, 3, 4}));
        QCOMPARE(player->listName()->currentRow(), 1);
        QVERIFY(player->prompts.shown().isEmpty());
    }

    void move_atEnds_warnsAndLeavesListsUnchanged_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("down from last") << "imglistNext" << 2 << "移动错误:"
                                        << "已是尾纪录！";
        QTest::newRow("up from first") << "imglistPre" << 0 << "移动错误:"
                                       << "已是首纪录！";
    }

    void move_atEnds_warnsAndLeavesListsUnchanged()
    {
        QFETCH(QString, button);
        QFETCH(int, row);
        QFETCH(QString, title);
        QFETCH(QString, text);
        auto player = playerWith(3);
        QVERIFY(player);
        player->listName()->setCurrentRow(row);
        player->click(button.toLatin1().constData());
        checkOnlyBox(*player, title, text);
        QCOMPARE(player->names(), namesOf({0, 1, 2}));
        QCOMPARE(player->urls(), urlsOf({0, 1, 2}));
        QCOMPARE(player->listName()->currentRow(), row);
    }

    void move_emptyList_warnsNothingToMove_eitherWay()
    {
        for (const char *button : {"imglistNext", "imglistPre"}) {
            auto player = playerWith(0);
            QVERIFY(player);
            player->click(button);
            checkOnlyBox(*player, QStringLiteral("操作错误:"), QStringLiteral("播放列表空，无可移动曲目！"));
            QCOMPARE(player->listName()->count(), 0);
        }
    }

    void move_noSelection_doesNothingSilently()
    {
        auto player = playerWith(3);
        QVERIFY(player);
        player->click("imglistNext");
        player->click("imglistPre");
        QVERIFY(player->prompts.shown().isEmpty());
        QCOMPARE(player->names(), namesOf({0, 1, 2}));
        QCOMPARE(player->urls(), urlsOf({0, 1, 2}));
        QCOMPARE(player->listName()->currentRow(), -1);
    }

    void move_keepsPlayingEntryOnSameEntry_withoutTouchingPlayback()
    {
        auto player = playerWith(5);
        QVERIFY(player);
        play(*player, 2);
        // The playing entry itself moves down.
        player->click("imglistNext");
        QCOMPARE(player->window->playingEntry(), 3);
        // Its upper neighbour moves down past it.
        player->listName()->setCurrentRow(2);
        player->click("imglistNext");
        QCOMPARE(player->window->playingEntry(), 2);
        // Its lower neighbour moves up past it.
        player->listName()->setCurrentRow(3);
        player->click("imglistPre");
        QCOMPARE(player->window->playingEntry(), 3);
        QCOMPARE(playingUrl(*player), QStringLiteral("/m/2.mp3"));
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
        QCOMPARE(player->urls(), urlsOf({1, 0, 2}));
        QCOMPARE(player->listName()->currentRow(), 1);

        item("上一曲")->trigger();
        QCOMPARE(player->urls(), urlsOf({0, 1, 2}));
        QCOMPARE(player->listName()->currentRow(), 0);

        player->prompts.answerNext(Prompts::AnswerOk);
        item("删除歌曲")->trigger();
        QCOMPARE(player->prompts.shown().size(), 1);
        QCOMPARE(player->urls(), urlsOf({1, 2}));

        item("清空列表")->trigger();
        QCOMPARE(player->listName()->count(), 0);
        QCOMPARE(player->count(), QStringLiteral("0"));
        QCOMPARE(player->media.calls, QStringList{QStringLiteral("stop")});
    }
};

QTEST_MAIN(PlaylistEditingTest)
#include "test_playlist_editing.moc"
