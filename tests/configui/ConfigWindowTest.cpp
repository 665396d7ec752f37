// The KTR-4200 configuration window driven offscreen with simulated input.
#include "ConfigWindowSupport.h"

#include "common/AddressCheck.h"
#include "common/VxError.h"
#include "common/ui/VxIPAddressPanel.h"
#include "config/UserConfigFile.h"
#include "config/ui/TConfigButtonsFrame.h"

#include <QFileDialog>
#include <QPushButton>
#include <gtest/gtest.h>

TEST(ConfigWindow, AfterCreationEverySettingButTheAddressIsSelected)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    EXPECT_EQ(TConfig_Form::FindConfigForm(QStringLiteral("Config_KTR_4200")), &w.window);
    EXPECT_EQ(TConfig_Form::FindConfigForm(QStringLiteral("config_ktr_4200")), nullptr);

    const VxChkGroupsList& groups = w.window.CheckGroups();
    ASSERT_EQ(groups.Count(), 43);
    for (int i = 0; i < groups.Count(); ++i) {
        const auto& group = groups.At(i);
        const bool isIP = group.checkBox->objectName() == QLatin1String("ChkIP");
        EXPECT_EQ(group.checkBox->isChecked(), !isIP) << group.checkBox->objectName().toStdString();
        for (const auto& member : group.members)
            EXPECT_EQ(member->isEnabled(), !isIP) << member->objectName().toStdString();
    }
    EXPECT_FALSE(w.panel("PanelIP")->isEnabled());
    EXPECT_FALSE(w.panel("PanelMask")->isEnabled());
    EXPECT_TRUE(w.combo("CBoxCountry")->isEnabled());
    EXPECT_TRUE(w.edit("EdRegDomain")->isEnabled());
    // Combo boxes start without a selection, the View File page without a tab.
    EXPECT_EQ(w.combo("CBox11aRate")->currentText(), QString());
    EXPECT_FALSE(w.window.PageConfig->isTabVisible(w.window.PageConfig->indexOf(w.window.TabFileView)));
    // The binding order is the file order.
    EXPECT_EQ(w.window.BindingList().size(), 55);
    EXPECT_EQ(w.window.BindingList().at(0).key, QStringLiteral("ip"));
    EXPECT_EQ(w.window.BindingList().at(54).key, QStringLiteral("80211b_acl_mode"));
}

TEST(ConfigWindow, RangeCheckedFieldsRefuseWithTheirMessagesAndKeepTheStoredValue)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    QLineEdit* beacon = w.edit("Ed11bBconInterval");
    w.typeAndLeave(beacon, QStringLiteral("200"));
    EXPECT_EQ(w.stored("80211b_beacon_interval"), QStringLiteral("200"));

    w.typeAndLeave(beacon, QStringLiteral("1500"));
    ASSERT_EQ(w.boxes.texts.size(), 1);
    EXPECT_EQ(w.boxes.texts.last(), QStringLiteral("Error: Available value is 20~1000"));
    EXPECT_EQ(w.boxes.captions.last(), QStringLiteral("Warning"));
    EXPECT_EQ(beacon->text(), QString());
    EXPECT_TRUE(beacon->hasFocus());
    EXPECT_EQ(w.stored("80211b_beacon_interval"), QStringLiteral("200"));

    w.typeAndLeave(beacon, QStringLiteral("12a"));
    ASSERT_EQ(w.boxes.texts.size(), 2);
    EXPECT_EQ(w.boxes.texts.last(), QStringLiteral("'12a' is not a valid integer value"));
    EXPECT_EQ(w.boxes.captions.last(), QStringLiteral("Error"));
    EXPECT_EQ(w.stored("80211b_beacon_interval"), QStringLiteral("200"));

    // An emptied DTIM keeps its value, and a write still sends it.
    QLineEdit* dtim = w.edit("Ed11aDtim");
    w.typeAndLeave(dtim, QStringLiteral("3"));
    w.typeAndLeave(dtim, QString());
    EXPECT_EQ(dtim->text(), QString());
    EXPECT_EQ(w.stored("80211a_dtim"), QStringLiteral("3"));
    const QString file = QDir(w.bed.dir.path()).filePath(QStringLiteral("dtim.cfg"));
    ASSERT_EQ(w.window.SaveConfigFile(QString(), file), 0);
    EXPECT_TRUE(WindowBed::readLines(file).contains(QStringLiteral("80211a_dtim =3")));
    EXPECT_EQ(w.boxes.texts.size(), 2);

    // The Apply button does not close the window over a refused value.
    w.window.PageConfig->setCurrentWidget(w.window.Tab11a);
    QLineEdit* rts = w.edit("Ed11aRtsThreshold");
    rts->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(rts, QStringLiteral("9"));
    QTest::mouseClick(w.window.ConfigButtons->BtnWriteConfig, Qt::LeftButton);
    EXPECT_EQ(w.boxes.texts.last(), QStringLiteral("Error: Available value is 256~2346"));
    EXPECT_TRUE(w.window.isVisible());
}

