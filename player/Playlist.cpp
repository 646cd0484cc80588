#include "Playlist.h"

#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QStringDecoder>
#include <QStringEncoder>

namespace Playlist {

QString displayNameOf(const QString &path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(cut + 1);
}

namespace {

QString decodeText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    // Not UTF-8: most likely a Chinese playlist written on Windows.
    QStringDecoder gb18030("GB18030");
    if (gb18030.isValid())
        return gb18030.decode(bytes);
    return QString::fromLocal8Bit(bytes);
}

bool hasSeparator(const QString &line)
{
    return line.contains(QLatin1Char('/')) || line.contains(QLatin1Char('\\'));
}

} // namespace

bool readFile(const QString &fileName, QStringList *paths)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString text = decodeText(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    const QDir folder = QFileInfo(fileName).absoluteDir();
    qsizetype start = 0;
    const qsizetype length = text.size();
    while (start < length) {
        qsizetype end = start;
        while (end < length && text[end] != QLatin1Char('\r') && text[end] != QLatin1Char('\n'))
            ++end;
        const QString line = text.mid(start, end - start);
        // CR LF counts as one line end.
        const bool crLf = end + 1 < length && text[end] == QLatin1Char('\r') && text[end + 1] == QLatin1Char('\n');
        start = end + (crLf ? 2 : 1);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        paths->append(hasSeparator(line) ? line : folder.filePath(line));
    }
    return true;
}

QByteArray encode(const QStringList &paths)
{
    QString text;
    qsizetype length = 0;
    for (const QString &path : paths)
        length += path.size() + 2;
    text.reserve(length);
    for (const QString &path : paths) {
        text += path;
        text += QLatin1String("\r\n");
    }
    QStringEncoder encoder(QStringConverter::System);
    return encoder.encode(text);
}

bool writeFile(const QString &fileName, const QStringList &paths)
{
    return AtomicFile::write(fileName, encode(paths));
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
    const int room = Playlist::kMaxEntries - count();
    const QStringList taken = paths.size() > room ? paths.mid(0, std::max(room, 0)) : paths;
    if (taken.isEmpty())
        return 0;
    QStringList names;
    names.reserve(taken.size());
    for (const QString &path : taken)
        names.append(Playlist::displayNameOf(path));
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
