// The main window's part of the notice page: the message push read at
// start-up, the update check it opens, and the hand-off of a new updater.
#include "FrmPlayer.h"
#include "Names.h"

#include "AppInfo.h"
#include "Connectivity.h"
#include "Dialog.h"
#include "NoticePage.h"
#include "Transfer.h"
#include "Update.h"
#include "WindowPresence.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <filesystem>

namespace {

// Retries after failed swaps grow to at most this.
constexpr int kMaxRetryMs = 5 * 60 * 1000;

bool isFile(const QString &path)
{
    return QFileInfo(path).isFile();
}

} // namespace

void FrmPlayer::buildNotice()
{
    Inet1 = new Transfer(this);
    Inet1->setObjectName(QStringLiteral("Inet1"));
    Inet1->setIdleTimeout(m_services.transferTimeoutMs);
    connect(Inet1, &Transfer::pageFetched, this, &FrmPlayer::noticePageFetched);
    connect(Timer1, &QTimer::timeout, this, &FrmPlayer::Timer1_Timer);

    // Timer2 no longer polls: it gathers a burst of file-system events into one look.
    Timer2->setSingleShot(true);
    connect(Timer2, &QTimer::timeout, this, &FrmPlayer::Timer2_Timer);
    m_handOffWait = new QTimer(this);
    m_handOffWait->setSingleShot(true);
    connect(m_handOffWait, &QTimer::timeout, this, &FrmPlayer::finishKillUD);
    m_handOffRecheck = new QTimer(this);
    m_handOffRecheck->setSingleShot(true);
    connect(m_handOffRecheck, &QTimer::timeout, this, [this] {
        m_handOffBackingOff = false;
        Timer2_Timer();
    });
    m_handOffRetryMs = m_services.handOffRetryMs;
}

// ---- Message push ----

void FrmPlayer::startNotice()
{
    if (!m_services.connectivity || !m_services.connectivity->isConnected(m_services.noticeUrl)) {
        setPush(false);
        return;
    }
    // Start-up is over before the page comes: a slow or dead site never
    // holds up the window.
    Inet1->openUrl(m_services.noticeUrl);
}

void FrmPlayer::noticePageFetched(bool ok, const QByteArray &body)
{
    if (m_ending)
        return;
    // A page that cannot be read, or that lacks the push markers, only means
    // no message this time: the site is not part of the installation.
    if (!ok) {
        qInfo("notice page not read: %s", qPrintable(Inet1->errorString()));
        setPush(false);
        return;
    }
    const QString page = NoticePage::DecodeUtf8(body);
    const auto pushSwitch = NoticePage::pushSwitch(page);
    auto pushText = NoticePage::pushText(page);
    if (!pushSwitch || !pushText) {
        qInfo("notice page without a push message");
        setPush(false);
        return;
    }
    NoticePage::cleanUp(*pushText);
    m_pushSwitch = *pushSwitch;
    m_pushText = *pushText;
    setPush(m_pushSwitch == NoticePage::kPushOn);
}

void FrmPlayer::setPush(bool on)
{
    if (on) {
        Timer1->start(m_services.pushTickMs);
        return;
    }
    // Interval 0 means off, and a stopped timer wakes nobody.
    Timer1->stop();
    Timer1->setInterval(0);
}

void FrmPlayer::stopPush()
{
    setPush(false);
}

void FrmPlayer::Timer1_Timer()
{
    if (m_pushSwitch != NoticePage::kPushOn)
        return;
    // Once past 3 the count has done its work and stops.
    if (pushTicks <= 3)
        ++pushTicks;
    if (pushTicks != 3)
        return;
    if (!m_dialog) {
        m_dialog = new Dialog(m_services.connectivity, m_services.noticeUrl, m_pushText, this);
        connect(m_dialog, &Dialog::remindersStopped, this, &FrmPlayer::stopPush);
    }
    m_dialog->show();
    m_dialog->raise();
}

// ---- Update check ----

void FrmPlayer::showUpdate()
{
    // A closed strip may linger until the event loop deletes it; it no longer counts.
    if (m_update && m_update->isVisible()) {
        m_update->raise();
        m_update->activateWindow();
        return;
    }
    m_update = new Update(m_services, this);
    connect(m_update, &Update::updaterStarted, this, &FrmPlayer::imgClose_Click);
    m_update->load();
}

