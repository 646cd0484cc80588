// Time to open an .m3u of 1000 and of 32767 lines and a .pls of 32767 lines
// through the open-playlist button, a cue sheet of 99 tracks through the add
// dialog, and to delete or move one entry in the middle of a full list, on the
// real main window with prompts that answer at once. Prints a Markdown table.
#include "BenchWindow.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QStringEncoder>
#include <QTextStream>

#include <cstdio>

namespace {

// Median milliseconds of opening a playlist file of n entries through the
// open-playlist button into an empty list.
double timeOpenFile(const QString &file, int n, int rounds)
{
    QList<double> times;
    for (int r = 0; r < rounds; ++r) {
        BenchWindow w;
        w.prompts.files = {file};
        times.append(timeOnce([&] { w.window->imgLstopen_Click(); }));
        if (w.window->playlist().count() != n)
            std::fprintf(stderr, "expected %d entries, got %d\n", n, w.window->playlist().count());
    }
    return median(times);
}

// Median milliseconds of opening an n-line playlist into an empty list; the
// file is in the system's encoding, or in GB18030 as written on Chinese Windows.
double timeOpen(int n, int rounds, bool gb18030 = false)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("list.m3u"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(gb18030
                      ? QStringEncoder("GB18030").encode(QString::fromUtf8(Playlist::encode(benchPaths(n))))
                      : Playlist::encode(benchPaths(n))) < 0)
        std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    out.close();
    return timeOpenFile(file, n, rounds);
}

// Median milliseconds of opening a PLS of n "FileN=" lines into an empty list.
double timeOpenPls(int n, int rounds)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("list.pls"));
    QString text = QStringLiteral("[playlist]\r\n");
    const QStringList paths = benchPaths(n);
    for (int i = 0; i < n; ++i)
        text += QStringLiteral("File%1=%2\r\n").arg(i + 1).arg(paths[i]);
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.toUtf8()) < 0)
        std::fprintf(stderr, "could not write %s\n", qPrintable(file));
    out.close();
    return timeOpenFile(file, n, rounds);
}

// Median milliseconds of adding a GBK cue sheet of 99 tracks over one image
// through the add dialog: read, decoded, parsed, its image found, named. The
// sheet is written anew each round, so that none is read from the cache.
double timeOpenSheet(int rounds)
{
    QTemporaryDir dir;
    const QString sheet = dir.filePath(QStringLiteral("周杰伦 - 七里香.cue"));
    QFile image(dir.filePath(QStringLiteral("周杰伦 - 七里香.ape")));
    if (!image.open(QIODevice::WriteOnly) || image.write("MAC ") < 0)
        std::fprintf(stderr, "could not write the image\n");
    QList<double> times;
    for (int r = 0; r < rounds; ++r) {
        QString text =
            QStringLiteral("REM DATE 2004\r\nREM ROUND %1\r\nPERFORMER \"周杰伦\"\r\nTITLE \"七里香\"\r\n"
                           "FILE \"周杰伦 - 七里香.wav\" WAVE\r\n")
                .arg(r);
        for (int t = 1; t <= 99; ++t)
            text += QStringLiteral(
                        "  TRACK %1 AUDIO\r\n    TITLE \"第%1首歌 我的地盘\"\r\n    PERFORMER \"周杰伦\"\r\n"
                        "    INDEX 01 %2:%3:00\r\n")
                        .arg(t, 2, 10, QLatin1Char('0'))
                        .arg(t * 3, 2, 10, QLatin1Char('0'))
                        .arg(t % 60, 2, 10, QLatin1Char('0'));
        QFile out(sheet);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            out.write(QStringEncoder("GBK").encode(text)) < 0)
            std::fprintf(stderr, "could not write %s\n", qPrintable(sheet));
        out.close();
        BenchWindow w;
        w.prompts.files = {sheet};
        times.append(timeOnce([&] { w.window->imgAdd_Click(); }));
        if (w.window->playlist().count() != 99 ||
            w.window->playlist().nameAt(98) != QStringLiteral("第99首歌 我的地盘"))
            std::fprintf(stderr, "expected 99 named tracks, got %d\n", w.window->playlist().count());
    }
    return median(times);
}

// Median milliseconds of an edit on the middle entry of a full list; the list
// is filled up again between rounds. After the edit the list must hold
// countAfter entries with rowAfter selected.
double timeEditFull(const std::function<void(FrmPlayer &)> &edit, int countAfter, int rowAfter, int rounds)
{
    BenchWindow w;
    const QStringList full = benchPaths(Playlist::kMaxEntries);
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
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    const int openRounds = 7;
    const int editRounds = 15;
    const double small = timeOpen(1000, openRounds);
    const double full = timeOpen(Playlist::kMaxEntries, openRounds);
    const double fullGb = timeOpen(Playlist::kMaxEntries, openRounds, true);
    const double pls = timeOpenPls(Playlist::kMaxEntries, openRounds);
    const double sheet = timeOpenSheet(15);
    const int middle = Playlist::kMaxEntries / 2;
    const double remove =
        timeEditFull([](FrmPlayer &w) { w.delete_Item(); }, Playlist::kMaxEntries - 1, middle, editRounds);
    const double move = timeEditFull([](FrmPlayer &w) { w.imglistNext_Click(); }, Playlist::kMaxEntries,
                                     middle + 1, editRounds);

    QTextStream out(stdout);
    out << "| action | rounds | median ms |\n|---|---|---|\n";
    out << "| open .m3u of 1000 lines | " << openRounds << " | " << QString::number(small, 'f', 2) << " |\n";
    out << "| open .m3u of 32767 lines | " << openRounds << " | " << QString::number(full, 'f', 2) << " |\n";
    out << "| open .m3u of 32767 GB18030 lines | " << openRounds << " | " << QString::number(fullGb, 'f', 2)
        << " |\n";
    out << "| open .pls of 32767 entries | " << openRounds << " | " << QString::number(pls, 'f', 2) << " |\n";
    out << "| add .cue of 99 tracks (GBK) | 15 | " << QString::number(sheet, 'f', 2) << " |\n";
    out << "| delete middle entry of 32767 | " << editRounds << " | " << QString::number(remove, 'f', 2)
        << " |\n";
    out << "| move middle entry down in 32767 | " << editRounds << " | " << QString::number(move, 'f', 2)
        << " |\n";
    out << "\nratio open 32767 / 1000: " << QString::number(full / small, 'f', 1) << " (goal: at most 40)\n";
    out << "delete and move: goal under 16 ms each\n";
    return 0;
}
