// The main window on the real GStreamer engine: what plays after what in each
// play mode, and what the user's actions in the middle of a track do.
#include "PlayerFixture.h"

#include "GstMediaComponent.h"
#include "Mp3Fixture.h"

#include <QLabel>
#include <QListWidget>
#include <QtTest>

namespace {

constexpr double kTrackSeconds = 0.8;
constexpr int kWaitMs = 15000;

// The titles of the tracks as they start playing, in order.
class StartLog : public QObject
{
public:
    explicit StartLog(MediaComponent &media)
    {
        connect(&media, &MediaComponent::statusChange, this, [this, &media] {
            if (media.playState() == MediaComponent::Playing)
                titles.append(media.currentMediaName());
        });
    }
    QStringList titles;
};

// The main window with the real engine on a silent sink.
struct RealPlayer
{
    RealPlayer() : media(QStringLiteral("fakesink")), fixture()
    {
        fixture.services.media = &media;
        fixture.window = std::make_unique<FrmPlayer>(fixture.services);
    }
    GstMediaComponent media;
    PlayerFixture fixture;
};

} // namespace

class PlaybackRealTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_media;
    QStringList m_tracks;

    std::unique_ptr<RealPlayer> playerWithTracks(int mode, const QStringList &paths = {})
    {
        auto player = std::make_unique<RealPlayer>();
        player->fixture.load();
        player->fixture.window->addChosenFiles(paths.isEmpty() ? m_tracks : paths);
        player->fixture.window->state().playMode = qint16(mode);
        return player;
    }

