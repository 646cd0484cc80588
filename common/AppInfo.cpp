#include "AppInfo.h"

#include <QCoreApplication>

#ifndef TAMSEL_NOTICE_URL
#define TAMSEL_NOTICE_URL "http://notice.invalid/"
#endif
#ifndef TAMSEL_APP_ID
#define TAMSEL_APP_ID "io.github.tamsel.TamselMP3Player"
#endif

namespace AppInfo {

QString versionText(int major, int minor, int revision)
{
    const auto field = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return field(major) + QLatin1Char('.') + field(minor) + QLatin1Char('.') + field(revision);
}

QString localVersionText()
{
    return versionText(kVersionMajor, kVersionMinor, kVersionRevision);
}

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString executableName(const QString &baseName)
{
#ifdef Q_OS_WIN
    return baseName + QStringLiteral(".exe");
#else
    return baseName;
#endif
}

QString applicationId()
{
    return QStringLiteral(TAMSEL_APP_ID);
}

QString noticePageUrl()
{
    const QByteArray fromEnv = qgetenv("TAMSEL_NOTICE_URL");
    if (!fromEnv.isEmpty())
        return QString::fromUtf8(fromEnv);
    return QStringLiteral(TAMSEL_NOTICE_URL);
}

} // namespace AppInfo
