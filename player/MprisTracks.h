#pragma once

#include <QDBusObjectPath>
#include <QList>
#include <QObject>

class QAbstractItemModel;

// The ids by which remote controls know the playlist's entries: one per
// entry, in list order, never given out again, so that two entries of the
// same file stay apart. Follows the list through its model.
class MprisTracks : public QObject
{
    Q_OBJECT
public:
    static inline const QDBusObjectPath kNoTrack{QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack")};

    MprisTracks(QAbstractItemModel *entries, QObject *parent);

    // kNoTrack for an index outside the list.
    QDBusObjectPath path(int index) const;
    // The entry of an id; -1 for an unknown one.
    int indexOf(const QDBusObjectPath &track) const;
    // The entries of many ids in one pass over the list.
    QList<int> indexesOf(const QList<QDBusObjectPath> &tracks) const;
    QList<QDBusObjectPath> paths() const;

signals:
    // An entry that clients were told of has gone.
    void removed(const QDBusObjectPath &track);
    // The list has settled after changes: the entries added since, by index;
    // or replaced, when entries were swapped, renamed or all replaced, or too
    // many were added to tell one by one.
    void changed(const QList<int> &added, bool replaced);

private:
    void scheduleChanged();

    QAbstractItemModel *m_entries;
    QList<quint64> m_ids;
    quint64 m_nextId = 1;
    // Added since clients were last told; they hear of none of them by removal.
    QList<quint64> m_addedIds;
    bool m_replaced = false;
    bool m_scheduled = false;
};
