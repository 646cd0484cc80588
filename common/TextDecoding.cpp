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

} // namespace TextDecoding
