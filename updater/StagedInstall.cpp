#include "StagedInstall.h"

#include "UpdateFiles.h"

#include "AtomicFile.h"
#include "ElfImage.h"
#include "InstallJournal.h"
#include "Sha256.h"

#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kNameAttempts = 16;
QString reason()
{
    return AtomicFile::reasonFor(errno);
}

} // namespace

struct StagedInstall::Staged
{
    ~Staged()
    {
        // The sync's thread holds the descriptor until it is done.
        syncing.waitForFinished();
        if (fd >= 0)
            ::close(fd);
        if (!kept && !path.isEmpty())
            ::unlink(path.constData());
    }

    // Gives the file its temporary name in the folder, unless it has one.
    bool name(const QString &folder)
    {
        if (!path.isEmpty())
            return true;
        temporary = InstallJournal::newStagedName();
        const QByteArray named = QFile::encodeName(QDir(folder).filePath(temporary));
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, named.constData(), AT_SYMLINK_FOLLOW) != 0)
            return false;
        path = named;
        return true;
    }

    QString entryName;
    QString savedName;
    // Until placing begins the file has no name (O_TMPFILE), so that nothing
    // of it outlives the process; file systems without such files get a name at once.
    QString temporary;
    QByteArray path;
    int fd = -1;
    qint64 size = 0;
    // What SHA256SUMS and the journal know the file by.
    Sha256 hash;
    QByteArray sha256;
    // The sync of a file finished in the background: 0 or the errno value.
    QFuture<int> syncing;
    bool finished = false;
    // Placed, or left in the journal's care: not to be removed.
    bool kept = false;
};

StagedInstall::StagedInstall(const QString &folder) : m_folder(folder) {}

StagedInstall::~StagedInstall()
{
    *m_alive = false;
    if (!m_watcher)
        return;
    // It tells nobody any more; from inside its own signal it goes a little later.
    m_watcher->disconnect();
    if (m_answering)
        m_watcher.release()->deleteLater();
}

bool StagedInstall::fail(const QString &why)
{
    m_error = why;
    return false;
}

