#include "Mpris.h"

#include "AppInfo.h"
#include "AudioTypes.h"
#include "BoundedText.h"
#include "FrmPlayer.h"
#include "GstMediaComponent.h"
#include "ImageButton.h"
#include "MediaComponent.h"
#include "RegularFile.h"
#include "SeekBar.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QFileInfo>
#include <QHash>
#include <QListWidget>
#include <QTimer>
#include <QUrl>

#include <cmath>

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
constexpr int kPlaylistMode = 2;
constexpr int kRandomMode = 0;
constexpr int kRepeatOneMode = 1;
constexpr int kInOrderMode = 3;
// Past this many additions at once, clients get one replaced list instead.
constexpr int kMaxAddedSignals = 64;
// A metadata reply stops short of this size: the bus carries no array over
// 64 MiB and drops the sender of one. A client asks again for what is missing.
constexpr qsizetype kMaxReplyBytes = 16 * 1024 * 1024;
constexpr qsizetype kMetadataOverheadBytes = 128;

QListWidget *listNameOf(FrmPlayer *player)
{
    return player->findChild<QListWidget *>(QStringLiteral("listName"));
}

qlonglong toMicroseconds(double seconds)
{
    return std::isfinite(seconds) ? qlonglong(seconds * 1e6) : 0;
}

quint64 trackIdOf(const QDBusObjectPath &track, bool *ok)
{
    const QString prefix = QStringLiteral("/org/mpris/MediaPlayer2/Track/");
    const QString path = track.path();
    *ok = false;
    return path.startsWith(prefix) ? QStringView(path).mid(prefix.size()).toULongLong(ok) : 0;
}

QString fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
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
    return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(kNoTrack))}};
}

const QString kNotSupported = QStringLiteral("org.freedesktop.DBus.Error.NotSupported");
const QString kInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");

} // namespace

// ---- service -------------------------------------------------------------

MprisService::MprisService(FrmPlayer *player)
    : QObject(player), m_player(player), m_announcedMetadata(noTrack())
{
    qDBusRegisterMetaType<QList<QVariantMap>>();
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
    new MprisTrackListAdaptor(this);
    watchPlaylist();
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
    m_lastPlayerProperties = findChild<MprisPlayerAdaptor *>()->properties();
    return name;
}

void MprisService::watchPlaylist()
{
    QListWidget *list = listNameOf(m_player);
    for (int i = 0; i < list->count(); ++i)
        m_ids.append(m_nextId++);
    QAbstractItemModel *model = list->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first, int last) {
        for (int row = first; row <= last; ++row) {
            m_ids.insert(row, m_nextId);
            m_addedIds.append(m_nextId++);
        }
        scheduleTrackListSync();
    });
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) {
                auto *trackList = findChild<MprisTrackListAdaptor *>();
                for (int row = last; row >= first; --row) {
                    const quint64 id = m_ids.takeAt(row);
                    if (!m_addedIds.removeOne(id) && !m_listReplaced)
                        emit trackList->TrackRemoved(
                            QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/Track/%1").arg(id)));
                }
                scheduleTrackListSync();
            });
    connect(model, &QAbstractItemModel::modelReset, this, [this, list] {
        m_ids.clear();
        m_addedIds.clear();
        for (int i = 0; i < list->count(); ++i)
            m_ids.append(m_nextId++);
        m_listReplaced = true;
        scheduleTrackListSync();
    });
    // A changed name means entries were swapped or replaced in place.
    connect(model, &QAbstractItemModel::dataChanged, this, [this] {
        m_listReplaced = true;
        scheduleTrackListSync();
    });

    connect(list, &QListWidget::currentRowChanged, this, &MprisService::refreshPlayerProperties);
    connect(m_player->media(), &MediaComponent::statusChange, this, &MprisService::refreshPlayerProperties);
    connect(m_player->media(), &MediaComponent::durationChanged, this,
            &MprisService::refreshPlayerProperties);
    connect(m_player, &FrmPlayer::playModeChanged, this, &MprisService::refreshPlayerProperties);
    connect(m_player->media(), &MediaComponent::tagsChanged, this, &MprisService::refreshPlayerProperties);
    // A track that follows without a gap starts over without a stop: clients
    // hear of it as a new track and a jump to its start.
    connect(m_player->media(), &MediaComponent::mediaChanged, this, [this] {
        refreshPlayerProperties();
        emitSeeked();
    });
    for (const char *button : {"imgSoundup", "imgSounddown", "imgPause", "imgPlay", "imgSpeedup", "imgSpeeddown",
                               "imgSpeed0"}) {
        if (auto *b = m_player->findChild<ImageButton *>(QLatin1String(button)))
            connect(b, &QAbstractButton::clicked, this, &MprisService::refreshPlayerProperties);
    }
    // Jumps made in the window are seeks too.
    for (const char *button : {"imgStepback", "imgStepfront"}) {
        if (auto *b = m_player->findChild<ImageButton *>(QLatin1String(button)))
            connect(b, &QAbstractButton::clicked, this, &MprisService::emitSeeked);
    }
    if (auto *bar = m_player->findChild<SeekBar *>(QStringLiteral("Picture1")))
        connect(bar, &SeekBar::mouseDown, this, &MprisService::emitSeeked);
}

