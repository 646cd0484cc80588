#include "FileDialogSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

QString FileDialogSettings::qtFilter() const
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList choices;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        // "*.*" would hide files without an extension here.
        if (pattern == QLatin1String("*.*"))
            pattern = QStringLiteral("*");
        choices.append(parts[i] + QStringLiteral(" (") + pattern.replace(QLatin1Char(';'), QLatin1Char(' '))
                       + QLatin1Char(')'));
    }
    return choices.join(QStringLiteral(";;"));
}

QString FileDialogSettings::startFolder(const QString &programFolder) const
{
    if (!initialFolder.isEmpty()) {
        const QString own = QDir(programFolder).filePath(initialFolder);
        if (QFileInfo(own).isDir())
            return own;
    }
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir())
        return music;
    return QDir::homePath();
}
