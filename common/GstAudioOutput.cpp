#include "GstAudioOutput.h"

#include "GstEqualizerFilter.h"

#include <gst/audio/gstaudiobasesink.h>
#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr const char kDefaultSink[] = "autoaudiosink";

// The tags the demuxers read ReplayGain into.
constexpr const char *kGainTags[] = {GST_TAG_TRACK_GAIN, GST_TAG_TRACK_PEAK, GST_TAG_ALBUM_GAIN,
                                     GST_TAG_ALBUM_PEAK, GST_TAG_REFERENCE_LEVEL};
// The tags with names of their own that one tag list is searched for, and
// their length: a list comes from the file and can hold anything.
constexpr guint kMaxComments = 64;
constexpr gsize kMaxCommentBytes = 256;

// A music player needs no low latency: two periods of a quarter second each
// wake this process and the sound server a few times a second. Pause and seek
// still act at once; a volume change is heard within the half second.
void onElementAdded(GstBin *, GstBin *, GstElement *element, gpointer)
{
    if (GST_IS_AUDIO_BASE_SINK(element))
        g_object_set(element, "buffer-time", gint64(500000), "latency-time", gint64(250000), nullptr);
}

GstElement *makeSink(QString factory)
{
    if (factory.isEmpty())
        factory = qEnvironmentVariable("TAMSEL_AUDIO_SINK");
    if (factory.isEmpty())
        factory = QString::fromLatin1(kDefaultSink);

    // A description such as "alsasink device=null" or "wavenc ! filesink location=x.wav"
    // is built as a bin; a plain name is one element.
    GstElement *sink = nullptr;
    if (factory.contains(QLatin1Char(' ')) || factory.contains(QLatin1Char('!'))) {
        GError *error = nullptr;
        sink = gst_parse_bin_from_description(factory.toUtf8().constData(), TRUE, &error);
        if (error) {
            qWarning("GstMediaComponent: audio sink \"%s\": %s", qPrintable(factory), error->message);
            g_clear_error(&error);
        }
    } else {
        sink = gst_element_factory_make(factory.toUtf8().constData(), nullptr);
    }
    if (!sink && factory != QLatin1String(kDefaultSink)) {
        qWarning("GstMediaComponent: no audio sink \"%s\", using %s", qPrintable(factory), kDefaultSink);
        factory = QString::fromLatin1(kDefaultSink);
        sink = gst_element_factory_make(kDefaultSink, nullptr);
    }
    if (sink && factory == QLatin1String("fakesink"))
        g_object_set(sink, "sync", TRUE, nullptr); // keep real time, so positions and ends mean something
    return sink;
}

// Makes every element named, or none: false, and nothing left, when one is missing.
bool makeAll(std::initializer_list<std::pair<GstElement **, const char *>> elements)
{
    bool all = true;
    for (const auto &[element, factory] : elements)
        all = (*element = gst_element_factory_make(factory, nullptr)) && all;
    if (!all) {
        for (const auto &[element, factory] : elements) {
            if (*element)
                gst_object_unref(gst_object_ref_sink(*element));
            *element = nullptr;
        }
    }
    return all;
}

// What list tells of ReplayGain, valid values only. True when it holds the
// engine's own ReplayGain tags, valid or not.
bool readTags(const GstTagList *list, ReplayGainInfo *info)
{
    const struct
    {
        const char *tag;
        std::optional<double> ReplayGainInfo::*field;
        bool peak;
    } known[] = {{GST_TAG_TRACK_GAIN, &ReplayGainInfo::trackGain, false},
                 {GST_TAG_TRACK_PEAK, &ReplayGainInfo::trackPeak, true},
                 {GST_TAG_ALBUM_GAIN, &ReplayGainInfo::albumGain, false},
                 {GST_TAG_ALBUM_PEAK, &ReplayGainInfo::albumPeak, true}};
    bool named = gst_tag_list_get_tag_size(list, GST_TAG_REFERENCE_LEVEL) > 0;
    for (const auto &tag : known) {
        double value = 0;
        if (!gst_tag_list_get_double(list, tag.tag, &value))
            continue;
        named = true;
        if (const std::optional<double> valid =
                tag.peak ? ReplayGain::validPeak(value) : ReplayGain::validGain(value))
            info->*tag.field = valid;
    }
    // What the demuxers leave without a name of ours: Opus's R128 gains, say.
    const guint comments = std::min(gst_tag_list_get_tag_size(list, GST_TAG_EXTENDED_COMMENT), kMaxComments);
    for (guint i = 0; i < comments; ++i) {
        const gchar *text = nullptr;
        if (gst_tag_list_peek_string_index(list, GST_TAG_EXTENDED_COMMENT, i, &text) && text &&
            strnlen(text, kMaxCommentBytes + 1) <= kMaxCommentBytes)
            ReplayGain::readComment(QString::fromUtf8(text), info);
    }
    return named;
}

