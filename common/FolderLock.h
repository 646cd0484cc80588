#pragma once

#include <QByteArray>
#include <QString>

// The program folder's update lock: the file .KivuUpdate.lock there, held
// with flock(2). The one updater that works on a folder holds it for its whole
// run, and a program that repairs the folder at start holds it while it does;
// the kernel lets go when the holder ends, however it ends. A holder removes
// the file as it lets go, so a folder at rest keeps nothing of it.
class FolderLock
{
public:
    enum State {
        Held,
        // Another holder has it.
        Busy,
        // No lock can be had here: a read-only folder without the file, or a
        // file system without locks.
        Unavailable,
    };

    static inline const QString kFileName = QStringLiteral(".KivuUpdate.lock");

    // Tries at once, never waits.
    explicit FolderLock(const QString &folder);
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

    State state() const { return m_state; }

private:
    QByteArray m_path;
    int m_fd = -1;
    State m_state = Unavailable;
};
