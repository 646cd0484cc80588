#include "StagedInstall.h"

#include "UpdateFiles.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryFile>

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path fsPath(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

// The bits a file gets when it replaces nothing.
fs::perms newFileMode(const QString &name)
{
    using P = fs::perms;
    const P readable = P::owner_read | P::owner_write | P::group_read | P::others_read;
    return UpdateFiles::isProgram(name) ? readable | P::owner_exec | P::group_exec | P::others_exec
                                        : readable;
}

// Makes the renames in folder last through a power cut.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

struct StagedInstall::Staged
{
    QTemporaryFile file;
    QString savedName;
    QString modeFrom;
    bool finished = false;
};

StagedInstall::StagedInstall(const QString &folder) : m_folder(folder) {}

StagedInstall::~StagedInstall()
{
    discard();
}

bool StagedInstall::fail(const QString &why)
{
    m_error = why;
    return false;
}

bool StagedInstall::begin(const QString &savedName, const QString &modeFrom)
{
    auto staged = std::make_shared<Staged>();
    staged->file.setFileTemplate(QDir(m_folder).filePath(QStringLiteral(".KivuUpdate-XXXXXX.part")));
    staged->savedName = savedName;
    staged->modeFrom = modeFrom;
    m_written = 0;
    if (!staged->file.open())
        return fail(QStringLiteral("无法在程序文件夹中创建临时文件：%1").arg(staged->file.errorString()));
    m_files.append(staged);
    return true;
}

bool StagedInstall::write(const QByteArray &block)
{
    if (m_files.isEmpty() || m_files.last()->finished)
        return fail(QStringLiteral("没有正在写入的文件"));
    QTemporaryFile &file = m_files.last()->file;
    if (file.write(block) != block.size())
        return fail(QStringLiteral("写入失败：%1").arg(file.errorString()));
    m_written += block.size();
    return true;
}

bool StagedInstall::finish(qint64 expectedLength)
{
    if (m_files.isEmpty() || m_files.last()->finished)
        return fail(QStringLiteral("没有正在写入的文件"));
    Staged &staged = *m_files.last();
    QTemporaryFile &file = staged.file;
    if (!file.flush() || ::fsync(file.handle()) != 0)
        return fail(QStringLiteral("写入失败：%1").arg(file.errorString()));
    file.close();
    if (expectedLength >= 0 && m_written != expectedLength) {
        return fail(QStringLiteral("%1 不完整：收到 %2 字节，应为 %3 字节")
                        .arg(staged.savedName)
                        .arg(m_written)
                        .arg(expectedLength));
    }
    staged.finished = true;
    return true;
}

bool StagedInstall::commit()
{
    struct Replaced
    {
        fs::path target;
        fs::path backup; // empty when there was no file to replace
    };
    QList<Replaced> replaced;
    QSet<QString> seen;
    const QDir folder(m_folder);

    const auto rollBack = [&replaced] {
        for (auto it = replaced.crbegin(); it != replaced.crend(); ++it) {
            std::error_code ec;
            if (it->backup.empty())
                fs::remove(it->target, ec);
            else
                fs::rename(it->backup, it->target, ec);
        }
    };

    for (const auto &staged : std::as_const(m_files)) {
        if (!staged->finished) {
            rollBack();
            return fail(QStringLiteral("%1 未下载完成").arg(staged->savedName));
        }
        const fs::path temp = fsPath(staged->file.fileName());
        const fs::path target = fsPath(folder.filePath(staged->savedName));
        std::error_code ec;

        fs::perms mode = newFileMode(staged->modeFrom);
        std::error_code missing;
        const fs::file_status installed = fs::status(fsPath(folder.filePath(staged->modeFrom)), missing);
        if (!missing && fs::is_regular_file(installed))
            mode = installed.permissions() & fs::perms::mask;
        fs::permissions(temp, mode, fs::perm_options::replace, ec);

        if (!ec && !seen.contains(staged->savedName)) {
            seen.insert(staged->savedName);
            Replaced entry{target, {}};
            const fs::file_status current = fs::symlink_status(target, ec);
            if (!ec && fs::is_directory(current)) {
                ec = std::make_error_code(std::errc::is_a_directory);
            } else if (fs::exists(current)) {
                // A second name for the old file: it stays in place until
                // the rename, and comes back should a later one fail.
                entry.backup = fs::path(temp.native() + ".old");
                fs::create_hard_link(target, entry.backup, ec);
                if (ec)
                    fs::copy_file(target, entry.backup, ec);
            } else {
                ec.clear();
            }
            if (!ec)
                replaced.append(entry);
        }
        if (!ec)
            fs::rename(temp, target, ec);
        if (ec) {
            rollBack();
            return fail(QStringLiteral("无法替换 %1：%2")
                            .arg(staged->savedName, QString::fromLocal8Bit(ec.message().c_str())));
        }
        staged->file.setAutoRemove(false);
    }

    for (const Replaced &entry : std::as_const(replaced)) {
        std::error_code ec;
        if (!entry.backup.empty())
            fs::remove(entry.backup, ec);
    }
    m_files.clear();
    syncFolder(m_folder);
    return true;
}

void StagedInstall::discard()
{
    // Each temporary file goes with its object.
    m_files.clear();
    m_written = 0;
}
