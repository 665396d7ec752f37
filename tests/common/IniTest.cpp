#include "TestHelpers.h"
#include "common/VxError.h"
#include "common/VxIni.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

void WriteFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(data), data.size());
}

class IniTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("system.ini");
};

// A file as an administrator edits it by hand: CR LF endings, comments, blank lines, a line
// without "=", keys with dots and blanks around "=", a section name with a blank.
const QByteArray kHandWritten = "; Nodewarden settings\r\n"
                                "\r\n"
                                "[System]\r\n"
                                "RebootTime = 40 \r\n"
                                "; the password below is encrypted\r\n"
                                "NimpWirelessAP=\r\n"
                                "just some words\r\n"
                                "Panel.Left=12\r\n"
                                "\r\n"
                                "[Main Form]\r\n"
                                "# layout overrides\r\n"
                                "TB_Discover.Caption=Find\r\n"
                                "[Empty]\r\n";

TEST_F(IniTest, ReadsWithCaseInsensitiveNamesTrimmedValuesAndDefaults)
{
    WriteFile(path, kHandWritten);
    VxIni ini(path);
    EXPECT_EQ(ini.ReadString("system", "reboottime", "9"), "40");
    EXPECT_EQ(ini.ReadString("MAIN FORM", "tb_discover.caption", ""), "Find");
    EXPECT_EQ(ini.ReadString("System", "Panel.Left", ""), "12");
    // Empty value, missing key, missing section, lines that are no keys: the default.
    EXPECT_EQ(ini.ReadString("System", "NimpWirelessAP", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("System", "Missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("Nowhere", "RebootTime", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("System", "just some words", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("System", "; the password below is encrypted", "d"), "d");
    // A key of another section is not found in this one.
    EXPECT_EQ(ini.ReadString("Main Form", "RebootTime", "d"), "d");
    // No file at all.
    EXPECT_EQ(VxIni(dir.filePath("none.ini")).ReadString("System", "RebootTime", "7"), "7");
}

TEST_F(IniTest, ReadCutsLongValuesAndTrimsControlCharacters)
{
    WriteFile(path, "[S]\nlong=" + QByteArray(5000, 'x') + "\nctl=\x01 v \x02\n");
    VxIni ini(path);
    EXPECT_EQ(ini.ReadString("S", "long", ""), QString(4095, 'x'));
    EXPECT_EQ(ini.ReadString("S", "ctl", ""), "v");
}

TEST_F(IniTest, FirstOccurrenceOfSectionAndKeyCounts)
{
    WriteFile(path, "[S]\nk=1\nk=2\n[s]\nk=3\nj=4\n");
    VxIni ini(path);
    EXPECT_EQ(ini.ReadString("S", "k", ""), "1");
    EXPECT_EQ(ini.ReadString("S", "j", "none"), "none");
    ini.WriteString("S", "K", "5");
    EXPECT_EQ(ReadFile(path), "[S]\nk=5\nk=2\n[s]\nk=3\nj=4\n");
}

TEST_F(IniTest, WriteKeepsEveryOtherByteOfAHandWrittenFile)
{
    WriteFile(path, kHandWritten);
    VxIni ini(path);

    ini.WriteString("SYSTEM", "reboottime", "55");
    QByteArray expected = kHandWritten;
    expected.replace("RebootTime = 40 \r\n", "RebootTime = 55\r\n");
    EXPECT_EQ(ReadFile(path), expected);

    ini.WriteString("System", "NimpWirelessAP", "00000000");
    expected.replace("NimpWirelessAP=\r\n", "NimpWirelessAP=00000000\r\n");
    EXPECT_EQ(ReadFile(path), expected);

    // A new key goes after the last key of its section, in the file's line ending.
    ini.WriteString("Main Form", "Form.Width", "640");
    expected.replace("TB_Discover.Caption=Find\r\n",
                     "TB_Discover.Caption=Find\r\nForm.Width=640\r\n");
    EXPECT_EQ(ReadFile(path), expected);

    // A section without keys gets the key right after its header.
    ini.WriteString("Empty", "A", "1");
    expected.replace("[Empty]\r\n", "[Empty]\r\nA=1\r\n");
    EXPECT_EQ(ReadFile(path), expected);

    // A new section goes at the end.
    ini.WriteString("Module Form", "KTR-4200", "Config_KTR_4200");
    expected += "[Module Form]\r\nKTR-4200=Config_KTR_4200\r\n";
    EXPECT_EQ(ReadFile(path), expected);

    EXPECT_EQ(ini.ReadString("system", "REBOOTTIME", ""), "55");
    EXPECT_EQ(ini.ReadString("module form", "ktr-4200", ""), "Config_KTR_4200");
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files) == QStringList{"system.ini"})
        << "no temporary file left behind";
}

TEST_F(IniTest, WriteCreatesTheFileAndHandlesAMissingFinalNewline)
{
    VxIni ini(path);
    ini.WriteString("System", "RebootTime", "40");
    EXPECT_EQ(ReadFile(path), "[System]\nRebootTime=40\n");

    WriteFile(path, "[A]\nx=1");
    ini.WriteString("A", "y", "2");
    EXPECT_EQ(ReadFile(path), "[A]\nx=1\ny=2\n");
    WriteFile(path, "[A]\nx=1");
    ini.WriteString("B", "y", "2");
    EXPECT_EQ(ReadFile(path), "[A]\nx=1\n[B]\ny=2\n");
    WriteFile(path, "[A]\nx=1");
    ini.WriteString("a", "X", "3");
    EXPECT_EQ(ReadFile(path), "[A]\nx=3");
}

TEST_F(IniTest, ByteOrderMarkDoesNotHideTheFirstSection)
{
    WriteFile(path, "\xEF\xBB\xBF[System]\r\nRebootTime=40\r\n");
    VxIni ini(path);
    EXPECT_EQ(ini.ReadString("System", "RebootTime", ""), "40");
    ini.WriteString("System", "RebootTime", "41");
    EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF[System]\r\nRebootTime=41\r\n");
}

TEST_F(IniTest, EveryCallSeesTheFileAsItIsNow)
{
    VxIni reader(path);
    VxIni writer(path);
    writer.WriteString("S", "k", "first");
    EXPECT_EQ(reader.ReadString("S", "k", ""), "first");
    writer.WriteString("S", "k", "second");
    EXPECT_EQ(reader.ReadString("S", "k", ""), "second");
    WriteFile(path, "[S]\nk=by hand\n");
    EXPECT_EQ(reader.ReadString("S", "k", ""), "by hand");
}

TEST_F(IniTest, FailedWriteRaisesWithThePathAndKeepsTheFile)
{
    // The tests may run as root, for whom permissions do not stop a write: a directory
    // where the file should be makes the failure real.
    const QString blocked = dir.filePath("blocked.ini");
    ASSERT_TRUE(QDir().mkpath(blocked));
    VxIni ini(blocked);
    try {
        ini.WriteString("System", "RebootTime", "40");
        FAIL() << "write into a directory succeeded";
    } catch (const VxError& e) {
        EXPECT_EQ(e.code(), -16);
        EXPECT_EQ(e.message(), "(VxCommon) Fail to write value in ini file(" + blocked + ")!");
    }

    VxIni missingFolder(dir.filePath("no/such/folder/system.ini"));
    EXPECT_THROW(missingFolder.WriteString("S", "k", "v"), VxError);

    // A value, key or section that would break the line structure is refused, and the
    // file stays as it was.
    WriteFile(path, kHandWritten);
    VxIni good(path);
    EXPECT_THROW(good.WriteString("System", "RebootTime", "1\r\n[Evil]\r\nx=1"), VxError);
    EXPECT_THROW(good.WriteString("System", "a=b", "1"), VxError);
    EXPECT_THROW(good.WriteString("Sys]tem", "a", "1"), VxError);
    EXPECT_THROW(good.WriteString("System", "", "1"), VxError);
    EXPECT_EQ(ReadFile(path), kHandWritten);
}

TEST_F(IniTest, AWriteTheDiskRefusesRaisesAndKeepsTheFileWhole)
{
    WriteFile(path, kHandWritten);
    {
        const FileSizeLimit full(0);
        EXPECT_THROW(VxIni(path).WriteString("System", "RebootTime", "40"), VxError);
    }
    EXPECT_EQ(ReadFile(path), kHandWritten);
}

TEST_F(IniTest, WriteThroughASymbolicLinkEditsTheTarget)
{
    const QString real = dir.filePath("real.ini");
    WriteFile(real, "[S]\nk=1\n");
    ASSERT_TRUE(QFile::link(real, path));
    VxIni(path).WriteString("S", "k", "2");
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    EXPECT_EQ(ReadFile(real), "[S]\nk=2\n");
}

} // namespace
