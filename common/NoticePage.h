#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The notice page as both programs read it. The makers publish one HTML page;
// the programs never parse its HTML. They decode it, find fixed markers by
// plain search (always the first occurrence in the whole page), cut the text
// between them, strip a fixed list of tags, and split what is left at "<p>".
//
// A cut that cannot be made (a marker missing, markers out of order) gives
// std::nullopt; each reader decides what that means for it.
namespace NoticePage {

inline const QString kVersionMarker = QStringLiteral("Ver");
inline const QString kLogMarker = QStringLiteral("更新日志");
inline const QString kFileListMarker = QStringLiteral("更新文件及地址：");
// The file-list marker without its colon ends the update log.
inline const QString kLogEndMarker = QStringLiteral("更新文件及地址");
inline const QString kPushMarker = QStringLiteral("消息推送：");
inline const QString kPushEndMarker = QStringLiteral("最新完整版");
// The push switch reads this when the message is on.
inline const QString kPushOn = QStringLiteral("开");
inline const QString kParagraph = QStringLiteral("<p>");

// The whole array as one UTF-8 text. A byte-order mark is kept (as U+FEFF),
// malformed sequences become U+FFFD; an empty array gives an empty text.
QString DecodeUtf8(const QByteArray &bytes);

// Removes every occurrence of token, again and again until none is left, so
// that pieces joined by a removal do not survive as a new occurrence. Linear
// in the text for a token that cannot overlap itself (as every tag we strip).
void StripToken(QString &text, const QString &token);
// Whether a proper beginning of token is also its end ("aba", "abab").
bool overlapsItself(const QString &token);

// The tags every cleaned section loses, in order.
const QStringList &cleanupTokens();
// The further tags the file-list section loses after those, in order.
const QStringList &fileListTokens();
void cleanUp(QString &text);
void cleanUpFileList(QString &text);

// The 8 characters that follow the first "Ver" (fewer at the end of the page).
std::optional<QString> version(const QString &page);
// From "更新日志" (included) up to the first "更新文件及地址".
std::optional<QString> logSection(const QString &page);
// From after "更新文件及地址：" up to the first "消息推送：".
std::optional<QString> fileListSection(const QString &page);
// The one character after "消息推送：".
std::optional<QString> pushSwitch(const QString &page);
// From after the push switch up to the first "最新完整版".
std::optional<QString> pushText(const QString &page);

// The cleaned section cut at every "<p>"; part 0 is what stands before the
// first one. Empty parts are kept.
QStringList paragraphs(const QString &cleaned);

} // namespace NoticePage
