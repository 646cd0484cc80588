#include "GstMediaComponent.h"

#include "BoundedText.h"
#include "RegularFile.h"

#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <QtGlobal>

#include <gst/audio/gstaudiobasesink.h>
#include <gst/gst.h>

#include <cmath>
#include <mutex>

namespace {

// playbin's GstPlayFlags; the enum lives in no public header.
constexpr guint kPlayFlagVideo = 1u << 0;
constexpr guint kPlayFlagAudio = 1u << 1;
constexpr guint kPlayFlagText = 1u << 2;
constexpr guint kPlayFlagVis = 1u << 3;
constexpr guint kPlayFlagSoftVolume = 1u << 4;

constexpr const char kDefaultSink[] = "autoaudiosink";

void initGstreamerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Chinese ID3v1 tags are GBK; without this they would be read as Latin-1.
        if (!qEnvironmentVariableIsSet("GST_ID3V1_TAG_ENCODING"))
            qputenv("GST_ID3V1_TAG_ENCODING", "GBK");
        if (!gst_is_initialized())
            gst_init(nullptr, nullptr);
    });
}

// A music player needs no low latency: larger sink periods wake this process
// and the sound server far less often. Pause and seek still act at once.
void onElementAdded(GstBin *, GstBin *, GstElement *element, gpointer)
{
    if (GST_IS_AUDIO_BASE_SINK(element))
        g_object_set(element, "buffer-time", gint64(500000), "latency-time", gint64(50000), nullptr);
}

gint64 toClockTime(double seconds)
{
    return static_cast<gint64>(seconds * GST_SECOND);
}

// The local file a media path names: a path, or a file:// URL. Empty for
// anything else, so that a playlist line cannot reach the network or a device.
QString localFileOf(const QString &path)
{
    if (!path.startsWith(QLatin1Char('/'))) {
        const QUrl url(path);
        // A one-letter scheme is a Windows drive ("D:\x"), not a URL.
        if (url.scheme().size() > 1)
            return url.isLocalFile() ? url.toLocalFile() : QString();
    }
    return QFileInfo(path).absoluteFilePath();
}

} // namespace

struct GstMediaComponent::Private
{
    explicit Private(GstMediaComponent *owner) : q(owner) {}

    GstMediaComponent *q;
    QString sinkFactory;

    GstElement *playbin = nullptr;
    GstElement *panorama = nullptr;
    GstBus *bus = nullptr;
    QSocketNotifier *busNotifier = nullptr;

    QString url;
    QString title;
    int state = MediaComponent::Undefined;
    quint64 generation = 0;   // bumped by every setUrl; guards deferred work
    bool wantPlaying = false; // where the pipeline is heading: playing, or paused
    bool prerolled = false;   // reached PAUSED since the pipeline last left NULL
    bool ended = false;       // this run already reported its end
    double pendingSeek = 0;   // applied once prerolled; also the position shown until then
    mutable double duration = 0;
    double reportedDuration = 0; // the length last told through durationChanged

    // The end-of-track handler opens the next media from inside the end
    // notification and then expects one more "stopped" once it has opened.
    bool inEndNotification = false;
    bool stoppedReportArmed = false;
    bool lastEndWasError = false;

    int volume = 50;
    bool mute = false;
    double rate = 1.0;
    int balance = 0;

    bool ensureEngine();
    GstElement *buildAudioSink();
    void applyVolume();
    void applyBalance();

    void drainBus();
    void handleMessage(GstMessage *msg);
    void onPipelineState(GstState newState);
    void handleTags(GstMessage *msg);
    void finishMedia(bool error);
    void endLater();
    void learnDuration();

    void setPipelineState(GstState target);
    void resetToNull();
    void seekTo(double seconds);
    void applyRate();

    void setState(int newState);
    void reportStopped();
};

bool GstMediaComponent::Private::ensureEngine()
{
    if (playbin)
        return true;
    initGstreamerOnce();

    playbin = gst_element_factory_make("playbin", nullptr);
    if (!playbin) {
        qWarning("GstMediaComponent: playbin is not available");
        return false;
    }
    gst_object_ref_sink(playbin);

    if (GstElement *sink = buildAudioSink())
        g_object_set(playbin, "audio-sink", sink, nullptr);

    // Audio only: no video, subtitle or visualisation branches to build.
    // Soft volume keeps "volume" working whatever the sink supports.
    guint flags = 0;
    g_object_get(playbin, "flags", &flags, nullptr);
    flags &= ~(kPlayFlagVideo | kPlayFlagText | kPlayFlagVis);
    flags |= kPlayFlagAudio | kPlayFlagSoftVolume;
    g_object_set(playbin, "flags", flags, nullptr);

    applyVolume();
    applyBalance();
    g_signal_connect(playbin, "deep-element-added", G_CALLBACK(onElementAdded), nullptr);

    bus = gst_element_get_bus(playbin);
    GPollFD pollFd = {};
    gst_bus_get_pollfd(bus, &pollFd);
    busNotifier = new QSocketNotifier(static_cast<qintptr>(pollFd.fd), QSocketNotifier::Read, q);
    QObject::connect(busNotifier, &QSocketNotifier::activated, q, [this] { drainBus(); });
    return true;
}