private slots:
    void initTestCase()
    {
        for (const char *title : {"A", "B", "C"}) {
            const QString path = m_media.filePath(QLatin1String(title) + QStringLiteral(".mp3"));
            QVERIFY2(Mp3Fixture::make(path, kTrackSeconds, QLatin1String(title)), "sox and lame make the test media");
            m_tracks.append(path);
        }
    }

    void inOrder_playsEachTrackOnceThenStops()
    {
        auto p = playerWithTracks(3);
        StartLog log(p->media);
        p->fixture.window->imgPlay_Click();
        QTRY_COMPARE_WITH_TIMEOUT(p->fixture.label("lblCurrent")->text(), QStringLiteral("已停止"), kWaitMs);
        QCOMPARE(log.titles, QStringList({"A", "B", "C"}));
        QCOMPARE(p->fixture.listName()->currentRow(), -1);
        QCOMPARE(p->fixture.label("lblTime")->text(), QStringLiteral("00:00:00"));
        QTest::qWait(1000); // and stays stopped
        QCOMPARE(log.titles.size(), 3);
    }

    void repeatAll_wrapsAroundToTheFirstTrack()
    {
        auto p = playerWithTracks(2);
        StartLog log(p->media);
        p->fixture.listName()->setCurrentRow(1);
        p->fixture.window->imgPlay_Click();
        QTRY_VERIFY_WITH_TIMEOUT(log.titles.size() >= 5, kWaitMs);
        QCOMPARE(log.titles.mid(0, 5), QStringList({"B", "C", "A", "B", "C"}));
        p->fixture.window->imgStop_Click();
    }

    void repeatOne_replaysTheSelectedTrack()
    {
        auto p = playerWithTracks(1);
        StartLog log(p->media);
        p->fixture.listName()->setCurrentRow(2);
        p->fixture.window->imgPlay_Click();
        QTRY_VERIFY_WITH_TIMEOUT(log.titles.size() >= 3, kWaitMs);
        QCOMPARE(log.titles.mid(0, 3), QStringList({"C", "C", "C"}));
        QCOMPARE(p->fixture.listName()->currentRow(), 2);
        p->fixture.window->imgStop_Click();
    }

    void random_startsExactlyOneTrackPerEnd()
    {
        auto p = playerWithTracks(0);
        StartLog log(p->media);
        int ends = 0;
        connect(&p->media, &MediaComponent::statusChange, this, [&] {
            if (p->media.playState() == MediaComponent::Stopped && p->fixture.window->state().endPhase == 2)
                ++ends; // the handler has just advanced
        });
        p->fixture.window->imgPlay_Click();
        QTRY_VERIFY_WITH_TIMEOUT(log.titles.size() >= 4, kWaitMs);
        p->fixture.window->imgStop_Click();
        for (const QString &title : log.titles)
            QVERIFY(QStringList({"A", "B", "C"}).contains(title));
        QCOMPARE(ends, int(log.titles.size()) - 1);
    }

    void userActionsMidTrack_neverAdvanceOnTheirOwn()
    {
        auto p = playerWithTracks(2);
        StartLog log(p->media);
        p->fixture.listName()->setCurrentRow(0);
        p->fixture.window->imgPlay_Click();
        QTRY_COMPARE_WITH_TIMEOUT(log.titles.size(), 1, kWaitMs);
        p->fixture.window->imgNext_Click(); // B, mid-track
        QTRY_COMPARE_WITH_TIMEOUT(log.titles.size(), 2, kWaitMs);
        p->fixture.window->goTo(0); // a double-click on A
        QTRY_COMPARE_WITH_TIMEOUT(log.titles.size(), 3, kWaitMs);
        p->fixture.window->imgPrev_Click(); // at the first entry: a box, nothing else
        // A's natural end then moves on to B, exactly once.
        QTRY_COMPARE_WITH_TIMEOUT(log.titles.size(), 4, kWaitMs);
        QCOMPARE(log.titles, QStringList({"A", "B", "A", "B"}));
        QCOMPARE(p->fixture.prompts.shown().size(), 1);

        p->fixture.window->imgStop_Click();
        QTest::qWait(int(kTrackSeconds * 2000));
        QCOMPARE(log.titles.size(), 4);
        QCOMPARE(p->media.playState(), int(MediaComponent::Stopped));
    }

    void pause_holdsPosition_andPlayResumesTheSameTrack()
    {
        QTemporaryDir dir;
        const QString longer = dir.filePath(QStringLiteral("long.mp3"));
        QVERIFY(Mp3Fixture::make(longer, 3, QStringLiteral("L")));
        auto p = playerWithTracks(2, {longer});
        p->fixture.window->imgPlay_Click();
        QTRY_COMPARE_WITH_TIMEOUT(p->media.playState(), int(MediaComponent::Playing), kWaitMs);
        QTest::qWait(400);
        p->fixture.window->imgPause_Click();
        QTRY_COMPARE_WITH_TIMEOUT(p->media.playState(), int(MediaComponent::Paused), kWaitMs);
        const double held = p->media.currentPosition();
        QTest::qWait(500);
        QCOMPARE(p->media.currentPosition(), held);
        p->fixture.window->imgPlay_Click();
        QTRY_VERIFY_WITH_TIMEOUT(p->media.currentPosition() > held + 0.2, kWaitMs);
        QCOMPARE(p->media.currentMediaName(), QStringLiteral("L"));
        p->fixture.window->imgStop_Click();
    }

    void lowBitrate_totalTimeShowsTheLengthWhileItPlays_data()
    {
        QTest::addColumn<int>("kbps");
        // These rates carry no length header: the engine works it out while playing.
        QTest::newRow("8 kbps") << 8;
        QTest::newRow("32 kbps") << 32;
    }

    void lowBitrate_totalTimeShowsTheLengthWhileItPlays()
    {
        QFETCH(int, kbps);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("low.mp3"));
        QVERIFY(Mp3Fixture::make(path, 3, QStringLiteral("Low"), kbps));
        auto p = playerWithTracks(3, {path});
        p->fixture.window->imgPlay_Click();
        QTRY_COMPARE_WITH_TIMEOUT(p->fixture.label("lblTotletime")->text(), QStringLiteral("00:03"), kWaitMs);
        QCOMPARE(p->media.playState(), int(MediaComponent::Playing));
        p->fixture.window->imgStop_Click();
    }

    void everyEntryFailing_stopsAfterOnePass()
    {
        QTemporaryDir dir;
        QFile text(dir.filePath(QStringLiteral("notes.mp3")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not audio at all\n");
        text.close();
        auto p = playerWithTracks(2, {dir.filePath(QStringLiteral("missing.mp3")), text.fileName()});
        int opened = 0;
        connect(&p->media, &MediaComponent::statusChange, this, [&] {
            if (p->media.playState() == MediaComponent::Stopped)
                ++opened;
        });
        p->fixture.window->imgPlay_Click();
        QTRY_COMPARE_WITH_TIMEOUT(p->fixture.label("lblCurrent")->text(), QStringLiteral("已停止"), kWaitMs);
        const int reports = opened;
        QTest::qWait(1000);
        QCOMPARE(opened, reports); // it does not spin
    }
};

QTEST_MAIN(PlaybackRealTest)
#include "test_playback_real.moc"
