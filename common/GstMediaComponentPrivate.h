#pragma once

// What GstMediaComponent.cpp and GstMediaComponentBus.cpp share: the engine's
// state, all of it on the UI thread except what GstNextMedia guards.
#include "GstAudioOutput.h"
#include "GstMediaComponent.h"
#include "GstNextMedia.h"
#include "GstTagReader.h"

#include <gst/gst.h>

class QSocketNotifier;

struct GstMediaComponent::Private
{
    explicit Private(GstMediaComponent *owner) : q(owner) {}

    GstMediaComponent *q;
    QString sinkFactory;

    GstElement *playbin = nullptr;
    GstAudioOutput output;
    GstElement *audioSink = nullptr;
    GstElement *volumeFilter = nullptr; // null: playbin makes the volume
    GstElement *panorama = nullptr;
    GstBus *bus = nullptr;
    QSocketNotifier *busNotifier = nullptr;
    GstNextMedia next;

    QString url;
    QByteArray uri; // what the engine opened for url
    // The part of the file url plays, in nanoseconds: all of it, or a track
    // of an image (ImageTrack). Positions and lengths count from its start.
    qint64 rangeStart = 0;
    qint64 rangeEnd = -1; // -1: the file's end
    // The length the engine last told, and when: asking for it goes through
    // every element of the pipeline, so the answer is kept until the stream
    // changes (a new media, a stream start, "duration changed") or grows old, since a
    // length estimated from the bit rate drifts without being told.
    mutable qint64 fileLength = 0;
    mutable qint64 fileLengthAskedUs = 0;
    static constexpr qint64 kLengthKeptUs = 5 * G_USEC_PER_SEC;
    GstTagReader tags;
    int state = MediaComponent::Undefined;
    quint64 generation = 0;   // bumped by every new media; guards deferred work
    bool wantPlaying = false; // where the pipeline is heading: playing, or paused
    bool prerolled = false;   // reached PAUSED since the pipeline last left NULL
    bool ended = false;       // this run already reported its end
    double pendingSeek = 0;   // applied once prerolled; also the position shown until then
    bool reopening = false;   // the current media is being reopened at pendingSeek
    // How long an opened pipeline may take to preroll before it is opened
    // again, and how often; the token tells whether it has been left meanwhile.
    static constexpr int kPrerollWaitMs = 2000;
    static constexpr int kOpenAttempts = 3;
    quint64 openToken = 0;
    int openAttempts = 0; // of the current media, that did not preroll
    mutable double duration = 0;
    double reportedDuration = 0; // the length last told through durationChanged

    // The queued media has started at the sink; it is announced with its
    // first tags (or after a short wait), so that it is told complete.
    bool switchPending = false;
    QString switchPath;
    // The adjacent track of the same image the stream ran on into.
    GstNextMedia::Continued rangeSwitch;

    // The end-of-track handler opens the next media from inside the end
    // notification and then expects one more "stopped" once it has opened.
    bool inEndNotification = false;
    bool stoppedReportArmed = false;
    bool lastEndWasError = false;

    int volume = 50;
    bool mute = false;
    double rate = 1.0;
    int balance = 0;

    // The local file a media path names: a path, or a file:// URL. Empty for
    // anything else, so that a playlist line cannot reach the network or a device.
    static QString localFileOf(const QString &path);
    // The URI the engine opens for a media path; empty when it names no
    // regular file.
    static QByteArray playableUri(const QString &path);

    bool ranged() const { return rangeStart > 0 || rangeEnd >= 0; }
    // Sets uri, the range and the tags for a media path; tellNext also tells
    // GstNextMedia, unless the stream already runs on in it. art: a picture
    // the track keeps from the one before it.
    void openMedia(const QString &path, bool tellNext, const QString &art = QString());
    // Prerolled: seeks into the range; false when it cannot be played.
    bool startRange();
    // Where playback starts: straight away, or paused until the range is sought.
    void startPipeline();

    bool ensureEngine();
    void applyVolume();
    void applyBalance();
    void updateQueueAllowed();

    void drainBus();
    void handleMessage(GstMessage *msg);
    void onPipelineState(GstState newState);
    void handleTags(GstMessage *msg);
    void handleError(GstMessage *msg);
    void completeSwitch(const GstTagList *firstTags = nullptr);
    void completeRangeSwitch();
    void onRangeContinued();
    void finishMedia(bool error);
    void endLater();
    void learnDuration();

    void setPipelineState(GstState target);
    void resetToNull(bool keepNext = false);
    void reopenAt(double seconds);
    // Seconds from the start of the range; false when the engine refused.
    bool seekTo(double seconds);
    void applyRate();

    void setState(int newState);
    void reportStopped();
};
