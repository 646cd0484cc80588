#include "CueSheet.h"

#include "AudioTypes.h"
#include "RegularFile.h"
#include "TextDecoding.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <libcue.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/flacfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace CueSheet {

namespace {

// Texts given to libcue stay far below its 1024-byte token buffer.
constexpr qsizetype kMaxTextBytes = 512;
// Folder entries looked at for a file named in another case or suffix.
constexpr int kMaxFolderEntries = 10000;

// libcue's parser keeps its state in globals.
std::mutex &parserMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The words of a sheet line: a quoted text is one word without its quotes.
QList<QStringView> wordsOf(QStringView line)
{
    QList<QStringView> words;
    qsizetype i = 0;
    while (i < line.size() && words.size() < 4) {
        while (i < line.size() && line[i].isSpace())
            ++i;
        if (i == line.size())
            break;
        if (line[i] == QLatin1Char('"')) {
            const qsizetype close = line.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype end = close < 0 ? line.size() : close;
            words.append(line.sliced(i + 1, end - i - 1));
            i = end + 1;
        } else {
            qsizetype end = i;
            while (end < line.size() && !line[end].isSpace())
                ++end;
            words.append(line.sliced(i, end - i));
            i = end;
        }
    }
    return words;
}

// The text a statement gives: a quoted word, else the rest of the line
// (TITLE a b) or, where more words follow (FILE name WAVE), the next word.
QString valueOf(QStringView line, const QList<QStringView> &words, bool restOfLine)
{
    if (words.size() < 2)
        return QString();
    const bool wasQuoted = words[1].data() > line.data() && words[1].data()[-1] == QLatin1Char('"');
    QString text = wasQuoted || !restOfLine ? words[1].toString()
                                            : line.sliced(words[1].data() - line.data()).trimmed().toString();
    // Quotes cannot be written inside a sheet's text; a stray one would end it.
    text.replace(QLatin1Char('"'), QLatin1Char('\''));
    // A backslash before the closing quote would make libcue read on past it.
    while (text.endsWith(QLatin1Char('\\')))
        text.chop(1);
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= kMaxTextBytes)
        return text;
    qsizetype cut = kMaxTextBytes;
    while (cut > 0 && (uchar(utf8[cut]) & 0xC0) == 0x80)
        --cut;
    return QString::fromUtf8(utf8.first(cut));
}

