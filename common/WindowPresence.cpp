#include "WindowPresence.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace WindowPresence {
namespace {

constexpr auto kRecordSuffix = ".window";

QByteArray recordText(const QString &className, const QString &caption)
{
    return className.toUtf8() + '\n' + caption.toUtf8() + '\n';
}

// Opens and locks path; -1 when it cannot be locked (someone holds it) or opened.
int openLocked(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

QString recordFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    const QString folder = base + QStringLiteral("/tamsel-%1").arg(::getuid());
    QDir().mkpath(folder);
    return folder;
}

Registration::Registration(const QString &className, const QString &caption)
{
    static std::atomic<int> counter{0};
    const QString folder = recordFolder();
    const QString stem = QStringLiteral("%1/%2-%3").arg(folder).arg(::getpid()).arg(counter++);
    // Lock under a temporary name first, so that no reader ever sees the
    // record unlocked and takes it for a dead one.
    const QString temp = stem + QStringLiteral(".new");
    m_fd = openLocked(temp, O_RDWR | O_CREAT | O_TRUNC);
    if (m_fd < 0)
        return;
    const QByteArray text = recordText(className, caption);
    if (::write(m_fd, text.constData(), size_t(text.size())) != text.size()
        || ::rename(QFile::encodeName(temp).constData(),
                    QFile::encodeName(stem + QLatin1String(kRecordSuffix)).constData()) != 0) {
        ::unlink(QFile::encodeName(temp).constData());
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_path = stem + QLatin1String(kRecordSuffix);
}

Registration::~Registration()
{
    if (m_fd < 0)
        return;
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
}

bool Registration::isActive() const
{
    return m_fd >= 0;
}

std::unique_ptr<Registration> announce(const QString &caption, const QString &className)
{
    return std::make_unique<Registration>(className, caption);
}

bool exists(const QString &caption, const QString &className)
{
    const QByteArray wanted = recordText(className, caption);
    const QDir folder(recordFolder());
    const QStringList records = folder.entryList({QStringLiteral("*") + QLatin1String(kRecordSuffix)}, QDir::Files);
    for (const QString &name : records) {
        const QString path = folder.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.readAll() != wanted)
            continue;
        const int fd = openLocked(path, O_RDONLY);
        if (fd < 0)
            return true; // its owner holds the lock: the window is there
        // Nobody holds it: left behind by a process that ended without cleaning up.
        ::unlink(QFile::encodeName(path).constData());
        ::close(fd);
    }
    return false;
}

bool claimSingleInstance(const QString &programName)
{
    const QString path = recordFolder() + QLatin1Char('/') + programName + QStringLiteral(".instance");
    // Deliberately kept open (and locked) for the life of the process.
    static QList<int> held;
    const int fd = openLocked(path, O_RDWR | O_CREAT);
    if (fd < 0)
        return false;
    held.append(fd);
    return true;
}

} // namespace WindowPresence
