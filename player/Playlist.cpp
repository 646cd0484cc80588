#include "Playlist.h"

#include "AtomicFile.h"
#include "BoundedText.h"
#include "ImageTrack.h"
#include "PlaylistFormats.h"
#include "RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace Playlist {

QString displayNameOf(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(cut + 1);
}

namespace {

constexpr qint64 kChunkBytes = 64 * 1024;
// A path written as a URI takes up to three bytes for each of its own.
constexpr qsizetype kMaxLineBytes = BoundedText::kMaxUriBytes;
constexpr QByteArrayView kFileScheme = "file://";

QString decodeLine(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    // Not UTF-8: most likely a Chinese playlist written on Windows.
    QStringDecoder gb18030("GB18030", QStringDecoder::Flag::Stateless);
    if (gb18030.isValid())
        return gb18030.decode(bytes);
    return QString::fromLocal8Bit(bytes);
}

// A track number 1..99 written in decimal, else 0.
int trackNumberOf(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 2 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return text.toInt();
}

// A decoded path, or the entry of a track of it.
QString pathOrTrack(const QByteArray &path, int track)
{
    if (path.contains('\0'))
        return QString();
    const QString decoded = decodeLine(path);
    return track > 0 ? ImageTrack::entry(decoded, track) : decoded;
}

// "file://" [ "localhost" ] "/" path, percent-encoded, and "?N" for track N
// of the sheet the path names. Empty for another host's file or a path that
// cannot be.
QString localFileOf(QByteArrayView uri)
{
    const QByteArrayView rest = uri.sliced(kFileScheme.size());
    const qsizetype slash = rest.indexOf('/');
    if (slash < 0)
        return QString();
    const QByteArrayView host = rest.first(slash);
    if (!host.isEmpty() && host.compare("localhost", Qt::CaseInsensitive) != 0)
        return QString();
    QByteArrayView path = rest.sliced(slash);
    // Any other '?' stays part of the name, as this reader always took it.
    const qsizetype query = path.lastIndexOf('?');
    const int track = query >= 0 ? trackNumberOf(path.sliced(query + 1)) : 0;
    if (track > 0)
        path = path.first(query);
    return pathOrTrack(QByteArray::fromPercentEncoding(path.toByteArray()), track);
}

// qmmp's tracks of an image: "cue://" path "#" N for a sheet file, "flac://"
// or "wvpack://" for a sheet kept in the audio file's tags; the path has
// '%', '#', '?' and ':' percent-encoded.
constexpr QByteArrayView kOtherTrackSchemes[] = {"cue://", "flac://", "wvpack://"};

bool startsWithTrackScheme(QByteArrayView line)
{
    return std::any_of(std::begin(kOtherTrackSchemes), std::end(kOtherTrackSchemes),
                       [line](QByteArrayView scheme) {
                           return line.size() > scheme.size() &&
                                  line.first(scheme.size()).compare(scheme, Qt::CaseInsensitive) == 0;
                       });
}

QString otherPlayersTrackOf(QByteArrayView line)
{
    for (const QByteArrayView scheme : kOtherTrackSchemes) {
        if (line.size() <= scheme.size() ||
            line.first(scheme.size()).compare(scheme, Qt::CaseInsensitive) != 0)
            continue;
        const QByteArrayView rest = line.sliced(scheme.size());
        const qsizetype hash = rest.lastIndexOf('#');
        const int track = hash > 0 ? trackNumberOf(rest.sliced(hash + 1)) : 0;
        if (track == 0 || !rest.startsWith('/'))
            return QString();
        return pathOrTrack(QByteArray::fromPercentEncoding(rest.first(hash).toByteArray()), track);
    }
    return QString();
}

bool isWindowsPath(const QString &line)
{
    return line.startsWith(QLatin1Char('\\')) ||
           (line.size() >= 3 && line[0].isLetter() && line[0].unicode() < 128 &&
            line[1] == QLatin1Char(':') && (line[2] == QLatin1Char('\\') || line[2] == QLatin1Char('/')));
}

// The entry a playlist line names: a path (a relative one lies in folder,
// which ends in '/'), a file: URI, or a track of an image. Empty for none.
QString entryOfLine(QByteArrayView line, const QString &folder)
{
    QString path;
    if (line.size() >= kFileScheme.size() &&
        line.first(kFileScheme.size()).compare(kFileScheme, Qt::CaseInsensitive) == 0) {
        path = localFileOf(line);
    } else if (startsWithTrackScheme(line)) {
        path = otherPlayersTrackOf(line);
    } else {
        path = decodeLine(line);
        if (!path.startsWith(QLatin1Char('/')) && !isWindowsPath(path))
            path = folder + path;
    }
    return path.isEmpty() || BoundedText::isOverlongPath(path) ? QString() : path;
}

// Cuts playlist bytes into lines and turns each line into a path; an
// "#EXTINF:" line before it gives its name.
class LineReader
{
public:
    LineReader(const QString &folder, QStringList *paths, QStringList *names)
        : m_folder(folder), m_paths(paths), m_names(names)
    {
    }

