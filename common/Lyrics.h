#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// Where a word of an "enhanced" LRC line starts: its time, counted from the
// start of the line, and its first character in the line's text.
struct LyricsWord
{
    qint64 offsetMs = 0;
    int position = 0;
};

struct LyricsLine
{
    // Milliseconds from the start of the track, the file's offset applied.
    // Unsynced lyrics have no times: every line starts at 0.
    qint64 startMs = 0;
    // When the line is sung through: its last word time, else the next
    // later line's start, but never more than kMaxFillMs after its own.
    qint64 endMs = 0;
    QString text;
    // Word times, in order; empty when the line has none. A line with
    // several time tags shares them.
    QList<LyricsWord> words;
};

// Lyrics read from LRC text: time-tagged lines sorted by time, or plain text
// (unsynced lyrics). The reader is bounded: whatever the text, it reads at
// most kMaxChars characters, keeps at most kMaxLines lines of at most
// kMaxLineChars characters, and skips what it cannot read line by line.
class Lyrics
{
public:
    static constexpr qsizetype kMaxChars = 1 << 20;
    static constexpr int kMaxLines = 10000;
    static constexpr qsizetype kMaxLineChars = 1024;
    static constexpr int kMaxWordsPerLine = 1024;
    // Times beyond a day are no times of a track.
    static constexpr qint64 kMaxTimeMs = 24LL * 3600 * 1000;
    // A line without word times fills over the time to the next line, at most this long.
    static constexpr qint64 kMaxFillMs = 10000;
    // What plainText() gives at most.
    static constexpr qsizetype kMaxPlainChars = 64 * 1024;

    static Lyrics parse(QStringView text);

    bool isEmpty() const { return m_lines.isEmpty(); }
    bool isSynced() const { return m_synced; }
    const QList<LyricsLine> &lines() const { return m_lines; }

    // The id tags [ti:], [ar:], [al:], [by:] and [offset:].
    const QString &title() const { return m_title; }
    const QString &artist() const { return m_artist; }
    const QString &album() const { return m_album; }
    const QString &author() const { return m_author; }
    qint64 offsetMs() const { return m_offsetMs; }

    // The line being sung at ms, -1 before the first. Of lines sharing a
    // time (a line and its translation), the first. Unsynced lyrics move
    // through their lines evenly over durationMs.
    int lineAt(qint64 ms, qint64 durationMs = 0) const;
    // How many characters of the line are sung at ms, fractions included:
    // by its word times, else evenly from its start to its end.
    double sungChars(int line, qint64 ms) const;
    // The first millisecond at which more than chars characters of the line
    // are sung; -1 when that never comes (the line is sung through before).
    qint64 timeAfterChars(int line, double chars) const;

    // The text of every line in order, one a line, without time tags.
    QString plainText() const;

private:
    QList<LyricsLine> m_lines;
    bool m_synced = false;
    QString m_title;
    QString m_artist;
    QString m_album;
    QString m_author;
    qint64 m_offsetMs = 0;
};
