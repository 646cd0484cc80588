#include "GstMediaComponentPrivate.h"

#include "BoundedText.h"
#include "ImageTrack.h"
#include "RegularFile.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <QtGlobal>

#include <cmath>
#include <mutex>

namespace {

// playbin's GstPlayFlags; the enum lives in no public header.
constexpr guint kPlayFlagVideo = 1u << 0;
constexpr guint kPlayFlagAudio = 1u << 1;
constexpr guint kPlayFlagText = 1u << 2;
constexpr guint kPlayFlagVis = 1u << 3;
constexpr guint kPlayFlagSoftVolume = 1u << 4;
constexpr guint kPlayFlagNativeAudio = 1u << 5;

void initGstreamerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Chinese ID3v1 tags are GBK; without this they would be read as Latin-1.
        if (!qEnvironmentVariableIsSet("GST_ID3V1_TAG_ENCODING"))
            qputenv("GST_ID3V1_TAG_ENCODING", "GBK");
        if (!gst_is_initialized())
            gst_init(nullptr, nullptr);
        // libav, there for AAC and WMA, brings MP3 decoders of mpg123's rank
        // that would win by their names; MP3 stays with mpg123.
        if (GstPluginFeature *mpg123 = gst_registry_lookup_feature(gst_registry_get(), "mpg123audiodec")) {
            gst_plugin_feature_set_rank(mpg123, GST_RANK_SECONDARY);
            gst_object_unref(mpg123);
        }
        // plugins-bad's AIFF demuxer now and then loses its first data, and the
        // file never starts (see startPipeline); libav's, where installed, does not.
        if (GstPluginFeature *aiff = gst_registry_lookup_feature(gst_registry_get(), "aiffparse")) {
            gst_plugin_feature_set_rank(aiff, GST_RANK_MARGINAL - 1);
            gst_object_unref(aiff);
        }
    });
}

gint64 toClockTime(double seconds)
{
    return static_cast<gint64>(seconds * GST_SECOND);
}

} // namespace

QString GstMediaComponent::Private::localFileOf(const QString &path)
{
    if (!path.startsWith(QLatin1Char('/'))) {
        const QUrl url(path);
        // A one-letter scheme is a Windows drive ("D:\x"), not a URL.
        if (url.scheme().size() > 1)
            return url.isLocalFile() ? url.toLocalFile() : QString();
    }
    return QFileInfo(path).absoluteFilePath();
}

QByteArray GstMediaComponent::Private::playableUri(const QString &path)
{
    // Only a regular file goes to the engine: its file source would open a
    // FIFO on this thread and wait there for a writer, and read a device forever.
    const QString file = localFileOf(path);
    return RegularFile::exists(file) ? QUrl::fromLocalFile(file).toEncoded() : QByteArray();
}

void GstMediaComponent::Private::openMedia(const QString &path, bool tellNext, const QString &art)
{
    fileLength = 0;
    if (const std::optional<ImageTrack::Track> track = ImageTrack::resolve(path)) {
        uri = playableUri(track->audioFile);
        rangeStart = track->startNs;
        rangeEnd = track->endNs;
        TrackTags known = track->tags;
        known.artUrl = art;
        tags.start(track->audioFile, known);
    } else if (const std::optional<ImageTrack::Ref> ref = ImageTrack::parse(path)) {
        // A track whose sheet or audio file is gone: it ends at once, as an error.
        uri.clear();
        rangeStart = 0;
        rangeEnd = -1;
        TrackTags known;
        known.title = ImageTrack::fallbackName(*ref);
        tags.start(QString(), known);
    } else {
        uri = playableUri(path);
        rangeStart = 0;
        rangeEnd = -1;
        tags.start(localFileOf(path));
    }
    if (tellNext)
        next.setCurrent(uri, rangeStart, rangeEnd);
}

bool GstMediaComponent::Private::startRange()
{
    q->duration(); // the file's length, now that it is open
    if (fileLength > 0 && rangeStart >= fileLength) {
        qWarning("GstMediaComponent: %s starts after the end of its file", qPrintable(url));
        finishMedia(true);
        return false;
    }
    if (!seekTo(pendingSeek)) {
        finishMedia(true);
        return false;
    }
    if (wantPlaying)
        setPipelineState(GST_STATE_PLAYING);
    return true;
}

