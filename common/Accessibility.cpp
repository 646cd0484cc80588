#include "Accessibility.h"

#include <QtGlobal>

namespace Accessibility {

void joinBusAlways()
{
    // Qt's own switch; a value already in the environment is left as it is.
    if (!qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"))
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
}

} // namespace Accessibility