// 16-bit samples where the sink takes them, as sound servers mix: half the
// bytes to move, and nothing for the server to convert. The filters work in
// floats, and a converter keeps the format it is given unless the way on
// allows nothing else.
GstPadProbeReturn onSinkCaps(GstPad *, GstPadProbeInfo *info, gpointer)
{
    GstQuery *query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) != GST_QUERY_CAPS)
        return GST_PAD_PROBE_OK;
    GstCaps *caps = nullptr;
    gst_query_parse_caps_result(query, &caps);
    if (!caps)
        return GST_PAD_PROBE_OK;
    GstCaps *wanted = gst_caps_from_string("audio/x-raw,format=S16LE");
    GstCaps *preferred = gst_caps_intersect(caps, wanted);
    if (!gst_caps_is_empty(preferred))
        gst_query_set_caps_result(query, preferred);
    gst_caps_unref(preferred);
    gst_caps_unref(wanted);
    return GST_PAD_PROBE_OK;
}

} // namespace

struct GstAudioOutput::Private
{
    GstElement *element = nullptr;
    GstElement *volumeFilter = nullptr;
    GstElement *panorama = nullptr;
    // rgvolume makes the gain worked out here, as its fallback gain: it never
    // sees a tag (see onGainPad), and its own cap on the gain is lifted.
    GstElement *gain = nullptr;
    GstElement *limiter = nullptr;
    GstElement *equalizer = nullptr;
    EqualizerSettings equalizerSettings;

    // The streaming thread's tags against the user's choices.
    std::mutex mutex;
    ReplayGainSettings replayGain;
    ReplayGainInfo info;              // of the stream at the gain filter
    std::atomic<bool> playing{false}; // its sound has reached the gain filter

    // Under the lock.
    void applyGain();
    void applyEqualizer();

    static GstPadProbeReturn onGainPad(GstPad *pad, GstPadProbeInfo *info, gpointer self);
};

void GstAudioOutput::Private::applyGain()
{
    if (!gain)
        return;
    const ReplayGain::Result result = ReplayGain::compute(replayGain, info);
    g_object_set(gain, "fallback-gain", result.gainDb, nullptr);
    g_object_set(limiter, "enabled", gboolean(result.limit), nullptr);
}

void GstAudioOutput::Private::applyEqualizer()
{
    if (!equalizer)
        return;
    GstEqualizerFilter::set(equalizer, equalizerSettings);
}

GstPadProbeReturn GstAudioOutput::Private::onGainPad(GstPad *, GstPadProbeInfo *info, gpointer self)
{
    auto *d = static_cast<Private *>(self);
    if (GST_PAD_PROBE_INFO_TYPE(info) & (GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST)) {
        d->playing.store(true, std::memory_order_relaxed);
        return GST_PAD_PROBE_OK;
    }
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START) {
        // Also where the next track of a gapless join begins, with no end or
        // flush before it.
        std::lock_guard lock(d->mutex);
        d->info = {};
        d->playing = false;
        d->applyGain();
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_TAG) {
        GstTagList *list = nullptr;
        gst_event_parse_tag(event, &list);
        ReplayGainInfo found;
        if (readTags(list, &found)) {
            // rgvolume would apply them by itself, and keep them into the next
            // stream of a gapless join: it forgets only at an end or a stop.
            GstTagList *rest = gst_tag_list_copy(list);
            for (const char *tag : kGainTags)
                gst_tag_list_remove_tag(rest, tag);
            GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_tag(rest);
            gst_event_unref(event);
        }
        // Tags come before the sound; later ones would step the level mid-song.
        if (!(found == ReplayGainInfo()) && !d->playing.load(std::memory_order_relaxed)) {
            std::lock_guard lock(d->mutex);
            d->info.merge(found);
            d->applyGain();
        }
    }
    return GST_PAD_PROBE_OK;
}