void GstMediaComponent::Private::startPipeline()
{
    // A track of an image is sought while paused, so that nothing before it is heard.
    setPipelineState(wantPlaying && !ranged() ? GST_STATE_PLAYING : GST_STATE_PAUSED);
    // Now and then a demuxer loses its first data (GStreamer 1.22's aiffparse
    // and musepackdec, in a process that played before): the pipeline then
    // never prerolls and tells nothing. Opened again it plays; silence at every
    // attempt is an error.
    QTimer::singleShot(kPrerollWaitMs, q, [this, token = openToken] {
        if (token != openToken || prerolled || ended)
            return;
        if (++openAttempts >= kOpenAttempts) {
            qWarning("GstMediaComponent: %s does not open", qPrintable(url));
            finishMedia(true);
            return;
        }
        qWarning("GstMediaComponent: %s did not open; opening it again", qPrintable(url));
        reopenAt(pendingSeek);
    });
}

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

    if (output.build(sinkFactory))
        g_object_set(playbin, "audio-sink", output.element(), nullptr);
    audioSink = output.element();
    volumeFilter = output.volume();
    panorama = output.panorama();

    // Audio only: no video, subtitle or visualisation branches to build. Our
    // own filters convert and make the volume; without them, playbin's soft
    // volume keeps "volume" working whatever the sink supports.
    guint flags = 0;
    g_object_get(playbin, "flags", &flags, nullptr);
    flags &= ~(kPlayFlagVideo | kPlayFlagText | kPlayFlagVis | kPlayFlagSoftVolume | kPlayFlagNativeAudio);
    flags |= kPlayFlagAudio | (volumeFilter ? kPlayFlagNativeAudio : kPlayFlagSoftVolume);
    g_object_set(playbin, "flags", flags, nullptr);

    applyVolume();
    applyBalance();
    GstAudioOutput::tuneSinksOf(playbin);

    bus = gst_element_get_bus(playbin);
    next.attach(playbin, audioSink, bus);
    updateQueueAllowed();
    GPollFD pollFd = {};
    gst_bus_get_pollfd(bus, &pollFd);
    busNotifier = new QSocketNotifier(static_cast<qintptr>(pollFd.fd), QSocketNotifier::Read, q);
    QObject::connect(busNotifier, &QSocketNotifier::activated, q, [this] { drainBus(); });
    return true;
}

void GstMediaComponent::Private::applyVolume()
{
    if (GstElement *target = volumeFilter ? volumeFilter : playbin)
        g_object_set(target, "volume", volume / 100.0, "mute", gboolean(mute), nullptr);
}

void GstMediaComponent::Private::applyBalance()
{
    if (panorama)
        g_object_set(panorama, "panorama", gfloat(balance / 100.0), nullptr);
}

void GstMediaComponent::Private::updateQueueAllowed()
{
    // A new stream starts at normal speed; and media being reopened has its
    // seek still to come, which playbin would answer in the queued media.
    next.setAllowed(rate == 1.0 && !reopening);
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

void GstMediaComponent::Private::resetToNull(bool keepNext)
{
    if (!playbin)
        return;
    // NULL is reached synchronously and flushes the bus, so nothing queued
    // by the media we leave can be mistaken for the next one's.
    gst_element_set_state(playbin, GST_STATE_NULL);
    gst_bus_set_flushing(bus, TRUE);
    gst_bus_set_flushing(bus, FALSE);
    next.clear(keepNext);
    switchPending = false;
    prerolled = false;
    pendingSeek = 0;
    ++openToken;
}

void GstMediaComponent::Private::reopenAt(double seconds)
{
    // Once media is queued, playbin answers a seek in the queued media; the
    // current one is opened again instead, at the place asked for.
    resetToNull(true);
    g_object_set(playbin, "uri", uri.constData(), nullptr);
    pendingSeek = seconds;
    reopening = true;
    updateQueueAllowed();
    startPipeline();
}

bool GstMediaComponent::Private::seekTo(double seconds)
{
    if (next.isQueued()) {
        reopenAt(seconds);
        return true;
    }
    // A track of an image ends where the next one begins, told as "segment done".
    const bool bounded = rangeEnd >= 0;
    const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE |
                                    (bounded ? GST_SEEK_FLAG_SEGMENT : GST_SEEK_FLAG_NONE));
    if (!gst_element_seek(playbin, rate, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                          rangeStart + toClockTime(seconds),
                          ranged() ? GST_SEEK_TYPE_SET : GST_SEEK_TYPE_NONE,
                          bounded ? rangeEnd : gint64(GST_CLOCK_TIME_NONE))) {
        qWarning("GstMediaComponent: seek to %.2f s refused", seconds);
        return false;
    }
    if (next.isQueued())
        reopenAt(seconds); // queued while the seek went out: it went to the queued media
    return true;
}

