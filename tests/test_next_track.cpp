// What follows the current track: the play mode's rule, and the engine told of
// it ahead of time, so that the next track follows without a gap. A user's
// action before the next track starts wins over what was queued.
#include "PlayerFixture.h"

#include "NextTrack.h"

#include <QLabel>
#include <QListWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

class NextTrackTest : public QObject
{
    Q_OBJECT

private slots:
    void choose_followsThePlayMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("next");
        const int stop = NextTrack::kStop;
        QTest::newRow("random: the drawn entry") << 0 << 1 << 4 << 3; // the draw is 3 in every row
        QTest::newRow("repeat one: the same") << 1 << 2 << 4 << 2;
        QTest::newRow("repeat one, none current: the first") << 1 << -1 << 4 << 0;
        QTest::newRow("repeat all, first: the second") << 2 << 0 << 4 << 1;
        QTest::newRow("repeat all, last: the first") << 2 << 3 << 4 << 0;
        QTest::newRow("in order, middle: the next") << 3 << 1 << 4 << 2;
        QTest::newRow("in order, last: stop") << 3 << 3 << 4 << stop;
        QTest::newRow("empty list: nothing") << 2 << -1 << 0 << int(NextTrack::kNone);
        QTest::newRow("unknown mode: nothing") << 7 << 1 << 4 << int(NextTrack::kNone);
    }

    void choose_followsThePlayMode()
    {
        QFETCH(int, mode);
        QFETCH(int, current);
        QFETCH(int, count);
        QFETCH(int, next);
        QCOMPARE(NextTrack::choose(mode, current, count, std::min(3, count - 1)), next);
    }

    void queue_followsTheLatestWord_andTheWindowFollowsTheQueuedTrack_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("row");        // double-clicked to start
        QTest::addColumn<QString>("action"); // while it plays
        QTest::addColumn<int>("queued");     // the entry queued after it, -1 for none
        QTest::newRow("repeat all, first") << 2 << 0 << "" << 1;
        QTest::newRow("repeat all, last") << 2 << 3 << "" << 0;
        QTest::newRow("repeat one") << 1 << 2 << "" << 2;
        QTest::newRow("in order, middle") << 3 << 1 << "" << 2;
        QTest::newRow("in order, last: nothing follows") << 3 << 3 << "" << -1;
        QTest::newRow("Next") << 2 << 1 << "next" << 3;
        QTest::newRow("Stop") << 2 << 1 << "stop" << -1;
        QTest::newRow("another selection") << 2 << 1 << "select 3" << 0;
        QTest::newRow("a mode change") << 2 << 3 << "mode" << -1; // to in order, at the last entry
        QTest::newRow("the queued entry deleted") << 3 << 1 << "delete 2" << 2; // what was 3 is 2 now
        QTest::newRow("the list cleared") << 2 << 1 << "clear" << -1;
    }

    void queue_followsTheLatestWord_andTheWindowFollowsTheQueuedTrack()
    {
        QFETCH(int, mode);
        QFETCH(int, row);
        QFETCH(QString, action);
        QFETCH(int, queued);
        PlayerFixture player;
        QVERIFY(player.load());
        player.window->addChosenFiles(PlayerFixture::paths(4));
        player.window->state().playMode = qint16(mode);
        player.window->goTo(row);
        player.media.setMedia(u"Song"_s, 200);
        player.media.setState(MediaComponent::Playing);

        if (action == "next"_L1) {
            player.window->imgNext_Click();
        } else if (action == "stop"_L1) {
            player.window->imgStop_Click();
        } else if (action.startsWith("select"_L1)) {
            player.listName()->setCurrentRow(action.back().digitValue());
        } else if (action == "mode"_L1) {
            player.window->imgLoop_Click();
        } else if (action.startsWith("delete"_L1)) {
            player.listName()->setCurrentRow(action.back().digitValue());
            player.prompts.answerNext(Prompts::AnswerOk);
            player.window->delete_Item();
            player.listName()->setCurrentRow(row);
        } else if (action == "clear"_L1) {
            player.window->imgClear_Click();
        }
        QCoreApplication::processEvents(); // the engine is told once the action is done
        const QStringList urls = player.urls();
        QCOMPARE(player.media.nextUrl, urls.value(queued));
        if (queued < 0)
            return;

        // The queued track starts: the window moves to it without opening anything.
        const QStringList calls = player.media.calls;
        QVERIFY(player.media.startNext());
        QCOMPARE(player.window->playingEntry(), queued);
        QCOMPARE(player.listName()->currentRow(), queued);
        QCOMPARE(player.label("lblTotletime")->text(), u"03:20"_s);
        QCOMPARE(player.media.calls, calls);
        QCoreApplication::processEvents();
        QCOMPARE(player.media.nextUrl.isEmpty(), mode == 3 && queued == urls.size() - 1);
    }

    void queuedTrackStartedAfterAChange_theRuleWins()
    {
        // The engine took the queued track just before the user chose another.
        PlayerFixture player;
        QVERIFY(player.load());
        player.window->addChosenFiles(PlayerFixture::paths(4));
        player.window->goTo(0);
        player.media.setState(MediaComponent::Playing);
        QCoreApplication::processEvents();
        QCOMPARE(player.media.nextUrl, u"/m/1.mp3"_s);
        player.listName()->setCurrentRow(2);
        QVERIFY(player.media.startNext());
        QCOMPARE(player.media.urls.last(), u"/m/3.mp3"_s);
        QCOMPARE(player.window->playingEntry(), 3);
        QCOMPARE(player.listName()->currentRow(), 3);
    }
};

QTEST_MAIN(NextTrackTest)
#include "test_next_track.moc"
