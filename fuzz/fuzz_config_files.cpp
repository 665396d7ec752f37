// Configuration files come back from the devices over TFTP and may be edited by hand:
// loading any file and verifying any pair must end with a result, never a crash.
// A file the program wrote from loaded settings must load to the same settings.

#include "FuzzSupport.h"
#include "config/ConfigFile.h"
#include "config/ConfigText.h"
#include "config/ConfigVerify.h"
#include "config/Ktr4200Settings.h"
#include "config/UserConfigFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

void WriteFile(const QString& path, const std::string& content)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content.data(), qint64(content.size()));
}

ConfigSettings Fresh()
{
    ConfigSettings settings;
    settings.bindings = MakeKtr4200BindingList();
    return settings;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString a = dir.filePath("a.cfg");
    const QString b = dir.filePath("b.cfg");
    const QString saved = dir.filePath("saved.cfg");
    FuzzedDataProvider in(data, size);
    const std::string fileA = in.ConsumeRandomLengthString(8192);
    WriteFile(a, fileA);
    WriteFile(b, in.ConsumeRemainingBytesAsString());

    QStringList log;
    const auto sink = [&](const QString& line) { log.append(line); };
    const int rc = VerifyConfigFiles(a, b, sink, true);
    FUZZ_CHECK(rc == 0 || rc == -1);
    FUZZ_CHECK(rc == 0 ? log.isEmpty() : !log.isEmpty());

    // The same file chosen by the operator: refused with a reason, or lines whose values hold
    // only what a device can store.
    const UserConfigFile chosen = ReadUserConfigFile(a);
    FUZZ_CHECK(chosen.error.isEmpty() != chosen.lines.isEmpty());
    for (const QString& line : chosen.lines) {
        for (const QChar ch : TrimConfigText(ConfigLineValue(line)))
            FUZZ_CHECK(ch.unicode() <= 0xFF && ch.unicode() != 0x7F &&
                       (ch.unicode() >= 0x20 || ch == QLatin1Char('\t')));
    }

    ConfigSettings first = Fresh();
    int keyLengthReports = 0;
    ConfigLoadObserver observer;
    observer.keyLengthChosen = [&](int keyNumber, const QString&) {
        FUZZ_CHECK(keyNumber >= 1 && keyNumber <= 4);
        ++keyLengthReports;
    };
    QStringList view;
    FUZZ_CHECK(ConfigFile::Load(first, a, &view, observer) == 0);

    FUZZ_CHECK(ConfigFile::Save(first, "KTR-4200", saved) == 0);
    // Files are single-byte text; a non-ASCII byte in a key value may upper-case to a
    // character the file cannot hold, so only ASCII files must come back unchanged.
    if (std::any_of(fileA.begin(), fileA.end(), [](char c) { return (c & 0x80) != 0; }))
        return 0;
    // The first save may still spell a value differently from the file ("0xA" read from a
    // numbered key line comes back as "0x0A"); from then on a file must reload unchanged.
    ConfigSettings second = Fresh();
    FUZZ_CHECK(ConfigFile::Load(second, saved) == 0);
    FUZZ_CHECK(ConfigFile::Save(second, "KTR-4200", saved) == 0);
    ConfigSettings third = Fresh();
    FUZZ_CHECK(ConfigFile::Load(third, saved) == 0);
    const QStringList want = ConfigFile::BuildLines(second, "KTR-4200");
    const QStringList got = ConfigFile::BuildLines(third, "KTR-4200");
    if (got != want) {
        for (qsizetype i = 0; i < qMax(want.size(), got.size()); ++i) {
            if (want.value(i) != got.value(i))
                fprintf(stderr, "line %d: wrote \"%s\", read back \"%s\"\n", int(i),
                        qPrintable(want.value(i)), qPrintable(got.value(i)));
        }
    }
    FUZZ_CHECK(got == want);
    return 0;
}
