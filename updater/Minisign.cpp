#include "Minisign.h"

#include <QList>

#include <sodium.h>

namespace Minisign {
namespace {

constexpr qsizetype kAlgorithmBytes = 2;
constexpr qsizetype kKeyIdBytes = 8;
const QByteArray kUntrusted = "untrusted comment: ";
const QByteArray kTrusted = "trusted comment: ";

std::optional<QByteArray> fromBase64(const QByteArray &text, qsizetype size)
{
    const auto decoded =
        QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size)
        return std::nullopt;
    return decoded.decoded;
}

bool verifies(const QByteArray &signature, const QByteArray &message, const QByteArray &key)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                       reinterpret_cast<const unsigned char *>(message.constData()),
                                       quint64(message.size()),
                                       reinterpret_cast<const unsigned char *>(key.constData())) == 0;
}

QByteArray blake2b512(const QByteArray &data)
{
    QByteArray hash(crypto_generichash_BYTES_MAX, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char *>(hash.data()), size_t(hash.size()),
                       reinterpret_cast<const unsigned char *>(data.constData()), quint64(data.size()),
                       nullptr, 0);
    return hash;
}

std::optional<QByteArray> refuse(QString *why, const QString &text)
{
    *why = text;
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> verify(const QByteArray &publicKey, const QByteArray &data,
                                 const QByteArray &signature, QString *why)
{
    static_assert(crypto_generichash_BYTES_MAX == 64);
    if (sodium_init() < 0)
        return refuse(why, QStringLiteral("无法初始化签名校验"));
    const auto key = fromBase64(publicKey, kAlgorithmBytes + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES);
    if (!key || !key->startsWith("Ed"))
        return refuse(why, QStringLiteral("内置的公钥格式不对"));

    QList<QByteArray> lines = signature.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() != 4 || !lines[0].startsWith(kUntrusted) || !lines[2].startsWith(kTrusted))
        return refuse(why, QStringLiteral("签名文件格式不对"));
    const auto signed_ = fromBase64(lines[1], kAlgorithmBytes + kKeyIdBytes + crypto_sign_BYTES);
    const auto global = fromBase64(lines[3], crypto_sign_BYTES);
    if (!signed_ || !global)
        return refuse(why, QStringLiteral("签名文件格式不对"));
    const QByteArray algorithm = signed_->left(kAlgorithmBytes);
    if (algorithm != "ED" && algorithm != "Ed")
        return refuse(why, QStringLiteral("不认识的签名算法"));
    if (signed_->mid(kAlgorithmBytes, kKeyIdBytes) != key->mid(kAlgorithmBytes, kKeyIdBytes))
        return refuse(why, QStringLiteral("签名所用的密钥不是本程序信任的密钥"));

    const QByteArray edKey = key->mid(kAlgorithmBytes + kKeyIdBytes);
    const QByteArray fileSignature = signed_->mid(kAlgorithmBytes + kKeyIdBytes);
    if (!verifies(fileSignature, algorithm == "ED" ? blake2b512(data) : data, edKey))
        return refuse(why, QStringLiteral("签名与文件不符"));
    const QByteArray trusted = lines[2].mid(kTrusted.size());
    if (!verifies(*global, fileSignature + trusted, edKey))
        return refuse(why, QStringLiteral("签名中的可信注释被改动过"));
    return trusted;
}

} // namespace Minisign
