#include "AtomicFile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <filesystem>
#include <system_error>

namespace AtomicFile {

bool write(const QString &path, const QByteArray &bytes)
{
    // No direct-write fallback: where no temporary file can be made, failing
    // is better than overwriting in place.
    QSaveFile file(path);
    // Unbuffered: commit() flushes a buffer without looking at the result, and
    // would put a cut-off file in place of the old one when the disk is full.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting(); // the temporary file goes with the object
        return false;
    }
    return file.commit();
}

bool replace(const QString &from, const QString &to, QString *error)
{
    // rename(2), or MoveFileEx with MOVEFILE_REPLACE_EXISTING on Windows:
    // never a delete followed by a move.
    std::error_code code;
    std::filesystem::rename(QFileInfo(from).filesystemFilePath(), QFileInfo(to).filesystemFilePath(), code);
    if (code && error)
        *error = QString::fromStdString(code.message());
    return !code;
}

} // namespace AtomicFile
