#pragma once

#include <QObject>

class FrmPlayer;

// What plays when a track ends, by the play mode: the one rule of the
// end-of-track handler, also told to the engine ahead of time so that the
// next track follows the current one without a gap. Whenever something the
// rule reads changes (the mode, the selection, the list, the playing track,
// Stop), the engine is told again; the engine lets the latest word win.
class NextTrack : public QObject
{
    Q_OBJECT
public:
    // Playback ends with the current track.
    static constexpr int kStop = -1;
    // No rule applies (an unknown mode): nothing happens.
    static constexpr int kNone = -2;

    // The entry after current (-1: none, which lies before the first) in a
    // list of count entries: random (0) the drawn entry, randomDraw in
    // [0, count); repeat one (1) current again, else the first; repeat all (2)
    // the one after, after the last the first; in order (3) the one after,
    // after the last kStop.
    static int choose(int playMode, int current, int count, int randomDraw);

    explicit NextTrack(FrmPlayer *player);

    // The entry the end of the current track leads to now; a random draw is
    // used up by it, and the next track gets a fresh one.
    int take();

private:
    int peek();
    // Tells the engine once the current event is done: a handler may change
    // several inputs in a row, and the order it does so in does not matter.
    void schedule();
    void tellEngine();

    FrmPlayer *m_player;
    int m_randomDraw = -1;
    int m_drawnForCount = 0;
    bool m_scheduled = false;
};
