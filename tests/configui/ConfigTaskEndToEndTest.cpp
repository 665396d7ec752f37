// The configuration operations of the main window against the simulated fleet on 127.0.0.1:
// read a device into the window, edit, apply with verification.
#include "ConfigWindowSupport.h"

#include "app/BatchOperations.h"
#include "common/VxError.h"
#include "app/ui/ConfigurationTask.h"
#include "config/ui/TConfigButtonsFrame.h"

#include <QPushButton>
#include <gtest/gtest.h>

namespace {

const QMap<QString, QString> kShortWaits = {
    {QStringLiteral("RebootTime"), QStringLiteral("1")},
    {QStringLiteral("ConfigDownloadTime"), QStringLiteral("2")},
    {QStringLiteral("ConfigUploadTime"), QStringLiteral("2")},
    {QStringLiteral("ConfigFlashUpdateTime"), QStringLiteral("1")},
    {QStringLiteral("Verify"), QStringLiteral("1")},
};

// The line of a setting in a device's reported configuration.
QString deviceLine(const SimDevice& device, const QString& prefix)
{
    for (const QString& line : device.config.RenderLines())
        if (line.startsWith(prefix))
            return line;
    return QString();
}

// Names the module's window in system.ini.
void SetModuleForm(WindowBed& w, const QByteArray& formName)
{
    QFile ini(w.bed.core->SettingsPath());
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("[Module Form]\r\nKTR-4200=" + formName + "\r\n");
}

std::string trace(WindowBed& w)
{
    return w.bed.core->Log().Lines().join(QLatin1Char('\n')).toStdString();
}

// What the user does in the window before Apply: a new SSID and 802.11a key 1 of 64 bits.
void EditAndApply(WindowBed& w, TConfig_Form* form)
{
    EXPECT_EQ(form, &w.window);
    w.typeAndLeave(w.edit("Ed11aSSid"), QStringLiteral("Lobby B"));
    w.choose(w.combo("CBox11aWepKeyLen1"), QStringLiteral("64"));
    QLineEdit* key = w.edit("Ed11aWepKey1");
    key->setFocus(Qt::TabFocusReason);
    key->setCursorPosition(0);
    QTest::keyClicks(key, QStringLiteral("0a1b2c3d4e"));
    QTest::mouseClick(w.window.ConfigButtons->BtnWriteConfig, Qt::LeftButton);
}

} // namespace

TEST(ConfigTask, ReadEditAndApplyOneDeviceWithVerification)
{
    WindowBed w(QuickFleetOptions(1), kShortWaits);
    ASSERT_TRUE(w.shown && w.bed.started);
    w.window.hide();
    w.bed.core->Discover();
    ASSERT_EQ(w.bed.devices().Count(), 1);
    w.bed.devices().SelectAll();
    SimDevice& device = w.bed.fleet->Device(0);
    device.config.SetValue(QStringLiteral("80211a_ssid"), QStringLiteral("Factory"));

    QString ssidShown;
    w.window.execModal = [&](QDialog* d) {
        EXPECT_TRUE(ShowActive(d));
        ssidShown = w.edit("Ed11aSSid")->text();
        // The caption names the device read.
        EXPECT_TRUE(d->windowTitle().startsWith(QStringLiteral("Device Configure \u2014 ")));
        EXPECT_TRUE(d->windowTitle().endsWith(device.MacText() + QStringLiteral(", 10.0.0.20)")));
        EditAndApply(w, &w.window);
        return d->result();
    };
    // Without a [Module Form] entry the managed model's window is used.
    RunConfigurationTask(*w.bed.core, FindConfigWindow(*w.bed.core));

    EXPECT_EQ(ssidShown, QStringLiteral("Factory"));
    DeviceRow* row = w.bed.rowOf(0);
    EXPECT_EQ(w.bed.devices().GetStatus(row), QStringLiteral("OK")) << trace(w);
    EXPECT_EQ(device.config.Value(QStringLiteral("80211a_ssid")), QStringLiteral("Lobby B"));
    EXPECT_TRUE(deviceLine(device, QStringLiteral("80211a_wep64_key")).endsWith(QLatin1String("0x0A 0x1B 0x2C 0x3D 0x4E")))
        << deviceLine(device, QStringLiteral("80211a_wep64_key")).toStdString();
    // The address the device had stays: ChkIP is not ticked by default.
    EXPECT_EQ(device.IpAddress(), QStringLiteral("10.0.0.20"));
}

