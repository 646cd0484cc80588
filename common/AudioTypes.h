#pragma once

#include <QString>
#include <QStringList>

// The one table of the file types the player takes (AudioTypes.inc): the
// folder walk of a drop, the add and open-with paths, the remote control's
// list of types and the desktop file all read it.
namespace AudioTypes {

// A name whose suffix (after its last dot, any case) is an audio type's.
bool isAudioFileName(const QString &name);

// A name that ends in a playlist type's suffix: "m3u" in lower case as the
// add dialog decides ("list.m3u"; "list.M3U" is an audio entry like any
// other), the other players' types (PLS, XSPF, M3U8) in any case.
bool isPlaylistFileName(const QString &name);

// A cue sheet's name (any case): it stands for the tracks of an image file.
bool isSheetFileName(const QString &name);

// "*.mp3", "*.wav", ... for every audio type, in table order.
QStringList audioPatterns();

// Every MIME type of the table, audio and playlist, each once, in table order.
QStringList mimeTypes();

} // namespace AudioTypes