TEST(ConfigWindow, AuthenticationAndWepStatusFollowEachOther)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    w.choose(w.combo("CBox11aWepStatus"), QStringLiteral("disable"));
    w.choose(w.combo("CBox11aAuthType"), QStringLiteral("shared"));
    EXPECT_EQ(w.combo("CBox11aWepStatus")->currentText(), QStringLiteral("enable"));
    EXPECT_EQ(w.stored("80211a_wep_status"), QStringLiteral("enable"));
    w.choose(w.combo("CBox11aWepStatus"), QStringLiteral("disable"));
    EXPECT_EQ(w.combo("CBox11aAuthType")->currentText(), QStringLiteral("open"));
    EXPECT_EQ(w.stored("80211a_auth_type"), QStringLiteral("open"));

    w.choose(w.combo("CBox11bWepStatus"), QStringLiteral("disable"));
    w.choose(w.combo("CBox11bAuthType"), QStringLiteral("shared"));
    EXPECT_EQ(w.stored("80211b_wep_status"), QStringLiteral("64"));
    // "both" needs no WEP change.
    w.choose(w.combo("CBox11bWepStatus"), QStringLiteral("disable"));
    w.choose(w.combo("CBox11bAuthType"), QStringLiteral("both"));
    EXPECT_EQ(w.combo("CBox11bWepStatus")->currentText(), QStringLiteral("disable"));
}

TEST(ConfigWindow, KeyLengthSetsTheKeyFieldUpAndStoresItsZeros)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    // The keys are secrets: dots until their page's "Show keys" is ticked. What is typed while
    // they are hidden is stored all the same.
    EXPECT_EQ(w.edit("Ed11bWep256Key4")->echoMode(), QLineEdit::Password);
    QLineEdit* hidden = w.edit("Ed11aWepKey1");
    EXPECT_EQ(hidden->echoMode(), QLineEdit::Password);
    w.choose(w.combo("CBox11aWepKeyLen1"), QStringLiteral("64"));
    hidden->setFocus(Qt::TabFocusReason);
    hidden->setCursorPosition(0);
    QTest::keyClicks(hidden, QStringLiteral("0a1b2c3d4e"));
    w.leave(hidden);
    EXPECT_EQ(w.stored("80211a_wep_key1"), QStringLiteral("0A 1B 2C 3D 4E"));
    EXPECT_FALSE(hidden->displayText().contains(QLatin1String("1B")));
    w.chk("ChkShow11aKeys")->click();
    EXPECT_EQ(hidden->displayText(), QStringLiteral("0A 1B 2C 3D 4E"));
    EXPECT_EQ(w.edit("Ed11bWep256Key4")->echoMode(), QLineEdit::Password); // the other page's

    QLineEdit* key = w.edit("Ed11aWepKey2");
    // No length chosen yet: the field takes nothing.
    key->setFocus();
    QTest::keyClicks(key, QStringLiteral("12"));
    EXPECT_EQ(key->displayText().trimmed(), QString());

    w.choose(w.combo("CBox11aWepKeyLen2"), QStringLiteral("128"));
    const QString zeros = QStringLiteral("00 00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(key->displayText(), zeros);
    EXPECT_EQ(w.stored("80211a_wep_key2"), zeros);

    key->setFocus(Qt::TabFocusReason);
    key->setCursorPosition(0);
    QTest::keyClicks(key, QStringLiteral("g 1a"));
    EXPECT_EQ(key->displayText(), QStringLiteral("1A 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(key->displayText().size(), 38);
    w.leave(key);
    EXPECT_EQ(w.stored("80211a_wep_key2"), key->displayText());

    w.choose(w.combo("CBox11aWepKeyLen2"), QStringLiteral("NULL"));
    EXPECT_EQ(key->displayText(), QStringLiteral("empty"));
    EXPECT_EQ(w.stored("80211a_wep_key2"), QStringLiteral("empty"));

    QComboBox stray;
    stray.setProperty("tag", 7);
    try {
        w.window.CBox11aWepKeyLenChange(&stray);
        ADD_FAILURE() << "a box without a key was accepted";
    } catch (const VxError& e) {
        EXPECT_EQ(e.message(), QString::fromLatin1(kWrongKeyLenMappingText));
    }
}

TEST(ConfigWindow, AccessControlListKeepsOneEntryPerAddress)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    QLineEdit* mac = w.edit("Ed11bAclMac");
    QListWidget* list = w.list("LB11bAclMac");
    QPushButton* add = w.window.Control<QPushButton>(QStringLiteral("Btn11bAclMacAdd"));
    w.showPageOf(mac);
    EXPECT_EQ(mac->displayText(), QStringLiteral("00:00:00:00:00:00"));
    QTest::mouseClick(add, Qt::LeftButton);
    EXPECT_EQ(list->count(), 0);

    mac->setFocus();
    mac->setCursorPosition(0);
    QTest::keyClicks(mac, QStringLiteral("021a2b123456"));
    QTest::mouseClick(add, Qt::LeftButton);
    QTest::mouseClick(add, Qt::LeftButton);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("02:1A:2B:12:34:56"));

    QTest::mouseClick(w.window.Control<QPushButton>(QStringLiteral("Btn11bAclMacDel")), Qt::LeftButton);
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(mac->displayText(), QStringLiteral("00:00:00:00:00:00"));
}

