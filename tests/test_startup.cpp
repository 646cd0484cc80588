// Start-up of the main window: help documents, failure path, start values.
#include "PlayerFixture.h"

#include "FileTricks.h"

#include "ImageButton.h"
#include "LineControl.h"
#include "PlayerSettings.h"
#include "SeekBar.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QScopeGuard>
#include <QScreen>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray shipped(const QString &name)
{
    return readAll(u":/docs/"_s + name);
}

const QStringList kDocuments = {u"License.txt"_s, u"ReadMe.txt"_s, u"WhatsNew.txt"_s,
                                u"广告合作及其协议.txt"_s};
const char kNoUnprivileged[] = "files cannot be opened as an ordinary user here (setfsuid refused)";

// Readable and searchable by everyone, writable by no one.
const auto kLocked = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;

// Gives the folder back to its owner, so that it can be cleaned up.
void unlock(const QString &folder)
{
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

enum Breakage { DocumentIsFolder, FolderMissing, FolderReadOnly };

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void load_writesTheDocuments_keepingOnlyTheUsersOwn_data()
    {
        // One entry per document in kDocuments order; empty: not there before / the shipped copy after.
        QTest::addColumn<QByteArrayList>("before");
        QTest::addColumn<QByteArrayList>("after");
        const QByteArray licence = "my own licence\r\n", advertising = "\xd7\xd4\xbc\xba\r\n";
        const QByteArray longer(5000, 'x');
        QTest::newRow("fresh folder") << QByteArrayList(4) << QByteArrayList(4);
        QTest::newRow("own licence and advertising kept byte for byte")
            << QByteArrayList{licence, {}, {}, advertising} << QByteArrayList{licence, {}, {}, advertising};
        QTest::newRow("older, longer notes replaced without tail")
            << QByteArrayList{{}, longer, longer, {}} << QByteArrayList(4);
    }

    void load_writesTheDocuments_keepingOnlyTheUsersOwn()
    {
        QFETCH(QByteArrayList, before);
        QFETCH(QByteArrayList, after);
        PlayerFixture player;
        for (int i = 0; i < kDocuments.size(); ++i) {
            if (!before[i].isEmpty())
                writeAll(player.dir.filePath(kDocuments[i]), before[i]);
        }
        QVERIFY(player.load());
        QVERIFY(player.prompts.shown().isEmpty());
        for (int i = 0; i < kDocuments.size(); ++i) {
            const QString &name = kDocuments[i];
            const QByteArray bytes = readAll(player.dir.filePath(name));
            QCOMPARE(bytes, after[i].isEmpty() ? shipped(name) : after[i]);
            if (!after[i].isEmpty())
                continue; // the user's own text, as it was
            QVERIFY2(bytes.size() > 200, qPrintable(name));
            // Every line ends in CR LF, the last one too.
            QVERIFY2(bytes.endsWith("\r\n"), qPrintable(name));
            QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
            // GBK Chinese text, which is not UTF-8.
            QStringDecoder gbk("GBK"), utf8(QStringDecoder::Utf8);
            QVERIFY2(QString(gbk.decode(bytes)).contains(u"播放"_s), qPrintable(name));
            QVERIFY(!gbk.hasError());
            (void)QString(utf8.decode(bytes));
            QVERIFY(utf8.hasError());
        }
    }

    void load_documentsCannotBeWritten_asksToDownloadAndFails_data()
    {
        QTest::addColumn<int>("breakage");
        QTest::addColumn<int>("answer");
        QTest::newRow("folder as a document, Yes") << int(DocumentIsFolder) << int(Prompts::AnswerYes);
        QTest::newRow("program folder missing, No") << int(FolderMissing) << int(Prompts::AnswerNo);
        QTest::newRow("read-only program folder, No") << int(FolderReadOnly) << int(Prompts::AnswerNo);
    }

    void load_documentsCannotBeWritten_asksToDownloadAndFails()
    {
        QFETCH(int, breakage);
        QFETCH(int, answer);
        PlayerFixture player(breakage == FolderMissing ? u"/nonexistent-tamsel-folder/sub"_s : QString());
        player.prompts.answerNext(answer);
        const auto unlocked = qScopeGuard([&] { unlock(player.dir.path()); });
        std::optional<UnprivilegedFiles> asUser; // released before the folder is unlocked
        // No one, root included, can write a file over a folder.
        if (breakage == DocumentIsFolder)
            QVERIFY(QDir(player.dir.path()).mkdir(u"ReadMe.txt"_s));
        if (breakage == FolderReadOnly) {
            QFile::setPermissions(player.dir.path(), kLocked);
            if (!asUser.emplace().active())
                QSKIP(kNoUnprivileged);
        }
        QVERIFY(!player.load());
        QCOMPARE(player.prompts.shown().size(), 1);
        const auto box = player.prompts.shown().constFirst();
        QCOMPARE(box.title, u"提示"_s);
        QCOMPARE(box.text, u"您的软件已经损坏，是否去官网下载最新版本"_s);
        QCOMPARE(box.buttons, Prompts::YesNo);
        QCOMPARE(player.shell.websites,
                 answer == Prompts::AnswerYes ? QStringList{player.services.noticeUrl} : QStringList());
        QVERIFY(!player.window->isVisible());
    }

    void load_installedReadOnly_startsWhenTheDocumentsAreRight_data()
    {
        QTest::addColumn<bool>("current");       // the copies there match the program's
        QTest::addColumn<bool>("writableFiles"); // the documents themselves may be written
        QTest::addColumn<bool>("noFileMayGrow"); // instead of read-only rights: a file-size limit of 0
        QTest::addColumn<bool>("starts");
        QTest::newRow("current copies, nothing writable") << true << false << false << true;
        QTest::newRow("current copies, no file may grow") << true << true << true << true;
        QTest::newRow("older copies, documents writable") << false << true << false << true;
        QTest::newRow("older copies, nothing writable") << false << false << false << false;
    }

    void load_installedReadOnly_startsWhenTheDocumentsAreRight()
    {
        QFETCH(bool, current);
        QFETCH(bool, writableFiles);
        QFETCH(bool, noFileMayGrow);
        QFETCH(bool, starts);
        // As laid out by an install: the documents are there, then the folder is locked.
        QTemporaryDir folder;
        QVERIFY(PlayerFixture(folder.path()).load());
        const QByteArray old = "older\r\n";
        if (!current) {
            writeAll(folder.filePath(u"ReadMe.txt"_s), old);
            writeAll(folder.filePath(u"WhatsNew.txt"_s), old);
        }
        const auto everyone = QFile::ReadOwner | QFile::ReadOther;
        for (const QString &name : kDocuments)
            QFile::setPermissions(folder.filePath(name),
                                  writableFiles ? everyone | QFile::WriteOwner | QFile::WriteOther
                                                : everyone);
        const auto unlocked = qScopeGuard([&] { unlock(folder.path()); });
        if (!noFileMayGrow)
            QFile::setPermissions(folder.path(), kLocked);
        {
            PlayerFixture player(folder.path());
            if (!starts)
                player.prompts.answerNext(Prompts::AnswerNo);
            std::optional<UnprivilegedFiles> asUser;
            std::optional<FileSizeLimit> limit;
            if (noFileMayGrow) {
                limit.emplace(0);
                QVERIFY(limit->active());
            } else if (!asUser.emplace().active()) {
                QSKIP(kNoUnprivileged);
            }
            QCOMPARE(player.load(), starts);
            QCOMPARE(player.prompts.shown().size(), starts ? 0 : 1);
        }
        QCOMPARE(readAll(folder.filePath(u"ReadMe.txt"_s)), starts ? shipped(u"ReadMe.txt"_s) : old);
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(),
                 kDocuments.size());
    }

    void load_setsStartValuesOfWindowLabelsSelectionStateAndTimers()
    {
        PlayerFixture player;
        FrmPlayer &w = *player.window;
        const auto timer = [&](const char *name) { return w.findChild<QTimer *>(QLatin1String(name)); };
        QCOMPARE(timer("Timer1")->interval(), 60000);
        w.state().playMode = 0;
        w.state().stoppedByUser = true;
        w.state().endPhase = 2;
        QVERIFY(player.load());

        QCOMPARE(w.windowTitle(), u"TamselMP3Player"_s);
        QCOMPARE(w.size(), QSize(589, 157));
        QVERIFY(w.isVisible());
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(w.pos(), QPoint(area.x() + area.width() / 2 - 589 / 2, area.y()));
        for (const QString &entry : u"lblCurrent= lblTime=00:00:00 lblTotletime=00:00:00 lblTimetotle=长度: "
                                    u"lblLoop=全部循环 lblSpeed=原速度 lblCsc=立体声"_s.split(u' '))
            QCOMPARE(player.label(qPrintable(entry.section(u'=', 0, 0)))->text(), entry.section(u'=', 1));
        const auto text = [&](const char *name) { return player.label(name)->text(); };
        QCOMPARE(text("lblTotle") + text("lblTotlenum") + text("lblShou"), u"共0首"_s);
        QCOMPARE(player.label("lblSpeed")->palette().color(QPalette::WindowText), QColor(192, 192, 255));
        QCOMPARE(player.listName()->currentRow(), -1);
        QVERIFY(!player.listUrl()->isVisible());
        QCOMPARE(player.listName()->palette().color(QPalette::Base), QColor(Qt::black));
        QCOMPARE(player.listName()->palette().color(QPalette::Text), QColor(192, 192, 255));

        QCOMPARE(w.state().playMode, 2);
        QCOMPARE(w.state().stoppedByUser, false);
        QCOMPARE(w.state().endPhase, 1);
        QCOMPARE(w.state().isPaused, false);
        QCOMPARE(w.state().msgAnswer, 0);

        auto *sound = w.findChild<QWidget *>(u"imgSound"_s);
        QCOMPARE(sound->x(), 272);
        QCOMPARE(sound->width(), 35);
        QVERIFY(!w.findChild<LineControl *>(u"lineMute"_s)->isVisible());
        auto *line = w.findChild<LineControl *>(u"lineFront"_s);
        QCOMPARE(line->x1(), 0.0);
        QCOMPARE(line->x2(), 0.0);
        auto *bar = w.findChild<SeekBar *>(u"Picture1"_s);
        QCOMPARE(bar->geometry(), QRect(8, 70, 325, 6));
        QCOMPARE(bar->scaleWidth(), 4875);
        QCOMPARE(w.findChild<QWidget *>(u"Picture2"_s)->geometry(), QRect(339, 0, 250, 45));
        QCOMPARE(player.listName()->geometry(), QRect(339, 45, 250, 111));
        QCOMPARE(w.media()->objectName(), u"wmp"_s);

        for (const char *display : {"timerDisplay", "timerTotle"}) {
            QCOMPARE(timer(display)->interval(), 500);
            QVERIFY(timer(display)->isActive());
        }
        // No connection in the fixture: the push timer is off.
        QCOMPARE(timer("Timer1")->interval(), 0);
        QVERIFY(!timer("Timer1")->isActive());
        QCOMPARE(timer("Timer2")->interval(), 20);
    }

    void controls_carryTheirNamesAndTooltips()
    {
        PlayerFixture player;
        // name:tooltip; imgMute1 has no tooltip to check.
        const QStringList buttons =
            u"imgPlay:播放 imgPause:暂停 imgStop:停止 imgPrev:上一曲 imgNext:下一曲 imgStepback:快进 "
            u"imgStepfront:快退 imgLoop:循环模式 imgOpen:打开文件 imgSoundup:增加音量 "
            u"imgSounddown:减少音量 imgSpeedup:加速 imgSpeed0:原速度 imgSpeeddown:减速 Image1:迷你模式 "
            u"imgAdd:添加歌曲 imgDelete:删除歌曲 imgClear:清空列表 imglistPre:上一曲 imglistNext:下一曲 "
            u"imgLstsave:保存播放列表 imgLstopen:打开播放列表 imgMin:最小化 imgClose:关闭 "
            u"Image2:检查更新 imgMute1"_s.split(u' ');
        for (const QString &entry : buttons) {
            auto *button = player.window->findChild<ImageButton *>(entry.section(u':', 0, 0));
            QVERIFY2(button, qPrintable(entry));
            if (entry.contains(u':'))
                QCOMPARE(button->toolTip(), entry.section(u':', 1));
        }
        // The ten playlist buttons sit on the header strip.
        auto *strip = player.window->findChild<QWidget *>(u"Picture2"_s);
        QCOMPARE(strip->findChildren<ImageButton *>().size(), 10);
    }

    void menu_hasFifteenItemsInOrder_andOpensOnRightClickOnly()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        auto *menu = player.window->findChild<QMenu *>(u"菜单"_s);
        QVERIFY(menu);
        QStringList names;
        int separators = 0;
        for (QAction *action : menu->actions()) {
            names.append(action->objectName());
            separators += action->isSeparator();
        }
        QCOMPARE(names,
                 u"打开播放列表 保存播放列表 分隔1 添加歌曲 删除歌曲 清空列表 分隔2 上一曲 下一曲 分隔3 "
                 u"窗体置顶 检查更新 官方网站 分隔4 退出"_s.split(u' '));
        QCOMPARE(separators, 4);
        // Features add their rows after a separator of their own.
        auto *feature = new QAction(u"功能"_s, menu);
        player.window->addMenuItem(feature);
        player.window->addMenuItem(new QAction(u"功能2"_s, menu));
        const QList<QAction *> rows = menu->actions();
        QCOMPARE(rows.size(), 18);
        QVERIFY(rows.at(15)->isSeparator());
        QCOMPARE(rows.at(16), feature);
        QCOMPARE(rows.at(17)->text(), u"功能2"_s);

        QWidget *viewport = player.listName()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(20, 10));
        QVERIFY(!menu->isVisible());
        QTest::mousePress(viewport, Qt::RightButton, {}, QPoint(20, 10));
        QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 2000);
        menu->hide();
    }

    // The settings file of the features: whatever it holds, reads give sane
    // values, and the next change writes it whole, unless it cannot be written.
    void settings_brokenOrUnwritable_readsSaneValues_andRewritesWhole_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<bool>("writable");
        QTest::addColumn<int>("level");  // read back, range -15..15, fallback 0
        QTest::addColumn<bool>("shown"); // fallback true
        QTest::newRow("no file") << QByteArray() << true << 0 << true;
        QTest::newRow("values in range") << "[a]\nlevel=-7\nshown=false\n"_ba << true << -7 << false;
        QTest::newRow("absurd values clamped or ignored")
            << "[a]\nlevel=99999999999\nshown=perhaps\n"_ba << true << 15 << true;
        QTest::newRow("not a number") << "[a]\nlevel=nan\n"_ba << true << 0 << true;
        QTest::newRow("truncated") << "[a]\nlevel=-3\nsho"_ba << true << -3 << true;
        QTest::newRow("binary") << QByteArray("\x00\xff\x01[\x7f=\n\xfe", 9) << true << 0 << true;
        QTest::newRow("folder not writable") << "[a]\nlevel=4\n"_ba << false << 4 << true;
    }

    void settings_brokenOrUnwritable_readsSaneValues_andRewritesWhole()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, writable);
        QFETCH(int, level);
        QFETCH(bool, shown);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"settings.ini"_s);
        if (!content.isEmpty())
            writeAll(file, content);
        std::optional<UnprivilegedFiles> unprivileged;
        if (!writable) {
            QVERIFY(QFile::setPermissions(dir.path(), kLocked));
            unprivileged.emplace();
            if (!unprivileged->active())
                QSKIP(kNoUnprivileged);
        }
        auto restore = qScopeGuard([&] { unlock(dir.path()); });
        {
            PlayerSettings settings(file);
            QCOMPARE(settings.integer(u"a/level"_s, 0, -15, 15), level);
            QCOMPARE(settings.flag(u"a/shown"_s, true), shown);
            settings.set(u"a/level"_s, 5);
        }
        // Read as bytes: QSettings keeps what a process wrote, whether it reached the file or not.
        if (writable)
            QVERIFY(readAll(file).contains("level=5"));
        else
            QCOMPARE(readAll(file), content);
    }
};

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
