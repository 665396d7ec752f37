// system.ini and the layout files may be edited by hand. Reading any file must give a
// value or nothing, and a write must leave a value that reads back as written while
// every other key keeps its value.

#include "FuzzSupport.h"
#include "common/VxIni.h"
#include "common/VxProfile.h"

#include <QFile>
#include <QTemporaryDir>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

QString Consume(FuzzedDataProvider& in, size_t max)
{
    return FuzzText(QByteArray::fromStdString(in.ConsumeRandomLengthString(max)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath("fuzz.ini");
    FuzzedDataProvider in(data, size);
    const QString section = Consume(in, 24);
    const QString key = Consume(in, 24);
    const QString otherKey = Consume(in, 24);
    const QString value = Consume(in, 48);
    const std::string content = in.ConsumeRemainingBytesAsString();
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content.data(), qint64(content.size()));
    }

    VxIni ini(path);
    const QString read = ini.ReadString(section, key, "default");
    FUZZ_CHECK(read.size() <= 4095);
    const std::optional<QString> otherBefore = ProfileReadString(path, section, otherKey);

    if (!ProfileWriteString(path, section, key, value))
        return 0;
    const std::optional<QString> back = ProfileReadString(path, section, key);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == value.trimmed());
    if (otherKey.trimmed().compare(key.trimmed(), Qt::CaseInsensitive) != 0)
        FUZZ_CHECK(ProfileReadString(path, section, otherKey) == otherBefore);
    return 0;
}