TEST(ConfigTask, ApplyListsTheChangedSettingsAndTheDevicesAndItsCancelWritesNothing)
{
    Ktr4200FleetOptions options = QuickFleetOptions(1);
    options.deviceNameAt.insert(0, QStringLiteral("Lab 2"));
    WindowBed w(options, kShortWaits);
    ASSERT_TRUE(w.shown && w.bed.started);
    w.window.hide();
    w.bed.core->Discover();
    ASSERT_EQ(w.bed.devices().Count(), 1);
    w.bed.devices().SelectAll();
    SimDevice& device = w.bed.fleet->Device(0);
    device.config.SetValue(QStringLiteral("80211a_ssid"), QStringLiteral("Factory"));
    device.config.SetValue(QStringLiteral("80211b_dtim"), QStringLiteral("3"));
    const QStringList before = device.config.RenderLines();

    QString title;
    QString unchangedAsked;
    bool openAfterCancel = false;
    w.window.execModal = [&](QDialog* d) {
        EXPECT_TRUE(ShowActive(d));
        title = d->windowTitle();
        // Straight after the read nothing differs, and the box says so.
        w.boxes.answers = {QMessageBox::Cancel};
        QTest::mouseClick(w.window.ConfigButtons->BtnWriteConfig, Qt::LeftButton);
        unchangedAsked = w.boxes.texts.value(0);
        for (QStringList* recorded : {&w.boxes.texts, &w.boxes.details, &w.boxes.captions})
            recorded->clear();
        w.boxes.defaults.clear();
        w.typeAndLeave(w.edit("Ed11aSSid"), QStringLiteral("Lobby B"));
        w.typeAndLeave(w.edit("Ed11bDtim"), QStringLiteral("7"));
        w.boxes.answers = {QMessageBox::Cancel};
        QTest::mouseClick(w.window.ConfigButtons->BtnWriteConfig, Qt::LeftButton);
        openAfterCancel = d->isVisible();
        QTest::mouseClick(w.window.ConfigButtons->BtnExit, Qt::LeftButton);
        return d->result();
    };
    RunDeviceConfiguration(*w.bed.core, w.window);

    EXPECT_TRUE(title.endsWith(QStringLiteral(" \u2014 Lab 2 (") + device.MacText() + QStringLiteral(", 10.0.0.20)")))
        << qPrintable(title);
    ASSERT_EQ(w.boxes.texts.size(), 1) << qPrintable(w.boxes.texts.join(QLatin1Char('|')));
    EXPECT_EQ(w.boxes.defaults[0], QMessageBox::Cancel);
    EXPECT_TRUE(openAfterCancel);
    EXPECT_TRUE(unchangedAsked.startsWith(QLatin1String("No setting differs"))) << qPrintable(unchangedAsked);
    // The settings changed, one line each with before and after, then the device written.
    const QStringList details = w.boxes.details.value(0).split(QLatin1Char('\n'));
    const qsizetype devicesAt = details.indexOf(QString::fromLatin1(ApplyDevicesHeading));
    ASSERT_EQ(devicesAt, 4) << qPrintable(details.join(QLatin1Char('\n')));
    EXPECT_TRUE(details[1].contains(QLatin1String("80211a_ssid:")) && details[1].contains(QLatin1String("Factory"))
                && details[1].contains(QLatin1String("Lobby B")))
        << qPrintable(details[1]);
    EXPECT_TRUE(details[2].contains(QLatin1String("80211b_dtim: 3 -> 7"))) << qPrintable(details[2]);
    ASSERT_EQ(details.size(), devicesAt + 2);
    EXPECT_TRUE(details.last().contains(device.MacText() + QStringLiteral(", 10.0.0.20)")));
    // Cancel: nothing reached the device, and no file was fetched.
    EXPECT_EQ(device.config.RenderLines(), before);
    EXPECT_EQ(device.counters.fetch, 0);
}

