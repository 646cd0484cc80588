// Saving and opening .m3u playlists through the playlist panel's buttons, and
// the playlist file reader and writer underneath them.
#include "PlayerFixture.h"

#include "FileDialogSettings.h"
#include "ImageButton.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QStringEncoder>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// While alive, no file of this process may grow past the given size: a write
// beyond it fails with EFBIG, as on a full disk, after part of the data went
// out. SIGXFSZ would otherwise end the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool active() const { return m_active; }

private:
    rlimit m_old = {};
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};

} // namespace

class PlaylistFilesTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PlayerFixture> playerWith(const QStringList &paths)
    {
        auto player = std::make_unique<PlayerFixture>();
        if (!player->load())
            return nullptr;
        if (!paths.isEmpty()) {
            player->prompts.chooseFilesNext(paths);
            player->click("imgAdd");
        }
        player->prompts.clear();
        return player;
    }
    QString playlistFilter()
    {
        FileDialogSettings settings;
        settings.filter = QStringLiteral("播放列表(*.m3u)|*.m3u");
        return settings.qtFilter();
    }
    // Opens the file through the panel's open button.
    void open(PlayerFixture &player, const QString &file)
    {
        player.prompts.chooseFileNext(file);
        player.click("imgLstopen");
    }

    const QStringList m_three = {QStringLiteral("/m/a.mp3"), QStringLiteral("/home/用户/音乐/歌曲 1.mp3"),
                                 QStringLiteral("D:\\mp3\\song.mp3")};
    const QByteArray m_threeBytes = "/m/a.mp3\r\n/home/\xE7\x94\xA8\xE6\x88\xB7/\xE9\x9F\xB3\xE4\xB9\x90/"
                                    "\xE6\xAD\x8C\xE6\x9B\xB2 1.mp3\r\nD:\\mp3\\song.mp3\r\n";

