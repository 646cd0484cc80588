#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Files that are replaced whole: the bytes go to a temporary file beside the
// target, which takes the target's place only once everything is written. A
// failure at any point (a full disk, a file-size limit) leaves the previous
// file exactly as it was.
namespace AtomicFile {

// Writes bytes to path. Where the folder takes no new file but the file itself
// is writable (a read-only folder), the file is rewritten in place, and put
// back as it was when that fails. Returns false when nothing was saved; reason
// then says why, in words for the user.
bool write(const QString &path, const QByteArray &bytes, QString *reason = nullptr);

// The user's words for an errno value.
QString reasonFor(int error);

// Writes all of bytes to the open file fd, going on after interruptions and
// short writes. Returns 0, or the errno value of the failure.
int writeAll(int fd, QByteArrayView bytes);

// Moves the file `from` over `to` in one step of the file system: at every
// moment `to` names either its old file or the new one. On failure both files
// stay as they were and error, when given, says why.
bool replace(const QString &from, const QString &to, QString *error = nullptr);

} // namespace AtomicFile
