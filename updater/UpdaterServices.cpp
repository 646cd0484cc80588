#include "UpdaterServices.h"

#include "FolderLock.h"

#include <QApplication>

bool claimProgramFolder(UpdaterServices &services)
{
    if (!services.folderLock)
        services.folderLock = std::make_shared<FolderLock>(services.programFolder);
    return services.folderLock->state() != FolderLock::Busy;
}

QByteArray builtInUpdateKey()
{
    return QByteArrayLiteral(TAMSEL_UPDATE_KEY);
}

void endUpdater()
{
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}