GstElement *GstMediaComponent::Private::buildAudioSink()
{
    QString factory = sinkFactory;
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
    if (!sink)
        return nullptr;
    if (factory == QLatin1String("fakesink"))
        g_object_set(sink, "sync", TRUE, nullptr); // keep real time, so positions and ends mean something

    GstElement *convertIn = gst_element_factory_make("audioconvert", nullptr);
    GstElement *pan = gst_element_factory_make("audiopanorama", nullptr);
    GstElement *tempo = gst_element_factory_make("scaletempo", nullptr);
    GstElement *convertOut = gst_element_factory_make("audioconvert", nullptr);
    GstElement *resample = gst_element_factory_make("audioresample", nullptr);
    if (!convertIn || !pan || !tempo || !convertOut || !resample) {
        // Without the filters playbin still plays through the bare sink.
        qWarning("GstMediaComponent: audio filters missing; balance and rate keep pitch unsupported");
        for (GstElement *e : {convertIn, pan, tempo, convertOut, resample})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return sink;
    }
    // "simple" turns one channel down instead of keeping loudness, so -100 is left only.
    gst_util_set_object_arg(G_OBJECT(pan), "method", "simple");

    GstElement *bin = gst_bin_new("audio-out");
    gst_bin_add_many(GST_BIN(bin), convertIn, pan, tempo, convertOut, resample, sink, nullptr);
    if (!gst_element_link_many(convertIn, pan, tempo, convertOut, resample, sink, nullptr)) {
        qWarning("GstMediaComponent: could not link the audio output");
        gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    GstPad *pad = gst_element_get_static_pad(convertIn, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
    gst_object_unref(pad);
    panorama = pan;
    return bin;
}

void GstMediaComponent::Private::applyVolume()
{
    if (!playbin)
        return;
    g_object_set(playbin, "volume", volume / 100.0, "mute", gboolean(mute), nullptr);
}

void GstMediaComponent::Private::applyBalance()
{
    if (panorama)
        g_object_set(panorama, "panorama", gfloat(balance / 100.0), nullptr);
}

void GstMediaComponent::Private::drainBus()
{
    // A slot may delete us while we are still draining.
    QPointer<GstMediaComponent> alive(q);
    while (alive && bus) {
        GstMessage *msg = gst_bus_pop(bus);
        if (!msg)
            break;
        handleMessage(msg);
        gst_message_unref(msg);
    }
}

void GstMediaComponent::Private::handleMessage(GstMessage *msg)
{
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_STATE_CHANGED:
        if (GST_MESSAGE_SRC(msg) == GST_OBJECT(playbin)) {
            GstState newState = GST_STATE_VOID_PENDING;
            gst_message_parse_state_changed(msg, nullptr, &newState, nullptr);
            onPipelineState(newState);
        }
        break;
    case GST_MESSAGE_TAG:
        handleTags(msg);
        break;
    case GST_MESSAGE_DURATION_CHANGED:
        duration = 0;
        learnDuration();
        break;
    case GST_MESSAGE_EOS:
        finishMedia(false);
        break;
    case GST_MESSAGE_ERROR: {
        GError *error = nullptr;
        gst_message_parse_error(msg, &error, nullptr);
        qWarning("GstMediaComponent: cannot play %s: %s", qPrintable(url), error ? error->message : "?");
        g_clear_error(&error);
        finishMedia(true);
        break;
    }
    default:
        break;
    }
}

void GstMediaComponent::Private::onPipelineState(GstState newState)
{
    if (newState != GST_STATE_PAUSED && newState != GST_STATE_PLAYING)
        return;
    if (!prerolled) {
        prerolled = true;
        if (pendingSeek > 0 || rate != 1.0)
            seekTo(pendingSeek); // carries the remembered rate too
        pendingSeek = 0;
        learnDuration();
    }
    if (stoppedReportArmed) {
        stoppedReportArmed = false;
        const quint64 gen = generation;
        reportStopped();
        if (gen != generation || !prerolled)
            return; // the listener moved on to other media or stopped
    }
    if (newState == GST_STATE_PLAYING && wantPlaying)
        setState(MediaComponent::Playing);
    else if (newState == GST_STATE_PAUSED && !wantPlaying)
        setState(MediaComponent::Paused);
}

void GstMediaComponent::Private::handleTags(GstMessage *msg)
{
    if (!title.isEmpty())
        return; // the first title wins; later tag updates repeat it
    GstTagList *tags = nullptr;
    gst_message_parse_tag(msg, &tags);
    // Read in place and cut: a tag can hold megabytes that no label can lay out.
    const gchar *text = nullptr;
    if (tags && gst_tag_list_peek_string_index(tags, GST_TAG_TITLE, 0, &text) && text)
        title = BoundedText::forDisplayFromUtf8(text).trimmed();
    if (tags)
        gst_tag_list_unref(tags);
}

void GstMediaComponent::Private::finishMedia(bool error)
{
    if (ended)
        return;
    ended = true;
    lastEndWasError = error;
    resetToNull();

    // Media that failed before it opened still owes the listener its
    // "opened" report; give it first so the listener stays in step.
    const quint64 gen = generation;
    if (stoppedReportArmed) {
        stoppedReportArmed = false;
        reportStopped();
        if (gen != generation)
            return;
    }
    inEndNotification = true;
    reportStopped();
    inEndNotification = false;
}

void GstMediaComponent::Private::endLater()
{
    // Deferred so a seek past the end never re-enters the caller's slot.
    const quint64 gen = generation;
    QTimer::singleShot(0, q, [this, gen] {
        if (gen == generation)
            finishMedia(false);
    });
}

void GstMediaComponent::Private::learnDuration()
{
    const double length = q->duration();
    if (length <= 0 || length == reportedDuration)
        return;
    reportedDuration = length;
    emit q->durationChanged();
}

void GstMediaComponent::Private::setPipelineState(GstState target)
{
    if (gst_element_set_state(playbin, target) != GST_STATE_CHANGE_FAILURE)
        return;
    // Elements normally post their own error; this one only matters if none
    // did, since handling the first error flushes everything after it.
    GError *error = g_error_new_literal(GST_CORE_ERROR, GST_CORE_ERROR_STATE_CHANGE, "state change failed");
    gst_bus_post(bus, gst_message_new_error(GST_OBJECT(playbin), error, nullptr));
    g_error_free(error);
}

void GstMediaComponent::Private::resetToNull()
{
    if (!playbin)
        return;
    // NULL is reached synchronously and flushes the bus, so nothing queued
    // by the media we leave can be mistaken for the next one's.
    gst_element_set_state(playbin, GST_STATE_NULL);
    gst_bus_set_flushing(bus, TRUE);
    gst_bus_set_flushing(bus, FALSE);
    prerolled = false;
    pendingSeek = 0;
}

void GstMediaComponent::Private::seekTo(double seconds)
{
    const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek(playbin, rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, toClockTime(seconds),
                          GST_SEEK_TYPE_NONE, -1))
        qWarning("GstMediaComponent: seek to %.2f s refused", seconds);
}

