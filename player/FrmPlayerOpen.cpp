// The main window's additions from outside: drops on the list and files
// named on the command line or handed over by a second start.
#include "FrmPlayer.h"

#include "PathExpansion.h"

int FrmPlayer::addItems(const QStringList &items)
{
    PathExpansion::Bounds bounds;
    bounds.maxEntries = Playlist::kMaxEntries - m_playlist.count();
    const int added = bounds.maxEntries > 0 ? m_playlist.append(PathExpansion::expand(items, bounds)) : 0;
    m_playlist.refreshCount();
    return added;
}

void FrmPlayer::openFiles(const QStringList &items)
{
    const int before = m_playlist.count();
    if (addItems(items) > 0)
        goTo(before);
}
