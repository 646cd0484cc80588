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

void GstNextMedia::setWanted(const QByteArray &uri, const QString &path)
{
    std::lock_guard lock(m_mutex);
    m_wanted = uri;
    m_wantedPath = path;
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
    return path;
}

void GstNextMedia::clear(bool keepWanted)
{
    std::lock_guard lock(m_mutex);
    m_queued.clear();
    m_started = m_failed = m_ended = false;
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
    if (!next->m_queued.isEmpty() || next->m_wanted.isEmpty() || !next->m_allowed)
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

GstBusSyncReply GstNextMedia::onBusMessage(GstBus *, GstMessage *message, gpointer self)
{
    // Marked here, on the thread that failed, so that the sink knows before
    // the current media's last data reaches it.
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR)
        return GST_BUS_PASS;
    auto *next = static_cast<GstNextMedia *>(self);
    std::lock_guard lock(next->m_mutex);
    if (!next->m_queued.isEmpty() && !next->m_started && next->servesQueuedAlone(GST_MESSAGE_SRC(message)))
        next->m_failed = true;
    return GST_BUS_PASS;
}
