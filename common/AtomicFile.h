#pragma once

#include <QByteArray>
#include <QString>

// Files that are replaced whole: the bytes go to a temporary file beside the
// target, which takes the target's place only once everything is written. A
// failure at any point (a full disk, a read-only folder) leaves the previous
// file exactly as it was.
namespace AtomicFile {

bool write(const QString &path, const QByteArray &bytes);

} // namespace AtomicFile
