// The player as D-Bus clients see it (MPRIS2), on a private session bus, with
// the real engine and real files. Calls go through the bus daemon from a
// connection of their own, as another program's would.
#include "PlayerFixture.h"

#include "AppInfo.h"
#include "AudioTypes.h"
#include "BoundedText.h"
#include "GstMediaComponent.h"
#include "ImageTrack.h"
#include "LyricsController.h"
#include "Mini.h"
#include "Mp3Fixture.h"
#include "Mpris.h"
#include "PlayerSettings.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QStringEncoder>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString kService = u"org.mpris.MediaPlayer2.TamselMP3Player"_s;
const QString kPath = u"/org/mpris/MediaPlayer2"_s;
const QString kRoot = u"org.mpris.MediaPlayer2"_s;
const QString kPlayer = u"org.mpris.MediaPlayer2.Player"_s;
const QString kTrackList = u"org.mpris.MediaPlayer2.TrackList"_s;
const QString kProperties = u"org.freedesktop.DBus.Properties"_s;
const QDBusObjectPath kNoTrack(u"/org/mpris/MediaPlayer2/TrackList/NoTrack"_s);
constexpr int kWaitMs = 15000;

QString titleOf(const QVariantMap &metadata)
{
    return metadata.value(u"xesam:title"_s).toString();
}
QDBusObjectPath trackIdOf(const QVariantMap &metadata)
{
    return metadata.value(u"mpris:trackid"_s).value<QDBusObjectPath>();
}
qlonglong lengthOf(const QVariantMap &metadata)
{
    return metadata.value(u"mpris:length"_s).toLongLong();
}
QString uriOf(const QString &path)
{
    return QUrl::fromLocalFile(path).toString();
}

// What a client hears from the player.
class Listener : public QObject
{
    Q_OBJECT
public:
    QStringList changedProperties;
    // The values announced: every PlaybackStatus, and the metadata of every track.
    QStringList statuses;
    QList<QVariantMap> metadata;
    int tracksAdded = 0;
    int listsReplaced = 0;
    int seeked = 0;

    void reset()
    {
        changedProperties.clear();
        statuses.clear();
        metadata.clear();
        tracksAdded = listsReplaced = seeked = 0;
    }

public slots:
    void propertiesChanged(const QString &, const QVariantMap &changed, const QStringList &)
    {
        changedProperties.append(changed.keys());
        if (changed.contains(u"PlaybackStatus"_s))
            statuses.append(changed.value(u"PlaybackStatus"_s).toString());
        if (changed.contains(u"Metadata"_s))
            metadata.append(qdbus_cast<QVariantMap>(changed.value(u"Metadata"_s)));
    }
    void trackAdded(const QVariantMap &, const QDBusObjectPath &) { ++tracksAdded; }
    void trackListReplaced(const QList<QDBusObjectPath> &, const QDBusObjectPath &) { ++listsReplaced; }
    void seekedTo(qlonglong) { ++seeked; }
};

} // namespace

class MprisTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_media;
    QStringList m_tracks;
    QString m_playlist;
    std::unique_ptr<GstMediaComponent> m_engine;
    std::unique_ptr<PlayerFixture> m_player;
    QDBusConnection m_client = QDBusConnection(QString());
    Listener m_listener;

    FrmPlayer &window() { return *m_player->window; }

    QDBusMessage call(const QString &interface, const QString &method, const QVariantList &args = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
        message.setArguments(args);
        QDBusPendingCall pending = m_client.asyncCall(message);
        // The player answers from this same event loop, so wait by spinning it.
        if (!QTest::qWaitFor([&] { return pending.isFinished(); }, kWaitMs))
            qWarning("no reply to %s", qPrintable(method));
        return pending.reply(); // an error reply when none came
    }
    QDBusMessage openUri(const QString &path) { return call(kPlayer, u"OpenUri"_s, {uriOf(path)}); }
    QVariant property(const QString &interface, const QString &name)
    {
        const QDBusMessage reply = call(kProperties, u"Get"_s, {interface, name});
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {};
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    QVariant playerProperty(const QString &name) { return property(kPlayer, name); }
    bool setProperty(const QString &name, const QVariant &value)
    {
        return call(kProperties, u"Set"_s, {kPlayer, name, QVariant::fromValue(QDBusVariant(value))})
                   .type() == QDBusMessage::ReplyMessage;
    }
    QString status() { return playerProperty(u"PlaybackStatus"_s).toString(); }
    QVariantMap metadata() { return qdbus_cast<QVariantMap>(playerProperty(u"Metadata"_s)); }
    QString title() { return titleOf(metadata()); }
    QString identity() { return property(kRoot, u"Identity"_s).toString(); }
    QList<QDBusObjectPath> tracks()
    {
        return qdbus_cast<QList<QDBusObjectPath>>(property(kTrackList, u"Tracks"_s));
    }
    QList<QVariantMap> tracksMetadata(const QList<QDBusObjectPath> &ids)
    {
        return qdbus_cast<QList<QVariantMap>>(
            call(kTrackList, u"GetTracksMetadata"_s, {QVariant::fromValue(ids)}).arguments().value(0));
    }
    // Titles of the tracks that start, until the player stops or count are seen.
    QStringList titlesPlayed(int count)
    {
        QStringList titles;
        bool wasPlaying = false;
        QString lastUrl;
        // Ends when enough tracks started or the player stopped; the caller checks which.
        // A track starts after a stop, or straight after the one before.
        (void)QTest::qWaitFor(
            [&] {
                const bool playing = m_engine->playState() == MediaComponent::Playing;
                if (playing && (!wasPlaying || m_engine->url() != lastUrl))
                    titles.append(m_engine->currentMediaName());
                wasPlaying = playing;
                lastUrl = m_engine->url();
                return titles.size() >= count || m_player->label("lblCurrent")->text() == u"已停止"_s;
            },
            kWaitMs);
        return titles;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "the test runs under its own session bus");
        QStandardPaths::setTestModeEnabled(true); // pictures go to a cache folder of the test's own
        m_client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"client"_s);
        QVERIFY(m_client.isConnected());
        qDBusRegisterMetaType<QList<QVariantMap>>();
        for (const auto &[interface, name, slot] :
             {std::tuple{kProperties, "PropertiesChanged",
                         SLOT(propertiesChanged(QString, QVariantMap, QStringList))},
              std::tuple{kTrackList, "TrackAdded", SLOT(trackAdded(QVariantMap, QDBusObjectPath))},
              std::tuple{kTrackList, "TrackListReplaced",
                         SLOT(trackListReplaced(QList<QDBusObjectPath>, QDBusObjectPath))},
              std::tuple{kPlayer, "Seeked", SLOT(seekedTo(qlonglong))}})
            QVERIFY(m_client.connect(kService, kPath, interface, QLatin1String(name), &m_listener, slot));
        for (const QString &name : {u"A"_s, u"B"_s, u"C"_s}) {
            m_tracks.append(m_media.filePath(name + u".mp3"_s));
            QVERIFY(Mp3Fixture::make(m_tracks.last(), 0.8, u"Title "_s + name));
        }
        QVERIFY(QFile::link(u"/dev/zero"_s, m_media.filePath(u"zero.mp3"_s)));
        m_playlist = m_media.filePath(u"three.m3u"_s);
        QFile list(m_playlist);
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write((m_tracks.join(u"\r\n"_s) + u"\r\n"_s).toUtf8());
    }

    void init()
    {
        m_engine = std::make_unique<GstMediaComponent>(u"fakesink"_s);
        m_player = std::make_unique<PlayerFixture>();
        m_player->services.media = m_engine.get();
        m_player->window = std::make_unique<FrmPlayer>(m_player->services);
        QVERIFY(m_player->load());
        QCOMPARE((new MprisService(m_player->window.get()))->registerOn(), kService);
        m_listener.reset();
    }

    void cleanup()
    {
        m_player.reset(); // the window owns the service
        m_engine.reset();
        QVERIFY(QTest::qWaitFor([&] { return !m_client.interface()->isServiceRegistered(kService).value(); },
                                kWaitMs));
    }

    void root_identifiesThePlayer_andASecondPlayerGetsAnInstanceName()
    {
        QCOMPARE(identity(), u"TamselMP3Player"_s);
        // The name of the installed desktop file, without ".desktop".
        QCOMPARE(property(kRoot, u"DesktopEntry"_s).toString(), AppInfo::applicationId());
        QCOMPARE(property(kRoot, u"HasTrackList"_s).toBool(), true);
        QCOMPARE(property(kRoot, u"CanQuit"_s).toBool(), true);
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"second"_s);
        {
            PlayerFixture other;
            QVERIFY(other.load());
            QCOMPARE((new MprisService(other.window.get()))->registerOn(u"second"_s),
                     kService + u".instance%1"_s.arg(QCoreApplication::applicationPid()));
        }
        QDBusConnection::disconnectFromBus(u"second"_s);
    }

    void openUri_playlistAppendsWithoutPlaying_audioFileAppendsAndStarts()
    {
        openUri(m_playlist);
        QCOMPARE(tracks().size(), 3);
        QCOMPARE(status(), u"Stopped"_s);
        QCOMPARE(m_player->label("lblTotlenum")->text(), u"3"_s);
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.tracksAdded == 3 || m_listener.listsReplaced > 0, kWaitMs);

        const auto listed = tracksMetadata(tracks());
        QCOMPARE(listed.size(), 3);
        QCOMPARE(titleOf(listed[1]), u"B.mp3"_s);
        QCOMPARE(listed[1].value(u"xesam:url"_s).toString(), uriOf(m_tracks[1]));
        QCOMPARE(trackIdOf(listed[1]), tracks()[1]);

        openUri(m_tracks[2]);
        QCOMPARE(tracks().size(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(status(), u"Playing"_s, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(title(), u"Title C"_s, kWaitMs);
        QCOMPARE(m_player->listName()->currentRow(), 3);
        const QVariantMap now = metadata();
        QCOMPARE(trackIdOf(now), tracks()[3]);
        QVERIFY(lengthOf(now) > 500000);
        QVERIFY(m_player->prompts.shown().isEmpty());
    }

    void openUri_sheet_addsItsTracks_eachInItsOwnTime()
    {
        const QString image = m_media.filePath(u"image.wav"_s);
        QCOMPARE(QProcess::execute(
                     u"sox"_s, {u"-n"_s, u"-b"_s, u"16"_s, image, u"synth"_s, u"4"_s, u"sine"_s, u"440"_s}),
                 0);
        const QString sheet = m_media.filePath(u"image.cue"_s);
        QFile out(sheet);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write("FILE image.wav WAVE\nTRACK 01 AUDIO\nTITLE One\n"
                                                            "INDEX 01 00:00:00\nTRACK 02 AUDIO\nTITLE Two\n"
                                                            "INDEX 01 00:01:00\n") > 0);
        out.close();
        QCOMPARE(openUri(sheet).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(tracks().size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(status(), u"Playing"_s, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(title(), u"One"_s, kWaitMs);
        QCOMPARE(metadata().value(u"xesam:url"_s).toString(), ImageTrack::entry(sheet, 1));
        QCOMPARE(lengthOf(metadata()), 1000000);

        // The second track: 3 s long, its position counted from its own start.
        call(kPlayer, u"Next"_s);
        QTRY_COMPARE_WITH_TIMEOUT(title(), u"Two"_s, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(lengthOf(metadata()), 3000000, kWaitMs);
        call(kPlayer, u"SetPosition"_s, {QVariant::fromValue(trackIdOf(metadata())), qlonglong(2000000)});
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.seeked > 0, kWaitMs);
        const qlonglong position = playerProperty(u"Position"_s).toLongLong();
        QVERIFY2(position >= 2000000 && position < 2800000, qPrintable(QString::number(position)));
        call(kPlayer, u"Stop"_s);
    }

    void hostilePlaylist_keepsThePlayerOnTheBus_andEveryNameShort()
    {
        const QString file = m_media.filePath(u"hostile.m3u"_s);
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(QByteArray(50 * 1024 * 1024, 'x') + "\r\n"); // longer than any path
            out.write("/m/" + QByteArray(3000, 'n') + "\r\n");
            out.write((m_tracks.join(u"\r\n"_s) + u"\r\n"_s).toUtf8());
        }
        QCOMPARE(openUri(file).type(), QDBusMessage::ReplyMessage);
        const QList<QDBusObjectPath> ids = tracks();
        QCOMPARE(ids.size(), 4);
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.tracksAdded == 4 || m_listener.listsReplaced > 0, kWaitMs);

        // In the order asked, unknown ids left out, repeated ids repeated.
        const auto listed =
            tracksMetadata({ids[3], QDBusObjectPath(u"/org/mpris/MediaPlayer2/Track/999999"_s),
                            QDBusObjectPath(u"/not/a/track"_s), ids[0], ids[0]});
        QCOMPARE(listed.size(), 3);
        QCOMPARE(titleOf(listed[0]), u"C.mp3"_s);
        QCOMPARE(trackIdOf(listed[0]), ids[3]);
        QCOMPARE(titleOf(listed[1]), QString(1024, u'n'));
        QCOMPARE(trackIdOf(listed[2]), ids[0]);
        QCOMPARE(identity(), u"TamselMP3Player"_s);
        QCOMPARE(m_player->names().value(0), QString(1024, u'n'));
    }

    void metadataOfManyLongPaths_comesWithinWhatTheBusCarries()
    {
        // Paths as long as a path can be, in Chinese: about 15 kB of metadata each.
        QStringList paths;
        for (int i = 0; i < 6000; ++i)
            paths.append(u"/m/%1/"_s.arg(i, 5, 10, QLatin1Char('0')) + QString(1360, QChar(0x6B4C)));
        QCOMPARE(window().playlist().append(paths), 6000);
        const QList<QDBusObjectPath> ids = tracks();
        QCOMPARE(ids.size(), 6000);

        // What fits comes, in the order asked; the rest can be asked for again.
        const auto listed = tracksMetadata(ids);
        QVERIFY(listed.size() > 1000 && listed.size() < 6000);
        QCOMPARE(trackIdOf(listed.last()), ids[listed.size() - 1]);
        QCOMPARE(tracksMetadata(ids.mid(listed.size())).value(0).value(u"xesam:url"_s),
                 QVariant(QUrl::fromLocalFile(paths[listed.size()]).toString(QUrl::FullyEncoded)));
        QCOMPARE(identity(), u"TamselMP3Player"_s);
    }

    void inOrderMode_playsEveryTitleOnceAndStops()
    {
        QVERIFY(setProperty(u"LoopStatus"_s, u"None"_s));
        QCOMPARE(int(window().state().playMode), 3);
        QCOMPARE(m_player->label("lblLoop")->text(), u"顺序循环"_s);
        openUri(m_playlist);
        call(kPlayer, u"Play"_s);
        QCOMPARE(titlesPlayed(4), QStringList({"Title A", "Title B", "Title C"}));
        QTRY_COMPARE_WITH_TIMEOUT(status(), u"Stopped"_s, kWaitMs);
        QVERIFY(m_listener.changedProperties.contains(u"PlaybackStatus"_s));
        QVERIFY(m_listener.changedProperties.contains(u"Metadata"_s));
    }

    void loopAndShuffle_mapToPlayModes()
    {
        QVERIFY(setProperty(u"LoopStatus"_s, u"Track"_s));
        QCOMPARE(int(window().state().playMode), 1);
        QCOMPARE(m_player->label("lblLoop")->text(), u"单曲循环"_s);
        QVERIFY(setProperty(u"Shuffle"_s, true));
        QCOMPARE(int(window().state().playMode), 0);
        QCOMPARE(playerProperty(u"Shuffle"_s).toBool(), true);
        QCOMPARE(m_player->label("lblLoop")->text(), u"随机循环"_s);
        QVERIFY(setProperty(u"Shuffle"_s, false));
        QCOMPARE(playerProperty(u"LoopStatus"_s).toString(), u"Playlist"_s);
        QCOMPARE(m_player->label("lblLoop")->text(), u"全部循环"_s);
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.changedProperties.contains(u"LoopStatus"_s), kWaitMs);
    }

    void remoteCalls_neverShowBoxes_andBoundariesAreReported()
    {
        for (const QString &method : {u"Play"_s, u"Next"_s, u"Previous"_s}) // on the empty list
            call(kPlayer, method);
        QCOMPARE(playerProperty(u"CanGoNext"_s).toBool(), false);
        QCOMPARE(playerProperty(u"CanPlay"_s).toBool(), false);

        openUri(m_playlist);
        QVERIFY(setProperty(u"LoopStatus"_s, u"Track"_s));
        call(kTrackList, u"GoTo"_s, {QVariant::fromValue(tracks()[2])});
        QTRY_COMPARE_WITH_TIMEOUT(title(), u"Title C"_s, kWaitMs);
        QCOMPARE(playerProperty(u"CanGoNext"_s).toBool(), false);
        QCOMPARE(playerProperty(u"CanGoPrevious"_s).toBool(), true);
        call(kPlayer, u"Next"_s); // at the last entry: nothing
        QCOMPARE(m_player->listName()->currentRow(), 2);
        call(kPlayer, u"Previous"_s);
        QTRY_COMPARE_WITH_TIMEOUT(title(), u"Title B"_s, kWaitMs);
        call(kPlayer, u"Previous"_s);
        call(kPlayer, u"Previous"_s); // at the first entry: nothing
        QCOMPARE(m_player->listName()->currentRow(), 0);
        QVERIFY(m_player->prompts.shown().isEmpty());
        call(kPlayer, u"Stop"_s);
    }

    void pauseHoldsPosition_playPauseResumes_stopHolds()
    {
        QTemporaryDir dir;
        const QString longer = dir.filePath(u"long.mp3"_s);
        QVERIFY(Mp3Fixture::make(longer, 10, u"Long"_s)); // ends well after the seek to 3 s
        openUri(longer);
        QTRY_COMPARE_WITH_TIMEOUT(status(), u"Playing"_s, kWaitMs);
        QTest::qWait(300);
        call(kPlayer, u"Pause"_s);
        QTRY_COMPARE_WITH_TIMEOUT(status(), u"Paused"_s, kWaitMs);
        call(kPlayer, u"Pause"_s); // already paused: stays paused
        QCOMPARE(status(), u"Paused"_s);
        const qlonglong held = playerProperty(u"Position"_s).toLongLong();
        QVERIFY(held > 0);
        QTest::qWait(500);
        QCOMPARE(playerProperty(u"Position"_s).toLongLong(), held);

        call(kPlayer, u"PlayPause"_s);
        QTRY_COMPARE_WITH_TIMEOUT(status(), u"Playing"_s, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(playerProperty(u"Position"_s).toLongLong() > held + 200000, kWaitMs);

        call(kPlayer, u"SetPosition"_s, {QVariant::fromValue(trackIdOf(metadata())), qlonglong(3000000)});
        QTRY_VERIFY_WITH_TIMEOUT(m_engine->currentPosition() >= 2.9, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.seeked > 0, kWaitMs);

        call(kPlayer, u"Stop"_s);
        QTRY_COMPARE_WITH_TIMEOUT(status(), u"Stopped"_s, kWaitMs);
        QTest::qWait(1500);
        QCOMPARE(status(), u"Stopped"_s);
        QCOMPARE(m_player->label("lblCurrent")->text(), u"已停止"_s);
    }

    void automaticAdvances_keepPlaying_andAnnounceEachTrackWithItsTitle()
    {
        QVERIFY(setProperty(u"LoopStatus"_s, u"None"_s));
        openUri(m_playlist);
        m_listener.reset();
        call(kPlayer, u"Play"_s);

        // A desktop widget's view: status and metadata sampled all along.
        QStringList statuses;
        QList<QVariantMap> samples;
        QVERIFY(QTest::qWaitFor(
            [&] {
                statuses.append(status());
                samples.append(metadata());
                return statuses.last() == u"Stopped"_s &&
                       m_player->label("lblCurrent")->text() == u"已停止"_s;
            },
            3 * kWaitMs));
        // The titles shown, never the file name, each with its length; a sample
        // without one would stand out in the list.
        const auto titlesIn = [](const QList<QVariantMap> &metadata, bool collapseRepeats) {
            QStringList titles;
            for (const QVariantMap &track : metadata) {
                const QString title =
                    titleOf(track) + (lengthOf(track) > 500000 ? ""_L1 : " without length"_L1);
                if (trackIdOf(track) != kNoTrack &&
                    !(collapseRepeats && titles.value(titles.size() - 1) == title))
                    titles.append(title);
            }
            return titles;
        };
        QCOMPARE(titlesIn(samples, true), QStringList({"Title A", "Title B", "Title C"}));
        // Playing from the first track to the end of the last, then stopped for good.
        const qsizetype started = statuses.indexOf(u"Playing"_s);
        QVERIFY(started >= 0);
        const qsizetype stopped = statuses.indexOf(u"Stopped"_s, started);
        QVERIFY2(!statuses.mid(stopped).contains(u"Playing"_s), qPrintable(statuses.join(' ')));
        QVERIFY(!statuses.contains(u"Paused"_s));

        QCOMPARE(m_listener.statuses, QStringList({"Playing", "Stopped"}));
        QCOMPARE(titlesIn(m_listener.metadata, false), QStringList({"Title A", "Title B", "Title C"}));
    }

    void lowBitrate_lengthIsAnnouncedOnceTheEngineKnowsIt()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"low.mp3"_s);
        QVERIFY(Mp3Fixture::make(path, 3, u"Low"_s, 8));
        openUri(path);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::any_of(m_listener.metadata.cbegin(), m_listener.metadata.cend(),
                        [](const QVariantMap &metadata) { return lengthOf(metadata) > 0; }),
            kWaitMs);
        QCOMPARE(titleOf(m_listener.metadata.first()), u"Low"_s);
        const qlonglong length = lengthOf(metadata());
        QVERIFY2(length > 2500000 && length < 3700000, qPrintable(QString::number(length)));
        QCOMPARE(m_player->label("lblTotletime")->text(), u"00:03"_s);
        call(kPlayer, u"Stop"_s);
    }

    void playbackStatus_followsTheEngine_notThePauseFlag()
    {
        QTemporaryDir dir;
        const QString one = dir.filePath(u"one.mp3"_s);
        const QString two = dir.filePath(u"two.mp3"_s);
        // Long enough not to end on a loaded machine before the steps are done: the
        // end of a track advances, and the track after it is "Playing".
        QVERIFY(Mp3Fixture::make(one, 30, u"One"_s) && Mp3Fixture::make(two, 30, u"Two"_s));
        openUri(one);
        window().addChosenFiles({two});
        QTRY_COMPARE_WITH_TIMEOUT(status(), u"Playing"_s, kWaitMs);
        call(kPlayer, u"Pause"_s);
        QTRY_COMPARE_WITH_TIMEOUT(status(), u"Paused"_s, kWaitMs);

        window().goTo(1); // a double-click while paused plays, the window's pause flag stays
        QTRY_COMPARE_WITH_TIMEOUT(title(), u"Two"_s, kWaitMs);
        QCOMPARE(m_engine->playState(), int(MediaComponent::Playing));
        QCOMPARE(status(), u"Playing"_s);
        QVERIFY(window().state().isPaused);

        call(kPlayer, u"PlayPause"_s);
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->playState(), int(MediaComponent::Paused), kWaitMs);
        QCOMPARE(status(), u"Paused"_s);
        call(kPlayer, u"PlayPause"_s);
        QTRY_COMPARE_WITH_TIMEOUT(status(), u"Playing"_s, kWaitMs);
        call(kPlayer, u"Stop"_s);
    }

    void tagsAndPicture_areAnnounced_andANextTrackWithoutAGapIsASeek()
    {
        QCOMPARE(property(kRoot, u"SupportedMimeTypes"_s).toStringList(), AudioTypes::mimeTypes());
        QTemporaryDir dir;
        const QString tagged = dir.filePath(u"tagged.mp3"_s);
        const Mp3Fixture::Tag tag{"Tagged", u"歌手"_s, u"专辑"_s, 7, Mp3Fixture::picture()};
        QVERIFY(Mp3Fixture::make(tagged, 2) && Mp3Fixture::addTag(tagged, tag));
        QVERIFY(setProperty(u"LoopStatus"_s, u"None"_s));
        openUri(tagged);
        window().addChosenFiles({m_tracks[0]});
        QTRY_VERIFY_WITH_TIMEOUT(metadata().contains(u"mpris:artUrl"_s), kWaitMs);
        const QVariantMap now = metadata();
        QCOMPARE(now.value(u"xesam:artist"_s).toStringList(), QStringList{u"歌手"_s});
        QCOMPARE(now.value(u"xesam:album"_s).toString(), u"专辑"_s);
        QCOMPARE(now.value(u"xesam:trackNumber"_s).toInt(), 7);
        QVERIFY(QFileInfo(QUrl(now.value(u"mpris:artUrl"_s).toString()).toLocalFile()).isFile());

        // The next track follows without a stop: a new track, played from its start.
        m_listener.reset();
        QTRY_COMPARE_WITH_TIMEOUT(title(), u"Title A"_s, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.seeked > 0, kWaitMs);
        QVERIFY(!m_listener.statuses.contains(u"Stopped"_s));
        call(kPlayer, u"Stop"_s);
    }

    void lyrics_reachAsText_andAreToldWhenTheyArrive_data()
    {
        QTest::addColumn<bool>("file"); // a GBK .lrc beside the track, else lyrics in its tags
        QTest::newRow("GBK file beside") << true;
        QTest::newRow("lyrics in the tags") << false;
    }

    void lyrics_reachAsText_andAreToldWhenTheyArrive()
    {
        QFETCH(bool, file);
        QTemporaryDir dir;
        const QString track = dir.filePath(u"song.mp3"_s);
        const QString lyrics = u"[00:00.20]我曾经跨过山和大海\n[00:01.00]也穿过人山人海\n"_s;
        QVERIFY(Mp3Fixture::make(track, 2) &&
                Mp3Fixture::addTag(track, {.title = "Song", .lyrics = file ? QString() : lyrics}));
        if (file) {
            QFile lrc(dir.filePath(u"song.lrc"_s));
            QVERIFY(lrc.open(QIODevice::WriteOnly) && lrc.write(QStringEncoder("GBK").encode(lyrics)) > 0);
        }
        PlayerSettings settings(dir.filePath(u"settings.ini"_s));
        auto *controller = new LyricsController(&window(), &settings);
        connect(controller, &LyricsController::lyricsChanged, window().findChild<MprisService *>(),
                &MprisService::setLyrics);
        openUri(track);
        const QString text = u"我曾经跨过山和大海\n也穿过人山人海"_s;
        QTRY_COMPARE_WITH_TIMEOUT(metadata().value(u"xesam:asText"_s).toString(), text, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::any_of(m_listener.metadata.cbegin(), m_listener.metadata.cend(),
                        [&](const QVariantMap &m) { return m.value(u"xesam:asText"_s) == text; }),
            kWaitMs);
        call(kPlayer, u"Stop"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!metadata().contains(u"xesam:asText"_s), kWaitMs);
        delete controller; // before the settings it writes to
    }

    void callsThatCannotBeDone_answerWithAnErrorReply_data()
    {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("arguments");
        QTest::addColumn<QString>("error");
        const QString notSupported = u"org.freedesktop.DBus.Error.NotSupported"_s;
        const QString invalid = u"org.freedesktop.DBus.Error.InvalidArgs"_s;
        const QString song = uriOf(m_tracks.value(0));
        const auto uriRow = [&](const char *tag, const QString &uri, const QString &error) {
            QTest::newRow(tag) << kPlayer << u"OpenUri"_s << QVariantList{uri} << error;
        };
        uriRow("a local file is done", song, QString());
        uriRow("web address", u"http://example.org/a.mp3"_s, notSupported);
        uriRow("NUL in the path", u"file:///tmp/a%00b.mp3"_s, invalid);
        uriRow("relative path", u"music/a.mp3"_s, invalid);
        uriRow("missing file", uriOf(m_media.filePath(u"gone.mp3"_s)),
               u"org.freedesktop.DBus.Error.FileNotFound"_s);
        uriRow("folder", uriOf(m_media.path()), invalid);
        const QString sheet = m_media.filePath(u"nothing.cue"_s);
        QFile out(sheet);
        if (out.open(QIODevice::WriteOnly))
            out.write("FILE gone.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
        uriRow("a sheet without a playable track", uriOf(sheet), invalid);
        uriRow("link to a device", uriOf(m_media.filePath(u"zero.mp3"_s)), invalid);
        uriRow("path longer than a path can be", "file:///" + QString(4096, u'p'), invalid);
        uriRow("URI of 8 MB", "file:///" + QString(8 << 20, u'p'), invalid);
        QTest::newRow("AddTrack") << kTrackList << u"AddTrack"_s
                                  << QVariantList{song, QVariant::fromValue(kNoTrack), false} << notSupported;
        QTest::newRow("RemoveTrack") << kTrackList << u"RemoveTrack"_s
                                     << QVariantList{QVariant::fromValue(
                                            QDBusObjectPath(u"/org/mpris/MediaPlayer2/Track/1"_s))}
                                     << notSupported;
    }

    void callsThatCannotBeDone_answerWithAnErrorReply()
    {
        QFETCH(QString, interface);
        QFETCH(QString, method);
        QFETCH(QVariantList, arguments);
        QFETCH(QString, error);
        const QDBusMessage reply = call(interface, method, arguments);
        QCOMPARE(reply.type(), error.isEmpty() ? QDBusMessage::ReplyMessage : QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), error);
        if (!error.isEmpty())
            QVERIFY(reply.errorMessage().size() < 2 * BoundedText::kMaxDisplayChars);
        QCOMPARE(tracks().size(), error.isEmpty() ? 1 : 0);
        QVERIFY(m_player->prompts.shown().isEmpty());
        call(kPlayer, u"Stop"_s);
    }

    void raise_bringsForwardTheWindowThePlayerShows()
    {
        call(kRoot, u"Raise"_s);
        QVERIFY(window().isVisible());
        m_player->click("Image1"); // the mini window stands in for the main window
        QVERIFY(window().mini() && window().mini()->isVisible());
        call(kRoot, u"Raise"_s);
        QVERIFY(window().mini()->isVisible());
        QVERIFY(!window().isVisible());
    }

    void volume_movesInStepsOfTenThroughTheVolumeButtons()
    {
        const auto *bar = window().findChild<QWidget *>(u"imgSound"_s);
        QVERIFY(setProperty(u"Volume"_s, 0.83));
        QCOMPARE(m_engine->volume(), 80);
        QCOMPARE(playerProperty(u"Volume"_s).toDouble(), 0.8);
        QCOMPARE(bar->width(), 35 + 18);
        QVERIFY(setProperty(u"Volume"_s, 0.0));
        QCOMPARE(m_engine->volume(), 0);
        QCOMPARE(bar->width(), 5);
    }

    void aClientNobodyHereWrote_readsAndDrivesThePlayer()
    {
        const QString dbusSend = QStandardPaths::findExecutable(u"dbus-send"_s);
        QVERIFY2(!dbusSend.isEmpty(), "dbus-send comes with the D-Bus package");
        QProcess client;
        // Spins the event loop while it waits: the player answers from it.
        const auto send = [&](const QString &method, const QStringList &args) {
            client.start(dbusSend, QStringList{u"--session"_s, u"--print-reply"_s, u"--dest="_s + kService,
                                               kPath, method} +
                                       args);
            return QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, kWaitMs);
        };
        QVERIFY(send(kPlayer + u".OpenUri"_s, {u"string:"_s + uriOf(m_tracks[0])}));
        QCOMPARE(client.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->playState(), int(MediaComponent::Playing), kWaitMs);

        QVERIFY(send(kProperties + u".Get"_s, {u"string:"_s + kPlayer, u"string:PlaybackStatus"_s}));
        QVERIFY(QString::fromUtf8(client.readAllStandardOutput()).contains(u"\"Playing\""_s));

        // A call that cannot be done fails for that client too.
        QVERIFY(send(kPlayer + u".OpenUri"_s, {u"string:http://example.org/a.mp3"_s}));
        QVERIFY(client.exitCode() != 0);
        QVERIFY(client.readAllStandardError().contains("org.freedesktop.DBus.Error.NotSupported"));
    }
};

QTEST_MAIN(MprisTest)
#include "test_mpris.moc"
