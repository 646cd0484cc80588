// What the pipeline tells, read from its bus on the UI thread: state
// changes, tags, the start of a queued media, ends and errors.
#include "GstMediaComponentPrivate.h"

#include <QPointer>
#include <QTimer>

#include <gst/base/gstbasesink.h>

namespace {

// How long a next media that has started may wait for its first tags before
// it is announced without them.
constexpr int kSwitchTagWaitMs = 200;

} // namespace

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
    case GST_MESSAGE_STREAM_START:
        fileLength = 0; // the next track of a gapless join has a length of its own
        if (const std::optional<QString> path = next.takeStarted()) {
            switchPending = true;
            switchPath = *path;
            QTimer::singleShot(kSwitchTagWaitMs, q, [this, gen = generation] {
                if (switchPending && gen == generation)
                    completeSwitch();
            });
        }
        break;
    case GST_MESSAGE_TAG:
        handleTags(msg);
        break;
    case GST_MESSAGE_DURATION_CHANGED:
        duration = 0;
        fileLength = 0;
        learnDuration();
        break;
    case GST_MESSAGE_APPLICATION:
        if (gst_message_has_name(msg, GstNextMedia::kContinuedMessage))
            onRangeContinued();
        break;
    case GST_MESSAGE_EOS:
        if (switchPending)
            completeSwitch(); // a next media shorter than the wait for its tags
        finishMedia(false);
        break;
    case GST_MESSAGE_ERROR:
        handleError(msg);
        break;
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
        if (ranged()) {
            if (!startRange())
                return; // it has ended, as an error
        } else if (pendingSeek > 0 || rate != 1.0) {
            seekTo(pendingSeek); // carries the remembered rate too
        }
        pendingSeek = 0;
        if (reopening) {
            reopening = false;
            updateQueueAllowed();
        }
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
    // Only what reached the sink: it comes in order with the sound, so the
    // next media's tags never count for the current one.
    if (!GST_IS_BASE_SINK(GST_MESSAGE_SRC(msg)))
        return;
    GstTagList *list = nullptr;
    gst_message_parse_tag(msg, &list);
    if (switchPending)
        completeSwitch(list);
    else if (tags.read(list))
        emit q->tagsChanged();
    if (list)
        gst_tag_list_unref(list);
}

void GstMediaComponent::Private::handleError(GstMessage *msg)
{
    GError *error = nullptr;
    gst_message_parse_error(msg, &error, nullptr);
    // The queued media failed to open: the current one plays to its end,
    // which the sink reports, and the listener then goes on as ever.
    const bool queuedFailed = next.isQueuedMediaError(msg);
    qWarning("GstMediaComponent: cannot play %s: %s", queuedFailed ? "the next media" : qPrintable(url),
             error ? error->message : "?");
    g_clear_error(&error);
    if (queuedFailed)
        return;
    if (switchPending)
        completeSwitch();
    finishMedia(true);
}

void GstMediaComponent::Private::completeSwitch(const GstTagList *firstTags)
{
    switchPending = false;
    ++generation;
    url = switchPath;
    openMedia(url, true);
    ended = false;
    lastEndWasError = false;
    duration = 0;
    reportedDuration = 0;
    tags.read(firstTags);
    const quint64 gen = generation;
    emit q->mediaChanged();
    if (gen == generation)
        learnDuration();
}

void GstMediaComponent::Private::onRangeContinued()
{
    const std::optional<GstNextMedia::Continued> continued = next.takeContinued();
    if (!continued)
        return;
    // Told at once, as queued media is, so that what follows it is known
    // before the demuxer reaches its end; its position counts from 0 until
    // the sink plays it.
    rangeSwitch = *continued;
    completeRangeSwitch();
}

void GstMediaComponent::Private::completeRangeSwitch()
{
    // The same stream: its picture was told once, for the track before.
    const QString art = tags.tags().artUrl;
    const qint64 length = fileLength;
    ++generation;
    url = rangeSwitch.path;
    openMedia(url, false, art);
    fileLength = length;
    ended = false;
    lastEndWasError = false;
    duration = 0;
    reportedDuration = 0;
    const quint64 gen = generation;
    emit q->mediaChanged();
    if (gen == generation)
        learnDuration();
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
