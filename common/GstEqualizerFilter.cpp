#include "GstEqualizerFilter.h"

#include <gst/audio/gstaudiofilter.h>
#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

constexpr int kBands = EqualizerSettings::kBands;
constexpr double kFrequencies[kBands] = {31, 62, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};

// What the element keeps between the user's thread and the streaming thread.
struct State
{
    std::mutex mutex;
    // Under the lock: what the user set, and whether the streaming thread
    // has yet to take it up.
    EqualizerSettings settings;
    bool changed = true;
    bool restart = true;
    // The streaming thread's own.
    int channels = 0;
    EqualizerBands bands;
};

// Four lanes of filters. A channel's ten bands take three quads: band b is
// lane b / 3 of quad b % 3, so that the band before each one sits in the same
// lane of the quad before, and for the first quad one lane lower in the
// last (see EqualizerBands::run). The two lanes left over pass the sound on.
typedef float Quad __attribute__((vector_size(4 * sizeof(float))));

// Lanes 0, 0, 1, 2 of a quad: each lane moved one up, lane 0 left as it was.
Quad laneUp(Quad quad)
{
#if defined(__clang__)
    return __builtin_shufflevector(quad, quad, 0, 0, 1, 2);
#else
    typedef int QuadMask __attribute__((vector_size(4 * sizeof(int))));
    return __builtin_shuffle(quad, QuadMask{0, 0, 1, 2});
#endif
}

constexpr int kQuads = 3;
// The last band, whose output leaves the filters, is then lane 3 of quad 0.
static_assert(kBands - 1 == 3 * kQuads, "ten bands in three quads");

size_t laneOf(int band, int channel)
{
    return size_t((channel * kQuads + band % kQuads) * 4 + band / kQuads);
}

} // namespace

void EqualizerBands::setFormat(int rate, int channels)
{
    m_rate = rate;
    m_channels = channels;
    for (std::vector<float> *v : {&m_b0, &m_b1, &m_b2, &m_a1, &m_a2, &m_s1, &m_s2, &m_y})
        v->assign(size_t(kQuads * 4 * channels), 0.0f);
    m_b0.assign(m_b0.size(), 1.0f);
}

void EqualizerBands::design(const EqualizerSettings &settings)
{
    m_preGain = float(std::pow(10.0, settings.preAmpDb / 20));
    for (int band = 0; band < kBands; ++band) {
        // A peaking filter an octave wide (the audio cookbook's), or none
        // where the band lies too close to the highest frequency.
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        if (m_rate > 0 && kFrequencies[band] < 0.45 * m_rate) {
            const double w = 2 * M_PI * kFrequencies[band] / m_rate;
            const double amplitude = std::pow(10.0, settings.bandsDb[band] / 40);
            const double alpha = std::sin(w) * std::sinh(std::log(2.0) / 2 * w / std::sin(w));
            const double a0 = 1 + alpha / amplitude;
            b0 = (1 + alpha * amplitude) / a0;
            b1 = a1 = -2 * std::cos(w) / a0;
            b2 = (1 - alpha * amplitude) / a0;
            a2 = (1 - alpha / amplitude) / a0;
        }
        for (int c = 0; c < m_channels; ++c) {
            const size_t lane = laneOf(band, c);
            m_b0[lane] = float(b0);
            m_b1[lane] = float(b1);
            m_b2[lane] = float(b2);
            m_a1[lane] = float(a1);
            m_a2[lane] = float(a2);
        }
    }
}

void EqualizerBands::clear()
{
    for (std::vector<float> *v : {&m_s1, &m_s2, &m_y})
        std::fill(v->begin(), v->end(), 0.0f);
}

// The quads are local arrays of a size known at compile time, which the
// compiler keeps in vector registers: each step moves every band's output
// to the next band by taking the quad before, and only the first quad's
// lanes turn, in a register.
template <int Channels> void EqualizerBands::run(float *samples, int frames)
{
    constexpr int n = Channels * kQuads;
    Quad b0[n], b1[n], b2[n], a1[n], a2[n], s1[n], s2[n], y[n];
    const auto load = [](const std::vector<float> &from, Quad *to) {
        std::memcpy(to, from.data(), sizeof(Quad) * n);
    };
    load(m_b0, b0);
    load(m_b1, b1);
    load(m_b2, b2);
    load(m_a1, a1);
    load(m_a2, a2);
    load(m_s1, s1);
    load(m_s2, s2);
    load(m_y, y);
    const float preGain = m_preGain;
    for (int i = 0; i < frames; ++i) {
        float *frame = samples + size_t(i) * Channels;
#pragma GCC unroll 8
        for (int c = 0; c < Channels; ++c) {
            Quad *q = y + c * kQuads;
            Quad in[kQuads];
            // Band 0 takes the new sample; bands 3, 6 and 9 what bands 2, 5 and 8 made.
            in[0] = laneUp(q[kQuads - 1]);
            in[0][0] = frame[c] * preGain;
#pragma GCC unroll 3
            for (int j = 1; j < kQuads; ++j)
                in[j] = q[j - 1];
#pragma GCC unroll 3
            for (int j = 0; j < kQuads; ++j) {
                const int k = c * kQuads + j;
                const Quad out = b0[k] * in[j] + s1[k];
                s1[k] = b1[k] * in[j] - a1[k] * out + s2[k];
                s2[k] = b2[k] * in[j] - a2[k] * out;
                y[k] = out;
            }
            frame[c] = q[0][3]; // the last band's
        }
    }
    const auto store = [](const Quad *from, std::vector<float> &to) {
        std::memcpy(to.data(), from, sizeof(Quad) * n);
    };
    store(s1, m_s1);
    store(s2, m_s2);
    store(y, m_y);
}

