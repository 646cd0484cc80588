#include "Mpris.h"

#include "FrmPlayer.h"
#include "MprisTracks.h"
#include "mprisplayeradaptor.h"
#include "mprisrootadaptor.h"
#include "mpristracklistadaptor.h"

#include "AppInfo.h"
#include "AudioTypes.h"
#include "BoundedText.h"
#include "GstMediaComponent.h"
#include "ImageTrack.h"
#include "MediaComponent.h"
#include "Names.h"
#include "RegularFile.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <cmath>

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
constexpr int kRandomMode = 0;
constexpr int kRepeatOneMode = 1;
constexpr int kPlaylistMode = 2;
constexpr int kInOrderMode = 3;
// A metadata reply stops short of this size: the bus carries no array over
// 64 MiB and drops the sender of one. A client asks again for what is missing.
constexpr qsizetype kMaxReplyBytes = 16 * 1024 * 1024;
constexpr qsizetype kMetadataOverheadBytes = 128;
// The player interface's properties whose changes clients are told of.
const char *const kWatchedProperties[] = {
    "PlaybackStatus", "LoopStatus", "Shuffle",       "Rate",    "MinimumRate", "MaximumRate", "Metadata",
    "Volume",         "CanGoNext",  "CanGoPrevious", "CanPlay", "CanPause",    "CanSeek",     "CanControl"};

const QString kNotSupported = QStringLiteral("org.freedesktop.DBus.Error.NotSupported");
const QString kInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");

qlonglong toMicroseconds(double seconds)
{
    return std::isfinite(seconds) ? qlonglong(seconds * 1e6) : 0;
}

QString fileUrl(const QString &path)
{
    // A track of an image is a file: URI already.
    return ImageTrack::parse(path) ? path : QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

// What the tags add to a track's metadata.
void insertTags(QVariantMap *metadata, const TrackTags &tags)
{
    if (!tags.artists.isEmpty())
        metadata->insert(QStringLiteral("xesam:artist"), tags.artists);
    if (!tags.album.isEmpty())
        metadata->insert(QStringLiteral("xesam:album"), tags.album);
    if (tags.trackNumber > 0)
        metadata->insert(QStringLiteral("xesam:trackNumber"), tags.trackNumber);
    if (!tags.artUrl.isEmpty())
        metadata->insert(QStringLiteral("mpris:artUrl"), tags.artUrl);
}

QVariantMap noTrack()
{
    return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(MprisTracks::kNoTrack)}};
}

} // namespace

// ---- the object on the bus ------------------------------------------------

MprisService::MprisService(FrmPlayer *player)
    : QObject(player), m_player(player), m_tracks(new MprisTracks(player->playlist().model(), this)),
      m_announcedMetadata(noTrack())
{
    qDBusRegisterMetaType<QList<QVariantMap>>();
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
    new MprisTrackListAdaptor(this);
    followPlayer();
}

MprisService::~MprisService()
{
    if (m_connectionName.isEmpty())
        return;
    QDBusConnection bus(m_connectionName);
    if (!bus.isConnected())
        return;
    bus.unregisterObject(QLatin1String(kObjectPath));
    if (!m_serviceName.isEmpty())
        bus.unregisterService(m_serviceName);
}

QString MprisService::registerOn(const QString &connectionName)
{
    QDBusConnection bus = connectionName.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(connectionName);
    if (!bus.isConnected())
        return QString();
    if (!bus.registerObject(QLatin1String(kObjectPath), this, QDBusConnection::ExportAdaptors))
        return QString();
    m_connectionName = bus.name();
    QString name = QLatin1String(kServiceName);
    if (!bus.registerService(name)) {
        name += QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
        if (!bus.registerService(name))
            return QString();
    }
    m_serviceName = name;
    m_lastPlayerProperties = playerProperties();
    return name;
}

void MprisService::followPlayer()
{
    for (auto change :
         {&FrmPlayer::playStateChanged, &FrmPlayer::currentEntryChanged, &FrmPlayer::trackInfoChanged,
          &FrmPlayer::volumeChanged, &FrmPlayer::playModeChanged, &FrmPlayer::rateChanged})
        connect(m_player, change, this, &MprisService::refreshPlayerProperties);
    connect(m_player, &FrmPlayer::positionJumped, this, &MprisService::emitSeeked);
    connect(m_tracks, &MprisTracks::removed, this, &MprisService::TrackRemoved);
    connect(m_tracks, &MprisTracks::changed, this, &MprisService::tellTrackListChanged);
}

