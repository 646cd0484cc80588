// libFuzzer target for the LRC reader. Whatever the bytes (decoded as a lyrics
// file is), reading ends within its bounds, the lines come sorted with times
// within a day and words within their text, the line found for a time has
// begun by then, and the fill never goes back and moves on exactly when the
// reader says it does.
#include "Lyrics.h"
#include "TextDecoding.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, qsizetype line = -1)
{
    std::fprintf(stderr, "%s (line %lld)\n", what, qlonglong(line));
    std::abort();
}

void checkLine(const Lyrics &lyrics, qsizetype index)
{
    const LyricsLine &line = lyrics.lines()[index];
    if (line.text.size() > Lyrics::kMaxLineChars || line.words.size() > Lyrics::kMaxWordsPerLine)
        fail("line beyond its bounds", index);
    if (lyrics.isSynced() &&
        (line.startMs < 0 || line.startMs > Lyrics::kMaxTimeMs || line.endMs < line.startMs))
        fail("time beyond a day, or an end before the start", index);
    qint64 lastOffset = 0;
    for (const LyricsWord &word : line.words) {
        if (word.position < 0 || word.position > line.text.size() || word.offsetMs < lastOffset)
            fail("word outside its line, or back in time", index);
        lastOffset = word.offsetMs;
    }
    if (!lyrics.isSynced())
        return;
    // The fill runs forward and stays within the line.
    double before = 0;
    for (qint64 t = line.startMs - 1; t <= line.endMs + 1;
         t += std::max<qint64>(1, (line.endMs - line.startMs) / 7)) {
        const double sung = lyrics.sungChars(int(index), t);
        if (sung < before || sung < 0 || sung > double(line.text.size()))
            fail("fill goes back or out of its line", index);
        before = sung;
    }
    // Where the next character is said to begin, it has begun, and not a millisecond before.
    for (qsizetype chars = 0; chars < std::min<qsizetype>(line.text.size(), 8); ++chars) {
        const qint64 at = lyrics.timeAfterChars(int(index), double(chars));
        if (at >= 0 && (lyrics.sungChars(int(index), at) <= double(chars) ||
                        (at > line.startMs && lyrics.sungChars(int(index), at - 1) > double(chars))))
            fail("the next character begins elsewhere than said", index);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text =
        TextDecoding::decode(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    const Lyrics lyrics = Lyrics::parse(text);
    const QList<LyricsLine> &lines = lyrics.lines();
    if (lines.size() > Lyrics::kMaxLines || lyrics.plainText().size() > Lyrics::kMaxPlainChars)
        fail("more than the bounds hold");
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0 && lines[i].startMs < lines[i - 1].startMs)
            fail("lines out of order", i);
        if (i < 64)
            checkLine(lyrics, i);
    }
    // The line found for a time has begun by then, and is the first of its time.
    for (qint64 t : {qint64(-1), qint64(0), qint64(1500), qint64(61000), Lyrics::kMaxTimeMs}) {
        const int found = lyrics.lineAt(t, 240000);
        if (found < -1 || found >= lines.size() || (lines.isEmpty() != (found == -1) && !lyrics.isSynced()))
            fail("line found out of range", found);
        if (lyrics.isSynced() && found >= 0 &&
            (lines[found].startMs > t || (found > 0 && lines[found - 1].startMs == lines[found].startMs)))
            fail("line found has not begun, or is not the first of its time", found);
    }
    return 0;
}