    // Takes the next bytes; false once the list is full.
    bool feed(QByteArrayView bytes)
    {
        qsizetype start = 0;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            if (bytes[i] != '\r' && bytes[i] != '\n')
                continue;
            if (m_line.isEmpty() && !m_tooLong)
                take(bytes.sliced(start, i - start));
            else
                endLine(bytes.sliced(start, i - start));
            if (m_added == kMaxEntries)
                return false;
            start = i + 1;
        }
        keep(bytes.sliced(start));
        return true;
    }

    // The end of the text also ends its last line.
    void finish() { endLine({}); }

private:
    void keep(QByteArrayView part)
    {
        if (m_tooLong)
            return;
        if (m_line.size() + part.size() > kMaxLineBytes) {
            m_tooLong = true;
            m_line.clear();
            return;
        }
        m_line.append(part);
    }

    void endLine(QByteArrayView last)
    {
        keep(last);
        if (!m_tooLong)
            take(m_line);
        m_line.clear();
        m_tooLong = false;
    }

    void take(QByteArrayView line)
    {
        constexpr QByteArrayView kExtInf = "#EXTINF:";
        if (line.startsWith(kExtInf) && line.size() <= kMaxLineBytes) {
            // "#EXTINF:seconds,title" names the path that follows.
            const qsizetype comma = line.indexOf(',');
            m_name =
                comma < 0 ? QString() : BoundedText::forDisplay(decodeLine(line.sliced(comma + 1)).trimmed());
            return;
        }
        // Empty lines, comments and extended-playlist directives name no file;
        // a line longer than any path, or with a NUL, cannot name one either.
        if (line.isEmpty() || line.startsWith('#') || line.size() > kMaxLineBytes || line.contains('\0'))
            return;
        const QString path = entryOfLine(line, m_folder);
        if (path.isEmpty())
            return;
        m_paths->append(path);
        if (m_names)
            m_names->append(m_name);
        m_name.clear();
        ++m_added;
    }

    const QString m_folder; // ends in '/'
    QStringList *m_paths;
    QStringList *m_names;
    QString m_name;         // from the last #EXTINF line
    QByteArray m_line;      // the line so far, when it runs across chunks
    bool m_tooLong = false; // the line so far is longer than any path
    int m_added = 0;
};

} // namespace

bool readFile(const QString &fileName, QStringList *paths, QStringList *names)
{
    QFile file;
    if (!RegularFile::openForReading(&file, fileName))
        return false;
    const QString folder = QFileInfo(fileName).absolutePath() + QLatin1Char('/');
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix != QLatin1String("pls") && suffix != QLatin1String("xspf")) {
        read(&file, folder, paths, names);
        return true;
    }
    QList<PlaylistFormats::Item> items;
    if (suffix == QLatin1String("pls"))
        items = PlaylistFormats::readPls(&file, kMaxFileBytes, kMaxEntries);
    else // what came before a fault in the document stays
        PlaylistFormats::readXspf(&file, kMaxFileBytes, kMaxEntries, &items);
    for (const PlaylistFormats::Item &item : std::as_const(items)) {
        QByteArray location = item.location.toUtf8();
        // An XSPF location is a URI reference: a relative one is percent-encoded too.
        if (suffix == QLatin1String("xspf") && !location.contains("://"))
            location = QByteArray::fromPercentEncoding(location);
        if (location.isEmpty() || location.size() > kMaxLineBytes || location.contains('\0'))
            continue;
        const QString path = entryOfLine(location, folder);
        if (path.isEmpty())
            continue;
        paths->append(path);
        if (names)
            names->append(BoundedText::forDisplay(item.title));
    }
    return true;
}

