#pragma once

#include <QStringView>

#include <optional>

// How loud tracks are levelled by their ReplayGain tags: the user's choice.
struct ReplayGainSettings
{
    enum Mode { Off, Track, Album };

    Mode mode = Track;
    // Added to the gain a track's tags give.
    double preAmpDb = 0;
    // Never more gain than the track's peak allows before it would clip.
    bool preventClipping = true;
    // The gain of a track whose tags give none.
    double fallbackDb = 0;

    bool operator==(const ReplayGainSettings &other) const = default;
};

// What a track's tags tell: gains in dB, peaks as linear sample values (1.0
// is full scale). A value a tag did not give, or gave malformed, is empty.
struct ReplayGainInfo
{
    std::optional<double> trackGain = std::nullopt;
    std::optional<double> trackPeak = std::nullopt;
    std::optional<double> albumGain = std::nullopt;
    std::optional<double> albumPeak = std::nullopt;

    bool operator==(const ReplayGainInfo &other) const = default;
    // Takes every value other has.
    void merge(const ReplayGainInfo &other);
};

namespace ReplayGain {

// The range of the pre-amp and of the fallback gain.
constexpr double kMinUserDb = -15;
constexpr double kMaxUserDb = 15;
// What the engine can apply.
constexpr double kMinGainDb = -60;
constexpr double kMaxGainDb = 20;

struct Result
{
    double gainDb = 0;
    // The gain may take the loudest samples past full scale: a limiter must
    // keep them in.
    bool limit = false;

    bool operator==(const Result &other) const = default;
};

// The gain for a track. Track mode takes the track's gain, else the album's;
// album mode the other way round. Each comes with its own peak.
Result compute(const ReplayGainSettings &settings, const ReplayGainInfo &info);

// A value as the engine read it; empty when it cannot be one (not finite, a
// gain beyond +-60 dB, a peak of zero or below). Peaks above full scale,
// which float decoders report, count as full scale.
std::optional<double> validGain(double db);
std::optional<double> validPeak(double peak);

// One tag given as "NAME=value" (the engine's form of the tags it has no name
// for), NAME in any case: REPLAYGAIN_TRACK_GAIN, _TRACK_PEAK, _ALBUM_GAIN,
// _ALBUM_PEAK as taggers write them ("-7.03 dB", "+2,5 dB", "0.988"), and
// R128_TRACK_GAIN, R128_ALBUM_GAIN of Opus files (1/256 dB against -23 LUFS,
// 5 dB below ReplayGain's reference). Returns true when it named one of
// these; a malformed value then leaves info as it was.
bool readComment(QStringView comment, ReplayGainInfo *info);

} // namespace ReplayGain
