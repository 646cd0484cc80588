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
//
// A track of an image file plays as a range of that file: a segment seek
// that ends where the next track begins, the demuxer then telling "segment
// done" instead of the end of the stream. When the media wanted next is the
// adjacent range of the same file, the streaming thread that tells it seeks
// on into that range at once, without a flush, so the stream runs on without
// a gap; otherwise the sink is given an end of stream in place of "segment
// done", and the current track ends there as any media does. What is not
// wanted yet when the demuxer gets there is asked again when "segment done"
// reaches the sink, the last moment to run on.
class GstNextMedia
{
public:
    GstNextMedia() = default;
    GstNextMedia(const GstNextMedia &) = delete;
    GstNextMedia &operator=(const GstNextMedia &) = delete;

    // Hooks into playbin, its audio sink and its bus. Without an audio sink of
    // our own nothing can be taken back, so nothing is queued.
    void attach(GstElement *playbin, GstElement *audioSink, GstBus *bus);

    // UI thread. The media to follow the current one (its URI, the path
    // the caller knows it by, and the range of the file it plays, in
    // nanoseconds; an end of -1 is the file's end); an empty URI for none.
    void setWanted(const QByteArray &uri, const QString &path, qint64 start = 0, qint64 end = -1);
    // UI thread. The media now opened and the range of it that plays.
    void setCurrent(const QByteArray &uri, qint64 start, qint64 end);
    // Whether media may be queued at all (not at another rate than normal,
    // nor while the current media is being reopened).
    void setAllowed(bool allowed);
    // Media has been handed to playbin and has not started yet. (A seek in
    // the current track just flushes an adjacent range sought away.)
    bool isQueued() const;
    // An error that belongs to the queued media: one while it is queued, from
    // an element that serves it alone (not the sink, not playbin).
    bool isQueuedMediaError(GstMessage *error) const;
    // The queued media has started at the sink: the path it was wanted by.
    // The queue is then empty again, nothing wanted.
    std::optional<QString> takeStarted();
    // The adjacent range the stream ran on into has reached the sink (the
    // bus then carries an application message named kContinuedMessage).
    struct Continued
    {
        QString path;
        QByteArray uri;
        qint64 start = 0;
        qint64 end = -1;
    };
    static constexpr char kContinuedMessage[] = "tamsel-range-continued";
    std::optional<Continued> takeContinued();
    // The pipeline went to NULL: nothing is queued any more.
    void clear(bool keepWanted);

private:
    static void onAboutToFinish(GstElement *playbin, gpointer self);
    static GstPadProbeReturn onSinkEvent(GstPad *pad, GstPadProbeInfo *info, gpointer self);
    static GstBusSyncReply onBusMessage(GstBus *bus, GstMessage *message, gpointer self);
    GstPadProbeReturn onRangeEvent(GstPadProbeInfo *info);
    // Under the lock: the queued media must not start.
    bool mustNotPlay() const;
    bool servesQueuedAlone(GstObject *source) const;
    // Streaming thread: the demuxer has finished the current range.
    void onSegmentDone();
    // Under the lock: the media wanted is the range right after the current
    // one of the same file; it is then taken as the one being sought.
    bool takeAdjacent();
    // Not under the lock.
    bool seekAdjacent(const Continued &range);
    // Under the lock: the adjacent range sought must not play after all.
    bool mustNotContinue() const;

    mutable std::mutex m_mutex;
    GstElement *m_playbin = nullptr;
    GstElement *m_audioSink = nullptr;
    QByteArray m_wanted;
    QString m_wantedPath;
    qint64 m_wantedStart = 0;
    qint64 m_wantedEnd = -1;
    // The range the demuxer plays now: a track's end is told as "segment done".
    QByteArray m_currentUri;
    qint64 m_currentEnd = -1;
    // The adjacent range sought at "segment done", until the UI thread takes it.
    bool m_continuing = false;
    bool m_continueStarted = false; // its segment reached the sink
    Continued m_continued;
    qint64 m_endBefore = -1; // the current end before it
    bool m_allowed = true;
    QByteArray m_queued; // empty: nothing queued
    QString m_queuedPath;
    bool m_failed = false;  // the queued media could not be opened
    bool m_started = false; // its stream reached the sink
    bool m_ended = false;   // the current media was ended in its place
};
