#include "GstNextMedia.h"

void GstNextMedia::attach(GstElement *playbin, GstElement *audioSink, GstBus *bus)
{
    std::lock_guard lock(m_mutex);
    GstPad *pad = audioSink ? gst_element_get_static_pad(audioSink, "sink") : nullptr;
    if (!pad) {
        m_allowed = false;
        return;
    }
    m_playbin = playbin;
    m_audioSink = audioSink;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &GstNextMedia::onSinkEvent, this, nullptr);
    gst_object_unref(pad);
    g_signal_connect(playbin, "about-to-finish", G_CALLBACK(&GstNextMedia::onAboutToFinish), this);
    gst_bus_set_sync_handler(bus, &GstNextMedia::onBusMessage, this, nullptr);
}

void GstNextMedia::setWanted(const QByteArray &uri, const QString &path, qint64 start, qint64 end)
{
    std::lock_guard lock(m_mutex);
    m_wanted = uri;
    m_wantedPath = path;
    m_wantedStart = start;
    m_wantedEnd = end;
}

void GstNextMedia::setCurrent(const QByteArray &uri, qint64 start, qint64 end)
{
    std::lock_guard lock(m_mutex);
    m_currentUri = uri;
    // A range that starts later but runs to the file's end needs no segment.
    m_currentEnd = start > 0 || end >= 0 ? end : -1;
}

void GstNextMedia::setAllowed(bool allowed)
{
    std::lock_guard lock(m_mutex);
    m_allowed = allowed && m_audioSink;
}

bool GstNextMedia::isQueued() const
{
    std::lock_guard lock(m_mutex);
    return !m_queued.isEmpty() && !m_started;
}

bool GstNextMedia::isQueuedMediaError(GstMessage *error) const
{
    std::lock_guard lock(m_mutex);
    return !m_queued.isEmpty() && !m_started && servesQueuedAlone(GST_MESSAGE_SRC(error));
}

bool GstNextMedia::servesQueuedAlone(GstObject *source) const
{
    return source && source != GST_OBJECT(m_playbin) && source != GST_OBJECT(m_audioSink) &&
           !gst_object_has_as_ancestor(source, GST_OBJECT(m_audioSink));
}

std::optional<QString> GstNextMedia::takeStarted()
{
    std::lock_guard lock(m_mutex);
    if (m_queued.isEmpty() || !m_started)
        return std::nullopt;
    const QString path = m_queuedPath;
    m_queued.clear();
    m_started = m_failed = m_ended = false;
    m_wanted.clear();
    m_currentUri = m_queued;
    m_currentEnd = -1;
    return path;
}

std::optional<GstNextMedia::Continued> GstNextMedia::takeContinued()
{
    std::lock_guard lock(m_mutex);
    if (!m_continuing || !m_continueStarted)
        return std::nullopt;
    m_continuing = m_continueStarted = false;
    m_wanted.clear();
    return m_continued;
}

void GstNextMedia::clear(bool keepWanted)
{
    std::lock_guard lock(m_mutex);
    m_queued.clear();
    m_started = m_failed = m_ended = false;
    m_continuing = m_continueStarted = false;
    if (!keepWanted)
        m_wanted.clear();
}

bool GstNextMedia::mustNotPlay() const
{
    return m_failed || !m_allowed || m_wanted != m_queued;
}

void GstNextMedia::onAboutToFinish(GstElement *playbin, gpointer self)
{
    auto *next = static_cast<GstNextMedia *>(self);
    std::lock_guard lock(next->m_mutex);
    // A range of a file other than all of it needs a seek that playbin cannot take for queued media.
    if (!next->m_queued.isEmpty() || next->m_wanted.isEmpty() || !next->m_allowed ||
        next->m_wantedStart > 0 || next->m_wantedEnd >= 0)
        return; // nothing to add: the current media ends as usual
    g_object_set(playbin, "uri", next->m_wanted.constData(), nullptr);
    next->m_queued = next->m_wanted;
    next->m_queuedPath = next->m_wantedPath;
    next->m_started = next->m_failed = next->m_ended = false;
}

