#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// What vouches for an update's files: SHA256SUMS (the lines sha256sum writes:
// 64 hex digits, two blanks, the entry name) and SHA256SUMS.minisig, its
// minisign signature with the trusted comment "TamselMP3Player <version>".
// The page lists both like any other file; they are checked, never installed.
namespace UpdateSignature {

inline const QString kSums = QStringLiteral("SHA256SUMS");
inline const QString kSumsSignature = QStringLiteral("SHA256SUMS.minisig");
// What either may weigh: a line per file, and a few short lines.
constexpr qint64 kMaxBytes = 1024 * 1024;

bool isSignatureEntry(const QString &name);

struct Update
{
    // The built-in minisign public key; empty in a build without one.
    QByteArray key;
    // The notice page's version text.
    QString version;
    // The two entries as downloaded, when the page lists them.
    std::optional<QByteArray> sums;
    std::optional<QByteArray> signature;
    // Every other downloaded entry by its name on the page, with its SHA-256.
    QList<std::pair<QString, QByteArray>> files;
};

// Whether the update may be put in place. With a key: the signature is good
// under it, its trusted comment is "TamselMP3Player " and the version, each
// file has a line with its SHA-256 and no line names anything else. Without
// one: every file SHA256SUMS has a line for, when the page lists it, matches.
// why names the first rule broken.
bool allows(const Update &update, QString *why);

} // namespace UpdateSignature
