#include "FileTricks.h"
#include "GstMediaComponent.h"
#include "Mp3Fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr int kOpenTimeoutMs = 5000;
constexpr int kEndTimeoutMs = 6000;
const QString kSink = QStringLiteral("fakesink");

using States = QList<int>;

// Every state the component reports, in order.
class StateLog : public QObject
{
public:
    explicit StateLog(GstMediaComponent &media)
    {
        connect(&media, &MediaComponent::statusChange, this, [this, &media] { states << media.playState(); });
    }
    int stoppedCount() const { return int(states.count(MediaComponent::Stopped)); }
    States states;
};

// An ID3v2.3 tag holding one title in Latin-1.
QByteArray id3v2Title(const QByteArray &title)
{
    const auto bigEndian = [](quint32 value, int bitsPerByte) {
        QByteArray bytes;
        for (int shift = 3 * bitsPerByte; shift >= 0; shift -= bitsPerByte)
            bytes += char((value >> shift) & ((1u << bitsPerByte) - 1));
        return bytes;
    };
    const QByteArray frame = "TIT2" + bigEndian(quint32(title.size() + 1), 8) + QByteArray(3, '\0') + title;
    return "ID3" + QByteArray("\x03\x00\x00", 3) + bigEndian(quint32(frame.size()), 7) + frame;
}

} // namespace

class TestMediaComponent : public QObject
{
    Q_OBJECT

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    QString m_trackA, m_trackB, m_trackC; // 1 s each, titled
    QString m_chinese;                    // 2 s, Chinese title
    QString m_untitled;                   // 1 s, no tag
    QString m_gbkTagged;                  // 1 s, ID3v1 title in GBK
    QString m_longTitle;                  // 1 s, a title of 100000 characters
    QString m_notAudio;
    QString m_missing;
    QString m_presetTagEncoding; // a user's own choice overrides GBK

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_presetTagEncoding = qEnvironmentVariable("GST_ID3V1_TAG_ENCODING");
        const auto make = [this](QString &file, const char *name, int seconds, const QString &title = {}) {
            file = path(QString::fromUtf8(name));
            return Mp3Fixture::make(file, seconds, title);
        };
        QVERIFY(make(m_trackA, "a.mp3", 1, QStringLiteral("Track A")));
        QVERIFY(make(m_trackB, "b.mp3", 1, QStringLiteral("Track B")));
        QVERIFY(make(m_trackC, "c.mp3", 1, QStringLiteral("Track C")));
        QVERIFY(make(m_chinese, "chinese.mp3", 2, QStringLiteral("测试歌曲")));
        QVERIFY(make(m_untitled, "无标题 song.v2.mp3", 1));
        QVERIFY(make(m_gbkTagged, "gbk.mp3", 1));
        QVERIFY(make(m_longTitle, "long title.mp3", 1));

        // Old Chinese files carry ID3v1 titles in GBK; lame cannot write those.
        QByteArray id3v1(128, '\0');
        id3v1.replace(0, 3, "TAG");
        id3v1.replace(3, 6, "\xD6\xD0\xCE\xC4\xB8\xE8"); // 中文歌
        id3v1[127] = char(255);                          // no genre
        QFile gbk(m_gbkTagged);
        QVERIFY(gbk.open(QIODevice::Append));
        QCOMPARE(gbk.write(id3v1), qint64(128));

        QFile longTitle(m_longTitle);
        QVERIFY(longTitle.open(QIODevice::ReadWrite));
        const QByteArray audio = longTitle.readAll();
        longTitle.seek(0);
        longTitle.write(id3v2Title(QByteArray(100000, 'T')) + audio);