void GstMediaComponent::Private::applyRate()
{
    // An instant rate change avoids the flush gap, but MP3 parsers refuse it;
    // a flushing seek at the current position does the same job there.
    if (gst_element_seek(playbin, rate, GST_FORMAT_TIME, GST_SEEK_FLAG_INSTANT_RATE_CHANGE,
                         GST_SEEK_TYPE_NONE, -1, GST_SEEK_TYPE_NONE, -1))
        return;
    seekTo(q->currentPosition());
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
    if (d->bus) {
        gst_bus_set_sync_handler(d->bus, nullptr, nullptr, nullptr); // it points into d
        gst_object_unref(d->bus);
    }
}

void GstMediaComponent::setUrl(const QString &path)
{
    // Only a URL given while the end of the previous media is being reported
    // comes from the end-of-track handler.
    const bool fromEndHandler = d->inEndNotification;

    ++d->generation;
    d->url = path;
    d->openMedia(path, true);
    d->duration = 0;
    d->reportedDuration = 0;
    d->ended = false;
    d->wantPlaying = true;
    d->stoppedReportArmed = fromEndHandler;
    d->openAttempts = 0;

    if (d->uri.isEmpty() || !d->ensureEngine()) {
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
    g_object_set(d->playbin, "uri", d->uri.constData(), nullptr);
    d->applyVolume();
    d->startPipeline();
    // For the handler the state stays "stopped" until its extra report.
    if (!fromEndHandler)
        d->setState(Transitioning);
}

QString GstMediaComponent::url() const
{
    return d->url;
}

void GstMediaComponent::setNextUrl(const QString &path)
{
    if (const std::optional<ImageTrack::Track> track = ImageTrack::resolve(path))
        d->next.setWanted(Private::playableUri(track->audioFile), path, track->startNs, track->endNs);
    else
        d->next.setWanted(
            path.isEmpty() || ImageTrack::parse(path) ? QByteArray() : Private::playableUri(path), path);
}

int GstMediaComponent::playState() const
{
    return d->state;
}

void GstMediaComponent::play()
{
    // Media that cannot be played has its end as an error on the way; the
    // engine still holds the previous media, which must not start again.
    if (!d->playbin || d->url.isEmpty() || d->uri.isEmpty())
        return;
    d->wantPlaying = true;
    d->ended = false;
    // Stopped, a track of an image starts again from its own start.
    d->setPipelineState(d->ranged() && !d->prerolled ? GST_STATE_PAUSED : GST_STATE_PLAYING);
}

void GstMediaComponent::pause()
{
    if (!d->playbin || d->url.isEmpty() || d->uri.isEmpty())
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
    if (d->prerolled && gst_element_query_position(d->playbin, GST_FORMAT_TIME, &position) && position >= 0) {
        const double seconds = std::max<gint64>(0, position - d->rangeStart) / double(GST_SECOND);
        // The stream runs a moment into the next track before that one is announced.
        return d->ranged() && duration() > 0 ? std::min(seconds, duration()) : seconds;
    }
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
    const QString &title = d->tags.tags().title;
    if (!title.isEmpty())
        return title;
    if (d->url.isEmpty())
        return QString();
    return BoundedText::forDisplay(QFileInfo(d->url).completeBaseName());
}

TrackTags GstMediaComponent::tags() const
{
    return d->tags.tags();
}

double GstMediaComponent::duration() const
{
    const qint64 now = g_get_monotonic_time();
    if (d->prerolled && (d->fileLength <= 0 || now - d->fileLengthAskedUs >= Private::kLengthKeptUs)) {
        gint64 length = 0;
        if (gst_element_query_duration(d->playbin, GST_FORMAT_TIME, &length) && length > 0) {
            d->fileLength = length;
            d->fileLengthAskedUs = now;
        }
    }
    // A track of an image lasts to the next one's start, or to the file's end.
    const qint64 end =
        d->rangeEnd >= 0 && (d->fileLength <= 0 || d->rangeEnd < d->fileLength) ? d->rangeEnd : d->fileLength;
    if (end > d->rangeStart)
        d->duration = (end - d->rangeStart) / double(GST_SECOND);
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
    d->updateQueueAllowed();
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

void GstMediaComponent::setReplayGain(const ReplayGainSettings &settings)
{
    d->output.setReplayGain(settings);
}

void GstMediaComponent::setEqualizer(const EqualizerSettings &settings)
{
    d->output.setEqualizer(settings);
}

bool GstMediaComponent::lastEndWasError() const
{
    return d->lastEndWasError;
}
