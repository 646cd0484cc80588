#pragma once

#include <QString>

// Whether the machine is connected to a network. An address on the loopback
// interface is always reachable.
class Connectivity
{
public:
    virtual ~Connectivity() = default;
    virtual bool isConnected(const QString &address) = 0;
};

// Qt's network information where a backend exists, else any interface that is
// up and not the loopback.
class SystemConnectivity : public Connectivity
{
public:
    bool isConnected(const QString &address) override;
};