GstAudioOutput::GstAudioOutput() : d(std::make_unique<Private>()) {}

GstAudioOutput::~GstAudioOutput() = default;

bool GstAudioOutput::build(const QString &sinkFactory)
{
    if (d->element)
        return true;
    GstElement *sink = makeSink(sinkFactory);
    if (!sink)
        return false;

    GstElement *convertIn, *volume, *pan, *tempo, *convertOut, *resample;
    if (!makeAll({{&convertIn, "audioconvert"},
                  {&volume, "volume"},
                  {&pan, "audiopanorama"},
                  {&tempo, "scaletempo"},
                  {&convertOut, "audioconvert"},
                  {&resample, "audioresample"}})) {
        // Without the filters playbin still plays through the bare sink.
        qWarning("GstMediaComponent: audio filters missing; balance and rate keep pitch unsupported");
        d->element = sink;
        return true;
    }
    GstElement *gain, *limiter;
    GstElement *equalizer = GstEqualizerFilter::make();
    if (!equalizer || !makeAll({{&gain, "rgvolume"}, {&limiter, "rglimiter"}})) {
        qWarning("GstMediaComponent: ReplayGain and equalizer filters missing; both unsupported");
        if (equalizer)
            gst_object_unref(gst_object_ref_sink(equalizer));
        gain = limiter = equalizer = nullptr;
    }

    // "simple" turns one channel down instead of keeping loudness, so -100 is left only.
    gst_util_set_object_arg(G_OBJECT(pan), "method", "simple");
    // Back to the sink's 16 bits without dither: at unity gain the source's
    // samples come out as they went in, and dither would cost more than all
    // the filters do.
    gst_util_set_object_arg(G_OBJECT(convertOut), "dithering", "none");
    std::vector<GstElement *> chain{convertIn};
    if (gain) {
        g_object_set(gain, "pre-amp", 0.0, "headroom", 60.0, nullptr);
        chain.insert(chain.end(), {gain, limiter, equalizer});
    }
    chain.insert(chain.end(), {volume, pan, tempo, convertOut, resample, sink});

    GstElement *bin = gst_bin_new("audio-out");
    bool linked = true;
    for (size_t i = 0; i < chain.size(); ++i) {
        gst_bin_add(GST_BIN(bin), chain[i]);
        linked = linked && (i == 0 || gst_element_link(chain[i - 1], chain[i]));
    }
    if (!linked) {
        qWarning("GstMediaComponent: could not link the audio output");
        gst_object_unref(gst_object_ref_sink(bin));
        return false;
    }
    GstPad *pad = gst_element_get_static_pad(convertIn, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
    gst_object_unref(pad);
    pad = gst_element_get_static_pad(resample, "src");
    gst_pad_add_probe(pad, GstPadProbeType(GST_PAD_PROBE_TYPE_QUERY_BOTH | GST_PAD_PROBE_TYPE_PULL),
                      onSinkCaps, nullptr, nullptr);
    gst_object_unref(pad);
    if (gain) {
        pad = gst_element_get_static_pad(gain, "sink");
        gst_pad_add_probe(pad,
                          GstPadProbeType(GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_BUFFER |
                                          GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          &Private::onGainPad, d.get(), nullptr);
        gst_object_unref(pad);
    }

    d->element = bin;
    d->volumeFilter = volume;
    d->panorama = pan;
    d->gain = gain;
    d->limiter = limiter;
    d->equalizer = equalizer;
    d->applyEqualizer();
    std::lock_guard lock(d->mutex);
    d->applyGain();
    return true;
}

GstElement *GstAudioOutput::element() const
{
    return d->element;
}

GstElement *GstAudioOutput::volume() const
{
    return d->volumeFilter;
}

GstElement *GstAudioOutput::panorama() const
{
    return d->panorama;
}

void GstAudioOutput::setReplayGain(const ReplayGainSettings &settings)
{
    std::lock_guard lock(d->mutex);
    d->replayGain = settings;
    d->applyGain();
}

void GstAudioOutput::setEqualizer(const EqualizerSettings &settings)
{
    d->equalizerSettings = Equalizer::clamped(settings);
    d->applyEqualizer();
}

void GstAudioOutput::tuneSinksOf(GstElement *playbin)
{
    g_signal_connect(playbin, "deep-element-added", G_CALLBACK(onElementAdded), nullptr);
}