void GstMediaComponent::Private::applyRate()
{
    // An instant rate change avoids the flush gap, but MP3 parsers refuse it;
    // a flushing seek at the current position does the same job there.
    if (gst_element_seek(playbin, rate, GST_FORMAT_TIME, GST_SEEK_FLAG_INSTANT_RATE_CHANGE,
                         GST_SEEK_TYPE_NONE, -1, GST_SEEK_TYPE_NONE, -1))
        return;
    gint64 position = 0;
    gst_element_query_position(playbin, GST_FORMAT_TIME, &position);
    seekTo(position / double(GST_SECOND));
}

void GstMediaComponent::Private::setState(int newState)
{
    if (newState == state)
        return;
    state = newState;
    emit q->statusChange();
}

void GstMediaComponent::Private::reportStopped()
{
    // Deliberately emitted even when already stopped: ends and the handler's
    // second report are events, not just state changes.
    state = MediaComponent::Stopped;
    emit q->statusChange();
}

GstMediaComponent::GstMediaComponent(const QString &sinkFactory, QObject *parent)
    : MediaComponent(parent), d(std::make_unique<Private>(this))
{
    // Nothing of GStreamer here: the window must come up before the engine.
    d->sinkFactory = sinkFactory;
}

GstMediaComponent::~GstMediaComponent()
{
    delete d->busNotifier;
    d->busNotifier = nullptr;
    if (d->playbin) {
        gst_element_set_state(d->playbin, GST_STATE_NULL);
        gst_object_unref(d->playbin);
    }
    if (d->bus)
        gst_object_unref(d->bus);
}

