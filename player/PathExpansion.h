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

// The entries that items stand for, in order: a regular file whose name ends
// in "m3u" gives its playlist's entries, any other regular file itself, a
// folder its audio files (AudioTypes) in name order, each sub-folder's after them.
// Anything else (missing, a device, a pipe) gives nothing; hidden entries and
// links to folders are not walked.
QStringList expand(const QStringList &items, const Bounds &bounds = {});

} // namespace PathExpansion
