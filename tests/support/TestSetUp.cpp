#include "TestSetUp.h"

#include <QFile>

PrivateRuntime::PrivateRuntime()
{
    if (m_folder.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_folder.path()));
}
