#include "Playlist.h"

#include "AtomicFile.h"
#include "BoundedText.h"
#include "RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QUrl>

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

// "file://" [ "localhost" ] "/" path, percent-encoded. Empty for another
// host's file or a path that cannot be.
QString localFileOf(QByteArrayView uri)
{
    const QByteArrayView rest = uri.sliced(kFileScheme.size());
    const qsizetype slash = rest.indexOf('/');
    if (slash < 0)
        return QString();
    const QByteArrayView host = rest.first(slash);
    if (!host.isEmpty() && host.compare("localhost", Qt::CaseInsensitive) != 0)
        return QString();
    const QByteArray path = QByteArray::fromPercentEncoding(rest.sliced(slash).toByteArray());
    if (path.contains('\0'))
        return QString();
    return decodeLine(path);
}

bool isWindowsPath(const QString &line)
{
    return line.startsWith(QLatin1Char('\\')) ||
           (line.size() >= 3 && line[0].isLetter() && line[0].unicode() < 128 &&
            line[1] == QLatin1Char(':') && (line[2] == QLatin1Char('\\') || line[2] == QLatin1Char('/')));
}

// Cuts playlist bytes into lines and turns each line into a path.
class LineReader
{
public:
    LineReader(const QString &folder, QStringList *paths) : m_folder(folder), m_paths(paths) {}

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
        // Empty lines, comments and extended-playlist directives name no file;
        // a line longer than any path, or with a NUL, cannot name one either.
        if (line.isEmpty() || line.startsWith('#') || line.size() > kMaxLineBytes || line.contains('\0'))
            return;
        QString path;
        if (line.size() >= kFileScheme.size() &&
            line.first(kFileScheme.size()).compare(kFileScheme, Qt::CaseInsensitive) == 0) {
            path = localFileOf(line);
        } else {
            path = decodeLine(line);
            if (!path.startsWith(QLatin1Char('/')) && !isWindowsPath(path))
                path = m_folder + path;
        }
        if (path.isEmpty() || BoundedText::isOverlongPath(path))
            return;
        m_paths->append(path);
        ++m_added;
    }

    const QString m_folder; // ends in '/'
    QStringList *m_paths;
    QByteArray m_line;      // the line so far, when it runs across chunks
    bool m_tooLong = false; // the line so far is longer than any path
    int m_added = 0;
};

} // namespace

bool readFile(const QString &fileName, QStringList *paths)
{
    QFile file;
    if (!RegularFile::openForReading(&file, fileName))
        return false;
    read(&file, QFileInfo(fileName).absolutePath(), paths);
    return true;
}

void read(QIODevice *device, const QString &folder, QStringList *paths)
{
    LineReader lines(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'), paths);
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
        // Written as a URI, a line break or a leading '#' is read back as part of the path.
        if (path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r')) ||
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

int PlaylistPair::append(const QStringList &paths)
{
    const qsizetype room = Playlist::kMaxEntries - count();
    QStringList taken;
    QStringList names;
    taken.reserve(std::min(room, paths.size()));
    names.reserve(taken.capacity());
    for (const QString &path : paths) {
        if (taken.size() >= room)
            break;
        // No file has such a path; its name would stall the list and D-Bus.
        if (BoundedText::isOverlongPath(path))
            continue;
        taken.append(path);
        names.append(BoundedText::forDisplay(Playlist::displayNameOf(path)));
    }
    if (taken.isEmpty())
        return 0;
    m_names->addItems(names);
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
