#include "Connectivity.h"

#include <QHostAddress>
#include <QNetworkInformation>
#include <QNetworkInterface>
#include <QUrl>

namespace {

bool isLoopbackAddress(const QString &address)
{
    const QString host = QUrl::fromUserInput(address).host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress ip(host);
    return !ip.isNull() && ip.isLoopback();
}

bool anyInterfaceUp()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if (flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning)
            && !flags.testFlag(QNetworkInterface::IsLoopBack) && !iface.addressEntries().isEmpty())
            return true;
    }
    return false;
}

} // namespace

bool SystemConnectivity::isConnected(const QString &address)
{
    if (isLoopbackAddress(address))
        return true;
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        const auto reach = QNetworkInformation::instance()->reachability();
        if (reach != QNetworkInformation::Reachability::Unknown)
            return reach != QNetworkInformation::Reachability::Disconnected;
    }
    return anyInterfaceUp();
}
