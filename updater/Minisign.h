#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Signatures made with minisign, checked with libsodium. A public key is the
// base64 line `minisign -G` prints: "Ed", the key id and the Ed25519 key. A
// signature file holds an untrusted comment, the base64 of the algorithm
// ("ED": over the BLAKE2b-512 of the file; "Ed", the legacy one: over the file
// itself), the key id and the signature; then the trusted comment and the
// global signature over the signature and that comment.
namespace Minisign {

// The trusted comment, when signature is a good signature of data under
// publicKey and its trusted comment is signed too; nothing otherwise, and why
// says what is wrong.
std::optional<QByteArray> verify(const QByteArray &publicKey, const QByteArray &data,
                                 const QByteArray &signature, QString *why);

} // namespace Minisign
