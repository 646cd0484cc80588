#pragma once

#include "Lyrics.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class DesktopLyrics;
class FrmPlayer;
class LyricsFinder;
class PlayerSettings;
class QAction;

// Follows the player to the track that plays, has its lyrics found, and
// keeps the desktop lyrics window on the line being sung: through seeks,
// pauses, changes of speed and the start of the next track without a gap.
// The window shows while the user wants it (the menu row 桌面歌词, on by
// default) and the track has lyrics. What the user chooses for it (shown,
// locked, place, width, font size) is remembered in the player's settings.
class LyricsController : public QObject
{
    Q_OBJECT
public:
    // Adds its rows to the player's menu; settings must outlive it.
    LyricsController(FrmPlayer *player, PlayerSettings *settings);
    ~LyricsController() override;

    DesktopLyrics *window() const { return m_window; }
    // The lyrics of the track playing; empty while none are known.
    const Lyrics &lyrics() const { return m_lyrics; }
    // The file they came from; empty when from the tags.
    const QString &lyricsFile() const { return m_file; }
    // Whether the user wants the window (the 桌面歌词 row is checked).
    bool isWanted() const;

signals:
    // The lyrics of the track at url, as text without time tags; empty text
    // when it has none (yet).
    void lyricsChanged(const QString &url, const QString &text);

private:
    void followTrack();
    void followTags();
    void takeFound(quint64 request, const Lyrics &lyrics, const QString &file);
    void setWanted(bool wanted);
    void setLocked(bool locked);
    void setFontSize(int pixels);
    void savePlace();
    void placeWindow();
    // Shows or hides the window as the wish and the lyrics say, and runs the
    // fill while it shows a track that plays.
    void updateWindow();
    // Reads the engine's position again; between two readings the position
    // runs on by the clock, at the track's speed.
    void anchor();
    qint64 positionMs() const;
    // Puts the window on the line at the position, fills it, and plans the next look.
    void tick();

    FrmPlayer *m_player;
    PlayerSettings *m_settings;
    LyricsFinder *m_finder;
    DesktopLyrics *m_window;
    QAction *m_showItem;
    QAction *m_lockItem;

    QString m_url; // the track the lyrics are for; empty while stopped
    quint64 m_request = 0;
    bool m_searching = false;
    Lyrics m_lyrics;
    QString m_file;
    // The tags' lyrics as the engine tells them, and as last asked to be read.
    QString m_tagText;
    QString m_tagTextAsked;

    int m_line = -2; // the line shown; -2 for none
    // The line whose follower's start is known (-1: before the first), and that start (-1: none).
    int m_timedLine = -2;
    qint64 m_nextLineMs = -1;
    QTimer m_frame;
    QTimer m_resync;
    QElapsedTimer m_clock;
    qint64 m_anchorMs = 0;
    qint64 m_durationMs = 0;
    double m_rate = 1.0;
    bool m_running = false;
};
