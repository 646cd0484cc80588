// Transport buttons, the end-of-track handler with its play modes, and the
// time display, on a media component the test drives.
#include "PlayerFixture.h"

#include "ImageButton.h"
#include "LineControl.h"
#include "SeekBar.h"

#include <QLabel>
#include <QListWidget>
#include <QTimer>
#include <QtTest>

namespace {

enum { Stopped = MediaComponent::Stopped, Playing = MediaComponent::Playing };

} // namespace

class TransportTest : public QObject
{
    Q_OBJECT

private:
    // A loaded window with n entries /m/0.mp3 .. /m/<n-1>.mp3.
    std::unique_ptr<PlayerFixture> playerWith(int entries)
    {
        auto player = std::make_unique<PlayerFixture>();
        if (!player->load())
            return nullptr;
        if (entries > 0)
            player->window->addChosenFiles(PlayerFixture::paths(entries));
        return player;
    }
    static QString path(int i) { return QStringLiteral("/m/%1.mp3").arg(i); }
    static QTimer *timer(PlayerFixture &p, const char *name)
    {
        return p.window->findChild<QTimer *>(QLatin1String(name));
    }
    static int selection(PlayerFixture &p) { return p.listName()->currentRow(); }
    static void select(PlayerFixture &p, int row) { p.listName()->setCurrentRow(row); }
    // One natural end of the playing track, as the component reports it: the end,
    // then (after the handler has opened the next media) the second report.
    static void naturalEnd(PlayerFixture &p)
    {
        p.media.setState(Stopped);
        if (p.window->state().endPhase == 2)
            p.media.setState(Stopped);
        p.media.setState(Playing);
    }

private slots:
    void play_emptyList_asksAndOnOkRunsAddFiles()
    {
        auto p = playerWith(0);
        p->window->state().stoppedByUser = true;
        p->prompts.answerNext(Prompts::AnswerOk);
        p->prompts.chooseFilesNext({QStringLiteral("/m/new.mp3")});
        p->click("imgPlay");
        QCOMPARE(p->prompts.shown().size(), 1);
        QCOMPARE(p->prompts.shown()[0].title, QStringLiteral("播放错误:"));
        QCOMPARE(p->prompts.shown()[0].text, QStringLiteral("播放列表为空，请添加曲目！"));
        QCOMPARE(p->prompts.shown()[0].buttons, Prompts::OkCancel);
        QCOMPARE(p->prompts.shown()[0].icon, Prompts::Warning);
        QCOMPARE(p->window->state().msgAnswer, 1);
        QCOMPARE(p->names(), QStringList{QStringLiteral("new.mp3")});
        QVERIFY(p->media.urls.isEmpty()); // adding never plays
        QCOMPARE(p->window->state().stoppedByUser, false);
    }

    void play_emptyList_cancelChangesNothingButStoppedByUser()
    {
        auto p = playerWith(0);
        p->window->state().stoppedByUser = true;
        p->prompts.answerNext(Prompts::AnswerCancel);
        p->click("imgPlay");
        QCOMPARE(p->window->state().msgAnswer, 2);
        QCOMPARE(p->prompts.choosersShown(), 0);
        QCOMPARE(p->window->state().stoppedByUser, false);
    }

    void play_noSelection_playsFirstEntryWithoutSelecting_andSelectionRestarts()
    {
        auto p = playerWith(3);
        timer(*p, "timerDisplay")->stop();
        p->click("imgPlay");
        QCOMPARE(p->media.urls, QStringList{path(0)});
        QCOMPARE(selection(*p), -1);
        QVERIFY(timer(*p, "timerDisplay")->isActive());
        select(*p, 2);
        p->click("imgPlay");
        p->click("imgPlay"); // the same entry starts over
        QCOMPARE(p->media.urls, QStringList({path(0), path(2), path(2)}));
    }

    void pause_togglesAndPlayResumesWithoutNewUrl()
    {
        auto p = playerWith(2);
        p->click("imgPlay");
        p->media.setState(Playing);
        p->media.calls.clear();
        p->click("imgPause");
        QCOMPARE(p->media.calls, QStringList{QStringLiteral("pause")});
        QCOMPARE(p->label("lblCurrent")->text(), QStringLiteral("已暂停"));
        QVERIFY(!timer(*p, "timerDisplay")->isActive());
        QVERIFY(!timer(*p, "timerTotle")->isActive());
        QVERIFY(p->window->state().isPaused);
        p->click("imgPlay");
        QCOMPARE(p->media.calls, QStringList({"pause", "play"}));
        QVERIFY(timer(*p, "timerDisplay")->isActive());
        QVERIFY(!p->window->state().isPaused);
        // Pause twice: the second press resumes.
        p->click("imgPause");
        p->click("imgPause");
        QCOMPARE(p->media.calls, QStringList({"pause", "play", "pause", "play"}));
        QVERIFY(!p->window->state().isPaused);
    }

