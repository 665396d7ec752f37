#include "common/Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

QByteArray Sha256Hex(const QByteArray& data)
{
    unsigned char out[32];
    unsigned int len = 0;
    if (EVP_Digest(data.constData(), size_t(data.size()), out, &len, EVP_sha256(), nullptr) != 1 ||
        len != sizeof out)
        throw std::runtime_error("SHA-256 digest failed");
    return QByteArray::fromRawData(reinterpret_cast<const char*>(out), int(len)).toHex();
}
