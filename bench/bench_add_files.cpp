// Time to add 1000 and 32767 files through the add dialog, on the real main
// window with a chooser that answers at once. Prints a Markdown table.
#include "FrmPlayer.h"

#include "GstMediaComponent.h"
#include "Prompts.h"
#include "Shell.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

class InstantChooser : public Prompts
{
public:
    QStringList files;
    int message(QWidget *, const QString &, const QString &, Buttons, Icon) override { return AnswerOk; }
    QStringList openFiles(QWidget *, const QString &, const QString &, const QString &) override { return files; }
    QString openFile(QWidget *, const QString &, const QString &) override { return files.value(0); }
    QString saveFile(QWidget *, const QString &, const QString &) override { return {}; }
};

class NoShell : public Shell
{
public:
    bool openWebsite(const QString &) override { return false; }
    bool startProgram(const QString &, const QString &) override { return false; }
};

// Median milliseconds of adding n files to an empty list.
double timeAdd(int n, int rounds)
{
    QStringList files;
    for (int i = 0; i < n; ++i)
        files.append(QStringLiteral("/home/user/音乐/专辑 %1/%2 - 歌曲名称.mp3").arg(i / 12).arg(i));
    QList<double> times;
    for (int r = 0; r < rounds; ++r) {
        QTemporaryDir dir;
        GstMediaComponent media(QStringLiteral("fakesink"));
        InstantChooser chooser;
        chooser.files = files;
        NoShell shell;
        PlayerServices services;
        services.media = &media;
        services.prompts = &chooser;
        services.shell = &shell;
        services.programFolder = dir.path();
        FrmPlayer window(services);
        window.load();
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        window.AddFiles();
        QCoreApplication::processEvents(); // the list lays itself out
        times.append(timer.nsecsElapsed() / 1e6);
        if (window.playlist().count() != n)
            std::fprintf(stderr, "expected %d entries, got %d\n", n, window.playlist().count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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
