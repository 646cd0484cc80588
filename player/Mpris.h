#pragma once

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

class FrmPlayer;
class MediaComponent;
class MprisTracks;

// Remote control of the player over D-Bus (MPRIS2), so that media keys,
// desktop widgets and playerctl work. Every call goes through the same
// operations as the window's buttons, but never shows a message box; the
// player's signals tell it when to tell clients what changed.
//
// The three interfaces' adaptors are generated from their XML in dbus/: they
// read the properties below by their D-Bus names and call the slots of the
// same names. Qt hands an adaptor's calls the D-Bus context of this object,
// through which errors are answered.
class MprisService : public QObject, public QDBusContext
{
    Q_OBJECT
    // org.mpris.MediaPlayer2
    Q_PROPERTY(bool CanQuit READ yes CONSTANT)
    Q_PROPERTY(bool CanRaise READ yes CONSTANT)
    Q_PROPERTY(bool Fullscreen READ no WRITE ignore)
    Q_PROPERTY(bool CanSetFullscreen READ no CONSTANT)
    Q_PROPERTY(bool HasTrackList READ yes CONSTANT)
    Q_PROPERTY(QString Identity READ identity CONSTANT)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry CONSTANT)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes CONSTANT)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes CONSTANT)
    // org.mpris.MediaPlayer2.Player
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
    Q_PROPERTY(bool Shuffle READ shuffle WRITE setShuffle)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ minimumRate)
    Q_PROPERTY(double MaximumRate READ maximumRate)
    Q_PROPERTY(QVariantMap Metadata READ currentMetadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPlay)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ yes CONSTANT)
    // org.mpris.MediaPlayer2.TrackList
    Q_PROPERTY(QList<QDBusObjectPath> Tracks READ tracks)
    Q_PROPERTY(bool CanEditTracks READ no CONSTANT)

public:
    static constexpr const char *kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char *kServiceName = "org.mpris.MediaPlayer2.TamselMP3Player";

    explicit MprisService(FrmPlayer *player);
    ~MprisService() override;

    // Claims the bus name (with an instance suffix when another player has it)
    // and exports the object. Returns the name taken, empty on failure.
    QString registerOn(const QString &connectionName = QString());

    // What clients are told about the entry at index. playing: the engine
    // playing it, which knows more of it (its title tag, its length) than the list.
    QVariantMap trackMetadata(int index, const MediaComponent *playing = nullptr) const;
    // The playing track as clients know it. While the engine opens the next
    // track (its title tag and length still unread) this stays the track
    // announced before, so that a track is first announced complete.
    QVariantMap currentMetadata() const;
    // Playing also between two tracks of an automatic advance; Paused and
    // Stopped as the engine is.
    QString playbackStatus() const;

    QString identity() const;
    QString desktopEntry() const;
    QStringList supportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList supportedMimeTypes() const;
    QString loopStatus() const;
    void setLoopStatus(const QString &status);
    bool shuffle() const;
    void setShuffle(bool on);
    double rate() const;
    // The speed buttons' steps are the only rates the window can show.
    void setRate(double) {}
    double minimumRate() const;
    double maximumRate() const;
    double volume() const;
    void setVolume(double volume);
    qlonglong position() const;
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool canPlay() const;
    bool canSeek() const;
    QList<QDBusObjectPath> tracks() const;

    // The lyrics of the track at url, as text, for xesam:asText; told to
    // clients when that track is the one playing.
    void setLyrics(const QString &url, const QString &text);

public slots:
    // org.mpris.MediaPlayer2
    void Raise();
    void Quit();
    // org.mpris.MediaPlayer2.Player
    void Next();
    void Previous();
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    void Seek(qlonglong offset);
    void SetPosition(const QDBusObjectPath &track, qlonglong position);
    void OpenUri(const QString &uri);
    // org.mpris.MediaPlayer2.TrackList
    QList<QVariantMap> GetTracksMetadata(const QList<QDBusObjectPath> &tracks);
    void AddTrack(const QString &uri, const QDBusObjectPath &after, bool setAsCurrent);
    void RemoveTrack(const QDBusObjectPath &track);
    void GoTo(const QDBusObjectPath &track);

signals:
    // Sent on the bus by the adaptors.
    void Seeked(qlonglong position);
    void TrackListReplaced(const QList<QDBusObjectPath> &tracks, const QDBusObjectPath &current);
    void TrackAdded(const QVariantMap &metadata, const QDBusObjectPath &after);
    void TrackRemoved(const QDBusObjectPath &track);
    void TrackMetadataChanged(const QDBusObjectPath &track, const QVariantMap &metadata);

private:
    bool yes() const { return true; }
    bool no() const { return false; }
    void ignore(bool) {}
    void followPlayer();
    // The end-of-track handler has opened the next track, which has not started yet.
    bool isAdvancing() const;
    bool isOpening() const;
    // Answers the D-Bus call being served with an error; false outside one.
    bool refuseCall(const QString &errorName, const QString &text);
    void setPlayMode(int mode);
    void pauseIfPlaying();
    // Tells clients, once the player has settled, which properties of the
    // player interface changed.
    void refreshPlayerProperties();
    QVariantMap playerProperties() const;
    void tellTrackListChanged(const QList<int> &added, bool replaced);
    void emitSeeked();

    FrmPlayer *m_player;
    MprisTracks *m_tracks;
    QString m_connectionName;
    QString m_serviceName;
    bool m_refreshScheduled = false;
    QVariantMap m_lastPlayerProperties;
    mutable QVariantMap m_announcedMetadata;
    QString m_lyricsUrl;
    QString m_lyricsText;
};