TEST(ConfigWindow, MultipleDevicesModeNeverWritesNameOrAddress)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    w.window.SetSingleDeviceMode();
    w.chk("ChkIP")->click();
    w.typeAndLeave(w.edit("EdDeviceName"), QStringLiteral("Lobby 2"));
    w.window.SetMultipleDevicesMode();
    EXPECT_EQ(w.window.windowTitle(), QStringLiteral("Mutilple Devices Configure"));
    EXPECT_FALSE(w.window.ConfigButtons->BtnReadConfig->isVisibleTo(&w.window));
    for (const char* name : {"ChkDeviceName", "ChkIP"}) {
        EXPECT_FALSE(w.chk(name)->isChecked()) << name;
        EXPECT_FALSE(w.chk(name)->isEnabled()) << name;
    }
    EXPECT_FALSE(w.edit("EdDeviceName")->isEnabled());
    EXPECT_FALSE(w.panel("PanelIP")->isEnabled());
    EXPECT_FALSE(w.panel("PanelMask")->isEnabled());
    // Check All cannot tick them either.
    w.window.CheckGroups().CheckAll();
    EXPECT_FALSE(w.chk("ChkIP")->isChecked());
    const QString file = QDir(w.bed.dir.path()).filePath(QStringLiteral("multi.cfg"));
    ASSERT_EQ(w.window.SaveConfigFile(QString(), file), 0);
    for (const QString& line : WindowBed::readLines(file)) {
        EXPECT_FALSE(line.startsWith(QLatin1String("device_name"))) << line.toStdString();
        EXPECT_FALSE(line.startsWith(QLatin1String("ip "))) << line.toStdString();
    }

    // Another mode gives the check boxes back, unticked.
    w.window.SetEditMode();
    EXPECT_TRUE(w.chk("ChkDeviceName")->isEnabled());
    EXPECT_FALSE(w.chk("ChkDeviceName")->isChecked());
    EXPECT_FALSE(w.window.ConfigButtons->BtnWriteConfig->isVisibleTo(&w.window));
}

