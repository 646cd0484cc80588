// Start-up of the main window: help documents, failure path, start values.
#include "PlayerFixture.h"

#include "FileTricks.h"

#include "ImageButton.h"
#include "LineControl.h"
#include "SeekBar.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QScreen>
#include <QStringDecoder>
#include <QTimer>
#include <QtTest>

#include <optional>

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

const QStringList kDocuments = {QStringLiteral("License.txt"), QStringLiteral("ReadMe.txt"),
                                QStringLiteral("WhatsNew.txt"), QStringLiteral("广告合作及其协议.txt")};

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void load_freshFolder_writesFourGbkDocumentsWithCrLf()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        for (const QString &name : kDocuments) {
            const QByteArray bytes = readAll(player.dir.filePath(name));
            QVERIFY2(bytes.size() > 200, qPrintable(name));
            QCOMPARE(bytes, readAll(QStringLiteral(":/docs/") + name));
            // Every line ends in CR LF, the last one too.
            QVERIFY2(bytes.endsWith("\r\n"), qPrintable(name));
            QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
            // GBK Chinese text, which is not UTF-8.
            QStringDecoder gbk("GBK");
            const QString text = gbk.decode(bytes);
            QVERIFY(!gbk.hasError());
            QVERIFY2(text.contains(QStringLiteral("播放")), qPrintable(name));
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString asUtf8 = utf8.decode(bytes);
            Q_UNUSED(asUtf8);
            QVERIFY(utf8.hasError());
        }
        QVERIFY(player.prompts.shown().isEmpty());
    }

    void load_existingLicenseAndAdvertising_keptByteForByte()
    {
        PlayerFixture player;
        const QByteArray license = "my own licence\r\n";
        const QByteArray advertising = "\xd7\xd4\xbc\xba\r\n";
        writeAll(player.dir.filePath(QStringLiteral("License.txt")), license);
        writeAll(player.dir.filePath(QStringLiteral("广告合作及其协议.txt")), advertising);
        QVERIFY(player.load());
        QCOMPARE(readAll(player.dir.filePath(QStringLiteral("License.txt"))), license);
        QCOMPARE(readAll(player.dir.filePath(QStringLiteral("广告合作及其协议.txt"))), advertising);
    }

    void load_olderLongerReadMe_isReplacedWithoutTail()
    {
        PlayerFixture player;
        const QByteArray longer(5000, 'x');
        writeAll(player.dir.filePath(QStringLiteral("ReadMe.txt")), longer);
        writeAll(player.dir.filePath(QStringLiteral("WhatsNew.txt")), longer);
        QVERIFY(player.load());
        QCOMPARE(readAll(player.dir.filePath(QStringLiteral("ReadMe.txt"))), readAll(QStringLiteral(":/docs/ReadMe.txt")));
        QCOMPARE(readAll(player.dir.filePath(QStringLiteral("WhatsNew.txt"))),
                 readAll(QStringLiteral(":/docs/WhatsNew.txt")));
    }

    void load_documentCannotBeWritten_asksAndOpensWebsiteOnYes()
    {
        PlayerFixture player;
        // A folder in the place of the file: no one, root included, can write it.
        QVERIFY(QDir(player.dir.path()).mkdir(QStringLiteral("ReadMe.txt")));
        player.prompts.answerNext(Prompts::AnswerYes);
        QVERIFY(!player.load());
        QCOMPARE(player.prompts.shown().size(), 1);
        const auto box = player.prompts.shown().constFirst();
        QCOMPARE(box.title, QStringLiteral("提示"));
        QCOMPARE(box.text, QStringLiteral("您的软件已经损坏，是否去官网下载最新版本"));
        QCOMPARE(box.buttons, Prompts::YesNo);
        QCOMPARE(player.shell.websites, QStringList{player.services.noticeUrl});
        QVERIFY(!player.window->isVisible());
    }

    void load_programFolderMissing_failsAndOpensNothingOnNo()
    {
        PlayerFixture player(QStringLiteral("/nonexistent-tamsel-folder/sub"));
        player.prompts.answerNext(Prompts::AnswerNo);
        QVERIFY(!player.load());
        QCOMPARE(player.prompts.shown().size(), 1);
        QVERIFY(player.shell.websites.isEmpty());
    }

    void load_readOnlyProgramFolder_fails()
    {
        PlayerFixture player;
        QFile::setPermissions(player.dir.path(),
                              QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        bool loaded = true;
        {
            UnprivilegedFiles asUser;
            if (!asUser.active())
                QSKIP("files cannot be opened as an ordinary user here (setfsuid refused)");
            player.prompts.answerNext(Prompts::AnswerNo);
            loaded = player.load();
        }
        QFile::setPermissions(player.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!loaded);
        QCOMPARE(player.prompts.shown().size(), 1);
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
        {
            PlayerFixture installer(folder.path());
            QVERIFY(installer.load());
        }
        const QByteArray old = "older\r\n";
        if (!current) {
            writeAll(folder.filePath(QStringLiteral("ReadMe.txt")), old);
            writeAll(folder.filePath(QStringLiteral("WhatsNew.txt")), old);
        }
        const auto everyone = QFile::ReadOwner | QFile::ReadOther;
        for (const QString &name : kDocuments)
            QFile::setPermissions(folder.filePath(name),
                                  writableFiles ? everyone | QFile::WriteOwner | QFile::WriteOther
                                                : everyone);
        if (!noFileMayGrow)
            QFile::setPermissions(folder.path(), everyone | QFile::ExeOwner | QFile::ExeOther);

        bool started = false;
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
                QSKIP("files cannot be opened as an ordinary user here (setfsuid refused)");
            }
            started = player.load();
            QCOMPARE(player.prompts.shown().size(), starts ? 0 : 1);
        }
        QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(started, starts);
        QCOMPARE(readAll(folder.filePath(QStringLiteral("ReadMe.txt"))),
                 starts ? readAll(QStringLiteral(":/docs/ReadMe.txt")) : old);
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(),
                 kDocuments.size());
    }

    void load_setsStartValuesOfLabelsSelectionAndState()
    {
        PlayerFixture player;
        FrmPlayer &w = *player.window;
        w.state().playMode = 0;
        w.state().stoppedByUser = true;
        w.state().endPhase = 2;
        QVERIFY(player.load());

        QCOMPARE(w.windowTitle(), QStringLiteral("TamselMP3Player"));
        QCOMPARE(w.size(), QSize(589, 157));
        QVERIFY(w.isVisible());
        QCOMPARE(player.label("lblCurrent")->text(), QString());
        QCOMPARE(player.label("lblTime")->text(), QStringLiteral("00:00:00"));
        QCOMPARE(player.label("lblTotletime")->text(), QStringLiteral("00:00:00"));
        QCOMPARE(player.label("lblTimetotle")->text(), QStringLiteral("长度:"));
        QCOMPARE(player.label("lblTotle")->text() + player.label("lblTotlenum")->text() + player.label("lblShou")->text(),
                 QStringLiteral("共0首"));
        QCOMPARE(player.label("lblLoop")->text(), QStringLiteral("全部循环"));
        QCOMPARE(player.label("lblSpeed")->text(), QStringLiteral("原速度"));
        QCOMPARE(player.label("lblCsc")->text(), QStringLiteral("立体声"));
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

        auto *sound = w.findChild<QWidget *>(QStringLiteral("imgSound"));
        QCOMPARE(sound->x(), 272);
        QCOMPARE(sound->width(), 35);
        QVERIFY(!w.findChild<LineControl *>(QStringLiteral("lineMute"))->isVisible());
        auto *line = w.findChild<LineControl *>(QStringLiteral("lineFront"));
        QCOMPARE(line->x1(), 0.0);
        QCOMPARE(line->x2(), 0.0);
        auto *bar = w.findChild<SeekBar *>(QStringLiteral("Picture1"));
        QCOMPARE(bar->geometry(), QRect(8, 70, 325, 6));
        QCOMPARE(bar->scaleWidth(), 4875);
        QCOMPARE(w.findChild<QWidget *>(QStringLiteral("Picture2"))->geometry(), QRect(339, 0, 250, 45));
        QCOMPARE(player.listName()->geometry(), QRect(339, 45, 250, 111));
        QCOMPARE(w.media()->objectName(), QStringLiteral("wmp"));
    }

    void load_placesWindowAtTopCentre_andStartsDisplayTimers()
    {
        PlayerFixture player;
        const auto timer = [&](const char *name) { return player.window->findChild<QTimer *>(QLatin1String(name)); };
        QCOMPARE(timer("Timer1")->interval(), 60000);
        QVERIFY(player.load());
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(player.window->y(), area.y());
        QCOMPARE(player.window->x(), area.x() + area.width() / 2 - 589 / 2);
        QCOMPARE(timer("timerDisplay")->interval(), 500);
        QCOMPARE(timer("timerTotle")->interval(), 500);
        QVERIFY(timer("timerDisplay")->isActive());
        QVERIFY(timer("timerTotle")->isActive());
        // No connection in the fixture: the push timer is off.
        QCOMPARE(timer("Timer1")->interval(), 0);
        QVERIFY(!timer("Timer1")->isActive());
        QCOMPARE(timer("Timer2")->interval(), 20);
    }

    void controls_carryTheirNamesAndTooltips()
    {
        PlayerFixture player;
        const QList<QPair<const char *, const char *>> buttons = {
            {"imgPlay", "播放"},        {"imgPause", "暂停"},         {"imgStop", "停止"},
            {"imgPrev", "上一曲"},      {"imgNext", "下一曲"},        {"imgStepback", "快进"},
            {"imgStepfront", "快退"},   {"imgLoop", "循环模式"},      {"imgOpen", "打开文件"},
            {"imgSoundup", "增加音量"}, {"imgSounddown", "减少音量"}, {"imgSpeedup", "加速"},
            {"imgSpeed0", "原速度"},    {"imgSpeeddown", "减速"},     {"Image1", "迷你模式"},
            {"imgAdd", "添加歌曲"},     {"imgDelete", "删除歌曲"},    {"imgClear", "清空列表"},
            {"imglistPre", "上一曲"},   {"imglistNext", "下一曲"},    {"imgLstsave", "保存播放列表"},
            {"imgLstopen", "打开播放列表"}, {"imgMin", "最小化"},     {"imgClose", "关闭"},
            {"Image2", "检查更新"},     {"imgMute1", nullptr}};
        for (const auto &[name, tip] : buttons) {
            auto *button = player.window->findChild<ImageButton *>(QLatin1String(name));
            QVERIFY2(button, name);
            if (tip)
                QCOMPARE(button->toolTip(), QString::fromUtf8(tip));
        }
        // The ten playlist buttons sit on the header strip.
        auto *strip = player.window->findChild<QWidget *>(QStringLiteral("Picture2"));
        QCOMPARE(strip->findChildren<ImageButton *>().size(), 10);
    }

    void menu_hasFifteenItemsInOrder_andOpensOnRightClickOnly()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        auto *menu = player.window->findChild<QMenu *>(QStringLiteral("菜单"));
        QVERIFY(menu);
        QStringList names;
        int separators = 0;
        for (QAction *action : menu->actions()) {
            names.append(action->objectName());
            separators += action->isSeparator();
        }
        QCOMPARE(names, QStringList({"打开播放列表", "保存播放列表", "分隔1", "添加歌曲", "删除歌曲", "清空列表", "分隔2",
                                     "上一曲", "下一曲", "分隔3", "窗体置顶", "检查更新", "官方网站", "分隔4", "退出"}));
        QCOMPARE(separators, 4);

        QWidget *viewport = player.listName()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(20, 10));
        QVERIFY(!menu->isVisible());
        QTest::mousePress(viewport, Qt::RightButton, {}, QPoint(20, 10));
        QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 2000);
        menu->hide();
    }
};

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
