#include "InstallJournal.h"

#include "AtomicFile.h"
#include "FolderLock.h"
#include "RegularFile.h"
#include "Sha256.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace InstallJournal {
namespace {

const QString kPrefix = QStringLiteral(".KivuUpdate-");
const QString kStagedSuffix = QStringLiteral(".part");
const QString kBackupSuffix = QStringLiteral(".old");
const QString kJournalTemporary = kFileName + QStringLiteral(".new");
const QByteArray kHeader = "TamselMP3Player install journal 2";
// Written by updaters up to 13.05.22: no identities, BLAKE2b-256 digests.
const QByteArray kHeaderBlake2b = "TamselMP3Player install journal 1";
const QByteArray kEnd = "end";
constexpr qint64 kMaxJournalBytes = 1024 * 1024;
constexpr int kDigestBytes = 32;

QByteArray pathOf(const QString &folder, const QString &name)
{
    return QFile::encodeName(QDir(folder).filePath(name));
}

bool exists(const QByteArray &path)
{
    struct stat info = {};
    return ::lstat(path.constData(), &info) == 0;
}

struct Journal
{
    QList<Entry> entries;
    // Of an earlier updater: the digests are BLAKE2b's and there are no identities.
    bool blake2b = false;
};

qint64 modifiedNs(const struct stat &info)
{
    return qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

// Whether path holds the entry's new file: the very file (its identity), or
// failing that, a regular file of its size and digest, read and hashed.
bool holdsNew(const QString &folder, const QString &name, const Entry &entry, bool blake2b = false)
{
    const QByteArray path = pathOf(folder, name);
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != entry.size)
        return false;
    if (!blake2b && info.st_ino == entry.inode && modifiedNs(info) == entry.modifiedNs)
        return true;
    QFile file;
    if (!RegularFile::openForReading(&file, QFile::decodeName(path)))
        return false;
    if (!blake2b)
        return Sha256::ofFile(file.handle()) == entry.digest;
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    return hash.addData(&file) && hash.result() == entry.digest;
}

void fail(Outcome &outcome, const QString &text)
{
    outcome.ok = false;
    outcome.error = text;
}

QString reason()
{
    return AtomicFile::reasonFor(errno);
}

// A name the journal may give a target: a plain file of the folder, and not
// one of the names placing itself uses.
bool isPlainName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || isOurName(name))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QByteArray journalText(const QList<Entry> &entries)
{
    QByteArray text = kHeader + '\n';
    for (const Entry &entry : entries) {
        text += entry.staged.toUtf8() + '\t' + entry.target.toUtf8() + '\t' + entry.backup.toUtf8() + '\t' +
                QByteArray::number(entry.size) + '\t' + entry.digest.toHex() + '\t' +
                QByteArray::number(entry.inode) + '\t' + QByteArray::number(entry.modifiedNs) + '\n';
    }
    return text + kEnd + '\n';
}

// Written under a temporary name and renamed: the journal is there whole or not at all.
bool writeJournal(const QString &folder, const QList<Entry> &entries, QString *why)
{
    const QByteArray temporary = pathOf(folder, kJournalTemporary);
    const QByteArray text = journalText(entries);
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    int error = fd < 0 ? errno : AtomicFile::writeAll(fd, text);
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (fd >= 0)
        ::close(fd);
    if (error == 0 && ::rename(temporary.constData(), pathOf(folder, kFileName).constData()) != 0)
        error = errno;
    if (error != 0) {
        *why = AtomicFile::reasonFor(error);
        ::unlink(temporary.constData());
        return false;
    }
    syncFolder(folder);
    return true;
}

bool removeJournal(const QString &folder)
{
    if (::unlink(pathOf(folder, kFileName).constData()) != 0 && errno != ENOENT)
        return false;
    syncFolder(folder);
    return true;
}

