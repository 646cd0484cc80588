// TrackList.GetTracksMetadata for every entry of a full list (32767 ids): the
// call made directly, and over the session bus from a second connection as a
// desktop widget would, when a bus is there. Once with paths as real
// libraries have them, once with paths as long as a path can be (a hostile
// playlist). Prints a Markdown table.
#include "BenchWindow.h"

#include "Mpris.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr int kRounds = 5;

struct Result
{
    double directMs = 0;
    double busMs = -1; // -1: no bus, or no reply
    qsizetype entries = 0;
};

double timeDirect(MprisService &service, const QList<QDBusObjectPath> &ids, qsizetype *entries)
{
    QList<double> times;
    for (int r = 0; r < kRounds; ++r)
        times.append(timeOnce([&] { *entries = service.GetTracksMetadata(ids).size(); }));
    return median(times);
}

// Milliseconds from the call to its reply over the bus; -1 when no reply came.
double timeOverBus(const QString &service, const QList<QDBusObjectPath> &ids)
{
    QDBusConnection client =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
    QList<double> times;
    for (int r = 0; r < kRounds; ++r) {
        QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/mpris/MediaPlayer2"),
                                                           QStringLiteral("org.mpris.MediaPlayer2.TrackList"),
                                                           QStringLiteral("GetTracksMetadata"));
        call << QVariant::fromValue(ids);
        QElapsedTimer timer;
        timer.start();
        QDBusPendingCall pending = client.asyncCall(call, 60000);
        // The player answers from this same event loop.
        while (!pending.isFinished() && timer.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (!pending.isFinished() || pending.isError()) {
            std::fprintf(stderr, "no reply: %s\n", qPrintable(pending.error().message()));
            return -1;
        }
        times.append(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}

Result measure(const QStringList &paths)
{
    BenchWindow w;
    w.window->playlist().append(paths);
    auto *service = new MprisService(w.window.get());
    const QString name = service->registerOn();
    QCoreApplication::processEvents();
    const QList<QDBusObjectPath> ids = service->tracks();
    Result result;
    result.directMs = timeDirect(*service, ids, &result.entries);
    if (!name.isEmpty())
        result.busMs = timeOverBus(name, ids);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    useOffscreenUnlessSet();
    QApplication app(argc, argv);
    qDBusRegisterMetaType<QList<QVariantMap>>();

    const QStringList real = benchPaths(Playlist::kMaxEntries);
    QStringList longest;
    for (int i = 0; i < Playlist::kMaxEntries; ++i)
        longest.append(QStringLiteral("/m/%1/").arg(i, 5, 10, QLatin1Char('0')) +
                       QString(1360, QChar(0x6B4C)));

    QTextStream out(stdout);
    out << "| list of " << Playlist::kMaxEntries
        << " entries | entries in the reply | direct call, median ms | "
        << "over the session bus, median ms |\n|---|---|---|---|\n";
    for (const auto &[label, paths] : {std::pair{"paths as in real libraries", real},
                                       std::pair{"paths of 4 kB (hostile playlist)", longest}}) {
        const Result r = measure(paths);
        out << "| " << label << " | " << r.entries << " | " << QString::number(r.directMs, 'f', 1) << " | "
            << (r.busMs < 0 ? QStringLiteral("-") : QString::number(r.busMs, 'f', 1)) << " |\n";
        out.flush();
    }
    out << "\n" << kRounds << " rounds each; ids asked: all of them\n";
    return 0;
}