TEST(ConfigWindow, BoundControlsShowAndReturnWhatTheFileHolds)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    const QString file = w.writeFile("in.cfg", "80211a_tx_power=loud\r\n"
                                               "ip=192.168.0.1\r\n"
                                               "mask=10.1\r\n"
                                               "80211b_acl_clr=\r\n"
                                               "80211b_acl_mac_add=02:1A:2B:00:00:01\r\n"
                                               "80211b_acl_mac_add=02:1A:2B:00:00:02\r\n"
                                               "80211A_WEP128_KEY=0x1 0x2 0x3 0x4 0x5 0x6 0x7 0x8 0x9 0xa 0xb 0xc 0xd\r\n"
                                               "80211a_acl_mode=deny\r\n");
    ASSERT_EQ(w.window.LoadConfigFile(file), 0);

    // A value outside the box's items is shown and returned unchanged.
    QComboBox* power = w.combo("CBox11aTxPower");
    EXPECT_EQ(power->currentText(), QStringLiteral("loud"));
    w.showPageOf(power);
    power->setFocus(Qt::TabFocusReason);
    w.leave(power);
    EXPECT_EQ(w.stored("80211a_tx_power"), QStringLiteral("loud"));
    EXPECT_EQ(w.combo("CBox11aAclMode")->currentText(), QStringLiteral("reject"));

    const auto octets = [](QFrame* panel) {
        QStringList parts;
        for (int tag = 0; tag < 4; ++tag)
            for (QLineEdit* e : panel->findChildren<QLineEdit*>())
                if (e->property("tag").toInt() == tag)
                    parts << e->text();
        return parts;
    };
    EXPECT_EQ(octets(w.panel("PanelIP")), (QStringList{"192", "168", "0", "1"}));
    EXPECT_EQ(octets(w.panel("PanelMask")), (QStringList{"10", "", "", "1"}));

    // Leaving an octet empty makes it 0 and the address whole.
    w.window.SetSingleDeviceMode();
    w.chk("ChkIP")->click();
    QLineEdit* second = w.panel("PanelMask")->findChildren<QLineEdit*>().value(1);
    w.showPageOf(second);
    second->setFocus(Qt::TabFocusReason);
    w.leave(second);
    EXPECT_EQ(w.stored("mask"), QStringLiteral("10.0.0.1"));

    EXPECT_EQ(w.combo("CBox11aWepKeyLen1")->currentText(), QStringLiteral("128"));
    w.chk("ChkShow11aKeys")->click();
    EXPECT_EQ(w.edit("Ed11aWepKey1")->displayText(),
              QStringLiteral("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D"));
    EXPECT_EQ(w.list("LB11bAclMac")->count(), 2);
    EXPECT_EQ(w.list("LB11bAclMac")->item(1)->text(), QStringLiteral("02:1A:2B:00:00:02"));

    // The View File page shows the binding list.
    w.window.PageConfig->setCurrentWidget(w.window.TabFileView);
    EXPECT_EQ(w.window.LBoxCfgFile->count(), 55);
    EXPECT_EQ(w.window.LBoxCfgFile->item(0)->text(), QStringLiteral("ip=192.168.0.1"));

    // An unreadable file clears every setting and both lists.
    EXPECT_EQ(w.window.LoadConfigFile(QStringLiteral("/nonexistent/x.cfg")), -1);
    EXPECT_EQ(w.stored("80211a_tx_power"), QString());
    EXPECT_EQ(w.list("LB11bAclMac")->count(), 0);
}

TEST(ConfigWindow, CheckAllLeavesADisabledCheckBoxAlone)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    w.chk("ChkIP")->setEnabled(false);
    w.window.CheckGroups().CheckAll();
    EXPECT_FALSE(w.chk("ChkIP")->isChecked());
    EXPECT_FALSE(w.panel("PanelIP")->isEnabled());
    w.window.CheckGroups().UncheckAll();
    EXPECT_FALSE(w.chk("Chk11aSSid")->isChecked());
    EXPECT_FALSE(w.edit("Ed11aSSid")->isEnabled());
    // A hidden member keeps its state.
    w.chk("Chk11aTurboMode")->hide();
    w.combo("CBox11aTurboMode")->hide();
    w.chk("ChkGateway")->click();
    EXPECT_TRUE(w.panel("PanelGateway")->isEnabled());
}

