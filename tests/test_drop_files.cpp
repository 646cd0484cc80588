// Files, playlist files and folders from outside: dropped on the playlist, or
// opened from the command line. Drops append without playing; opening starts
// the first entry added.
#include "PlayerFixture.h"

#include "ImageTrack.h"
#include "PathExpansion.h"
#include "PlaylistDropTarget.h"

#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QtTest>

#include <sys/stat.h>

class DropFilesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    // The music folder's audio files in the order a drop of the folder adds them.
    QStringList m_folderOrder;

    QString path(const char *name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    // Sends a drag over the list and drops it; returns whether the list took it.
    static bool drop(PlayerFixture &player, const QStringList &items)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString &item : items)
            urls.append(item.contains(QLatin1String("://")) ? QUrl(item) : QUrl::fromLocalFile(item));
        data.setUrls(urls);
        QWidget *viewport = player.listName()->viewport();
        const auto actions = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(QPoint(20, 20), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(QPoint(20, 20), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &dropped);
        QCoreApplication::processEvents(); // the list fills after the drop has been answered
        return dropped.isAccepted() && dropped.dropAction() == Qt::CopyAction;
    }

private slots:
    void initTestCase()
    {
        const QDir root(m_dir.path());
        QVERIFY(root.mkpath(QStringLiteral("music/sub/deeper")) && root.mkpath(QStringLiteral("music/aa")));
        for (const char *name :
             {"music/b.mp3", "music/a.MP3", "music/10.mp3", "music/2.mp3", "music/notes.txt",
              "music/cover.jpg", "music/.hidden.mp3", "music/aa/first.mp3", "music/sub/z.mp3",
              "music/sub/x.wav", "music/sub/deeper/y.flac", "single.mp3", "other.ogg", "list.m3u"}) {
            QFile file(path(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(file.fileName().endsWith("m3u") ? "/m/1.mp3\r\n/m/2.mp3\r\n" : "ID3");
        }
        // Read only regular files: a pipe would block whoever opens it.
        for (const char *pipe : {"music/pipe.mp3", "pipe.m3u"})
            QCOMPARE(mkfifo(QFile::encodeName(path(pipe)).constData(), 0600), 0);
        // A link back up the tree must not be walked round and round.
        QVERIFY(QFile::link(path("music"), path("music/sub/loop")));
        for (const char *name :
             {"music/2.mp3", "music/10.mp3", "music/a.MP3", "music/b.mp3", "music/aa/first.mp3",
              "music/sub/x.wav", "music/sub/z.mp3", "music/sub/deeper/y.flac"})
            m_folderOrder.append(path(name));
    }

    void drop_mixedContent_appendsInOrder_withoutPlaying_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<int>("before");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QStringList>("added");
        const QStringList playlist = {QStringLiteral("/m/1.mp3"), QStringLiteral("/m/2.mp3")};
        QTest::newRow("one file") << QStringList{path("single.mp3")} << 0 << true
                                  << QStringList{path("single.mp3")};
        QTest::newRow("folder, by name, sub-folders after")
            << QStringList{path("music")} << 2 << true << m_folderOrder;
        QTest::newRow("playlist file") << QStringList{path("list.m3u")} << 0 << true << playlist;
        QTest::newRow("mixed") << QStringList{path("other.ogg"), path("music/sub"), path("list.m3u"),
                                              QStringLiteral("http://example.org/x.mp3")}
                               << 1 << true
                               << QStringList{path("other.ogg"), path("music/sub/x.wav"),
                                              path("music/sub/z.mp3"), path("music/sub/deeper/y.flac")} +
                                      playlist;
        QTest::newRow("pipes and missing files are left out")
            << QStringList{path("music/pipe.mp3"), path("pipe.m3u"), path("gone.mp3"), path("single.mp3")}
            << 0 << true << QStringList{path("single.mp3")};
        QTest::newRow("a nearly full list takes what fits")
            << QStringList{path("music")} << Playlist::kMaxEntries - 3 << true << m_folderOrder.mid(0, 3);
        QTest::newRow("a full list takes nothing")
            << QStringList{path("single.mp3")} << Playlist::kMaxEntries << true << QStringList();
        QTest::newRow("no local file: refused")
            << QStringList{"http://example.org/a.mp3"} << 0 << false << QStringList();
    }

    void drop_mixedContent_appendsInOrder_withoutPlaying()
    {
        QFETCH(QStringList, items);
        QFETCH(int, before);
        QFETCH(bool, taken);
        QFETCH(QStringList, added);
        PlayerFixture player;
        QVERIFY(player.load());
        // The window takes focus now, while the list is empty: a list view that
        // gains focus with entries and no current one makes the first current.
        QCoreApplication::processEvents();
        if (before > 0)
            player.window->addChosenFiles(PlayerFixture::paths(before));

        QVERIFY(player.listName()->viewport()->acceptDrops());
        QCOMPARE(drop(player, items), taken);
        QCOMPARE(player.urls().mid(before), added);
        QCOMPARE(player.names().mid(before).size(), added.size());
        QCOMPARE(player.count(), QString::number(before + added.size()));
        // Nothing starts, nothing is selected.
        QVERIFY(player.media.calls.isEmpty() && player.prompts.shown().isEmpty());
        QCOMPARE(player.listName()->currentRow(), -1);
    }

    void drop_sheets_addTheirTracks_inPlaceOfTheirImages_data()
    {
        QTest::addColumn<QStringList>("items"); // under album/
        QTest::addColumn<QStringList>("urls");  // "name?N" a track of sheet name
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("box");
        const QString missing =
            QStringLiteral("CUE 文件“broken.cue”所指的音频文件“gone.ape”不存在，其音轨未添加。");
        // bonus.mp3 is broken.cue's second track; zz copy.cue a second sheet of disc.wav.
        QTest::newRow("the folder: its sheets' tracks, once, in their places; the others as ever")
            << QStringList{""}
            << QStringList{"broken.cue?2", "disc.cue?1", "disc.cue?2", "disc.cue?3", "solo.ape"}
            << QStringList{"bonus", "春天", "夏天", "disc - 03", "solo.ape"} << missing;
        QTest::newRow("a sheet") << QStringList{"disc.cue"}
                                 << QStringList{"disc.cue?1", "disc.cue?2", "disc.cue?3"}
                                 << QStringList{"春天", "夏天", "disc - 03"} << QString();
        QTest::newRow("its image alone is a file")
            << QStringList{"disc.wav"} << QStringList{"disc.wav"} << QStringList{"disc.wav"} << QString();
        QTest::newRow("a sheet naming a missing file: one box, the other tracks added")
            << QStringList{"broken.cue"} << QStringList{"broken.cue?2"} << QStringList{"bonus"} << missing;
    }

    void drop_sheets_addTheirTracks_inPlaceOfTheirImages()
    {
        QFETCH(QStringList, items);
        QFETCH(QStringList, urls);
        QFETCH(QStringList, names);
        QFETCH(QString, box);
        const QDir album(path("album"));
        if (!album.exists()) {
            QVERIFY(QDir().mkpath(album.path()));
            const QByteArray disc = QStringEncoder("GBK").encode(QStringLiteral(
                "FILE \"disc.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"春天\"\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
                "TITLE \"夏天\"\nINDEX 01 01:00:00\nTRACK 03 AUDIO\nINDEX 01 02:00:00\n"));
            const QList<QPair<QString, QByteArray>> files = {
                {"disc.wav", "RIFF"},
                {"disc.cue", disc},
                {"zz copy.cue", disc},
                {"bonus.mp3", "ID3"},
                {"solo.ape", "MAC "},
                {"broken.cue", "FILE gone.ape WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE bonus.mp3 WAVE\n"
                               "TRACK 02 AUDIO\nTITLE bonus\nINDEX 01 00:00:00\n"}};
            for (const auto &[name, bytes] : files) {
                QFile file(album.filePath(name));
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
            }
        }
        PlayerFixture player;
        QVERIFY(player.load());
        QVERIFY(drop(player, items.replaceInStrings(QRegularExpression("^"), album.path() + "/")));
        for (QString &url : urls) {
            const QStringList parts = url.split(QLatin1Char('?'));
            url = parts.size() == 2 ? ImageTrack::entry(album.filePath(parts[0]), parts[1].toInt())
                                    : album.filePath(url);
        }
        QCOMPARE(player.urls(), urls);
        QCOMPARE(player.names(), names);
        if (box.isEmpty()) {
            QTest::qWait(50);
            QVERIFY(player.prompts.shown().isEmpty());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(player.prompts.shown().size(), 1, 2000);
            QCOMPARE(player.prompts.shown().constFirst().title, QStringLiteral("提示:"));
            QCOMPARE(player.prompts.shown().constFirst().text, box);
        }
    }

    void plainText_isNoPath()
    {
        QMimeData text;
        text.setText(QStringLiteral("/m/a.mp3"));
        QVERIFY(PlaylistDropTarget::localPaths(&text).isEmpty());
    }

    void walk_staysWithinItsBounds_data()
    {
        QTest::addColumn<PathExpansion::Bounds>("bounds");
        QTest::addColumn<int>("atMost");
        QTest::newRow("entries") << PathExpansion::Bounds{5, 100000, 60000} << 5;
        QTest::newRow("entries looked at") << PathExpansion::Bounds{100, 4, 60000} << 5;
        QTest::newRow("time") << PathExpansion::Bounds{100, 100000, 0} << 1; // the named file, not the folder
    }

    void walk_staysWithinItsBounds()
    {
        QFETCH(PathExpansion::Bounds, bounds);
        QFETCH(int, atMost);
        const QStringList found = PathExpansion::expand({path("single.mp3"), path("music")}, bounds);
        QVERIFY2(found.size() <= atMost && !found.isEmpty(), qPrintable(found.join(' ')));
        QCOMPARE(found.first(), path("single.mp3"));
        for (const QString &entry : found.mid(1))
            QVERIFY2(m_folderOrder.contains(entry), qPrintable(entry));
    }

    void openFiles_appendsAndStartsTheFirstAdded()
    {
        PlayerFixture player;
        QVERIFY(player.load());
        player.window->addChosenFiles(PlayerFixture::paths(2));
        player.window->openFiles({path("list.m3u"), path("single.mp3")});
        QCOMPARE(player.urls(),
                 QStringList({"/m/0.mp3", "/m/1.mp3", "/m/1.mp3", "/m/2.mp3", path("single.mp3")}));
        QCOMPARE(player.count(), QStringLiteral("5"));
        QCOMPARE(player.media.urls, QStringList{QStringLiteral("/m/1.mp3")}); // as a double-click on entry 2
        QCOMPARE(player.listName()->currentRow(), 2);

        player.media.urls.clear();
        player.window->openFiles({path("gone.mp3")});
        QVERIFY(player.media.urls.isEmpty());
        QCOMPARE(player.listName()->currentRow(), 2);
    }
};

QTEST_MAIN(DropFilesTest)
#include "test_drop_files.moc"