bool MprisService::refuseCall(const QString &errorName, const QString &text)
{
    if (!calledFromDBus())
        return false;
    sendErrorReply(errorName, text);
    return true;
}

QVariantMap MprisService::playerProperties() const
{
    QVariantMap properties;
    for (const char *name : kWatchedProperties)
        properties.insert(QLatin1String(name), property(name));
    return properties;
}

void MprisService::refreshPlayerProperties()
{
    // Deferred and coalesced: one button press can change several things.
    if (m_refreshScheduled)
        return;
    m_refreshScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_refreshScheduled = false;
        const QVariantMap now = playerProperties();
        QVariantMap changed;
        for (auto it = now.cbegin(); it != now.cend(); ++it) {
            if (m_lastPlayerProperties.value(it.key()) != it.value())
                changed.insert(it.key(), it.value());
        }
        m_lastPlayerProperties = now;
        if (m_connectionName.isEmpty() || changed.isEmpty())
            return;
        QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(kObjectPath),
                                                         QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("PropertiesChanged"));
        signal << kPlayerInterface << changed << QStringList();
        QDBusConnection(m_connectionName).send(signal);
    });
}

void MprisService::tellTrackListChanged(const QList<int> &added, bool replaced)
{
    if (replaced) {
        emit TrackListReplaced(m_tracks->paths(), m_tracks->path(m_player->playingEntry()));
    } else {
        for (const int index : added)
            emit TrackAdded(trackMetadata(index), m_tracks->path(index - 1));
    }
    refreshPlayerProperties();
}

void MprisService::emitSeeked()
{
    // After the seek has reached the engine.
    QTimer::singleShot(50, this, [this] { emit Seeked(position()); });
}

// ---- what clients are told --------------------------------------------------

QVariantMap MprisService::trackMetadata(int index, const MediaComponent *playing) const
{
    const PlaylistPair &list = m_player->playlist();
    QVariantMap metadata;
    metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(m_tracks->path(index)));
    metadata.insert(QStringLiteral("xesam:url"), fileUrl(playing ? playing->url() : list.urlAt(index)));
    metadata.insert(QStringLiteral("xesam:title"),
                    playing ? playing->currentMediaName() : list.nameAt(index));
    const qlonglong length = playing ? toMicroseconds(playing->duration()) : 0;
    if (length > 0)
        metadata.insert(QStringLiteral("mpris:length"), length);
    if (playing) {
        insertTags(&metadata, playing->tags());
        if (!m_lyricsText.isEmpty() && playing->url() == m_lyricsUrl)
            metadata.insert(QStringLiteral("xesam:asText"), m_lyricsText);
    }
    return metadata;
}

void MprisService::setLyrics(const QString &url, const QString &text)
{
    m_lyricsUrl = url;
    m_lyricsText = text;
    refreshPlayerProperties();
}

bool MprisService::isAdvancing() const
{
    // Only the handler leaves an entry playing on a stopped engine without a
    // user's stop: every other stop resets the playing entry.
    const MediaComponent *media = m_player->media();
    return media->playState() == MediaComponent::Stopped && !m_player->state().stoppedByUser &&
           m_player->playingEntry() >= 0 && !media->url().isEmpty();
}

bool MprisService::isOpening() const
{
    return m_player->media()->playState() == MediaComponent::Transitioning || isAdvancing();
}

QString MprisService::playbackStatus() const
{
    switch (m_player->media()->playState()) {
    case MediaComponent::Playing:
    case MediaComponent::Transitioning:
        return QStringLiteral("Playing");
    case MediaComponent::Paused:
        return QStringLiteral("Paused");
    default:
        return isAdvancing() ? QStringLiteral("Playing") : QStringLiteral("Stopped");
    }
}

