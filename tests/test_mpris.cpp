// The player as D-Bus clients see it (MPRIS2), on a private session bus, with
// the real engine and real files. Calls go through the bus daemon from a
// connection of their own, as another program's would.
#include "PlayerFixture.h"

#include "AppInfo.h"
#include "BoundedText.h"
#include "GstMediaComponent.h"
#include "Mini.h"
#include "Mp3Fixture.h"
#include "Mpris.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QtTest>

namespace {

const QString kService = QStringLiteral("org.mpris.MediaPlayer2.TamselMP3Player");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kTrackList = QStringLiteral("org.mpris.MediaPlayer2.TrackList");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
constexpr int kWaitMs = 15000;

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
        if (changed.contains(QStringLiteral("PlaybackStatus")))
            statuses.append(changed.value(QStringLiteral("PlaybackStatus")).toString());
        if (changed.contains(QStringLiteral("Metadata")))
            metadata.append(qdbus_cast<QVariantMap>(changed.value(QStringLiteral("Metadata"))));
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
    MprisService *m_service = nullptr;
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
    QVariant property(const QString &interface, const QString &name)
    {
        const QDBusMessage reply = call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                        {interface, name});
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {};
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    bool setProperty(const QString &interface, const QString &name, const QVariant &value)
    {
        return call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                    {interface, name, QVariant::fromValue(QDBusVariant(value))})
                   .type() == QDBusMessage::ReplyMessage;
    }
    QString status() { return property(kPlayer, QStringLiteral("PlaybackStatus")).toString(); }
    QVariantMap metadata() { return qdbus_cast<QVariantMap>(property(kPlayer, QStringLiteral("Metadata"))); }
    QString title() { return metadata().value(QStringLiteral("xesam:title")).toString(); }
    static QString trackIdOf(const QVariantMap &metadata)
    {
        return metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path();
    }
    static qlonglong lengthOf(const QVariantMap &metadata)
    {
        return metadata.value(QStringLiteral("mpris:length")).toLongLong();
    }
    QList<QDBusObjectPath> tracks()
    {
        return qdbus_cast<QList<QDBusObjectPath>>(property(kTrackList, QStringLiteral("Tracks")));
    }
    // Titles of the tracks that start, until the player stops or count are seen.
    QStringList titlesPlayed(int count)
    {
        QStringList titles;
        QString last;
        // Ends when enough tracks started or the player stopped; the caller checks which.
        (void)QTest::qWaitFor(
            [&] {
                const bool playing = m_engine->playState() == MediaComponent::Playing;
                if (playing && last.isEmpty())
                    titles.append(m_engine->currentMediaName());
                last = playing ? QStringLiteral("p") : QString();
                return titles.size() >= count || window().findChild<QLabel *>(QStringLiteral("lblCurrent"))->text()
                                                         == QStringLiteral("已停止");
            },
            kWaitMs);
        return titles;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "the test runs under its own session bus");
        m_client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
        QVERIFY(m_client.isConnected());
        qDBusRegisterMetaType<QList<QVariantMap>>();
        for (const auto &[interface, name, slot] :
             {std::tuple{QStringLiteral("org.freedesktop.DBus.Properties"), "PropertiesChanged",
                         SLOT(propertiesChanged(QString, QVariantMap, QStringList))},
              std::tuple{kTrackList, "TrackAdded", SLOT(trackAdded(QVariantMap, QDBusObjectPath))},
              std::tuple{kTrackList, "TrackListReplaced", SLOT(trackListReplaced(QList<QDBusObjectPath>, QDBusObjectPath))},
              std::tuple{kPlayer, "Seeked", SLOT(seekedTo(qlonglong))}})
            QVERIFY(m_client.connect(kService, kPath, interface, QLatin1String(name), &m_listener, slot));
        for (const char *name : {"A", "B", "C"}) {
            const QString path = m_media.filePath(QLatin1String(name) + QStringLiteral(".mp3"));
            QVERIFY(Mp3Fixture::make(path, 0.8, QStringLiteral("Title ") + QLatin1String(name)));
            m_tracks.append(path);
        }
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), m_media.filePath(QStringLiteral("zero.mp3"))));
        m_playlist = m_media.filePath(QStringLiteral("three.m3u"));
        QFile list(m_playlist);
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write((m_tracks.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
    }

    void init()
    {
        m_engine = std::make_unique<GstMediaComponent>(QStringLiteral("fakesink"));
        m_player = std::make_unique<PlayerFixture>();
        m_player->services.media = m_engine.get();
        m_player->window = std::make_unique<FrmPlayer>(m_player->services);
        QVERIFY(m_player->load());
        m_service = new MprisService(m_player->window.get());
        QCOMPARE(m_service->registerOn(), kService);
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
        QCOMPARE(property(kRoot, QStringLiteral("Identity")).toString(), QStringLiteral("TamselMP3Player"));
        // The name of the installed desktop file, without ".desktop".
        QCOMPARE(property(kRoot, QStringLiteral("DesktopEntry")).toString(), AppInfo::applicationId());
        QCOMPARE(property(kRoot, QStringLiteral("HasTrackList")).toBool(), true);
        QCOMPARE(property(kRoot, QStringLiteral("CanQuit")).toBool(), true);
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("second"));
        {
            PlayerFixture other;
            QVERIFY(other.load());
            auto *service = new MprisService(other.window.get());
            QCOMPARE(service->registerOn(QStringLiteral("second")),
                     kService + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid()));
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("second"));
    }

    void openUri_playlistAppendsWithoutPlaying_audioFileAppendsAndStarts()
    {
        call(kPlayer, QStringLiteral("OpenUri"), {QUrl::fromLocalFile(m_playlist).toString()});
        QCOMPARE(tracks().size(), 3);
        QCOMPARE(status(), QStringLiteral("Stopped"));
        QCOMPARE(m_player->label("lblTotlenum")->text(), QStringLiteral("3"));
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.tracksAdded == 3 || m_listener.listsReplaced > 0, kWaitMs);

        const QDBusMessage reply = call(kTrackList, QStringLiteral("GetTracksMetadata"),
                                        {QVariant::fromValue(tracks())});
        const auto metadata = qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0));
        QCOMPARE(metadata.size(), 3);
        QCOMPARE(metadata[1].value(QStringLiteral("xesam:title")).toString(), QStringLiteral("B.mp3"));
        QCOMPARE(metadata[1].value(QStringLiteral("xesam:url")).toString(), QUrl::fromLocalFile(m_tracks[1]).toString());
        QCOMPARE(metadata[1].value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>(), tracks()[1]);

        call(kPlayer, QStringLiteral("OpenUri"), {QUrl::fromLocalFile(m_tracks[2]).toString()});
        QCOMPARE(tracks().size(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Playing"), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Title C"), kWaitMs);
        QCOMPARE(m_player->listName()->currentRow(), 3);
        const QVariantMap now = qdbus_cast<QVariantMap>(property(kPlayer, QStringLiteral("Metadata")));
        QCOMPARE(now.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>(), tracks()[3]);
        QVERIFY(now.value(QStringLiteral("mpris:length")).toLongLong() > 500000);
        QVERIFY(m_player->prompts.shown().isEmpty());
    }

    void hostilePlaylist_keepsThePlayerOnTheBus_andEveryNameShort()
    {
        const QString file = m_media.filePath(QStringLiteral("hostile.m3u"));
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(QByteArray(50 * 1024 * 1024, 'x') + "\r\n"); // longer than any path
            out.write("/m/" + QByteArray(3000, 'n') + "\r\n");
            out.write((m_tracks.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
        }
        QCOMPARE(call(kPlayer, QStringLiteral("OpenUri"), {QUrl::fromLocalFile(file).toString()}).type(),
                 QDBusMessage::ReplyMessage);
        const QList<QDBusObjectPath> ids = tracks();
        QCOMPARE(ids.size(), 4);
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.tracksAdded == 4 || m_listener.listsReplaced > 0, kWaitMs);

        // In the order asked, unknown ids left out, repeated ids repeated.
        const QList<QDBusObjectPath> asked = {
            ids[3], QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/Track/999999")),
            QDBusObjectPath(QStringLiteral("/not/a/track")), ids[0], ids[0]};
        const QDBusMessage reply =
            call(kTrackList, QStringLiteral("GetTracksMetadata"), {QVariant::fromValue(asked)});
        const auto metadata = qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0));
        QCOMPARE(metadata.size(), 3);
        QCOMPARE(metadata[0].value(QStringLiteral("xesam:title")).toString(), QStringLiteral("C.mp3"));
        QCOMPARE(metadata[0].value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>(), ids[3]);
        QCOMPARE(metadata[1].value(QStringLiteral("xesam:title")).toString(),
                 QString(1024, QLatin1Char('n')));
        QCOMPARE(metadata[2].value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>(), ids[0]);
        QCOMPARE(property(kRoot, QStringLiteral("Identity")).toString(), QStringLiteral("TamselMP3Player"));
        QCOMPARE(m_player->names().value(0), QString(1024, QLatin1Char('n')));
    }

    void metadataOfManyLongPaths_comesWithinWhatTheBusCarries()
    {
        // Paths as long as a path can be, in Chinese: about 15 kB of metadata each.
        QStringList paths;
        for (int i = 0; i < 6000; ++i)
            paths.append(QStringLiteral("/m/%1/").arg(i, 5, 10, QLatin1Char('0')) +
                         QString(1360, QChar(0x6B4C)));
        QCOMPARE(window().playlist().append(paths), 6000);
        const QList<QDBusObjectPath> ids = tracks();
        QCOMPARE(ids.size(), 6000);

        const QDBusMessage reply =
            call(kTrackList, QStringLiteral("GetTracksMetadata"), {QVariant::fromValue(ids)});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        const auto metadata = qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0));
        // What fits comes, in the order asked; the rest can be asked for again.
        QVERIFY(metadata.size() > 1000 && metadata.size() < 6000);
        QCOMPARE(metadata.last().value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>(),
                 ids[metadata.size() - 1]);
        const QDBusMessage rest = call(kTrackList, QStringLiteral("GetTracksMetadata"),
                                       {QVariant::fromValue(ids.mid(metadata.size()))});
        QCOMPARE(qdbus_cast<QList<QVariantMap>>(rest.arguments().value(0))
                     .value(0)
                     .value(QStringLiteral("xesam:url")),
                 QVariant(QUrl::fromLocalFile(paths[metadata.size()]).toString(QUrl::FullyEncoded)));
        QCOMPARE(property(kRoot, QStringLiteral("Identity")).toString(), QStringLiteral("TamselMP3Player"));
    }

    void inOrderMode_playsEveryTitleOnceAndStops()
    {
        QVERIFY(setProperty(kPlayer, QStringLiteral("LoopStatus"), QStringLiteral("None")));
        QCOMPARE(int(window().state().playMode), 3);
        QCOMPARE(m_player->label("lblLoop")->text(), QStringLiteral("顺序循环"));
        call(kPlayer, QStringLiteral("OpenUri"), {QUrl::fromLocalFile(m_playlist).toString()});
        call(kPlayer, QStringLiteral("Play"));
        QCOMPARE(titlesPlayed(4), QStringList({"Title A", "Title B", "Title C"}));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Stopped"), kWaitMs);
        QVERIFY(m_listener.changedProperties.contains(QStringLiteral("PlaybackStatus")));
        QVERIFY(m_listener.changedProperties.contains(QStringLiteral("Metadata")));
    }

    void loopAndShuffle_mapToPlayModes()
    {
        QVERIFY(setProperty(kPlayer, QStringLiteral("LoopStatus"), QStringLiteral("Track")));
        QCOMPARE(int(window().state().playMode), 1);
        QCOMPARE(m_player->label("lblLoop")->text(), QStringLiteral("单曲循环"));
        QVERIFY(setProperty(kPlayer, QStringLiteral("Shuffle"), true));
        QCOMPARE(int(window().state().playMode), 0);
        QCOMPARE(property(kPlayer, QStringLiteral("Shuffle")).toBool(), true);
        QCOMPARE(m_player->label("lblLoop")->text(), QStringLiteral("随机循环"));
        QVERIFY(setProperty(kPlayer, QStringLiteral("Shuffle"), false));
        QCOMPARE(property(kPlayer, QStringLiteral("LoopStatus")).toString(), QStringLiteral("Playlist"));
        QCOMPARE(m_player->label("lblLoop")->text(), QStringLiteral("全部循环"));
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.changedProperties.contains(QStringLiteral("LoopStatus")), kWaitMs);
    }

    void remoteCalls_neverShowBoxes_andBoundariesAreReported()
    {
        call(kPlayer, QStringLiteral("Play")); // empty list
        call(kPlayer, QStringLiteral("Next"));
        call(kPlayer, QStringLiteral("Previous"));
        QCOMPARE(property(kPlayer, QStringLiteral("CanGoNext")).toBool(), false);
        QCOMPARE(property(kPlayer, QStringLiteral("CanPlay")).toBool(), false);

        call(kPlayer, QStringLiteral("OpenUri"), {QUrl::fromLocalFile(m_playlist).toString()});
        QVERIFY(setProperty(kPlayer, QStringLiteral("LoopStatus"), QStringLiteral("Track")));
        call(kTrackList, QStringLiteral("GoTo"), {QVariant::fromValue(tracks()[2])});
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Title C"), kWaitMs);
        QCOMPARE(property(kPlayer, QStringLiteral("CanGoNext")).toBool(), false);
        QCOMPARE(property(kPlayer, QStringLiteral("CanGoPrevious")).toBool(), true);
        call(kPlayer, QStringLiteral("Next")); // at the last entry: nothing
        QCOMPARE(m_player->listName()->currentRow(), 2);
        call(kPlayer, QStringLiteral("Previous"));
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Title B"), kWaitMs);
        call(kPlayer, QStringLiteral("Previous"));
        call(kPlayer, QStringLiteral("Previous")); // at the first entry: nothing
        QCOMPARE(m_player->listName()->currentRow(), 0);
        QVERIFY(m_player->prompts.shown().isEmpty());
        call(kPlayer, QStringLiteral("Stop"));
    }

    void pauseHoldsPosition_playPauseResumes_stopHolds()
    {
        QTemporaryDir dir;
        const QString longer = dir.filePath(QStringLiteral("long.mp3"));
        QVERIFY(Mp3Fixture::make(longer, 4, QStringLiteral("Long")));
        call(kPlayer, QStringLiteral("OpenUri"), {QUrl::fromLocalFile(longer).toString()});
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Playing"), kWaitMs);
        QTest::qWait(300);
        call(kPlayer, QStringLiteral("Pause"));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Paused"), kWaitMs);
        call(kPlayer, QStringLiteral("Pause")); // already paused: stays paused
        QCOMPARE(status(), QStringLiteral("Paused"));
        const qlonglong held = property(kPlayer, QStringLiteral("Position")).toLongLong();
        QVERIFY(held > 0);
        QTest::qWait(500);
        QCOMPARE(property(kPlayer, QStringLiteral("Position")).toLongLong(), held);

        call(kPlayer, QStringLiteral("PlayPause"));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Playing"), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(property(kPlayer, QStringLiteral("Position")).toLongLong() > held + 200000, kWaitMs);

        const auto track = qdbus_cast<QVariantMap>(property(kPlayer, QStringLiteral("Metadata")))
                               .value(QStringLiteral("mpris:trackid"))
                               .value<QDBusObjectPath>();
        call(kPlayer, QStringLiteral("SetPosition"), {QVariant::fromValue(track), qlonglong(3000000)});
        QTRY_VERIFY_WITH_TIMEOUT(m_engine->currentPosition() >= 2.9, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.seeked > 0, kWaitMs);

        call(kPlayer, QStringLiteral("Stop"));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Stopped"), kWaitMs);
        QTest::qWait(1500);
        QCOMPARE(status(), QStringLiteral("Stopped"));
        QCOMPARE(m_player->label("lblCurrent")->text(), QStringLiteral("已停止"));
    }

    void automaticAdvances_keepPlaying_andAnnounceEachTrackWithItsTitle()
    {
        QVERIFY(setProperty(kPlayer, QStringLiteral("LoopStatus"), QStringLiteral("None")));
        call(kPlayer, QStringLiteral("OpenUri"), {QUrl::fromLocalFile(m_playlist).toString()});
        m_listener.reset();
        call(kPlayer, QStringLiteral("Play"));

        // A desktop widget's view: status and metadata sampled all along.
        struct Sample
        {
            QString status;
            QVariantMap metadata;
        };
        QList<Sample> samples;
        const QLabel *current = m_player->label("lblCurrent");
        QVERIFY(QTest::qWaitFor(
            [&] {
                samples.append({status(), metadata()});
                return samples.last().status == QLatin1String("Stopped") &&
                       current->text() == QStringLiteral("已停止");
            },
            3 * kWaitMs));

        QStringList statuses;
        QStringList titles;
        for (const Sample &sample : std::as_const(samples)) {
            statuses.append(sample.status);
            if (trackIdOf(sample.metadata) == kNoTrack)
                continue;
            const QString title = sample.metadata.value(QStringLiteral("xesam:title")).toString();
            QVERIFY2(title.startsWith(QStringLiteral("Title ")), qPrintable(title)); // never the file name
            QVERIFY2(lengthOf(sample.metadata) > 500000, qPrintable(title));
            if (titles.isEmpty() || titles.last() != title)
                titles.append(title);
        }
        QCOMPARE(titles, QStringList({"Title A", "Title B", "Title C"}));
        // Playing from the first track to the end of the last, then stopped for good.
        const qsizetype started = statuses.indexOf(QStringLiteral("Playing"));
        QVERIFY(started >= 0);
        const qsizetype stopped = statuses.indexOf(QStringLiteral("Stopped"), started);
        QVERIFY2(!statuses.mid(stopped).contains(QStringLiteral("Playing")), qPrintable(statuses.join(' ')));
        QVERIFY(!statuses.contains(QStringLiteral("Paused")));

        // What the clients were told in signals says the same.
        QCOMPARE(m_listener.statuses, QStringList({"Playing", "Stopped"}));
        QStringList announced;
        for (const QVariantMap &metadata : std::as_const(m_listener.metadata)) {
            if (trackIdOf(metadata) == kNoTrack)
                continue;
            const QString title = metadata.value(QStringLiteral("xesam:title")).toString();
            QVERIFY2(title.startsWith(QStringLiteral("Title ")), qPrintable(title));
            QVERIFY(lengthOf(metadata) > 500000);
            announced.append(title);
        }
        QCOMPARE(announced, QStringList({"Title A", "Title B", "Title C"}));
    }

    void lowBitrate_lengthIsAnnouncedOnceTheEngineKnowsIt()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("low.mp3"));
        QVERIFY(Mp3Fixture::make(path, 3, QStringLiteral("Low"), 8));
        call(kPlayer, QStringLiteral("OpenUri"), {QUrl::fromLocalFile(path).toString()});
        const auto told = [&] {
            return std::any_of(m_listener.metadata.cbegin(), m_listener.metadata.cend(),
                               [](const QVariantMap &metadata) { return lengthOf(metadata) > 0; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(told(), kWaitMs);
        const QVariantMap first = m_listener.metadata.first();
        QCOMPARE(first.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("Low"));
        const qlonglong length = lengthOf(metadata());
        QVERIFY2(length > 2500000 && length < 3700000, qPrintable(QString::number(length)));
        QCOMPARE(m_player->label("lblTotletime")->text(), QStringLiteral("00:03"));
        call(kPlayer, QStringLiteral("Stop"));
    }

    void playbackStatus_followsTheEngine_notThePauseFlag()
    {
        QTemporaryDir dir;
        const QString one = dir.filePath(QStringLiteral("one.mp3"));
        const QString two = dir.filePath(QStringLiteral("two.mp3"));
        QVERIFY(Mp3Fixture::make(one, 4, QStringLiteral("One")) &&
                Mp3Fixture::make(two, 4, QStringLiteral("Two")));
        call(kPlayer, QStringLiteral("OpenUri"), {QUrl::fromLocalFile(one).toString()});
        window().addChosenFiles({two});
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Playing"), kWaitMs);
        call(kPlayer, QStringLiteral("Pause"));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Paused"), kWaitMs);

        window().goTo(1); // a double-click while paused plays, the window's pause flag stays
        QTRY_COMPARE_WITH_TIMEOUT(title(), QStringLiteral("Two"), kWaitMs);
        QCOMPARE(m_engine->playState(), int(MediaComponent::Playing));
        QCOMPARE(status(), QStringLiteral("Playing"));
        QVERIFY(window().state().isPaused);

        call(kPlayer, QStringLiteral("PlayPause"));
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->playState(), int(MediaComponent::Paused), kWaitMs);
        QCOMPARE(status(), QStringLiteral("Paused"));
        call(kPlayer, QStringLiteral("PlayPause"));
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Playing"), kWaitMs);
        call(kPlayer, QStringLiteral("Stop"));
    }

    void callsThatCannotBeDone_answerWithAnErrorReply_data()
    {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("arguments");
        QTest::addColumn<QString>("error");
        const QString notSupported = QStringLiteral("org.freedesktop.DBus.Error.NotSupported");
        const QString invalid = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
        const QString song = QUrl::fromLocalFile(m_tracks.value(0)).toString();
        QTest::newRow("a local file is done")
            << kPlayer << QStringLiteral("OpenUri") << QVariantList{song} << QString();
        QTest::newRow("web address") << kPlayer << QStringLiteral("OpenUri")
                                     << QVariantList{QStringLiteral("http://example.org/a.mp3")}
                                     << notSupported;
        QTest::newRow("NUL in the path") << kPlayer << QStringLiteral("OpenUri")
                                         << QVariantList{QStringLiteral("file:///tmp/a%00b.mp3")} << invalid;
        QTest::newRow("relative path")
            << kPlayer << QStringLiteral("OpenUri") << QVariantList{QStringLiteral("music/a.mp3")} << invalid;
        QTest::newRow("missing file")
            << kPlayer << QStringLiteral("OpenUri")
            << QVariantList{QUrl::fromLocalFile(m_media.filePath("gone.mp3")).toString()}
            << QStringLiteral("org.freedesktop.DBus.Error.FileNotFound");
        QTest::newRow("folder") << kPlayer << QStringLiteral("OpenUri")
                                << QVariantList{QUrl::fromLocalFile(m_media.path()).toString()} << invalid;
        QTest::newRow("link to a device")
            << kPlayer << QStringLiteral("OpenUri")
            << QVariantList{QUrl::fromLocalFile(m_media.filePath("zero.mp3")).toString()} << invalid;
        QTest::newRow("path longer than a path can be")
            << kPlayer << QStringLiteral("OpenUri") << QVariantList{"file:///" + QString(4096, 'p')}
            << invalid;
        QTest::newRow("URI of 8 MB") << kPlayer << QStringLiteral("OpenUri")
                                     << QVariantList{"file:///" + QString(8 << 20, 'p')} << invalid;
        QTest::newRow("AddTrack") << kTrackList << QStringLiteral("AddTrack")
                                  << QVariantList{song, QVariant::fromValue(QDBusObjectPath(kNoTrack)), false}
                                  << notSupported;
        QTest::newRow("RemoveTrack") << kTrackList << QStringLiteral("RemoveTrack")
                                     << QVariantList{QVariant::fromValue(QDBusObjectPath(
                                            QStringLiteral("/org/mpris/MediaPlayer2/Track/1")))}
                                     << notSupported;
    }

    void callsThatCannotBeDone_answerWithAnErrorReply()
    {
        QFETCH(QString, interface);
        QFETCH(QString, method);
        QFETCH(QVariantList, arguments);
        QFETCH(QString, error);
        const QDBusMessage reply = call(interface, method, arguments);
        if (error.isEmpty()) {
            QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
            QCOMPARE(tracks().size(), 1);
        } else {
            QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
            QCOMPARE(reply.errorName(), error);
            QVERIFY(reply.errorMessage().size() < 2 * BoundedText::kMaxDisplayChars);
            QCOMPARE(tracks().size(), 0);
        }
        QVERIFY(m_player->prompts.shown().isEmpty());
        call(kPlayer, QStringLiteral("Stop"));
    }

    void raise_bringsForwardTheWindowThePlayerShows()
    {
        call(kRoot, QStringLiteral("Raise"));
        QVERIFY(window().isVisible());
        m_player->click("Image1"); // the mini window stands in for the main window
        QVERIFY(window().mini() && window().mini()->isVisible());
        call(kRoot, QStringLiteral("Raise"));
        QVERIFY(window().mini()->isVisible());
        QVERIFY(!window().isVisible());
    }

    void volume_movesInStepsOfTenThroughTheVolumeButtons()
    {
        QVERIFY(setProperty(kPlayer, QStringLiteral("Volume"), 0.83));
        QCOMPARE(m_engine->volume(), 80);
        QCOMPARE(property(kPlayer, QStringLiteral("Volume")).toDouble(), 0.8);
        QCOMPARE(window().findChild<QWidget *>(QStringLiteral("imgSound"))->width(), 35 + 18);
        QVERIFY(setProperty(kPlayer, QStringLiteral("Volume"), 0.0));
        QCOMPARE(m_engine->volume(), 0);
        QCOMPARE(window().findChild<QWidget *>(QStringLiteral("imgSound"))->width(), 5);
    }

    void aClientNobodyHereWrote_readsAndDrivesThePlayer()
    {
        const QString dbusSend = QStandardPaths::findExecutable(QStringLiteral("dbus-send"));
        QVERIFY2(!dbusSend.isEmpty(), "dbus-send comes with the D-Bus package");
        QProcess client;
        client.start(dbusSend, {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                                QStringLiteral("--dest=") + kService, kPath,
                                kPlayer + QStringLiteral(".OpenUri"),
                                QStringLiteral("string:") + QUrl::fromLocalFile(m_tracks[0]).toString()});
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QProcess::NotRunning, kWaitMs);
        QCOMPARE(client.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_engine->playState(), int(MediaComponent::Playing), kWaitMs);

        client.start(dbusSend, {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                                QStringLiteral("--dest=") + kService, kPath,
                                QStringLiteral("org.freedesktop.DBus.Properties.Get"), QStringLiteral("string:") + kPlayer,
                                QStringLiteral("string:PlaybackStatus")});
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QProcess::NotRunning, kWaitMs);
        QVERIFY(QString::fromUtf8(client.readAllStandardOutput()).contains(QStringLiteral("\"Playing\"")));

        // A call that cannot be done fails for that client too.
        client.start(dbusSend,
                     {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                      QStringLiteral("--dest=") + kService, kPath, kPlayer + QStringLiteral(".OpenUri"),
                      QStringLiteral("string:http://example.org/a.mp3")});
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QProcess::NotRunning, kWaitMs);
        QVERIFY(client.exitCode() != 0);
        QVERIFY(client.readAllStandardError().contains("org.freedesktop.DBus.Error.NotSupported"));
    }
};

QTEST_MAIN(MprisTest)
#include "test_mpris.moc"
