#pragma once

#include <QObject>
#include <QStringList>

class QAbstractItemView;
class QMimeData;

// Lets files, playlist files and folders be dropped on a list. It watches the
// list's viewport and reports the local paths of a drop once the drop itself
// has finished, so that the program the drag came from never waits on us.
class PlaylistDropTarget : public QObject
{
    Q_OBJECT
public:
    explicit PlaylistDropTarget(QAbstractItemView *list);

    // The local files a drag carries, in its order; other addresses are left out.
    static QStringList localPaths(const QMimeData *data);

signals:
    void dropped(const QStringList &paths);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
