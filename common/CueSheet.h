#pragma once

#include <QList>
#include <QString>

// Cue sheets: an album ripped into one image file (or a few), and the sheet
// that says where each of its tracks begins. Read with libcue, from text
// decoded by TextDecoding; only UI-thread callers, since libcue's parser
// keeps its state in globals.
namespace CueSheet {

// Real sheets are a few kilobytes; anything larger is not read at all.
constexpr qint64 kMaxSheetBytes = 1024 * 1024;
// A CD has at most 99 tracks; what a sheet lists after the 99th is left to it.
constexpr int kMaxTracks = 99;
// Sheet times count CD frames.
constexpr qint64 kFramesPerSecond = 75;

struct Track
{
    int number = 0; // its place in the sheet, from 1
    QString file;   // the audio file as the sheet names it
    QString title;  // TITLE, PERFORMER of the track
    QString performer;
    qint64 start = 0; // INDEX 01, in frames from the start of its file
    qint64 end = -1;  // where the next track of the same file begins; -1: the file's end
};

struct Sheet
{
    QString title; // the album's TITLE and PERFORMER
    QString performer;
    QList<Track> tracks;
    // More tracks were listed than a CD has; the last one kept runs on to the file's end.
    bool cut = false;
};

enum class Error {
    None,
    Unreadable, // missing, not a regular file, cannot be opened
    TooLarge,   // over kMaxSheetBytes
    NoTracks,   // not a sheet, or one without a usable track
};

// Parses sheet text. A track without any INDEX is left out; one whose next
// track of the same file starts no later than it runs to the next start
// after its own, else to the file's end. Returns false when no track is left.
bool parse(const QString &text, Sheet *sheet);

// Reads a .cue file.
Error readFile(const QString &path, Sheet *sheet);

// The sheet kept in an audio file's tags (CUESHEET in FLAC, WavPack and
// Monkey's Audio files). Every track is then in that file.
Error readEmbedded(const QString &audioFile, Sheet *sheet);

// Whether an audio file's type can keep a sheet in its tags.
bool canEmbed(const QString &audioFile);

// The audio file a sheet in folder names: the name as written (a path below
// folder, else its last part, Windows separators too), else the same name in
// another case, else a file of the same base name with an audio type's
// suffix, as rips that were converted after the sheet was written need.
// Only regular files of an audio type count; empty when there is none.
QString findAudioFile(const QString &folder, const QString &named);

} // namespace CueSheet
