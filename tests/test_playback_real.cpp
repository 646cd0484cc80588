// The main window on the real GStreamer engine: what plays after what in each
// play mode, and what the user's actions in the middle of a track do.
#include "PlayerFixture.h"

#include "GstMediaComponent.h"
#include "Mp3Fixture.h"

#include <QLabel>
#include <QListWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

constexpr double kTrackSeconds = 0.8;
constexpr int kWaitMs = 15000;
const QStringList kTitles = {u"A"_s, u"B"_s, u"C"_s}; // of the three short tracks, in list order

// The titles of the tracks as they start playing, in order: after a stop, or
// straight after the track before.
class StartLog : public QObject
{
public:
    explicit StartLog(MediaComponent &media)
    {
        connect(&media, &MediaComponent::statusChange, this, [this, &media] {
            if (media.playState() == MediaComponent::Playing)
                titles.append(media.currentMediaName());
        });
        connect(&media, &MediaComponent::mediaChanged, this, [this, &media] {
            titles.append(media.currentMediaName());
            ++gapless;
        });
    }
    QStringList titles;
    int gapless = 0;
};

// The main window with the real engine on a silent sink, loaded with tracks.
struct RealPlayer
{
    RealPlayer(int mode, const QStringList &paths) : media(u"fakesink"_s), log(media)
    {
        fixture.services.media = &media;
        fixture.window = std::make_unique<FrmPlayer>(fixture.services);
        fixture.load();
        window().addChosenFiles(paths);
        window().state().playMode = qint16(mode);
    }
    FrmPlayer &window() { return *fixture.window; }
    GstMediaComponent media;
    StartLog log;
    PlayerFixture fixture;
};

} // namespace

class PlaybackRealTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_media;
    QStringList m_tracks;

