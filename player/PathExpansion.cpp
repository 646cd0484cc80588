#include "PathExpansion.h"

#include "AudioTypes.h"
#include "Playlist.h"

#include <QCollator>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStack>

#include <algorithm>

namespace PathExpansion {

namespace {

class Walk
{
public:
    // Chinese order, as the interface is; "track 2" before "track 10", whatever the case.
    Walk(const Bounds &bounds, QStringList *entries)
        : m_bounds(bounds), m_entries(entries), m_collator(QLocale(QLocale::Chinese, QLocale::China))
    {
        m_clock.start();
        m_collator.setNumericMode(true);
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    bool full() const { return m_entries->size() >= m_bounds.maxEntries; }

    void add(const QStringList &paths)
    {
        const qsizetype room = m_bounds.maxEntries - m_entries->size();
        if (room > 0)
            m_entries->append(paths.mid(0, room));
    }

    void addFolder(const QString &root)
    {
        QStack<QString> pending;
        pending.push(root);
        while (!pending.isEmpty() && !full() && !spent()) {
            QList<QFileInfo> files;
            QList<QFileInfo> folders;
            // Files and folders only: no hidden entries, pipes, sockets or devices.
            QDirIterator it(pending.pop(), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
            while (it.hasNext() && !spent()) {
                it.next();
                ++m_visited;
                const QFileInfo info = it.fileInfo();
                if (info.isDir()) {
                    if (!info.isSymLink()) // a link may lead back up the tree
                        folders.append(info);
                } else if (info.isFile() && AudioTypes::isAudioFileName(info.fileName())) {
                    files.append(info);
                }
            }
            sortByName(files);
            sortByName(folders);
            for (const QFileInfo &file : std::as_const(files)) {
                if (full())
                    break;
                m_entries->append(file.filePath());
            }
            for (auto folder = folders.crbegin(); folder != folders.crend(); ++folder)
                pending.push(folder->filePath());
        }
    }

private:
    bool spent() const
    {
        return m_visited >= m_bounds.maxVisited || m_clock.elapsed() >= m_bounds.maxMilliseconds;
    }

    void sortByName(QList<QFileInfo> &infos) const
    {
        std::sort(infos.begin(), infos.end(), [this](const QFileInfo &a, const QFileInfo &b) {
            return m_collator.compare(a.fileName(), b.fileName()) < 0;
        });
    }

    const Bounds &m_bounds;
    QStringList *m_entries;
    QElapsedTimer m_clock;
    QCollator m_collator;
    int m_visited = 0;
};

} // namespace

QStringList expand(const QStringList &items, const Bounds &bounds)
{
    QStringList entries;
    Walk walk(bounds, &entries);
    for (const QString &item : items) {
        if (walk.full())
            break;
        if (item.isEmpty() || item.contains(QChar(0)))
            continue;
        const QFileInfo info(item);
        if (info.isDir()) {
            walk.addFolder(info.absoluteFilePath());
        } else if (info.isFile() && AudioTypes::isPlaylistFileName(info.fileName())) {
            QStringList paths;
            if (Playlist::readFile(info.absoluteFilePath(), &paths))
                walk.add(paths);
        } else if (info.isFile()) {
            walk.add({info.absoluteFilePath()});
        }
    }
    return entries;
}

} // namespace PathExpansion
