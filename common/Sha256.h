#pragma once

#include <QByteArray>
#include <QByteArrayView>

typedef struct evp_md_ctx_st EVP_MD_CTX;

// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA
// instructions where it has them (several times Qt's own speed): the one
// digest of an update's files, taken as their bytes arrive.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void addData(QByteArrayView bytes);
    // The 32 bytes of the digest; the hash starts afresh after it.
    QByteArray result();

    // Of an open file from its current place to its end; nothing on a read error.
    static QByteArray ofFile(int fd);

private:
    EVP_MD_CTX *m_context;
};