TEST(ConfigWindow, SaveWithNothingTickedWritesTheKeptKeysAndTheCountry)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    w.window.SetEditMode();
    w.typeAndLeave(w.edit("EdRegDomain"), QStringLiteral("fcc"));
    w.window.CheckGroups().UncheckAll();
    const QString file = QDir(w.bed.dir.path()).filePath(QStringLiteral("none.cfg"));
    QTemporaryDir other;
    w.window.ConfigButtons->runFileDialog = [&](QFileDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Save configurations file"));
        EXPECT_EQ(QDir(d->directory()).absolutePath(),
                  QDir(w.bed.dir.path()).filePath(QStringLiteral("Config")));
        return file;
    };
    QTest::mouseClick(w.window.ConfigButtons->BtnSaveConfig, Qt::LeftButton);
    const QString keep = QStringLiteral("80211a_wep64_key =keep 0x00 0x00 0x00 0x00");
    EXPECT_EQ(WindowBed::readLines(file),
              (QStringList{"get_reg_domain =fcc", keep, keep, keep, keep}));

    // Open then proposes the saved file, and a file opened elsewhere becomes Save's proposal.
    w.window.ConfigButtons->runFileDialog = [&](QFileDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Open configurations file"));
        EXPECT_EQ(w.window.ConfigButtons->OpenFileName(), file);
        return QDir(other.path()).filePath(QStringLiteral("missing.cfg"));
    };
    QTest::mouseClick(w.window.ConfigButtons->BtnOpenConfig, Qt::LeftButton);
    EXPECT_EQ(w.window.ConfigButtons->SaveFileName(), QDir(other.path()).filePath(QStringLiteral("missing.cfg")));
    EXPECT_EQ(w.window.ConfigButtons->SaveInitialDir(), QDir(other.path()).absolutePath());
    // A cancelled dialog changes nothing.
    w.window.ConfigButtons->runFileDialog = [](QFileDialog*) { return QString(); };
    QTest::mouseClick(w.window.ConfigButtons->BtnSaveConfig, Qt::LeftButton);
    EXPECT_EQ(w.window.ConfigButtons->OpenInitialDir(), QDir(other.path()).absolutePath());
}

TEST(ConfigWindow, FirmwareRegionGivesAnEmptyCountryItsDefault)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    const QString noCountry = w.writeFile("nocountry.cfg", "80211a_ssid=\"x\"\r\n");
    const QString denmark = w.writeFile("dk.cfg", "country_code=Denmark\r\n");
    QCheckBox* turbo = w.chk("Chk11aTurboMode");
    QComboBox* country = w.combo("CBoxCountry");

    DeviceRow* row = w.addDevice(QStringLiteral("021A2B000001"), QStringLiteral("1.02.07e"));
    w.bed.devices().SetSelected(row, true);
    w.window.LoadConfigFile(noCountry);
    EXPECT_EQ(country->currentText(), QStringLiteral("Europe"));
    EXPECT_TRUE(turbo->isHidden());
    EXPECT_EQ(w.stored("country_code"), QString());
    EXPECT_EQ(w.combo("CBox11aChannel")->count(), 19); // 36 to 64 and 100 to 140

    // "w" keeps the region of the device before.
    w.bed.devices().SetField(row, QStringLiteral("F/W Version"), QStringLiteral("1.02.07w"));
    w.window.LoadConfigFile(noCountry);
    EXPECT_EQ(country->currentText(), QStringLiteral("Europe"));

    w.bed.devices().SetField(row, QStringLiteral("F/W Version"), QStringLiteral("1.02.07u"));
    w.window.LoadConfigFile(noCountry);
    EXPECT_EQ(country->currentText(), QStringLiteral("US"));
    EXPECT_FALSE(turbo->isHidden());
    EXPECT_EQ(w.combo("CBox11bChannel")->count(), 11);

    // The file's own country wins and the turbo setting stays hidden.
    w.window.LoadConfigFile(denmark);
    EXPECT_EQ(country->currentText(), QStringLiteral("Denmark"));
    EXPECT_TRUE(turbo->isHidden());
    EXPECT_EQ(w.combo("CBox11aChannel")->count(), 8);
}

TEST(ConfigWindow, ChannelBoxesFollowCountryAndKeepTheirText)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    QComboBox* channel = w.combo("CBox11aChannel");
    QComboBox* country = w.combo("CBoxCountry");
    w.choose(country, QStringLiteral("US"));
    w.choose(channel, QStringLiteral("153"));
    w.choose(country, QStringLiteral("Denmark"));
    EXPECT_EQ(channel->currentText(), QStringLiteral("153"));
    EXPECT_EQ(channel->findText(QStringLiteral("153")), -1);

    // Typed text counts too.
    w.showPageOf(country);
    country->setFocus();
    country->lineEdit()->selectAll();
    QTest::keyClicks(country->lineEdit(), QStringLiteral("france"));
    EXPECT_EQ(w.combo("CBox11bChannel")->count(), 4); // 10 to 13
}