bool StagedInstall::begin(const QString &entryName)
{
    auto staged = std::make_shared<Staged>();
    staged->entryName = entryName;
    staged->savedName = UpdateFiles::savedName(entryName);
    m_files.removeIf([&staged](const auto &other) { return other->savedName == staged->savedName; });
    staged->fd = ::open(QFile::encodeName(m_folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    // A file system without unnamed files: a fresh name of ours at once.
    const bool named = staged->fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL);
    for (int attempt = 0;
         named && staged->fd < 0 && attempt < kNameAttempts && (attempt == 0 || errno == EEXIST); ++attempt) {
        staged->temporary = InstallJournal::newStagedName();
        const QByteArray path = QFile::encodeName(QDir(m_folder).filePath(staged->temporary));
        staged->fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (staged->fd >= 0)
            staged->path = path;
    }
    if (staged->fd < 0)
        return fail(QStringLiteral("无法在程序文件夹中创建临时文件：%1").arg(reason()));
    m_files.append(staged);
    return true;
}

bool StagedInstall::write(QByteArrayView block)
{
    if (m_files.isEmpty() || m_files.last()->finished)
        return fail(QStringLiteral("没有正在写入的文件"));
    Staged &staged = *m_files.last();
    if (const int error = AtomicFile::writeAll(staged.fd, block))
        return fail(QStringLiteral("写入失败：%1").arg(AtomicFile::reasonFor(error)));
    staged.hash.addData(block);
    staged.size += block.size();
    return true;
}

qint64 StagedInstall::written() const
{
    return m_files.isEmpty() ? 0 : m_files.last()->size;
}

// The file begun last, when it is complete and may be kept; nothing otherwise.
std::shared_ptr<StagedInstall::Staged> StagedInstall::arrived(qint64 expectedLength)
{
    if (m_files.isEmpty() || m_files.last()->finished || m_files.last()->syncing.isRunning()) {
        fail(QStringLiteral("没有正在写入的文件"));
        return nullptr;
    }
    Staged &staged = *m_files.last();
    if (expectedLength >= 0 && staged.size != expectedLength) {
        fail(QStringLiteral("%1 不完整：收到 %2 字节，应为 %3 字节")
                 .arg(staged.savedName)
                 .arg(staged.size)
                 .arg(expectedLength));
        return nullptr;
    }
    // A cut, an error page or an empty answer must never take a program's place.
    if (UpdateFiles::isProgram(staged.entryName) && !ElfImage::isWholeExecutable(staged.fd)) {
        fail(QStringLiteral("%1 不是可在本机运行的完整程序").arg(staged.savedName));
        return nullptr;
    }
    return m_files.last();
}

bool StagedInstall::synced(Staged &staged, int error)
{
    if (error != 0)
        return fail(QStringLiteral("写入失败：%1").arg(AtomicFile::reasonFor(error)));
    staged.sha256 = staged.hash.result();
    staged.finished = true;
    return true;
}

bool StagedInstall::finish(qint64 expectedLength)
{
    const std::shared_ptr<Staged> staged = arrived(expectedLength);
    return staged && synced(*staged, ::fsync(staged->fd) == 0 ? 0 : errno);
}

void StagedInstall::finishInBackground(qint64 expectedLength, std::function<void(bool)> done)
{
    const std::shared_ptr<Staged> staged = arrived(expectedLength);
    if (!staged) {
        done(false);
        return;
    }
    staged->syncing = QtConcurrent::run([fd = staged->fd] { return ::fsync(fd) == 0 ? 0 : errno; });
    if (m_watcher)
        m_watcher->disconnect();
    else
        m_watcher = std::make_unique<QFutureWatcher<int>>();
    QObject::connect(m_watcher.get(), &QFutureWatcherBase::finished, m_watcher.get(), [this, staged, done] {
        const bool ok = synced(*staged, staged->syncing.result());
        const std::shared_ptr<bool> alive = m_alive;
        m_answering = true;
        done(ok); // which may end this object
        if (*alive)
            m_answering = false;
    });
    m_watcher->setFuture(staged->syncing);
}

QList<std::pair<QString, QByteArray>> StagedInstall::digests() const
{
    QList<std::pair<QString, QByteArray>> digests;
    for (const auto &staged : m_files) {
        if (staged->finished)
            digests.append({staged->entryName, staged->sha256});
    }
    return digests;
}

bool StagedInstall::commit()
{
    m_left.clear();
    QList<InstallJournal::Entry> entries;
    for (const auto &staged : std::as_const(m_files)) {
        if (!staged->finished)
            return fail(QStringLiteral("%1 未下载完成").arg(staged->savedName));
        // Only the permission bits: a privilege an old file had is not one its replacement is given.
        const QByteArray installedPath = QFile::encodeName(QDir(m_folder).filePath(staged->entryName));
        struct stat installed = {};
        mode_t mode = UpdateFiles::isProgram(staged->entryName) ? 0755 : 0644;
        if (::stat(installedPath.constData(), &installed) == 0 && S_ISREG(installed.st_mode))
            mode = installed.st_mode & 0777;
        if (::fchmod(staged->fd, mode) != 0 || !staged->name(m_folder))
            return fail(QStringLiteral("无法替换 %1：%2").arg(staged->savedName, reason()));
        entries.append({staged->temporary, staged->savedName, {}, staged->size, staged->sha256});
    }
    const InstallJournal::Outcome outcome = InstallJournal::place(m_folder, entries, m_stepHook);
    m_left = outcome.left;
    // What a failed roll-back leaves is the journal's to finish at the next start.
    for (const auto &staged : std::as_const(m_files))
        staged->kept = outcome.ok || !m_left.isEmpty();
    if (!outcome.ok)
        return fail(outcome.error);
    m_files.clear();
    return true;
}