void read(QIODevice *device, const QString &folder, QStringList *paths, QStringList *names)
{
    LineReader lines(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'), paths, names);
    std::optional<QStringDecoder> wide; // for UTF-16 and UTF-32 text
    qint64 left = kMaxFileBytes;
    bool first = true;
    while (left > 0) {
        const QByteArray chunk = device->read(std::min(left, kChunkBytes));
        if (chunk.isEmpty())
            break;
        left -= chunk.size();
        QByteArrayView bytes = chunk;
        if (first) {
            first = false;
            const std::optional<QStringConverter::Encoding> marked = QStringConverter::encodingForData(bytes);
            if (marked == QStringConverter::Utf8)
                bytes = bytes.sliced(3);
            else if (marked)
                wide.emplace(*marked); // skips the mark itself
        }
        // Wide text is cut into lines as UTF-8, which every line then is.
        if (!(wide ? lines.feed(QString(wide->decode(bytes)).toUtf8()) : lines.feed(bytes)))
            return;
    }
    // A line cut off at the size limit is incomplete: it is skipped.
    if (left > 0 || device->atEnd())
        lines.finish();
}

QByteArray encode(const QStringList &paths)
{
    QString text;
    qsizetype length = 0;
    for (const QString &path : paths)
        length += path.size() + 2;
    text.reserve(length);
    for (const QString &path : paths) {
        // Written as a URI, a line break or a leading '#' is read back as part of the path;
        // a track of an image is a URI already.
        if (ImageTrack::parse(path))
            text += path;
        else if (path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r')) ||
                 path.startsWith(QLatin1Char('#')))
            text += QLatin1String(kFileScheme) +
                    QString::fromLatin1(QUrl::toPercentEncoding(QDir::current().absoluteFilePath(path), "/"));
        else
            text += path;
        text += QLatin1String("\r\n");
    }
    QStringEncoder encoder(QStringConverter::System);
    return encoder.encode(text);
}

bool writeFile(const QString &fileName, const QStringList &paths, QString *reason)
{
    return AtomicFile::write(fileName, encode(paths), reason);
}

} // namespace Playlist

PlaylistPair::PlaylistPair(QListWidget *names, QListWidget *urls, QLabel *countLabel)
    : m_names(names), m_urls(urls), m_countLabel(countLabel)
{
}

int PlaylistPair::count() const
{
    return m_names->count();
}

QString PlaylistPair::nameAt(int index) const
{
    const QListWidgetItem *item = m_names->item(index);
    return item ? item->text() : QString();
}

QString PlaylistPair::urlAt(int index) const
{
    const QListWidgetItem *item = m_urls->item(index);
    return item ? item->text() : QString();
}

QAbstractItemModel *PlaylistPair::model() const
{
    return m_names->model();
}

QStringList PlaylistPair::urls() const
{
    QStringList paths;
    const int n = count();
    paths.reserve(n);
    for (int i = 0; i < n; ++i)
        paths.append(m_urls->item(i)->text());
    return paths;
}

namespace {

// Sheet text read to name the tracks of one addition.
constexpr qint64 kNameBudgetBytes = 16 * 1024 * 1024;

QString nameOf(const QString &path, ImageTrack::Budget *budget)
{
    const std::optional<ImageTrack::Ref> ref = ImageTrack::parse(path);
    if (!ref)
        return Playlist::displayNameOf(path);
    const std::shared_ptr<const CueSheet::Sheet> sheet = ImageTrack::sheetOf(ref->sheetFile, nullptr, budget);
    return sheet ? ImageTrack::displayName(*sheet, ref->number, ref->sheetFile)
                 : ImageTrack::fallbackName(*ref);
}

} // namespace

int PlaylistPair::append(const QStringList &paths, const QStringList &names)
{
    ImageTrack::Budget budget{kNameBudgetBytes};
    const qsizetype room = Playlist::kMaxEntries - count();
    QStringList taken;
    QStringList shown;
    taken.reserve(std::min(room, paths.size()));
    shown.reserve(taken.capacity());
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString &path = paths[i];
        if (taken.size() >= room)
            break;
        // No file has such a path; its name would stall the list and D-Bus.
        if (BoundedText::isOverlongPath(path))
            continue;
        taken.append(path);
        const QString given = names.value(i);
        shown.append(!given.isEmpty() ? given : BoundedText::forDisplay(nameOf(path, &budget)));
    }
    if (taken.isEmpty())
        return 0;
    m_names->addItems(shown);
    m_urls->addItems(taken);
    return int(taken.size());
}

void PlaylistPair::removeAt(int index)
{
    delete m_names->takeItem(index);
    delete m_urls->takeItem(index);
}

void PlaylistPair::swap(int first, int second)
{
    // Exchanging the texts leaves both models' rows in place, so a long list
    // is not laid out again.
    for (QListWidget *list : {m_names, m_urls}) {
        QListWidgetItem *a = list->item(first);
        QListWidgetItem *b = list->item(second);
        const QString text = a->text();
        a->setText(b->text());
        b->setText(text);
    }
}

void PlaylistPair::clear()
{
    m_names->clear();
    m_urls->clear();
}

void PlaylistPair::refreshCount()
{
    m_countLabel->setText(QString::number(count()));
}
