#pragma once

#include "Equalizer.h"
#include "ReplayGain.h"
#include "TrackTags.h"

#include <QObject>
#include <QString>

// The playback engine as the player's windows see it. Assigning a URL opens the
// media and starts it by itself; statusChange() fires on every change of the
// play state, and the listener reads playState() itself.
//
// The media named by setNextUrl() follows the current one without a gap: the
// engine then reports no end and no stop, only mediaChanged() once the next
// media has really started.
class MediaComponent : public QObject
{
    Q_OBJECT
public:
    enum PlayState {
        Undefined = 0,
        Stopped = 1,
        Paused = 2,
        Playing = 3,
        Transitioning = 9,
    };

    using QObject::QObject;
    ~MediaComponent() override = default;

    virtual void setUrl(const QString &path) = 0;
    virtual QString url() const = 0;
    // The media to follow the current one without a gap, empty for none; set
    // again whenever that changes. It may be changed until the current media
    // is about to end; a change later than that (a user's action in the last
    // second) still wins, at the cost of a gap. Every new URL clears it.
    virtual void setNextUrl(const QString &path) { Q_UNUSED(path); }
    virtual int playState() const = 0;

    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;

    // Seconds from the start of the current media.
    virtual double currentPosition() const = 0;
    virtual void setCurrentPosition(double seconds) = 0;
    virtual QString currentPositionString() const = 0;

    // Title tag of the current media, else its file's base name.
    virtual QString currentMediaName() const = 0;
    // What the current media's tags tell so far.
    virtual TrackTags tags() const { return {}; }
    virtual double duration() const = 0;
    virtual QString durationString() const = 0;

    // 0..100; values outside are clamped.
    virtual int volume() const = 0;
    virtual void setVolume(int volume) = 0;
    virtual bool mute() const = 0;
    virtual void setMute(bool on) = 0;

    // 1.0 is normal speed. Returns false, and keeps the old rate, when the
    // engine refuses the value (zero or below, or beyond what it can play).
    virtual double rate() const = 0;
    virtual bool setRate(double rate) = 0;

    // -100 left only .. 0 both .. 100 right only.
    virtual int balance() const = 0;
    virtual void setBalance(int balance) = 0;

    // How loud each track plays by its ReplayGain tags, and the equalizer.
    // Heard at once, also while playing.
    virtual void setReplayGain(const ReplayGainSettings &settings) { Q_UNUSED(settings); }
    virtual void setEqualizer(const EqualizerSettings &settings) { Q_UNUSED(settings); }

    // True when the last end of media was an error (missing file, not audio).
    virtual bool lastEndWasError() const { return false; }

    // "00:00" style text of a number of seconds, the form used for both
    // position and duration texts.
    static QString timeText(double seconds);

signals:
    void statusChange();
    // The length of the current media became known or changed. Some files
    // (low bit rates, no length header) only tell it after playing a while.
    void durationChanged();
    // The media queued with setNextUrl() has started: url(), the name, the
    // tags and the length are now its own. The play state stays as it was.
    void mediaChanged();
    // The current media's tags told more (a title, an artist, a picture).
    void tagsChanged();
};
