#include "SoundShaping.h"

#include "MediaComponent.h"
#include "PlayerSettings.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

const QString kMode = QStringLiteral("replaygain/mode");
const QString kPreAmp = QStringLiteral("replaygain/preamp");
const QString kFallback = QStringLiteral("replaygain/fallback");
const QString kPreventClipping = QStringLiteral("replaygain/preventClipping");
const QString kEnabled = QStringLiteral("equalizer/enabled");
const QString kValues = QStringLiteral("equalizer/values");
const QString kPresets = QStringLiteral("equalizer/presets");

const char *const kModeNames[] = {"off", "track", "album"};

// Long enough to take a whole drag of a slider as one write.
constexpr int kWriteDelayMs = 400;

double userDb(double db)
{
    return std::isfinite(db) ? std::clamp(db, ReplayGain::kMinUserDb, ReplayGain::kMaxUserDb) : 0.0;
}

bool isUsableName(const QString &name)
{
    return !name.isEmpty() && name.size() <= SoundShaping::kMaxPresetName && name.trimmed() == name &&
           std::none_of(name.begin(), name.end(), [](QChar c) {
               return c == QLatin1Char('/') || c == QLatin1Char('\\') ||
                      c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
           });
}

QString presetKey(const QString &name)
{
    return kPresets + QLatin1Char('/') + name;
}

} // namespace

SoundShaping::SoundShaping(PlayerSettings &settings, MediaComponent *media, QObject *parent)
    : QObject(parent), m_settings(settings), m_media(media), m_writeLater(new QTimer(this))
{
    m_writeLater->setSingleShot(true);
    m_writeLater->setInterval(kWriteDelayMs);
    connect(m_writeLater, &QTimer::timeout, this, &SoundShaping::writeChoices);
    load();
    if (m_media) {
        m_media->setReplayGain(m_replayGain);
        m_media->setEqualizer(m_equalizer);
    }
}

SoundShaping::~SoundShaping()
{
    if (m_writeLater->isActive())
        writeChoices();
}

void SoundShaping::load()
{
    const QString mode = m_settings.text(kMode, QString(), 8);
    const auto *named = std::find(std::begin(kModeNames), std::end(kModeNames), mode);
    if (named != std::end(kModeNames))
        m_replayGain.mode = ReplayGainSettings::Mode(named - std::begin(kModeNames));
    m_replayGain.preAmpDb = m_settings.real(kPreAmp, 0, ReplayGain::kMinUserDb, ReplayGain::kMaxUserDb);
    m_replayGain.fallbackDb = m_settings.real(kFallback, 0, ReplayGain::kMinUserDb, ReplayGain::kMaxUserDb);
    m_replayGain.preventClipping = m_settings.flag(kPreventClipping, true);

    m_equalizer.enabled = m_settings.flag(kEnabled, false);
    if (const auto values = Equalizer::fromValuesText(QString(), m_settings.text(kValues))) {
        m_equalizer.preAmpDb = values->preAmpDb;
        m_equalizer.bandsDb = values->bandsDb;
    }
    // A broken line is no preset; the file keeps it until that name is saved again.
    for (const QString &name : m_settings.keysUnder(kPresets, kMaxUserPresets)) {
        if (!isUsableName(name) || isBuiltIn(name))
            continue;
        if (const auto preset = Equalizer::fromValuesText(name, m_settings.text(presetKey(name))))
            m_userPresets.append(*preset);
    }
}

void SoundShaping::writeChoices()
{
    m_writeLater->stop();
    m_settings.set(kMode, QLatin1String(kModeNames[m_replayGain.mode]));
    m_settings.set(kPreAmp, m_replayGain.preAmpDb);
    m_settings.set(kFallback, m_replayGain.fallbackDb);
    m_settings.set(kPreventClipping, m_replayGain.preventClipping);
    m_settings.set(kEnabled, m_equalizer.enabled);
    m_settings.set(kValues, Equalizer::valuesText({QString(), m_equalizer.preAmpDb, m_equalizer.bandsDb}));
}

void SoundShaping::setReplayGain(const ReplayGainSettings &settings)
{
    ReplayGainSettings clamped = settings;
    if (clamped.mode < ReplayGainSettings::Off || clamped.mode > ReplayGainSettings::Album)
        clamped.mode = ReplayGainSettings::Track;
    clamped.preAmpDb = userDb(clamped.preAmpDb);
    clamped.fallbackDb = userDb(clamped.fallbackDb);
    if (clamped == m_replayGain)
        return;
    m_replayGain = clamped;
    if (m_media)
        m_media->setReplayGain(m_replayGain);
    choicesChanged();
}

void SoundShaping::setEqualizer(const EqualizerSettings &settings)
{
    const EqualizerSettings clamped = Equalizer::clamped(settings);
    if (clamped == m_equalizer)
        return;
    m_equalizer = clamped;
    if (m_media)
        m_media->setEqualizer(m_equalizer);
    choicesChanged();
}

void SoundShaping::choicesChanged()
{
    m_writeLater->start();
    emit changed();
}

QList<Equalizer::Preset> SoundShaping::presets() const
{
    return Equalizer::builtInPresets() + m_userPresets;
}

bool SoundShaping::isBuiltIn(const QString &name) const
{
    const QList<Equalizer::Preset> &builtIn = Equalizer::builtInPresets();
    return std::any_of(builtIn.begin(), builtIn.end(),
                       [&](const auto &preset) { return preset.name == name; });
}

QString SoundShaping::currentPreset() const
{
    for (const Equalizer::Preset &preset : presets()) {
        if (preset.matches(m_equalizer))
            return preset.name;
    }
    return QString();
}

void SoundShaping::applyPreset(const QString &name)
{
    for (const Equalizer::Preset &preset : presets()) {
        if (preset.name == name) {
            EqualizerSettings settings = m_equalizer;
            settings.preAmpDb = preset.preAmpDb;
            settings.bandsDb = preset.bandsDb;
            setEqualizer(settings);
            return;
        }
    }
}

bool SoundShaping::savePreset(const QString &name)
{
    if (!isUsableName(name) || isBuiltIn(name))
        return false;
    const Equalizer::Preset preset{name, m_equalizer.preAmpDb, m_equalizer.bandsDb};
    auto same = std::find_if(m_userPresets.begin(), m_userPresets.end(),
                             [&](const auto &other) { return other.name == name; });
    if (same != m_userPresets.end())
        *same = preset;
    else if (m_userPresets.size() < kMaxUserPresets)
        m_userPresets.append(preset);
    else
        return false;
    m_settings.set(presetKey(name), Equalizer::valuesText(preset));
    emit changed();
    return true;
}

void SoundShaping::deletePreset(const QString &name)
{
    const auto removed = m_userPresets.removeIf([&](const auto &preset) { return preset.name == name; });
    if (removed == 0)
        return;
    m_settings.remove(presetKey(name));
    emit changed();
}
