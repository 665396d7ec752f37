// Stored password values come from ini files an administrator may have edited by hand:
// decrypting any text must either give a text or raise the "not encrypted" error.

#include "FuzzSupport.h"
#include "common/VxCipher.h"
#include "common/VxError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = FuzzBytes(data, size);
    try {
        DecryptText(QString::fromLatin1(bytes));
    } catch (const VxError& e) {
        FUZZ_CHECK(e.code() == kNotEncryptedCode);
    }
    // Whatever an administrator types as a password comes back unchanged (up to the
    // first NUL, which the stored form cannot carry).
    QString text = FuzzText(bytes);
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    FUZZ_CHECK(DecryptText(EncryptText(text)) == text);
    return 0;
}
