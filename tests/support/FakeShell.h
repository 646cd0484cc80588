#pragma once

#include "Shell.h"

#include <QStringList>

// Records what would have been opened or started.
class FakeShell : public Shell
{
public:
    bool openWebsite(const QString &address) override
    {
        websites.append(address);
        return true;
    }
    bool startProgram(const QString &programFolder, const QString &name) override
    {
        programs.append(programFolder + QLatin1Char('/') + name);
        return startSucceeds;
    }

    QStringList websites;
    QStringList programs;
    // What startProgram answers.
    bool startSucceeds = true;
};
