#include "Sha256.h"

#include <cerrno>
#include <memory>
#include <openssl/evp.h>
#include <unistd.h>

namespace {
constexpr qsizetype kReadBlock = 1024 * 1024;
}

Sha256::Sha256() : m_context(EVP_MD_CTX_new())
{
    // Only a failed allocation fails here; the digest then is empty and matches nothing.
    if (m_context && EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(m_context);
        m_context = nullptr;
    }
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_context);
}

void Sha256::addData(QByteArrayView bytes)
{
    if (m_context && EVP_DigestUpdate(m_context, bytes.data(), size_t(bytes.size())) != 1) {
        EVP_MD_CTX_free(m_context);
        m_context = nullptr;
    }
}

QByteArray Sha256::result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int size = 0;
    if (!m_context ||
        EVP_DigestFinal_ex(m_context, reinterpret_cast<unsigned char *>(digest.data()), &size) != 1 ||
        EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) != 1)
        return {};
    digest.truncate(int(size));
    return digest;
}

QByteArray Sha256::ofFile(int fd)
{
    Sha256 hash;
    const std::unique_ptr<char[]> block(new char[kReadBlock]);
    for (;;) {
        const ssize_t got = ::read(fd, block.get(), kReadBlock);
        if (got == 0)
            return hash.result();
        if (got < 0 && errno != EINTR)
            return {};
        if (got > 0)
            hash.addData(QByteArrayView(block.get(), got));
    }
}