bool isNumber(QStringView word, int maxDigits)
{
    return !word.isEmpty() && word.size() <= maxDigits &&
           std::all_of(word.begin(), word.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// "mm:ss:ff" with seconds below 60 and frames below 75.
bool isTime(QStringView word)
{
    const QList<QStringView> parts = word.split(QLatin1Char(':'));
    return parts.size() == 3 && isNumber(parts[0], 5) && isNumber(parts[1], 2) && isNumber(parts[2], 2) &&
           parts[1].toInt() < 60 && parts[2].toInt() < kFramesPerSecond;
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The sheet again, only in statements we read and only in the form libcue's
// grammar expects: its scanner keeps its state from one call to the next and
// writes past its buffer on an overlong bare word, so it never sees the
// sheet's own lines. Tracks past the 99th, data tracks and statements in the
// wrong place are left out.
QByteArray canonicalText(QString text, bool *cut)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // libcue takes a C string.
    text.remove(QChar(0));
    QString out;
    int tracks = 0;
    // A track goes out with its first INDEX: libcue's grammar fails on a
    // track without statements, and leaks what it had read then.
    enum { Before, Pending, Skipped, Written } track = Before;
    QString pending;      // the track's header and statements so far
    QString pendingFiles; // its FILE lines, which name the files of the tracks after it even when it goes
    const auto endTrack = [&] {
        if (track == Pending || track == Skipped)
            out += pendingFiles;
        pending.clear();
        pendingFiles.clear();
    };
    for (QStringView line : QStringView(text).tokenize(QLatin1Char('\n'))) {
        const QList<QStringView> words = wordsOf(line);
        if (words.isEmpty())
            continue;
        const QString keyword = words[0].toString().toUpper();
        QString statement;
        if (keyword == QLatin1String("TRACK")) {
            endTrack();
            const bool audio =
                words.size() >= 3 && words[2].compare(QLatin1String("AUDIO"), Qt::CaseInsensitive) == 0;
            track = audio ? Pending : Skipped;
            if (audio)
                pending = QStringLiteral("  TRACK %1 AUDIO\n").arg(tracks + 1, 2, 10, QLatin1Char('0'));
            continue;
        }
        if (keyword == QLatin1String("FILE")) {
            const QString name = valueOf(line, words, false);
            if (name.isEmpty())
                continue;
            statement = QStringLiteral("FILE %1 WAVE\n").arg(quoted(name));
            if (track == Pending || track == Skipped)
                pendingFiles += statement;
        } else if (keyword == QLatin1String("TITLE") || keyword == QLatin1String("PERFORMER")) {
            const QString value = valueOf(line, words, true);
            if (value.isEmpty())
                continue;
            statement = keyword + QLatin1Char(' ') + quoted(value) + QLatin1Char('\n');
        } else if (keyword == QLatin1String("INDEX") && (track == Pending || track == Written) &&
                   words.size() >= 3 && isNumber(words[1], 2) && isTime(words[2])) {
            statement = QStringLiteral("    INDEX %1 %2\n").arg(words[1].toString(), words[2].toString());
            if (track == Pending) {
                if (tracks == kMaxTracks) {
                    *cut = true;
                    break;
                }
                ++tracks;
                out += pending;
                pending.clear();
                pendingFiles.clear();
                track = Written;
            }
        } else {
            continue;
        }
        if (track == Pending)
            pending += statement;
        else if (track != Skipped)
            out += statement;
    }
    if (!*cut)
        endTrack();
    return tracks > 0 ? out.toUtf8() : QByteArray();
}

QString textOf(const char *utf8)
{
    return utf8 ? QString::fromUtf8(utf8) : QString();
}

QString cdText(Cdtext *text, Pti pti)
{
    return text ? textOf(cdtext_get(pti, text)) : QString();
}

// Where each track ends: at the first start after its own in the same file.
void findEnds(QList<Track> *tracks)
{
    for (Track &track : *tracks) {
        track.end = -1;
        for (const Track &other : std::as_const(*tracks)) {
            if (other.file == track.file && other.start > track.start &&
                (track.end < 0 || other.start < track.end))
                track.end = other.start;
        }
    }
}

} // namespace

bool parse(const QString &text, Sheet *sheet)
{
    *sheet = Sheet();
    const QByteArray canonical = canonicalText(text, &sheet->cut);
    if (canonical.isEmpty())
        return false;

    std::lock_guard lock(parserMutex());
    const std::unique_ptr<Cd, decltype(&cd_delete)> cd(cue_parse_string(canonical.constData()), &cd_delete);
    if (!cd)
        return false;
    sheet->title = cdText(cd_get_cdtext(cd.get()), PTI_TITLE);
    sheet->performer = cdText(cd_get_cdtext(cd.get()), PTI_PERFORMER);
    const int count = std::min(cd_get_ntrack(cd.get()), kMaxTracks);
    for (int i = 1; i <= count; ++i) {
        const ::Track *entry = cd_get_track(cd.get(), i);
        if (!entry || !track_get_filename(entry))
            continue;
        long start = track_get_index(entry, 1);
        if (start < 0)
            start = track_get_index(entry, 0);
        if (start < 0)
            continue; // it says nowhere where it is
        Track track;
        track.number = int(sheet->tracks.size()) + 1;
        track.file = textOf(track_get_filename(entry));
        track.title = cdText(track_get_cdtext(entry), PTI_TITLE);
        track.performer = cdText(track_get_cdtext(entry), PTI_PERFORMER);
        track.start = start;
        sheet->tracks.append(track);
    }
    findEnds(&sheet->tracks);
    return !sheet->tracks.isEmpty();
}

Error readFile(const QString &path, Sheet *sheet)
{
    *sheet = Sheet();
    QFile file;
    if (!RegularFile::openForReading(&file, path))
        return Error::Unreadable;
    if (file.size() > kMaxSheetBytes)
        return Error::TooLarge;
    const QByteArray bytes = file.read(kMaxSheetBytes + 1);
    if (bytes.size() > kMaxSheetBytes)
        return Error::TooLarge;
    return parse(TextDecoding::decodePreferringChinese(bytes), sheet) ? Error::None : Error::NoTracks;
}

bool canEmbed(const QString &audioFile)
{
    const QString suffix = QFileInfo(audioFile).suffix().toLower();
    return suffix == QLatin1String("flac") || suffix == QLatin1String("wv") || suffix == QLatin1String("ape");
}

Error readEmbedded(const QString &audioFile, Sheet *sheet)
{
    *sheet = Sheet();
    if (!canEmbed(audioFile) || !RegularFile::exists(audioFile))
        return Error::Unreadable;
    const QByteArray name = QFile::encodeName(audioFile);
    const QString suffix = QFileInfo(audioFile).suffix().toLower();
    const TagLib::String key("CUESHEET");
    TagLib::String value;
    // Only the tags: the audio itself is not looked at.
    if (suffix == QLatin1String("flac")) {
        TagLib::FLAC::File file(name.constData(), false);
        TagLib::Ogg::XiphComment *comment = file.isValid() ? file.xiphComment() : nullptr;
        if (comment && comment->contains(key))
            value = comment->fieldListMap()[key].front();
    } else {
        std::unique_ptr<TagLib::File> file;
        TagLib::APE::Tag *tag = nullptr;
        if (suffix == QLatin1String("wv")) {
            auto *wavPack = new TagLib::WavPack::File(name.constData(), false);
            file.reset(wavPack);
            tag = wavPack->isValid() ? wavPack->APETag() : nullptr;
        } else {
            auto *monkeys = new TagLib::APE::File(name.constData(), false);
            file.reset(monkeys);
            tag = monkeys->isValid() ? monkeys->APETag() : nullptr;
        }
        if (tag && tag->itemListMap().contains(key))
            value = tag->itemListMap()[key].toString();
    }
    if (value.isEmpty())
        return Error::NoTracks;
    const TagLib::ByteVector utf8 = value.data(TagLib::String::UTF8);
    if (qint64(utf8.size()) > kMaxSheetBytes)
        return Error::TooLarge;
    if (!parse(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())), sheet))
        return Error::NoTracks;
    // The tracks are this file's, whatever file name the sheet was written for.
    for (Track &track : sheet->tracks)
        track.file = QFileInfo(audioFile).fileName();
    findEnds(&sheet->tracks);
    return Error::None;
}

