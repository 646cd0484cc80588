// libFuzzer target for the playlist reader. Whatever the bytes, reading ends,
// every path it gives is one the list can hold, and the list it gives is
// written and read back unchanged.
#include "BoundedText.h"
#include "Playlist.h"

#include <QBuffer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const QString kFolder = QStringLiteral("/playlists/here");

QStringList readBytes(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QStringList paths;
    Playlist::read(&buffer, kFolder, &paths);
    return paths;
}

[[noreturn]] void fail(const char *what, const QString &path)
{
    std::fprintf(stderr, "%s: \"%s\"\n", what, qPrintable(path));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList paths = readBytes(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (paths.size() > Playlist::kMaxEntries)
        std::abort();
    for (const QString &path : paths) {
        if (path.isEmpty() || path.contains(QChar(0)) || BoundedText::isOverlongPath(path))
            fail("not a path the list can hold", path);
    }
    const QStringList again = readBytes(Playlist::encode(paths));
    if (again != paths) {
        for (qsizetype i = 0; i < std::max(paths.size(), again.size()); ++i) {
            if (paths.value(i) != again.value(i)) {
                std::fprintf(stderr, "entry %lld read back as \"%s\"\n", qlonglong(i),
                             qPrintable(again.value(i)));
                fail("written", paths.value(i));
            }
        }
    }
    return 0;
}
