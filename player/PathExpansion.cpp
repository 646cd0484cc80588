#include "PathExpansion.h"

#include "AudioTypes.h"
#include "BoundedText.h"
#include "ImageTrack.h"
#include "Playlist.h"

#include <QCollator>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStack>

#include <algorithm>

namespace PathExpansion {

namespace {

QString shownName(const QString &path)
{
    return BoundedText::forDisplay(QFileInfo(path).fileName());
}

QString sheetProblem(CueSheet::Error error, const QString &sheetFile)
{
    const QString name = shownName(sheetFile);
    switch (error) {
    case CueSheet::Error::TooLarge:
        return QStringLiteral("CUE 文件“%1”超过 1 MB，未读取。").arg(name);
    case CueSheet::Error::NoTracks:
        return QStringLiteral("CUE 文件“%1”中没有可播放的音轨。").arg(name);
    default:
        return QStringLiteral("无法读取 CUE 文件“%1”。").arg(name);
    }
}

class Walk
{
public:
    // Chinese order, as the interface is; "track 2" before "track 10", whatever the case.
    Walk(const Bounds &bounds, QStringList *entries, QStringList *names, QStringList *problems)
        : m_bounds(bounds), m_entries(entries), m_names(names), m_problems(problems),
          m_collator(QLocale(QLocale::Chinese, QLocale::China))
    {
        m_clock.start();
        m_collator.setNumericMode(true);
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    bool full() const { return m_entries->size() >= m_bounds.maxEntries; }

    // names: what a playlist file calls its entries, else empty.
    void add(const QStringList &paths, const QStringList &names = {})
    {
        const qsizetype room = m_bounds.maxEntries - m_entries->size();
        if (room <= 0)
            return;
        m_entries->append(paths.mid(0, room));
        if (!m_names)
            return;
        for (qsizetype i = 0; i < std::min(room, paths.size()); ++i)
            m_names->append(names.value(i));
    }

    void addFolder(const QString &root)
    {
        QStack<QString> pending;
        pending.push(root);
        while (!pending.isEmpty() && !full() && !spent()) {
            QList<QFileInfo> files; // audio files and sheets
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
                } else if (info.isFile() && (AudioTypes::isAudioFileName(info.fileName()) ||
                                             AudioTypes::isSheetFileName(info.fileName()))) {
                    files.append(info);
                }
            }
            sortByName(files);
            sortByName(folders);
            addFiles(files);
            for (auto folder = folders.crbegin(); folder != folders.crend(); ++folder)
                pending.push(folder->filePath());
        }
    }

private:
    // A folder's files in name order, each sheet's tracks in its place; the
    // audio files of its sheets are not added again, nor is a second sheet
    // of the same files (a copy in another encoding).
    void addFiles(const QList<QFileInfo> &files)
    {
        QSet<QString> played;
        QHash<QString, QStringList> tracks;
        for (const QFileInfo &file : files) {
            if (spent())
                return;
            if (!AudioTypes::isSheetFileName(file.fileName()))
                continue;
            QStringList its;
            QStringList problems;
            const QStringList entries = sheetEntries(file.absoluteFilePath(), &problems, &its);
            if (!its.isEmpty() &&
                std::all_of(its.cbegin(), its.cend(), [&](const QString &f) { return played.contains(f); }))
                continue;
            if (m_problems)
                m_problems->append(problems);
            for (const QString &f : std::as_const(its))
                played.insert(f);
            tracks.insert(file.absoluteFilePath(), entries);
        }
        for (const QFileInfo &file : files) {
            if (full() || spent())
                return;
            const QString path = file.absoluteFilePath();
            if (AudioTypes::isSheetFileName(file.fileName()))
                add(tracks.value(path));
            else if (!played.contains(QDir::cleanPath(path)))
                add(audioEntries(file.filePath()));
        }
    }

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
    QStringList *m_names;
    QStringList *m_problems;
    QElapsedTimer m_clock;
    QCollator m_collator;
    int m_visited = 0;
};

} // namespace

QStringList sheetEntries(const QString &sheetFile, QStringList *problems, QStringList *played)
{
    CueSheet::Error error = CueSheet::Error::None;
    const std::shared_ptr<const CueSheet::Sheet> sheet = ImageTrack::sheetOf(sheetFile, &error);
    if (!sheet) {
        if (problems)
            problems->append(sheetProblem(error, sheetFile));
        return {};
    }
    const QString folder = QFileInfo(sheetFile).absolutePath();
    QHash<QString, QString> found; // the sheet's names, and the files they are
    QStringList missing;
    QStringList entries;
    for (const CueSheet::Track &track : sheet->tracks) {
        auto it = found.find(track.file);
        if (it == found.end())
            it = found.insert(track.file, CueSheet::findAudioFile(folder, track.file));
        if (it->isEmpty()) {
            if (!missing.contains(track.file))
                missing.append(track.file);
            continue;
        }
        entries.append(ImageTrack::entry(sheetFile, track.number));
        if (played && !played->contains(*it))
            played->append(*it);
    }
    if (problems) {
        for (const QString &name : std::as_const(missing))
            problems->append(QStringLiteral("CUE 文件“%1”所指的音频文件“%2”不存在，其音轨未添加。")
                                 .arg(shownName(sheetFile), BoundedText::forDisplay(name)));
        if (sheet->cut)
            problems->append(QStringLiteral("CUE 文件“%1”列出的音轨多于 %2 个，第 %2 轨一直播放到文件末尾。")
                                 .arg(shownName(sheetFile))
                                 .arg(CueSheet::kMaxTracks));
    }
    return entries;
}

QStringList audioEntries(const QString &audioFile)
{
    if (!CueSheet::canEmbed(audioFile))
        return {audioFile};
    const QString file = QFileInfo(audioFile).absoluteFilePath();
    const std::shared_ptr<const CueSheet::Sheet> sheet = ImageTrack::sheetOf(file);
    if (!sheet)
        return {audioFile};
    QStringList entries;
    for (const CueSheet::Track &track : sheet->tracks)
        entries.append(ImageTrack::entry(file, track.number));
    return entries;
}

QStringList expand(const QStringList &items, const Bounds &bounds, QStringList *problems, QStringList *names)
{
    QStringList entries;
    if (names)
        names->clear();
    Walk walk(bounds, &entries, names, problems);
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
            QStringList titles;
            if (Playlist::readFile(info.absoluteFilePath(), &paths, &titles))
                walk.add(paths, titles);
        } else if (info.isFile() && AudioTypes::isSheetFileName(info.fileName())) {
            walk.add(sheetEntries(info.absoluteFilePath(), problems));
        } else if (info.isFile()) {
            walk.add(audioEntries(info.absoluteFilePath()));
        }
    }
    return entries;
}

} // namespace PathExpansion
