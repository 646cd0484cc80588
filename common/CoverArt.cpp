#include "CoverArt.h"

#include "AtomicFile.h"
#include "RegularFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace CoverArt {

namespace {

// The file name suffix of a picture, from its first bytes; empty for anything else.
QString pictureSuffix(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral("jpg");
    if (bytes.startsWith("\x89PNG\r\n\x1A\n"))
        return QStringLiteral("png");
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return QStringLiteral("gif");
    if (bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP")
        return QStringLiteral("webp");
    if (bytes.startsWith("BM"))
        return QStringLiteral("bmp");
    return QString();
}

QString urlOf(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

// Removes the least recently used pictures beyond the cache's bounds; names
// that are not the cache's own are left alone.
void trim(const QString &folder)
{
    static const QRegularExpression kCacheName(QStringLiteral("^[0-9a-f]{64}\\.[a-z]{3,4}$"));
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden, QDir::Time);
    int kept = 0;
    qint64 bytes = 0;
    for (const QFileInfo &file : files) { // newest first
        if (!kCacheName.match(file.fileName()).hasMatch())
            continue;
        if (kept < kMaxCachedPictures && bytes + file.size() <= kMaxCacheBytes) {
            ++kept;
            bytes += file.size();
        } else {
            QFile::remove(file.filePath());
        }
    }
}

} // namespace

QString cacheFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/covers");
}

QString storeEmbedded(const QByteArray &picture, const QString &folder)
{
    const QString suffix = pictureSuffix(picture);
    if (folder.isEmpty() || suffix.isEmpty() || picture.size() > kMaxPictureBytes)
        return QString();
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(picture, QCryptographicHash::Sha256).toHex());
    const QString path = folder + QLatin1Char('/') + name + QLatin1Char('.') + suffix;

    QFile cached(path);
    if (RegularFile::exists(path) && cached.size() == picture.size()) {
        // Used again: the last to be evicted.
        if (cached.open(QIODevice::ReadWrite))
            cached.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
        return urlOf(path);
    }
    if (!QDir().mkpath(folder) || !AtomicFile::write(path, picture))
        return QString();
    trim(folder);
    return urlOf(path);
}

QString besideFile(const QString &audioFile)
{
    static const char *const kNames[] = {"cover.jpg",  "Cover.jpg",  "cover.png", "Cover.png",
                                         "folder.jpg", "Folder.jpg", "front.jpg", "Front.jpg"};
    const QDir folder = QFileInfo(audioFile).absoluteDir();
    for (const char *name : kNames) {
        const QString path = folder.filePath(QLatin1String(name));
        if (RegularFile::exists(path) && QFileInfo(path).size() <= kMaxPictureBytes)
            return urlOf(path);
    }
    return QString();
}

} // namespace CoverArt
