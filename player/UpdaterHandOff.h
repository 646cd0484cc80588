#pragma once

#include "PlayerServices.h"

#include <QObject>

class FrmPlayer;
class QFileSystemWatcher;
class QTimer;

// Puts a new updater in the place of the old one. The updater cannot
// overwrite its own running file, so it leaves its successor as NewKivuUpdate;
// once no updater window is open, the player renames it over KivuUpdate, if it
// is a whole program for this machine (anything else stays where it is).
//
// Nothing polls: the program folder and the window records are watched, and
// a look follows each change. The one change that leaves no trace is an
// updater that died: its record stays, and only its lock goes. So while a new
// file waits for an updater window, the watch looks again every
// handOffRecheckMs.
class UpdaterHandOff : public QObject
{
    Q_OBJECT
public:
    // window: the main window, which owns this.
    UpdaterHandOff(const PlayerServices &services, FrmPlayer *window);

    // Watches from now on, and looks at once: a new updater may be waiting
    // from before the start, since the updater starts the player right after
    // writing it.
    void start();

public slots:
    // One look: gathers a burst of changes of the watched folders.
    void Timer2_Timer();
    // Swaps the files after a short rest, while both are there and no
    // updater window is open; returns at once.
    void killUD();

private:
    void finishKillUD();
    void failed(const QString &why);

    PlayerServices m_services;
    FrmPlayer *m_window;
    QTimer *Timer2 = nullptr;
    QFileSystemWatcher *m_watch = nullptr;
    // The rest before the swap, and the next look while one is due.
    QTimer *m_wait = nullptr;
    QTimer *m_recheck = nullptr;
    // After a failed swap only the retry tries again, so that the file
    // system's answer to an attempt cannot start the next one.
    bool m_backingOff = false;
    int m_retryMs = 0;
};
