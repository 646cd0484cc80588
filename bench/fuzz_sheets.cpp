// libFuzzer target for the cue sheet and XSPF readers. The first byte picks
// the reader, the rest is the file. Whatever the bytes, reading ends, and
// what a reader gives keeps its bounds: at most 99 tracks numbered in order,
// each starting in its file and ending after its start or at the file's end;
// XSPF entries with a location, never more than asked for.
#include "CueSheet.h"
#include "PlaylistFormats.h"
#include "TextDecoding.h"

#include <QBuffer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kMaxItems = 64;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

void checkSheet(const QByteArray &bytes)
{
    CueSheet::Sheet sheet;
    const bool parsed = CueSheet::parse(TextDecoding::decode(bytes), &sheet);
    if (parsed == sheet.tracks.isEmpty())
        fail("parse result and tracks disagree");
    if (sheet.tracks.size() > CueSheet::kMaxTracks)
        fail("more tracks than a CD has");
    for (qsizetype i = 0; i < sheet.tracks.size(); ++i) {
        const CueSheet::Track &track = sheet.tracks[i];
        if (track.number != i + 1 || track.start < 0 || (track.end >= 0 && track.end <= track.start) ||
            track.file.isEmpty() || track.title.toUtf8().size() > 512 || track.file.contains(QChar(0)))
            fail("a track out of its bounds");
    }
}

void checkXspf(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QList<PlaylistFormats::Item> items;
    PlaylistFormats::readXspf(&buffer, 1 << 20, kMaxItems, &items);
    if (items.size() > kMaxItems)
        fail("more XSPF entries than asked for");
    for (const PlaylistFormats::Item &item : std::as_const(items)) {
        if (item.location.isEmpty())
            fail("an XSPF entry without a location");
    }
    buffer.seek(0);
    if (PlaylistFormats::readPls(&buffer, 1 << 20, kMaxItems).size() > kMaxItems)
        fail("more PLS entries than asked for");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    if (data[0] & 1)
        checkXspf(bytes);
    else
        checkSheet(bytes);
    return 0;
}
