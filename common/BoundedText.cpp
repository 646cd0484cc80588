#include "BoundedText.h"

#include <QDir>
#include <QFile>
#include <QUrl>

#include <cstring>

namespace BoundedText {

QString cut(const QString &text, qsizetype maxChars)
{
    if (text.size() <= maxChars)
        return text;
    qsizetype length = maxChars;
    if (length > 0 && text.at(length - 1).isHighSurrogate())
        --length;
    return text.first(length);
}

QString forDisplay(const QString &text)
{
    return cut(text, kMaxDisplayChars);
}

QString forDisplayFromUtf8(const char *utf8)
{
    // Three bytes make at least one UTF-16 unit; one more unit's worth covers
    // a character cut at the end of the window.
    constexpr size_t kWindow = (kMaxDisplayChars + 1) * 3;
    return forDisplay(QString::fromUtf8(utf8, qsizetype(strnlen(utf8, kWindow))));
}

bool isOverlongPath(const QString &path)
{
    // A UTF-16 unit takes one to three bytes.
    if (path.size() > kMaxPathBytes)
        return true;
    if (path.size() * 3 <= kMaxPathBytes)
        return false;
    return QFile::encodeName(path).size() > kMaxPathBytes;
}

QUrl parseUri(const QString &uri)
{
    return uri.size() <= kMaxUriBytes ? QUrl(uri) : QUrl();
}

bool isUsablePath(const QString &path)
{
    return !path.contains(QChar(0)) && QDir::isAbsolutePath(path) && !isOverlongPath(path);
}

} // namespace BoundedText
