#pragma once

#include <QByteArrayView>
#include <QString>

class QUrl;

// Caps on names and titles that come from outside (playlists, tags, remote
// calls): a label, a list row or a D-Bus message never has to carry more than
// a window can show.
namespace BoundedText {

// The longest path the system opens, in bytes.
constexpr qsizetype kMaxPathBytes = 4096;
// The longest URI of a local file: "file://localhost" and a path of
// kMaxPathBytes with every byte percent-encoded.
constexpr qsizetype kMaxUriBytes = 16 + 3 * kMaxPathBytes;
// The longest name or title shown or sent, in UTF-16 units.
constexpr qsizetype kMaxDisplayChars = 1024;

// text cut to at most maxChars UTF-16 units, never between the halves of a
// surrogate pair.
QString cut(const QString &text, qsizetype maxChars);
// text cut to kMaxDisplayChars.
QString forDisplay(const QString &text);

// The start of UTF-8 text, decoded and cut as forDisplay; only as many bytes
// as can make kMaxDisplayChars are read.
QString forDisplayFromUtf8(const char *utf8);

// True when path, in the system's file name encoding, is longer than a path can be.
bool isOverlongPath(const QString &path);

// A URI from a remote caller, parsed only when it is no longer than a local
// file's URI can be; an empty URL otherwise.
QUrl parseUri(const QString &uri);

// True when a path from a remote caller can name a file: absolute, without a
// NUL, not longer than a path can be.
bool isUsablePath(const QString &path);

} // namespace BoundedText
