#include "AppInstance.h"

#include "AppInfo.h"
#include "BoundedText.h"
#include "Playlist.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.Application");

QDBusConnection busOf(const QString &connectionName)
{
    return connectionName.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(connectionName);
}

} // namespace

AppInstance::AppInstance(const QString &connectionName, QObject *parent)
    : QObject(parent), m_connectionName(connectionName)
{
}

AppInstance::~AppInstance()
{
    if (!m_exported)
        return;
    QDBusConnection bus = busOf(m_connectionName);
    if (!bus.isConnected())
        return;
    bus.unregisterObject(objectPath());
    bus.unregisterService(AppInfo::applicationId());
}

QString AppInstance::objectPath()
{
    QString path = QLatin1Char('/') + AppInfo::applicationId();
    path.replace(QLatin1Char('.'), QLatin1Char('/'));
    path.replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

QStringList AppInstance::filesFromArguments(const QStringList &arguments, const QString &workingFolder)
{
    const QDir folder(workingFolder);
    QStringList files;
    for (const QString &argument : arguments) {
        QString path;
        if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
            path = QUrl(argument).toLocalFile();
        } else if (argument.contains(QLatin1String("://"))) {
            continue; // only local files are played
        } else if (argument.startsWith(QLatin1Char('-')) && !QFileInfo::exists(folder.filePath(argument))) {
            continue;
        } else {
            path = argument;
        }
        if (path.isEmpty() || path.contains(QChar(0)))
            continue;
        files.append(QDir::cleanPath(folder.absoluteFilePath(path)));
    }
    return files;
}

bool AppInstance::exportObject()
{
    if (m_exported)
        return true;
    QDBusConnection bus = busOf(m_connectionName);
    m_exported = bus.isConnected() && bus.registerObject(objectPath(), this, QDBusConnection::ExportAllSlots);
    return m_exported;
}

bool AppInstance::handOff(const QStringList &files)
{
    QDBusConnection bus = busOf(m_connectionName);
    if (!bus.isConnected() || !exportObject())
        return false;
    const QString name = AppInfo::applicationId();
    const auto taken = bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
    if (!taken.isValid() || taken.value() == QDBusConnectionInterface::ServiceRegistered)
        return false; // no player runs here: this one is the first

    QStringList uris;
    uris.reserve(files.size());
    for (const QString &file : files)
        uris.append(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded));
    QDBusMessage call =
        QDBusMessage::createMethodCall(name, objectPath(), kInterface, QStringLiteral("Open"));
    call << uris << QVariantMap();
    const QDBusMessage reply = bus.call(call, QDBus::Block, kHandOffTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qWarning("AppInstance: the running player did not take the files (%s); opening them here",
                 qPrintable(reply.errorMessage()));
        return false;
    }
    return true;
}

bool AppInstance::claim()
{
    QDBusConnection bus = busOf(m_connectionName);
    if (!bus.isConnected() || !exportObject())
        return false;
    const auto taken =
        bus.interface()->registerService(AppInfo::applicationId(), QDBusConnectionInterface::QueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    return taken.isValid();
}

void AppInstance::refuse(QDBusError::ErrorType error, const QString &text)
{
    if (calledFromDBus())
        sendErrorReply(error, text);
    else
        qWarning("AppInstance: %s", qPrintable(text));
}

void AppInstance::Activate(const QVariantMap &)
{
    emit activated();
}

void AppInstance::Open(const QStringList &uris, const QVariantMap &)
{
    if (uris.size() > Playlist::kMaxEntries) {
        refuse(QDBusError::LimitsExceeded, QStringLiteral("more files than a playlist holds"));
        return;
    }
    QStringList files;
    files.reserve(uris.size());
    for (const QString &uri : uris) {
        const QUrl url = BoundedText::parseUri(uri);
        const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        if (path.isEmpty() || !BoundedText::isUsablePath(path)) {
            // All or nothing, so that the caller knows what happened.
            refuse(QDBusError::InvalidArgs,
                   QStringLiteral("not a local file: %1").arg(BoundedText::forDisplay(uri)));
            return;
        }
        files.append(path);
    }
    emit filesOpened(files);
}

void AppInstance::ActivateAction(const QString &name, const QVariantList &, const QVariantMap &)
{
    refuse(QDBusError::NotSupported, QStringLiteral("the player has no action \"%1\"").arg(name));
}
