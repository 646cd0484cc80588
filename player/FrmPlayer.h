#pragma once

#include "FileDialogSettings.h"
#include "PlaybackState.h"
#include "PlayerServices.h"
#include "Playlist.h"

#include <QPixmap>
#include <QPoint>
#include <QWidget>

#include <memory>

class ImageButton;
class LineControl;
class QLabel;
class QListWidget;
class QMenu;
class QTimer;
class SeekBar;
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

public slots:
    void imgAdd_Click();
    void imgOpen_Click();
    void imgMin_Click();
    void imgClose_Click();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildPlaylistPanel();
    void buildMenu();
    ImageButton *addButton(const char *name, const char *picture, const QString &toolTip, const QRect &geometry,
                           QWidget *parent = nullptr);
    QLabel *addLabel(const char *name, const QString &text, const QRect &geometry, const QColor &colour);
    bool writeHelpDocuments();
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
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    QMenu *menu = nullptr;

    PlaylistPair m_playlist;
    QPixmap m_body;
    QPoint m_grab;
    std::unique_ptr<WindowPresence::Registration> m_presence;
};
