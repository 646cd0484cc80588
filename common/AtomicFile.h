#pragma once

#include <QByteArray>
#include <QString>

// Files that are replaced whole: the bytes go to a temporary file beside the
// target, which takes the target's place only once everything is written. A
// failure at any point (a full disk, a read-only folder) leaves the previous
// file exactly as it was.
namespace AtomicFile {

bool write(const QString &path, const QByteArray &bytes);

// Moves the file `from` over `to` in one step of the file system: at every
// moment `to` names either its old file or the new one. On failure both files
// stay as they were and error, when given, says why.
bool replace(const QString &from, const QString &to, QString *error = nullptr);

} // namespace AtomicFile
