#include "FrmPlayer.h"

#include "Accessibility.h"
#include "AppInfo.h"
#include "AppInstance.h"
#include "Connectivity.h"
#include "EqualizerWindow.h"
#include "GstMediaComponent.h"
#include "InstallJournal.h"
#include "LyricsController.h"
#include "Mpris.h"
#include "Names.h"
#include "PlayerSettings.h"
#include "ProcessSignals.h"
#include "Prompts.h"
#include "Shell.h"
#include "SoundShaping.h"
#include "Translations.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QTimer>

int main(int argc, char *argv[])
{
    Accessibility::joinBusAlways();
    QApplication app(argc, argv);
    InstallJournal::recover(AppInfo::programFolder()); // an update cut short is finished first
    QApplication::setApplicationName(Names::kPlayerProgram);
    QGuiApplication::setDesktopFileName(AppInfo::applicationId());
    QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));
    Translations::installQtChinese(&app);
    ProcessSignals processSignals;

    // Files given while a player runs in this session go to that player.
    AppInstance instance;
    const QStringList files = AppInstance::filesFromArguments(app.arguments().mid(1), QDir::currentPath());
    if (!files.isEmpty() && instance.handOff(files))
        return 0;

    // The features' choices, remembered between runs (the design's own controls never are).
    PlayerSettings settings;
    GstMediaComponent media;
    SoundShaping sound(settings, &media);
    QtPrompts prompts;
    DesktopShell shell;
    SystemConnectivity connectivity;
    PlayerServices services;
    services.media = &media;
    services.prompts = &prompts;
    services.shell = &shell;
    services.connectivity = &connectivity;
    services.programFolder = AppInfo::programFolder();
    services.noticeUrl = AppInfo::noticePageUrl();

    FrmPlayer frmPlayer(services);
    QObject::connect(&processSignals, &ProcessSignals::quitRequested, &frmPlayer, &FrmPlayer::imgClose_Click);
    QObject::connect(&instance, &AppInstance::filesOpened, &frmPlayer, &FrmPlayer::openFiles);
    QObject::connect(&instance, &AppInstance::activated, &frmPlayer, &FrmPlayer::bringToFront);
    EqualizerWindow::addMenuRow(&frmPlayer, &sound, &prompts);
    if (!frmPlayer.load())
        return 1;
    // Remote control joins once the window is up, so it costs the start nothing.
    auto *mpris = new MprisService(&frmPlayer);
    auto *lyrics = new LyricsController(&frmPlayer, &settings);
    QObject::connect(lyrics, &LyricsController::lyricsChanged, mpris, &MprisService::setLyrics);
    QTimer::singleShot(0, mpris, [mpris, &instance] {
        mpris->registerOn();
        instance.claim();
    });
    if (!files.isEmpty())
        frmPlayer.openFiles(files);
    return app.exec();
}
