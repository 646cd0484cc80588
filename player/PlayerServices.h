#pragma once

#include "AtomicFile.h"
#include "Transfer.h"

#include <QCoreApplication>
#include <QString>

#include <functional>

class Connectivity;
class MediaComponent;
class Prompts;
class Shell;

// What the player's windows use of the outside world. main() fills it with
// the real layers; tests fill it with fakes and a temporary program folder.
struct PlayerServices
{
    MediaComponent *media = nullptr;
    Prompts *prompts = nullptr;
    Shell *shell = nullptr;
    Connectivity *connectivity = nullptr;
    QString programFolder;
    QString noticeUrl;

    // Timings in milliseconds; tests shorten them.
    // The push timer's tick: the message opens on the third.
    int pushTickMs = 60000;
    // The update strip's tick: the decision comes on the 90th.
    int updateTickMs = 50;
    // How long a new updater file rests before it takes the old one's place.
    int handOffDelayMs = 1000;
    // How often the hand-off looks again while a new updater file waits for
    // an updater window that may have died without a trace.
    int handOffRecheckMs = 500;
    // The first wait after a failed hand-off; it doubles with every failure.
    int handOffRetryMs = 5000;
    // A web request that gets no answer, or no progress, for this long fails
    // (and one that runs past the deadline it sets).
    int transferTimeoutMs = Transfer::kTimeoutMs;

    // Ends the program: every running event loop, a modal dialog's too.
    std::function<void()> quit = [] { QCoreApplication::exit(0); };
    // Moves a file over another in one step (see AtomicFile::replace).
    std::function<bool(const QString &from, const QString &to, QString *error)> replaceFile =
        &AtomicFile::replace;
};
