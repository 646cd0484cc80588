#pragma once

#include <QList>
#include <QString>

// What the engine wrote into a WAV file (wavenc), read back.
namespace WavSamples {

// The 16-bit samples of the data chunk, channels interleaved; empty when
// the file has none.
QList<qint16> read(const QString &path);

// The RMS level of count samples from first, taking every step-th, in dB of
// full scale; -200 for silence or none.
double levelDb(const QList<qint16> &samples, qsizetype first, qsizetype count, qsizetype step = 1);

} // namespace WavSamples
