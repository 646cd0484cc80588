#pragma once

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

// A minisign key pair made for the test run (without a password), and
// signatures made with it by the real minisign, as a publisher makes them.
class MinisignSigner
{
public:
    MinisignSigner();
    bool isValid() const { return m_publicKey.size() == 56; }
    // The base64 line minisign -G prints.
    QByteArray publicKey() const { return m_publicKey; }
    // The .minisig file of data with this trusted comment; options go to
    // minisign -S as well (-l: the legacy format).
    QByteArray sign(const QByteArray &data, const QString &comment, const QStringList &options = {}) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_publicKey;
};
