#include "TextDecoding.h"

#include <QStringDecoder>

#include <uchardet/uchardet.h>

#include <memory>

namespace TextDecoding {

namespace {

constexpr char kFallback[] = "GB18030";

QByteArray guess(QByteArrayView bytes)
{
    const std::unique_ptr<uchardet, decltype(&uchardet_delete)> detector(uchardet_new(), &uchardet_delete);
    if (!detector || uchardet_handle_data(detector.get(), bytes.data(), size_t(bytes.size())) != 0)
        return kFallback;
    uchardet_data_end(detector.get());
    const QByteArray name = uchardet_get_charset(detector.get());
    // Nothing recognised, or a name Qt cannot decode: the most common legacy
    // encoding of our users' files.
    if (name.isEmpty() || !QStringDecoder(name.constData()).isValid())
        return kFallback;
    return name;
}

} // namespace

QByteArray detect(QByteArrayView bytes)
{
    if (const std::optional<QStringConverter::Encoding> marked = QStringConverter::encodingForData(bytes))
        return QStringConverter::nameForEncoding(*marked);
    if (bytes.isValidUtf8())
        return "UTF-8";
    return guess(bytes);
}

QString decode(QByteArrayView bytes)
{
    const QByteArray name = detect(bytes);
    QStringDecoder decoder(name.constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        decoder = QStringDecoder(kFallback, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (text.startsWith(QChar::ByteOrderMark))
        text.remove(0, 1);
    return text;
}

QString decodePreferringChinese(QByteArrayView bytes)
{
    if (QStringConverter::encodingForData(bytes) || bytes.isValidUtf8())
        return decode(bytes);
    const QByteArray name = guess(bytes).toUpper();
    const bool eastAsian = name.startsWith("GB") || name.startsWith("BIG5") || name.startsWith("SHIFT") ||
                           name.startsWith("EUC") || name.startsWith("ISO-2022") || name.startsWith("HZ");
    if (!eastAsian) {
        QStringDecoder gb18030(kFallback, QStringDecoder::Flag::Stateless);
        const QString text = gb18030.decode(bytes);
        if (!gb18030.hasError())
            return text;
    }
    return decode(bytes);
}

} // namespace TextDecoding
