#pragma once

#include "HttpServer.h"

#include <QTemporaryDir>

// A folder of the test's own as XDG_RUNTIME_DIR from now on: the window
// records of other programs (a player the developer runs, another test)
// never count.
class PrivateRuntime
{
public:
    PrivateRuntime();
    bool isValid() const { return m_folder.isValid(); }

private:
    QTemporaryDir m_folder;
};

// The makers' site on loopback, with window records of the test's own: what
// the tests of the notice page start from.
struct LoopbackSite
{
    // From initTestCase; false when the site cannot listen.
    bool start() { return runtime.isValid() && server.listen(); }

    PrivateRuntime runtime;
    HttpServer server;
};
