#include "NoticePage.h"

#include <QStringDecoder>

#include <algorithm>

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

bool overlapsItself(const QString &token)
{
    // Knuth-Morris-Pratt's failure function: the longest proper prefix of
    // token that is also a suffix of it; any at all means an overlap.
    QList<qsizetype> border(token.size(), 0);
    for (qsizetype i = 1, k = 0; i < token.size(); ++i) {
        while (k > 0 && token[i] != token[k])
            k = border[k - 1];
        if (token[i] == token[k])
            ++k;
        border[i] = k;
    }
    return !token.isEmpty() && border.constLast() > 0;
}

void StripToken(QString &text, const QString &token)
{
    const qsizetype first = token.isEmpty() ? -1 : text.indexOf(token);
    if (first < 0)
        return;
    if (overlapsItself(token)) {
        while (text.contains(token))
            text.remove(token);
        return;
    }
    // One pass, the output used as a stack: each character goes on, and a
    // token that now ends the output comes off at once. Every removal takes
    // out one occurrence of the text as it stands, and the output never
    // holds one, so the result is a text without the token reached by
    // removals, as the repeated removal's is. For a token that cannot
    // overlap itself there is only one such text: two removals can never
    // share a character, so the order they are made in does not matter.
    // None of our tokens overlaps itself: each ends in a character it holds
    // nowhere else (">", ";", "=", ")", or is the one character "(").
    const qsizetype n = token.size();
    const QChar *const want = token.constData();
    const QChar last = want[n - 1];
    QString out(text.size(), Qt::Uninitialized);
    QChar *const o = out.data();
    std::copy(text.constData(), text.constData() + first, o);
    qsizetype length = first;
    for (qsizetype i = first; i < text.size(); ++i) {
        const QChar c = text[i];
        o[length++] = c;
        if (c == last && length >= n && std::equal(want, want + n, o + length - n))
            length -= n;
    }
    out.truncate(length);
    text = std::move(out);
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