void GstMediaComponent::setUrl(const QString &path)
{
    // Only a URL given while the end of the previous media is being reported
    // comes from the end-of-track handler.
    const bool fromEndHandler = d->inEndNotification;

    ++d->generation;
    d->url = path;
    d->title.clear();
    d->duration = 0;
    d->reportedDuration = 0;
    d->ended = false;
    d->wantPlaying = true;
    d->stoppedReportArmed = fromEndHandler;

    // Only a regular file goes to the engine: its file source would open a FIFO
    // on this thread and wait there for a writer, and read a device forever.
    const QString file = localFileOf(path);
    if (!RegularFile::exists(file) || !d->ensureEngine()) {
        // Media that cannot be played ends at once, as an error.
        d->resetToNull();
        if (!fromEndHandler)
            d->setState(Transitioning);
        const quint64 gen = d->generation;
        QTimer::singleShot(0, this, [this, gen] {
            if (gen == d->generation)
                d->finishMedia(true);
        });
        return;
    }

    d->resetToNull();
    g_object_set(d->playbin, "uri", QUrl::fromLocalFile(file).toEncoded().constData(), nullptr);
    d->applyVolume();
    d->setPipelineState(GST_STATE_PLAYING);
    // For the handler the state stays "stopped" until its extra report.
    if (!fromEndHandler)
        d->setState(Transitioning);
}

QString GstMediaComponent::url() const
{
    return d->url;
}

int GstMediaComponent::playState() const
{
    return d->state;
}

void GstMediaComponent::play()
{
    if (!d->playbin || d->url.isEmpty())
        return;
    d->wantPlaying = true;
    d->ended = false;
    d->setPipelineState(GST_STATE_PLAYING);
}

void GstMediaComponent::pause()
{
    if (!d->playbin || d->url.isEmpty())
        return;
    d->wantPlaying = false;
    d->ended = false;
    d->setPipelineState(GST_STATE_PAUSED);
}

void GstMediaComponent::stop()
{
    if (!d->playbin || d->state == Undefined)
        return;
    d->stoppedReportArmed = false;
    d->wantPlaying = false;
    d->resetToNull();
    d->setState(Stopped);
}

double GstMediaComponent::currentPosition() const
{
    gint64 position = 0;
    if (d->prerolled && gst_element_query_position(d->playbin, GST_FORMAT_TIME, &position) && position >= 0)
        return position / double(GST_SECOND);
    return d->pendingSeek;
}

void GstMediaComponent::setCurrentPosition(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    if (!d->playbin || d->url.isEmpty())
        return;
    const double length = duration();
    if (length > 0 && seconds >= length) {
        d->endLater();
        return;
    }
    if (d->prerolled)
        d->seekTo(seconds);
    else
        d->pendingSeek = seconds;
}

QString GstMediaComponent::currentPositionString() const
{
    return timeText(currentPosition());
}

QString GstMediaComponent::currentMediaName() const
{
    if (!d->title.isEmpty())
        return d->title;
    if (d->url.isEmpty())
        return QString();
    return BoundedText::forDisplay(QFileInfo(d->url).completeBaseName());
}

double GstMediaComponent::duration() const
{
    gint64 length = 0;
    if (d->prerolled && gst_element_query_duration(d->playbin, GST_FORMAT_TIME, &length) && length > 0)
        d->duration = length / double(GST_SECOND);
    return d->duration;
}

QString GstMediaComponent::durationString() const
{
    return timeText(duration());
}

int GstMediaComponent::volume() const
{
    return d->volume;
}

void GstMediaComponent::setVolume(int volume)
{
    d->volume = qBound(0, volume, 100);
    d->applyVolume();
}

bool GstMediaComponent::mute() const
{
    return d->mute;
}

void GstMediaComponent::setMute(bool on)
{
    d->mute = on;
    d->applyVolume();
}

double GstMediaComponent::rate() const
{
    return d->rate;
}

bool GstMediaComponent::setRate(double rate)
{
    if (!std::isfinite(rate) || rate < kMinRate || rate > kMaxRate)
        return false;
    if (rate == d->rate)
        return true;
    d->rate = rate;
    // Before preroll the rate rides on the first seek after it.
    if (d->playbin && d->prerolled)
        d->applyRate();
    return true;
}

int GstMediaComponent::balance() const
{
    return d->balance;
}

void GstMediaComponent::setBalance(int balance)
{
    d->balance = qBound(-100, balance, 100);
    d->applyBalance();
}

bool GstMediaComponent::lastEndWasError() const
{
    return d->lastEndWasError;
}