QDBusObjectPath MprisService::trackPath(int index) const
{
    if (index < 0 || index >= m_ids.size())
        return QDBusObjectPath(kNoTrack);
    return QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/Track/%1").arg(m_ids[index]));
}

int MprisService::indexOf(const QDBusObjectPath &track) const
{
    bool ok = false;
    const quint64 id = trackIdOf(track, &ok);
    return ok ? int(m_ids.indexOf(id)) : -1;
}

QList<int> MprisService::indexesOf(const QList<QDBusObjectPath> &tracks) const
{
    QHash<quint64, int> rows;
    rows.reserve(m_ids.size());
    for (int row = 0; row < m_ids.size(); ++row)
        rows.insert(m_ids[row], row);
    QList<int> indexes;
    indexes.reserve(tracks.size());
    for (const QDBusObjectPath &track : tracks) {
        bool ok = false;
        const quint64 id = trackIdOf(track, &ok);
        indexes.append(ok ? rows.value(id, -1) : -1);
    }
    return indexes;
}

QList<QDBusObjectPath> MprisService::tracks() const
{
    QList<QDBusObjectPath> paths;
    paths.reserve(m_ids.size());
    for (int i = 0; i < m_ids.size(); ++i)
        paths.append(trackPath(i));
    return paths;
}

QVariantMap MprisService::trackMetadata(int index) const
{
    const PlaylistPair &list = m_player->playlist();
    QVariantMap metadata;
    metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackPath(index)));
    metadata.insert(QStringLiteral("xesam:url"), fileUrl(list.urlAt(index)));
    metadata.insert(QStringLiteral("xesam:title"), list.nameAt(index));
    return metadata;
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

bool MprisService::refuseCall(const QString &errorName, const QString &text)
{
    if (!calledFromDBus())
        return false;
    sendErrorReply(errorName, text);
    return true;
}

QVariantMap MprisService::currentMetadata() const
{
    MediaComponent *media = m_player->media();
    const int index = m_player->playingEntry();
    if (media->url().isEmpty() || index < 0 || index >= m_ids.size()) {
        m_announcedMetadata = noTrack();
        return m_announcedMetadata;
    }
    if (isOpening())
        return m_announcedMetadata;
    QVariantMap metadata;
    metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackPath(index)));
    metadata.insert(QStringLiteral("xesam:url"), fileUrl(media->url()));
    metadata.insert(QStringLiteral("xesam:title"), media->currentMediaName());
    insertTags(&metadata, media->tags());
    const qlonglong length = toMicroseconds(media->duration());
    if (length > 0)
        metadata.insert(QStringLiteral("mpris:length"), length);
    m_announcedMetadata = metadata;
    return metadata;
}

