// Time to drop a music folder on the playlist: the walk alone, and through the
// real main window. Builds a tree of 100 folders of 200 audio files (and a
// picture each) in a temporary folder. Prints a Markdown table.
#include "BenchWindow.h"

#include "PathExpansion.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 200;

bool makeTree(const QString &root)
{
    for (int f = 0; f < kFolders; ++f) {
        const QString folder = QStringLiteral("%1/专辑 %2").arg(root).arg(f, 3, 10, QLatin1Char('0'));
        if (!QDir().mkpath(folder))
            return false;
        QFile(folder + QStringLiteral("/cover.jpg")).open(QIODevice::WriteOnly);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            QFile file(QStringLiteral("%1/%2 - 歌曲名字.mp3").arg(folder).arg(i + 1));
            if (!file.open(QIODevice::WriteOnly))
                return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    QTemporaryDir tree;
    if (!makeTree(tree.path())) {
        std::fprintf(stderr, "could not build the folder tree\n");
        return 1;
    }
    const int total = kFolders * kFilesPerFolder;
    const int rounds = 7;
    QList<double> walks;
    QList<double> drops;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer clock;
        clock.start();
        const QStringList found = PathExpansion::expand({tree.path()});
        walks.append(clock.nsecsElapsed() / 1e6);
        if (found.size() != total)
            std::fprintf(stderr, "walk found %lld of %d\n", qlonglong(found.size()), total);

        BenchWindow w;
        drops.append(timeOnce([&] { w.window->addItems({tree.path()}); }));
        if (w.window->playlist().count() != total)
            std::fprintf(stderr, "drop added %d of %d\n", w.window->playlist().count(), total);
    }
    QTextStream out(stdout);
    out << "| " << total << " audio files in " << kFolders << " folders | median ms (" << rounds
        << " rounds) |\n|---|---|\n";
    out << "| walk only | " << QString::number(median(walks), 'f', 1) << " |\n";
    out << "| drop on the main window | " << QString::number(median(drops), 'f', 1) << " |\n";
    out << "\nbound of one drop's walk: " << PathExpansion::Bounds().maxMilliseconds << " ms or "
        << PathExpansion::Bounds().maxVisited << " folder entries\n";
    return 0;
}
