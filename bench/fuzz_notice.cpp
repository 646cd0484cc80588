// libFuzzer target for the notice-page helpers. Whatever the bytes, the
// one-pass clean-up gives what removing a token again and again gives (on
// inputs small enough for that to be quick), leaving none of it, every
// section is a piece of the page, and the paragraphs join back into the
// cleaned text.
#include "NoticePage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Small enough that the plain repeated removal stays quick.
constexpr qsizetype kCompareUpTo = 4096;

QString removedAgainAndAgain(QString text, const QString &token)
{
    while (text.contains(token))
        text.remove(token);
    return text;
}

[[noreturn]] void fail(const char *what, const QString &text, const QString &token = {})
{
    std::fprintf(stderr, "%s: token \"%s\" in \"%s\"\n", what, qPrintable(token), qPrintable(text.left(200)));
    std::abort();
}

void checkStrip(const QString &text, const QString &token)
{
    if (token.isEmpty()) // never a token; it would leave the repeated removal spinning
        return;
    QString once = text;
    NoticePage::StripToken(once, token);
    if (once.contains(token))
        fail("token left", text, token);
    if (text.size() <= kCompareUpTo && once != removedAgainAndAgain(text, token))
        fail("one pass differs", text, token);
}

void checkSection(const QString &page, const std::optional<QString> &section, const char *name)
{
    if (!section)
        return;
    if (!page.contains(*section))
        fail(name, page);
    QString cleaned = *section;
    NoticePage::cleanUpFileList(cleaned);
    // A later token's removal may join an earlier one anew; that one stays,
    // as it would token by token.
    if (section->size() <= kCompareUpTo) {
        QString byHand = *section;
        for (const QString &token : NoticePage::cleanupTokens() + NoticePage::fileListTokens())
            byHand = removedAgainAndAgain(byHand, token);
        if (cleaned != byHand)
            fail("clean-up differs", *section);
    }
    const QStringList parts = NoticePage::paragraphs(cleaned);
    if (parts.join(NoticePage::kParagraph) != cleaned)
        fail("paragraphs do not join back", cleaned);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QString page =
        NoticePage::DecodeUtf8(QByteArray(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1));
    for (const QString &token : NoticePage::cleanupTokens() + NoticePage::fileListTokens())
        checkStrip(page, token);
    // A token of the input's own making, of 1 to 8 characters, may overlap
    // itself or not: both ways must agree with the repeated removal.
    const qsizetype length = data[0] % 8 + 1;
    checkStrip(page.mid(length), page.left(length));

    if (const auto version = NoticePage::version(page); version && version->size() > 8)
        fail("version longer than 8", page);
    if (const auto pushSwitch = NoticePage::pushSwitch(page); pushSwitch && pushSwitch->size() != 1)
        fail("push switch not one character", page);
    checkSection(page, NoticePage::logSection(page), "log section not in the page");
    checkSection(page, NoticePage::fileListSection(page), "file list not in the page");
    checkSection(page, NoticePage::pushText(page), "push text not in the page");
    return 0;
}
