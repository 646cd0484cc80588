// Cue sheets, the tracks of images as entries, and other players' playlist
// files: the readers, on well-formed and on hostile input.
#include "CueSheet.h"
#include "FileTricks.h"
#include "ImageTrack.h"
#include "PlaylistFormats.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <taglib/flacfile.h>
#include <taglib/xiphcomment.h>

using namespace Qt::StringLiterals;

namespace {

// A sheet as one line: "album/performer|number:title/performer@start-end|..."
QString summary(const CueSheet::Sheet &sheet)
{
    QStringList parts{sheet.title + u'/' + sheet.performer + (sheet.cut ? u" cut"_s : QString())};
    for (const CueSheet::Track &t : sheet.tracks)
        parts << u"%1:%2/%3@%4-%5 %6"_s.arg(t.number)
                     .arg(t.title, t.performer)
                     .arg(t.start)
                     .arg(t.end)
                     .arg(t.file);
    return parts.join(u'|');
}

QByteArray threeTracks(const char *album, const char *one, const char *two)
{
    return QByteArray("REM GENRE Pop\r\nPERFORMER \"Band\"\r\nTITLE \"") + album +
           "\"\r\nFILE \"a.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE \"" + one +
           "\"\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    TITLE \"" + two +
           "\"\r\n    PERFORMER \"Guest\"\r\n    INDEX 00 00:59:00\r\n    INDEX 01 01:00:00\r\n"
           "  TRACK 03 AUDIO\r\n    INDEX 01 02:00:37\r\n";
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class SheetsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void parse_givesTracksInTheirOwnTime_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const QString three =
            u"专辑/Band|1:春天/@0-4500 a.wav|2:夏天/Guest@4500-9037 a.wav|3:/@9037--1 a.wav"_s;
        QTest::newRow("GBK") << QByteArray(QStringEncoder("GBK").encode(
                                    QString::fromUtf8(threeTracks("专辑", "春天", "夏天"))))
                             << three;
        QTest::newRow("UTF-8 with BOM") << "\xEF\xBB\xBF" + threeTracks("专辑", "春天", "夏天") << three;
        QTest::newRow("a file per track, gap at the end of the first, bare words")
            << QByteArray(
                   "FILE 01.wav WAVE\nTRACK 01 AUDIO\nTITLE One more\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
                   "INDEX 00 03:00:00\nFILE \"02.flac\" WAVE\nINDEX 01 00:00:00\n")
            << u"/|1:One more/@0--1 01.wav|2:/@0--1 02.flac"_s;
        QTest::newRow("out of order: to the next start after its own")
            << QByteArray(
                   "FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:30:00\n"
                   "TRACK 03 AUDIO\nINDEX 01 00:10:00\n")
            << u"/|1:/@0-750 a.wav|2:/@2250--1 a.wav|3:/@750-2250 a.wav"_s;
        QTest::newRow("no INDEX, bad times, a data track: left out")
            << QByteArray("FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nTITLE \"x\"\n"
                          "TRACK 03 MODE1/2352\nINDEX 01 00:10:00\nTRACK 04 AUDIO\nINDEX 01 00:61:00\n"
                          "INDEX 01 99999999:00:00\nINDEX 123 00:01:00\nTRACK 05 AUDIO\nINDEX 01 01:00:00\n")
            << u"/|1:/@0-4500 a.wav|2:/@4500--1 a.wav"_s;
        QTest::newRow("a data track's FILE still counts; an empty last track goes")
            << QByteArray("FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 MODE1/2352\nFILE "
                          "b.wav WAVE\n"
                          "INDEX 01 00:00:00\nTRACK 03 AUDIO\nINDEX 01 00:00:00\nTRACK 04 AUDIO\n")
            << u"/|1:/@0--1 a.wav|2:/@0--1 b.wav"_s;
        QTest::newRow("quotes, backslashes, NUL, lone CR")
            << "TITLE \"a\"b\"\rFILE \"C:\\rip\\a.wav\\\" WAVE\rTRACK 01 AUDIO\rTITLE \"x" +
                   QByteArray(1, '\0') + "y\"\rINDEX 01 00:00:00\r"
            << u"a/|1:xy/@0--1 C:\\rip\\a.wav"_s;
        QByteArray thousand = "FILE a.wav WAVE\n";
        for (int i = 0; i < 1000; ++i)
            thousand += "TRACK " + QByteArray::number(i + 1) + " AUDIO\nINDEX 01 " + QByteArray::number(i) +
                        ":00:00\n";
        QTest::newRow("a thousand tracks: 99, the last to the end") << thousand << u""_s;
        QTest::newRow("long texts are cut, never passed whole")
            << "FILE a.wav WAVE\nTRACK 01 AUDIO\nTITLE " + QByteArray(100000, 'x') + "\nINDEX 01 00:00:00\n"
            << "/|1:" + QString(512, u'x') + "/@0--1 a.wav";
        QTest::newRow("not a sheet") << QByteArray("just some notes\n\x01\x02\xff") << u""_s;
    }

