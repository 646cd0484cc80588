#pragma once

#include <QList>
#include <QString>

#include <memory>

class QTemporaryFile;

// Files of one update, each written to a temporary file in the program folder
// and put in place only when every one has arrived: then each takes its place
// with an atomic rename, and should one rename fail, the files already
// replaced get their old contents back. Whatever is not committed is removed
// when the object goes.
class StagedInstall
{
public:
    explicit StagedInstall(const QString &folder);
    ~StagedInstall();
    StagedInstall(const StagedInstall &) = delete;
    StagedInstall &operator=(const StagedInstall &) = delete;

    // Opens a temporary file for the file to be saved as savedName. The
    // permission bits come from the installed file called modeFrom, or, when
    // there is none, are those of a new file of that name.
    bool begin(const QString &savedName, const QString &modeFrom);
    // Appends to the file begun last.
    bool write(const QByteArray &block);
    // Closes the file begun last, its data on disk; it is complete when its
    // length is expectedLength, or whatever its length when that is -1.
    bool finish(qint64 expectedLength);
    qint64 written() const { return m_written; }

    // Puts every finished file in place, or none of them.
    bool commit();
    // Removes every temporary file.
    void discard();

    // Why the last step failed, in a sentence.
    QString errorString() const { return m_error; }

private:
    struct Staged;
    bool fail(const QString &why);

    QString m_folder;
    QList<std::shared_ptr<Staged>> m_files;
    qint64 m_written = 0;
    QString m_error;
};
