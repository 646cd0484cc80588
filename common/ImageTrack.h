#pragma once

#include "CueSheet.h"
#include "TrackTags.h"

#include <QString>

#include <memory>
#include <optional>

// One track of an image file as the playlist, the engine, the remote control
// and playlist files know it: a single string, the file: URI of its cue sheet
// (or of the audio file whose tags keep the sheet) with the track's place in
// the sheet as the query, "file:///music/album.cue?3". Older players wrote
// the same form, and no plain path reads as one: in a URI a '?' of a file
// name is written %3F.
namespace ImageTrack {

// The entry of track number (from 1) of the sheet in sheetFile, an absolute path.
QString entry(const QString &sheetFile, int number);

struct Ref
{
    QString sheetFile; // a .cue file, or an audio file that keeps its sheet
    int number = 0;
};

// The sheet file and number of an entry; nothing for a plain path.
std::optional<Ref> parse(const QString &entry);

// What a track entry plays, as its sheet says now.
struct Track
{
    QString audioFile;
    qint64 startNs = 0;
    qint64 endNs = -1; // -1: to the end of the file
    // Title (never empty), artist, album and number from the sheet.
    TrackTags tags;
};

// How much sheet text one look-up may still read, so that a list of many
// sheets cannot hold up the window for long; nullptr for no limit.
struct Budget
{
    qint64 bytesLeft;
};

// The sheet a sheet file gives: a .cue file's, or the one in an audio file's
// tags. The last few sheets read are kept while their files stay the same.
std::shared_ptr<const CueSheet::Sheet> sheetOf(const QString &sheetFile, CueSheet::Error *error = nullptr,
                                               Budget *budget = nullptr);

// The track an entry stands for; nothing when it is not a track entry, its
// sheet cannot be read, has no such track, or its audio file is not there.
std::optional<Track> resolve(const QString &entry, Budget *budget = nullptr);

// The list's name of a track: its title, else the sheet file's base name and
// the track's number ("album - 03").
QString displayName(const CueSheet::Sheet &sheet, int number, const QString &sheetFile);
// The same for an entry, without reading anything.
QString fallbackName(const Ref &ref);

} // namespace ImageTrack