GstPadProbeReturn GstNextMedia::onSinkEvent(GstPad *, GstPadProbeInfo *info, gpointer self)
{
    auto *next = static_cast<GstNextMedia *>(self);
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    const GstEventType type = GST_EVENT_TYPE(event);
    if (type == GST_EVENT_SEGMENT_DONE || type == GST_EVENT_SEGMENT)
        return next->onRangeEvent(info);
    if (type == GST_EVENT_FLUSH_STOP) {
        // A seek in the current track: what was sought beyond it is flushed away.
        std::lock_guard lock(next->m_mutex);
        if (next->m_continuing) {
            next->m_continuing = next->m_continueStarted = false;
            next->m_currentEnd = next->m_endBefore;
        }
        return GST_PAD_PROBE_OK;
    }
    if (type != GST_EVENT_STREAM_GROUP_DONE && type != GST_EVENT_STREAM_START)
        return GST_PAD_PROBE_OK;

    std::lock_guard lock(next->m_mutex);
    if (next->m_queued.isEmpty() || next->m_started)
        return GST_PAD_PROBE_OK;
    if (next->m_ended)
        return GST_PAD_PROBE_DROP; // the queued stream's start: it stays out of the sink
    if (!next->mustNotPlay()) {
        if (type == GST_EVENT_STREAM_START)
            next->m_started = true;
        return GST_PAD_PROBE_OK;
    }
    // The current media is over (its group is done, or the queued one begins
    // without saying so): the sink plays out what it has and reports the end.
    next->m_ended = true;
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_eos();
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn GstNextMedia::onRangeEvent(GstPadProbeInfo *info)
{
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    std::unique_lock lock(m_mutex);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT_DONE) {
        if (m_continuing && !m_continueStarted)
            return GST_PAD_PROBE_DROP; // the demuxer has run on already
        // The sink has all of the range: the last moment to run on, at the
        // cost of a short wait for the demuxer.
        if (takeAdjacent()) {
            const Continued range = m_continued;
            lock.unlock();
            if (seekAdjacent(range))
                return GST_PAD_PROBE_DROP;
            lock.lock();
        }
    } else {
        // The demuxer may be a range ahead: only the segment sought counts.
        const GstSegment *segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (!m_continuing || m_continueStarted || segment->format != GST_FORMAT_TIME ||
            gint64(segment->start) != m_continued.start)
            return GST_PAD_PROBE_OK;
        if (!mustNotContinue()) {
            m_continueStarted = true;
            lock.unlock();
            // Outside the lock: the bus's own handler takes it.
            gst_element_post_message(m_playbin,
                                     gst_message_new_application(GST_OBJECT(m_playbin),
                                                                 gst_structure_new_empty(kContinuedMessage)));
            return GST_PAD_PROBE_OK;
        }
        // Changed in the last moment: the current track ends at its end after all.
        m_continuing = false;
    }
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_eos();
    return GST_PAD_PROBE_OK;
}

bool GstNextMedia::mustNotContinue() const
{
    return !m_allowed || m_wanted != m_continued.uri || m_wantedStart != m_continued.start ||
           m_wantedEnd != m_continued.end;
}

bool GstNextMedia::takeAdjacent()
{
    if (!m_allowed || m_currentEnd < 0 || m_wanted.isEmpty() || m_wanted != m_currentUri ||
        m_wantedStart != m_currentEnd || (m_continuing && !m_continueStarted))
        return false;
    m_continuing = true;
    m_continueStarted = false;
    m_continued = {m_wantedPath, m_wanted, m_wantedStart, m_wantedEnd};
    m_endBefore = m_currentEnd;
    m_currentEnd = m_wantedEnd;
    return true;
}

bool GstNextMedia::seekAdjacent(const Continued &range)
{
    // Without a flush: the stream goes on from where the range before ended.
    // The stop is always set: left alone, the one of the range before would stay.
    const auto flags = GstSeekFlags(GST_SEEK_FLAG_ACCURATE | GST_SEEK_FLAG_SEGMENT);
    if (gst_element_seek(m_playbin, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, range.start,
                         GST_SEEK_TYPE_SET, range.end >= 0 ? range.end : gint64(GST_CLOCK_TIME_NONE)))
        return true;
    std::lock_guard lock(m_mutex);
    m_continuing = false;
    return false;
}

void GstNextMedia::onSegmentDone()
{
    Continued range;
    {
        std::lock_guard lock(m_mutex);
        // Not wanted yet: asked again once the sink has the rest of the range.
        if (!takeAdjacent())
            return;
        range = m_continued;
    }
    // From the thread that finished the range, before the sink runs dry.
    // Never under the lock, as the seek may wait for the sink.
    seekAdjacent(range);
}

GstBusSyncReply GstNextMedia::onBusMessage(GstBus *, GstMessage *message, gpointer self)
{
    auto *next = static_cast<GstNextMedia *>(self);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_SEGMENT_DONE) {
        next->onSegmentDone();
        return GST_BUS_PASS;
    }
    // Marked here, on the thread that failed, so that the sink knows before
    // the current media's last data reaches it.
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR)
        return GST_BUS_PASS;
    std::lock_guard lock(next->m_mutex);
    if (!next->m_queued.isEmpty() && !next->m_started && next->servesQueuedAlone(GST_MESSAGE_SRC(message)))
        next->m_failed = true;
    return GST_BUS_PASS;
}
