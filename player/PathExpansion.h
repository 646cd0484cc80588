#pragma once

#include "Playlist.h"

#include <QString>
#include <QStringList>

// What files, playlist files and folders named from outside (dropped on the
// playlist, given on the command line) add to the playlist.
namespace PathExpansion {

// How far one expansion may go, so that a huge or slow folder cannot hold up
// the window for long.
struct Bounds
{
    int maxEntries = Playlist::kMaxEntries; // entries returned
    int maxVisited = 200000;                // folder entries looked at
    int maxMilliseconds = 2000;             // time spent walking folders
};

// The entries that items stand for, in order: a regular playlist file
// (AudioTypes) gives its playlist's entries, a cue sheet its tracks, an audio
// file whose tags keep a sheet its tracks, any other regular file itself, a
// folder its audio files and sheets (AudioTypes) in name order, each
// sub-folder's after them; an audio file a sheet of the folder plays is not
// added again on its own. Anything else (missing, a device, a pipe) gives
// nothing; hidden entries and links to folders are not walked. problems,
// when given, gets a line for the user on each sheet that gave less than it
// lists (unreadable, an audio file missing). names, when given, gets the
// name a playlist file gives each entry, empty for the others.
QStringList expand(const QStringList &items, const Bounds &bounds = {}, QStringList *problems = nullptr,
                   QStringList *names = nullptr);

// The tracks of a cue sheet file whose audio files are there (ImageTrack
// entries); the audio files they play go into played. problems as above.
QStringList sheetEntries(const QString &sheetFile, QStringList *problems, QStringList *played = nullptr);

// An audio file's entries: its tracks when its tags keep a sheet, else itself.
QStringList audioEntries(const QString &audioFile);

} // namespace PathExpansion
