#include "FrmPlayer.h"

#include "AppInfo.h"
#include "Connectivity.h"
#include "GstMediaComponent.h"
#include "Mpris.h"
#include "Prompts.h"
#include "Shell.h"

#include <QApplication>
#include <QFont>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TamselMP3Player"));
    QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));

    GstMediaComponent media;
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
    if (!frmPlayer.load())
        return 1;
    // Remote control joins once the window is up, so it costs the start nothing.
    auto *mpris = new MprisService(&frmPlayer);
    QTimer::singleShot(0, mpris, [mpris] { mpris->registerOn(); });
    return app.exec();
}
