// Time to clean notice pages of nested mark-up ("</</p>p>", thousands deep),
// from 1 kB to the 4 MB page cap, with the clean-up both programs run, against
// removing each tag again and again while any is left (up to 64 kB; it grows
// with the square of the size). Then the time to open the push window on a
// message of one 4 MB line. Prints Markdown tables.
#include "BenchWindow.h"
#include "Connectivity.h"
#include "Dialog.h"
#include "NoticePage.h"

#include <QApplication>
#include <QPlainTextEdit>

#include <cstdio>

namespace {

constexpr qsizetype kOldUpTo = 64 * 1024;
const QString kWords = QStringLiteral("正文<p>");

// The tag cut in two halves, each repeated depth times: the halves meet only
// as tags are removed, one level at a time.
QString nested(const QString &token, qsizetype depth)
{
    const qsizetype half = token.size() / 2;
    return token.left(half).repeated(depth) + token.mid(half).repeated(depth);
}

// A page of about `bytes` UTF-8 bytes: for every tag of the clean-up, one
// nest of it, then some words. Cleaned, only the words are left.
QString nestedPage(qsizetype bytes)
{
    const QStringList tokens = NoticePage::cleanupTokens() + NoticePage::fileListTokens();
    const qsizetype share = bytes / tokens.size() - kWords.toUtf8().size();
    QString page;
    for (const QString &token : tokens)
        page += nested(token, std::max<qsizetype>(1, share / token.size())) + kWords;
    return page;
}

void removeAgainAndAgain(QString &text)
{
    for (const QStringList &list : {NoticePage::cleanupTokens(), NoticePage::fileListTokens()}) {
        for (const QString &token : list) {
            while (text.contains(token))
                text.remove(token);
        }
    }
}

double timeClean(const QString &page, void (*clean)(QString &), int rounds)
{
    const QString expected =
        kWords.repeated(NoticePage::cleanupTokens().size() + NoticePage::fileListTokens().size());
    QList<double> times;
    for (int r = 0; r < rounds; ++r) {
        QString text = page;
        times.append(timeOnce([&] { clean(text); }));
        if (text != expected)
            std::fprintf(stderr, "cleaned page is wrong: %s\n", qPrintable(text.left(80)));
    }
    return median(times);
}

} // namespace

int main(int argc, char **argv)
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);

    std::printf("| page | one pass, median ms (5 rounds) | ms per MB | again and again, ms (1 round) |\n");
    std::printf("|---|---|---|---|\n");
    double at1MB = 0, at4MB = 0;
    for (qsizetype kB : {1, 4, 16, 64, 256, 1024, 4096}) {
        const QString page = nestedPage(kB * 1024);
        const double megabytes = page.toUtf8().size() / double(1 << 20);
        const double ms = timeClean(page, NoticePage::cleanUpFileList, 5);
        if (kB == 1024)
            at1MB = ms;
        if (kB == 4096)
            at4MB = ms;
        const QString old = kB * 1024 <= kOldUpTo
                                ? QString::number(timeClean(page, removeAgainAndAgain, 1), 'f', 1)
                                : QStringLiteral("—");
        std::printf("| %lld kB | %.2f | %.1f | %s |\n", qlonglong(kB), ms, ms / megabytes, qPrintable(old));
    }
    std::printf("\nratio 4 MB / 1 MB: %.1f (linear: 4)\n\n", at4MB / at1MB);

    // The window's own time to lay the message out, until it has been painted.
    SystemConnectivity connectivity;
    const QString line =
        QStringLiteral("<p>") + QStringLiteral("x").repeated(4 << 20) + QStringLiteral("<p>");
    QList<double> times;
    qsizetype shown = 0;
    for (int r = 0; r < 5; ++r) {
        times.append(timeOnce([&] {
            auto *dialog = new Dialog(&connectivity, QStringLiteral("http://127.0.0.1/"), line);
            dialog->show();
            QCoreApplication::processEvents();
            shown = dialog->findChild<QPlainTextEdit *>()->toPlainText().size();
            dialog->close();
        }));
    }
    std::printf(
        "| push window, message of one 4 MB line | median ms to open (5 rounds) | characters shown |\n");
    std::printf("|---|---|---|\n");
    std::printf("| opened and painted | %.1f | %lld |\n", median(times), qlonglong(shown));
    return 0;
}
