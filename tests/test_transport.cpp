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

using namespace Qt::StringLiterals;

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
    static QString path(int i) { return u"/m/%1.mp3"_s.arg(i); }
    static QTimer *timer(PlayerFixture &p, const char *name)
    {
        return p.window->findChild<QTimer *>(QLatin1String(name));
    }
    static LineControl *progress(PlayerFixture &p)
    {
        return p.window->findChild<LineControl *>(u"lineFront"_s);
    }
    static int selection(PlayerFixture &p) { return p.listName()->currentRow(); }
    static void select(PlayerFixture &p, int row) { p.listName()->setCurrentRow(row); }
    // Each box shown, as its title and text.
    static QStringList boxes(PlayerFixture &p)
    {
        QStringList boxes;
        for (const auto &box : p.prompts.shown())
            boxes.append(box.title + box.text);
        return boxes;
    }
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
    void play_emptyList_asks_okRunsAddFiles_cancelDoesNot_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("ok") << int(Prompts::AnswerOk) << QStringList{u"new.mp3"_s};
        QTest::newRow("cancel") << int(Prompts::AnswerCancel) << QStringList();
    }

    void play_emptyList_asks_okRunsAddFiles_cancelDoesNot()
    {
        QFETCH(int, answer);
        QFETCH(QStringList, names);
        auto p = playerWith(0);
        p->window->state().stoppedByUser = true;
        p->prompts.answerNext(answer);
        p->prompts.chooseFilesNext({u"/m/new.mp3"_s});
        p->click("imgPlay");
        QCOMPARE(boxes(*p), QStringList{u"播放错误:播放列表为空，请添加曲目！"_s});
        QCOMPARE(p->prompts.shown()[0].buttons, Prompts::OkCancel);
        QCOMPARE(p->prompts.shown()[0].icon, Prompts::Warning);
        QCOMPARE(p->window->state().msgAnswer, answer);
        QCOMPARE(p->prompts.choosersShown(), names.size());
        QCOMPARE(p->names(), names);
        QVERIFY(p->media.urls.isEmpty()); // adding never plays
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
        QCOMPARE(p->media.calls, QStringList{u"pause"_s});
        QCOMPARE(p->label("lblCurrent")->text(), u"已暂停"_s);
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
        progress(*p)->setX2(1200);
        p->label("lblTime")->setText(u"01:00"_s);
        p->click("imgStop");
        QVERIFY(p->window->state().stoppedByUser);
        QCOMPARE(p->media.calls.last(), u"stop"_s);
        QCOMPARE(selection(*p), -1);
        QCOMPARE(p->label("lblCurrent")->text(), u"已停止"_s);
        QCOMPARE(p->label("lblTime")->text(), u"00:00:00"_s);
        QCOMPARE(p->label("lblTotletime")->text(), u"00:00:00"_s);
        QCOMPARE(progress(*p)->x2(), 0.0);
        QVERIFY(timer(*p, "timerTotle")->isActive()); // the timers keep running
        p->click("imgPlay");
        QCOMPARE(p->media.urls.last(), path(0));
        QVERIFY(!p->window->state().stoppedByUser);
    }

    void stepsAndEnds_playTheRightEntries_data()
    {
        // Steps: a button (play, stop, next, prev), mode:<play mode>, select:<row>,
        // goTo:<row>, dblClick (the list's handler), playing (the engine reports
        // it), end (one natural end) or endReport (the end report alone).
        QTest::addColumn<int>("entries");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QList<int>>("played");
        QTest::addColumn<int>("selection");
        QTest::addColumn<QStringList>("boxes");
        const QString first = u"播放错误:已是首纪录！"_s;
        const QString last = u"播放错误:已是尾纪录！"_s;
        const QString empty = u"操作错误:播放列表空，请添加曲目！"_s;
        const auto row = [](const char *tag, int entries, const char *steps, const QList<int> &played,
                            int selection, const QStringList &boxes = {}) {
            QTest::newRow(tag) << entries << QString::fromUtf8(steps) << played << selection << boxes;
        };
        row("next, nothing selected", 3, "next", {0}, 0);
        row("next past the last, playback left running", 3, "next next next next", {0, 1, 2}, 2, {last});
        row("then prev past the first", 3, "next next next next prev prev prev", {0, 1, 2, 1, 0}, 0,
            {last, first});
        row("prev, nothing selected", 3, "prev", {0}, 0);
        row("next and prev, empty list", 0, "next prev", {}, -1, {empty, empty});
        // Play with nothing selected: next, prev and the end go on from the playing entry.
        row("prev and next after play", 3, "play prev next", {0, 1}, 1, {first});
        row("end after play", 3, "play playing end", {0, 1}, 1);
        row("double-click, nothing selected", 2, "goTo:-1 dblClick", {}, -1);
        // At start-up the list repeats as a whole.
        row("end, repeat all: wraps", 3, "select:2 endReport", {0}, 0);
        row("end, repeat one", 3, "mode:1 select:1 end end", {1, 1}, 1);
        row("end, repeat one, nothing selected: the ended track again", 3,
            "mode:1 select:1 end end stop play playing end", {1, 1, 0, 0}, -1);
        row("end, random, one entry", 1, "mode:0 end", {0}, 0);
    }

    void stepsAndEnds_playTheRightEntries()
    {
        QFETCH(int, entries);
        QFETCH(QString, steps);
        QFETCH(QList<int>, played);
        QFETCH(int, selection);
        QFETCH(QStringList, boxes);
        auto p = playerWith(entries);
        const QHash<QString, std::function<void(int)>> actions = {
            {u"mode"_s, [&](int mode) { p->window->state().playMode = mode; }},
            {u"select"_s, [&](int row) { select(*p, row); }},
            {u"goTo"_s, [&](int row) { p->window->goTo(row); }},
            {u"dblClick"_s, [&](int) { QMetaObject::invokeMethod(p->window.get(), "listName_DblClick"); }},
            {u"playing"_s, [&](int) { p->media.setState(Playing); }},
            {u"end"_s, [&](int) { naturalEnd(*p); }},
            {u"endReport"_s, [&](int) { p->media.setState(Stopped); }}};
        for (const QString &step : steps.split(u' ')) {
            const QString word = step.section(u':', 0, 0);
            if (actions.contains(word))
                actions[word](step.section(u':', 1).toInt());
            else
                p->click(qPrintable(u"img"_s + word.left(1).toUpper() + word.mid(1)));
        }
        QStringList urls;
        for (const int entry : played)
            urls.append(path(entry));
        QCOMPARE(p->media.urls, urls);
        QCOMPARE(TransportTest::selection(*p), selection);
        QCOMPARE(TransportTest::boxes(*p), boxes);
        for (const auto &box : p->prompts.shown())
            QCOMPARE(box.buttons, Prompts::Ok);
        // Only Stop stops the engine, and nothing played means it was not touched.
        QCOMPARE(p->media.calls.contains(u"stop"_s), steps.contains(u"stop"));
        QCOMPARE(p->media.calls.isEmpty(), urls.isEmpty());
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
        QCOMPARE(p->label("lblCurrent")->text(), u"已停止"_s);
    }

    void stepButtons_passPositionPlusOrMinusTenUnbounded()
    {
        auto p = playerWith(1);
        p->media.setPosition(5);
        p->click("imgStepback"); // "快进"
        QCOMPARE(p->media.calls.last(), u"seek:15"_s);
        p->click("imgStepfront"); // "快退"
        p->click("imgStepfront");
        QCOMPARE(p->media.calls.last(), u"seek:-5"_s);
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
        p->label("lblTime")->setText(u"00:10"_s);
        p->media.setState(Stopped); // end of the last entry
        QCOMPARE(p->media.calls, QStringList{u"stop"_s});
        QCOMPARE(selection(*p), -1);
        QCOMPARE(p->label("lblCurrent")->text(), u"已停止"_s);
        QCOMPARE(p->label("lblTime")->text(), u"00:00:00"_s);
        QCOMPARE(p->window->state().endPhase, 1);
    }

    void endOfTrack_inOrderLastEntry_endStopsButOpeningReportPlays()
    {
        auto p = playerWith(2);
        p->window->state().playMode = 3;
        select(*p, 1);
        p->media.setState(Stopped); // the last entry ended
        QCOMPARE(p->media.calls, QStringList{u"stop"_s});
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
    }

    void totalTime_showsTheLengthOnceTheEngineLearnsIt_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("expected");
        QTest::newRow("playing") << int(Playing) << u"02:05"_s;
        QTest::newRow("paused") << int(MediaComponent::Paused) << u"02:05"_s;
        QTest::newRow("after stop") << int(Stopped) << u"00:00:00"_s;
    }

    void totalTime_showsTheLengthOnceTheEngineLearnsIt()
    {
        QFETCH(int, state);
        QFETCH(QString, expected);
        auto p = playerWith(1);
        p->click("imgPlay");
        p->media.setState(Playing); // the length is not known yet
        QCOMPARE(p->label("lblTotletime")->text(), u"00:00"_s);
        if (state == Stopped)
            p->click("imgStop");
        p->media.setState(state);
        p->media.learnDuration(125);
        QCOMPARE(p->label("lblTotletime")->text(), expected);
    }

    void endOfTrack_stoppedByUserOrEmptyList_doesNothingButTotalTimeFollows()
    {
        auto p = playerWith(2);
        p->media.setMedia(u"歌"_s, 125);
        select(*p, 0);
        p->click("imgStop");
        p->media.calls.clear();
        p->media.setState(Playing);
        QCOMPARE(p->label("lblTotletime")->text(), u"02:05"_s);
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
        QCOMPARE(p->media.calls.last(), u"stop"_s);
        QCOMPARE(p->media.urls, QStringList({path(0), path(1), path(2)}));
        QCOMPARE(p->label("lblCurrent")->text(), u"已停止"_s);

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
        QVERIFY(!mixed->media.calls.contains(u"stop"_s));
        QCOMPARE(mixed->media.urls.size(), 6);
    }

    void timers_showTitleTimeAndProgressOnlyWhilePlaying()
    {
        auto p = playerWith(1);
        auto *line = progress(*p);
        p->window->state().stoppedByUser = true; // keep the handler out of it
        p->media.setMedia(u"晴天"_s, 150);
        p->media.setPosition(75);
        p->media.setState(Stopped);
        for (const char *tick : {"timerDisplay_Timer", "timerTotle_Timer"})
            QMetaObject::invokeMethod(p->window.get(), tick);
        QCOMPARE(p->label("lblCurrent")->text(), QString());
        QCOMPARE(line->x2(), 0.0);

        p->media.setState(Playing);
        QTRY_COMPARE_WITH_TIMEOUT(p->label("lblCurrent")->text(), u"正在播放:晴天"_s, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(line->x2(), 2400.0, 2000);
        QCOMPARE(p->label("lblTime")->text(), u"01:15"_s);
    }

    void progressLine_wholeSecondsOfTheLength_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("position");
        QTest::addColumn<double>("x2");
        QTest::newRow("half way") << 150.0 << 75.0 << 2400.0;
        // Rounded half to even: 0.5 of 1.5 s gives 0 of 2.
        QTest::newRow("half a second of one and a half") << 1.5 << 0.5 << 0.0;
        QTest::newRow("the end of one and a half seconds") << 1.5 << 1.5 << 4800.0;
        // A length that cannot be measured keeps the line at its start.
        QTest::newRow("length rounds to 0") << 0.4 << 0.2 << 0.0;
        QTest::newRow("length past 16 bits") << 40000.0 << 35000.0 << 0.0;
    }

    void progressLine_wholeSecondsOfTheLength()
    {
        QFETCH(double, duration);
        QFETCH(double, position);
        QFETCH(double, x2);
        auto p = playerWith(1);
        p->media.setState(Playing);
        progress(*p)->setX2(1000);
        p->media.setMedia(u"x"_s, duration);
        p->media.setPosition(position);
        QMetaObject::invokeMethod(p->window.get(), "timerTotle_Timer");
        QCOMPARE(progress(*p)->x2(), x2);
    }

    void seekBar_clickSeeksToShareOfDuration_onlyWhilePlaying()
    {
        auto p = playerWith(1);
        auto *bar = p->window->findChild<SeekBar *>(u"Picture1"_s);
        p->media.setMedia(u"x"_s, 200);
        p->media.setState(Playing);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(160, 3)); // 2400 twips
        QCOMPARE(p->media.calls.last(), u"seek:100"_s);
        QTest::mouseClick(bar, Qt::RightButton, {}, QPoint(324, 3)); // past the full scale
        QVERIFY(p->media.currentPosition() > 200);
        p->media.calls.clear();
        p->click("imgPause");
        p->media.setState(MediaComponent::Paused);
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(80, 3));
        QCOMPARE(p->media.calls, QStringList{u"pause"_s});
    }
};

QTEST_MAIN(TransportTest)
#include "test_transport.moc"
