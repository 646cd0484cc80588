#pragma once

#include <QList>
#include <QString>

#include <array>
#include <optional>

// The ten-band equalizer as the user sets it.
struct EqualizerSettings
{
    static constexpr int kBands = 10;
    using Bands = std::array<double, kBands>;

    bool enabled = false;
    // dB, before the bands.
    double preAmpDb = 0;
    // dB per band, lowest band first.
    Bands bandsDb{};

    bool operator==(const EqualizerSettings &other) const = default;
};

namespace Equalizer {

// Every band and the pre-amp.
constexpr double kMinDb = -12;
constexpr double kMaxDb = 12;

// The label of each band, as shown under its slider: "31" ... "1K" ... "16K".
QString bandLabel(int band);

struct Preset
{
    QString name;
    double preAmpDb = 0;
    EqualizerSettings::Bands bandsDb{};

    bool operator==(const Preset &other) const = default;
    // The settings' values are this preset's.
    bool matches(const EqualizerSettings &settings) const;
};

// 流行, 摇滚, 古典, 爵士, 舞曲, 人声, 重低音, 平坦.
const QList<Preset> &builtInPresets();

// Values clamped to the range, a value that is no number taken as 0 dB.
EqualizerSettings clamped(EqualizerSettings settings);

// A preset's values as one line of text, the pre-amp first, and back. A
// line that is not eleven numbers gives nothing; numbers out of range are clamped.
QString valuesText(const Preset &preset);
std::optional<Preset> fromValuesText(const QString &name, QStringView text);

} // namespace Equalizer
