#pragma once

#include <QString>
#include <QStringList>

// What a track's tags tell about it, each text cut to what a window shows.
struct TrackTags
{
    QString title;
    QStringList artists;
    QString album;
    int trackNumber = 0; // 0: not known
    // A file:// URL of the track's picture: an embedded one, written to the
    // cover cache, or else a cover file beside the track. Empty for none.
    QString artUrl;
    // The lyrics the tags carry, often LRC text themselves; empty for none.
    QString lyrics;

    bool operator==(const TrackTags &other) const = default;
};
