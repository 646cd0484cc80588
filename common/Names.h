#pragma once

#include <QString>

// The names both programs know each other by: program files, window captions,
// and the status captions the mini window reads off the main window. Each is
// written here once.
namespace Names {

// Program files of the program folder, by base name (see AppInfo::executableName).
inline const QString kPlayerProgram = QStringLiteral("TamselMP3Player");
inline const QString kUpdaterProgram = QStringLiteral("KivuUpdate");
// A new updater waits under this name until the player swaps it in.
inline const QString kNewUpdaterProgram = QStringLiteral("NewKivuUpdate");

// Window captions: the player's main, mini and update windows share the first;
// every updater window has the second.
inline const QString kPlayerCaption = QStringLiteral("TamselMP3Player");
inline const QString kUpdaterCaption = QStringLiteral("TamselMP3Player 更新程序");
inline const QString kPushCaption = QStringLiteral("消息推送：");

// The status line of the main window.
inline const QString kStatusStopped = QStringLiteral("已停止");
inline const QString kStatusPaused = QStringLiteral("已暂停");
inline const QString kStatusPlaying = QStringLiteral("正在播放:");

} // namespace Names
