#include "FileDialogSettings.h"

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
