// From a killed update to a repaired program folder. Each round lays out a
// program folder with a copy of PROGRAM, an installed big.bin of SIZE_MB and
// two small files; a child process stages new versions of the three, as the
// updater does, and is killed with SIGKILL after its first rename. Then either
// PROGRAM is started from the folder and the folder is looked at every
// millisecond until the journal and every temporary file are gone, or
// InstallJournal::recover() runs in this process: as the kill left it, or
// with the waiting big.bin's modification time changed, so that the journal
// cannot vouch for it and it is read (beside it, the time SHA-256 takes to
// read that file alone). Prints one line per way: the median, minimum and
// maximum milliseconds from the kill to the repair.
//
// Usage: bench_repair PROGRAM [SIZE_MB] [ROUNDS]
#include "StagedInstall.h"

#include "InstallJournal.h"
#include "Sha256.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QStringList kNames = {QStringLiteral("small-1.bin"), QStringLiteral("big.bin"),
                            QStringLiteral("small-2.bin")};
constexpr int kKillAfterFirstRename = 3;

QByteArray contents(const QString &name, const char *edition, qint64 size)
{
    const QByteArray unit = name.toUtf8() + ' ' + edition + '\n';
    return unit.repeated(int(size / unit.size() + 1)).left(size);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Lays out the folder and kills a placing in it; whether that went as planned.
bool killPlacing(const QString &folder, const QString &program, qint64 bigSize)
{
    const QString copy = QDir(folder).filePath(QFileInfo(program).fileName());
    if (!QFile::copy(program, copy) || !QFile::setPermissions(copy, QFile::permissions(program)))
        return false;
    for (const QString &name : kNames) {
        if (!writeFile(QDir(folder).filePath(name),
                       contents(name, "old", name == kNames[1] ? bigSize : 4096)))
            return false;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        StagedInstall install(folder);
        for (const QString &name : kNames) {
            const QByteArray bytes = contents(name, "new", name == kNames[1] ? bigSize : 4096);
            if (!install.begin(name) || !install.write(bytes) || !install.finish(bytes.size()))
                ::_exit(1);
        }
        install.setStepHook([](int step) {
            if (step == kKillAfterFirstRename)
                ::raise(SIGKILL);
        });
        install.commit();
        ::_exit(2);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

bool repaired(const QString &folder)
{
    const QStringList ours =
        QDir(folder).entryList({QStringLiteral(".KivuUpdate*")}, QDir::Files | QDir::Hidden | QDir::System);
    return std::none_of(ours.cbegin(), ours.cend(), [](const QString &name) {
        return name == InstallJournal::kFileName || InstallJournal::isOurTemporary(name);
    });
}

// Milliseconds from now to the folder repaired by the program started there; -1 when it never is.
double repairByStart(const QString &folder, const QString &program)
{
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setProgram(QDir(folder).filePath(QFileInfo(program).fileName()));
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start();
    double ms = -1;
    while (process.state() != QProcess::NotRunning || clock.elapsed() < 100) {
        if (repaired(folder)) {
            ms = clock.nsecsElapsed() / 1e6;
            break;
        }
        if (clock.elapsed() > 30000)
            break;
        QThread::usleep(1000);
    }
    process.kill();
    process.waitForFinished();
    return ms;
}

double repairInProcess(const QString &folder)
{
    QElapsedTimer clock;
    clock.start();
    InstallJournal::recover(folder);
    return repaired(folder) ? clock.nsecsElapsed() / 1e6 : -1;
}

// The new big.bin, waiting under its temporary name (the one of its size).
QString waitingBig(const QString &folder, qint64 bigSize)
{
    for (const QFileInfo &file :
         QDir(folder).entryInfoList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden)) {
        if (file.size() == bigSize)
            return file.filePath();
    }
    return {};
}

// Milliseconds SHA-256 takes to read the file.
double readTime(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QElapsedTimer clock;
    clock.start();
    const QByteArray digest = Sha256::ofFile(file.handle());
    return digest.isEmpty() ? -1 : clock.nsecsElapsed() / 1e6;
}

void printLine(const char *way, QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const qsizetype n = ms.size();
    const double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    std::printf("%s median_ms=%.1f min_ms=%.1f max_ms=%.1f rounds=%lld\n", way, median, ms.first(), ms.last(),
                static_cast<long long>(n));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: bench_repair PROGRAM [SIZE_MB] [ROUNDS]\n");
        return 2;
    }
    const QString program = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const qint64 bigSize = (argc > 2 ? QByteArray(argv[2]).toLongLong() : 96) * 1024 * 1024;
    const int rounds = argc > 3 ? QByteArray(argv[3]).toInt() : 5;
    QList<double> started, inProcess, unvouched, reads;
    for (int round = 0; round < 3 * rounds; ++round) {
        QTemporaryDir folder;
        if (!killPlacing(folder.path(), program, bigSize)) {
            std::fprintf(stderr, "could not lay out a killed update in %s\n", qPrintable(folder.path()));
            return 1;
        }
        const int way = round % 3;
        if (way == 2) {
            QFile big(waitingBig(folder.path(), bigSize));
            if (!big.open(QIODevice::ReadWrite) || !big.setFileTime(QDateTime::currentDateTime().addDays(-1),
                                                                    QFileDevice::FileModificationTime)) {
                std::fprintf(stderr, "could not change the waiting big.bin\n");
                return 1;
            }
            reads << readTime(big.fileName());
        }
        const double ms = way == 0 ? repairByStart(folder.path(), program) : repairInProcess(folder.path());
        if (ms < 0) {
            std::fprintf(stderr, "the folder was not repaired (%s)\n",
                         way == 0 ? "program start" : "recover()");
            return 1;
        }
        (way == 0 ? started : way == 1 ? inProcess : unvouched) << ms;
    }
    printLine(qPrintable(QStringLiteral("start_of_%1").arg(QFileInfo(program).fileName())), started);
    printLine("recover_in_process", inProcess);
    printLine("recover_unvouched", unvouched);
    printLine("read_big", reads);
    return 0;
}