std::optional<Journal> readJournal(const QString &folder)
{
    QFile file;
    if (!RegularFile::openForReading(&file, QFile::decodeName(pathOf(folder, kFileName))))
        return std::nullopt;
    const QByteArray text = file.read(kMaxJournalBytes + 1);
    QList<QByteArray> lines = text.split('\n');
    // The header, the entries, the end line and the empty piece after its break.
    if (text.size() > kMaxJournalBytes || lines.size() < 3 || !lines.takeLast().isEmpty() ||
        lines.takeLast() != kEnd)
        return std::nullopt;
    Journal journal;
    const QByteArray header = lines.takeFirst();
    journal.blake2b = header == kHeaderBlake2b;
    if (header != kHeader && !journal.blake2b)
        return std::nullopt;
    QSet<QString> targets;
    for (const QByteArray &line : std::as_const(lines)) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != (journal.blake2b ? 5 : 7))
            return std::nullopt;
        Entry entry;
        entry.staged = QString::fromUtf8(fields[0]);
        entry.target = QString::fromUtf8(fields[1]);
        entry.backup = QString::fromUtf8(fields[2]);
        bool sized = false, identified = true;
        entry.size = fields[3].toLongLong(&sized);
        entry.digest = QByteArray::fromHex(fields[4]);
        if (!journal.blake2b) {
            bool inode = false, modified = false;
            entry.inode = fields[5].toULongLong(&inode);
            entry.modifiedNs = fields[6].toLongLong(&modified);
            identified = inode && modified;
        }
        const bool stagedOk = isOurTemporary(entry.staged) && !entry.staged.endsWith(kBackupSuffix);
        const bool backupOk = entry.backup.isEmpty() || entry.backup == entry.staged + kBackupSuffix;
        if (!stagedOk || !backupOk || !isPlainName(entry.target) || targets.contains(entry.target) ||
            !sized || !identified || entry.size < 0 || fields[4].size() != 2 * kDigestBytes ||
            entry.digest.size() != kDigestBytes)
            return std::nullopt;
        targets.insert(entry.target);
        journal.entries.append(entry);
    }
    return journal;
}

// Gives each target its old file back, newest first, and removes the new
// files' temporaries. Returns the targets that could not be put back.
QStringList rollBack(const QString &folder, const QList<Entry> &entries, bool blake2b = false)
{
    QStringList left;
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        const QByteArray target = pathOf(folder, it->target);
        if (!it->backup.isEmpty()) {
            // A backup that is gone was put back by an earlier try.
            const QByteArray backup = pathOf(folder, it->backup);
            if (exists(backup)) {
                if (::rename(backup.constData(), target.constData()) != 0) {
                    left << it->target;
                    continue;
                }
                // Between two names of one file rename does nothing: the
                // target was never replaced, and the backup goes by itself.
                if (exists(backup))
                    ::unlink(backup.constData());
            }
        } else if (holdsNew(folder, it->target, *it, blake2b) && ::unlink(target.constData()) != 0) {
            left << it->target;
            continue;
        }
        ::unlink(pathOf(folder, it->staged).constData());
    }
    return left;
}

// Renames the new files that still wait into place; the others are there already.
bool rollForward(const QString &folder, const QList<Entry> &entries, const QList<bool> &waiting)
{
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries[i];
        if (waiting[i] &&
            ::rename(pathOf(folder, entry.staged).constData(), pathOf(folder, entry.target).constData()) != 0)
            return false;
    }
    return true;
}

void removeBackups(const QString &folder, const QList<Entry> &entries)
{
    for (const Entry &entry : entries) {
        if (!entry.backup.isEmpty())
            ::unlink(pathOf(folder, entry.backup).constData());
    }
}

// A second name for the old file, or where the file system has none (or
// will not link another's file), a copy on disk. A copy that fails goes again.
bool makeBackup(const QByteArray &target, const QByteArray &backup)
{
    if (::link(target.constData(), backup.constData()) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    namespace fs = std::filesystem;
    std::error_code code;
    bool made = fs::copy_file(target.toStdString(), backup.toStdString(), code);
    int error = code.value();
    if (made) {
        const int fd = ::open(backup.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        made = fd >= 0 && ::fsync(fd) == 0;
        error = errno;
        if (fd >= 0)
            ::close(fd);
    }
    // The name was free (link said so): whatever stands there now is our copy.
    if (!made && error != EEXIST)
        ::unlink(backup.constData());
    errno = error;
    return made;
}

QStringList namesOfOurs(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".KivuUpdate*")},
                                  QDir::Files | QDir::Hidden | QDir::System);
}

// Removes our temporaries and backups that no journal needs any more.
void sweep(const QString &folder)
{
    for (const QString &name : namesOfOurs(folder)) {
        const QByteArray path = pathOf(folder, name);
        struct stat info = {};
        if (isOurTemporary(name) && ::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode))
            ::unlink(path.constData());
    }
}

} // namespace

QString newStagedName()
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString random;
    for (int i = 0; i < 8; ++i)
        random += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)]);
    return kPrefix + random + kStagedSuffix;
}

