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
    QString initialFolder;
    int flags = 0;

    // The same filter in the "Description (pattern);;..." form of Qt's choosers.
    QString qtFilter() const;
};
