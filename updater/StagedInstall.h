#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFutureWatcher>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>

// Files of one update, each written to a temporary file in the program folder
// as it arrives and put in place only when every one has come, all together
// and crash-safe (InstallJournal). Whatever is not placed is removed when the
// object goes, unless a failed placing left it in the journal's care.
class StagedInstall
{
public:
    explicit StagedInstall(const QString &folder);
    ~StagedInstall();
    StagedInstall(const StagedInstall &) = delete;
    StagedInstall &operator=(const StagedInstall &) = delete;

    // Opens a temporary file for the page's entry of this name, to be saved
    // under UpdateFiles::savedName(). A later entry of the same name replaces
    // an earlier one.
    bool begin(const QString &entryName);
    // Appends to the file begun last, its SHA-256 taken on the way.
    bool write(QByteArrayView block);
    // Closes the file begun last, its data on disk. It is complete when its
    // length is expectedLength (any length when that is -1), and a program
    // file must be a whole executable for this machine.
    bool finish(qint64 expectedLength);
    // The same, with the sync on a thread of its own, so that the caller's
    // thread goes on meanwhile; done(ok) follows on the caller's thread (at
    // once for a file that is refused), unless this object has gone by then
    // (which waits for the sync). done may destroy this object.
    void finishInBackground(qint64 expectedLength, std::function<void(bool)> done);
    qint64 written() const;

    // Each finished file by its entry name, with its SHA-256.
    QList<std::pair<QString, QByteArray>> digests() const;

    // Puts every finished file in place, or none of them. The permission bits
    // come from the installed file of the entry's name, never its set-user-id,
    // set-group-id and sticky bits; a new file gets those of a new file.
    bool commit();
    // Files a failed commit could not give their old contents back.
    QStringList leftBehind() const { return m_left; }

    // Runs after each step of the placing (see InstallJournal::place).
    void setStepHook(std::function<void(int)> hook) { m_stepHook = std::move(hook); }

    // Why the last step failed, in a sentence.
    QString errorString() const { return m_error; }

private:
    struct Staged;
    bool fail(const QString &why);
    std::shared_ptr<Staged> arrived(qint64 expectedLength);
    bool synced(Staged &staged, int error);

    QString m_folder;
    QList<std::shared_ptr<Staged>> m_files;
    QString m_error;
    QStringList m_left;
    std::function<void(int)> m_stepHook;
    // Of the background sync; made at the first one.
    std::unique_ptr<QFutureWatcher<int>> m_watcher;
    // Its answer is being given, inside the watcher's signal; and whether
    // this object is still there once it has been.
    bool m_answering = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
