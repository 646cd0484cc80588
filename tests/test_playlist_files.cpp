// Saving and opening .m3u playlists through the playlist panel's buttons, and
// the playlist file reader and writer underneath them.
#include "PlayerFixture.h"

#include "FileDialogSettings.h"
#include "FileTricks.h"
#include "ImageButton.h"
#include "ImageTrack.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QStringEncoder>
#include <QtTest>

#include <optional>
#include <sys/stat.h>

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

// The paths the reader takes from bytes, as if read from a playlist in folder.
QStringList readBytes(QByteArray bytes, const QString &folder)
{
    QBuffer buffer(&bytes);
    QStringList paths;
    if (!buffer.open(QIODevice::ReadOnly))
        return {QStringLiteral("<unreadable>")};
    Playlist::read(&buffer, folder, &paths);
    return paths;
}

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
    void checkOnlyBox(PlayerFixture &player, const QString &title, const QString &text)
    {
        QCOMPARE(player.prompts.shown().size(), 1);
        const ScriptedPrompts::Shown &box = player.prompts.shown().constFirst();
        QCOMPARE(box.title, title);
        QCOMPARE(box.text, text);
        QCOMPARE(box.buttons, Prompts::Ok);
        QCOMPARE(box.icon, Prompts::Warning);
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
    void save_thenOpen_bringsBackTheSameEntries_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("old"); // what the target held before, if anything
        const QStringList threeNames = {"a.mp3", "歌曲 1.mp3", "song.mp3"};
        QTest::newRow("CR LF after each path")
            << m_three << m_threeBytes << threeNames << "round trip.m3u" << QByteArray();
        // Replaced whole, and the name kept as typed.
        QTest::newRow("over a longer file, no extension")
            << m_three << m_threeBytes << threeNames << "no extension" << QByteArray(5000, 'x');
        QTest::newRow("line breaks or hash in names")
            << QStringList{"/m/nl\nname.mp3", "/m/cr\rname.mp3", "/m/#1 100%.mp3", "/m/歌\r\n曲.mp3",
                           "/m/plain.mp3"}
            << QByteArray("file:///m/nl%0Aname.mp3\r\nfile:///m/cr%0Dname.mp3\r\n/m/#1 100%.mp3\r\n"
                          "file:///m/%E6%AD%8C%0D%0A%E6%9B%B2.mp3\r\n/m/plain.mp3\r\n")
            << QStringList{"nl\nname.mp3", "cr\rname.mp3", "#1 100%.mp3", "歌\r\n曲.mp3", "plain.mp3"}
            << "odd.m3u" << QByteArray();
    }

    void save_thenOpen_bringsBackTheSameEntries()
    {
        QFETCH(QStringList, paths);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, names);
        QFETCH(QString, target);
        QFETCH(QByteArray, old);
        auto saver = playerWith(paths);
        QVERIFY(saver);
        saver->listName()->setCurrentRow(1);
        const QString file = saver->dir.filePath(target);
        if (!old.isEmpty())
            writeAll(file, old);
        saver->prompts.chooseFileNext(file);
        saver->click("imgLstsave");
        QCOMPARE(readAll(file), bytes);
        QVERIFY(!QFile::exists(file + QStringLiteral(".m3u")));
        QCOMPARE(saver->prompts.lastFilter, playlistFilter());
        // Saving changes nothing else.
        QVERIFY(saver->prompts.shown().isEmpty());
        QCOMPARE(saver->urls(), paths);
        QCOMPARE(saver->listName()->currentRow(), 1);
        QVERIFY(saver->media.calls.isEmpty());

        auto opener = playerWith({});
        QVERIFY(opener);
        open(*opener, file);
        QCOMPARE(opener->urls(), paths);
        QCOMPARE(opener->names(), names);
        QCOMPARE(opener->count(), QString::number(paths.size()));
        QCOMPARE(opener->prompts.lastFilter, playlistFilter());
    }

    void read_pathStartingWithHash_isNotTakenForAComment()
    {
        QCOMPARE(readBytes(Playlist::encode({QStringLiteral("#x.mp3")}), QStringLiteral("/elsewhere")),
                 QStringList{QDir::current().absoluteFilePath(QStringLiteral("#x.mp3"))});
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
        checkOnlyBox(*player, QStringLiteral("保存错误:"),
                     QStringLiteral("无法保存播放列表“%1”：文件超过了允许的大小").arg(target));
        QCOMPARE(player->listName()->count(), 500);

        // The same save without the limit goes through.
        player->prompts.chooseFileNext(target);
        player->click("imgLstsave");
        QCOMPARE(readAll(target), Playlist::encode(many));
    }

    void save_emptyList_warnsAndOpensNoChooser()
    {
        auto player = playerWith({});
        QVERIFY(player);
        player->click("imgLstsave");
        checkOnlyBox(*player, QStringLiteral("操作错误:"),
                     QStringLiteral("当前播放列表为空，无可保存曲目！"));
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

    void open_intoListOfFive_appendsAfterThem_keepingDuplicates()
    {
        const QStringList five = PlayerFixture::paths(5);
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
        QTest::newRow("extended: titles name the paths after them")
            << QByteArray(
                   "#EXTM3U\r\n#EXTINF:215,Artist - A\r\n#EXTGRP:x\r\n/m/a.mp3\r\n#EXTINF:-1,\r\n/m/b.mp3\r\n"
                   "#EXTINF:1,C\r\n")
            << ab << QStringList{"Artist - A", "b.mp3"};
        // Other players' files, named by the tag's first word.
        QTest::newRow("PLS") << QByteArray("[playlist]\nFile2=file:///m/b%20c.mp3\nFile1=a.mp3\nTitle1=甲\n")
                             << QStringList{"@/a.mp3", "/m/b c.mp3"} << QStringList{"甲", "b c.mp3"};
        QTest::newRow("XSPF")
            << QByteArray("<?xml version=\"1.0\"?><playlist xmlns=\"http://xspf.org/ns/0/\"><trackList>"
                          "<track><location>sub/a%20b.mp3</location><title>A</title></track>"
                          "<track><location>file:///m/x.cue?2</location></track></trackList></playlist>")
            << QStringList{"@/sub/a b.mp3", ImageTrack::entry("/m/x.cue", 2)} << QStringList{"A", "x - 02"};
        QTest::newRow("tracks of images: ours, qmmp's")
            << QByteArray(
                   "file:///m/%E4%B8%93%E8%BE%91.cue?3\r\ncue:///m/a%23b.cue#12\r\nflac:///m/c.flac#1\r\n"
                   "file:///m/d.cue?x\r\ncue:///m/e.cue#x\r\n")
            << QStringList{ImageTrack::entry("/m/专辑.cue", 3), ImageTrack::entry("/m/a#b.cue", 12),
                           ImageTrack::entry("/m/c.flac", 1), "/m/d.cue?x"}
            << QStringList{"专辑 - 03", "a#b - 12", "c - 01", "d.cue?x"};
        QTest::newRow("BOM") << QByteArray("\xEF\xBB\xBF/m/a.mp3\r\n/m/b.mp3\r\n") << ab << abNames;
        QTest::newRow("bare file names")
            << QByteArray("song.mp3\r\n\xE6\xAD\x8C.mp3\r\n") << QStringList({"@/song.mp3", "@/歌.mp3"})
            << QStringList({"song.mp3", "歌.mp3"});
        QTest::newRow("GB18030") << QByteArray(QStringEncoder("GB18030").encode(
                                        QStringLiteral("D:\\音乐\\歌曲.mp3\r\n")))
                                 << QStringList{"D:\\音乐\\歌曲.mp3"} << QStringList{"歌曲.mp3"};
        QTest::newRow("ends in separator") << QByteArray("/m/folder/\r\nD:\\x\\\r\n")
                                           << QStringList({"/m/folder/", "D:\\x\\"}) << QStringList({"", ""});
        QTest::newRow("relative with separator") << QByteArray("sub/a.mp3\r\n../b.mp3\r\n./c d.mp3\r\n")
                                                 << QStringList({"@/sub/a.mp3", "@/../b.mp3", "@/./c d.mp3"})
                                                 << QStringList({"a.mp3", "b.mp3", "c d.mp3"});
        QTest::newRow("Windows paths stand as they are")
            << QByteArray("C:/m/a.mp3\r\n\\\\host\\b.mp3\r\n")
            << QStringList({"C:/m/a.mp3", "\\\\host\\b.mp3"}) << QStringList({"a.mp3", "b.mp3"});
        QTest::newRow("file URIs")
            << QByteArray("file:///m/nl%0Aname.mp3\r\nFILE://localhost/m/%E6%AD%8C%20%231.mp3\r\n"
                          "file:///m/%D6%D0.mp3\r\nfile:///m/a#b?.mp3\r\n")
            << QStringList({"/m/nl\nname.mp3", "/m/歌 #1.mp3", "/m/中.mp3", "/m/a#b?.mp3"})
            << QStringList({"nl\nname.mp3", "歌 #1.mp3", "中.mp3", "a#b?.mp3"});
        QTest::newRow("URIs naming no local file")
            << QByteArray("file://server/m/a.mp3\r\nfile:///m/%00.mp3\r\nfile://\r\n/m/b.mp3\r\n")
            << QStringList{"/m/b.mp3"} << QStringList{"b.mp3"};
        QTest::newRow("UTF-16 LE") << QByteArray(QStringEncoder(QStringConverter::Utf16LE,
                                                                QStringEncoder::Flag::WriteBom)
                                                     .encode(QStringLiteral("/m/歌.mp3\r\n/m/b.mp3")))
                                   << QStringList({"/m/歌.mp3", "/m/b.mp3"})
                                   << QStringList({"歌.mp3", "b.mp3"});
        QTest::newRow("UTF-16 BE") << QByteArray(QStringEncoder(QStringConverter::Utf16BE,
                                                                QStringEncoder::Flag::WriteBom)
                                                     .encode(QStringLiteral("/m/歌.mp3\n")))
                                   << QStringList{"/m/歌.mp3"} << QStringList{"歌.mp3"};
        QTest::newRow("UTF-8 and GB18030 lines mixed")
            << (QByteArray("/m/\xE6\xAD\x8C.mp3\r\n") +
                QStringEncoder("GB18030").encode(QStringLiteral("/m/曲.mp3\r\n")) + "/m/\xE4\xB9\x90.mp3\r\n")
            << QStringList({"/m/歌.mp3", "/m/曲.mp3", "/m/乐.mp3"})
            << QStringList({"歌.mp3", "曲.mp3", "乐.mp3"});
        QTest::newRow("lines that name no path")
            << (QByteArray("/m/a.mp3\r\n/m/") + QByteArray(5000, 'x') +
                QByteArray("\r\n/m/b\0.mp3\r\n/m/b.mp3", 21))
            << QStringList({"/m/a.mp3", "/m/b.mp3"}) << QStringList({"a.mp3", "b.mp3"});
        QTest::newRow("longest path")
            << (QByteArray("/") + QByteArray(4095, 'y') + "\n/") + QByteArray(4096, 'z')
            << QStringList{"/" + QString(4095, 'y')} << QStringList{QString(1024, 'y')};
    }

    void open_readsEveryFormOfLine()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, urls);
        QFETCH(QStringList, names);
        auto player = playerWith({});
        QVERIFY(player);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const QString file =
            player->dir.filePath(QStringLiteral("list.") +
                                 (tag == "PLS" || tag == "XSPF" ? tag.toLower() : QStringLiteral("m3u")));
        writeAll(file, bytes);
        open(*player, file);
        for (QString &url : urls)
            url.replace(QLatin1Char('@'), player->dir.path());
        QCOMPARE(player->urls(), urls);
        QCOMPARE(player->names(), names);
        QCOMPARE(player->count(), QString::number(urls.size()));
    }

    void save_tracksOfAnImage_openAgainAsTheSameTracks()
    {
        auto saver = playerWith({});
        QVERIFY(saver);
        const QString sheet = saver->dir.filePath(QStringLiteral("专辑.cue"));
        writeAll(saver->dir.filePath(QStringLiteral("专辑.wav")), "RIFF");
        writeAll(sheet, QStringEncoder("GBK").encode(QStringLiteral(
                            "FILE \"专辑.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"春天\"\nINDEX 01 00:00:00\n"
                            "TRACK 02 AUDIO\nINDEX 01 01:00:00\n")));
        saver->prompts.chooseFilesNext({sheet, QStringLiteral("/m/a.mp3")});
        saver->click("imgAdd");
        const QStringList entries = {ImageTrack::entry(sheet, 1), ImageTrack::entry(sheet, 2), "/m/a.mp3"};
        QCOMPARE(saver->urls(), entries);
        QCOMPARE(saver->names(), QStringList({"春天", "专辑 - 02", "a.mp3"}));
        const QString file = saver->dir.filePath(QStringLiteral("album.m3u"));
        saver->prompts.chooseFileNext(file);
        saver->click("imgLstsave");
        // One line each: the tracks as URIs, the plain file as its path.
        QCOMPARE(readAll(file), (entries.join("\r\n") + "\r\n").toUtf8());

        auto opener = playerWith({});
        QVERIFY(opener);
        open(*opener, file);
        QCOMPARE(opener->urls(), entries);
        QCOMPARE(opener->names(), saver->names());
    }

    void open_whatIsNotARegularFile_readsNothingAndNeverWaits_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link to a FIFO") << "fifo link";
        QTest::newRow("link to a device") << "device link";
        QTest::newRow("folder") << "folder";
    }

    void open_whatIsNotARegularFile_readsNothingAndNeverWaits()
    {
        QFETCH(QString, kind);
        auto player = playerWith({QStringLiteral("/m/a.mp3")});
        QVERIFY(player);
        const QString fifo = player->dir.filePath(QStringLiteral("fifo.m3u"));
        FifoWatch watch(fifo);
        QVERIFY(watch.isValid());
        const QString file = player->dir.filePath(QStringLiteral("x.m3u"));
        if (kind == QLatin1String("fifo link"))
            QVERIFY(QFile::link(fifo, file));
        else if (kind == QLatin1String("device link"))
            QVERIFY(QFile::link(QStringLiteral("/dev/null"), file));
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(file));
        const QString chosen = kind == QLatin1String("fifo") ? fifo : file;

        open(*player, chosen);
        player->prompts.chooseFilesNext({chosen});
        player->click("imgAdd");
        QStringList paths;
        QVERIFY(!Playlist::readFile(chosen, &paths));
        QVERIFY(paths.isEmpty());
        QVERIFY(!watch.readerSeen());
        QCOMPARE(player->urls(), QStringList{QStringLiteral("/m/a.mp3")});
    }

    void open_pastTheSizeLimit_keepsWhatCameBefore_andSkipsTheRest()
    {
        auto player = playerWith({});
        QVERIFY(player);
        const QString file = player->dir.filePath(QStringLiteral("huge.m3u"));
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write("/m/a.mp3\r\n#");
            const QByteArray filler(1024 * 1024, '#');
            for (qint64 written = 0; written < Playlist::kMaxFileBytes; written += filler.size())
                QCOMPARE(out.write(filler), filler.size());
            out.write("\r\n/m/past.mp3\r\n");
        }
        open(*player, file);
        QCOMPARE(player->urls(), QStringList{QStringLiteral("/m/a.mp3")});

        // A line cut off at the limit is not taken either.
        QCOMPARE(readBytes("/m/a.mp3\n" + QByteArray(Playlist::kMaxFileBytes - 9 - 4, '\n') + "/m/b.mp3",
                           QStringLiteral("/")),
                 QStringList{QStringLiteral("/m/a.mp3")});
    }

    void save_thatFails_saysWhereAndWhy_andKeepsWhatWasThere_data()
    {
        // The target in its folder: "new", "old" (writable, holding an older
        // list), "old read-only", "folder", "FIFO link" or "no folder".
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("folderReadOnly");
        QTest::addColumn<int>("sizeLimit");  // 0 for none
        QTest::addColumn<QString>("reason"); // empty: saved

        QTest::newRow("read-only folder, new file") << "new" << true << 0 << "没有写入权限";
        QTest::newRow("read-only folder and file") << "old read-only" << true << 0 << "没有写入权限";
        QTest::newRow("read-only folder, writable file: in place") << "old" << true << 0 << QString();
        QTest::newRow("in place over the size limit: put back")
            << "old" << true << 1024 << "文件超过了允许的大小";
        QTest::newRow("no such folder") << "no folder" << false << 0 << "文件夹不存在";
        QTest::newRow("a folder of that name") << "folder" << false << 0 << "同名的文件夹已存在";
        QTest::newRow("link to a FIFO") << "FIFO link" << false << 0 << "这不是普通文件";
    }

    void save_thatFails_saysWhereAndWhy_andKeepsWhatWasThere()
    {
        QFETCH(QString, target);
        QFETCH(bool, folderReadOnly);
        QFETCH(int, sizeLimit);
        QFETCH(QString, reason);
        const QStringList many = PlayerFixture::paths(200);
        auto player = playerWith(many);
        QVERIFY(player);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                 QFile::ReadOther | QFile::ExeOther);
        const QString name = target == QLatin1String("no folder") ? QStringLiteral("gone/list.m3u")
                                                                  : QStringLiteral("list.m3u");
        const QString file = folder.filePath(name);
        const QByteArray old = "/m/old.mp3\r\n";
        if (target.startsWith(QLatin1String("old"))) {
            writeAll(file, old);
            QFile::setPermissions(file, target == QLatin1String("old") ? QFile::ReadOther | QFile::WriteOther
                                                                       : QFile::ReadOther);
        } else if (target == QLatin1String("folder")) {
            QVERIFY(QDir().mkdir(file));
        } else if (target == QLatin1String("FIFO link")) {
            QCOMPARE(::mkfifo(QFile::encodeName(folder.filePath(QStringLiteral("fifo"))).constData(), 0666),
                     0);
            QVERIFY(QFile::link(folder.filePath(QStringLiteral("fifo")), file));
        }
        const QStringList before =
            QDir(folder.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        if (folderReadOnly)
            QFile::setPermissions(folder.path(),
                                  QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);

        player->prompts.chooseFileNext(file);
        {
            // Root writes into read-only folders unless it sheds its rights.
            std::optional<UnprivilegedFiles> asUser;
            if (folderReadOnly && !asUser.emplace().active())
                QSKIP("files cannot be opened as an ordinary user here (setfsuid refused)");
            std::optional<FileSizeLimit> limit;
            if (sizeLimit > 0) {
                limit.emplace(rlim_t(sizeLimit));
                QVERIFY(limit->active());
            }
            player->click("imgLstsave");
        }
        QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        if (reason.isEmpty()) {
            QVERIFY(player->prompts.shown().isEmpty());
            QCOMPARE(readAll(file), Playlist::encode(many));
        } else {
            checkOnlyBox(*player, QStringLiteral("保存错误:"),
                         QStringLiteral("无法保存播放列表“%1”：%2").arg(file, reason));
            if (target.startsWith(QLatin1String("old")))
                QCOMPARE(readAll(file), old);
            else if (target == QLatin1String("FIFO link"))
                QVERIFY(QFileInfo(file).isSymLink() && !QFileInfo(file).isFile());
            else if (target == QLatin1String("new"))
                QVERIFY(!QFileInfo::exists(file));
            else if (target == QLatin1String("folder"))
                QVERIFY(QFileInfo(file).isDir());
        }
        // Nothing else appeared beside it.
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 before);
        QCOMPARE(player->urls(), many);
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
        auto player = playerWith(PlayerFixture::paths(32765));
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