    void parse_givesTracksInTheirOwnTime()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const QString path = m_dir.filePath(u"sheet.cue"_s);
        write(path, bytes);
        CueSheet::Sheet sheet;
        const CueSheet::Error error = CueSheet::readFile(path, &sheet);
        if (QTest::currentDataTag() == QLatin1String("a thousand tracks: 99, the last to the end")) {
            QCOMPARE(sheet.tracks.size(), CueSheet::kMaxTracks);
            QVERIFY(sheet.cut);
            QCOMPARE(sheet.tracks.last().start, 98 * 60 * 75);
            QCOMPARE(sheet.tracks.last().end, -1);
            return;
        }
        QCOMPARE(error, expected.isEmpty() ? CueSheet::Error::NoTracks : CueSheet::Error::None);
        QCOMPARE(summary(sheet), expected.isEmpty() ? u"/"_s : expected);
    }

    void readFile_refusesWhatIsNoSheetFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<CueSheet::Error>("error");
        QTest::newRow("50 MB") << u"large"_s << CueSheet::Error::TooLarge;
        QTest::newRow("FIFO") << u"fifo"_s << CueSheet::Error::Unreadable;
        QTest::newRow("missing") << u"missing"_s << CueSheet::Error::Unreadable;
        QTest::newRow("folder") << u"folder"_s << CueSheet::Error::Unreadable;
    }

    void readFile_refusesWhatIsNoSheetFile()
    {
        QFETCH(QString, kind);
        QFETCH(CueSheet::Error, error);
        const QString path = m_dir.filePath(kind + u".cue"_s);
        std::optional<FifoWatch> fifo;
        if (kind == u"large"_s)
            write(path, threeTracks("a", "b", "c") + QByteArray(50 * 1024 * 1024, '\n'));
        else if (kind == u"fifo"_s)
            QVERIFY(fifo.emplace(path).isValid());
        else if (kind == u"folder"_s)
            QVERIFY(QDir(m_dir.path()).mkpath(kind + u".cue"_s));
        CueSheet::Sheet sheet;
        QCOMPARE(CueSheet::readFile(path, &sheet), error);
        QVERIFY(sheet.tracks.isEmpty());
        if (fifo)
            QVERIFY(!fifo->readerSeen());
    }

    void findAudioFile_acceptsWhatRealRipsName_data()
    {
        QTest::addColumn<QStringList>("files"); // in the sheet's folder
        QTest::addColumn<QString>("named");
        QTest::addColumn<QString>("found");
        QTest::newRow("another case") << QStringList{"Album.WAV"} << u"album.wav"_s << u"Album.WAV"_s;
        QTest::newRow("converted after the sheet")
            << QStringList{"album.ape"} << u"album.wav"_s << u"album.ape"_s;
        QTest::newRow("a Windows path of the ripper's")
            << QStringList{"a.wav"} << u"C:\\rips\\a.wav"_s << u"a.wav"_s;
        QTest::newRow("below the folder") << QStringList{"cd1/a.wav"} << u"cd1\\a.wav"_s << u"cd1/a.wav"_s;
        QTest::newRow("not above it") << QStringList{} << u"../outside.wav"_s << u""_s;
        QTest::newRow("the sheet itself: its image")
            << QStringList{"s.cue", "s.flac"} << u"s.cue"_s << u"s.flac"_s;
        QTest::newRow("another sheet, no image") << QStringList{"s.cue", "t.cue"} << u"t.cue"_s << u""_s;
        QTest::newRow("raw CD data: not audio") << QStringList{"a.bin"} << u"a.bin"_s << u""_s;
        QTest::newRow("missing") << QStringList{"b.wav"} << u"a.wav"_s << u""_s;
    }

    void findAudioFile_acceptsWhatRealRipsName()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, named);
        QFETCH(QString, found);
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"album"_s);
        QVERIFY(QDir().mkpath(folder + u"/cd1"_s));
        write(dir.filePath(u"outside.wav"_s), "RIFF");
        for (const QString &file : files)
            write(folder + u'/' + file, "RIFF");
        QCOMPARE(CueSheet::findAudioFile(folder, named), found.isEmpty() ? QString() : folder + u'/' + found);
    }

    void imageTrack_parse_takesOnlyATrackOfALocalSheet()
    {
        const QString sheet = u"/m/专辑 1/a?.cue"_s;
        QCOMPARE(ImageTrack::parse(ImageTrack::entry(sheet, 3))->sheetFile, sheet);
        for (const char *entry : {"/m/a.cue?3", "file:///m/a.cue?x", "file:///m/a.cue?0",
                                  "file:///m/a.cue?100", "file://host/m/a.cue?1"})
            QVERIFY2(!ImageTrack::parse(QString::fromUtf8(entry)), entry);
    }

    void imageTrack_resolvesFromTheSheetAsItIsNow()
    {
        const QString folder = m_dir.filePath(u"resolve"_s);
        QVERIFY(QDir().mkpath(folder));
        write(folder + u"/a.flac"_s, "fLaC");
        const QString sheet = folder + u"/s.cue"_s;
        write(sheet, threeTracks("专辑", "春天", "夏天"));
        const std::optional<ImageTrack::Track> track = ImageTrack::resolve(ImageTrack::entry(sheet, 2));
        QVERIFY(track);
        QCOMPARE(track->audioFile, folder + u"/a.flac"_s); // converted after the sheet was written
        QCOMPARE(track->startNs, 60 * qint64(1000000000));
        QCOMPARE(track->tags.artists, QStringList{u"Guest"_s});
        QVERIFY(!ImageTrack::resolve(ImageTrack::entry(sheet, 4)));
        // Rewritten: read again; the audio file gone: no track.
        write(sheet, "FILE a.wav WAVE\nTRACK 01 AUDIO\nTITLE \"新\"\nINDEX 01 00:00:00\n");
        QCOMPARE(ImageTrack::resolve(ImageTrack::entry(sheet, 1))->tags.title, u"新"_s);
        QVERIFY(QFile::remove(folder + u"/a.flac"_s));
        QVERIFY(!ImageTrack::resolve(ImageTrack::entry(sheet, 1)));
    }

    void readEmbedded_takesTheSheetOfAFlacFilesTags()
    {
        const QString flac = m_dir.filePath(u"image.flac"_s);
        QCOMPARE(QProcess::execute(u"sox"_s, {u"-n"_s, flac, u"synth"_s, u"2"_s, u"sine"_s, u"440"_s}), 0);
        CueSheet::Sheet sheet;
        QCOMPARE(CueSheet::readEmbedded(flac, &sheet), CueSheet::Error::NoTracks);
        {
            TagLib::FLAC::File file(QFile::encodeName(flac).constData());
            file.xiphComment(true)->addField(
                "CUESHEET",
                TagLib::String(threeTracks("专辑", "春天", "夏天").constData(), TagLib::String::UTF8));
            QVERIFY(file.save());
        }
        QCOMPARE(CueSheet::readEmbedded(flac, &sheet), CueSheet::Error::None);
        QCOMPARE(
            summary(sheet),
            u"专辑/Band|1:春天/@0-4500 image.flac|2:夏天/Guest@4500-9037 image.flac|3:/@9037--1 image.flac"_s);
    }

    void pls_givesFilesInTheOrderOfTheirNumbers_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected"); // location=title
        QTest::newRow("Winamp's") << QByteArray("[playlist]\r\nFile2=b.mp3\r\nTitle2=B\r\nFile1=/m/a.mp3\r\n"
                                                "Length1=10\r\nNumberOfEntries=2\r\nVersion=2\r\n")
                                  << QStringList{"/m/a.mp3=", "b.mp3=B"};
        QTest::newRow("GBK titles, any case, a title alone")
            << QByteArray(
                   QStringEncoder("GBK").encode(u"[playlist]\nfile1=春.mp3\nTITLE1=春天\nTitle7=孤单\n"_s))
            << QStringList{"春.mp3=春天"};
        QTest::newRow("numbers past the list")
            << QByteArray("File99999999999=x\nFile0=y\nFile-1=z\nFile32768=w\n") << QStringList{};
    }

    void pls_givesFilesInTheOrderOfTheirNumbers()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QStringList items;
        for (const PlaylistFormats::Item &item : PlaylistFormats::readPls(&buffer, 1 << 20, 32767))
            items << item.location + u'=' + item.title;
        QCOMPARE(items, expected);
    }

    void xspf_givesTracksAndRefusesWhatIsNoPlaylist_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected"); // location=title
        QTest::addColumn<bool>("ok");
        const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        QTest::newRow("two tracks")
            << head + "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><trackList>"
                      "<track><location>file:///m/a%20b.ogg</location><title>春 &amp; 夏</title>"
                      "<extension application=\"x\"><title>not this</title></extension></track>"
                      "<track><title>no location</title></track><track><location>c.mp3</location>"
                      "<location>mirror.mp3</location></track></trackList></playlist>"
            << QStringList{"file:///m/a%20b.ogg=春 & 夏", "c.mp3="} << true;
        QTest::newRow("entity bomb")
            << head + "<!DOCTYPE p [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]><playlist><trackList><track><title>&c;"
                      "</title><location>x</location></track></trackList></playlist>"
            << QStringList{} << false;
        QTest::newRow("deep nesting") << head + QByteArray("<a>").repeated(100000) << QStringList{} << false;
        QTest::newRow("cut short, the tracks before it kept")
            << head + "<playlist><trackList><track><location>a</location></track><track><location>b"
            << QStringList{"a="} << false;
    }

    void xspf_givesTracksAndRefusesWhatIsNoPlaylist()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QFETCH(bool, ok);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QList<PlaylistFormats::Item> items;
        QCOMPARE(PlaylistFormats::readXspf(&buffer, 1 << 20, 32767, &items), ok);
        QStringList got;
        for (const PlaylistFormats::Item &item : std::as_const(items))
            got << item.location + u'=' + item.title;
        QCOMPARE(got, expected);
    }
};

QTEST_MAIN(SheetsTest)
#include "test_sheets.moc"