void EqualizerBands::process(float *samples, int frames)
{
#if defined(__SSE__)
    // Quiet passages decay the filters' state into denormal numbers, which
    // cost the processor a hundred times as much: flushed to zero, here only.
    const unsigned int controlWord = _mm_getcsr();
    _mm_setcsr(controlWord | 0x8040);
#endif
    switch (m_channels) {
    case 1:
        run<1>(samples, frames);
        break;
    case 2:
        run<2>(samples, frames);
        break;
    case 3:
        run<3>(samples, frames);
        break;
    case 4:
        run<4>(samples, frames);
        break;
    case 5:
        run<5>(samples, frames);
        break;
    case 6:
        run<6>(samples, frames);
        break;
    case 7:
        run<7>(samples, frames);
        break;
    case kMaxChannels:
        run<kMaxChannels>(samples, frames);
        break;
    default:
        break;
    }
#if defined(__SSE__)
    _mm_setcsr(controlWord);
#endif
}

extern "C" {

struct TamselEqualizer
{
    GstAudioFilter parent;
    State *state;
};

struct TamselEqualizerClass
{
    GstAudioFilterClass parent_class;
};

G_DEFINE_TYPE(TamselEqualizer, tamsel_equalizer, GST_TYPE_AUDIO_FILTER)

} // extern "C"

namespace {

TamselEqualizer *self(gpointer object)
{
    return reinterpret_cast<TamselEqualizer *>(object);
}

gboolean onSetup(GstAudioFilter *filter, const GstAudioInfo *info)
{
    State &state = *self(filter)->state;
    std::lock_guard lock(state.mutex);
    state.channels = GST_AUDIO_INFO_CHANNELS(info);
    state.bands.setFormat(GST_AUDIO_INFO_RATE(info), state.channels);
    state.changed = true;
    return TRUE;
}

GstFlowReturn onTransform(GstBaseTransform *transform, GstBuffer *buffer)
{
    State &state = *self(transform)->state;
    {
        std::lock_guard lock(state.mutex);
        if (state.changed)
            state.bands.design(state.settings);
        if (state.restart)
            state.bands.clear();
        state.changed = state.restart = false;
    }
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE))
        return GST_FLOW_ERROR;
    if (state.channels > 0)
        state.bands.process(reinterpret_cast<float *>(map.data),
                            int(map.size / (sizeof(float) * size_t(state.channels))));
    gst_buffer_unmap(buffer, &map);
    return GST_FLOW_OK;
}

gboolean onSinkEvent(GstBaseTransform *transform, GstEvent *event)
{
    // After a seek the sound does not go on from where the filters were.
    if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
        State &state = *self(transform)->state;
        std::lock_guard lock(state.mutex);
        state.restart = true;
    }
    return GST_BASE_TRANSFORM_CLASS(tamsel_equalizer_parent_class)->sink_event(transform, event);
}

void onFinalize(GObject *object)
{
    delete self(object)->state;
    G_OBJECT_CLASS(tamsel_equalizer_parent_class)->finalize(object);
}

} // namespace

static void tamsel_equalizer_class_init(TamselEqualizerClass *klass)
{
    G_OBJECT_CLASS(klass)->finalize = onFinalize;
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Equalizer", "Filter/Effect/Audio",
                                          "Ten octave bands", "TamselMP3Player");
    GstCaps *caps = gst_caps_from_string(
        "audio/x-raw, format=(string)" GST_AUDIO_NE(F32) ", rate=(int)[1000,MAX], channels=(int)[1,8], "
                                                         "layout=(string)interleaved");
    gst_audio_filter_class_add_pad_templates(GST_AUDIO_FILTER_CLASS(klass), caps);
    gst_caps_unref(caps);
    GST_AUDIO_FILTER_CLASS(klass)->setup = onSetup;
    auto *transform = GST_BASE_TRANSFORM_CLASS(klass);
    transform->transform_ip = onTransform;
    transform->transform_ip_on_passthrough = FALSE;
    transform->sink_event = onSinkEvent;
}

static void tamsel_equalizer_init(TamselEqualizer *filter)
{
    filter->state = new State;
    gst_base_transform_set_in_place(GST_BASE_TRANSFORM(filter), TRUE);
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(filter), TRUE);
}

namespace GstEqualizerFilter {

GstElement *make()
{
    return GST_ELEMENT(g_object_new(tamsel_equalizer_get_type(), nullptr));
}

void set(GstElement *filter, const EqualizerSettings &settings)
{
    State &state = *self(filter)->state;
    const bool flat = !settings.enabled ||
                      (settings.preAmpDb == 0 && std::all_of(settings.bandsDb.begin(), settings.bandsDb.end(),
                                                             [](double db) { return db == 0; }));
    {
        std::lock_guard lock(state.mutex);
        state.settings = settings;
        state.changed = true;
        // Taken up again after a while of passing the sound on: its state is old.
        if (flat != bool(gst_base_transform_is_passthrough(GST_BASE_TRANSFORM(filter))))
            state.restart = true;
    }
    gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(filter), flat);
}

} // namespace GstEqualizerFilter
