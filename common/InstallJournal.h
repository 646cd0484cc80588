#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Crash-safe placing of an update's files in the program folder, and the
// repair that each start of either program makes of a placing cut short.
//
// Each new file waits, complete and synced, under a temporary name
// (.KivuUpdate-*.part). Placing then gives every installed file it replaces a
// second name (the temporary name and ".old"), writes the journal
// .KivuUpdate.journal and syncs it and the folder, renames the new files over
// the old ones in turn, syncs the folder, removes the journal (synced again)
// and last the backups. Whatever ends the placing, after the next start's
// recover() the folder is wholly old or wholly new.
//
// The journal names each new file with its size, its SHA-256 and the identity
// the file system gave it (inode and modification time, which renames keep).
// It is written only after every new file was synced whole under its name, so
// a file that still has that identity is that complete file: the repair takes
// it without reading it. It reads, and hashes, only a file whose identity no
// longer matches (a file system that renumbers its files after a restart, say).
namespace InstallJournal {

inline const QString kFileName = QStringLiteral(".KivuUpdate.journal");

struct Entry
{
    // Temporary name of the new file, in the folder.
    QString staged;
    // The name it takes.
    QString target;
    // The old file's second name while placing runs; empty when the target
    // did not exist. place() fills it in.
    QString backup;
    // Of the new file: its size and SHA-256, taken while it was written.
    qint64 size = 0;
    QByteArray digest;
    // The new file's identity; place() fills it in.
    quint64 inode = 0;
    qint64 modifiedNs = -1;
};

// A fresh name for a new file's temporary (.KivuUpdate-xxxxxxxx.part).
QString newStagedName();
// Whether a file of this name is one that placing makes and leaves only when
// it is cut short: a new file's temporary, a backup, the journal's temporary.
bool isOurTemporary(const QString &name);
// Whether the name is one placing uses for itself (those, the journal, the
// folder's lock): no update file may have it.
bool isOurName(const QString &name);

struct Outcome
{
    bool ok = true;
    // Why not, in words for the user.
    QString error;
    // Targets a failed roll-back left with their new contents; the journal
    // then stays for the next start to finish.
    QStringList left;
};

// Places the staged files. Should a step fail, the files already renamed get
// their old contents back. afterStep(k) runs after each step: 0 before the
// first, 1 backups made, 2 journal synced, 3 to n + 2 each rename, then the
// folder synced, the journal removed and the backups removed.
Outcome place(const QString &folder, QList<Entry> entries, const std::function<void(int)> &afterStep = {});

enum class Repair {
    // Nothing of ours was there, or only stale temporaries, now removed.
    Nothing,
    RolledForward,
    RolledBack,
    // An updater works on the folder, or the folder cannot be locked (read-only).
    Skipped,
    // A step failed (the folder is read-only, say); the journal stays.
    Unfinished,
};

// What each start does first: under the folder lock, finishes what a journal
// left behind (forward when every new file is there complete or already in
// place, else back), then removes our stale temporaries and backups.
Repair recover(const QString &folder);

// Makes the renames in folder last through a power cut.
void syncFolder(const QString &folder);

} // namespace InstallJournal