void MprisService::notifyChanged(const QString &interface, const QStringList &names)
{
    if (m_connectionName.isEmpty() || names.isEmpty())
        return;
    QVariantMap changed;
    auto *adaptor = findChild<MprisPlayerAdaptor *>();
    const QVariantMap all = adaptor->properties();
    for (const QString &name : names)
        changed.insert(name, all.value(name));
    QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(kObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << interface << changed << QStringList();
    QDBusConnection(m_connectionName).send(signal);
}

void MprisService::refreshPlayerProperties()
{
    // Deferred and coalesced: one button press can change several things.
    if (m_refreshScheduled)
        return;
    m_refreshScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_refreshScheduled = false;
        const QVariantMap now = findChild<MprisPlayerAdaptor *>()->properties();
        QStringList changed;
        for (auto it = now.cbegin(); it != now.cend(); ++it) {
            if (m_lastPlayerProperties.value(it.key()) != it.value())
                changed.append(it.key());
        }
        m_lastPlayerProperties = now;
        notifyChanged(kPlayerInterface, changed);
    });
}

void MprisService::emitSeeked()
{
    // After the seek has reached the engine.
    QTimer::singleShot(50, this, [this] {
        emit findChild<MprisPlayerAdaptor *>()->Seeked(toMicroseconds(m_player->media()->currentPosition()));
    });
}

void MprisService::scheduleTrackListSync()
{
    if (m_syncScheduled)
        return;
    m_syncScheduled = true;
    // The paths are written after the names; tell clients once both are in.
    QTimer::singleShot(0, this, &MprisService::syncTrackList);
}

void MprisService::syncTrackList()
{
    m_syncScheduled = false;
    auto *trackList = findChild<MprisTrackListAdaptor *>();
    if (m_listReplaced || m_addedIds.size() > kMaxAddedSignals) {
        emit trackList->TrackListReplaced(tracks(), trackPath(m_player->playingEntry()));
    } else {
        for (const quint64 id : std::as_const(m_addedIds)) {
            const int index = int(m_ids.indexOf(id));
            if (index >= 0)
                emit trackList->TrackAdded(trackMetadata(index), index > 0 ? trackPath(index - 1)
                                                                           : QDBusObjectPath(kNoTrack));
        }
    }
    m_addedIds.clear();
    m_listReplaced = false;
    refreshPlayerProperties();
}

// ---- org.mpris.MediaPlayer2 ----------------------------------------------

MprisRootAdaptor::MprisRootAdaptor(MprisService *service) : QDBusAbstractAdaptor(service), m_service(service) {}

QString MprisRootAdaptor::desktopEntry() const
{
    return AppInfo::applicationId();
}

QStringList MprisRootAdaptor::supportedMimeTypes() const
{
    return AudioTypes::mimeTypes();
}

void MprisRootAdaptor::Raise()
{
    m_service->player()->bringToFront();
}

void MprisRootAdaptor::Quit()
{
    // After the reply has gone out.
    QTimer::singleShot(0, m_service->player(), &FrmPlayer::imgClose_Click);
}

// ---- org.mpris.MediaPlayer2.Player ---------------------------------------

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService *service) : QDBusAbstractAdaptor(service), m_service(service)
{
    setAutoRelaySignals(false);
}

QString MprisPlayerAdaptor::playbackStatus() const
{
    return m_service->playbackStatus();
}

QString MprisPlayerAdaptor::loopStatus() const
{
    switch (m_service->player()->state().playMode) {
    case kRepeatOneMode: return QStringLiteral("Track");
    case kInOrderMode: return QStringLiteral("None");
    default: return QStringLiteral("Playlist");
    }
}

void MprisPlayerAdaptor::setPlayMode(int mode)
{
    // Through the mode button, so that its caption stays right; four presses go round.
    FrmPlayer *player = m_service->player();
    for (int i = 0; i < 4 && player->state().playMode != mode; ++i)
        player->imgLoop_Click();
}

void MprisPlayerAdaptor::setLoopStatus(const QString &status)
{
    if (status == QLatin1String("None"))
        setPlayMode(kInOrderMode);
    else if (status == QLatin1String("Track"))
        setPlayMode(kRepeatOneMode);
    else if (status == QLatin1String("Playlist"))
        setPlayMode(kPlaylistMode);
}

bool MprisPlayerAdaptor::shuffle() const
{
    return m_service->player()->state().playMode == kRandomMode;
}

void MprisPlayerAdaptor::setShuffle(bool on)
{
    if (on)
        setPlayMode(kRandomMode);
    else if (shuffle())
        setPlayMode(kPlaylistMode);
}