    void stop_clearsSelectionAndDisplay_soPlayStartsFirstEntry()
    {
        auto p = playerWith(3);
        select(*p, 1);
        p->click("imgPlay");
        p->media.setState(Playing);
        p->window->findChild<LineControl *>(QStringLiteral("lineFront"))->setX2(1200);
        p->label("lblTime")->setText(QStringLiteral("01:00"));
        p->click("imgStop");
        QVERIFY(p->window->state().stoppedByUser);
        QCOMPARE(p->media.calls.last(), QStringLiteral("stop"));
        QCOMPARE(selection(*p), -1);
        QCOMPARE(p->label("lblCurrent")->text(), QStringLiteral("已停止"));
        QCOMPARE(p->label("lblTime")->text(), QStringLiteral("00:00:00"));
        QCOMPARE(p->label("lblTotletime")->text(), QStringLiteral("00:00:00"));
        QCOMPARE(p->window->findChild<LineControl *>(QStringLiteral("lineFront"))->x2(), 0.0);
        QVERIFY(timer(*p, "timerTotle")->isActive()); // the timers keep running
        p->click("imgPlay");
        QCOMPARE(p->media.urls.last(), path(0));
        QVERIFY(!p->window->state().stoppedByUser);
    }

    void nextAndPrevious_moveSelectionAndPlay_andShowBoundaryBoxes()
    {
        auto p = playerWith(3);
        p->click("imgNext"); // no selection: the first entry
        QCOMPARE(selection(*p), 0);
        p->click("imgNext");
        p->click("imgNext");
        QCOMPARE(p->media.urls, QStringList({path(0), path(1), path(2)}));
        p->click("imgNext");
        QCOMPARE(p->prompts.shown().size(), 1);
        QCOMPARE(p->prompts.shown()[0].title, QStringLiteral("播放错误:"));
        QCOMPARE(p->prompts.shown()[0].text, QStringLiteral("已是尾纪录！"));
        QCOMPARE(p->prompts.shown()[0].buttons, Prompts::Ok);
        QCOMPARE(selection(*p), 2);
        QCOMPARE(p->media.urls.size(), 3); // playback left running

        p->click("imgPrev");
        p->click("imgPrev");
        QCOMPARE(p->media.urls.mid(3), QStringList({path(1), path(0)}));
        p->click("imgPrev");
        QCOMPARE(p->prompts.shown().size(), 2);
        QCOMPARE(p->prompts.shown()[1].text, QStringLiteral("已是首纪录！"));
        QCOMPARE(p->media.urls.size(), 5);
        QVERIFY(!p->media.calls.contains(QStringLiteral("stop")));
    }

    void nextAndPrevious_emptyList_showOperationError()
    {
        auto p = playerWith(0);
        p->click("imgNext");
        p->click("imgPrev");
        QCOMPARE(p->prompts.shown().size(), 2);
        for (const auto &box : p->prompts.shown()) {
            QCOMPARE(box.title, QStringLiteral("操作错误:"));
            QCOMPARE(box.text, QStringLiteral("播放列表空，请添加曲目！"));
        }
        QVERIFY(p->media.calls.isEmpty());
    }

    void previous_noSelection_goesToFirstEntry()
    {
        auto p = playerWith(3);
        p->click("imgPrev");
        QCOMPARE(selection(*p), 0);
        QCOMPARE(p->media.urls, QStringList{path(0)});
        QVERIFY(p->prompts.shown().isEmpty());
    }

    void nextAndPrevious_afterPlayWithoutSelection_goOnFromThePlayingEntry()
    {
        auto p = playerWith(3);
        p->click("imgPlay"); // entry 0 plays, nothing selected
        p->click("imgPrev");
        QCOMPARE(p->prompts.shown().size(), 1);
        QCOMPARE(p->prompts.shown()[0].text, QStringLiteral("已是首纪录！"));
        p->click("imgNext");
        QCOMPARE(p->media.urls, QStringList({path(0), path(1)}));
        QCOMPARE(selection(*p), 1);
    }

