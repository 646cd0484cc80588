#include "Equalizer.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

constexpr const char *kBandLabels[EqualizerSettings::kBands] = {"31", "62", "125", "250", "500",
                                                                "1K", "2K", "4K",  "8K",  "16K"};

// A number of a preset line is short; a longer field is no number.
constexpr qsizetype kMaxFieldLength = 16;

double clampedDb(double db)
{
    return std::isfinite(db) ? std::clamp(db, Equalizer::kMinDb, Equalizer::kMaxDb) : 0.0;
}

} // namespace

namespace Equalizer {

QString bandLabel(int band)
{
    return band >= 0 && band < EqualizerSettings::kBands ? QLatin1String(kBandLabels[band]) : QString();
}

bool Preset::matches(const EqualizerSettings &settings) const
{
    return preAmpDb == settings.preAmpDb && bandsDb == settings.bandsDb;
}

const QList<Preset> &builtInPresets()
{
    // Each pre-amp leaves room for the preset's strongest lift.
    static const QList<Preset> presets = {
        {QStringLiteral("流行"), -3, {-1, 0, 2, 4, 4, 2, 0, -1, -1, -1}},
        {QStringLiteral("摇滚"), -4, {5, 4, 2, -1, -2, -1, 1, 3, 4, 5}},
        {QStringLiteral("古典"), -1, {2, 1, 0, 0, 0, 0, -1, -2, -2, -3}},
        {QStringLiteral("爵士"), -2, {3, 2, 1, 2, -1, -1, 0, 1, 2, 3}},
        {QStringLiteral("舞曲"), -5, {6, 5, 3, 0, -1, -2, 0, 2, 3, 3}},
        {QStringLiteral("人声"), -3, {-2, -2, -1, 1, 3, 4, 3, 1, 0, -1}},
        {QStringLiteral("重低音"), -6, {8, 7, 5, 2, 0, 0, 0, 0, 0, 0}},
        {QStringLiteral("平坦"), 0, {}},
    };
    return presets;
}

EqualizerSettings clamped(EqualizerSettings settings)
{
    settings.preAmpDb = clampedDb(settings.preAmpDb);
    for (double &db : settings.bandsDb)
        db = clampedDb(db);
    return settings;
}

QString valuesText(const Preset &preset)
{
    QStringList fields{QString::number(preset.preAmpDb)};
    for (double db : preset.bandsDb)
        fields.append(QString::number(db));
    return fields.join(QLatin1Char(' '));
}

std::optional<Preset> fromValuesText(const QString &name, QStringView text)
{
    // Bounded before it is split: a line of a broken file can be any length.
    if (text.size() > (EqualizerSettings::kBands + 1) * (kMaxFieldLength + 1))
        return std::nullopt;
    const QList<QStringView> fields = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() != EqualizerSettings::kBands + 1)
        return std::nullopt;
    double values[EqualizerSettings::kBands + 1];
    for (int i = 0; i <= EqualizerSettings::kBands; ++i) {
        bool ok = false;
        values[i] = QLocale::c().toDouble(fields.at(i), &ok);
        if (!ok || !std::isfinite(values[i]))
            return std::nullopt;
        values[i] = clampedDb(values[i]);
    }
    Preset preset{name, values[0], {}};
    std::copy(values + 1, values + 1 + EqualizerSettings::kBands, preset.bandsDb.begin());
    return preset;
}

} // namespace Equalizer
