#include "AtomicFile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace AtomicFile {

namespace {

bool fail(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
    return false;
}

bool fail(QString *reason, int error, const QFileDevice &file)
{
    return fail(reason, error ? reasonFor(error) : file.errorString());
}

// Without a temporary file the target itself is rewritten. It keeps its
// blocks until the end, so the old bytes always fit back when the new ones
// do not go in whole.
bool writeInPlace(const QString &path, const QByteArray &bytes, QString *reason)
{
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return fail(reason, errno, file);
    struct stat info = {};
    if (::fstat(file.handle(), &info) != 0 || !S_ISREG(info.st_mode))
        return fail(reason, reasonFor(EINVAL));
    errno = 0;
    const QByteArray old = file.readAll();
    if (old.size() != info.st_size)
        return fail(reason, errno, file);
    errno = 0;
    if (!file.seek(0) || file.write(bytes) != bytes.size()) {
        const int error = errno;
        if (file.seek(0) && file.write(old) == old.size())
            file.resize(old.size());
        return fail(reason, error, file);
    }
    errno = 0;
    if (!file.resize(bytes.size()) || ::fsync(file.handle()) != 0)
        return fail(reason, errno, file);
    return true;
}

} // namespace

QString reasonFor(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入权限");
    case EROFS:
        return QStringLiteral("磁盘是只读的");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘空间不足");
    case EFBIG:
        return QStringLiteral("文件超过了允许的大小");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("文件夹不存在");
    case EISDIR:
        return QStringLiteral("同名的文件夹已存在");
    case ENAMETOOLONG:
        return QStringLiteral("文件名太长");
    case EINVAL:
        return QStringLiteral("这不是普通文件");
    case EIO:
        return QStringLiteral("磁盘读写出错");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

int writeAll(int fd, QByteArrayView bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0)
            return EIO;
        else if (errno != EINTR)
            return errno;
    }
    return 0;
}

bool write(const QString &path, const QByteArray &bytes, QString *reason)
{
    const QFileInfo target(path);
    if (target.isDir())
        return fail(reason, reasonFor(EISDIR));
    // Only regular files are replaced: a link to a device must not become a file.
    if (target.exists() && !target.isFile())
        return fail(reason, reasonFor(EINVAL));

    QSaveFile file(path);
    errno = 0;
    // Unbuffered: commit() flushes a buffer without looking at the result, and
    // would put a cut-off file in place of the old one when the disk is full.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        const int error = errno;
        // The folder takes no temporary file; the file itself may still be writable.
        if (target.exists() && error != 0 && error != EROFS)
            return writeInPlace(path, bytes, reason);
        return fail(reason, error, file);
    }
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        const int error = errno;
        file.cancelWriting(); // the temporary file goes with the object
        return fail(reason, error, file);
    }
    errno = 0;
    if (!file.commit())
        return fail(reason, errno, file);
    return true;
}

bool replace(const QString &from, const QString &to, QString *error)
{
    // rename(2), or MoveFileEx with MOVEFILE_REPLACE_EXISTING on Windows:
    // never a delete followed by a move.
    std::error_code code;
    std::filesystem::rename(QFileInfo(from).filesystemFilePath(), QFileInfo(to).filesystemFilePath(), code);
    if (code && error)
        *error = QString::fromStdString(code.message());
    return !code;
}

} // namespace AtomicFile
