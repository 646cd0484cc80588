// Lyrics: the LRC reader, finding a track's lyrics file or tags, and the
// desktop lyrics window as it follows the main window on a fake engine.
#include "PlayerFixture.h"

#include "DesktopLyrics.h"
#include "FileTricks.h"
#include "ImageButton.h"
#include "Lyrics.h"
#include "LyricsController.h"
#include "LyricsFinder.h"
#include "Mini.h"
#include "PlayerSettings.h"
#include "ShapedWindow.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 15000;
// The lines of a.lrc.
const QString kFirst = QStringLiteral("我曾经跨过山和大海");
const QString kSecond = QStringLiteral("也穿过人山人海");
const QString kThird = QStringLiteral("我曾经拥有着的一切");

// The first lines as "ms text", the text cut to 8 characters.
QString describe(const Lyrics &lyrics)
{
    QStringList lines;
    for (const LyricsLine &line : lyrics.lines().mid(0, 4))
        lines << QString::number(line.startMs) + u' ' + line.text.left(8);
    return lines.join(u'|');
}

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

QByteArray id3Frame(const char *id, const QByteArray &body, char flags = 0)
{
    const qsizetype size = body.size();
    return QByteArray(id) + char(size >> 24) + char(size >> 16) + char(size >> 8) + char(size) + '\0' +
           flags + body;
}

QString accessibleName(QWidget *widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

// The main window on a fake engine with the lyrics controller, as main() builds it.
struct LyricsPlayer
{
    LyricsPlayer(const QStringList &tracks, const QString &settingsFile) : settings(settingsFile)
    {
        fixture.load();
        fixture.window->addChosenFiles(tracks);
        controller = new LyricsController(fixture.window.get(), &settings);
    }
    void play(int index)
    {
        fixture.window->goTo(index);
        fixture.media.setState(MediaComponent::Playing);
    }
    void jumpTo(double seconds)
    {
        fixture.media.setPosition(seconds);
        emit fixture.window->positionJumped();
    }
    DesktopLyrics *window() const { return controller->window(); }
    QWidget *control(const char *name) const { return window()->findChild<QWidget *>(QLatin1String(name)); }
    QAction *row(const QString &name) const { return fixture.window->findChild<QAction *>(name); }

    PlayerSettings settings;
    PlayerFixture fixture;
    LyricsController *controller = nullptr;
};

} // namespace

class LyricsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_tracks; // a.mp3 with a.lrc beside, b.mp3 with Lyrics/b.lrc, c.mp3 with none

    QString settingsFile() const { return m_dir.filePath(u"settings.ini"_s); }