TEST(ConfigWindow, ExitEmptiesTheQueueAndClosesWithCancel)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    w.bed.queue().AddCommand(cmdWait, nullptr, 100);
    int result = -1;
    QObject::connect(&w.window, &QDialog::finished, [&](int r) { result = r; });
    QTest::mouseClick(w.window.ConfigButtons->BtnExit, Qt::LeftButton);
    EXPECT_EQ(w.bed.queue().Count(), 0);
    EXPECT_EQ(result, int(QDialog::Rejected));
}

namespace {

// Types into whatever has the focus, one key at a time, letting posted focus moves happen.
void typeKeys(const QString& keys)
{
    for (const QChar ch : keys) {
        // Nothing has the focus once a window has closed: the keys go nowhere.
        if (QWidget* focus = QApplication::focusWidget())
            QTest::keyClick(focus, ch.toLatin1());
        Settle();
    }
}

QLineEdit* firstOctet(QFrame* panel)
{
    QLineEdit* first = nullptr;
    for (QLineEdit* e : panel->findChildren<QLineEdit*>())
        if (!first || e->x() < first->x())
            first = e;
    return first;
}

} // namespace

TEST(ConfigWindow, AddressFieldsTakeWhatIsTypedAndApplyRefusesAPairNoDeviceCanUse)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    w.window.SetSingleDeviceMode();
    w.showPageOf(w.panel("PanelIP"));
    w.chk("ChkIP")->click();
    ASSERT_TRUE(w.panel("PanelIP")->isEnabled());
    const auto typeInto = [&](const char* panel, const char* address) {
        firstOctet(w.panel(panel))->setFocus(Qt::TabFocusReason);
        Settle();
        typeKeys(QString::fromLatin1(address));
    };
    typeInto("PanelIP", "192.168.1.255");
    typeInto("PanelMask", "255.255.255.0");
    // Three digits in the gateway's last octet move on to the next control; nothing spills.
    typeInto("PanelGateway", "192.168.1.254");
    w.leave(QApplication::focusWidget());
    EXPECT_EQ(w.stored("gateway"), QStringLiteral("192.168.1.254"));
    EXPECT_EQ(w.stored("mask"), QStringLiteral("255.255.255.0"));

    int result = -1;
    QObject::connect(&w.window, &QDialog::finished, [&](int r) { result = r; });
    QTest::mouseClick(w.window.ConfigButtons->BtnWriteConfig, Qt::LeftButton);
    ASSERT_EQ(w.boxes.texts.size(), 1);
    EXPECT_EQ(w.boxes.texts[0],
              QString::fromLatin1(AddressCheckText::BroadcastAddress)
                  .arg(QStringLiteral("192.168.1.255"), QStringLiteral("192.168.1.0"))
                  .arg(24));
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(w.window.isVisible());

    typeInto("PanelIP", "192.168.1.10");
    w.leave(QApplication::focusWidget());
    const QString file = QDir(w.bed.dir.path()).filePath(QStringLiteral("typed.cfg"));
    ASSERT_EQ(w.window.SaveConfigFile(QString(), file), 0);
    const QStringList lines = WindowBed::readLines(file);
    for (const char* line : {"ip =192.168.1.10", "mask =255.255.255.0", "gateway =192.168.1.254"})
        EXPECT_TRUE(lines.contains(QLatin1String(line)))
            << line << "\n"
            << qPrintable(lines.join(QLatin1Char('\n')));
    QTest::mouseClick(w.window.ConfigButtons->BtnWriteConfig, Qt::LeftButton);
    EXPECT_EQ(result, int(QDialog::Accepted));
    EXPECT_EQ(w.boxes.texts.size(), 1);
}

TEST(ConfigWindow, ChoosingTheSameKeyLengthAgainKeepsTheKey)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    QLineEdit* key = w.edit("Ed11aWepKey1");
    w.choose(w.combo("CBox11aWepKeyLen1"), QStringLiteral("64"));
    key->setFocus(Qt::TabFocusReason);
    key->setCursorPosition(0);
    QTest::keyClicks(key, QStringLiteral("0a1b2c3d4e"));
    w.leave(key);
    ASSERT_EQ(w.stored("80211a_wep_key1"), QStringLiteral("0A 1B 2C 3D 4E"));

    w.chk("ChkShow11aKeys")->click();
    w.choose(w.combo("CBox11aWepKeyLen1"), QStringLiteral("64"));
    EXPECT_EQ(key->displayText(), QStringLiteral("0A 1B 2C 3D 4E"));
    EXPECT_EQ(w.stored("80211a_wep_key1"), QStringLiteral("0A 1B 2C 3D 4E"));
    // Another length starts the key from zeros, as it always has.
    w.choose(w.combo("CBox11aWepKeyLen1"), QStringLiteral("128"));
    EXPECT_EQ(w.stored("80211a_wep_key1"),
              QStringLiteral("00 00 00 00 00 00 00 00 00 00 00 00 00"));
}

