// Adding files through the add dialog: single and multiple choices, playlist
// files chosen there, cancel and the size limit.
#include "PlayerFixture.h"

#include "AudioTypes.h"

#include "ImageButton.h"

#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QScopeGuard>
#include <QtTest>

namespace {

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class AddFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void add_appendsChosenEntries_data()
    {
        // One list of paths per dialog shown, empty for Cancel; "@" stands for the
        // fixture's folder, where the playlist file named in "list" waits.
        QTest::addColumn<QList<QStringList>>("choices");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("select"); // row selected after the first choice, -1 for none
        QTest::addColumn<QString>("list");
        QTest::addColumn<QByteArray>("listBytes");
        const auto add = [](const char *name, const QList<QStringList> &choices, const QStringList &names,
                            const QStringList &urls, const char *button = "imgAdd", int select = -1,
                            const char *list = "", const QByteArray &listBytes = {}) {
            QTest::newRow(name) << choices << names << urls << QString::fromLatin1(button) << select
                                << QString::fromLatin1(list) << listBytes;
        };
        add("one file", {{"/music/a b.mp3"}}, {"a b.mp3"}, {"/music/a b.mp3"});
        add("several, in dialog order, selection stays",
            {{"/m/first.mp3"}, {"/m/3.mp3", "/m/1.mp3", "/m/2.wav"}},
            {"first.mp3", "3.mp3", "1.mp3", "2.wav"}, {"/m/first.mp3", "/m/3.mp3", "/m/1.mp3", "/m/2.wav"},
            "imgAdd", 0);
        add("at the root, duplicates", {{"/x.mp3", "/x.mp3"}, {"/x.mp3"}}, {"x.mp3", "x.mp3", "x.mp3"},
            {"/x.mp3", "/x.mp3", "/x.mp3"});
        add("cancel", {{"/m/a.mp3"}, {}}, {"a.mp3"}, {"/m/a.mp3"});
        add("upper-case M3U is one ordinary entry", {{"@/LIST.M3U"}}, {"LIST.M3U"}, {"@/LIST.M3U"}, "imgAdd",
            -1, "LIST.M3U", "/m/a.mp3\r\n/m/b.mp3\r\n");
        add("playlist's entries, through Open too", {{"/m/old.mp3"}, {"@/mine.m3u"}},
            {"old.mp3", "a.mp3", "b c.mp3", "song.mp3"},
            {"/m/old.mp3", "/m/a.mp3", "/m/sub/b c.mp3", "D:\\mp3\\song.mp3"}, "imgOpen", -1, "mine.m3u",
            "/m/a.mp3\r\n/m/sub/b c.mp3\r\nD:\\mp3\\song.mp3\r\n");
        add("unreadable playlist", {{"@/gone.m3u"}}, {}, {});

        // Long names are cut for the window; a path no file system takes is skipped (name empty).
        const auto withNext = [&add](const char *row, const QString &path, const QString &name) {
            if (name.isEmpty())
                add(row, {{path, "/m/next.mp3"}}, {"next.mp3"}, {"/m/next.mp3"});
            else
                add(row, {{path, "/m/next.mp3"}}, {name, "next.mp3"}, {path, "/m/next.mp3"});
        };
        withNext("short", "/m/a.mp3", "a.mp3");
        withNext("name of 1024", "/m/" + QString(1024, 'n'), QString(1024, 'n'));
        withNext("name of 3000", "/m/" + QString(3000, 'n'), QString(1024, 'n'));
        withNext("cut between surrogates", "/m/" + QString(1023, 'n') + QStringLiteral("\U0001F3B5x"),
                 QString(1023, 'n'));
        withNext("path of 4096 bytes", "/m/" + QString(4093, 'p'), QString(1024, 'p'));
        withNext("path of 4097 bytes", "/m/" + QString(4094, 'p'), QString());
        withNext("Chinese path over 4096 bytes", "/m/" + QString(1400, QChar(0x6B4C)), QString());
        withNext("path of 5 MB", "/m/" + QString(5 * 1024 * 1024, 'p'), QString());
    }

