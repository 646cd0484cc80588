// Putting an update in place: what vouches for its files (SHA256SUMS and its
// minisign signature, made with the real minisign), the journal that keeps a
// killed placing whole, and the repair each program makes at start.
#include "FileTricks.h"
#include "FolderLock.h"
#include "InstallJournal.h"
#include "MinisignSigner.h"
#include "StagedInstall.h"
#include "UpdateSignature.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Repair = InstallJournal::Repair;

namespace {

const QByteArray kNone = "<none>";
const QStringList kNames = {u"a.bin"_s, u"b.bin"_s, u"c.bin"_s};

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// A line of SHA256SUMS, as sha256sum writes it.
QByteArray sumsLine(const QByteArray &bytes, const QString &name)
{
    return sha256(bytes).toHex() + "  " + name.toUtf8() + '\n';
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
}

// The update's files and our own names in a folder, each with its contents.
QStringList folderState(const QString &folder)
{
    QStringList state;
    const QDir dir(folder);
    for (const QString &name :
         dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        QFile file(dir.filePath(name));
        if (name.endsWith(u".bin"_s) || name.startsWith(u".KivuUpdate"_s))
            state << name + u'=' +
                         (file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : u"?"_s);
    }
    return state;
}

const QStringList kNewState = {u"a.bin=new a.bin"_s, u"b.bin=new b.bin"_s, u"c.bin=new c.bin"_s};

// Stages a.bin, b.bin and c.bin ("new a.bin", ...) and places them; the hook
// runs after each step.
bool placeNewFiles(StagedInstall &install, const std::function<void(int)> &hook)
{
    for (const QString &name : kNames) {
        if (!install.begin(name) || !install.write("new " + name.toUtf8()) || !install.finish(-1))
            return false;
    }
    install.setStepHook(hook);
    return install.commit();
}

// Places the new files in a child process killed by SIGKILL after step k;
// whether it was.
bool placeKilledAfter(const QString &folder, int step)
{
    const pid_t child = ::fork();
    if (child == 0) {
        StagedInstall install(folder);
        ::_exit(placeNewFiles(install,
                              [step](int k) {
                                  if (k == step)
                                      ::raise(SIGKILL);
                              })
                    ? 0
                    : 1);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// For root: the folder and its files belong to the user UnprivilegedFiles
// acts as, so that its own permission bits bind it.
void giveToUnprivileged(const QString &folder)
{
    if (::getuid() != 0)
        return;
    for (const QString &name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotDot))
        QCOMPARE(::lchown(QFile::encodeName(QDir(folder).filePath(name)).constData(), 65534, 65534), 0);
}

} // namespace

class InstallTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_signer.isValid() && m_otherSigner.isValid()); }

    // ---- what vouches for the files ----------------------------------------

    void signature_decidesWhetherTheFilesArePlaced_data()
    {
        QTest::addColumn<bool>("keyed");
        QTest::addColumn<QByteArray>("sums");      // kNone: not listed
        QTest::addColumn<QByteArray>("signature"); // kNone: not listed
        QTest::addColumn<bool>("allowed");
        const QByteArray good = sumsLine("player", u"TamselMP3Player"_s) + sumsLine("skin", u"skin.dll"_s);
        const QString comment = u"TamselMP3Player 13.05.23"_s;
        const auto row = [](const char *name, bool keyed, const QByteArray &sums, const QByteArray &signature,
                            bool allowed) { QTest::newRow(name) << keyed << sums << signature << allowed; };
        const auto sign = [this](const QByteArray &data, const QString &comment) {
            return m_signer.sign(data, comment);
        };
        row("signed", true, good, sign(good, comment), true);
        row("signed the legacy way", true, good, m_signer.sign(good, comment, {u"-l"_s}), true);
        row("signed with another key", true, good, m_otherSigner.sign(good, comment), false);
        row("sums changed after signing", true, good + sumsLine("x", u"x"_s), sign(good, comment), false);
        row("signed for another version", true, good, sign(good, u"TamselMP3Player 13.05.22"_s), false);
        row("trusted comment edited", true, good,
            sign(good, u"TamselMP3Player 13.05.22"_s).replace("13.05.22", "13.05.23"), false);
        row("signature garbled", true, good, sign(good, comment).replace("untrusted", "trusted"), false);
        row("no signature", true, good, kNone, false);
        row("no sums", true, kNone, sign(good, comment), false);
        const QByteArray skinOnly = sumsLine("skin", u"skin.dll"_s);
        row("a file without a line", true, skinOnly, sign(skinOnly, comment), false);
        const QByteArray extra = good + sumsLine("x", u"readme.txt"_s);
        row("a line for a file not in the update", true, extra, sign(extra, comment), false);
        const QByteArray wrong =
            sumsLine("player", u"TamselMP3Player"_s) + sumsLine("old skin", u"skin.dll"_s);
        row("a file's hash differs", true, wrong, sign(wrong, comment), false);
        const QByteArray twice = good + sumsLine("skin", u"skin.dll"_s);
        row("a file named twice", true, twice, sign(twice, comment), false);
        row("unsigned build, nothing listed", false, kNone, kNone, true);
        row("unsigned build, hashes match", false, good, "garbage", true);
        row("unsigned build, some files without a line", false, skinOnly, kNone, true);
        row("unsigned build, a hash differs", false, wrong, kNone, false);
        row("unsigned build, a line one blank short", false, QByteArray(good).replace("  ", " "), kNone,
            false);
    }

    void signature_decidesWhetherTheFilesArePlaced()
    {
        QFETCH(bool, keyed);
        QFETCH(QByteArray, sums);
        QFETCH(QByteArray, signature);
        QFETCH(bool, allowed);
        const auto listed = [](const QByteArray &bytes) {
            return bytes == kNone ? std::nullopt : std::optional<QByteArray>(bytes);
        };
        const UpdateSignature::Update update = {
            keyed ? m_signer.publicKey() : QByteArray(),
            u"13.05.23"_s,
            listed(sums),
            listed(signature),
            {{u"TamselMP3Player"_s, sha256("player")}, {u"skin.dll"_s, sha256("skin")}}};
        QString why;
        QCOMPARE(UpdateSignature::allows(update, &why), allowed);
        QCOMPARE(why.isEmpty(), allowed);
    }

    // ---- the journal --------------------------------------------------------

    // A child process places three files (two replace installed ones) and is
    // killed after step k; the next start finds the folder wholly old or
    // wholly new, and nothing of the update beside it, or leaves alone what it
    // must not touch.
    void kill_atAnyStep_leavesTheFolderWhollyOldOrNew_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("then");
        QTest::addColumn<int>("after"); // Old, New, or Unchanged since the kill
        // Steps 0 to 8 for three files; at 9 the placing ends by itself.
        for (int step = 0; step <= 9; ++step)
            QTest::addRow("killed after step %d", step) << step << int(Recover) << int(step >= 2 ? New : Old);
        QTest::newRow("a new file lost after the journal") << 2 << int(StagedLost) << int(Old);
        QTest::newRow("a new file cut after the first rename") << 3 << int(StagedCut) << int(Old);
        QTest::newRow("the player started") << 3 << int(StartPlayer) << int(New);
        QTest::newRow("the updater started") << 3 << int(StartUpdater) << int(New);
        QTest::newRow("an updater at work is left alone") << 3 << int(UpdaterAtWork) << int(Unchanged);
        QTest::newRow("a read-only folder still starts") << 3 << int(ReadOnlyFolder) << int(Unchanged);
        QTest::newRow("a damaged journal is left as it is") << 3 << int(DamagedJournal) << int(Unchanged);
        // The journal cannot vouch for a file that lost its identity: it is read, and still taken.
        QTest::newRow("new files that lost their identity are read") << 3 << int(IdentityLost) << int(New);
        QTest::newRow("a journal of an earlier updater (BLAKE2b)") << 3 << int(EarlierJournal) << int(New);
    }

    void kill_atAnyStep_leavesTheFolderWhollyOldOrNew()
    {
        QFETCH(int, step);
        QFETCH(int, then);
        QFETCH(int, after);
        QTemporaryDir dir;
        const QByteArray path = QFile::encodeName(dir.path());
        writeFile(dir.filePath(kNames[0]), "old a.bin");
        writeFile(dir.filePath(kNames[1]), "old b.bin");
        const QStringList old = folderState(dir.path());
        QCOMPARE(placeKilledAfter(dir.path(), step), step < 9);
        QFile staged(
            dir.filePath(QDir(dir.path()).entryList({u"*.part"_s}, QDir::Files | QDir::Hidden).value(0)));
        QFile journal(dir.filePath(InstallJournal::kFileName));
        QVERIFY(then != StagedLost || staged.remove());
        QVERIFY(then != StagedCut || staged.resize(1));
        QVERIFY(then != DamagedJournal ||
                (journal.open(QIODevice::Append) && journal.write("a.bin\t..\n") && journal.flush()));
        if (then == IdentityLost)
            QVERIFY(staged.open(QIODevice::ReadWrite) &&
                    staged.setFileTime(QDateTime::currentDateTime().addDays(-1),
                                       QFileDevice::FileModificationTime));
        if (then == EarlierJournal) {
            // As updaters up to 13.05.22 wrote it: five fields, the new contents' BLAKE2b-256.
            QVERIFY(journal.open(QIODevice::ReadWrite));
            QList<QByteArray> lines = journal.readAll().split('\n');
            lines[0] = "TamselMP3Player install journal 1";
            for (QByteArray &line : lines) {
                QList<QByteArray> fields = line.split('\t');
                if (fields.size() < 7)
                    continue;
                fields[4] =
                    QCryptographicHash::hash("new " + fields[1], QCryptographicHash::Blake2b_256).toHex();
                line = fields.mid(0, 5).join('\t');
            }
            QVERIFY(journal.resize(0) && journal.write(lines.join('\n')) > 0 && journal.flush());
            journal.close();
        }
        std::optional<FolderLock> updater;
        if (then == UpdaterAtWork)
            updater.emplace(dir.path());
        const QStringList killed = folderState(dir.path());
        std::optional<UnprivilegedFiles> unprivileged;
        if (then == ReadOnlyFolder) {
            giveToUnprivileged(dir.path());
            unprivileged.emplace();
            QCOMPARE(::chmod(path.constData(), 0555), 0);
        }
        if (then == StartPlayer || then == StartUpdater) {
            // The real program, from that folder, repairs before anything else.
            const QString program =
                QString::fromUtf8(then == StartPlayer ? TAMSEL_PLAYER_BINARY : TAMSEL_UPDATER_BINARY);
            const QString copy = dir.filePath(QFileInfo(program).fileName());
            QVERIFY(QFile::copy(program, copy));
            QProcess process;
            process.setEnvironment(QProcess::systemEnvironment() << u"QT_QPA_PLATFORM=offscreen"_s);
            process.start(copy, {});
            QTRY_VERIFY_WITH_TIMEOUT(
                !journal.exists() && folderState(dir.path()).filter(u".part"_s).isEmpty(), 20000);
            process.terminate(); // the updater lets go of the folder as it ends
            QVERIFY(process.waitForFinished(20000));
        } else {
            InstallJournal::recover(dir.path());
        }
        QCOMPARE(::chmod(path.constData(), 0755), 0);
        QCOMPARE(folderState(dir.path()), after == New ? kNewState : after == Old ? old : killed);
    }

    // ---- faults ----------------------------------------------------------------

    void fault_isHandledWithoutLosingAFile_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("roll-back fails halfway") << int(RollBackFails);
        QTest::newRow("only our own leftovers are swept") << int(Leftovers);
        QTest::newRow("a backup copy cut short is not left behind") << int(BackupCopyCut);
    }

    void fault_isHandledWithoutLosingAFile()
    {
        QFETCH(int, fault);
        QTemporaryDir dir;
        const QString folder = dir.path();
        const QByteArray path = QFile::encodeName(folder);
        writeFile(dir.filePath(kNames[0]), "old a.bin");
        writeFile(dir.filePath(kNames[1]), "old b.bin");
        if (fault == Leftovers) {
            // Ours: six letters (earlier updaters) or eight, a backup, the journal's temporary.
            for (const QString &name : {u".KivuUpdate-abcdef.part"_s, u".KivuUpdate-abcd1234.part.old"_s,
                                        u".KivuUpdate.journal.new"_s, u".KivuUpdate-x.part"_s,
                                        u".KivuUpdate-abcdefghi.part"_s, u".KivuUpdate-notes.txt"_s})
                writeFile(dir.filePath(name), "x");
            QVERIFY(QDir(folder).mkdir(u".KivuUpdate-qwerty.part"_s));
            QVERIFY(QFile::link(dir.filePath(kNames[1]), dir.filePath(u".KivuUpdate-zxcvbn.part"_s)));
            QCOMPARE(InstallJournal::recover(folder), Repair::Nothing);
            QCOMPARE(folderState(folder),
                     (QStringList{u".KivuUpdate-abcdefghi.part=x"_s, u".KivuUpdate-notes.txt=x"_s,
                                  u".KivuUpdate-qwerty.part=?"_s, u".KivuUpdate-x.part=x"_s,
                                  u".KivuUpdate-zxcvbn.part=old b.bin"_s, u"a.bin=old a.bin"_s,
                                  u"b.bin=old b.bin"_s}));
        } else if (fault == BackupCopyCut) {
            // An installed file of root's cannot be linked by another user
            // (protected hard links): its backup is a copy, which the disk cuts.
            QFile hardlinks(u"/proc/sys/fs/protected_hardlinks"_s);
            if (::getuid() != 0 || !hardlinks.open(QIODevice::ReadOnly) ||
                hardlinks.readAll().trimmed() != "1")
                QSKIP("needs root and protected hard links");
            writeFile(dir.filePath(kNames[0]), QByteArray("old a.bin").repeated(8000));
            const QStringList old = folderState(folder);
            giveToUnprivileged(folder);
            QCOMPARE(::chown(QFile::encodeName(dir.filePath(kNames[0])).constData(), 0, 0), 0);
            {
                UnprivilegedFiles unprivileged;
                FileSizeLimit disk(4096);
                QVERIFY(unprivileged.active() && disk.active());
                StagedInstall install(folder);
                QVERIFY(!placeNewFiles(install, {}));
                QVERIFY2(install.errorString().startsWith(u"无法替换 a.bin"_s),
                         qPrintable(install.errorString()));
            }
            QCOMPARE(folderState(folder), old);
        } else {
            // The folder turns read-only after the first rename: neither the
            // next rename nor the way back can be made.
            giveToUnprivileged(folder);
            UnprivilegedFiles unprivileged;
            QVERIFY(unprivileged.active());
            StagedInstall install(folder);
            QVERIFY(!placeNewFiles(install, [&path](int k) {
                if (k == 3)
                    ::chmod(path.constData(), 0555);
            }));
            QCOMPARE(install.leftBehind(), QStringList{kNames[0]});
            QCOMPARE(install.errorString(), u"无法替换 b.bin：没有写入权限"_s);
            QCOMPARE(::chmod(path.constData(), 0755), 0);
            QCOMPARE(QDir(folder).entryList({u"*.part.old"_s}, QDir::Files | QDir::Hidden).size(), 2);
            QCOMPARE(InstallJournal::recover(folder), Repair::RolledForward);
            QCOMPARE(folderState(folder), kNewState);
        }
    }

private:
    enum Then {
        Recover,
        StagedLost,
        StagedCut,
        StartPlayer,
        StartUpdater,
        UpdaterAtWork,
        ReadOnlyFolder,
        DamagedJournal,
        IdentityLost,
        EarlierJournal
    };
    enum After { Old, New, Unchanged };
    enum Fault { RollBackFails, Leftovers, BackupCopyCut };

    MinisignSigner m_signer;
    MinisignSigner m_otherSigner;
};

QTEST_GUILESS_MAIN(InstallTest)
#include "test_install.moc"
