#pragma once

#include <QByteArray>
#include <QString>

// Pictures of tracks for desktop widgets. A picture embedded in a track is
// written once to the user's cache folder, under a name made from its hash;
// without one, a cover file beside the track stands in. Both are handed out
// as file:// URLs.
namespace CoverArt {

// A larger picture is left out.
constexpr qint64 kMaxPictureBytes = 8 * 1024 * 1024;
// The cache keeps at most this many pictures and bytes; the least recently
// used go first.
constexpr int kMaxCachedPictures = 64;
constexpr qint64 kMaxCacheBytes = 64 * 1024 * 1024;

// "covers" in the user's cache folder; empty when there is none.
QString cacheFolder();

// The URL of the cached copy of an embedded picture, written unless it is
// there already. Empty when the bytes are no picture (JPEG, PNG, GIF, WebP,
// BMP), too large, or cannot be written.
QString storeEmbedded(const QByteArray &picture, const QString &folder = cacheFolder());

// The URL of the first of cover.jpg, cover.png, folder.jpg and front.jpg (or
// the same names with a capital) that is a regular file beside audioFile and
// not too large; empty for none.
QString besideFile(const QString &audioFile);

} // namespace CoverArt
