#pragma once

#include <QString>

// Design values of one of the main window's file choosers.
struct FileDialogSettings
{
    // Several files may be chosen at once.
    static constexpr int kAllowMultiSelect = 0x200;
    static constexpr int kOverwritePrompt = 0x2;
    static constexpr int kCreatePrompt = 0x2000;
    static constexpr int kExplorer = 0x80000;

    QString title;
    // "Description|pattern|Description|pattern" as the designer wrote it.
    QString filter;
    // A folder of the program folder.
    QString initialFolder;
    int flags = 0;

    // The same filter in the "Description (pattern);;..." form of Qt's choosers.
    QString qtFilter() const;
    // Where the chooser opens: the initial folder when it exists, else the
    // user's music folder, else the home folder.
    QString startFolder(const QString &programFolder) const;
};
