#pragma once

#include <QString>

typedef struct _GstElement GstElement;

// The audio end of the pipeline: the sink, behind the filters that make the
// volume, the balance and the pitch-keeping speed. With these filters playbin
// needs none of its own (it is set to pass the decoded sound on as it is).
namespace GstAudioOutput {

struct Output
{
    // What playbin takes as its audio sink; null when no sink could be made.
    GstElement *element = nullptr;
    // The volume and balance filters inside it; null when the filters are
    // missing, and playbin then makes the volume.
    GstElement *volume = nullptr;
    GstElement *panorama = nullptr;
};

// sinkFactory names the sink element ("autoaudiosink", "fakesink"), or is a
// description with blanks or "!" ("alsasink device=null"), built as a bin.
// An empty name takes the environment variable TAMSEL_AUDIO_SINK, else
// "autoaudiosink"; so does a name that makes nothing.
Output build(const QString &sinkFactory);

// Gives every audio sink that playbin makes (autoaudiosink's real one too)
// the long periods a music player can afford.
void tuneSinksOf(GstElement *playbin);

} // namespace GstAudioOutput
