#pragma once

#include "Equalizer.h"
#include "ReplayGain.h"

#include <QObject>
#include <QStringList>

class MediaComponent;
class PlayerSettings;
class QTimer;

// The player's ReplayGain and equalizer choices: read from the settings file
// at start and handed to the engine, changed by the equalizer window, and
// written back. It alone knows their keys in the file.
class SoundShaping : public QObject
{
    Q_OBJECT
public:
    // A name of the user's own presets: not empty, no longer than this, no
    // "/" or "\" (the file's groups), no control characters.
    static constexpr qsizetype kMaxPresetName = 24;
    static constexpr int kMaxUserPresets = 64;

    SoundShaping(PlayerSettings &settings, MediaComponent *media, QObject *parent = nullptr);
    // Writes what is still waiting to be written.
    ~SoundShaping() override;

    const ReplayGainSettings &replayGain() const { return m_replayGain; }
    const EqualizerSettings &equalizer() const { return m_equalizer; }
    // Clamped, heard at once and written shortly after: a slider being dragged
    // changes them many times a second.
    void setReplayGain(const ReplayGainSettings &settings);
    void setEqualizer(const EqualizerSettings &settings);

    // The built-in presets, then the user's own.
    QList<Equalizer::Preset> presets() const;
    bool isBuiltIn(const QString &name) const;
    // The preset whose values the equalizer has now; empty for none.
    QString currentPreset() const;
    // Takes the preset's values (the switch stays as it is).
    void applyPreset(const QString &name);
    // Keeps the equalizer's values under name, replacing a preset of the
    // user's of that name. False when the name cannot be one (see above, a
    // built-in preset's, one too many).
    bool savePreset(const QString &name);
    void deletePreset(const QString &name);

signals:
    // The choices or the presets changed, whoever changed them.
    void changed();

private:
    void load();
    void writeChoices();
    // Written shortly, and told.
    void choicesChanged();

    PlayerSettings &m_settings;
    MediaComponent *m_media;
    ReplayGainSettings m_replayGain;
    EqualizerSettings m_equalizer;
    QList<Equalizer::Preset> m_userPresets;
    QTimer *m_writeLater;
};