bool isOurTemporary(const QString &name)
{
    // Six letters are what earlier updaters used (QTemporaryFile), eight ours.
    static const QRegularExpression kOurs(
        QStringLiteral("^\\.KivuUpdate-[A-Za-z0-9]{6,8}\\.part(\\.old)?$|^\\.KivuUpdate\\.journal\\.new$"));
    return kOurs.match(name).hasMatch();
}

bool isOurName(const QString &name)
{
    return name == kFileName || name == FolderLock::kFileName || isOurTemporary(name);
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

Outcome place(const QString &folder, QList<Entry> entries, const std::function<void(int)> &afterStep)
{
    const auto step = [&afterStep](int k) {
        if (afterStep)
            afterStep(k);
    };
    Outcome outcome;
    step(0);
    for (Entry &entry : entries) {
        struct stat staged = {};
        if (::lstat(pathOf(folder, entry.staged).constData(), &staged) != 0 || !S_ISREG(staged.st_mode) ||
            staged.st_size != entry.size) {
            fail(outcome, QStringLiteral("无法替换 %1：%2").arg(entry.target, reason()));
            return outcome;
        }
        entry.inode = staged.st_ino;
        entry.modifiedNs = modifiedNs(staged);
    }
    for (qsizetype i = 0; i < entries.size(); ++i) {
        Entry &entry = entries[i];
        const QByteArray target = pathOf(folder, entry.target);
        struct stat info = {};
        entry.backup.clear();
        if (::lstat(target.constData(), &info) != 0)
            continue;
        const QString backup = entry.staged + kBackupSuffix;
        if (S_ISDIR(info.st_mode))
            errno = EISDIR;
        else if (makeBackup(target, pathOf(folder, backup))) {
            entry.backup = backup;
            continue;
        }
        fail(outcome, QStringLiteral("无法替换 %1：%2").arg(entry.target, reason()));
        removeBackups(folder, entries);
        return outcome;
    }
    step(1);
    QString why;
    if (!writeJournal(folder, entries, &why)) {
        removeBackups(folder, entries);
        fail(outcome, QStringLiteral("无法写入更新记录：%1").arg(why));
        return outcome;
    }
    step(2);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries[i];
        if (::rename(pathOf(folder, entry.staged).constData(), pathOf(folder, entry.target).constData()) !=
            0) {
            fail(outcome, QStringLiteral("无法替换 %1：%2").arg(entry.target, reason()));
            outcome.left = rollBack(folder, entries);
            // What could not be put back stays in the journal's care.
            if (outcome.left.isEmpty()) {
                syncFolder(folder);
                removeJournal(folder);
            }
            return outcome;
        }
        step(3 + int(i));
    }
    syncFolder(folder);
    step(3 + int(entries.size()));
    if (!removeJournal(folder)) {
        // Every file is in place; the next start finds them so and ends the journal.
        qWarning("cannot remove %s: %s", qPrintable(kFileName), qPrintable(reason()));
        return outcome;
    }
    step(4 + int(entries.size()));
    removeBackups(folder, entries);
    step(5 + int(entries.size()));
    return outcome;
}

Repair recover(const QString &folder)
{
    // A folder at rest holds nothing of ours: it is only looked at, never locked.
    if (namesOfOurs(folder).isEmpty())
        return Repair::Nothing;
    const FolderLock lock(folder);
    if (lock.state() != FolderLock::Held)
        return Repair::Skipped;
    Repair repair = Repair::Nothing;
    if (exists(pathOf(folder, kFileName))) {
        const std::optional<Journal> journal = readJournal(folder);
        if (!journal) {
            // Not one we wrote: nothing it names is touched, nor anything it may need.
            qWarning("%s is damaged; the update files are left as they are", qPrintable(kFileName));
            return Repair::Unfinished;
        }
        const QList<Entry> &entries = journal->entries;
        // Forward when each new file waits complete or is in place already.
        QList<bool> waiting;
        bool forward = true;
        for (const Entry &entry : entries) {
            waiting << holdsNew(folder, entry.staged, entry, journal->blake2b);
            forward = forward && (waiting.last() || holdsNew(folder, entry.target, entry, journal->blake2b));
        }
        repair = Repair::RolledForward;
        if (!forward || !rollForward(folder, entries, waiting)) {
            repair = Repair::RolledBack;
            const QStringList left = rollBack(folder, entries, journal->blake2b);
            if (!left.isEmpty()) {
                qWarning("cannot put back %s", qPrintable(left.join(QStringLiteral(", "))));
                return Repair::Unfinished;
            }
        }
        syncFolder(folder);
        if (!removeJournal(folder))
            return Repair::Unfinished;
    }
    sweep(folder);
    return repair;
}

} // namespace InstallJournal