double MprisPlayerAdaptor::rate() const
{
    return m_service->player()->media()->rate();
}

double MprisPlayerAdaptor::minimumRate() const
{
    return std::min(GstMediaComponent::kMinRate, rate());
}

double MprisPlayerAdaptor::maximumRate() const
{
    return std::max(GstMediaComponent::kMaxRate, rate());
}

QVariantMap MprisPlayerAdaptor::metadata() const
{
    return m_service->currentMetadata();
}

double MprisPlayerAdaptor::volume() const
{
    return m_service->player()->media()->volume() / 100.0;
}

void MprisPlayerAdaptor::setVolume(double volume)
{
    // In the buttons' steps of 10, so that the volume bar follows.
    FrmPlayer *player = m_service->player();
    const int target = int(std::lround(std::clamp(volume, 0.0, 1.0) * 10)) * 10;
    for (int i = 0; i < 10 && player->media()->volume() < target; ++i)
        player->imgSoundup_Click();
    for (int i = 0; i < 10 && player->media()->volume() > target; ++i)
        player->imgSounddown_Click();
    m_service->notifyChanged(kPlayerInterface, {QStringLiteral("Volume")});
}

qlonglong MprisPlayerAdaptor::position() const
{
    return toMicroseconds(m_service->player()->media()->currentPosition());
}

bool MprisPlayerAdaptor::canGoNext() const
{
    FrmPlayer *player = m_service->player();
    const int count = player->playlist().count();
    return count > 0 && player->currentEntry() != count - 1;
}

bool MprisPlayerAdaptor::canGoPrevious() const
{
    FrmPlayer *player = m_service->player();
    return player->playlist().count() > 0 && player->currentEntry() != 0;
}

bool MprisPlayerAdaptor::canPlay() const
{
    return m_service->player()->playlist().count() > 0 || m_service->player()->state().isPaused;
}

bool MprisPlayerAdaptor::canPause() const
{
    return canPlay();
}

bool MprisPlayerAdaptor::canSeek() const
{
    return m_service->player()->media()->duration() > 0;
}

QVariantMap MprisPlayerAdaptor::properties() const
{
    return {{QStringLiteral("PlaybackStatus"), playbackStatus()},
            {QStringLiteral("LoopStatus"), loopStatus()},
            {QStringLiteral("Shuffle"), shuffle()},
            {QStringLiteral("Rate"), rate()},
            {QStringLiteral("MinimumRate"), minimumRate()},
            {QStringLiteral("MaximumRate"), maximumRate()},
            {QStringLiteral("Metadata"), metadata()},
            {QStringLiteral("Volume"), volume()},
            {QStringLiteral("CanGoNext"), canGoNext()},
            {QStringLiteral("CanGoPrevious"), canGoPrevious()},
            {QStringLiteral("CanPlay"), canPlay()},
            {QStringLiteral("CanPause"), canPause()},
            {QStringLiteral("CanSeek"), canSeek()},
            {QStringLiteral("CanControl"), canControl()}};
}

void MprisPlayerAdaptor::Next()
{
    if (canGoNext())
        m_service->player()->imgNext_Click();
}

void MprisPlayerAdaptor::Previous()
{
    if (canGoPrevious())
        m_service->player()->imgPrev_Click();
}

void MprisPlayerAdaptor::pauseIfPlaying()
{
    if (playbackStatus() != QLatin1String("Playing"))
        return;
    FrmPlayer *player = m_service->player();
    // A double-click while paused plays without clearing the pause flag; the
    // Pause button would then resume instead of pausing.
    player->state().isPaused = false;
    player->imgPause_Click();
}

void MprisPlayerAdaptor::Pause()
{
    pauseIfPlaying();
}

void MprisPlayerAdaptor::PlayPause()
{
    if (playbackStatus() == QLatin1String("Playing"))
        pauseIfPlaying();
    else
        Play();
}

void MprisPlayerAdaptor::Stop()
{
    m_service->player()->imgStop_Click();
}

void MprisPlayerAdaptor::Play()
{
    FrmPlayer *player = m_service->player();
    // Already playing: nothing to do (the button would start the track over).
    if (playbackStatus() == QLatin1String("Playing"))
        return;
    if (player->state().isPaused) {
        player->imgPlay_Click();
        return;
    }
    // An empty list: nothing to do, and no box from a remote call.
    if (player->playlist().count() == 0)
        return;
    player->imgPlay_Click();
}

