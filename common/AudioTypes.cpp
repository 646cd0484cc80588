#include "AudioTypes.h"

namespace AudioTypes {

namespace {

struct Row
{
    const char *suffix;
    const char *mimeTypes; // separated by ';'
    bool playlist;
};

constexpr Row kRows[] = {
#define AUDIO_TYPE(suffix, mimeTypes) {suffix, mimeTypes, false},
#define PLAYLIST_TYPE(suffix, mimeTypes) {suffix, mimeTypes, true},
#include "AudioTypes.inc"
#undef AUDIO_TYPE
#undef PLAYLIST_TYPE
};

} // namespace

bool isAudioFileName(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return false;
    const QStringView suffix = QStringView(name).mid(dot + 1);
    for (const Row &row : kRows) {
        if (!row.playlist && suffix.compare(QLatin1String(row.suffix), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isPlaylistFileName(const QString &name)
{
    for (const Row &row : kRows) {
        if (row.playlist && name.endsWith(QLatin1String(row.suffix)))
            return true;
    }
    return false;
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
