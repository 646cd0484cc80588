#include "AudioTypes.h"

namespace AudioTypes {

namespace {

enum class Kind { Audio, Playlist, Sheet };

struct Row
{
    const char *suffix;
    const char *mimeTypes; // separated by ';'
    Kind kind;
};

constexpr Row kRows[] = {
#define AUDIO_TYPE(suffix, mimeTypes) {suffix, mimeTypes, Kind::Audio},
#define PLAYLIST_TYPE(suffix, mimeTypes) {suffix, mimeTypes, Kind::Playlist},
#define SHEET_TYPE(suffix, mimeTypes) {suffix, mimeTypes, Kind::Sheet},
#include "AudioTypes.inc"
#undef AUDIO_TYPE
#undef PLAYLIST_TYPE
#undef SHEET_TYPE
};

// The player's own playlist type, which the add dialog knows only in lower case.
constexpr char kOwnPlaylist[] = "m3u";

bool hasSuffixOf(const QString &name, Kind kind)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return false;
    const QStringView suffix = QStringView(name).mid(dot + 1);
    for (const Row &row : kRows) {
        if (row.kind == kind && suffix.compare(QLatin1String(row.suffix), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

bool isAudioFileName(const QString &name)
{
    return hasSuffixOf(name, Kind::Audio);
}

bool isPlaylistFileName(const QString &name)
{
    if (name.endsWith(QLatin1String(kOwnPlaylist)))
        return true;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // Any case for the other players' types; only "m3u" itself is matched as the dialog does.
    return hasSuffixOf(name, Kind::Playlist) &&
           QStringView(name).mid(dot + 1).compare(QLatin1String(kOwnPlaylist), Qt::CaseInsensitive) != 0;
}

bool isSheetFileName(const QString &name)
{
    return hasSuffixOf(name, Kind::Sheet);
}

QStringList audioPatterns()
{
    QStringList patterns;
    for (const Row &row : kRows) {
        if (row.kind == Kind::Audio)
            patterns.append(QStringLiteral("*.") + QLatin1String(row.suffix));
    }
    return patterns;
}

QStringList mimeTypes()
{
    QStringList types;
    for (const Row &row : kRows) {
        for (const QString &type : QString::fromLatin1(row.mimeTypes).split(QLatin1Char(';'))) {
            if (!types.contains(type))
                types.append(type);
        }
    }
    return types;
}

} // namespace AudioTypes
