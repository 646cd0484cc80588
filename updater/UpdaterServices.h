#pragma once

#include "Transfer.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class Connectivity;
class FolderLock;
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
    // The minisign public key an update must be signed with; empty: updates
    // are taken unsigned (their SHA256SUMS, when listed, still checked).
    QByteArray updateKey;
    // One step of the countdown before the player is started again.
    int countdownIntervalMs = 1000;
    // A page or a download that brings no data for this long has failed
    // (and one that runs past the deadline it sets).
    int idleTimeoutMs = Transfer::kTimeoutMs;
    // The program folder's lock, once this updater holds it; the windows share it.
    std::shared_ptr<FolderLock> folderLock;
    // Runs after each step of placing the files: tests stop or disturb it there.
    std::function<void(int)> placingStep;
};

// Holds the program folder for this updater unless it does already; false
// when another updater holds it. A folder that cannot be locked at all (read
// only) has no other updater either.
bool claimProgramFolder(UpdaterServices &services);

// The key built in with the CMake cache variable TAMSEL_UPDATE_KEY.
QByteArray builtInUpdateKey();

// Ends the updater as a process signal asks: every window closes, a download's
// temporary files with its strip, and the event loop ends.
void endUpdater();
