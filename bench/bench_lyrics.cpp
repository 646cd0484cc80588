// From a track's start to its lyrics shown in the desktop lyrics window, on
// the real main window and engine (a silent sink, in real time): for an
// ordinary .lrc, and for files of 1 MiB, real lines in GBK and hostile ones.
// Beside it, when the sound started, and what the search itself took on its
// own thread. Then what the window's line changes and fill steps cost the
// player's threads (CPU time, painted and flushed), on the platform in use:
// run it on an X display (QT_QPA_PLATFORM=xcb) for the shape and the flush to
// the X server; --lines measures that alone. Prints Markdown tables; ROUNDS
// rounds (5).
#include "BenchClock.h"
#include "BenchWindow.h"

#include "DesktopLyrics.h"
#include "LyricsController.h"
#include "LyricsFinder.h"
#include "PlayerSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <numeric>

namespace {

struct Case
{
    const char *name;
    QByteArray bytes;
};

QByteArray realLines(qsizetype size)
{
    QString text;
    for (int i = 0; text.size() < size; ++i)
        text += QStringLiteral("[%1:%2.%3]我曾经跨过山和大海，也穿过人山人海 %4\r\n")
                    .arg(i / 6000, 2, 10, QLatin1Char('0'))
                    .arg(i / 100 % 60, 2, 10, QLatin1Char('0'))
                    .arg(i % 100, 2, 10, QLatin1Char('0'))
                    .arg(i);
    return QByteArray(QStringEncoder("GB18030").encode(text)).left(size);
}

QByteArray timeTags(int count)
{
    QByteArray line;
    for (int i = 0; i < count; ++i)
        line += QStringLiteral("[%1:%2.00]")
                    .arg(i / 60, 2, 10, QLatin1Char('0'))
                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                    .toLatin1();
    return line;
}

// Lets the window paint and flush what the last change asked for.
void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// CPU ms per line change and per fill step of a shown desktop lyrics window,
// lines as long as Chinese songs sing them; the main thread's and the process's.
void lineChanges(int rounds)
{
    DesktopLyrics window;
    window.setGeometry(200, 600, 800, window.height());
    window.show();
    settle();
    const auto line = [](int i) { return QStringLiteral("我曾经跨过山和大海第%1行").arg(i); };
    constexpr int kChanges = 50;
    constexpr int kSteps = 10;
    QList<double> changeMain, changeAll, stepMain, stepAll;
    // Does it, lets it paint, and appends what that cost the main thread and all threads.
    const auto measure = [](const std::function<void()> &work, QList<double> &main, QList<double> &all) {
        const double mainStart = cpuMs(CLOCK_THREAD_CPUTIME_ID);
        const double allStart = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
        work();
        settle();
        main.append(cpuMs(CLOCK_THREAD_CPUTIME_ID) - mainStart);
        all.append(cpuMs(CLOCK_PROCESS_CPUTIME_ID) - allStart);
    };
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < kChanges; ++i) {
            const int at = r * kChanges + i;
            measure([&] { window.setLines(line(at), line(at + 1)); }, changeMain, changeAll);
            for (int step = 1; step <= kSteps; ++step)
                measure([&] { window.setSung(step); }, stepMain, stepAll);
        }
    }
    const auto mean = [](const QList<double> &values) {
        return std::accumulate(values.cbegin(), values.cend(), 0.0) / std::max<qsizetype>(values.size(), 1);
    };
    std::printf("\n| desktop lyrics, on %s | times | main thread CPU ms (median) | main thread CPU ms (mean) | all "
                "threads CPU ms (mean) |\n",
                qPrintable(QGuiApplication::platformName()));
    std::printf("| --- | --- | --- | --- | --- |\n");
    std::printf("| a line change | %lld | %.3f | %.3f | %.3f |\n", qlonglong(changeMain.size()), median(changeMain),
                mean(changeMain), mean(changeAll));
    std::printf("| a fill step of one character | %lld | %.3f | %.3f | %.3f |\n", qlonglong(stepMain.size()),
                median(stepMain), mean(stepMain), mean(stepAll));
}

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    const int rounds =
        qEnvironmentVariableIsSet("ROUNDS") ? std::max(1, qEnvironmentVariableIntValue("ROUNDS")) : 5;
    if (app.arguments().contains(QStringLiteral("--lines"))) {
        lineChanges(rounds);
        return 0;
    }
    QTemporaryDir dir;
    const QString track = dir.filePath(QStringLiteral("song.wav"));
    if (QProcess::execute(QStringLiteral("sox"),
                          QStringLiteral("-n -r 44100 -c 2 %1 synth 20 sine 440").arg(track).split(u' ')) !=
        0) {
        std::fprintf(stderr, "sox could not make the track\n");
        return 1;
    }
    const qsizetype mib = LyricsFinder::kMaxBytes;
    QByteArray ordinary;
    for (int i = 0; i < 60; ++i)
        ordinary += QStringLiteral("[00:%1.00]我曾经跨过山和大海 %2\n")
                        .arg(i, 2, 10, QLatin1Char('0'))
                        .arg(i)
                        .toUtf8();
    const QList<Case> cases = {
        {"ordinary .lrc, 60 lines, UTF-8", ordinary},
        {"1 MiB, real lines, GB18030", realLines(mib)},
        {"1 MiB, one line of a million characters", "[00:00.00]" + QByteArray(mib - 10, 'x')},
        {"1 MiB, ten thousand time tags on a line",
         timeTags(10000) + QByteArray(mib - timeTags(10000).size(), 'y')},
        {"8 MiB, real lines (1 MiB read)", realLines(8 * mib)},
    };

    std::printf("| lyrics file | KiB | lines read | ms to sound (median) | ms to lyrics shown (median) | ms "
                "of the search on its thread (median) |\n");
    std::printf("| --- | --- | --- | --- | --- | --- |\n");
    for (const Case &c : cases) {
        QFile file(dir.filePath(QStringLiteral("song.lrc")));
        if (!file.open(QIODevice::WriteOnly) || file.write(c.bytes) != c.bytes.size())
            return 1;
        file.close();
        QList<double> sound, shown, search;
        qsizetype lines = 0;
        for (int r = 0; r < rounds; ++r) {
            QElapsedTimer alone;
            alone.start();
            lines = LyricsFinder::search(track, QString()).lines().size();
            search.append(alone.nsecsElapsed() / 1e6);

            BenchWindow w;
            PlayerSettings settings(dir.filePath(QStringLiteral("settings.ini")));
            auto *lyrics = new LyricsController(w.window.get(), &settings);
            w.window->addChosenFiles({track});
            double soundMs = -1;
            double shownMs = -1;
            QElapsedTimer clock;
            clock.start();
            w.window->goTo(0);
            while ((soundMs < 0 || shownMs < 0) && clock.elapsed() < 10000) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                if (soundMs < 0 && w.media.playState() == MediaComponent::Playing)
                    soundMs = clock.nsecsElapsed() / 1e6;
                if (shownMs < 0 && lyrics->window()->isVisible() &&
                    !lyrics->window()->currentLine().isEmpty())
                    shownMs = clock.nsecsElapsed() / 1e6;
            }
            sound.append(soundMs);
            shown.append(shownMs);
            w.window->imgStop_Click();
            delete lyrics;
        }
        std::printf("| %s | %lld | %lld | %.1f | %.1f | %.1f |\n", c.name, qlonglong(c.bytes.size() / 1024),
                    qlonglong(lines), median(sound), median(shown), median(search));
    }
    std::printf("\n%d rounds; the main window and GStreamer engine (fakesink, in real time) on %s; "
                "from the track's start (a double-click) to the engine playing, and to the desktop lyrics "
                "window showing its first line. -1: not within 10 s.\n",
                rounds, qPrintable(QGuiApplication::platformName()));
    lineChanges(rounds);
    return 0;
}
