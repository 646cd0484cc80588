#include "Lyrics.h"

#include "BoundedText.h"

#include <algorithm>

namespace {

// An id tag's key: [ti:...], [offset:...], [#:...].
constexpr qsizetype kMaxKeyChars = 16;
// A tag's closing bracket is looked for this far; no id tag is longer.
constexpr qsizetype kMaxTagChars = 2048;
// "<mm:ss.xx>" and its longest forms.
constexpr qsizetype kMaxWordTagChars = 16;

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Reads up to maxDigits ASCII digits from text at *at; false when there are none.
bool readNumber(QStringView text, qsizetype *at, int maxDigits, qint64 *value, int *digits = nullptr)
{
    qint64 number = 0;
    int count = 0;
    while (*at < text.size() && isAsciiDigit(text[*at])) {
        if (++count > maxDigits)
            return false;
        number = number * 10 + (text[*at].unicode() - '0');
        ++*at;
    }
    *value = number;
    if (digits)
        *digits = count;
    return count > 0;
}

// "m:ss", "m:ss.f", "m:ss.ff", "m:ss.fff" (or ":" before the fraction), in
// milliseconds; false for anything else, a negative or absurd time included.
bool parseTime(QStringView text, qint64 *ms)
{
    qsizetype at = 0;
    qint64 minutes = 0;
    qint64 seconds = 0;
    if (!readNumber(text, &at, 5, &minutes) || at >= text.size() || text[at] != QLatin1Char(':'))
        return false;
    ++at;
    if (!readNumber(text, &at, 2, &seconds) || seconds >= 60)
        return false;
    qint64 fraction = 0;
    if (at < text.size()) {
        if (text[at] != QLatin1Char('.') && text[at] != QLatin1Char(':'))
            return false;
        ++at;
        int digits = 0;
        if (!readNumber(text, &at, 3, &fraction, &digits) || at != text.size())
            return false;
        for (; digits < 3; ++digits)
            fraction *= 10;
    }
    *ms = minutes * 60000 + seconds * 1000 + fraction;
    return *ms <= Lyrics::kMaxTimeMs;
}

// "key:value" with a key of letters (or "#"): the key in lower case, and the value.
bool parseIdTag(QStringView tag, QString *key, QStringView *value)
{
    const qsizetype colon = tag.indexOf(QLatin1Char(':'));
    if (colon <= 0 || colon > kMaxKeyChars)
        return false;
    for (qsizetype i = 0; i < colon; ++i) {
        const char16_t c = tag[i].unicode();
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '#'))
            return false;
    }
    *key = tag.first(colon).toString().toLower();
    *value = tag.sliced(colon + 1).trimmed();
    return true;
}

// "+500", "-300", " 200": milliseconds; false for anything else or beyond a day.
bool parseOffset(QStringView text, qint64 *ms)
{
    qsizetype at = 0;
    const bool negative = !text.isEmpty() && text[0] == QLatin1Char('-');
    if (!text.isEmpty() && (text[0] == QLatin1Char('-') || text[0] == QLatin1Char('+')))
        ++at;
    qint64 value = 0;
    if (!readNumber(text, &at, 9, &value) || at != text.size() || value > Lyrics::kMaxTimeMs)
        return false;
    *ms = negative ? -value : value;
    return true;
}

// The text of a line with its word times taken out; words relative to startMs.
QString takeWords(QStringView rest, qint64 startMs, QList<LyricsWord> *words)
{
    QString text;
    qsizetype at = 0;
    // A little beyond the cut, so that the cut itself decides where the line ends.
    while (at < rest.size() && text.size() <= Lyrics::kMaxLineChars) {
        const qsizetype open = rest.indexOf(QLatin1Char('<'), at);
        if (open < 0) {
            text += rest.sliced(at, std::min(rest.size() - at, Lyrics::kMaxLineChars + 1));
            break;
        }
        text += rest.sliced(at, std::min(open - at, Lyrics::kMaxLineChars + 1));
        const qsizetype close = rest.sliced(open + 1, std::min(rest.size() - open - 1, kMaxWordTagChars))
                                    .indexOf(QLatin1Char('>'));
        qint64 ms = 0;
        if (close >= 0 && parseTime(rest.sliced(open + 1, close), &ms)) {
            if (words->size() < Lyrics::kMaxWordsPerLine) {
                // Times never go back within a line.
                const qint64 offset = std::max(ms - startMs, words->isEmpty() ? 0 : words->last().offsetMs);
                words->append({std::max<qint64>(offset, 0), int(text.size())});
            }
            at = open + 1 + close + 1;
        } else {
            text += QLatin1Char('<'); // "<3" is text
            at = open + 1;
        }
    }
    // Leading blanks go; the words keep their characters.
    qsizetype lead = 0;
    while (lead < text.size() && text[lead].isSpace())
        ++lead;
    text = BoundedText::cut(text.sliced(lead), Lyrics::kMaxLineChars);
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    for (LyricsWord &word : *words)
        word.position = int(std::clamp<qsizetype>(word.position - lead, 0, text.size()));
    return text;
}

} // namespace

