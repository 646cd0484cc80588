#pragma once

#include <QByteArray>
#include <QString>

#include <gst/gst.h>

#include <mutex>
#include <optional>

// The media that follows the current one without a gap, handed to playbin
// before the current one ends.
//
// Threads. playbin asks for the next media on one of its streaming threads
// ("about-to-finish", about a second before the end) and takes only what it is
// given there and then. Asking the UI thread at that moment would mean
// waiting for it, and the UI thread may itself be waiting for that streaming
// thread (a change to NULL joins it) or sit in a modal box. So the UI thread
// says ahead of time what follows, each time that changes (setWanted), and the
// streaming thread only reads it under the lock. Under the lock the streaming
// thread sets playbin's "uri", which waits for nothing the UI thread holds;
// the UI thread never calls into the pipeline under it.
//
// A queued media cannot be taken back from playbin. When the UI thread wants
// another one before the queued media has started (a user's action in the
// last second), or the queued media fails to open, the current media is ended
// at the sink in its place: the queued stream never reaches the sink, and the
// current media ends as if nothing had been queued.
class GstNextMedia
{
public:
    GstNextMedia() = default;
    GstNextMedia(const GstNextMedia &) = delete;
    GstNextMedia &operator=(const GstNextMedia &) = delete;

    // Hooks into playbin, its audio sink and its bus. Without an audio sink of
    // our own nothing can be taken back, so nothing is queued.
    void attach(GstElement *playbin, GstElement *audioSink, GstBus *bus);

    // UI thread. The media to follow the current one (its URI and the path
    // the caller knows it by); an empty URI for none.
    void setWanted(const QByteArray &uri, const QString &path);
    // Whether media may be queued at all (not at another rate than normal,
    // nor while the current media is being reopened).
    void setAllowed(bool allowed);
    // Media has been handed to playbin and has not started yet.
    bool isQueued() const;
    // An error that belongs to the queued media: one while it is queued, from
    // an element that serves it alone (not the sink, not playbin).
    bool isQueuedMediaError(GstMessage *error) const;
    // The queued media has started at the sink: the path it was wanted by.
    // The queue is then empty again, nothing wanted.
    std::optional<QString> takeStarted();
    // The pipeline went to NULL: nothing is queued any more.
    void clear(bool keepWanted);

private:
    static void onAboutToFinish(GstElement *playbin, gpointer self);
    static GstPadProbeReturn onSinkEvent(GstPad *pad, GstPadProbeInfo *info, gpointer self);
    static GstBusSyncReply onBusMessage(GstBus *bus, GstMessage *message, gpointer self);
    // Under the lock: the queued media must not start.
    bool mustNotPlay() const;
    bool servesQueuedAlone(GstObject *source) const;

    mutable std::mutex m_mutex;
    GstElement *m_playbin = nullptr;
    GstElement *m_audioSink = nullptr;
    QByteArray m_wanted;
    QString m_wantedPath;
    bool m_allowed = true;
    QByteArray m_queued; // empty: nothing queued
    QString m_queuedPath;
    bool m_failed = false;  // the queued media could not be opened
    bool m_started = false; // its stream reached the sink
    bool m_ended = false;   // the current media was ended in its place
};
