#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

// The player's one settings file: what the features beyond the window's own
// controls remember between runs (the lyrics window, the equalizer,
// ReplayGain). Volume, speed, play mode, the list and the window's place are
// never kept here: they start from their design values at every start.
//
// An INI file in the user's config folder, replaced whole on every change
// (QSettings writes a new file and renames it over the old one). A file that
// cannot be read counts as empty and values out of range are clamped; a
// folder that cannot be written only means nothing is remembered. Neither
// ever stops the player.
class PlayerSettings
{
public:
    // fileName empty: the user's config folder, TamselMP3Player/settings.ini.
    explicit PlayerSettings(const QString &fileName = QString());
    PlayerSettings(const PlayerSettings &) = delete;
    PlayerSettings &operator=(const PlayerSettings &) = delete;

    static QString defaultFileName();
    QString fileName() const;

    // Each read gives fallback for a missing or unreadable value, and a
    // number clamped to its range.
    int integer(const QString &key, int fallback, int lowest, int highest) const;
    double real(const QString &key, double fallback, double lowest, double highest) const;
    bool flag(const QString &key, bool fallback) const;
    // At most maxLength characters.
    QString text(const QString &key, const QString &fallback = QString(), qsizetype maxLength = 256) const;
    // The keys directly under group ("equalizer/presets"), at most maxKeys of them.
    QStringList keysUnder(const QString &group, int maxKeys = 256) const;

    // Written to the file at once; a file that cannot be written is left as it is.
    void set(const QString &key, const QVariant &value);
    void remove(const QString &key);

private:
    mutable QSettings m_store;
};