TEST(ConfigWindow, EnterPressesNoButtonOfAPageAndEscDoesWhatExitDoes)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    QLineEdit* mac = w.edit("Ed11aAclMac");
    w.showPageOf(mac);
    mac->setFocus();
    mac->setCursorPosition(0);
    QTest::keyClicks(mac, QStringLiteral("021a2b123456"));
    QLineEdit* ssid = w.edit("Ed11aSSid");
    ssid->setFocus();
    QTest::keyClicks(ssid, QStringLiteral("Lobby"));
    QTest::keyClick(ssid, Qt::Key_Return);
    Settle();
    EXPECT_EQ(w.list("LB11aAclMac")->count(), 0);
    EXPECT_TRUE(w.window.isVisible());

    w.bed.queue().AddCommand(cmdWait, nullptr, 100);
    int result = -1;
    QObject::connect(&w.window, &QDialog::finished, [&](int r) { result = r; });
    QTest::keyClick(ssid, Qt::Key_Escape);
    EXPECT_EQ(w.bed.queue().Count(), 0);
    EXPECT_EQ(result, int(QDialog::Rejected));
}

TEST(ConfigWindow, OpenListsEveryFileReadsUtf8AndRefusesWhatTheDeviceCannotTake)
{
    WindowBed w;
    ASSERT_TRUE(w.shown);
    w.window.SetEditMode();
    const QString folder = w.window.ConfigFolder();
    QDir().mkpath(folder);
    // A configuration the Save button wrote under a name without a dot, in UTF-8.
    const QString lobby = QDir(folder).filePath(QStringLiteral("lobby"));
    QFile f(lobby);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("80211a_ssid =\"Caf\xc3\xa9\"\r\n");
    f.close();
    QFile other(QDir(folder).filePath(QStringLiteral("floor2.cfg")));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();

    QStringList listedBySave;
    w.window.ConfigButtons->runFileDialog = [&](QFileDialog* d) {
        d->show();
        listedBySave = ListedNames(d, QStringLiteral("floor2.cfg"));
        d->hide();
        return QString();
    };
    QTest::mouseClick(w.window.ConfigButtons->BtnSaveConfig, Qt::LeftButton);
    EXPECT_TRUE(listedBySave.contains(QStringLiteral("lobby")))
        << qPrintable(listedBySave.join(QLatin1Char(',')));

    w.window.ConfigButtons->runFileDialog = [&](QFileDialog* d) {
        d->show();
        const QStringList listed = ListedNames(d, QStringLiteral("floor2.cfg"));
        d->hide();
        return listed.contains(QStringLiteral("lobby")) ? lobby : QString();
    };
    QTest::mouseClick(w.window.ConfigButtons->BtnOpenConfig, Qt::LeftButton);
    EXPECT_EQ(w.edit("Ed11aSSid")->text(), QString::fromUtf8("Caf\xc3\xa9"));
    EXPECT_TRUE(w.boxes.texts.isEmpty());

    // A file with an escape sequence in a value is refused, and the window keeps what it had.
    const QString bad =
        w.writeFile("bad.cfg", "80211a_dtim =2\r\n80211a_ssid =\"x\x1b]0;y\x07\"\r\n");
    w.window.ConfigButtons->runFileDialog = [&](QFileDialog*) { return bad; };
    QTest::mouseClick(w.window.ConfigButtons->BtnOpenConfig, Qt::LeftButton);
    ASSERT_EQ(w.boxes.texts.size(), 1);
    EXPECT_EQ(w.boxes.texts[0],
              QString::fromLatin1(UserConfigText::ControlCharacter)
                      .arg(bad, QStringLiteral("2"), QStringLiteral("80211a_ssid"),
                           QStringLiteral("\\x1B")) +
                  QLatin1Char('.'));
    EXPECT_EQ(w.boxes.captions[0], QStringLiteral("Error"));
    EXPECT_EQ(w.edit("Ed11aSSid")->text(), QString::fromUtf8("Caf\xc3\xa9"));
    EXPECT_EQ(w.stored("80211a_dtim"), QString());
}
