// Time to add 1000 and 32767 files through the add dialog, on the real main
// window with a chooser that answers at once. Prints a Markdown table.
#include "BenchWindow.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>

namespace {

// Median milliseconds of adding n files to an empty list.
double timeAdd(int n, int rounds)
{
    const QStringList files = benchPaths(n);
    QList<double> times;
    for (int r = 0; r < rounds; ++r) {
        BenchWindow w;
        w.prompts.files = files;
        times.append(timeOnce([&] { w.window->AddFiles(); }));
        if (w.window->playlist().count() != n)
            std::fprintf(stderr, "expected %d entries, got %d\n", n, w.window->playlist().count());
    }
    return median(times);
}

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    const int rounds = 7;
    const double small = timeAdd(1000, rounds);
    const double full = timeAdd(32767, rounds);
    QTextStream out(stdout);
    out << "| files added | median ms (" << rounds << " rounds) |\n|---|---|\n";
    out << "| 1000 | " << QString::number(small, 'f', 2) << " |\n";
    out << "| 32767 | " << QString::number(full, 'f', 2) << " |\n";
    out << "\nratio 32767 / 1000: " << QString::number(full / small, 'f', 1) << " (goal: at most 40)\n";
    return 0;
}
