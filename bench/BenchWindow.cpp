#include "BenchWindow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QListWidget>

#include <algorithm>

BenchWindow::BenchWindow() : media(QStringLiteral("fakesink"))
{
    services.media = &media;
    services.prompts = &prompts;
    services.shell = &shell;
    services.programFolder = dir.path();
    window = std::make_unique<FrmPlayer>(services);
    window->load();
    QCoreApplication::processEvents();
}

QListWidget *BenchWindow::list() const
{
    return window->findChild<QListWidget *>(QStringLiteral("listName"));
}

QStringList benchPaths(int n)
{
    QStringList paths;
    paths.reserve(n);
    for (int i = 0; i < n; ++i)
        paths.append(QStringLiteral("/home/user/音乐/专辑 %1/%2 - 歌曲名称.mp3").arg(i / 12).arg(i));
    return paths;
}

double timeOnce(const std::function<void()> &action)
{
    QElapsedTimer timer;
    timer.start();
    action();
    QCoreApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

double median(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void useOffscreenUnlessSet()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
