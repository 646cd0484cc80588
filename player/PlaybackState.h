#pragma once

#include <QtGlobal>

// The playback state that the main window's handlers share. Lives as long as
// the program and is never saved.
struct PlaybackState
{
    // 0 random, 1 repeat one, 2 repeat all, 3 in order.
    qint16 playMode = 2;
    // Set by Stop: the end-of-track handler then leaves playback alone until Play.
    bool stoppedByUser = false;
    // The end-of-track handler alternates: 1 advances, 2 re-issues play.
    qint16 endPhase = 1;
    bool isPaused = false;
    // Answer of the last OK/Cancel box of Play or of the delete routine (1 = OK).
    qint16 msgAnswer = 0;
};