private slots:
    void initTestCase()
    {
        for (const char *name : {"a", "b", "c"})
            m_tracks << m_dir.filePath(QLatin1String(name) + u".mp3"_s);
        write(m_dir.filePath(u"a.lrc"_s),
              QStringEncoder("GB18030").encode(u"[00:00.00]我曾经跨过山和大海\n[00:10.00]也穿过人山人海\n"
                                               u"[00:20.00]我曾经拥有着的一切\n"_s));
        write(m_dir.filePath(u"Lyrics/b.lrc"_s), "[00:00.00]\xe4\xb9\x99\xe4\xb8\x80\n[00:10.00]B2\n");
    }

    void lrc_readsEveryFormAndSkipsBrokenLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("synced");
        QTest::addColumn<QString>("lines");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("longest");
        QTest::newRow("every time form") << u"[00:01]a\n[00:02.5]b\n[00:03.25]c\n[01:04.125]d"_s << true
                                         << u"1000 a|2500 b|3250 c|64125 d"_s << 4 << 1;
        QTest::newRow("several tags, any order, CR and CR LF")
            << u"[00:10.00][00:02.00]x\r[00:05:50]y\r\n"_s << true << u"2000 x|5500 y|10000 x"_s << 3 << 1;
        QTest::newRow("id tags and offset are no lines")
            << u"[ti:T]\n[ar:A]\n[al:B]\n[by:C]\n[offset:+500]\n[00:01.00]x"_s << true << u"500 x"_s << 1
            << 1;
        QTest::newRow("an offset of hours stops at the start")
            << u"[offset:-7200000]\n[offset:+9]\n[00:01]x\n[00:02]y"_s << true << u"7201000 x|7202000 y"_s
            << 2 << 1;
        QTest::newRow("broken, negative and absurd times are skipped")
            << u"[00:01]a\n[00:xx]b\n[-00:01]c\n[99999:00]d\n[00:61]e\n[00:03]f"_s << true
            << u"1000 a|3000 f"_s << 2 << 1;
        QTest::newRow("plain text is unsynced, shown whole") << u"line one\n\n[Chorus]\n  <3 you\n"_s << false
                                                             << u"0 line one|0 [Chorus]|0 <3 you"_s << 3 << 8;
        QTest::newRow("only id tags") << u"[ti:x]\n[ar:y]\n"_s << false << QString() << 0 << 0;
        QTest::newRow("a million characters on a line")
            << u"[00:01]"_s + QString(1000000, u'x') + u"\n[00:02]y"_s << true << u"1000 xxxxxxxx|2000 y"_s
            << 2 << int(Lyrics::kMaxLineChars);
        QString tags;
        for (int i = 0; i < 12000; ++i)
            tags += u"[%1:%2.00]"_s.arg(i / 60, 2, 10, QLatin1Char('0')).arg(i % 60, 2, 10, QLatin1Char('0'));
        QTest::newRow("twelve thousand time tags")
            << tags + u"副歌"_s << true << u"0 副歌|1000 副歌|2000 副歌|3000 副歌"_s << Lyrics::kMaxLines
            << 2;
        QTest::newRow("beyond the characters read")
            << QString(Lyrics::kMaxChars, u'\n') + u"[00:01]x"_s << false << QString() << 0 << 0;
    }

    void lrc_readsEveryFormAndSkipsBrokenLines()
    {
        QFETCH(QString, text);
        const Lyrics lyrics = Lyrics::parse(text);
        QTEST(lyrics.isSynced(), "synced");
        QTEST(describe(lyrics), "lines");
        QTEST(int(lyrics.lines().size()), "count");
        qsizetype longest = 0;
        for (const LyricsLine &line : lyrics.lines())
            longest = std::max(longest, line.text.size());
        QTEST(int(longest), "longest");
    }

    void lrc_fillFollowsWordTimesElseTheLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<int>("line");
        QTest::addColumn<double>("sung");
        QTest::addColumn<qint64>("nextCharacterAt");
        const QString words = u"[00:10.00]<00:10.00>ab<00:11.00>cd<00:12.00>\n[00:20.00]x"_s;
        QTest::newRow("before the first line") << words << qint64(9000) << -1 << 0.0 << qint64(-1);
        QTest::newRow("within a word") << words << qint64(10500) << 0 << 1.0 << qint64(10501);
        QTest::newRow("the next word") << words << qint64(11250) << 0 << 2.5 << qint64(11501);
        QTest::newRow("after the closing word time") << words << qint64(15000) << 0 << 4.0 << qint64(-1);
        const QString lines = u"[00:00]abcd\n[00:04]efgh\n[00:04]译文\n[01:00]ij"_s;
        QTest::newRow("evenly to the next line") << lines << qint64(1000) << 0 << 1.0 << qint64(1001);
        QTest::newRow("a translation shares its line's time")
            << lines << qint64(5000) << 1 << 0.4 << qint64(6501);
        QTest::newRow("a long pause fills in ten seconds")
            << lines << qint64(9000) << 1 << 2.0 << qint64(9001);
        QTest::newRow("unsynced moves through the length")
            << u"a\nb\nc"_s << qint64(15000) << 1 << 1.0 << qint64(-1);
    }

    void lrc_fillFollowsWordTimesElseTheLine()
    {
        QFETCH(QString, text);
        QFETCH(qint64, ms);
        QFETCH(int, line);
        const Lyrics lyrics = Lyrics::parse(text);
        QCOMPARE(lyrics.lineAt(ms, 30000), line);
        QTEST(lyrics.sungChars(line, ms), "sung");
        QTEST(lyrics.timeAfterChars(line, std::ceil(lyrics.sungChars(line, ms))), "nextCharacterAt");
    }

    void id3Lyrics_decodeEachTextEncoding_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("lyrics");
        const QString text = u"[00:01.00]我曾经跨过山和大海"_s;
        QTest::newRow("ID3v2.4, UTF-8") << id3Frame("USLT", "\3chi\0"_ba + text.toUtf8()) << text;
        QTest::newRow("ID3v2.3, UTF-16 with BOM and a descriptor")
            << id3Frame("USLT", "\1eng\xff\xfe"
                                "d\0\0\0\xff\xfe"_ba +
                                    QStringEncoder("UTF-16LE").encode(text) + "\0\0"_ba)
            << text;
        QTest::newRow("UTF-16 BE") << id3Frame("USLT",
                                               "\2eng\0\0"_ba + QStringEncoder("UTF-16BE").encode(text))
                                   << text;
        QTest::newRow("Latin-1 frame of GBK bytes")
            << id3Frame("USLT", "\0chi\0"_ba + QStringEncoder("GBK").encode(text)) << text;
        QTest::newRow("ID3v2.2") << "ULT\0\0\x20\3eng\0"_ba + text.toUtf8() << text;
        QTest::newRow("compressed") << id3Frame("USLT", "\3chi\0"_ba + text.toUtf8(), 8) << QString();
        QTest::newRow("no end of descriptor") << id3Frame("USLT", "\3chiabc"_ba) << QString();
        QTest::newRow("another frame") << id3Frame("COMM", "\3chi\0"_ba + text.toUtf8()) << QString();
    }

    void id3Lyrics_decodeEachTextEncoding()
    {
        QFETCH(QByteArray, frame);
        QTEST(LyricsFinder::fromId3Frame(frame), "lyrics");
    }

    void finder_takesTheLrcOfTheTrack_elseItsTags_data()
    {
        QTest::addColumn<QStringList>("files"); // "path=content"; <fifo>, <zero>, <binary>, <huge>, <utf16be>
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("lines");
        QTest::newRow("beside, any case")
            << QStringList{u"song.LrC=[00:01]旁边"_s} << u"song.LrC"_s << u"1000 旁边"_s;
        QTest::newRow("beside before the folders")
            << QStringList{u"lyrics/song.lrc=[00:01]b"_s, u"song.lrc=[00:01]a"_s} << u"song.lrc"_s
            << u"1000 a"_s;
        QTest::newRow("Lyrics folder")
            << QStringList{u"Lyrics/song.lrc=[00:01]文件夹"_s} << u"Lyrics/song.lrc"_s << u"1000 文件夹"_s;
        QTest::newRow("UTF-16 BE with BOM")
            << QStringList{u"lyrics/song.lrc=<utf16be>[00:01]月亮代表我的心"_s} << u"lyrics/song.lrc"_s
            << u"1000 月亮代表我的心"_s;
        QTest::newRow("a FIFO is never opened")
            << QStringList{u"song.lrc=<fifo>"_s, u"Lyrics/song.lrc=[00:01]x"_s} << u"Lyrics/song.lrc"_s
            << u"1000 x"_s;
        QTest::newRow("a link to a device")
            << QStringList{u"song.lrc=<zero>"_s} << QString() << u"9000 标签"_s;
        QTest::newRow("binary") << QStringList{u"song.lrc=<binary>"_s} << QString() << u"9000 标签"_s;
        QTest::newRow("empty") << QStringList{u"song.lrc="_s} << QString() << u"9000 标签"_s;
        QTest::newRow("huge: whole lines of the first MiB")
            << QStringList{u"song.lrc=<huge>"_s} << u"song.lrc"_s << u"0 第0行|10 第1行|20 第2行|30 第3行"_s;
        QTest::newRow("none: the tags") << QStringList() << QString() << u"9000 标签"_s;
    }

    void finder_takesTheLrcOfTheTrack_elseItsTags()
    {
        QFETCH(QStringList, files);
        QTemporaryDir dir;
        std::unique_ptr<FifoWatch> fifo;
        for (const QString &file : files) {
            const QString path = dir.filePath(file.section(u'=', 0, 0));
            const QString content = file.section(u'=', 1);
            if (content == "<fifo>"_L1) {
                fifo = std::make_unique<FifoWatch>(path);
                QVERIFY(fifo->isValid());
            } else if (content == "<zero>"_L1) {
                QVERIFY(QFile::link(u"/dev/zero"_s, path));
            } else if (content == "<binary>"_L1) {
                write(path, QByteArray("ID3\4\0\0\0\0\0\0\xff\xfb\x90\x64\0\0\0\0", 18).repeated(100));
            } else if (content == "<huge>"_L1) {
                QByteArray lines;
                for (int i = 0; lines.size() < 3 * LyricsFinder::kMaxBytes; ++i)
                    lines += u"[%1:%2.%3]第%4行\r\n"_s.arg(i / 6000, 2, 10, QLatin1Char('0'))
                                 .arg(i / 100 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(i % 100, 2, 10, QLatin1Char('0'))
                                 .arg(i)
                                 .toUtf8();
                write(path, lines);
            } else if (content.startsWith("<utf16be>"_L1)) {
                write(path, QStringEncoder("UTF-16BE").encode(u"\ufeff"_s + content.mid(9)));
            } else {
                write(path, content.toUtf8());
            }
        }
        QString file;
        const Lyrics lyrics = LyricsFinder::search(dir.filePath(u"song.mp3"_s), u"[00:09]标签"_s, &file);
        QTEST(file.isEmpty() ? QString() : QDir(dir.path()).relativeFilePath(file), "found");
        QTEST(describe(lyrics), "lines");
        QVERIFY(lyrics.lines().size() <= Lyrics::kMaxLines);
        for (const LyricsLine &line : lyrics.lines()) // never a line cut by the first MiB's end
            QVERIFY2(line.text.endsWith(u'行') || !line.text.startsWith(u'第'), qPrintable(line.text));
        if (fifo)
            QVERIFY(!fifo->readerSeen());
    }

    void window_followsTheTrackItsPositionAndItsEnd_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("current"); // empty: the window is hidden
        QTest::addColumn<QString>("next");
        QTest::newRow("a track with a GBK file starts") << u"start"_s << kFirst << kSecond;
        QTest::newRow("a seek") << u"seek"_s << kSecond << kThird;
        QTest::newRow("a seek while paused") << u"pause"_s << kThird << QString();
        QTest::newRow("the next track without a gap") << u"gapless"_s << u"乙一"_s << u"B2"_s;
        QTest::newRow("the next track by the button") << u"next"_s << u"乙一"_s << u"B2"_s;
        QTest::newRow("a step from the mini window") << u"mini"_s << kSecond << kThird;
        QTest::newRow("stop") << u"stop"_s << QString() << QString();
        QTest::newRow("a track without lyrics") << u"none"_s << QString() << QString();
        QTest::newRow("lyrics from its tags") << u"tags"_s << u"标签歌词"_s << QString();
        QTest::newRow("a file wins over the tags") << u"file wins"_s << kFirst << kSecond;
    }

    void window_followsTheTrackItsPositionAndItsEnd()
    {
        QFETCH(QString, action);
        QFETCH(QString, current);
        LyricsPlayer p(m_tracks, settingsFile());
        FakeMediaComponent &media = p.fixture.media;
        p.play(action == "none"_L1 || action == "tags"_L1 ? 2 : 0);
        if (action == "seek"_L1) {
            QTRY_COMPARE_WITH_TIMEOUT(p.window()->currentLine(), kFirst, kWaitMs);
            p.jumpTo(12);
        } else if (action == "pause"_L1) {
            p.fixture.window->imgPause_Click();
            media.setState(MediaComponent::Paused);
            p.jumpTo(21);
        } else if (action == "gapless"_L1) {
            QTRY_COMPARE_WITH_TIMEOUT(media.nextUrl, m_tracks[1], kWaitMs);
            QVERIFY(media.startNext());
        } else if (action == "mini"_L1) {
            QTRY_COMPARE_WITH_TIMEOUT(p.window()->currentLine(), kFirst, kWaitMs);
            p.fixture.window->Image1_Click(); // the main window gives way to the mini window
            p.fixture.window->mini()->Image6_Click();
            QVERIFY(!p.fixture.window->isVisible());
        } else if (action == "next"_L1) {
            p.fixture.window->imgNext_Click();
            media.setState(MediaComponent::Playing);
        } else if (action == "stop"_L1) {
            QTRY_VERIFY_WITH_TIMEOUT(p.window()->isVisible(), kWaitMs);
            p.fixture.window->imgStop_Click();
            media.setState(MediaComponent::Stopped);
        } else if (action == "tags"_L1 || action == "file wins"_L1) {
            TrackTags tags;
            tags.lyrics = u"[00:00]标签歌词"_s;
            media.setTags(tags);
        }
        if (current.isEmpty()) {
            QTest::qWait(300); // the search has ended
            QVERIFY(!p.window()->isVisible());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(p.window()->isVisible(), kWaitMs);
        }
        QTRY_COMPARE_WITH_TIMEOUT(p.window()->currentLine(), current, kWaitMs);
        QTEST(p.window()->nextLine(), "next");
        // A screen reader reads the line being sung.
        QCOMPARE(accessibleName(p.control("lblLyric")), current);
        // The shape cut from the lines' outlines is what the window shows.
        if (!current.isEmpty())
            QCOMPARE(p.window()->mask(), ShapedWindow::visibleRegion(p.window()));
    }

    void window_remembersItsChoices_andUnlocksByMenuOrButton()
    {
        QFile::remove(settingsFile());
        QRect place;
        {
            LyricsPlayer p(m_tracks, settingsFile());
            p.play(0);
            QTRY_VERIFY_WITH_TIMEOUT(p.window()->isVisible(), kWaitMs);
            QVERIFY(p.row(u"桌面歌词"_s)->isChecked());
            QEnterEvent enter(QPointF(50, 5), QPointF(50, 5), QPointF(50, 5));
            QApplication::sendEvent(p.window(), &enter);
            QVERIFY(p.window()->isHovered());
            QTest::mouseClick(p.control("imgFontUp"), Qt::LeftButton);
            QCOMPARE(p.window()->fontSize(), DesktopLyrics::kDefaultFontSize + DesktopLyrics::kFontStep);
            place = p.window()->geometry().translated(40, -30);
            QTest::mousePress(p.window(), Qt::LeftButton, {}, QPoint(100, 5));
            QTest::mouseMove(p.window(), QPoint(140, -25));
            QTest::mouseRelease(p.window(), Qt::LeftButton, {}, QPoint(140, -25));
            QCOMPARE(p.window()->geometry(), place);

            // Locked, it lets clicks through; the pointer over it brings up the unlock button.
            QTest::mouseClick(p.control("imgLock"), Qt::LeftButton);
            QVERIFY(p.window()->windowFlags().testFlag(Qt::WindowTransparentForInput));
            QVERIFY(p.row(u"锁定桌面歌词"_s)->isChecked() && !p.window()->isHovered());
            QCursor::setPos(place.center());
            QTRY_VERIFY_WITH_TIMEOUT(p.control("frmUnlock")->isVisible(), kWaitMs);
            QTest::mouseClick(p.control("imgUnlock"), Qt::LeftButton);
            QVERIFY(!p.window()->isLocked() && !p.row(u"锁定桌面歌词"_s)->isChecked());
            p.row(u"锁定桌面歌词"_s)->trigger();
            QVERIFY(p.window()->isLocked());
            p.row(u"桌面歌词"_s)->trigger();
            QVERIFY(!p.window()->isVisible());
        }
        LyricsPlayer again(m_tracks, settingsFile());
        again.play(0);
        QTest::qWait(300);
        QVERIFY(!again.window()->isVisible() && !again.row(u"桌面歌词"_s)->isChecked());
        QCOMPARE(again.window()->geometry(), place);
        QVERIFY(again.window()->isLocked());
        again.row(u"桌面歌词"_s)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(again.window()->currentLine(), kFirst, kWaitMs);
    }

    void window_controlsCarryTheirNamesAndTooltips()
    {
        LyricsPlayer p(m_tracks, settingsFile());
        QCOMPARE(p.window()->objectName(), u"桌面歌词"_s);
        QCOMPARE(p.window()->windowTitle(), u"桌面歌词"_s);
        QVERIFY(p.window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        const QList<QPair<const char *, QString>> buttons = {
            {"imgFontDown", u"缩小字体"_s},  {"imgFontUp", u"放大字体"_s},     {"imgLock", u"锁定桌面歌词"_s},
            {"imgClose", u"关闭桌面歌词"_s}, {"imgUnlock", u"解锁桌面歌词"_s},
        };
        for (const auto &[name, tip] : buttons) {
            auto *button = qobject_cast<ImageButton *>(p.control(name));
            QVERIFY2(button && button->toolTip() == tip && accessibleName(button) == tip, name);
        }
        for (const char *name : {"lblLyric", "lblNext"})
            QVERIFY2(qobject_cast<QLabel *>(p.control(name)), name);
        for (const QString &row : {u"桌面歌词"_s, u"锁定桌面歌词"_s})
            QVERIFY(p.row(row)->isCheckable() && p.row(row)->text() == row);
    }
};

QTEST_MAIN(LyricsTest)
#include "test_lyrics.moc"
