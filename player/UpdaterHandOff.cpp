#include "UpdaterHandOff.h"

#include "FrmPlayer.h"

#include "AppInfo.h"
#include "AtomicFile.h"
#include "ElfImage.h"
#include "Names.h"
#include "WindowPresence.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QScopeGuard>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Retries after failed swaps grow to at most this.
constexpr int kMaxRetryMs = 5 * 60 * 1000;

bool isFile(const QString &path)
{
    return QFileInfo(path).isFile();
}

} // namespace

UpdaterHandOff::UpdaterHandOff(const PlayerServices &services, FrmPlayer *window)
    : QObject(window), m_services(services), m_window(window), m_retryMs(services.handOffRetryMs)
{
    setObjectName(QStringLiteral("updaterHandOff"));
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(20);
    Timer2->setSingleShot(true);
    connect(Timer2, &QTimer::timeout, this, &UpdaterHandOff::Timer2_Timer);
    m_wait = new QTimer(this);
    m_wait->setSingleShot(true);
    connect(m_wait, &QTimer::timeout, this, &UpdaterHandOff::finishKillUD);
    m_recheck = new QTimer(this);
    m_recheck->setSingleShot(true);
    connect(m_recheck, &QTimer::timeout, this, [this] {
        m_backingOff = false;
        Timer2_Timer();
    });
}

void UpdaterHandOff::start()
{
    m_watch = new QFileSystemWatcher(this);
    const QStringList folders = {m_services.programFolder, WindowPresence::recordFolder()};
    const QStringList unwatched = m_watch->addPaths(folders);
    if (!unwatched.isEmpty())
        qWarning("cannot watch %s for a new updater", qPrintable(unwatched.join(QStringLiteral(", "))));
    connect(m_watch, &QFileSystemWatcher::directoryChanged, this, [this] {
        // The end stops every timer; the windows it closes must not start one again.
        if (!m_window->isEnding())
            Timer2->start();
    });
    Timer2->start();
}

void UpdaterHandOff::Timer2_Timer()
{
    if (m_backingOff || m_wait->isActive())
        return;
    const bool watched = m_watch && m_watch->directories().size() == 2;
    const QDir folder(m_services.programFolder);
    if (!isFile(folder.filePath(AppInfo::executableName(Names::kNewUpdaterProgram)))) {
        if (watched)
            m_recheck->stop();
        else
            m_recheck->start(m_services.handOffRecheckMs);
        return;
    }
    if (WindowPresence::exists(Names::kUpdaterCaption)) {
        m_recheck->start(m_services.handOffRecheckMs);
        return;
    }
    killUD();
}

void UpdaterHandOff::killUD()
{
    const QDir folder(m_services.programFolder);
    if (!isFile(folder.filePath(AppInfo::executableName(Names::kUpdaterProgram))) ||
        !isFile(folder.filePath(AppInfo::executableName(Names::kNewUpdaterProgram))) ||
        WindowPresence::exists(Names::kUpdaterCaption))
        return;
    // The rest lets a just-closed updater finish leaving; the window goes on meanwhile.
    if (!m_wait->isActive())
        m_wait->start(m_services.handOffDelayMs);
}

void UpdaterHandOff::finishKillUD()
{
    const QDir folder(m_services.programFolder);
    const QString updater = folder.filePath(AppInfo::executableName(Names::kUpdaterProgram));
    const QString newUpdater = folder.filePath(AppInfo::executableName(Names::kNewUpdaterProgram));
    // An updater may have opened, or the files changed, during the rest.
    if (!isFile(updater) || !isFile(newUpdater) || WindowPresence::exists(Names::kUpdaterCaption)) {
        Timer2->start();
        return;
    }
    // Only a whole program for this machine takes the updater's place: the
    // file is checked as it is opened, and renamed only while it is that file.
    const QByteArray newPath8 = QFile::encodeName(newUpdater);
    const int fd = ::open(newPath8.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    const auto closeFd = qScopeGuard([fd] {
        if (fd >= 0)
            ::close(fd);
    });
    if (fd < 0 || !ElfImage::isWholeExecutable(fd)) {
        failed(QStringLiteral("%1 is not a whole program for this machine").arg(newUpdater));
        return;
    }
    // The updater writes its successor as plain bytes; it takes the mode of
    // the file it replaces, run bit and all.
    struct stat checked = {}, installed = {}, named = {};
    if (::fstat(fd, &checked) != 0 || ::stat(QFile::encodeName(updater).constData(), &installed) != 0) {
        failed(AtomicFile::reasonFor(errno));
        return;
    }
    // Only a real change: a chmod is itself a change of the folder.
    const mode_t mode = installed.st_mode & 07777;
    if ((checked.st_mode & 07777) != mode && ::fchmod(fd, mode) != 0) {
        failed(AtomicFile::reasonFor(errno));
        return;
    }
    if (::lstat(newPath8.constData(), &named) != 0 || checked.st_dev != named.st_dev ||
        checked.st_ino != named.st_ino) {
        failed(QStringLiteral("%1 changed while it was checked").arg(newUpdater));
        return;
    }
    // One rename: KivuUpdate is the old updater or the new one at every moment.
    QString error;
    if (!m_services.replaceFile(newUpdater, updater, &error)) {
        failed(error);
        return;
    }
    m_retryMs = m_services.handOffRetryMs;
}

void UpdaterHandOff::failed(const QString &why)
{
    // Both files stay as they were; the player goes on and tries again later.
    qWarning("cannot put the new updater in place: %s", qPrintable(why));
    m_backingOff = true;
    m_recheck->start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, kMaxRetryMs);
}
