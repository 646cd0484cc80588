#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Text files people keep beside their music (lyrics, cue sheets) come in the
// encoding their maker's system used: Unicode with a byte-order mark, UTF-8
// without one, or a legacy code page (GBK/GB18030 above all, then Big5 and
// Shift-JIS). A text is decoded whole in one encoding, never line by line.
namespace TextDecoding {

// The encoding of bytes, as a name QStringDecoder takes: the byte-order mark's,
// else UTF-8 when the bytes are valid UTF-8, else what uchardet recognises,
// else GB18030.
QByteArray detect(QByteArrayView bytes);

// bytes decoded in the encoding detect() finds, without the byte-order mark.
QString decode(QByteArrayView bytes);

// As decode(), for texts that may hold only a few words outside ASCII (a cue
// sheet with one title, a short playlist): uchardet takes a few Chinese words
// for a European code page, so where it guesses one and the bytes are valid
// GB18030, they are read as GB18030. A Western text's lone accented letters
// are not valid GB18030 and keep the guess.
QString decodePreferringChinese(QByteArrayView bytes);

} // namespace TextDecoding
