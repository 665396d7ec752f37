// The command lists of the batch operations, compiled without running them.
#include "AppTestBed.h"
#include "app/BatchOperations.h"
#include "app/DeviceListModel.h"
#include "common/VxError.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

// One line per command: "type row time params..." with the row as its MAC's last digit.
QStringList describe(AppCore& core, const std::vector<Command>& list)
{
    QStringList out;
    for (const Command& c : list) {
        QString line = QString::number(c.type);
        line += c.item ? QLatin1Char(' ') +
                             core.Devices().GetField(c.item, QStringLiteral("Mac Address")).right(1)
                       : QStringLiteral(" -");
        line += QLatin1Char(' ') + QString::number(c.time);
        for (const QString& p : c.Params())
            line += QLatin1Char(' ') + QDir(core.TempDirectory()).relativeFilePath(p);
        out.append(line);
    }
    return out;
}

DeviceRow* addRow(AppTestBed& bed, const QString& mac, const QString& ip,
                  const QString& version = QStringLiteral("1.02.07u"))
{
    DeviceRow* row = bed.devices().AddRow(
        QStringLiteral("KTR-4200"), {mac, ip, QStringLiteral("255.255.255.0"), version, "AP"});
    bed.devices().SetSelected(row, true);
    return row;
}

// Lists compared as one text, so that a failure prints readable lines.
std::string text(const QStringList& lines)
{
    return lines.join(QLatin1Char('\n')).toStdString();
}

