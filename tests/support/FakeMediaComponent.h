#pragma once

#include "MediaComponent.h"

#include <QStringList>

// A media component under the test's control: it records every call, and the
// test decides when the state changes (setState emits statusChange).
class FakeMediaComponent : public MediaComponent
{
    Q_OBJECT
public:
    using MediaComponent::MediaComponent;

    // Scripting.
    void setState(int state);
    void setMedia(const QString &name, double duration);
    // The engine has worked out the length (emits durationChanged).
    void learnDuration(double seconds);
    void setPosition(double seconds) { m_position = seconds; }
    // What the tags tell (emits tagsChanged).
    void setTags(const TrackTags &tags);
    void refuseRates(bool refuse) { m_refuseRates = refuse; }
    // The next end reported is an error (or not).
    void setEndIsError(bool error) { m_endIsError = error; }
    // The media queued with setNextUrl starts without a gap, as the engine
    // does at the end of the current one: no stop, only mediaChanged. False
    // when nothing is queued.
    bool startNext();

    // What the player did; each call appends its name ("setUrl:<path>", "play", ...).
    QStringList calls;
    QStringList urls;
    // The media the player has queued to follow the current one.
    QString nextUrl;
    // The sound shaping last set.
    ReplayGainSettings replayGain;
    EqualizerSettings equalizer;

    void setUrl(const QString &path) override;
    QString url() const override { return m_url; }
    void setNextUrl(const QString &path) override { nextUrl = path; }
    int playState() const override { return m_state; }
    void play() override;
    void pause() override;
    void stop() override;
    double currentPosition() const override { return m_position; }
    void setCurrentPosition(double seconds) override;
    QString currentPositionString() const override { return timeText(m_position); }
    QString currentMediaName() const override { return m_name; }
    TrackTags tags() const override { return m_tags; }
    double duration() const override { return m_duration; }
    QString durationString() const override { return timeText(m_duration); }
    int volume() const override { return m_volume; }
    void setVolume(int volume) override;
    bool mute() const override { return m_mute; }
    void setMute(bool on) override;
    double rate() const override { return m_rate; }
    bool setRate(double rate) override;
    int balance() const override { return m_balance; }
    bool lastEndWasError() const override { return m_endIsError; }
    void setBalance(int balance) override;
    void setReplayGain(const ReplayGainSettings &settings) override { replayGain = settings; }
    void setEqualizer(const EqualizerSettings &settings) override { equalizer = settings; }

private:
    QString m_url;
    int m_state = Undefined;
    QString m_name;
    double m_duration = 0;
    double m_position = 0;
    int m_volume = 50;
    bool m_mute = false;
    double m_rate = 1.0;
    int m_balance = 0;
    bool m_refuseRates = false;
    bool m_endIsError = false;
    TrackTags m_tags;
};