QVariantMap MprisService::currentMetadata() const
{
    MediaComponent *media = m_player->media();
    const int index = m_player->playingEntry();
    if (media->url().isEmpty() || index < 0 || index >= m_player->playlist().count()) {
        m_announcedMetadata = noTrack();
        return m_announcedMetadata;
    }
    if (!isOpening())
        m_announcedMetadata = trackMetadata(index, media);
    return m_announcedMetadata;
}

QString MprisService::identity() const
{
    return Names::kPlayerProgram;
}

QString MprisService::desktopEntry() const
{
    return AppInfo::applicationId();
}

QStringList MprisService::supportedMimeTypes() const
{
    return AudioTypes::mimeTypes();
}

QString MprisService::loopStatus() const
{
    switch (m_player->state().playMode) {
    case kRepeatOneMode: return QStringLiteral("Track");
    case kInOrderMode: return QStringLiteral("None");
    default: return QStringLiteral("Playlist");
    }
}

bool MprisService::shuffle() const
{
    return m_player->state().playMode == kRandomMode;
}

double MprisService::rate() const
{
    return m_player->media()->rate();
}

double MprisService::minimumRate() const
{
    return std::min(GstMediaComponent::kMinRate, rate());
}

double MprisService::maximumRate() const
{
    return std::max(GstMediaComponent::kMaxRate, rate());
}

double MprisService::volume() const
{
    return m_player->media()->volume() / 100.0;
}

qlonglong MprisService::position() const
{
    return toMicroseconds(m_player->media()->currentPosition());
}

bool MprisService::canGoNext() const
{
    const int count = m_player->playlist().count();
    return count > 0 && m_player->currentEntry() != count - 1;
}

bool MprisService::canGoPrevious() const
{
    return m_player->playlist().count() > 0 && m_player->currentEntry() != 0;
}

bool MprisService::canPlay() const
{
    return m_player->playlist().count() > 0 || m_player->state().isPaused;
}

bool MprisService::canSeek() const
{
    return m_player->media()->duration() > 0;
}

QList<QDBusObjectPath> MprisService::tracks() const
{
    return m_tracks->paths();
}

// ---- what clients ask ----------------------------------------------------------

void MprisService::Raise()
{
    m_player->bringToFront();
}

void MprisService::Quit()
{
    // After the reply has gone out.
    QTimer::singleShot(0, m_player, &FrmPlayer::imgClose_Click);
}

void MprisService::setPlayMode(int mode)
{
    // Through the mode button, so that its caption stays right; four presses go round.
    for (int i = 0; i < 4 && m_player->state().playMode != mode; ++i)
        m_player->imgLoop_Click();
}

void MprisService::setLoopStatus(const QString &status)
{
    if (status == QLatin1String("None"))
        setPlayMode(kInOrderMode);
    else if (status == QLatin1String("Track"))
        setPlayMode(kRepeatOneMode);
    else if (status == QLatin1String("Playlist"))
        setPlayMode(kPlaylistMode);
}

void MprisService::setShuffle(bool on)
{
    if (on)
        setPlayMode(kRandomMode);
    else if (shuffle())
        setPlayMode(kPlaylistMode);
}

void MprisService::setVolume(double volume)
{
    // In the buttons' steps of 10, so that the volume bar follows.
    const int target = int(std::lround(std::clamp(volume, 0.0, 1.0) * 10)) * 10;
    MediaComponent *media = m_player->media();
    for (int i = 0; i < 10 && media->volume() < target; ++i)
        m_player->imgSoundup_Click();
    for (int i = 0; i < 10 && media->volume() > target; ++i)
        m_player->imgSounddown_Click();
}

void MprisService::Next()
{
    if (canGoNext())
        m_player->imgNext_Click();
}

void MprisService::Previous()
{
    if (canGoPrevious())
        m_player->imgPrev_Click();
}

void MprisService::pauseIfPlaying()
{
    if (playbackStatus() != QLatin1String("Playing"))
        return;
    // A double-click while paused plays without clearing the pause flag; the
    // Pause button would then resume instead of pausing.
    m_player->state().isPaused = false;
    m_player->imgPause_Click();
}

void MprisService::Pause()
{
    pauseIfPlaying();
}