TEST(ConfigTask, TwoDevicesGetOneFileWithoutNameAndAddress)
{
    WindowBed w(QuickFleetOptions(2), kShortWaits);
    ASSERT_TRUE(w.shown && w.bed.started);
    w.window.hide();
    w.bed.core->Discover();
    ASSERT_EQ(w.bed.devices().Count(), 2);
    // Nothing selected: the question is answered Yes and every row is configured.
    w.bed.ui.answer = true;
    SetModuleForm(w, "Config_KTR_4200");
    w.window.execModal = [&](QDialog* d) {
        EXPECT_TRUE(ShowActive(d));
        EXPECT_TRUE(d->windowTitle().startsWith(QStringLiteral("Mutilple Devices Configure \u2014 ")));
        EXPECT_FALSE(w.chk("ChkDeviceName")->isEnabled());
        EditAndApply(w, &w.window);
        return d->result();
    };
    RunConfigurationTask(*w.bed.core, FindConfigWindow(*w.bed.core));
    ASSERT_EQ(w.bed.ui.questions.size(), 1);

    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(w.bed.status(i), QStringLiteral("OK")) << i << trace(w);
        const SimDevice& device = w.bed.fleet->Device(i);
        EXPECT_EQ(device.config.Value(QStringLiteral("80211a_ssid")), QStringLiteral("Lobby B"));
        EXPECT_EQ(device.IpAddress(), QStringLiteral("10.0.0.2%1").arg(i));
        const QStringList written =
            WindowBed::readLines(w.bed.core->WrittenFile(w.bed.rowOf(i)));
        ASSERT_FALSE(written.isEmpty());
        EXPECT_EQ(written.first(), QStringLiteral("KTR-4200"));
        for (const QString& line : written) {
            EXPECT_FALSE(line.startsWith(QLatin1String("device_name"))) << line.toStdString();
            EXPECT_FALSE(line.startsWith(QLatin1String("ip "))) << line.toStdString();
        }
    }
}

TEST(ConfigTask, AModuleNamedWithoutItsWindowIsRefused)
{
    WindowBed w(QuickFleetOptions(1));
    SetModuleForm(w, "Config_Other");
    try {
        FindConfigWindow(*w.bed.core);
        ADD_FAILURE() << "a module without a window was found";
    } catch (const VxError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Unknow Module:Config_Other"));
    }
}

TEST(ConfigTask, EmptyListOrDeclinedQuestionOpensTheEditModeAndSendsNothing)
{
    WindowBed w(QuickFleetOptions(1));
    ASSERT_TRUE(w.shown);
    w.window.hide();
    QString title;
    w.window.execModal = [&](QDialog* d) {
        title = d->windowTitle();
        return int(QDialog::Accepted);
    };
    RunConfigurationTask(*w.bed.core, w.window);
    EXPECT_EQ(title, QStringLiteral("Edit Configurations"));

    w.addDevice(QStringLiteral("021A2B000001"), QStringLiteral("1.0u"));
    w.bed.ui.answer = false;
    title.clear();
    RunConfigurationTask(*w.bed.core, w.window);
    EXPECT_EQ(title, QStringLiteral("Edit Configurations"));
    EXPECT_EQ(w.bed.devices().SelectedCount(), 0);
    EXPECT_EQ(w.bed.fleet->Device(0).counters.get + w.bed.fleet->Device(0).counters.set, 0);
}

TEST(ConfigTask, AFailedReadShowsNoWindowAndLeavesItCleared)
{
    Ktr4200FleetOptions options = QuickFleetOptions(1);
    options.tftpFail = {0};
    WindowBed w(options, kShortWaits);
    ASSERT_TRUE(w.shown && w.bed.started);
    w.window.hide();
    w.bed.core->Discover();
    ASSERT_EQ(w.bed.devices().Count(), 1);
    w.window.LoadConfigFile(w.writeFile("old.cfg", "80211a_ssid=Old\r\n"));
    bool shown = false;
    w.window.execModal = [&](QDialog*) {
        shown = true;
        return int(QDialog::Rejected);
    };
    w.bed.devices().SelectAll();
    RunDeviceConfiguration(*w.bed.core, w.window);
    EXPECT_FALSE(shown);
    EXPECT_NE(w.bed.status(0), QStringLiteral("OK"));
    EXPECT_EQ(w.stored("80211a_ssid"), QString());
    EXPECT_TRUE(w.window.PageConfig->isEnabled());
}
