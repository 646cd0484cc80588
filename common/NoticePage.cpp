#include "NoticePage.h"

#include <QStringDecoder>

namespace NoticePage {
namespace {

// The text of `length` characters from the 0-based `start`, cut short at the
// end of the text. A negative start or length is no cut at all.
std::optional<QString> cut(const QString &text, qsizetype start, qsizetype length)
{
    if (start < 0 || length < 0)
        return std::nullopt;
    return text.mid(start, length);
}

// Where marker first stands in page, or nothing.
std::optional<qsizetype> find(const QString &page, const QString &marker)
{
    const qsizetype at = page.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    return at;
}

QString spanTag(const char *colour)
{
    return QStringLiteral("<span style=\"color: %1;\">").arg(QLatin1String(colour));
}

} // namespace

QString DecodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

void StripToken(QString &text, const QString &token)
{
    if (token.isEmpty())
        return;
    while (text.contains(token))
        text.remove(token);
}

const QStringList &cleanupTokens()
{
    static const QStringList tokens = {
        QStringLiteral("</span>"), QStringLiteral("</strong>"), QStringLiteral("<strong>"),
        QStringLiteral("</p>"),    spanTag("#ff0000"),          spanTag("#000000"),
        QStringLiteral("&nbsp;"),
    };
    return tokens;
}

const QStringList &fileListTokens()
{
    static const QStringList tokens = {
        QStringLiteral("<a href="), QStringLiteral("amp;"), QStringLiteral("target=\"_blank\">"),
        QStringLiteral("</a>)"),    QStringLiteral("("),
    };
    return tokens;
}

void cleanUp(QString &text)
{
    for (const QString &token : cleanupTokens())
        StripToken(text, token);
}

void cleanUpFileList(QString &text)
{
    cleanUp(text);
    for (const QString &token : fileListTokens())
        StripToken(text, token);
}

std::optional<QString> version(const QString &page)
{
    const auto at = find(page, kVersionMarker);
    if (!at)
        return std::nullopt;
    // At most 11 characters from the marker on, and of those the last 8.
    return page.mid(*at, 11).right(8);
}

std::optional<QString> logSection(const QString &page)
{
    const auto start = find(page, kLogMarker);
    const auto end = find(page, kLogEndMarker);
    if (!start || !end)
        return std::nullopt;
    return cut(page, *start, *end - *start);
}

std::optional<QString> fileListSection(const QString &page)
{
    const auto start = find(page, kFileListMarker);
    const auto end = find(page, kPushMarker);
    if (!start || !end)
        return std::nullopt;
    const qsizetype from = *start + kFileListMarker.size();
    return cut(page, from, *end - from);
}

std::optional<QString> pushSwitch(const QString &page)
{
    const auto at = find(page, kPushMarker);
    if (!at)
        return std::nullopt;
    // The last of the six characters from the marker on: the switch, or the
    // marker's colon when the page ends right after it.
    return page.mid(*at, kPushMarker.size() + 1).right(1);
}

std::optional<QString> pushText(const QString &page)
{
    const auto start = find(page, kPushMarker);
    const auto end = find(page, kPushEndMarker);
    if (!start || !end)
        return std::nullopt;
    const qsizetype from = *start + kPushMarker.size() + 1;
    return cut(page, from, *end - from);
}

QStringList paragraphs(const QString &cleaned)
{
    return cleaned.split(kParagraph);
}

} // namespace NoticePage