void MprisService::PlayPause()
{
    if (playbackStatus() == QLatin1String("Playing"))
        pauseIfPlaying();
    else
        Play();
}

void MprisService::Stop()
{
    m_player->imgStop_Click();
}

void MprisService::Play()
{
    // Already playing: nothing to do (the button would start the track over).
    if (playbackStatus() == QLatin1String("Playing"))
        return;
    // An empty list: nothing to do, and no box from a remote call.
    if (m_player->playlist().count() > 0 || m_player->state().isPaused)
        m_player->imgPlay_Click();
}

void MprisService::Seek(qlonglong offset)
{
    MediaComponent *media = m_player->media();
    if (media->url().isEmpty())
        return;
    media->setCurrentPosition(std::max(0.0, media->currentPosition() + offset / 1e6));
    emitSeeked();
}

void MprisService::SetPosition(const QDBusObjectPath &track, qlonglong position)
{
    MediaComponent *media = m_player->media();
    const double seconds = position / 1e6;
    if (track != m_tracks->path(m_player->playingEntry()) || seconds < 0 || seconds > media->duration())
        return;
    media->setCurrentPosition(seconds);
    emitSeeked();
}

void MprisService::OpenUri(const QString &uri)
{
    const QUrl url = BoundedText::parseUri(uri);
    const QString path = url.isLocalFile() ? url.toLocalFile() : (url.scheme().isEmpty() ? uri : QString());
    if (path.isEmpty()) {
        refuseCall(kNotSupported, QStringLiteral("only local files can be opened"));
        return;
    }
    // Replies quote at most what a window shows.
    if (!BoundedText::isUsablePath(path)) {
        refuseCall(kInvalidArgs,
                   QStringLiteral("not a usable file name: %1").arg(BoundedText::forDisplay(uri)));
        return;
    }
    const QString shown = BoundedText::forDisplay(path);
    if (!QFileInfo::exists(path)) {
        refuseCall(QStringLiteral("org.freedesktop.DBus.Error.FileNotFound"),
                   QStringLiteral("no such file: %1").arg(shown));
        return;
    }
    if (!RegularFile::exists(path)) {
        refuseCall(kInvalidArgs, QStringLiteral("not a regular file: %1").arg(shown));
        return;
    }
    const bool playlistFile = AudioTypes::isPlaylistFileName(path);
    const int before = m_player->playlist().count();
    const int added = m_player->addChosenFiles({path}, true);
    if (!playlistFile && added == 0) {
        if (AudioTypes::isSheetFileName(path) && before < Playlist::kMaxEntries)
            refuseCall(kInvalidArgs, QStringLiteral("no track of the sheet can be played: %1").arg(shown));
        else
            refuseCall(QStringLiteral("org.freedesktop.DBus.Error.LimitsExceeded"),
                       QStringLiteral("the playlist is full"));
        return;
    }
    // A playlist file only adds; an audio file, or the first track of a cue
    // sheet, is started as a double-click on it would.
    if (!playlistFile)
        m_player->goTo(before);
}

QList<QVariantMap> MprisService::GetTracksMetadata(const QList<QDBusObjectPath> &tracks)
{
    QList<QVariantMap> result;
    qsizetype bytes = 0;
    for (const int index : m_tracks->indexesOf(tracks)) {
        if (index < 0)
            continue;
        QVariantMap metadata = trackMetadata(index);
        // The URL is ASCII; a title takes at most three bytes a character.
        bytes += kMetadataOverheadBytes + metadata.value(QStringLiteral("xesam:url")).toString().size() +
                 3 * metadata.value(QStringLiteral("xesam:title")).toString().size();
        if (bytes > kMaxReplyBytes)
            break;
        result.append(std::move(metadata));
    }
    return result;
}

void MprisService::AddTrack(const QString &, const QDBusObjectPath &, bool)
{
    refuseCall(kNotSupported, QStringLiteral("the track list is edited in the player; use OpenUri to add"));
}

void MprisService::RemoveTrack(const QDBusObjectPath &)
{
    refuseCall(kNotSupported, QStringLiteral("the track list is edited in the player"));
}

void MprisService::GoTo(const QDBusObjectPath &track)
{
    m_player->goTo(m_tracks->indexOf(track));
}