QString writeConfig(AppTestBed& bed, const QByteArray& text)
{
    const QString path = QDir(bed.dir.path()).filePath(QStringLiteral("saved.cfg"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    return path;
}

// Settings in centiseconds that are all different, so that each time names its sum.
const QMap<QString, QString> kDistinctTimes = {
    {QStringLiteral("NimpSetTimeout"), QStringLiteral("1")},
    {QStringLiteral("RebootTime"), QStringLiteral("2")},
    {QStringLiteral("ConfigUploadTime"), QStringLiteral("3")},
    {QStringLiteral("ConfigDownloadTime"), QStringLiteral("4")},
    {QStringLiteral("ConfigFlashUpdateTime"), QStringLiteral("5")},
    {QStringLiteral("FactoryResetTime"), QStringLiteral("6")},
    {QStringLiteral("FWDownloadTime"), QStringLiteral("7")},
    {QStringLiteral("FWFlashUpdateTime"), QStringLiteral("8")},
    {QStringLiteral("TimingTolerance"), QStringLiteral("9")},
    {QStringLiteral("ApplyReset"), QStringLiteral("1")},
    {QStringLiteral("Verify"), QStringLiteral("1")},
};

class FailingTarget : public ConfigTarget
{
public:
    int LoadConfigFile(const QString&) override { return 0; }
    int SaveConfigFile(const QString&, const QString&) override { return -1; }
    int VerifyConfigFiles(const QString&, const QString&) override { return 0; }
};

} // namespace

TEST(BatchList, OneDeviceMovesFirstOnlyToAUsableAddressButAlwaysWaits)
{
    AppTestBed bed(Ktr4200FleetOptions{}, kDistinctTimes);
    DeviceRow* row = addRow(bed, QStringLiteral("021A2B000001"), QStringLiteral("10.0.0.1"));
    const QStringList moved = {"11 1 0 2",
                               "13 1 0  10.1.1.1 255.255.0.0",
                               "2 - 1000 ..",
                               "1 - 500",
                               "14 1 1300  021A2B000001.WR",
                               "18 1 0 ",
                               "2 - 1400 ..",
                               "11 1 0 1",
                               "20 1 0 ",
                               "1 - 200",
                               "10 1 0 .. .....",
                               "11 1 0 3",
                               "12 1 1900 ",
                               "11 1 0 2",
                               "16 1 1800  021A2B000001.RD",
                               "17 1 0 021A2B000001.WR 021A2B000001.RD"};
    ASSERT_EQ(bed.config.LoadSelectedSettings(
                  writeConfig(bed, "ip =10.1.1.1\r\nmask =255.255.0.0\r\n80211a_dtim =2\r\n")),
              0);
    EXPECT_EQ(text(describe(*bed.core, CompileApplyConfiguration(*bed.core))), text(moved));
    EXPECT_EQ(bed.devices().GetStatus(row), QStringLiteral("....."));

    for (const QByteArray& address : {QByteArray("ip =0.0.0.0\r\nmask =255.255.0.0\r\n"),
                                      QByteArray("ip =10.1.1.1\r\nmask =255.255.255.255\r\n"),
                                      QByteArray("ip =10.1.1.1\r\n")}) {
        ASSERT_EQ(bed.config.LoadSelectedSettings(writeConfig(bed, address + "80211a_dtim =2\r\n")),
                  0);
        EXPECT_EQ(text(describe(*bed.core, CompileApplyConfiguration(*bed.core))),
                  text(moved.mid(2)))
            << address.constData();
    }
}

TEST(BatchList, SeveralDevicesAreNeverMovedAndVerifyOffEndsResetRowsOk)
{
    AppTestBed bed(Ktr4200FleetOptions{}, kDistinctTimes);
    addRow(bed, QStringLiteral("021A2B000001"), QStringLiteral("10.0.0.1"));
    addRow(bed, QStringLiteral("021A2B000002"), QStringLiteral("10.0.0.2"));
    // The file holds an address even so: the list must not send it.
    ASSERT_EQ(bed.config.LoadSelectedSettings(
                  writeConfig(bed, "ip =10.1.1.1\r\nmask =255.255.0.0\r\n80211a_dtim =2\r\n")),
              0);
    BatchRunOptions options;
    options.verify = false;
    EXPECT_EQ(
        text(describe(*bed.core, CompileApplyConfiguration(*bed.core, options))),
        text({"14 1 1300  021A2B000001.WR", "18 1 0 ", "14 2 1300  021A2B000002.WR", "18 2 0 ",
              "2 - 1400 ..", "11 1 0 1", "20 1 0 ", "11 2 0 1", "20 2 0 ", "1 - 200",
              "10 1 0 .. OK", "10 1 0 ..... OK", "10 2 0 .. OK", "10 2 0 ..... OK"}));
    options.applyReset = false;
    EXPECT_EQ(text(describe(*bed.core, CompileApplyConfiguration(*bed.core, options)).mid(4)),
              text({"2 - 1400 ..", "10 1 0 ..... OK", "10 2 0 ..... OK"}));
}

TEST(BatchList, ARowWhoseFileCannotBeWrittenDropsOutAndNoOldFileIsSent)
{
    AppTestBed bed(Ktr4200FleetOptions{}, kDistinctTimes);
    DeviceRow* row = addRow(bed, QStringLiteral("021A2B000001"), QStringLiteral("10.0.0.1"));
    QFile stale(bed.core->WrittenFile(row));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("KTR-4200\r\nip =10.9.9.9\r\n");
    stale.close();
    FailingTarget failing;
    bed.core->SetConfig(&failing);
    const QStringList list = describe(*bed.core, CompileApplyConfiguration(*bed.core));
    EXPECT_FALSE(list.join(QLatin1Char('\n')).contains(QLatin1String("14 1")));
    EXPECT_FALSE(QFile::exists(bed.core->WrittenFile(row)));
    EXPECT_EQ(bed.devices().GetStatus(row), QStringLiteral("Unsuccess!"));
    EXPECT_TRUE(bed.logHas(QStringLiteral("021A2B000001") + BatchText::SaveConfigFail));
}

TEST(BatchList, AStagedFileTheDiskRefusesFailsItsRowBeforeAnythingIsSent)
{
    AppTestBed bed(Ktr4200FleetOptions{}, kDistinctTimes);
    DeviceRow* row = addRow(bed, QStringLiteral("021A2B000001"), QStringLiteral("10.0.0.1"));
    ASSERT_EQ(bed.config.LoadSelectedSettings(writeConfig(bed, "80211a_dtim =2\r\n")), 0);
    std::vector<Command> list;
    {
        const FileSizeLimit full(0);
        list = CompileApplyConfiguration(*bed.core);
    }
    EXPECT_FALSE(describe(*bed.core, list).join(QLatin1Char('\n')).contains(QLatin1String("14 1")));
    EXPECT_FALSE(QFile::exists(bed.core->WrittenFile(row)));
    EXPECT_EQ(bed.devices().GetStatus(row), QStringLiteral("Unsuccess!"));
}

TEST(BatchList, FirmwareUpgradeOrderWaitsAndPasswords)
{
    AppTestBed bed(Ktr4200FleetOptions{}, kDistinctTimes);
    DeviceRow* a = addRow(bed, QStringLiteral("021A2B000001"), QStringLiteral("10.0.0.1"));
    DeviceRow* b = addRow(bed, QStringLiteral("021A2B000002"), QStringLiteral("10.0.0.2"),
                          QStringLiteral("Updated"));
    bed.devices().SetAction(a, QStringLiteral("Verify Config"));
    const QString image = QDir(bed.dir.path()).filePath(QStringLiteral("fw.bin"));
    QFile f(image);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("FW_VERSION=2\n");
    f.close();
    // The devices fetch a private copy of the image taken when the upgrade starts.
    const QString img = QStringLiteral("upgrade-image/fw.bin");
    const QStringList perDevice = {"16 %1 1200  021A2B00000%1.ORI", "15 %1 1600  " + img,
                                   "19 %1 0 "};
    QStringList expected;
    for (const char* n : {"1", "2"})
        for (const QString& line : perDevice)
            expected.append(line.arg(QLatin1String(n)));
    expected += {"2 - 1700 ..", "5 - 0", "11 1 0 1", "20 1 0 ", "11 2 0 1", "20 2 0 ", "6 - 0 0",
                 "1 - 200", "10 1 0 .. .....", "10 2 0 .. .....",
                 // Get Version and factory reset with the access password (empty here).
                 "11 1 0 3", "12 1 1900 ", "11 1 0 1", "21 1 0 ", "11 2 0 3", "12 2 1900 ",
                 "11 2 0 1", "21 2 0 ", "1 - 600", "10 1 0 .. .....", "10 2 0 .. .....", "11 1 0 2",
                 "13 1 0  10.0.0.1 255.255.255.0", "11 2 0 2", "13 2 0  10.0.0.2 255.255.255.0",
                 "2 - 3000 ..", "1 - 500",
                 // The saved file goes back with the upload time, not the download time.
                 "14 1 1200  021A2B000001.ORI", "18 1 0 ", "14 2 1200  021A2B000002.ORI", "18 2 0 ",
                 "2 - 1400 ..", "5 - 0", "11 1 0 1", "20 1 0 ", "11 2 0 1", "20 2 0 ", "6 - 0 0",
                 "1 - 200", "10 1 0 .. .....", "11 1 0 2", "16 1 1800  021A2B000001.RD",
                 "17 1 0 021A2B000001.ORI 021A2B000001.RD", "10 2 0 .. .....", "11 2 0 2",
                 "16 2 1800  021A2B000002.RD", "17 2 0 021A2B000002.ORI 021A2B000002.RD"};
    EXPECT_EQ(text(describe(*bed.core, CompileFirmwareUpgrade(*bed.core, image))), text(expected));
    EXPECT_EQ(bed.devices().GetField(b, QStringLiteral("F/W Version")), QStringLiteral("Unknown"));
    EXPECT_EQ(bed.devices().GetField(a, QStringLiteral("F/W Version")), QStringLiteral("1.02.07u"));
    EXPECT_EQ(bed.devices().GetAction(a), QString());
    EXPECT_EQ(bed.devices().GetStatus(b), QStringLiteral("....."));

    BatchRunOptions noVerify;
    noVerify.verify = false;
    const QStringList tail =
        describe(*bed.core, CompileFirmwareUpgrade(*bed.core, image, noVerify));
    EXPECT_EQ(text(tail.mid(tail.size() - 3)), text({"1 - 200", "10 1 0 .. OK", "10 2 0 .. OK"}));
}

TEST(BatchList, ConfigWindowIsFoundThroughModuleFormOrTheOperationDoesNotStart)
{
    AppTestBed bed(Ktr4200FleetOptions{});
    QFile ini(bed.core->SettingsPath());
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("[Module Form]\r\nKTR-4200=Config_KTR_4200\r\nKTR-9000=Config_KTR_9000\r\n");
    ini.close();
    ConfigFileTarget window;
    QStringList asked;
    const ConfigFormFinder find = [&](const QString& name) -> ConfigTarget* {
        asked.append(name);
        return name == QLatin1String("Config_KTR_4200") ? &window : nullptr;
    };

    bed.core->SetConfig(nullptr);
    EXPECT_EQ(CreateConfigWindow(*bed.core, QStringLiteral("KTR-4200"), find), &window);
    EXPECT_EQ(bed.core->Config(), &window);
    for (const auto& [module, text] :
         {std::pair{"KTR-9000", "Unknow Module:Config_KTR_9000"}, {"KTR-1", "Unknow Module:"}}) {
        try {
            CreateConfigWindow(*bed.core, QLatin1String(module), find);
            ADD_FAILURE() << module;
        } catch (const VxError& e) {
            EXPECT_EQ(e.message(), QLatin1String(text));
            EXPECT_EQ(e.code(), AppErrorUnknownModule);
        }
    }
    EXPECT_EQ(bed.core->Config(), &window); // a failed lookup keeps the window there was
    EXPECT_EQ(asked, (QStringList{"Config_KTR_4200", "Config_KTR_9000", ""}));
}

TEST(BatchList, NoSelectionAsksAndYesSelectsEveryRow)
{
    AppTestBed bed(Ktr4200FleetOptions{});
    EXPECT_FALSE(SelectAllIfNoneSelected(*bed.core, BatchText::UpgradeAllQuestion,
                                         BatchText::UpgradeAllCaption));
    EXPECT_TRUE(bed.ui.questions.isEmpty()); // an empty list asks nothing
    for (const char* mac : {"021A2B000001", "021A2B000002"})
        bed.devices().AddRow(QStringLiteral("KTR-4200"), {QLatin1String(mac)});
    bed.ui.answer = false;
    EXPECT_FALSE(SelectAllIfNoneSelected(*bed.core, BatchText::UpgradeAllQuestion,
                                         BatchText::UpgradeAllCaption));
    EXPECT_EQ(bed.devices().SelectedCount(), 0);
    bed.ui.answer = true;
    EXPECT_TRUE(SelectAllIfNoneSelected(*bed.core, BatchText::UpgradeAllQuestion,
                                        BatchText::UpgradeAllCaption));
    EXPECT_EQ(bed.devices().SelectedCount(), 2);
    EXPECT_EQ(bed.ui.questions.last(),
              QStringLiteral("Set configurations to all devices: Do you want to set "
                             "configurations to all devices?"));
}
