#include "ReplayGain.h"

#include <QLocale>
#include <QString>

#include <algorithm>
#include <cmath>

namespace {

// The bounds rgvolume itself takes a tag's gain within.
constexpr double kMaxTagGainDb = 60;
// A tag longer than this is no number a tagger wrote.
constexpr qsizetype kMaxValueLength = 32;
// Opus gains are Q7.8 fixed point against -23 LUFS; ReplayGain's reference is -18.
constexpr double kR128Step = 256;
constexpr double kR128ToReplayGainDb = 5;

double decibels(double peak)
{
    return 20 * std::log10(peak);
}

// "-7.03 dB", "+2,5 dB", "0.988": a number, a decimal comma as some taggers
// write it, and a unit.
std::optional<double> number(QStringView text)
{
    text = text.trimmed();
    if (text.size() > kMaxValueLength)
        return std::nullopt;
    if (text.endsWith(u"db", Qt::CaseInsensitive))
        text.chop(2);
    QString digits = text.trimmed().toString();
    if (!digits.contains(QLatin1Char('.')))
        digits.replace(QLatin1Char(','), QLatin1Char('.'));
    if (digits.startsWith(QLatin1Char('+')))
        digits.remove(0, 1);
    bool ok = false;
    const double value = QLocale::c().toDouble(digits, &ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

std::optional<double> r128Gain(QStringView text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < -32768 || value > 32767)
        return std::nullopt;
    return value / kR128Step + kR128ToReplayGainDb;
}

} // namespace

void ReplayGainInfo::merge(const ReplayGainInfo &other)
{
    for (auto [mine, theirs] : {std::pair{&trackGain, &other.trackGain},
                                {&trackPeak, &other.trackPeak},
                                {&albumGain, &other.albumGain},
                                {&albumPeak, &other.albumPeak}}) {
        if (*theirs)
            *mine = *theirs;
    }
}

namespace ReplayGain {

Result compute(const ReplayGainSettings &settings, const ReplayGainInfo &info)
{
    if (settings.mode == ReplayGainSettings::Off)
        return {};
    const bool album = settings.mode == ReplayGainSettings::Album;
    std::optional<double> gain = album ? info.albumGain : info.trackGain;
    std::optional<double> peak = album ? info.albumPeak : info.trackPeak;
    if (!gain) {
        gain = album ? info.trackGain : info.albumGain;
        peak = album ? info.trackPeak : info.albumPeak;
    }
    double db = settings.fallbackDb;
    if (gain) {
        db = *gain + settings.preAmpDb;
        if (settings.preventClipping && peak)
            db = std::min(db, -decibels(*peak));
    } else {
        peak.reset(); // nothing known of an untagged track's loudest sample
    }
    db = std::clamp(db, kMinGainDb, kMaxGainDb);
    // Without a known peak the track may already reach full scale.
    return {db, db + (peak ? decibels(*peak) : 0.0) > 0};
}

std::optional<double> validGain(double db)
{
    if (!std::isfinite(db) || std::abs(db) >= kMaxTagGainDb)
        return std::nullopt;
    return db;
}

std::optional<double> validPeak(double peak)
{
    if (!std::isfinite(peak) || peak <= 0)
        return std::nullopt;
    return std::min(peak, 1.0);
}

bool readComment(QStringView comment, ReplayGainInfo *info)
{
    const qsizetype equals = comment.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return false;
    const QStringView name = comment.first(equals).trimmed();
    const QStringView value = comment.sliced(equals + 1);
    const auto is = [&](const char *tag) {
        return name.compare(QLatin1String(tag), Qt::CaseInsensitive) == 0;
    };
    const auto gainOf = [](std::optional<double> db) { return db ? validGain(*db) : std::nullopt; };
    const auto peakOf = [](std::optional<double> peak) { return peak ? validPeak(*peak) : std::nullopt; };
    std::optional<double> *target = nullptr;
    std::optional<double> read;
    if (is("REPLAYGAIN_TRACK_GAIN") || is("REPLAYGAIN_ALBUM_GAIN")) {
        target = is("REPLAYGAIN_TRACK_GAIN") ? &info->trackGain : &info->albumGain;
        read = gainOf(number(value));
    } else if (is("REPLAYGAIN_TRACK_PEAK") || is("REPLAYGAIN_ALBUM_PEAK")) {
        target = is("REPLAYGAIN_TRACK_PEAK") ? &info->trackPeak : &info->albumPeak;
        read = peakOf(number(value));
    } else if (is("R128_TRACK_GAIN") || is("R128_ALBUM_GAIN")) {
        target = is("R128_TRACK_GAIN") ? &info->trackGain : &info->albumGain;
        read = gainOf(r128Gain(value));
    } else {
        return false;
    }
    if (read)
        *target = read;
    return true;
}

} // namespace ReplayGain
