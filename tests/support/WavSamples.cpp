#include "WavSamples.h"

#include <QFile>
#include <QtEndian>

#include <cmath>

namespace WavSamples {

QList<qint16> read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const char *data = bytes.constData();
    // Walk the chunks to "data"; wavenc writes a plain 44-byte header, but need not.
    qsizetype at = 12;
    while (at + 8 <= bytes.size() && bytes.mid(at, 4) != "data")
        at += 8 + qFromLittleEndian<quint32>(data + at + 4);
    if (at + 8 > bytes.size())
        return {};
    const qsizetype end =
        std::min<qsizetype>(bytes.size(), at + 8 + qFromLittleEndian<quint32>(data + at + 4));
    QList<qint16> samples;
    for (qsizetype i = at + 8; i + 2 <= end; i += 2)
        samples.append(qFromLittleEndian<qint16>(data + i));
    return samples;
}

double levelDb(const QList<qint16> &samples, qsizetype first, qsizetype count, qsizetype step)
{
    double sum = 0;
    qsizetype taken = 0;
    for (qsizetype i = first; i < std::min(first + count, samples.size()); i += step, ++taken)
        sum += double(samples[i]) * samples[i];
    return taken && sum > 0 ? 10 * std::log10(sum / taken / (32768.0 * 32768.0)) : -200;
}

} // namespace WavSamples
