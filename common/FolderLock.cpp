#include "FolderLock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kAttempts = 8;

int openLockFile(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0 || (errno != EACCES && errno != EROFS))
        return fd;
    // A folder that takes no new file may still hold the file of an earlier run.
    return ::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
}

} // namespace

FolderLock::FolderLock(const QString &folder) : m_path(QFile::encodeName(QDir(folder).filePath(kFileName)))
{
    // A holder removes the file as it lets go: a lock on a file that no longer
    // stands under the name holds nothing, so the new file is tried instead.
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int fd = openLockFile(m_path.constData());
        if (fd < 0)
            return;
        struct stat opened = {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            return;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            m_state = errno == EWOULDBLOCK ? Busy : Unavailable;
            ::close(fd);
            return;
        }
        struct stat named = {};
        if (::stat(m_path.constData(), &named) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino) {
            m_fd = fd;
            m_state = Held;
            return;
        }
        ::close(fd);
    }
    // The file keeps changing under us: others are at work.
    m_state = Busy;
}

FolderLock::~FolderLock()
{
    if (m_fd < 0)
        return;
    // Removed while still held, so that nobody holds a file without its name.
    ::unlink(m_path.constData());
    ::close(m_fd);
}
