#include "Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QUrl>

bool DesktopShell::openWebsite(const QString &address)
{
    return QDesktopServices::openUrl(QUrl::fromUserInput(address));
}

bool DesktopShell::startProgram(const QString &programFolder, const QString &name)
{
    const QString path = QDir(programFolder).filePath(name);
    return QProcess::startDetached(path, {}, programFolder);
}
