#include "Form1.h"

#include "Accessibility.h"
#include "AppInfo.h"
#include "Connectivity.h"
#include "InstallJournal.h"
#include "Names.h"
#include "ProcessSignals.h"
#include "Prompts.h"
#include "Shell.h"
#include "Translations.h"

#include <QApplication>
#include <QFont>

int main(int argc, char *argv[])
{
    Accessibility::joinBusAlways();
    QApplication app(argc, argv);
    // An update cut short last time is finished before anything else.
    InstallJournal::recover(AppInfo::programFolder());
    QApplication::setApplicationName(Names::kUpdaterProgram);
    QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));
    Translations::installQtChinese(&app);
    ProcessSignals processSignals;
    QObject::connect(&processSignals, &ProcessSignals::quitRequested, &app, &endUpdater);

    QtPrompts prompts;
    DesktopShell shell;
    SystemConnectivity connectivity;
    UpdaterServices services;
    services.prompts = &prompts;
    services.shell = &shell;
    services.connectivity = &connectivity;
    services.programFolder = AppInfo::programFolder();
    services.noticeUrl = AppInfo::noticePageUrl();
    services.localVersion = AppInfo::localVersionText();
    services.updateKey = builtInUpdateKey();

    Form1 form1(services);
    if (!form1.load())
        return 1;
    return app.exec();
}
