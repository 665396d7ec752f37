// DES_ecb3_encrypt on ready key schedules is deprecated in OpenSSL 3 but still provided;
// the stored values depend on exactly this construction.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "common/VxCipher.h"

#include "common/VxBinaryString.h"
#include "common/VxError.h"

#include <array>
#include <cstring>
#include <openssl/des.h>

namespace {

constexpr int kBlockSize = 8;
constexpr int kLengthFieldSize = 4;

static_assert(sizeof(DES_key_schedule) == 128, "key schedules are stored as 128 raw bytes");

// The key block from which the three schedules are derived. Changing a byte makes every
// stored value unreadable.
constexpr std::array<uint8_t, 128> kKeyBlock{
    0x40, 0x21, 0x56, 0x32, 0xB8, 0xB0, 0x42, 0xA3, 0x81, 0xCF, 0x7D, 0xF3, 0x1C, 0x0D, 0x20, 0xC3,
    0xB6, 0x74, 0xF6, 0x35, 0x74, 0xE7, 0xCF, 0xAC, 0xB7, 0x73, 0x88, 0x4C, 0x09, 0xB9, 0xFE, 0xF1,
    0x98, 0xE0, 0x95, 0xAF, 0x67, 0xB1, 0x1A, 0x86, 0xB7, 0xDD, 0xE6, 0xDD, 0x67, 0x39, 0xE2, 0xAD,
    0x31, 0x47, 0xC1, 0x88, 0x77, 0xB8, 0xFB, 0x19, 0x78, 0x60, 0x46, 0xAE, 0xEF, 0x21, 0xDB, 0x25,
    0xEB, 0x0A, 0xCF, 0xED, 0x58, 0x19, 0xBA, 0xF9, 0xDC, 0x32, 0x39, 0xAC, 0xC7, 0xEF, 0x2D, 0x68,
    0xB3, 0xBD, 0x9C, 0x94, 0x9D, 0x1B, 0x89, 0x99, 0x9F, 0x6C, 0x2A, 0x1E, 0x11, 0xD9, 0xC1, 0x2F,
    0x02, 0x56, 0x7C, 0x59, 0x0E, 0x54, 0x7F, 0xB5, 0xF8, 0x89, 0xC6, 0xB8, 0x53, 0x92, 0xBF, 0x41,
    0x27, 0x10, 0xDE, 0x1C, 0x2E, 0xC9, 0x6F, 0xE4, 0x2A, 0xFA, 0x55, 0xA2, 0x4C, 0x28, 0xDB, 0xD7,
};

// The schedules are the key block's bytes placed unchanged (no key set-up, no parity):
// KS1 byte i = block[i], KS2 = block[i] + i mod 2, KS3 = block[i] + i mod 3, mod 256.
struct Schedules
{
    DES_key_schedule ks1;
    DES_key_schedule ks2;
    DES_key_schedule ks3;

    Schedules()
    {
        std::array<uint8_t, 128> b1{}, b2{}, b3{};
        for (size_t i = 0; i < kKeyBlock.size(); ++i) {
            b1[i] = kKeyBlock[i];
            b2[i] = uint8_t(kKeyBlock[i] + i % 2);
            b3[i] = uint8_t(kKeyBlock[i] + i % 3);
        }
        std::memcpy(&ks1, b1.data(), sizeof ks1);
        std::memcpy(&ks2, b2.data(), sizeof ks2);
        std::memcpy(&ks3, b3.data(), sizeof ks3);
    }
};

void CryptBlock(const uint8_t* in, uint8_t* out, int mode)
{
    Schedules ks;
    DES_cblock input;
    DES_cblock output;
    std::memcpy(input, in, kBlockSize);
    DES_ecb3_encrypt(&input, &output, &ks.ks1, &ks.ks2, &ks.ks3, mode);
    std::memcpy(out, output, kBlockSize);
}

[[noreturn]] void ThrowNotEncrypted()
{
    throw VxError(kNotEncryptedCode, QString::fromLatin1(kNotEncryptedText));
}

} // namespace

qsizetype EncryptToBuffer(const QByteArray& plain, char* dest, qsizetype capacity)
{
    const qsizetype length = plain.size();
    if (length > INT32_MAX - kBlockSize)
        throw VxError(kDestinationUndersizeCode, QString::fromLatin1(kDestinationUndersizeText));
    const qsizetype blocks = (length + kBlockSize - 1) / kBlockSize;
    const qsizetype needed = blocks * kBlockSize + kLengthFieldSize;
    if (capacity < needed)
        throw VxError(kDestinationUndersizeCode, QString::fromLatin1(kDestinationUndersizeText));

    auto* out = reinterpret_cast<uint8_t*>(dest);
    for (qsizetype k = 0; k < blocks; ++k) {
        uint8_t block[kBlockSize] = {};
        const qsizetype take = std::min<qsizetype>(kBlockSize, length - k * kBlockSize);
        std::memcpy(block, plain.constData() + k * kBlockSize, size_t(take));
        CryptBlock(block, out + k * kBlockSize, DES_ENCRYPT);
    }
    const auto l = uint32_t(length);
    uint8_t* field = out + blocks * kBlockSize;
    field[0] = uint8_t(l);
    field[1] = uint8_t(l >> 8);
    field[2] = uint8_t(l >> 16);
    field[3] = uint8_t(l >> 24);
    return needed;
}

QString EncryptText(const QString& text)
{
    const QByteArray plain = text.toUtf8();
    QByteArray out(plain.size() + 12, '\0');
    out.truncate(EncryptToBuffer(plain, out.data(), out.size()));
    return ToHex(VxBinaryString(out));
}

QString DecryptText(const QString& hex)
{
    const VxBinaryString bin = VxBinaryString::fromHex(hex);
    const qsizetype n = bin.length();
    if (n <= kLengthFieldSize - 1)
        ThrowNotEncrypted();
    const auto* bytes = reinterpret_cast<const uint8_t*>(bin.data());
    const uint8_t* field = bytes + n - kLengthFieldSize;
    const auto length = int32_t(uint32_t(field[0]) | uint32_t(field[1]) << 8 |
                                uint32_t(field[2]) << 16 | uint32_t(field[3]) << 24);
    const qsizetype dataSize = n - kLengthFieldSize;
    // A negative length only comes from a damaged value; refusing it keeps the copy below
    // inside the data.
    if (length < 0 || length > dataSize)
        ThrowNotEncrypted();

    QByteArray plain;
    plain.reserve(length);
    for (qsizetype at = 0; at < dataSize && plain.size() < length; at += kBlockSize) {
        uint8_t in[kBlockSize] = {};
        std::memcpy(in, bytes + at, size_t(std::min<qsizetype>(kBlockSize, dataSize - at)));
        uint8_t out[kBlockSize];
        CryptBlock(in, out, DES_DECRYPT);
        const qsizetype keep = std::min<qsizetype>(kBlockSize, length - plain.size());
        plain.append(reinterpret_cast<const char*>(out), keep);
    }
    const qsizetype zero = plain.indexOf('\0');
    if (zero >= 0)
        plain.truncate(zero);
    return QString::fromUtf8(plain);
}
