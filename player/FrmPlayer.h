#pragma once

#include "FileDialogSettings.h"
#include "PlaybackState.h"
#include "PlayerServices.h"
#include "Playlist.h"

#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <memory>

class ImageButton;
class LineControl;
class Mini;
class NextTrack;
class PushMessage;
class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QTimer;
class SeekBar;
class UpdaterHandOff;
namespace WindowPresence {
class Registration;
}

// The player's main window: the player body on the left, the playlist panel on
// the right. It exists once for the life of the program; the other windows
// drive it through its public operations.
class FrmPlayer : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kClientWidth = 589;
    static constexpr int kClientHeight = 157;

    explicit FrmPlayer(const PlayerServices &services, QWidget *parent = nullptr);
    ~FrmPlayer() override;

    // Start-up: writes the help documents, skins, resets the controls and the
    // playback state, places and shows the window. Returns false when start-up
    // failed; the user has then been told and the program must end.
    bool load();

    PlaybackState &state() { return m_state; }
    PlaylistPair &playlist() { return m_playlist; }
    MediaComponent *media() const { return m_services.media; }

    // Lets the user choose audio files or one playlist file and appends them.
    void AddFiles();
    // Appends files as if chosen in the add dialog: one file named "*.m3u"
    // (or PLS, XSPF) adds the playlist's entries, a cue sheet its tracks.
    // Returns how many entries were added. quiet: a remote caller's, which
    // gets its answer instead of a box for what could not be added.
    int addChosenFiles(const QStringList &chosen, bool quiet = false);
    // Selects the entry and starts it as a double-click on it would.
    void goTo(int index);
    // Appends what files, playlist files and folders dropped on the list or
    // named on the command line stand for; nothing starts. Returns how many
    // entries were added.
    int addItems(const QStringList &items);
    // As addItems, then starts the first added entry as a double-click would.
    void openFiles(const QStringList &items);

    // The entry whose path the media component holds, -1 for none. Playlist
    // edits keep it pointing at the same entry.
    int playingEntry() const { return m_playingEntry; }
    // Where Next, Previous and the end of a track go on from: the selected
    // entry, else the playing one, else none (-1).
    int currentEntry() const;

    // What the mini window mirrors.
    QString statusCaption() const;
    QString timeCaption() const;
    QString totalTimeCaption() const;
    // The caption of the menu item 窗体置顶 is the stacking state: "窗体置顶"
    // while normal, "取消置顶" while above other windows.
    QString topmostCaption() const;
    // The mini window while it is loaded, else null.
    Mini *mini() const;
    // Shows and raises the window that stands for the player: the mini window
    // while it replaces this one, else this one.
    void bringToFront();
    // Set once the program has begun to end.
    bool isEnding() const { return m_ending; }

    // The push switch and the cleaned push text read from the notice page at
    // start-up; both empty when the page was not read.
    QString pushSwitch() const;
    QString pushText() const;

    // Features beyond the window's own (the lyrics window, the equalizer) add
    // their rows to the playlist's pop-up menu here: after the window's own
    // rows and a separator, in the order they are added.
    void addMenuItem(QAction *item);

    // Opens the update check below the window; while one runs, only raises it.
    void showUpdate();
    // Puts a newly downloaded updater (NewKivuUpdate) in the place of the old
    // one once no updater window is open; the swap follows after a short rest.
    void killUD();

signals:
    // What a remote control follows. Each says only that something changed,
    // whoever changed it: the window, the mini window or a remote call.
    // The engine's play state, or the pause flag.
    void playStateChanged();
    // The entry playing or the one selected: where Next and Previous go on from.
    void currentEntryChanged();
    // What the engine has read of the playing track (its length, its tags).
    void trackInfoChanged();
    void volumeChanged();
    void playModeChanged();
    void rateChanged();
    // The position jumped: a step button, a click on the seek bar, or the
    // next track starting straight after the last.
    void positionJumped();

public slots:
    // Transport, also driven by the mini window and remote controls.
    void imgPlay_Click();
    void imgPause_Click();
    void imgStop_Click();
    void imgPrev_Click();
    void imgNext_Click();
    void imgStepback_Click();
    void imgStepfront_Click();
    void imgLoop_Click();

    // Playlist editing.
    void delete_Item();
    void imgAdd_Click();
    void imgOpen_Click();
    void imgDelete_Click();
    void imgClear_Click();
    void imglistNext_Click();
    void imglistPre_Click();
    void imgLstsave_Click();
    void imgLstopen_Click();

    // Volume, mute, speed and channel.
    void imgSoundup_Click();
    void imgSounddown_Click();
    void imgMute1_Click();
    void imgSpeedup_Click();
    void imgSpeeddown_Click();
    void imgSpeed0_Click();
    void lblCsc_Click();

    // The window's own buttons. imgClose_Click ends the program and is the one
    // place that does: the menu, the desktop and signals all come here.
    void imgMin_Click();
    void imgClose_Click();
    void Image1_Click();
    void Image2_Click();

