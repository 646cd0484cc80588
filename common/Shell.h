#pragma once

#include <QString>

// Opening the website and starting the sibling program.
class Shell
{
public:
    virtual ~Shell() = default;
    // Opens the address in the desktop's browser.
    virtual bool openWebsite(const QString &address) = 0;
    // Starts a program of the program folder, detached, without arguments.
    virtual bool startProgram(const QString &programFolder, const QString &name) = 0;
};

class DesktopShell : public Shell
{
public:
    bool openWebsite(const QString &address) override;
    bool startProgram(const QString &programFolder, const QString &name) override;
};
