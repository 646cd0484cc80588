#include "Skin.h"

#include <QApplication>
#include <QDir>
#include <QFile>

namespace Skin {

bool attach(const QString &programFolder)
{
    QFile file(QDir(programFolder).filePath(QString::fromLatin1(kFileName)));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString sheet = QString::fromUtf8(file.readAll());
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance()))
        app->setStyleSheet(sheet);
    return true;
}

} // namespace Skin