Lyrics Lyrics::parse(QStringView text)
{
    Lyrics lyrics;
    text = text.first(std::min(text.size(), kMaxChars));
    QList<LyricsLine> plain;
    bool haveOffset = false;

    qsizetype at = 0;
    while (at < text.size()) {
        // One line, ended by LF, CR LF or CR.
        qsizetype end = at;
        while (end < text.size() && text[end] != QLatin1Char('\n') && text[end] != QLatin1Char('\r'))
            ++end;
        QStringView line = text.sliced(at, end - at).trimmed();
        at = end +
             (end + 1 < text.size() && text[end] == QLatin1Char('\r') && text[end + 1] == QLatin1Char('\n')
                  ? 2
                  : 1);

        QList<qint64> times;
        bool idTag = false;
        while (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.first(std::min(line.size(), kMaxTagChars)).indexOf(QLatin1Char(']'));
            if (close < 0)
                break;
            const QStringView tag = line.sliced(1, close - 1);
            qint64 ms = 0;
            QString key;
            QStringView value;
            if (parseTime(tag, &ms)) {
                // Ten thousand tags on a line cost one pass; beyond the cap they are only read.
                if (times.size() < kMaxLines)
                    times.append(ms);
            } else if (times.isEmpty() && parseIdTag(tag, &key, &value)) {
                idTag = true;
                const QString shown = BoundedText::forDisplay(value.toString());
                if (key == QLatin1String("ti"))
                    lyrics.m_title = shown;
                else if (key == QLatin1String("ar"))
                    lyrics.m_artist = shown;
                else if (key == QLatin1String("al"))
                    lyrics.m_album = shown;
                else if (key == QLatin1String("by"))
                    lyrics.m_author = shown;
                else if (key == QLatin1String("offset") && !haveOffset)
                    haveOffset = parseOffset(value, &lyrics.m_offsetMs);
            } else {
                break; // "[Chorus]" and broken tags are text
            }
            line = line.sliced(close + 1).trimmed();
        }

        if (!times.isEmpty()) {
            LyricsLine timed;
            timed.text = takeWords(line, times.first(), &timed.words);
            for (const qint64 ms : std::as_const(times)) {
                if (lyrics.m_lines.size() >= kMaxLines)
                    break;
                timed.startMs = ms;
                lyrics.m_lines.append(timed);
            }
        } else if (!idTag && !line.isEmpty() && plain.size() < kMaxLines) {
            LyricsLine untimed;
            untimed.text = BoundedText::cut(line.toString(), kMaxLineChars);
            plain.append(untimed);
        }
    }

    // Time-tagged lines make synced lyrics; lines without tags among them are broken ones.
    if (lyrics.m_lines.isEmpty()) {
        lyrics.m_lines = plain;
        return lyrics;
    }
    lyrics.m_synced = true;
    QList<LyricsLine> &lines = lyrics.m_lines;
    // A positive offset shows the lines earlier.
    for (LyricsLine &line : lines)
        line.startMs = std::clamp(line.startMs - lyrics.m_offsetMs, qint64(0), kMaxTimeMs);
    std::stable_sort(lines.begin(), lines.end(),
                     [](const LyricsLine &a, const LyricsLine &b) { return a.startMs < b.startMs; });
    qint64 nextLater = -1;
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        LyricsLine &line = lines[i];
        if (i + 1 < lines.size() && lines[i + 1].startMs > line.startMs)
            nextLater = lines[i + 1].startMs;
        const qint64 limit = line.startMs + kMaxFillMs;
        line.endMs = nextLater >= 0 ? std::min(nextLater, limit) : limit;
        // A closing word time says itself when the line is through.
        if (!line.words.isEmpty() && line.words.last().position >= line.text.size())
            line.endMs = line.startMs + line.words.last().offsetMs;
    }
    return lyrics;
}