    void nextPreviousAndDoubleClick_leaveStoppedByUserPausedAndTimers()
    {
        auto p = playerWith(3);
        p->click("imgPause");
        p->click("imgStop");
        timer(*p, "timerTotle")->stop();
        p->click("imgNext");
        QVERIFY(p->window->state().stoppedByUser);
        QVERIFY(p->window->state().isPaused);
        QVERIFY(!timer(*p, "timerDisplay")->isActive());
        // A double-click switches on the time timer only.
        select(*p, 2);
        const QPoint at = p->listName()->visualItemRect(p->listName()->item(2)).center();
        QTest::mouseClick(p->listName()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(p->listName()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(p->media.urls.last(), path(2));
        QVERIFY(timer(*p, "timerTotle")->isActive());
        QVERIFY(!timer(*p, "timerDisplay")->isActive());
        QCOMPARE(p->label("lblCurrent")->text(), QStringLiteral("已停止"));
    }

    void doubleClick_noSelection_playsNothing()
    {
        auto p = playerWith(2);
        p->window->goTo(-1);
        QMetaObject::invokeMethod(p->window.get(), "listName_DblClick");
        QVERIFY(p->media.urls.isEmpty());
    }

    void stepButtons_passPositionPlusOrMinusTenUnbounded()
    {
        auto p = playerWith(1);
        p->media.setPosition(5);
        p->click("imgStepback"); // "快进"
        QCOMPARE(p->media.calls.last(), QStringLiteral("seek:15"));
        p->click("imgStepfront"); // "快退"
        p->click("imgStepfront");
        QCOMPARE(p->media.calls.last(), QStringLiteral("seek:-5"));
    }

    void loopButton_cyclesModesAndCaptions()
    {
        auto p = playerWith(0);
        QSignalSpy changed(p->window.get(), &FrmPlayer::playModeChanged);
        const QStringList captions = {"顺序循环", "随机循环", "单曲循环", "全部循环"};
        const QList<int> modes = {3, 0, 1, 2};
        for (int i = 0; i < 4; ++i) {
            p->click("imgLoop");
            QCOMPARE(int(p->window->state().playMode), modes[i]);
            QCOMPARE(p->label("lblLoop")->text(), captions[i]);
        }
        QCOMPARE(changed.size(), 4);
        QVERIFY(p->media.calls.isEmpty());
        p->window->state().playMode = 7; // not a mode: the button leaves it
        p->click("imgLoop");
        QCOMPARE(int(p->window->state().playMode), 7);
    }

    void endOfTrack_inOrder_advancesOncePerEndAndStopsAfterLast()
    {
        auto p = playerWith(3);
        p->window->state().playMode = 3;
        select(*p, 0);
        p->click("imgPlay");
        p->media.setState(Playing);
        p->media.calls.clear();

        p->media.setState(Stopped); // end of entry 0: phase 1 advances
        QCOMPARE(p->media.calls, QStringList({"setUrl:" + path(1), "play"}));
        QCOMPARE(selection(*p), 1);
        QCOMPARE(p->window->state().endPhase, 2);
        p->media.setState(Stopped); // opened: phase 2 only plays
        QCOMPARE(p->media.calls, QStringList({"setUrl:" + path(1), "play", "play"}));
        QCOMPARE(p->window->state().endPhase, 1);
        p->media.setState(Playing);

        naturalEnd(*p);
        QCOMPARE(selection(*p), 2);
        p->media.calls.clear();
        p->label("lblTime")->setText(QStringLiteral("00:10"));
        p->media.setState(Stopped); // end of the last entry
        QCOMPARE(p->media.calls, QStringList{QStringLiteral("stop")});
        QCOMPARE(selection(*p), -1);
        QCOMPARE(p->label("lblCurrent")->text(), QStringLiteral("已停止"));
        QCOMPARE(p->label("lblTime")->text(), QStringLiteral("00:00:00"));
        QCOMPARE(p->window->state().endPhase, 1);
    }

    void endOfTrack_inOrderLastEntry_endStopsButOpeningReportPlays()
    {
        auto p = playerWith(2);
        p->window->state().playMode = 3;
        select(*p, 1);
        p->media.setState(Stopped); // the last entry ended
        QCOMPARE(p->media.calls, QStringList{QStringLiteral("stop")});
        QCOMPARE(p->window->state().endPhase, 1);

        // Advancing into the last entry: its opening report only re-issues play,
        // so the last track of the list is played, not skipped.
        select(*p, 0);
        p->media.calls.clear();
        p->media.setState(Stopped);
        QCOMPARE(selection(*p), 1);
        p->media.setState(Stopped);
        QCOMPARE(p->media.calls, QStringList({"setUrl:" + path(1), "play", "play"}));
        QCOMPARE(p->window->state().endPhase, 1);
    }

    void endOfTrack_repeatAll_wrapsToFirstEntry()
    {
        auto p = playerWith(3);
        select(*p, 2);
        p->media.setState(Stopped);
        QCOMPARE(selection(*p), 0);
        QCOMPARE(p->media.urls, QStringList{path(0)});
    }

    void endOfTrack_repeatOne_replaysSelected_orTheEndedTrackWithoutSelection()
    {
        auto p = playerWith(3);
        p->window->state().playMode = 1;
        select(*p, 1);
        naturalEnd(*p);
        naturalEnd(*p);
        QCOMPARE(p->media.urls, QStringList({path(1), path(1)}));
        QCOMPARE(selection(*p), 1);

        // Started by Play with nothing selected: the ended track plays again.
        p->click("imgStop");
        p->click("imgPlay");
        p->media.setState(Playing);
        naturalEnd(*p);
        QCOMPARE(p->media.urls.last(), path(0));
        QCOMPARE(selection(*p), -1);
    }

    void endOfTrack_random_drawsAnEntryInRangeAndSelectsIt()
    {
        auto p = playerWith(5);
        p->window->state().playMode = 0;
        for (int i = 0; i < 20; ++i) {
            naturalEnd(*p);
            const int drawn = selection(*p);
            QVERIFY(drawn >= 0 && drawn < 5);
            QCOMPARE(p->media.urls.last(), path(drawn));
        }
        QCOMPARE(p->media.urls.size(), 20);
        auto one = playerWith(1);
        one->window->state().playMode = 0;
        naturalEnd(*one);
        QCOMPARE(one->media.urls, QStringList{path(0)});
    }

    void endOfTrack_afterPlayWithoutSelection_continuesFromThePlayingEntry()
    {
        auto p = playerWith(3);
        p->click("imgPlay");
        p->media.setState(Playing);
        naturalEnd(*p);
        QCOMPARE(p->media.urls, QStringList({path(0), path(1)}));
        QCOMPARE(selection(*p), 1);
    }

    void totalTime_showsTheLengthOnceTheEngineLearnsIt_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("expected");
        QTest::newRow("playing") << int(Playing) << QStringLiteral("02:05");
        QTest::newRow("paused") << int(MediaComponent::Paused) << QStringLiteral("02:05");
        QTest::newRow("after stop") << int(Stopped) << QStringLiteral("00:00:00");
    }

    void totalTime_showsTheLengthOnceTheEngineLearnsIt()
    {
        QFETCH(int, state);
        QFETCH(QString, expected);
        auto p = playerWith(1);
        p->click("imgPlay");
        p->media.setState(Playing); // the length is not known yet
        QCOMPARE(p->label("lblTotletime")->text(), QStringLiteral("00:00"));
        if (state == Stopped)
            p->click("imgStop");
        p->media.setState(state);
        p->media.learnDuration(125);
        QCOMPARE(p->label("lblTotletime")->text(), expected);
    }

    void endOfTrack_stoppedByUserOrEmptyList_doesNothingButTotalTimeFollows()
    {
        auto p = playerWith(2);
        p->media.setMedia(QStringLiteral("歌"), 125);
        select(*p, 0);
        p->click("imgStop");
        p->media.calls.clear();
        p->media.setState(Playing);
        QCOMPARE(p->label("lblTotletime")->text(), QStringLiteral("02:05"));
        p->media.setState(Stopped);
        QVERIFY(p->media.calls.isEmpty());

        auto empty = playerWith(0);
        empty->media.setState(Stopped);
        QVERIFY(empty->media.calls.isEmpty());
        QCOMPARE(empty->window->state().endPhase, 1);
    }

    void endOfTrack_everyEntryFailing_stopsAfterOnePass()
    {
        auto p = playerWith(3);
        p->media.setEndIsError(true);
        select(*p, 0);
        p->click("imgPlay");
        for (int i = 0; i < 10 && p->media.calls.last() != QLatin1String("stop"); ++i) {
            p->media.setState(Stopped);
            if (p->window->state().endPhase == 2)
                p->media.setState(Stopped);
        }
        QCOMPARE(p->media.calls.last(), QStringLiteral("stop"));
        QCOMPARE(p->media.urls, QStringList({path(0), path(1), path(2)}));
        QCOMPARE(p->label("lblCurrent")->text(), QStringLiteral("已停止"));

        // One good track in the list keeps it going round.
        auto mixed = playerWith(2);
        select(*mixed, 0);
        for (int i = 0; i < 6; ++i) {
            const bool goodEntry = selection(*mixed) == 1;
            if (goodEntry)
                mixed->media.setState(Playing);
            mixed->media.setEndIsError(!goodEntry);
            mixed->media.setState(Stopped);
            mixed->media.setState(Stopped);
        }
        QVERIFY(!mixed->media.calls.contains(QStringLiteral("stop")));
        QCOMPARE(mixed->media.urls.size(), 6);
    }

    void timers_showTitleTimeAndProgressOnlyWhilePlaying()
    {
        auto p = playerWith(1);
        auto *line = p->window->findChild<LineControl *>(QStringLiteral("lineFront"));
        p->window->state().stoppedByUser = true; // keep the handler out of it
        p->media.setMedia(QStringLiteral("晴天"), 150);
        p->media.setPosition(75);
        p->media.setState(Stopped);
        QMetaObject::invokeMethod(p->window.get(), "timerDisplay_Timer");
        QMetaObject::invokeMethod(p->window.get(), "timerTotle_Timer");
        QCOMPARE(p->label("lblCurrent")->text(), QString());
        QCOMPARE(line->x2(), 0.0);

        p->media.setState(Playing);
        QTRY_COMPARE_WITH_TIMEOUT(p->label("lblCurrent")->text(), QStringLiteral("正在播放:晴天"), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(line->x2(), 2400.0, 2000);
        QCOMPARE(p->label("lblTime")->text(), QStringLiteral("01:15"));

        // Whole seconds, rounded half to even: 0.5 of 1.5 s gives 0 of 2.
        p->media.setMedia(QStringLiteral("短"), 1.5);
        p->media.setPosition(0.5);
        QMetaObject::invokeMethod(p->window.get(), "timerTotle_Timer");
        QCOMPARE(line->x2(), 0.0);
        p->media.setPosition(1.5);
        QMetaObject::invokeMethod(p->window.get(), "timerTotle_Timer");
        QCOMPARE(line->x2(), 4800.0);
    }

    void timers_unmeasurableLength_keepsLineAtStart()
    {
        auto p = playerWith(1);
        auto *line = p->window->findChild<LineControl *>(QStringLiteral("lineFront"));
        p->media.setState(Playing);
        line->setX2(1000);
        p->media.setMedia(QStringLiteral("x"), 0.4); // rounds to 0
        p->media.setPosition(0.2);
        QMetaObject::invokeMethod(p->window.get(), "timerTotle_Timer");
        QCOMPARE(line->x2(), 0.0);
        p->media.setMedia(QStringLiteral("x"), 40000); // past 16 bits
        p->media.setPosition(35000);
        QMetaObject::invokeMethod(p->window.get(), "timerTotle_Timer");
        QCOMPARE(line->x2(), 0.0);
    }

    void seekBar_clickSeeksToShareOfDuration_onlyWhilePlaying()
    {
        auto p = playerWith(1);
        auto *bar = p->window->findChild<SeekBar *>(QStringLiteral("Picture1"));
        p->media.setMedia(QStringLiteral("x"), 200);
        p->media.setState(Playing);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(160, 3)); // 2400 twips
        QCOMPARE(p->media.calls.last(), QStringLiteral("seek:100"));
        QTest::mouseClick(bar, Qt::RightButton, {}, QPoint(324, 3)); // past the full scale
        QVERIFY(p->media.currentPosition() > 200);
        p->media.calls.clear();
        p->click("imgPause");
        p->media.setState(MediaComponent::Paused);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(80, 3));
        QCOMPARE(p->media.calls, QStringList{QStringLiteral("pause")});
    }
};

QTEST_MAIN(TransportTest)
#include "test_transport.moc"