QString findAudioFile(const QString &folder, const QString &named)
{
    QString relative = named;
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString base = relative.section(QLatin1Char('/'), -1);
    if (base.isEmpty() || base.contains(QChar(0)))
        return QString();
    const QDir dir(folder);
    const auto usable = [](const QString &path) {
        return AudioTypes::isAudioFileName(path) && RegularFile::exists(path);
    };
    // A path below the sheet's folder, as multi-disc rips write it; nothing above it.
    if (!QDir::isAbsolutePath(relative) && !relative.split(QLatin1Char('/')).contains(QLatin1String(".."))) {
        const QString below = dir.filePath(relative);
        if (usable(below))
            return QDir::cleanPath(below);
    }
    if (usable(dir.filePath(base)))
        return QDir::cleanPath(dir.filePath(base));

    const QString stem = QFileInfo(base).completeBaseName();
    QString sameName;
    QString sameStem;
    QDirIterator it(folder, QDir::Files);
    for (int seen = 0; it.hasNext() && seen < kMaxFolderEntries; ++seen) {
        it.next();
        const QString name = it.fileName();
        if (!usable(it.filePath()))
            continue;
        if (sameName.isEmpty() && name.compare(base, Qt::CaseInsensitive) == 0)
            sameName = it.filePath();
        else if (!stem.isEmpty() &&
                 QFileInfo(name).completeBaseName().compare(stem, Qt::CaseInsensitive) == 0 &&
                 (sameStem.isEmpty() || name < QFileInfo(sameStem).fileName()))
            sameStem = it.filePath();
    }
    return QDir::cleanPath(!sameName.isEmpty() ? sameName : sameStem);
}

} // namespace CueSheet
