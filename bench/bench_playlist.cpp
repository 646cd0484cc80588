// Time to open an .m3u of 1000 and of 32767 lines through the open-playlist
// button, and to delete or move one entry in the middle of a full list, on the
// real main window with prompts that answer at once. Prints a Markdown table.
#include "FrmPlayer.h"

#include "GstMediaComponent.h"
#include "Prompts.h"
#include "Shell.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

// Answers every box with OK (the delete confirmation) and every chooser with one file.
class InstantPrompts : public Prompts
{
public:
    QString file;
    int message(QWidget *, const QString &, const QString &, Buttons, Icon) override { return AnswerOk; }
    QStringList openFiles(QWidget *, const QString &, const QString &, const QString &) override
    {
        return {file};
    }
    QString openFile(QWidget *, const QString &, const QString &) override { return file; }
    QString saveFile(QWidget *, const QString &, const QString &) override { return file; }
};

class NoShell : public Shell
{
public:
    bool openWebsite(const QString &) override { return false; }
    bool startProgram(const QString &, const QString &) override { return false; }
};

QStringList pathsFor(int n)
{
    QStringList paths;
    for (int i = 0; i < n; ++i)
        paths.append(QStringLiteral("/home/user/音乐/专辑 %1/%2 - 歌曲名称.mp3").arg(i / 12).arg(i));
    return paths;
}

// A loaded main window on the real engine (never started) and instant prompts.
struct Window
{
    Window() : media(QStringLiteral("fakesink"))
    {
        services.media = &media;
        services.prompts = &prompts;
        services.shell = &shell;
        services.programFolder = dir.path();
        window = std::make_unique<FrmPlayer>(services);
        window->load();
        QCoreApplication::processEvents();
    }
    QListWidget *list() const { return window->findChild<QListWidget *>(QStringLiteral("listName")); }

    QTemporaryDir dir;
    GstMediaComponent media;
    InstantPrompts prompts;
    NoShell shell;
    PlayerServices services;
    std::unique_ptr<FrmPlayer> window;
};

double median(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Milliseconds of one action, the list's own layout included.
double timeOnce(const std::function<void()> &action)
{
    QElapsedTimer timer;
    timer.start();
    action();
    QCoreApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

// Median milliseconds of opening an n-line playlist into an empty list.
double timeOpen(int n, int rounds)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("list.m3u"));
    if (!Playlist::writeFile(file, pathsFor(n)))
        std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    QList<double> times;
    for (int r = 0; r < rounds; ++r) {
        Window w;
        w.prompts.file = file;
        times.append(timeOnce([&] { w.window->imgLstopen_Click(); }));
        if (w.window->playlist().count() != n)
            std::fprintf(stderr, "expected %d entries, got %d\n", n, w.window->playlist().count());
    }
    return median(times);
}

// Median milliseconds of an edit on the middle entry of a full list; the list
// is filled up again between rounds. After the edit the list must hold
// countAfter entries with rowAfter selected.
double timeEditFull(const std::function<void(FrmPlayer &)> &edit, int countAfter, int rowAfter, int rounds)
{
    Window w;
    const QStringList full = pathsFor(Playlist::kMaxEntries);
    w.window->playlist().append(full);
    QList<double> times;
    for (int r = 0; r < rounds; ++r) {
        w.window->playlist().append(full.mid(0, Playlist::kMaxEntries - w.window->playlist().count()));
        w.list()->setCurrentRow(Playlist::kMaxEntries / 2);
        QCoreApplication::processEvents();
        times.append(timeOnce([&] { edit(*w.window); }));
        if (w.window->playlist().count() != countAfter || w.list()->currentRow() != rowAfter)
            std::fprintf(stderr, "edit went wrong: %d entries, row %d\n", w.window->playlist().count(),
                         w.list()->currentRow());
    }
    return median(times);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int openRounds = 7;
    const int editRounds = 15;
    const double small = timeOpen(1000, openRounds);
    const double full = timeOpen(Playlist::kMaxEntries, openRounds);
    const int middle = Playlist::kMaxEntries / 2;
    const double remove =
        timeEditFull([](FrmPlayer &w) { w.delete_Item(); }, Playlist::kMaxEntries - 1, middle, editRounds);
    const double move = timeEditFull([](FrmPlayer &w) { w.imglistNext_Click(); }, Playlist::kMaxEntries,
                                     middle + 1, editRounds);

    QTextStream out(stdout);
    out << "| action | rounds | median ms |\n|---|---|---|\n";
    out << "| open .m3u of 1000 lines | " << openRounds << " | " << QString::number(small, 'f', 2) << " |\n";
    out << "| open .m3u of 32767 lines | " << openRounds << " | " << QString::number(full, 'f', 2) << " |\n";
    out << "| delete middle entry of 32767 | " << editRounds << " | " << QString::number(remove, 'f', 2)
        << " |\n";
    out << "| move middle entry down in 32767 | " << editRounds << " | " << QString::number(move, 'f', 2)
        << " |\n";
    out << "\nratio open 32767 / 1000: " << QString::number(full / small, 'f', 1) << " (goal: at most 40)\n";
    out << "delete and move: goal under 16 ms each\n";
    return 0;
}
