#include "NextTrack.h"

#include "FrmPlayer.h"
#include "MediaComponent.h"

#include <QAbstractItemModel>
#include <QRandomGenerator>
#include <QTimer>

int NextTrack::choose(int playMode, int current, int count, int randomDraw)
{
    if (count <= 0)
        return kNone;
    switch (playMode) {
    case 0:
        return randomDraw >= 0 && randomDraw < count ? randomDraw : 0;
    case 1:
        return current >= 0 && current < count ? current : 0;
    case 2:
        return current < count - 1 ? current + 1 : 0;
    case 3:
        return current >= count - 1 ? kStop : current + 1;
    default:
        return kNone;
    }
}

NextTrack::NextTrack(FrmPlayer *player) : QObject(player), m_player(player)
{
    // The selection, the playing entry, the mode and Stop, and the list's edits.
    for (auto change :
         {&FrmPlayer::currentEntryChanged, &FrmPlayer::playModeChanged, &FrmPlayer::playStateChanged})
        connect(player, change, this, &NextTrack::schedule);
    const QAbstractItemModel *model = player->playlist().model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &NextTrack::schedule);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &NextTrack::schedule);
    connect(model, &QAbstractItemModel::modelReset, this, &NextTrack::schedule);
    connect(model, &QAbstractItemModel::dataChanged, this, &NextTrack::schedule);
    // The engine forgets what follows once it has gone on to it.
    if (MediaComponent *media = player->media())
        connect(media, &MediaComponent::mediaChanged, this, &NextTrack::schedule);
}

int NextTrack::peek()
{
    const int count = m_player->playlist().count();
    // One draw per track, so that the engine is told the entry the handler
    // will take; a list of another length draws again.
    if (m_randomDraw < 0 || m_drawnForCount != count) {
        m_randomDraw = count > 0 ? int(QRandomGenerator::global()->bounded(count)) : -1;
        m_drawnForCount = count;
    }
    return choose(m_player->state().playMode, m_player->currentEntry(), count, m_randomDraw);
}

int NextTrack::take()
{
    const int next = peek();
    m_randomDraw = -1;
    return next;
}

void NextTrack::schedule()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_scheduled = false;
        tellEngine();
    });
}

void NextTrack::tellEngine()
{
    MediaComponent *media = m_player->media();
    if (!media)
        return;
    const PlaybackState &state = m_player->state();
    // Only a track that plays on by itself is followed: not after Stop, not
    // while the handler is between its two steps, not with nothing playing.
    const bool followed = !state.stoppedByUser && state.endPhase == 1 && m_player->playingEntry() >= 0 &&
                          !media->url().isEmpty();
    const int next = followed ? peek() : kStop;
    media->setNextUrl(next >= 0 ? m_player->playlist().urlAt(next) : QString());
}