private slots:
    void save_threeEntries_writesPathsWithCrLfOnly_andChangesNothingElse()
    {
        auto player = playerWith(m_three);
        QVERIFY(player);
        player->listName()->setCurrentRow(1);
        const QString target = player->dir.filePath(QStringLiteral("mine.m3u"));
        player->prompts.chooseFileNext(target);
        player->click("imgLstsave");
        QCOMPARE(readAll(target), m_threeBytes);
        QCOMPARE(player->prompts.lastFilter, playlistFilter());
        QVERIFY(player->prompts.shown().isEmpty());
        QCOMPARE(player->urls(), m_three);
        QCOMPARE(player->listName()->currentRow(), 1);
        QVERIFY(player->media.calls.isEmpty());
    }

    void save_overLongerFile_replacesItWhole_andKeepsNameAsTyped()
    {
        auto player = playerWith(m_three);
        QVERIFY(player);
        const QString target = player->dir.filePath(QStringLiteral("no extension"));
        writeAll(target, QByteArray(5000, 'x'));
        player->prompts.chooseFileNext(target);
        player->click("imgLstsave");
        QCOMPARE(readAll(target), m_threeBytes);
        QVERIFY(!QFile::exists(target + QStringLiteral(".m3u")));
    }

    void save_failingHalfWay_leavesPreviousFileUntouched()
    {
        // Enough entries that the write cannot fit under the size limit.
        QStringList many;
        for (int i = 0; i < 500; ++i)
            many.append(QStringLiteral("/home/user/音乐/%1.mp3").arg(i));
        auto player = playerWith(many);
        QVERIFY(player);
        const QString target = player->dir.filePath(QStringLiteral("old.m3u"));
        const QByteArray old = "/m/old 1.mp3\r\n/m/old 2.mp3\r\n";
        writeAll(target, old);
        const QStringList before = QDir(player->dir.path()).entryList(QDir::Files);

        player->prompts.chooseFileNext(target);
        {
            FileSizeLimit limit(1024);
            QVERIFY(limit.active());
            player->click("imgLstsave");
        }
        QCOMPARE(readAll(target), old);
        // No half-written temporary file left beside it either.
        QCOMPARE(QDir(player->dir.path()).entryList(QDir::Files), before);
        QVERIFY(player->prompts.shown().isEmpty());
        QCOMPARE(player->listName()->count(), 500);

        // The same save without the limit goes through.
        player->prompts.chooseFileNext(target);
        player->click("imgLstsave");
        QCOMPARE(readAll(target), Playlist::encode(many));
    }

    void writeFile_whereNoTemporaryFileCanBeMade_failsAndWritesNothing()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // The target is a folder: nothing can replace it.
        const QString target = dir.filePath(QStringLiteral("list.m3u"));
        QVERIFY(QDir().mkdir(target));
        QVERIFY(!Playlist::writeFile(target, m_three));
        QVERIFY(QFileInfo(target).isDir());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("list.m3u")});
        // A folder that does not exist.
        QVERIFY(!Playlist::writeFile(dir.filePath(QStringLiteral("gone/list.m3u")), m_three));
    }

    void save_emptyList_warnsAndOpensNoChooser()
    {
        auto player = playerWith({});
        QVERIFY(player);
        player->click("imgLstsave");
        QCOMPARE(player->prompts.shown().size(), 1);
        const ScriptedPrompts::Shown &box = player->prompts.shown().constFirst();
        QCOMPARE(box.title, QStringLiteral("操作错误:"));
        QCOMPARE(box.text, QStringLiteral("当前播放列表为空，无可保存曲目！"));
        QCOMPARE(box.buttons, Prompts::Ok);
        QCOMPARE(box.icon, Prompts::Warning);
        QCOMPARE(player->prompts.choosersShown(), 0);
    }

    void save_cancelled_writesNothing()
    {
        auto player = playerWith(m_three);
        QVERIFY(player);
        const QStringList before = QDir(player->dir.path()).entryList(QDir::Files);
        player->prompts.chooseFileNext(QString());
        player->click("imgLstsave");
        QCOMPARE(player->prompts.choosersShown(), 1);
        QCOMPARE(QDir(player->dir.path()).entryList(QDir::Files), before);
        QVERIFY(player->prompts.shown().isEmpty());
    }

    void saveThenOpen_intoEmptyList_restoresPathsAndNamesInOrder()
    {
        auto saver = playerWith(m_three);
        QVERIFY(saver);
        const QString file = saver->dir.filePath(QStringLiteral("round trip.m3u"));
        saver->prompts.chooseFileNext(file);
        saver->click("imgLstsave");

        auto opener = playerWith({});
        QVERIFY(opener);
        open(*opener, file);
        QCOMPARE(opener->urls(), m_three);
        QCOMPARE(opener->names(), QStringList({"a.mp3", "歌曲 1.mp3", "song.mp3"}));
        QCOMPARE(opener->count(), QStringLiteral("3"));
        QCOMPARE(opener->prompts.lastFilter, playlistFilter());
    }

    void open_intoListOfFive_appendsAfterThem_keepingDuplicates()
    {
        QStringList five;
        for (int i = 0; i < 5; ++i)
            five.append(QStringLiteral("/m/%1.mp3").arg(i));
        auto player = playerWith(five);
        QVERIFY(player);
        player->listName()->setCurrentRow(3);
        const QString file = player->dir.filePath(QStringLiteral("more.m3u"));
        writeAll(file, "/m/1.mp3\r\n/n/x.mp3\r\n");
        open(*player, file);
        open(*player, file);
        QCOMPARE(player->urls(), five + QStringList({"/m/1.mp3", "/n/x.mp3", "/m/1.mp3", "/n/x.mp3"}));
        QCOMPARE(player->names().mid(5), QStringList({"1.mp3", "x.mp3", "1.mp3", "x.mp3"}));
        QCOMPARE(player->count(), QStringLiteral("9"));
        QCOMPARE(player->listName()->currentRow(), 3);
        QVERIFY(player->media.calls.isEmpty());
        QVERIFY(player->prompts.shown().isEmpty());
    }

    void open_readsEveryFormOfLine_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        // "@" stands for the playlist's own folder.
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QStringList>("names");

        const QStringList ab = {"/m/a.mp3", "/m/b.mp3"};
        const QStringList abNames = {"a.mp3", "b.mp3"};
        QTest::newRow("CR LF") << QByteArray("/m/a.mp3\r\n/m/b.mp3\r\n") << ab << abNames;
        QTest::newRow("lone CR") << QByteArray("/m/a.mp3\r/m/b.mp3\r") << ab << abNames;
        QTest::newRow("lone LF, no end") << QByteArray("/m/a.mp3\n/m/b.mp3") << ab << abNames;
        QTest::newRow("mixed, empty lines")
            << QByteArray("/m/a.mp3\r\r\n\n/m/b.mp3\n\r/m/c.mp3\r\n")
            << QStringList({"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"}) << QStringList({"a.mp3", "b.mp3", "c.mp3"});
        QTest::newRow("extended")
            << QByteArray("#EXTM3U\r\n#EXTINF:215,Artist - A\r\n/m/a.mp3\r\n#EXTINF:-1,B\r\n/m/b.mp3\r\n")
            << ab << abNames;
        QTest::newRow("BOM") << QByteArray("\xEF\xBB\xBF/m/a.mp3\r\n/m/b.mp3\r\n") << ab << abNames;
        QTest::newRow("bare file names")
            << QByteArray("song.mp3\r\n\xE6\xAD\x8C.mp3\r\n") << QStringList({"@/song.mp3", "@/歌.mp3"})
            << QStringList({"song.mp3", "歌.mp3"});
        QTest::newRow("GB18030") << QByteArray(QStringEncoder("GB18030").encode(
                                        QStringLiteral("D:\\音乐\\歌曲.mp3\r\n")))
                                 << QStringList{"D:\\音乐\\歌曲.mp3"} << QStringList{"歌曲.mp3"};
        QTest::newRow("ends in separator") << QByteArray("/m/folder/\r\nD:\\x\\\r\n")
                                           << QStringList({"/m/folder/", "D:\\x\\"}) << QStringList({"", ""});
        QTest::newRow("relative with separator")
            << QByteArray("sub/a.mp3\r\n") << QStringList{"sub/a.mp3"} << QStringList{"a.mp3"};
    }

    void open_readsEveryFormOfLine()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, urls);
        QFETCH(QStringList, names);
        auto player = playerWith({});
        QVERIFY(player);
        const QString file = player->dir.filePath(QStringLiteral("list.m3u"));
        writeAll(file, bytes);
        open(*player, file);
        for (QString &url : urls)
            url.replace(QLatin1Char('@'), player->dir.path());
        QCOMPARE(player->urls(), urls);
        QCOMPARE(player->names(), names);
        QCOMPARE(player->count(), QString::number(urls.size()));
    }

    void open_cancelledOrUnreadable_changesNothingSilently()
    {
        auto player = playerWith({QStringLiteral("/m/a.mp3")});
        QVERIFY(player);
        player->listName()->setCurrentRow(0);
        open(*player, QString());
        open(*player, player->dir.filePath(QStringLiteral("gone.m3u")));
        QCOMPARE(player->prompts.choosersShown(), 2);
        QCOMPARE(player->urls(), QStringList{QStringLiteral("/m/a.mp3")});
        QCOMPARE(player->listName()->currentRow(), 0);
        QCOMPARE(player->count(), QStringLiteral("1"));
        QVERIFY(player->prompts.shown().isEmpty());
    }

    void open_intoNearlyFullList_stopsAt32767()
    {
        QStringList many;
        for (int i = 0; i < 32765; ++i)
            many.append(QStringLiteral("/m/%1.mp3").arg(i));
        auto player = playerWith(many);
        QVERIFY(player);
        const QString file = player->dir.filePath(QStringLiteral("five.m3u"));
        writeAll(file, "/n/1.mp3\r\n/n/2.mp3\r\n/n/3.mp3\r\n/n/4.mp3\r\n/n/5.mp3\r\n");
        open(*player, file);
        QCOMPARE(player->listName()->count(), 32767);
        QCOMPARE(player->listUrl()->count(), 32767);
        QCOMPARE(player->count(), QStringLiteral("32767"));
        QCOMPARE(player->urls().last(), QStringLiteral("/n/2.mp3"));
    }
};

QTEST_MAIN(PlaylistFilesTest)
#include "test_playlist_files.moc"