private slots:
    void listName_DblClick();
    // The end-of-track handler: runs on every status change of the media component.
    void wmp_StatusChange();
    // The engine went on to the queued next track by itself, without a gap.
    void wmp_MediaChange();
    // The engine learned the length of the current track.
    void wmp_DurationChange();
    void timerDisplay_Timer();
    void timerTotle_Timer();
    void Picture1_MouseDown(Qt::MouseButton button, double xTwips);
    // The menu items with handlers of their own.
    void menuTopmost_Click();
    void menuWebsite_Click();

    // The push timer: the message opens on its third tick.
    void Timer1_Timer();
    // The hand-off watch: looks when the program folder or the window records change.
    void Timer2_Timer();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildPlaylistPanel();
    void buildMenu();
    // A button that runs handler when clicked.
    ImageButton *addButton(const char *name, const char *picture, const QString &toolTip,
                           const QRect &geometry, void (FrmPlayer::*handler)(), QWidget *parent = nullptr);
    QLabel *addLabel(const char *name, const QString &text, const QRect &geometry, const QColor &colour);
    bool writeHelpDocuments();
    void connectHandlers();

    // Playback helpers.
    void setPlayingEntry(int index);
    void playEntry(int index);
    // Next (+1) and Previous (-1): select and play the neighbouring entry.
    void stepToEntry(int step);
    void resetDisplay(const QString &status);
    void setLoopCaption();
    // A track has ended: plays what the play mode chooses next. started: the
    // engine has already started the queued track.
    void advanceAtEnd(bool started);

    // Playlist editing helpers.
    void warn(const QString &title, const QString &text);
    // One box, once the current event is done, for what an addition could not add.
    void reportProblems(const QStringList &problems);
    // Removes the entry and goes on with playback as its removal asks.
    void removeEntry(int index);
    // Moves the selected entry one place down (+1) or up (-1) and selects it there.
    void moveSelectedEntry(int step);
    void failStartUp();

    PlayerServices m_services;
    PlaybackState m_state;
    FileDialogSettings m_commonDialog1;
    FileDialogSettings m_commonDialog2;

    QListWidget *listName = nullptr;
    QListWidget *listUrl = nullptr;
    QLabel *lblCurrent = nullptr;
    QLabel *lblTime = nullptr;
    QLabel *lblTimetotle = nullptr;
    QLabel *lblTotletime = nullptr;
    QLabel *lblTotle = nullptr;
    QLabel *lblTotlenum = nullptr;
    QLabel *lblShou = nullptr;
    QLabel *lblLoop = nullptr;
    QLabel *lblSpeed = nullptr;
    QLabel *lblCsc = nullptr;
    QWidget *imgSound = nullptr;
    LineControl *lineMute = nullptr;
    SeekBar *Picture1 = nullptr;
    LineControl *lineFront = nullptr;
    QWidget *Picture2 = nullptr;
    QTimer *timerDisplay = nullptr;
    QTimer *timerTotle = nullptr;
    QMenu *menu = nullptr;
    // 窗体置顶: its caption is the stacking state.
    QAction *m_topmostItem = nullptr;

    PlaylistPair m_playlist;
    int m_playingEntry = -1;
    NextTrack *m_nextTrack = nullptr;
    // Ends in a row that were errors, so a list of broken files stops after one pass.
    int m_failedEnds = 0;

    // Sound settings of this window.
    bool muteOn = false;
    int speedStep = 0;
    int channelMode = 0;

    // The display name of the entry being moved.
    QString movedName;

    QPixmap m_body;
    // Where the bare background was pressed, in the window's pixels, while
    // that press lasts.
    QPoint m_grab;
    bool m_dragging = false;
    QPointer<Mini> m_mini;
    bool m_ending = false;
    std::unique_ptr<WindowPresence::Registration> m_presence;

    PushMessage *m_push = nullptr;
    UpdaterHandOff *m_handOff = nullptr;
};
