#pragma once

#include "Equalizer.h"

#include <vector>

typedef struct _GstElement GstElement;

// The sound of the equalizer: ten peaking filters, an octave wide, at the
// bands' nominal frequencies, on interleaved 32-bit float samples of any
// number of channels up to kMaxChannels.
//
// The filters run as a wavefront: at each step every band filters a sample of
// its own, band n the one band n-1 filtered a step before, so that they all
// work at once instead of waiting on each other. The sound thus leaves
// kDelayFrames late, evenly, joins of tracks included.
class EqualizerBands
{
public:
    static constexpr int kMaxChannels = 8;
    static constexpr int kDelayFrames = EqualizerSettings::kBands - 1;

    // A new format: the filters start from silence.
    void setFormat(int rate, int channels);
    // The bands' gains and the pre-amp (enabled is not looked at).
    void design(const EqualizerSettings &settings);
    // Forgets the sound so far, as after a seek.
    void clear();
    void process(float *samples, int frames);

private:
    template <int Channels> void run(float *samples, int frames);

    int m_rate = 0;
    int m_channels = 0;
    float m_preGain = 1.0f;
    // One filter per band and channel, each a lane of a group of four (see
    // run): coefficients, normalised; the state of the transposed direct
    // form II; and each lane's last output.
    std::vector<float> m_b0, m_b1, m_b2, m_a1, m_a2, m_s1, m_s2, m_y;
};

// The equalizer of the audio output, an element of our own over
// EqualizerBands: GStreamer's equalizer-10bands costs about four
// milliseconds of processor time for each second of sound, more than
// decoding an MP3, and this one about a fifth of that. Off, or flat with no
// pre-amp, it passes the sound on untouched.
namespace GstEqualizerFilter {

// A new element.
GstElement *make();

// Heard from the next block of samples on; any thread.
void set(GstElement *filter, const EqualizerSettings &settings);

} // namespace GstEqualizerFilter
