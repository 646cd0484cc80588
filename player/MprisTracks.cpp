#include "MprisTracks.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QTimer>

namespace {

const QString kTrackPrefix = QStringLiteral("/org/mpris/MediaPlayer2/Track/");
// Past this many additions at once, clients get one replaced list instead.
constexpr int kMaxAdded = 64;

quint64 idOf(const QDBusObjectPath &track, bool *ok)
{
    const QString path = track.path();
    *ok = false;
    return path.startsWith(kTrackPrefix) ? QStringView(path).mid(kTrackPrefix.size()).toULongLong(ok) : 0;
}

QDBusObjectPath pathOf(quint64 id)
{
    return QDBusObjectPath(kTrackPrefix + QString::number(id));
}

} // namespace

MprisTracks::MprisTracks(QAbstractItemModel *entries, QObject *parent) : QObject(parent), m_entries(entries)
{
    for (int i = 0; i < entries->rowCount(); ++i)
        m_ids.append(m_nextId++);
    connect(entries, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) {
                for (int row = first; row <= last; ++row) {
                    m_ids.insert(row, m_nextId);
                    m_addedIds.append(m_nextId++);
                }
                scheduleChanged();
            });
    connect(entries, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) {
                for (int row = last; row >= first; --row) {
                    const quint64 id = m_ids.takeAt(row);
                    if (!m_addedIds.removeOne(id) && !m_replaced)
                        emit removed(pathOf(id));
                }
                scheduleChanged();
            });
    connect(entries, &QAbstractItemModel::modelReset, this, [this] {
        m_ids.clear();
        m_addedIds.clear();
        for (int i = 0; i < m_entries->rowCount(); ++i)
            m_ids.append(m_nextId++);
        m_replaced = true;
        scheduleChanged();
    });
    // A changed name means entries were swapped or replaced in place.
    connect(entries, &QAbstractItemModel::dataChanged, this, [this] {
        m_replaced = true;
        scheduleChanged();
    });
}

QDBusObjectPath MprisTracks::path(int index) const
{
    return index >= 0 && index < m_ids.size() ? pathOf(m_ids[index]) : kNoTrack;
}

int MprisTracks::indexOf(const QDBusObjectPath &track) const
{
    bool ok = false;
    const quint64 id = idOf(track, &ok);
    return ok ? int(m_ids.indexOf(id)) : -1;
}

QList<int> MprisTracks::indexesOf(const QList<QDBusObjectPath> &tracks) const
{
    QHash<quint64, int> rows;
    rows.reserve(m_ids.size());
    for (int row = 0; row < m_ids.size(); ++row)
        rows.insert(m_ids[row], row);
    QList<int> indexes;
    indexes.reserve(tracks.size());
    for (const QDBusObjectPath &track : tracks) {
        bool ok = false;
        const quint64 id = idOf(track, &ok);
        indexes.append(ok ? rows.value(id, -1) : -1);
    }
    return indexes;
}

QList<QDBusObjectPath> MprisTracks::paths() const
{
    QList<QDBusObjectPath> paths;
    paths.reserve(m_ids.size());
    for (const quint64 id : m_ids)
        paths.append(pathOf(id));
    return paths;
}

void MprisTracks::scheduleChanged()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    // The paths are written after the names; tell clients once both are in.
    QTimer::singleShot(0, this, [this] {
        m_scheduled = false;
        const bool replaced = m_replaced || m_addedIds.size() > kMaxAdded;
        QList<int> added;
        for (qsizetype i = 0; !replaced && i < m_addedIds.size(); ++i) {
            const int index = int(m_ids.indexOf(m_addedIds[i]));
            if (index >= 0)
                added.append(index);
        }
        m_addedIds.clear();
        m_replaced = false;
        emit changed(added, replaced);
    });
}
