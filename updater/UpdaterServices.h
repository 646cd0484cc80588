#pragma once

#include "Names.h"
#include "Transfer.h"

#include <QString>

class Connectivity;
class Prompts;
class Shell;

// What the updater's windows use of the outside world. main() fills it with
// the real layers; tests fill it with fakes, a temporary program folder and
// short waits.
struct UpdaterServices
{
    Prompts *prompts = nullptr;
    Shell *shell = nullptr;
    Connectivity *connectivity = nullptr;
    QString programFolder;
    QString noticeUrl;
    // The updater's own version text, compared with the published one.
    QString localVersion;
    // The name under which the one running updater holds its place.
    QString instanceName = Names::kUpdaterProgram;
    // One step of the countdown before the player is started again.
    int countdownIntervalMs = 1000;
    // A page or a download that brings no data for this long has failed
    // (and one that runs past the deadline it sets).
    int idleTimeoutMs = Transfer::kTimeoutMs;
};

// Whether another updater process holds the place. The first call claims it
// for this process; later calls give the same answer.
bool anotherUpdaterRunning(const QString &instanceName);