void MprisPlayerAdaptor::Seek(qlonglong offset)
{
    MediaComponent *media = m_service->player()->media();
    if (media->url().isEmpty())
        return;
    media->setCurrentPosition(std::max(0.0, media->currentPosition() + offset / 1e6));
    m_service->emitSeeked();
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath &track, qlonglong position)
{
    FrmPlayer *player = m_service->player();
    const double seconds = position / 1e6;
    if (track != m_service->trackPath(player->playingEntry()) || seconds < 0 || seconds > player->media()->duration())
        return;
    player->media()->setCurrentPosition(seconds);
    m_service->emitSeeked();
}

void MprisPlayerAdaptor::OpenUri(const QString &uri)
{
    const QUrl url = BoundedText::parseUri(uri);
    const QString path = url.isLocalFile() ? url.toLocalFile() : (url.scheme().isEmpty() ? uri : QString());
    if (path.isEmpty()) {
        m_service->refuseCall(kNotSupported, QStringLiteral("only local files can be opened"));
        return;
    }
    // Replies quote at most what a window shows.
    if (!BoundedText::isUsablePath(path)) {
        m_service->refuseCall(kInvalidArgs,
                              QStringLiteral("not a usable file name: %1").arg(BoundedText::forDisplay(uri)));
        return;
    }
    const QString shown = BoundedText::forDisplay(path);
    if (!QFileInfo::exists(path)) {
        m_service->refuseCall(QStringLiteral("org.freedesktop.DBus.Error.FileNotFound"),
                              QStringLiteral("no such file: %1").arg(shown));
        return;
    }
    if (!RegularFile::exists(path)) {
        m_service->refuseCall(kInvalidArgs, QStringLiteral("not a regular file: %1").arg(shown));
        return;
    }
    FrmPlayer *player = m_service->player();
    const bool playlistFile = AudioTypes::isPlaylistFileName(path);
    const int before = player->playlist().count();
    const int added = player->addChosenFiles({path});
    if (!playlistFile && added == 0) {
        m_service->refuseCall(QStringLiteral("org.freedesktop.DBus.Error.LimitsExceeded"),
                              QStringLiteral("the playlist is full"));
        return;
    }
    // A playlist file only adds; one audio file is started as a double-click on it would.
    if (!playlistFile && added == 1)
        player->goTo(before);
}

// ---- org.mpris.MediaPlayer2.TrackList ------------------------------------

MprisTrackListAdaptor::MprisTrackListAdaptor(MprisService *service)
    : QDBusAbstractAdaptor(service), m_service(service)
{
    setAutoRelaySignals(false);
}

QList<QDBusObjectPath> MprisTrackListAdaptor::tracks() const
{
    return m_service->tracks();
}

QList<QVariantMap> MprisTrackListAdaptor::GetTracksMetadata(const QList<QDBusObjectPath> &tracks)
{
    QList<QVariantMap> result;
    qsizetype bytes = 0;
    for (const int index : m_service->indexesOf(tracks)) {
        if (index < 0)
            continue;
        QVariantMap metadata = m_service->trackMetadata(index);
        // The URL is ASCII; a title takes at most three bytes a character.
        bytes += kMetadataOverheadBytes + metadata.value(QStringLiteral("xesam:url")).toString().size() +
                 3 * metadata.value(QStringLiteral("xesam:title")).toString().size();
        if (bytes > kMaxReplyBytes)
            break;
        result.append(std::move(metadata));
    }
    return result;
}

void MprisTrackListAdaptor::AddTrack(const QString &, const QDBusObjectPath &, bool)
{
    m_service->refuseCall(kNotSupported,
                          QStringLiteral("the track list is edited in the player; use OpenUri to add"));
}

void MprisTrackListAdaptor::RemoveTrack(const QDBusObjectPath &)
{
    m_service->refuseCall(kNotSupported, QStringLiteral("the track list is edited in the player"));
}

void MprisTrackListAdaptor::GoTo(const QDBusObjectPath &track)
{
    m_service->player()->goTo(m_service->indexOf(track));
}
