// Adding files through the add dialog: single and multiple choices, playlist
// files chosen there, cancel and the size limit.
#include "PlayerFixture.h"

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

private:

private slots:
    void oneFile_addsNameAndFullPath_withDialogDesignValues()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        player.prompts.chooseFilesNext({QStringLiteral("/music/a b.mp3")});
        player.click("imgAdd");
        QCOMPARE(player.names(), QStringList{QStringLiteral("a b.mp3")});
        QCOMPARE(player.urls(), QStringList{QStringLiteral("/music/a b.mp3")});
        QCOMPARE(player.count(), QStringLiteral("1"));
        QCOMPARE(player.prompts.lastTitle, QStringLiteral("打开"));
        QCOMPARE(player.prompts.lastFilter, QStringLiteral("*.mp3文件 (*.mp3);;All file(*.*) (*)"));
        QVERIFY(QFileInfo(player.prompts.lastFolder).isDir());
        // Adding never plays, never selects.
        QCOMPARE(player.listName()->currentRow(), -1);
        QVERIFY(player.media.calls.isEmpty());
    }

    void severalFiles_keepDialogOrder_andSelectionStays()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        player.prompts.chooseFilesNext({QStringLiteral("/m/first.mp3")});
        player.click("imgAdd");
        player.listName()->setCurrentRow(0);
        player.prompts.chooseFilesNext(
            {QStringLiteral("/m/3.mp3"), QStringLiteral("/m/1.mp3"), QStringLiteral("/m/2.wav")});
        player.click("imgAdd");
        QCOMPARE(player.names(), QStringList({"first.mp3", "3.mp3", "1.mp3", "2.wav"}));
        QCOMPARE(player.urls(), QStringList({"/m/first.mp3", "/m/3.mp3", "/m/1.mp3", "/m/2.wav"}));
        QCOMPARE(player.listName()->currentRow(), 0);
        QCOMPARE(player.count(), QStringLiteral("4"));
    }

    void fileAtRootAndDuplicates_areIndependentEntries()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        player.prompts.chooseFilesNext({QStringLiteral("/x.mp3"), QStringLiteral("/x.mp3")});
        player.click("imgAdd");
        player.prompts.chooseFilesNext({QStringLiteral("/x.mp3")});
        player.click("imgAdd");
        QCOMPARE(player.names(), QStringList({"x.mp3", "x.mp3", "x.mp3"}));
        QCOMPARE(player.urls(), QStringList({"/x.mp3", "/x.mp3", "/x.mp3"}));
        QCOMPARE(player.count(), QStringLiteral("3"));
    }

    void upperCaseM3u_isAddedAsOneOrdinaryEntry()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        const QString list = player.dir.filePath(QStringLiteral("LIST.M3U"));
        writeAll(list, "/m/a.mp3\r\n/m/b.mp3\r\n");
        player.prompts.chooseFilesNext({list});
        player.click("imgAdd");
        QCOMPARE(player.names(), QStringList{QStringLiteral("LIST.M3U")});
        QCOMPARE(player.urls(), QStringList{list});
    }

    void playlistChosenInDialog_appendsItsEntries_throughOpenButtonToo()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        player.prompts.chooseFilesNext({QStringLiteral("/m/old.mp3")});
        player.click("imgAdd");
        const QString list = player.dir.filePath(QStringLiteral("mine.m3u"));
        writeAll(list, "/m/a.mp3\r\n/m/sub/b c.mp3\r\nD:\\mp3\\song.mp3\r\n");
        player.prompts.chooseFilesNext({list});
        player.click("imgOpen");
        QCOMPARE(player.names(), QStringList({"old.mp3", "a.mp3", "b c.mp3", "song.mp3"}));
        QCOMPARE(player.urls(), QStringList({"/m/old.mp3", "/m/a.mp3", "/m/sub/b c.mp3", "D:\\mp3\\song.mp3"}));
        QCOMPARE(player.count(), QStringLiteral("4"));
        QVERIFY(player.media.calls.isEmpty());
    }

    void unreadablePlaylist_addsNothing_silently()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        player.prompts.chooseFilesNext({player.dir.filePath(QStringLiteral("gone.m3u"))});
        player.click("imgAdd");
        QCOMPARE(player.listName()->count(), 0);
        QCOMPARE(player.count(), QStringLiteral("0"));
        QVERIFY(player.prompts.shown().isEmpty());
    }

    void cancel_addsNothingAndShowsNothing()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        player.prompts.chooseFilesNext({QStringLiteral("/m/a.mp3")});
        player.click("imgAdd");
        player.prompts.chooseFilesNext({});
        player.click("imgAdd");
        QCOMPARE(player.listName()->count(), 1);
        QCOMPARE(player.listUrl()->count(), 1);
        QCOMPARE(player.count(), QStringLiteral("1"));
        QVERIFY(player.prompts.shown().isEmpty());
        QCOMPARE(player.prompts.choosersShown(), 2);
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

    void longNames_areCutForTheWindow_andImpossiblePathsSkipped_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name"); // empty: the path is not added
        const QString emoji = QStringLiteral("\U0001F3B5");
        QTest::newRow("short") << "/m/a.mp3"
                               << "a.mp3";
        QTest::newRow("name of 1024") << "/m/" + QString(1024, 'n') << QString(1024, 'n');
        QTest::newRow("name of 3000") << "/m/" + QString(3000, 'n') << QString(1024, 'n');
        QTest::newRow("cut between surrogates")
            << "/m/" + QString(1023, 'n') + emoji + "x" << QString(1023, 'n');
        QTest::newRow("path of 4096 bytes") << "/m/" + QString(4093, 'p') << QString(1024, 'p');
        QTest::newRow("path of 4097 bytes") << "/m/" + QString(4094, 'p') << QString();
        QTest::newRow("Chinese path over 4096 bytes") << "/m/" + QString(1400, QChar(0x6B4C)) << QString();
        QTest::newRow("path of 5 MB") << "/m/" + QString(5 * 1024 * 1024, 'p') << QString();
    }

    void longNames_areCutForTheWindow_andImpossiblePathsSkipped()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        PlayerFixture player;
        QVERIFY(player.load());
        player.prompts.chooseFilesNext({path, QStringLiteral("/m/next.mp3")});
        player.click("imgAdd");
        const QStringList names = name.isEmpty() ? QStringList{"next.mp3"} : QStringList{name, "next.mp3"};
        const QStringList urls =
            name.isEmpty() ? QStringList{"/m/next.mp3"} : QStringList{path, "/m/next.mp3"};
        QCOMPARE(player.names(), names);
        QCOMPARE(player.urls(), urls);
        QCOMPARE(player.count(), QString::number(names.size()));
    }

    void limit_stopsAt32767_andCountShowsTrueCount()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        QStringList many;
        for (int i = 0; i < 32760; ++i)
            many.append(QStringLiteral("/m/%1.mp3").arg(i));
        player.prompts.chooseFilesNext(many);
        player.click("imgAdd");
        QCOMPARE(player.count(), QStringLiteral("32760"));

        QStringList more;
        for (int i = 0; i < 10; ++i)
            more.append(QStringLiteral("/n/%1.mp3").arg(i));
        player.prompts.chooseFilesNext(more);
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