private slots:
    void initTestCase()
    {
        for (const QString &title : kTitles) {
            m_tracks.append(m_media.filePath(title + u".mp3"_s));
            QVERIFY2(Mp3Fixture::make(m_tracks.last(), kTrackSeconds, title),
                     "sox and lame make the test media");
        }
    }

    void inOrder_playsEachTrackOnceThenStops()
    {
        RealPlayer p(3, m_tracks);
        p.window().imgPlay_Click();
        QTRY_COMPARE_WITH_TIMEOUT(p.fixture.label("lblCurrent")->text(), u"已停止"_s, kWaitMs);
        QCOMPARE(p.log.titles, kTitles);
        QCOMPARE(p.fixture.listName()->currentRow(), -1);
        QCOMPARE(p.fixture.label("lblTime")->text(), u"00:00:00"_s);
        QTest::qWait(1000); // and stays stopped
        QCOMPARE(p.log.titles.size(), 3);
    }

    void repeat_playsOnFromTheSelectedTrack_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("starts"); // the first tracks to start, in order
        QTest::newRow("repeat all wraps around to the first track")
            << 2 << 1 << QStringList({"B", "C", "A", "B", "C"});
        QTest::newRow("repeat one replays the selected track") << 1 << 2 << QStringList({"C", "C", "C"});
    }

    void repeat_playsOnFromTheSelectedTrack()
    {
        QFETCH(int, mode);
        QFETCH(int, row);
        QFETCH(QStringList, starts);
        RealPlayer p(mode, m_tracks);
        p.fixture.listName()->setCurrentRow(row);
        p.window().imgPlay_Click();
        QTRY_VERIFY_WITH_TIMEOUT(p.log.titles.size() >= starts.size(), kWaitMs);
        QCOMPARE(p.log.titles.mid(0, starts.size()), starts);
        // The selection follows the track that plays.
        QCOMPARE(p.fixture.listName()->currentRow(), kTitles.indexOf(starts.last()));
        p.window().imgStop_Click();
    }

    void random_startsExactlyOneTrackPerEnd()
    {
        RealPlayer p(0, m_tracks);
        int ends = 0;
        connect(&p.media, &MediaComponent::statusChange, this, [&] {
            if (p.media.playState() == MediaComponent::Stopped && p.window().state().endPhase == 2)
                ++ends; // the handler has just advanced
        });
        p.window().imgPlay_Click();
        QTRY_VERIFY_WITH_TIMEOUT(p.log.titles.size() >= 4, kWaitMs);
        p.window().imgStop_Click();
        for (const QString &title : p.log.titles)
            QVERIFY(kTitles.contains(title));
        // Each end advanced once: by the handler, or straight into the queued track.
        QCOMPARE(ends + p.log.gapless, int(p.log.titles.size()) - 1);
    }

    void userActionsMidTrack_neverAdvanceOnTheirOwn()
    {
        RealPlayer p(2, m_tracks);
        p.fixture.listName()->setCurrentRow(0);
        p.window().imgPlay_Click();
        QTRY_COMPARE_WITH_TIMEOUT(p.log.titles.size(), 1, kWaitMs);
        p.window().imgNext_Click(); // B, mid-track
        QTRY_COMPARE_WITH_TIMEOUT(p.log.titles.size(), 2, kWaitMs);
        p.window().goTo(0); // a double-click on A
        QTRY_COMPARE_WITH_TIMEOUT(p.log.titles.size(), 3, kWaitMs);
        p.window().imgPrev_Click(); // at the first entry: a box, nothing else
        // A's natural end then moves on to B, exactly once.
        QTRY_COMPARE_WITH_TIMEOUT(p.log.titles.size(), 4, kWaitMs);
        QCOMPARE(p.log.titles, QStringList({"A", "B", "A", "B"}));
        QCOMPARE(p.fixture.prompts.shown().size(), 1);

        p.window().imgStop_Click();
        QTest::qWait(int(kTrackSeconds * 2000));
        QCOMPARE(p.log.titles.size(), 4);
        QCOMPARE(p.media.playState(), int(MediaComponent::Stopped));
    }

    void pause_holdsPosition_andPlayResumesTheSameTrack()
    {
        const QString longer = m_media.filePath(u"long.mp3"_s);
        QVERIFY(Mp3Fixture::make(longer, 3, u"L"_s));
        RealPlayer p(2, {longer});
        p.window().imgPlay_Click();
        QTRY_COMPARE_WITH_TIMEOUT(p.media.playState(), int(MediaComponent::Playing), kWaitMs);
        QTest::qWait(400);
        p.window().imgPause_Click();
        QTRY_COMPARE_WITH_TIMEOUT(p.media.playState(), int(MediaComponent::Paused), kWaitMs);
        const double held = p.media.currentPosition();
        QTest::qWait(500);
        QCOMPARE(p.media.currentPosition(), held);
        p.window().imgPlay_Click();
        QTRY_VERIFY_WITH_TIMEOUT(p.media.currentPosition() > held + 0.2, kWaitMs);
        QCOMPARE(p.media.currentMediaName(), u"L"_s);
        p.window().imgStop_Click();
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
        const QString path = m_media.filePath(u"low.mp3"_s);
        QVERIFY(Mp3Fixture::make(path, 3, u"Low"_s, kbps));
        RealPlayer p(3, {path});
        p.window().imgPlay_Click();
        QTRY_COMPARE_WITH_TIMEOUT(p.fixture.label("lblTotletime")->text(), u"00:03"_s, kWaitMs);
        QCOMPARE(p.media.playState(), int(MediaComponent::Playing));
        p.window().imgStop_Click();
    }

    void everyEntryFailing_stopsAfterOnePass()
    {
        QFile text(m_media.filePath(u"notes.mp3"_s));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not audio at all\n") > 0);
        text.close();
        RealPlayer p(2, {m_media.filePath(u"missing.mp3"_s), text.fileName()});
        int opened = 0;
        connect(&p.media, &MediaComponent::statusChange, this, [&] {
            if (p.media.playState() == MediaComponent::Stopped)
                ++opened;
        });
        p.window().imgPlay_Click();
        QTRY_COMPARE_WITH_TIMEOUT(p.fixture.label("lblCurrent")->text(), u"已停止"_s, kWaitMs);
        const int reports = opened;
        QTest::qWait(1000);
        QCOMPARE(opened, reports); // it does not spin
    }
};

QTEST_MAIN(PlaybackRealTest)
#include "test_playback_real.moc"
