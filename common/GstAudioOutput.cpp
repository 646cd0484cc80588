#include "GstAudioOutput.h"

#include <gst/audio/gstaudiobasesink.h>
#include <gst/gst.h>

#include <algorithm>

namespace GstAudioOutput {

namespace {

constexpr const char kDefaultSink[] = "autoaudiosink";

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

} // namespace

Output build(const QString &sinkFactory)
{
    GstElement *sink = makeSink(sinkFactory);
    if (!sink)
        return {};

    GstElement *convertIn = gst_element_factory_make("audioconvert", nullptr);
    GstElement *volume = gst_element_factory_make("volume", nullptr);
    GstElement *pan = gst_element_factory_make("audiopanorama", nullptr);
    GstElement *tempo = gst_element_factory_make("scaletempo", nullptr);
    GstElement *convertOut = gst_element_factory_make("audioconvert", nullptr);
    GstElement *resample = gst_element_factory_make("audioresample", nullptr);
    GstElement *format = gst_element_factory_make("capsfilter", nullptr);
    const auto elements = {convertIn, volume, pan, tempo, convertOut, resample, format};
    if (std::find(elements.begin(), elements.end(), nullptr) != elements.end()) {
        // Without the filters playbin still plays through the bare sink.
        qWarning("GstMediaComponent: audio filters missing; balance and rate keep pitch unsupported");
        for (GstElement *e : elements)
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return {sink, nullptr, nullptr};
    }
    // "simple" turns one channel down instead of keeping loudness, so -100 is left only.
    gst_util_set_object_arg(G_OBJECT(pan), "method", "simple");
    // 16-bit samples where the sink takes them, as sound servers mix: half the
    // bytes to move, and nothing for the server to convert.
    GstCaps *caps = gst_caps_from_string("audio/x-raw,format=S16LE; audio/x-raw");
    g_object_set(format, "caps", caps, nullptr);
    gst_caps_unref(caps);

    GstElement *bin = gst_bin_new("audio-out");
    gst_bin_add_many(GST_BIN(bin), convertIn, volume, pan, tempo, convertOut, resample, format, sink,
                     nullptr);
    if (!gst_element_link_many(convertIn, volume, pan, tempo, convertOut, resample, format, sink, nullptr)) {
        qWarning("GstMediaComponent: could not link the audio output");
        gst_object_unref(gst_object_ref_sink(bin));
        return {};
    }
    GstPad *pad = gst_element_get_static_pad(convertIn, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
    gst_object_unref(pad);
    return {bin, volume, pan};
}

void tuneSinksOf(GstElement *playbin)
{
    g_signal_connect(playbin, "deep-element-added", G_CALLBACK(onElementAdded), nullptr);
}

} // namespace GstAudioOutput