int Lyrics::lineAt(qint64 ms, qint64 durationMs) const
{
    if (m_lines.isEmpty())
        return -1;
    if (!m_synced) {
        if (durationMs <= 0)
            return 0;
        const double share = std::clamp(double(ms) / double(durationMs), 0.0, 1.0);
        return std::min(int(m_lines.size()) - 1, int(share * double(m_lines.size())));
    }
    const auto byStart = [](qint64 value, const LyricsLine &line) { return value < line.startMs; };
    const auto after = std::upper_bound(m_lines.cbegin(), m_lines.cend(), ms, byStart);
    if (after == m_lines.cbegin())
        return -1;
    const qint64 start = std::prev(after)->startMs;
    const auto first =
        std::lower_bound(m_lines.cbegin(), after, start,
                         [](const LyricsLine &line, qint64 value) { return line.startMs < value; });
    return int(first - m_lines.cbegin());
}

double Lyrics::sungChars(int index, qint64 ms) const
{
    if (index < 0 || index >= m_lines.size())
        return 0;
    const LyricsLine &line = m_lines[index];
    const double length = double(line.text.size());
    if (!m_synced)
        return length;
    const qint64 t = ms - line.startMs;
    if (t < 0)
        return 0;
    const qint64 lineLength = line.endMs - line.startMs;
    if (line.words.isEmpty())
        return lineLength > 0 && t < lineLength ? length * double(t) / double(lineLength) : length;

    const auto after =
        std::upper_bound(line.words.cbegin(), line.words.cend(), t,
                         [](qint64 value, const LyricsWord &word) { return value < word.offsetMs; });
    if (after == line.words.cbegin())
        return line.words.first().position; // what comes before the first word time is sung at once
    const LyricsWord &word = *std::prev(after);
    const bool last = after == line.words.cend();
    const qint64 wordEnd = last ? lineLength : after->offsetMs;
    const double endPosition = last ? length : double(after->position);
    // Multiplied before divided, so that a character's time gives it exactly.
    if (wordEnd <= word.offsetMs || t >= wordEnd)
        return endPosition;
    return word.position +
           (endPosition - word.position) * double(t - word.offsetMs) / double(wordEnd - word.offsetMs);
}

qint64 Lyrics::timeAfterChars(int index, double chars) const
{
    if (!m_synced || index < 0 || index >= m_lines.size())
        return -1;
    const LyricsLine &line = m_lines[index];
    const qint64 lineLength = line.endMs - line.startMs;
    if (chars >= double(line.text.size()) || lineLength <= 0)
        return -1;
    // What time runs over: the line, or the word that holds the character.
    qint64 from = 0;
    qint64 to = lineLength;
    double first = 0;
    double last = double(line.text.size());
    if (!line.words.isEmpty()) {
        const auto after =
            std::upper_bound(line.words.cbegin(), line.words.cend(), chars,
                             [](double value, const LyricsWord &word) { return value < word.position; });
        if (after == line.words.cbegin())
            return line.startMs; // what comes before the first word time is sung at once
        const LyricsWord &word = *std::prev(after);
        from = word.offsetMs;
        first = word.position;
        if (after != line.words.cend()) {
            to = after->offsetMs;
            last = after->position;
        }
    }
    if (last <= first || to <= from)
        return line.startMs + from; // a word without time is sung at once
    return line.startMs + from + qint64(std::floor((chars - first) * double(to - from) / (last - first))) + 1;
}

QString Lyrics::plainText() const
{
    QString text;
    for (const LyricsLine &line : m_lines) {
        if (text.size() + line.text.size() + 1 > kMaxPlainChars)
            break;
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += line.text;
    }
    return text;
}