        m_notAudio = path(QStringLiteral("notes.mp3"));
        QFile text(m_notAudio);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("these are notes, not music\n");
        m_missing = path(QStringLiteral("missing.mp3"));
    }

    void setUrl_startsPlayingByItself()
    {
        GstMediaComponent media(kSink);
        QCOMPARE(media.playState(), int(MediaComponent::Undefined));
        StateLog log(media);

        media.setUrl(m_chinese);
        QCOMPARE(media.playState(), int(MediaComponent::Transitioning));
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), kOpenTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(media.currentPosition() > 0.2, 2000);
        QCOMPARE(log.states, (States{MediaComponent::Transitioning, MediaComponent::Playing}));
    }

    void settings_clampAndSurviveNewMedia()
    {
        GstMediaComponent media(kSink);
        QCOMPARE(media.volume(), 50);
        QCOMPARE(media.mute(), false);
        QCOMPARE(media.rate(), 1.0);
        QCOMPARE(media.balance(), 0);

        media.setVolume(-10);
        QCOMPARE(media.volume(), 0);
        media.setVolume(110);
        QCOMPARE(media.volume(), 100);
        media.setBalance(-150);
        QCOMPARE(media.balance(), -100);

        media.setVolume(37);
        media.setMute(true);
        media.setBalance(25);
        QVERIFY(media.setRate(1.25));
        for (const QString &track : {m_trackA, m_trackB}) {
            media.setUrl(track);
            QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), kOpenTimeoutMs);
            QCOMPARE(media.volume(), 37);
            QCOMPARE(media.mute(), true);
            QCOMPARE(media.balance(), 25);
            QCOMPARE(media.rate(), 1.25);
        }
    }

    void mediaName_prefersTitleTagElseBaseName_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        QTest::newRow("latin title") << m_trackA << QStringLiteral("Track A");
        QTest::newRow("chinese title") << m_chinese << QStringLiteral("测试歌曲");
        QTest::newRow("GBK ID3v1 title") << m_gbkTagged << QStringLiteral("中文歌");
        QTest::newRow("no tag, dotted name") << m_untitled << QStringLiteral("无标题 song.v2");
        QTest::newRow("title too long to show") << m_longTitle << QString(1024, QLatin1Char('T'));
        QTest::newRow("file URL") << QUrl::fromLocalFile(m_trackB).toString() << QStringLiteral("Track B");
    }

    void mediaName_prefersTitleTagElseBaseName()
    {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        if (file == m_gbkTagged && !m_presetTagEncoding.isEmpty() &&
            m_presetTagEncoding != QLatin1String("GBK"))
            QSKIP("GST_ID3V1_TAG_ENCODING is set to another encoding");
        GstMediaComponent media(kSink);
        media.setUrl(file);
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), kOpenTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(media.currentMediaName(), expected, 2000);
    }

    void duration_matchesFileLength()
    {
        GstMediaComponent media(kSink);
        QCOMPARE(media.durationString(), QStringLiteral("00:00"));
        media.setUrl(m_chinese);
        QTRY_VERIFY_WITH_TIMEOUT(media.duration() > 0, kOpenTimeoutMs);
        QVERIFY2(std::abs(media.duration() - 2.0) <= 0.2, qPrintable(QString::number(media.duration())));
        QCOMPARE(media.durationString(), QStringLiteral("00:02"));
    }

    void seek_movesPositionInAnyState()
    {
        GstMediaComponent media(kSink);
        media.setUrl(m_chinese);
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), kOpenTimeoutMs);

        media.setCurrentPosition(1.2);
        QTRY_VERIFY_WITH_TIMEOUT(media.currentPosition() >= 1.2, 1000);
        QVERIFY(media.currentPosition() < 1.7);

        media.pause();
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Paused), 2000);
        media.setCurrentPosition(0.5);
        QTRY_VERIFY_WITH_TIMEOUT(std::abs(media.currentPosition() - 0.5) < 0.05, 1000);
        media.setCurrentPosition(-3);
        QTRY_VERIFY_WITH_TIMEOUT(media.currentPosition() < 0.05, 1000);

        // Stopped: the position waits for the next start.
        media.stop();
        media.setCurrentPosition(0.8);
        QCOMPARE(media.currentPosition(), 0.8);
        media.play();
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), kOpenTimeoutMs);
        QVERIFY2(media.currentPosition() >= 0.8 && media.currentPosition() < 1.4,
                 qPrintable(QString::number(media.currentPosition())));
    }

    void seek_pastEnd_endsMediaEvenWhenPaused()
    {
        GstMediaComponent media(kSink);
        media.setUrl(m_chinese);
        QTRY_VERIFY_WITH_TIMEOUT(media.duration() > 0, kOpenTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), kOpenTimeoutMs);
        media.pause(); // a paused pipeline would never post an end by itself
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Paused), 2000);
        StateLog log(media);

        media.setCurrentPosition(60);
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Stopped), 1000);
        QTest::qWait(200);
        QCOMPARE(log.states, States{MediaComponent::Stopped});
        QVERIFY(!media.lastEndWasError());
    }

    void pause_holdsPosition_playResumes()
    {
        GstMediaComponent media(kSink);
        media.setUrl(m_chinese);
        QTRY_VERIFY_WITH_TIMEOUT(media.currentPosition() > 0.3, kOpenTimeoutMs);
        StateLog log(media);

        media.pause();
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Paused), 2000);
        const double held = media.currentPosition();
        QTest::qWait(500);
        QVERIFY(std::abs(media.currentPosition() - held) < 0.02);

        media.play();
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(media.currentPosition() > held + 0.2, 1000);
        QCOMPARE(log.states, (States{MediaComponent::Paused, MediaComponent::Playing}));
    }

    void stop_reportsOnceAndRewinds()
    {
        GstMediaComponent media(kSink);
        media.stop(); // nothing loaded: nothing to report
        QCOMPARE(media.playState(), int(MediaComponent::Undefined));

        media.setUrl(m_chinese);
        QTRY_VERIFY_WITH_TIMEOUT(media.currentPosition() > 0.5, kOpenTimeoutMs);
        StateLog log(media);

        media.stop();
        media.stop();
        QCOMPARE(log.states, States{MediaComponent::Stopped});
        QCOMPARE(media.currentPosition(), 0.0);

        media.play();
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), kOpenTimeoutMs);
        QVERIFY(media.currentPosition() < 0.3);
    }

    void setRate_acceptsOnlyPlayableRates_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("faster") << 1.5 << true;
        QTest::newRow("slowest") << GstMediaComponent::kMinRate << true;
        QTest::newRow("fastest") << GstMediaComponent::kMaxRate << true;
        QTest::newRow("zero") << 0.0 << false;
        QTest::newRow("negative") << -1.0 << false;
        QTest::newRow("tiny") << 1e-16 << false;
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << false;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << false;
        QTest::newRow("beyond fastest") << GstMediaComponent::kMaxRate + 0.5 << false;
    }

    void setRate_acceptsOnlyPlayableRates()
    {
        QFETCH(double, rate);
        QFETCH(bool, accepted);
        GstMediaComponent media(kSink);
        QVERIFY(media.setRate(1.25));
        QCOMPARE(media.setRate(rate), accepted);
        QCOMPARE(media.rate(), accepted ? rate : 1.25);
    }

    void setRate_whilePlaying_speedsUp()
    {
        GstMediaComponent media(kSink);
        media.setUrl(m_chinese);
        QTRY_VERIFY_WITH_TIMEOUT(media.currentPosition() > 0.1, kOpenTimeoutMs);
        QVERIFY(media.setRate(2.0));
        QTest::qWait(100); // let the rate change settle

        const double from = media.currentPosition();
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(400);
        const double mediaSeconds = media.currentPosition() - from;
        const double wallSeconds = clock.elapsed() / 1000.0;
        QVERIFY2(mediaSeconds > 1.6 * wallSeconds,
                 qPrintable(QStringLiteral("%1 s of media in %2 s").arg(mediaSeconds).arg(wallSeconds)));
        QCOMPARE(media.playState(), int(MediaComponent::Playing));
    }

    void setRate_carriesOverToNextMedia()
    {
        GstMediaComponent media(kSink);
        QVERIFY(media.setRate(2.0));
        QElapsedTimer clock;
        clock.start();
        media.setUrl(m_chinese); // 2 s of media
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), kOpenTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Stopped), kEndTimeoutMs);
        QVERIFY2(clock.elapsed() < 1600, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!media.lastEndWasError());
    }

    void naturalEnd_reportsStoppedOnce()
    {
        GstMediaComponent media(kSink);
        // A failed media first, so the flag has to be cleared by the normal end.
        media.setUrl(m_missing);
        QTRY_VERIFY_WITH_TIMEOUT(media.lastEndWasError(), kOpenTimeoutMs);

        StateLog log(media);
        media.setUrl(m_trackA);
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), kOpenTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Stopped), kEndTimeoutMs);
        QTest::qWait(300);
        QCOMPARE(log.states,
                 (States{MediaComponent::Transitioning, MediaComponent::Playing, MediaComponent::Stopped}));
        QVERIFY(!media.lastEndWasError());
        QCOMPARE(media.currentPosition(), 0.0);
    }

    void unplayableMedia_endsWithError_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("missing") << m_missing;
        QTest::newRow("not audio") << m_notAudio;
        // Only regular files reach the engine: a FIFO would hold this thread until a
        // writer comes, and a device never ends.
        QTest::newRow("FIFO") << path(QStringLiteral("fifo.mp3"));
        QTest::newRow("link to a device") << path(QStringLiteral("zero.mp3"));
        QTest::newRow("folder") << m_dir.path();
        QTest::newRow("web address") << QStringLiteral("http://127.0.0.1:9/a.mp3");
    }

    void unplayableMedia_endsWithError()
    {
        QFETCH(QString, file);
        std::optional<FifoWatch> fifo;
        if (file.endsWith(QLatin1String("fifo.mp3")))
            QVERIFY(fifo.emplace(file).isValid());
        if (file.endsWith(QLatin1String("zero.mp3")) && !QFileInfo(file).isSymLink())
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), file));
        GstMediaComponent media(kSink);
        StateLog log(media);
        media.setUrl(file);
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Stopped), kOpenTimeoutMs);
        QTest::qWait(200);
        QCOMPARE(log.states, (States{MediaComponent::Transitioning, MediaComponent::Stopped}));
        QVERIFY(media.lastEndWasError());
        if (fifo) {
            QVERIFY(!fifo->readerSeen());
            fifo.reset();
            QFile::remove(file);
        }
    }

    void endHandler_playsEachTrackOnceInOrder_data()
    {
        QTest::addColumn<QStringList>("playlist");
        QTest::addColumn<QStringList>("expectedPlayed");
        QTest::newRow("three tracks")
            << QStringList{m_trackA, m_trackB, m_trackC} << QStringList{m_trackA, m_trackB, m_trackC};
        QTest::newRow("unplayable in between")
            << QStringList{m_trackA, m_missing, m_trackC} << QStringList{m_trackA, m_trackC};
    }

    void endHandler_playsEachTrackOnceInOrder()
    {
        QFETCH(QStringList, playlist);
        QFETCH(QStringList, expectedPlayed);
        GstMediaComponent media(kSink);

        // The player's end-of-track handler: on "stopped" it alternately opens the
        // next track (and plays it), then only plays.
        QStringList played;
        int next = 1, advances = 0;
        bool opensNext = true, finished = false;
        connect(&media, &MediaComponent::statusChange, &media, [&] {
            if (media.playState() == MediaComponent::Playing)
                played << media.url();
            if (media.playState() != MediaComponent::Stopped)
                return;
            if (!opensNext) {
                media.play();
                opensNext = true;
            } else if (next < playlist.size()) {
                media.setUrl(playlist.at(next++));
                media.play();
                ++advances;
                opensNext = false;
            } else {
                finished = true;
            }
        });

        media.setUrl(playlist.first());
        QTRY_VERIFY_WITH_TIMEOUT(finished, 4 * kEndTimeoutMs);
        QTest::qWait(300); // nothing may follow the last end
        QCOMPARE(played, expectedPlayed);
        QCOMPARE(advances, int(playlist.size()) - 1);
        QCOMPARE(media.playState(), int(MediaComponent::Stopped));
        QCOMPARE(media.url(), playlist.last());
    }

    void userSetUrl_midTrack_noStoppedReport()
    {
        GstMediaComponent media(kSink);
        media.setUrl(m_chinese);
        QTRY_VERIFY_WITH_TIMEOUT(media.currentPosition() > 0.3, kOpenTimeoutMs);
        StateLog log(media);

        media.setUrl(m_trackA);
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), kOpenTimeoutMs);
        QCOMPARE(log.states, (States{MediaComponent::Transitioning, MediaComponent::Playing}));
        QCOMPARE(media.currentMediaName(), QStringLiteral("Track A"));

        // Its own end still comes, once.
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Stopped), kEndTimeoutMs);
        QCOMPARE(log.stoppedCount(), 1);
    }

    void setUrl_dropsEndQueuedByPreviousMedia()
    {
        GstMediaComponent media(kSink);
        media.setUrl(m_trackA);
        QTRY_VERIFY_WITH_TIMEOUT(media.currentPosition() > 0.7, kOpenTimeoutMs);
        // Keep the event loop away until the first track's end is queued.
        QThread::msleep(600);
        StateLog log(media);

        media.setUrl(m_trackB);
        QTRY_COMPARE_WITH_TIMEOUT(media.playState(), int(MediaComponent::Playing), kOpenTimeoutMs);
        QTest::qWait(300);
        QCOMPARE(log.states, (States{MediaComponent::Transitioning, MediaComponent::Playing}));
        QCOMPARE(media.playState(), int(MediaComponent::Playing));
    }
};

QTEST_MAIN(TestMediaComponent)
#include "test_media_component.moc"
