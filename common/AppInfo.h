#pragma once

#include "AppVersion.h"

#include <QString>

// Facts about the running program that both programs share.
namespace AppInfo {

// The version of project() in the top CMakeLists.txt.
constexpr int kVersionMajor = TAMSEL_VERSION_MAJOR;
constexpr int kVersionMinor = TAMSEL_VERSION_MINOR;
constexpr int kVersionRevision = TAMSEL_VERSION_REVISION;

// Each field at least two digits, joined by "." (13, 5, 22 gives "13.05.22").
QString versionText(int major, int minor, int revision);
QString localVersionText();

// The folder of the running executable; both programs keep their files there.
QString programFolder();

// A program of the folder by its base name ("KivuUpdate" is "KivuUpdate.exe" on Windows).
QString executableName(const QString &baseName);

// The player's application id: names its desktop file, icon and AppStream
// data, and its name on the session bus.
QString applicationId();

// The notice page: the environment variable TAMSEL_NOTICE_URL when set, else the
// address built in.
QString noticePageUrl();

} // namespace AppInfo
