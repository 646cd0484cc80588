#pragma once

#include "TrackTags.h"

typedef struct _GstTagList GstTagList;

// Gathers a track's tags from the tag lists the engine reports while it
// plays. A playing track reports its tags again and again (a bit rate that
// changed, say): the first value of each wins, and a list that brings nothing
// new costs a few lookups. The first embedded picture goes to the cover cache;
// the first lyrics (a tag of their own, a Vorbis comment or an ID3v2 frame) are kept.
class GstTagReader
{
public:
    // A new track: its picture is a cover file beside it until an embedded
    // one turns up. known: what is known of it already (a cue sheet's title,
    // a picture), which its own tags do not override.
    void start(const QString &localFile, const TrackTags &known = {});
    // Takes what list adds; true when the tags changed.
    bool read(const GstTagList *list);
    const TrackTags &tags() const { return m_tags; }

private:
    QString embeddedPicture(const GstTagList *list);

    TrackTags m_tags;
    // An embedded picture was found, stored or refused: later lists repeat it.
    bool m_pictureSeen = false;
};