    void add_appendsChosenEntries()
    {
        QFETCH(QList<QStringList>, choices);
        QFETCH(QStringList, names);
        QFETCH(QStringList, urls);
        QFETCH(QString, button);
        QFETCH(int, select);
        QFETCH(QString, list);
        QFETCH(QByteArray, listBytes);
        PlayerFixture player;
        QVERIFY(player.load());
        const auto here = [&player](QStringList paths) {
            return paths.replaceInStrings(QStringLiteral("@"), player.dir.path());
        };
        if (!list.isEmpty())
            writeAll(player.dir.filePath(list), listBytes);
        for (int i = 0; i < choices.size(); ++i) {
            player.prompts.chooseFilesNext(here(choices.at(i)));
            player.click(qPrintable(button));
            if (i == 0 && select >= 0)
                player.listName()->setCurrentRow(select);
        }
        QCOMPARE(player.names(), names);
        QCOMPARE(player.urls(), here(urls));
        QCOMPARE(player.count(), QString::number(names.size()));
        QCOMPARE(player.prompts.choosersShown(), int(choices.size()));
        QCOMPARE(player.prompts.lastTitle, QStringLiteral("打开"));
        QCOMPARE(player.prompts.lastFilter,
                 QStringLiteral(
                     "*.mp3文件 (*.mp3);;音频文件 (%1);;CUE 文件(*.cue) (*.cue);;"
                     "播放列表(*.m3u *.m3u8 *.pls *.xspf) (*.m3u *.m3u8 *.pls *.xspf);;All file(*.*) (*)")
                     .arg(AudioTypes::audioPatterns().join(QLatin1Char(' '))));
        QVERIFY(QFileInfo(player.prompts.lastFolder).isDir());
        // Adding never plays, never selects, never complains.
        QCOMPARE(player.listName()->currentRow(), select);
        QVERIFY(player.media.calls.isEmpty());
        QVERIFY(player.prompts.shown().isEmpty());
    }

    void addDialog_opensInProgramMusic_elseUserMusic_elseHome_data()
    {
        QTest::addColumn<bool>("programMusic");
        QTest::addColumn<bool>("userMusic");
        QTest::addColumn<QString>("expected");
        QTest::newRow("program folder's music") << true << true << QStringLiteral("program/music");
        QTest::newRow("user's music") << false << true << QStringLiteral("home/Music");
        QTest::newRow("home") << false << false << QStringLiteral("home");
    }

    void addDialog_opensInProgramMusic_elseUserMusic_elseHome()
    {
        QFETCH(bool, programMusic);
        QFETCH(bool, userMusic);
        QFETCH(QString, expected);
        QTemporaryDir root;
        const QDir top(root.path());
        QVERIFY(top.mkpath(QStringLiteral("program")) && top.mkpath(QStringLiteral("home")));
        if (programMusic)
            QVERIFY(top.mkpath(QStringLiteral("program/music")));
        if (userMusic)
            QVERIFY(top.mkpath(QStringLiteral("home/Music")));
        const QByteArray home = qgetenv("HOME");
        const QByteArray config = qgetenv("XDG_CONFIG_HOME");
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", home);
            if (!config.isEmpty())
                qputenv("XDG_CONFIG_HOME", config);
        });
        qputenv("HOME", top.filePath(QStringLiteral("home")).toLocal8Bit());
        qunsetenv("XDG_CONFIG_HOME"); // the user's folders come from $HOME/.config, empty here
        PlayerFixture player(top.filePath(QStringLiteral("program")));
        QVERIFY(player.load());
        player.prompts.chooseFilesNext({});
        player.click("imgAdd");
        QCOMPARE(QDir::cleanPath(player.prompts.lastFolder), top.filePath(expected));
    }

    void limit_stopsAt32767_andCountShowsTrueCount()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        player.prompts.chooseFilesNext(PlayerFixture::paths(32760));
        player.click("imgAdd");
        QCOMPARE(player.count(), QStringLiteral("32760"));

        player.prompts.chooseFilesNext(
            PlayerFixture::paths(10).replaceInStrings(QStringLiteral("/m/"), QStringLiteral("/n/")));
        player.click("imgOpen");
        QCOMPARE(player.listName()->count(), 32767);
        QCOMPARE(player.listUrl()->count(), 32767);
        QCOMPARE(player.count(), QStringLiteral("32767"));
        QCOMPARE(player.listName()->item(32766)->text(), QStringLiteral("6.mp3"));
        QCOMPARE(player.listUrl()->item(32766)->text(), QStringLiteral("/n/6.mp3"));

        // A full list takes nothing more and still tells the truth.
        player.prompts.chooseFilesNext({QStringLiteral("/n/extra.mp3")});
        player.click("imgAdd");
        QCOMPARE(player.listName()->count(), 32767);
        QCOMPARE(player.count(), QStringLiteral("32767"));
    }
};

QTEST_MAIN(AddFilesTest)
#include "test_add_files.moc"
