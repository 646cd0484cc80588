// The updater's download strip, as KivuUpdate runs it after 确定, against a
// notice page given on the command line. Prints the bytes written into the
// program folder, the time from 确定 (the strip's load: the notice page, the
// sharing pages, the downloads) to every file in place (with a key: checked
// against its signed SHA256SUMS first), the process's peak resident memory,
// what SHA-256 alone costs on those bytes in the strip's 1 MB blocks, and the
// longest the UI thread left a 5 ms timer waiting meanwhile.
//
// Usage: bench_download NOTICE_URL PROGRAM_FOLDER [MINISIGN_PUBLIC_KEY]
#include "UD.h"
#include "UpdateFiles.h"

#include "Connectivity.h"
#include "Prompts.h"
#include "Sha256.h"
#include "Shell.h"
#include "Skin.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// No box is ever shown: each one is printed and answered No.
class PrintedPrompts : public Prompts
{
public:
    int message(QWidget *, const QString &title, const QString &text, Buttons buttons, Icon) override
    {
        std::fprintf(stderr, "box: %s %s\n", qUtf8Printable(title), qUtf8Printable(text));
        return buttons == Ok ? AnswerOk : AnswerNo;
    }
    QStringList openFiles(QWidget *, const QString &, const QString &, const QString &) override
    {
        return {};
    }
    QString openFile(QWidget *, const QString &, const QString &) override { return {}; }
    QString saveFile(QWidget *, const QString &, const QString &) override { return {}; }
};

class QuietShell : public Shell
{
public:
    bool openWebsite(const QString &) override { return true; }
    bool startProgram(const QString &, const QString &) override { return true; }
};

QByteArray statusLine(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return "?";
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed();
    }
    return "?";
}

// Seconds SHA-256 takes over the file's bytes, fed in the strip's blocks;
// reading the file is not counted.
double hashSeconds(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    Sha256 hash;
    qint64 nanoseconds = 0;
    QElapsedTimer clock;
    for (QByteArray block = file.read(1024 * 1024); !block.isEmpty(); block = file.read(1024 * 1024)) {
        clock.start();
        hash.addData(block);
        nanoseconds += clock.nsecsElapsed();
    }
    return nanoseconds / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: bench_download NOTICE_URL PROGRAM_FOLDER [MINISIGN_PUBLIC_KEY]\n");
        return 2;
    }
    PrintedPrompts prompts;
    QuietShell shell;
    UpdaterServices services;
    services.prompts = &prompts;
    services.shell = &shell;
    services.noticeUrl = QString::fromLocal8Bit(argv[1]);
    services.programFolder = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    services.updateKey = argc == 4 ? QByteArray(argv[3]) : QByteArray();
    services.countdownIntervalMs = 1;
    Skin::attach(services.programFolder);

    auto *ud = new UD(services);
    ud->setAttribute(Qt::WA_DeleteOnClose);
    QElapsedTimer clock;
    // The UI thread's answer while the files stream: the longest wait of a 5 ms timer.
    QElapsedTimer sinceTick;
    qint64 longestWaitNs = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestWaitNs = std::max(longestWaitNs, sinceTick.nsecsElapsed());
        sinceTick.start();
    });
    int result = 1;
    QObject::connect(ud, &UD::downloadsFinished, ud, [&](bool ok) {
        const double seconds = clock.nsecsElapsed() / 1e9;
        // The wait that ends only after this signal (the last file's sync) counts too.
        longestWaitNs = std::max(longestWaitNs, sinceTick.nsecsElapsed());
        const QByteArray peak = statusLine("VmHWM:");
        qint64 bytes = 0;
        double hashing = 0;
        const auto *list = ud->findChild<QListWidget *>(QStringLiteral("List1"));
        for (int i = 0; i < list->count(); ++i) {
            const QString entry = list->item(i)->text();
            const QString name =
                entry.mid(entry.indexOf(QLatin1Char('.')) + 1,
                          entry.indexOf(QLatin1Char('"')) - entry.indexOf(QLatin1Char('.')) - 1);
            const QFileInfo saved(QDir(services.programFolder).filePath(UpdateFiles::savedName(name)));
            if (!saved.exists())
                continue; // SHA256SUMS and its signature are checked, not installed
            bytes += saved.size();
            hashing += hashSeconds(saved.filePath());
        }
        std::printf("ok=%d bytes=%lld seconds=%.3f mbps=%.1f vmhwm=%s sha256=%.3f uiwait=%.1f\n", ok ? 1 : 0,
                    static_cast<long long>(bytes), seconds, bytes / 1048576.0 / seconds, peak.constData(),
                    hashing, longestWaitNs / 1e6);
        std::fflush(stdout);
        result = ok ? 0 : 1;
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    });
    ticker.start(5);
    sinceTick.start();
    clock.start();
    ud->load();
    app.exec();
    return result;
}
