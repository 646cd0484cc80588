#pragma once

#include <QString>

class QFile;

// Files from outside are read only when they are regular files: opening a
// FIFO blocks until a writer comes, and a device such as /dev/zero never ends.
namespace RegularFile {

// True when path names a regular file, links followed.
bool exists(const QString &path);

// Opens path for reading when it is a regular file. Anything else is refused
// without blocking and without being opened.
bool openForReading(QFile *file, const QString &path);

} // namespace RegularFile