// ---- Updater hand-off ----
//
// The updater cannot overwrite its own running file, so it leaves its
// successor as NewKivuUpdate; once no updater window is open the player puts
// it in place. Nothing polls: the program folder and the window records are
// watched, and a look follows each change. The one change that leaves no
// trace is an updater that died: its record stays, and only its lock goes.
// So while a new file waits for an updater window, the watch looks again
// every handOffRecheckMs.

void FrmPlayer::startHandOffWatch()
{
    m_handOffWatch = new QFileSystemWatcher(this);
    const QStringList folders = {m_services.programFolder, WindowPresence::recordFolder()};
    const QStringList unwatched = m_handOffWatch->addPaths(folders);
    if (!unwatched.isEmpty())
        qWarning("cannot watch %s for a new updater", qPrintable(unwatched.join(QStringLiteral(", "))));
    connect(m_handOffWatch, &QFileSystemWatcher::directoryChanged, this, [this] {
        // The end stops every timer; the windows it closes must not start one again.
        if (!m_ending)
            Timer2->start();
    });
    // A new updater may be waiting from before the start: the updater starts
    // the player right after writing it.
    Timer2->start();
}

void FrmPlayer::Timer2_Timer()
{
    // After a failed swap only the retry tries again.
    if (m_handOffBackingOff || m_handOffWait->isActive())
        return;
    const bool watched = m_handOffWatch && m_handOffWatch->directories().size() == 2;
    const QDir folder(m_services.programFolder);
    if (!isFile(folder.filePath(AppInfo::executableName(Names::kNewUpdaterProgram)))) {
        if (watched)
            m_handOffRecheck->stop();
        else
            m_handOffRecheck->start(m_services.handOffRecheckMs);
        return;
    }
    if (WindowPresence::exists(Names::kUpdaterCaption)) {
        m_handOffRecheck->start(m_services.handOffRecheckMs);
        return;
    }
    killUD();
}

void FrmPlayer::killUD()
{
    const QDir folder(m_services.programFolder);
    if (!isFile(folder.filePath(AppInfo::executableName(Names::kUpdaterProgram))) ||
        !isFile(folder.filePath(AppInfo::executableName(Names::kNewUpdaterProgram))) ||
        WindowPresence::exists(Names::kUpdaterCaption))
        return;
    // The rest lets a just-closed updater finish leaving; the window goes on meanwhile.
    if (!m_handOffWait->isActive())
        m_handOffWait->start(m_services.handOffDelayMs);
}

void FrmPlayer::finishKillUD()
{
    const QDir folder(m_services.programFolder);
    const QString updater = folder.filePath(AppInfo::executableName(Names::kUpdaterProgram));
    const QString newUpdater = folder.filePath(AppInfo::executableName(Names::kNewUpdaterProgram));
    // An updater may have opened, or the files changed, during the rest.
    if (!isFile(updater) || !isFile(newUpdater) || WindowPresence::exists(Names::kUpdaterCaption)) {
        Timer2->start();
        return;
    }
    // The updater writes its successor as plain bytes; it takes the mode of
    // the file it replaces, run bit and all.
    namespace fs = std::filesystem;
    std::error_code code;
    const fs::perms mode = fs::status(QFileInfo(updater).filesystemFilePath(), code).permissions();
    const fs::path newPath = QFileInfo(newUpdater).filesystemFilePath();
    fs::perms newMode = fs::perms::unknown;
    if (!code)
        newMode = fs::status(newPath, code).permissions();
    // Only a real change: a chmod is itself a change of the folder.
    if (!code && newMode != mode)
        fs::permissions(newPath, mode, code);
    if (code) {
        handOffFailed(QString::fromStdString(code.message()));
        return;
    }
    // One rename: KivuUpdate is the old updater or the new one at every moment.
    QString error;
    if (!m_services.replaceFile(newUpdater, updater, &error)) {
        handOffFailed(error);
        return;
    }
    m_handOffRetryMs = m_services.handOffRetryMs;
}

void FrmPlayer::handOffFailed(const QString &why)
{
    // Both files stay as they were; the player goes on and tries again later.
    qWarning("cannot put the new updater in place: %s", qPrintable(why));
    m_handOffBackingOff = true;
    m_handOffRecheck->start(m_handOffRetryMs);
    m_handOffRetryMs = std::min(m_handOffRetryMs * 2, kMaxRetryMs);
}
