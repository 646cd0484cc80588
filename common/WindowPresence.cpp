#include "WindowPresence.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace WindowPresence {
namespace {

constexpr auto kRecordSuffix = ".window";
// A record holds a class name and a caption; anything longer is no record.
constexpr qsizetype kMaxRecord = 4096;
// Names already taken (by a link planted there, say) are passed over this often.
constexpr int kNameTries = 100;

QByteArray recordText(const QString &className, const QString &caption)
{
    return className.toUtf8() + '\n' + caption.toUtf8() + '\n';
}

// Opens path without following a link, and locks it; -1 when it cannot be
// opened, is not a regular file, or someone holds the lock.
int openLocked(const QString &path, int flags)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QByteArray readAll(int fd)
{
    QByteArray text(kMaxRecord + 1, Qt::Uninitialized);
    qsizetype length = 0;
    for (ssize_t got = 0; length < text.size(); length += got) {
        got = ::read(fd, text.data() + length, size_t(text.size() - length));
        if (got <= 0)
            break;
    }
    text.truncate(length);
    return text;
}

void warnOnce(const QString &why)
{
    static QString said;
    if (said != why)
        qWarning("窗口记录不可用：%s", qPrintable(why));
    said = why;
}

} // namespace

QString recordFolder()
{
    // Qt's runtime folder is the user's own (0700), or none: there is no
    // falling back into the shared temporary folder.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty()) {
        warnOnce(QStringLiteral("没有私有的运行目录"));
        return QString();
    }
    const QString folder = base + QStringLiteral("/tamsel-%1").arg(::getuid());
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        const int error = errno;
        warnOnce(QStringLiteral("无法创建 %1：%2").arg(folder, QString::fromLocal8Bit(std::strerror(error))));
        return QString();
    }
    // Looked at through a descriptor, so that what is checked is what is used.
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    const bool ours = fd >= 0 && ::fstat(fd, &status) == 0 && status.st_uid == ::getuid();
    // Nobody else may have written into it; reading bits alone, as older
    // versions left them, are taken away.
    const bool safe = ours && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
                      ((status.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
    if (fd >= 0)
        ::close(fd);
    if (!safe) {
        warnOnce(QStringLiteral("%1 不是本用户私有的文件夹").arg(folder));
        return QString();
    }
    return folder;
}

bool removeIfSame(const QString &path, int fd)
{
    struct stat opened, named;
    const QByteArray name = QFile::encodeName(path);
    if (::fstat(fd, &opened) != 0 || ::lstat(name.constData(), &named) != 0 ||
        opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
        return false;
    return ::unlink(name.constData()) == 0;
}

Registration::Registration(const QString &className, const QString &caption)
{
    static std::atomic<int> counter{0};
    const QString folder = recordFolder();
    if (folder.isEmpty())
        return;
    // Lock under a temporary name first, so that no reader ever sees the
    // record unlocked and takes it for a dead one. The name is made new,
    // never opened through a link.
    QString stem, temp;
    for (int tries = 0; m_fd < 0 && tries < kNameTries; ++tries) {
        stem = QStringLiteral("%1/%2-%3").arg(folder).arg(::getpid()).arg(counter++);
        temp = stem + QStringLiteral(".new");
        m_fd = openLocked(temp, O_RDWR | O_CREAT | O_EXCL);
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        const int error = errno;
        qWarning("无法写入窗口记录 %s：%s", qPrintable(temp), std::strerror(error));
        return;
    }
    const QByteArray text = recordText(className, caption);
    const QString path = stem + QLatin1String(kRecordSuffix);
    if (::write(m_fd, text.constData(), size_t(text.size())) != text.size() ||
        ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0) {
        removeIfSame(temp, m_fd);
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_path = path;
}

Registration::~Registration()
{
    if (m_fd < 0)
        return;
    removeIfSame(m_path, m_fd);
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
    const QString folderPath = recordFolder();
    if (folderPath.isEmpty())
        return false;
    const QByteArray wanted = recordText(className, caption);
    const QDir folder(folderPath);
    const QStringList records =
        folder.entryList({QStringLiteral("*") + QLatin1String(kRecordSuffix)}, QDir::Files);
    for (const QString &name : records) {
        const QString path = folder.filePath(name);
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat status;
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || readAll(fd) != wanted) {
            ::close(fd);
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return true; // its owner holds the lock: the window is there
        }
        // Nobody holds it: left behind by a process that ended without
        // cleaning up. Gone, unless the name has been given to another file.
        removeIfSame(path, fd);
        ::close(fd);
    }
    return false;
}

} // namespace WindowPresence
