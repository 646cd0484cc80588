#pragma once

#include "MediaComponent.h"

#include <memory>

// MediaComponent on a GStreamer playbin. The pipeline is built on the first
// URL, so that a player that only starts pays nothing for the engine. Bus
// messages are read on the UI thread through the bus's poll descriptor; the
// UI thread never waits for a state change.
class GstMediaComponent : public MediaComponent
{
    Q_OBJECT
public:
    // sinkFactory names the audio sink element: "autoaudiosink" for the desktop,
    // "fakesink" (run with sync=true) for tests; a description with blanks or
    // "!" ("alsasink device=null") is built as a bin. An empty name takes the
    // environment variable TAMSEL_AUDIO_SINK, else "autoaudiosink".
    explicit GstMediaComponent(const QString &sinkFactory = QString(), QObject *parent = nullptr);
    ~GstMediaComponent() override;

    void setUrl(const QString &path) override;
    QString url() const override;
    void setNextUrl(const QString &path) override;
    int playState() const override;

    void play() override;
    void pause() override;
    void stop() override;

    double currentPosition() const override;
    void setCurrentPosition(double seconds) override;
    QString currentPositionString() const override;

    QString currentMediaName() const override;
    TrackTags tags() const override;
    double duration() const override;
    QString durationString() const override;

    int volume() const override;
    void setVolume(int volume) override;
    bool mute() const override;
    void setMute(bool on) override;

    double rate() const override;
    bool setRate(double rate) override;

    int balance() const override;
    void setBalance(int balance) override;

    void setReplayGain(const ReplayGainSettings &settings) override;
    void setEqualizer(const EqualizerSettings &settings) override;

    bool lastEndWasError() const override;

    // Slowest and fastest rates the engine accepts.
    static constexpr double kMinRate = 0.05;
    static constexpr double kMaxRate = 4.0;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
