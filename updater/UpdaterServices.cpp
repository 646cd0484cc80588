#include "UpdaterServices.h"

#include "WindowPresence.h"

#include <QHash>

bool anotherUpdaterRunning(const QString &instanceName)
{
    // The claim is the process's own: asking again must not find it taken.
    static QHash<QString, bool> answers;
    const auto known = answers.constFind(instanceName);
    if (known != answers.cend())
        return *known;
    const bool another = !WindowPresence::claimSingleInstance(instanceName);
    answers.insert(instanceName, another);
    return another;
}
