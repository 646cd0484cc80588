#pragma once

#include "Names.h"

#include <QDBusAbstractAdaptor>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

class FrmPlayer;
class MprisService;

// Remote control of the player over D-Bus (MPRIS2), so that media keys,
// desktop widgets and playerctl work. Every call goes through the same
// operations as the window's buttons, but never shows a message box.
//
// Qt hands an adaptor's calls the D-Bus context of the adaptor's parent, not
// of the adaptor: this object carries it, and the adaptors answer errors
// through it.
class MprisService : public QObject, public QDBusContext
{
    Q_OBJECT
public:
    static constexpr const char *kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char *kServiceName = "org.mpris.MediaPlayer2.TamselMP3Player";

    explicit MprisService(FrmPlayer *player);
    ~MprisService() override;

    // Claims the bus name (with an instance suffix when another player has it)
    // and exports the object. Returns the name taken, empty on failure.
    QString registerOn(const QString &connectionName = QString());

    FrmPlayer *player() const { return m_player; }
    QDBusObjectPath trackPath(int index) const;
    int indexOf(const QDBusObjectPath &track) const;
    // The entries of many tracks in one pass over the list; -1 for an unknown one.
    QList<int> indexesOf(const QList<QDBusObjectPath> &tracks) const;
    QList<QDBusObjectPath> tracks() const;
    QVariantMap trackMetadata(int index) const;
    // The playing track as clients know it. While the engine opens the next
    // track (its title tag and length still unread) this stays the track
    // announced before, so that a track is first announced complete.
    QVariantMap currentMetadata() const;
    // Playing also between two tracks of an automatic advance; Paused and
    // Stopped as the engine is.
    QString playbackStatus() const;

    // Answers the D-Bus call being served with an error; false outside one.
    bool refuseCall(const QString &errorName, const QString &text);

    // Tells clients that these properties of an interface changed.
    void notifyChanged(const QString &interface, const QStringList &names);
    void emitSeeked();

private:
    void watchPlaylist();
    // The end-of-track handler has opened the next track, which has not started yet.
    bool isAdvancing() const;
    bool isOpening() const;
    void refreshPlayerProperties();
    void scheduleTrackListSync();
    void syncTrackList();

    FrmPlayer *m_player;
    QString m_connectionName;
    QString m_serviceName;
    // One id per entry, in playlist order, so that duplicates stay apart.
    QList<quint64> m_ids;
    quint64 m_nextId = 1;
    QList<quint64> m_addedIds;
    bool m_listReplaced = false;
    bool m_syncScheduled = false;
    bool m_refreshScheduled = false;
    QVariantMap m_lastPlayerProperties;
    mutable QVariantMap m_announcedMetadata;
};

class MprisRootAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool CanSetFullscreen READ canSetFullscreen)
    Q_PROPERTY(bool Fullscreen READ fullscreen)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)
public:
    explicit MprisRootAdaptor(MprisService *service);

    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool canSetFullscreen() const { return false; }
    bool fullscreen() const { return false; }
    bool hasTrackList() const { return true; }
    QString identity() const { return Names::kPlayerProgram; }
    QString desktopEntry() const;
    QStringList supportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList supportedMimeTypes() const;

public slots:
    void Raise();
    void Quit();

private:
    MprisService *m_service;
};

class MprisPlayerAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
    Q_PROPERTY(bool Shuffle READ shuffle WRITE setShuffle)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ minimumRate)
    Q_PROPERTY(double MaximumRate READ maximumRate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl)
public:
    explicit MprisPlayerAdaptor(MprisService *service);

    QString playbackStatus() const;
    QString loopStatus() const;
    void setLoopStatus(const QString &status);
    bool shuffle() const;
    void setShuffle(bool on);
    double rate() const;
    void setRate(double) {}
    double minimumRate() const;
    double maximumRate() const;
    QVariantMap metadata() const;
    double volume() const;
    void setVolume(double volume);
    qlonglong position() const;
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool canPlay() const;
    bool canPause() const;
    bool canSeek() const;
    bool canControl() const { return true; }

    // All of them, by their D-Bus names, for change notification.
    QVariantMap properties() const;

public slots:
    void Next();
    void Previous();
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong offset);
    void SetPosition(const QDBusObjectPath &track, qlonglong position);
    void OpenUri(const QString &uri);

signals:
    void Seeked(qlonglong position);

private:
    void setPlayMode(int mode);
    void pauseIfPlaying();

    MprisService *m_service;
};

class MprisTrackListAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.TrackList")
    Q_PROPERTY(QList<QDBusObjectPath> Tracks READ tracks)
    Q_PROPERTY(bool CanEditTracks READ canEditTracks)
public:
    explicit MprisTrackListAdaptor(MprisService *service);

    QList<QDBusObjectPath> tracks() const;
    bool canEditTracks() const { return false; }

public slots:
    QList<QVariantMap> GetTracksMetadata(const QList<QDBusObjectPath> &tracks);
    void AddTrack(const QString &uri, const QDBusObjectPath &after, bool setAsCurrent);
    void RemoveTrack(const QDBusObjectPath &track);
    void GoTo(const QDBusObjectPath &track);

signals:
    void TrackListReplaced(const QList<QDBusObjectPath> &tracks, const QDBusObjectPath &current);
    void TrackAdded(const QVariantMap &metadata, const QDBusObjectPath &after);
    void TrackRemoved(const QDBusObjectPath &track);
    void TrackMetadataChanged(const QDBusObjectPath &track, const QVariantMap &metadata);

private:
    MprisService *m_service;
};
