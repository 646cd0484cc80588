#pragma once

#include "Equalizer.h"
#include "ReplayGain.h"

#include <QString>

#include <memory>

typedef struct _GstElement GstElement;

// The audio end of the pipeline: the sink, behind the filters that make
// ReplayGain, the equalizer, the volume, the balance and the pitch-keeping
// speed. With these filters playbin needs none of its own (it is set to pass
// the decoded sound on as it is).
//
// ReplayGain follows the tags as they reach the output, in order with the
// sound: each stream starts untagged, so a track without tags after a tagged
// one plays at the fallback gain, also when it follows without a gap. A
// track's gain is settled before its first sample plays and stays until its
// end; only the user's own choices change it on the way.
class GstAudioOutput
{
public:
    GstAudioOutput();
    ~GstAudioOutput();
    GstAudioOutput(const GstAudioOutput &) = delete;
    GstAudioOutput &operator=(const GstAudioOutput &) = delete;

    // Builds the bin, once. sinkFactory names the sink element ("autoaudiosink",
    // "fakesink"), or is a description with blanks or "!" ("alsasink
    // device=null"), built as a bin. An empty name takes the environment
    // variable TAMSEL_AUDIO_SINK, else "autoaudiosink"; so does a name that
    // makes nothing. False when no sink could be made.
    bool build(const QString &sinkFactory);

    // What playbin takes as its audio sink; null before a build that made one.
    GstElement *element() const;
    // The volume and balance filters inside it; null when the filters are
    // missing, and playbin then makes the volume.
    GstElement *volume() const;
    GstElement *panorama() const;

    // Heard at once, also while playing; kept for a bin built later. Neither
    // costs anything while off (or flat): the filters then pass the sound on.
    void setReplayGain(const ReplayGainSettings &settings);
    void setEqualizer(const EqualizerSettings &settings);

    // Gives every audio sink that playbin makes (autoaudiosink's real one too)
    // the long periods a music player can afford.
    static void tuneSinksOf(GstElement *playbin);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
