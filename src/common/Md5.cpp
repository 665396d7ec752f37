#include "common/Md5.h"

#include <openssl/evp.h>

#include <stdexcept>

void Md5(uint8_t out[16], const void* data, size_t length)
{
    unsigned int len = 0;
    if (EVP_Digest(data, length, out, &len, EVP_md5(), nullptr) != 1 || len != 16)
        throw std::runtime_error("MD5 digest failed");
}

QByteArray Md5(const QByteArray& data)
{
    QByteArray out(16, '\0');
    Md5(reinterpret_cast<uint8_t*>(out.data()), data.constData(), size_t(data.size()));
    return out;
}
