#include "WindowTestBed.h"
#include "app/ui/TProgressForm.h"
#include "app/ui/TSetIPForm.h"
#include "app/ui/TSystemForm.h"
#include "common/AddressCheck.h"
#include "common/VxCipher.h"
#include "common/VxIni.h"
#include "common/VxNetInterface.h"
#include "common/ui/VxEditConstraint.h"
#include "common/ui/VxIPAddressPanel.h"

#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

QList<QLineEdit*> octetsOf(QFrame* panel)
{
    QList<QLineEdit*> octets = panel->findChildren<QLineEdit*>();
    std::sort(octets.begin(), octets.end(), [](QLineEdit* a, QLineEdit* b) { return a->x() < b->x(); });
    return octets;
}

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

// Types the address octet by octet the way a user does: digits, then "." to move on.
void typeAddress(QFrame* panel, const QString& address)
{
    const QList<QLineEdit*> octets = octetsOf(panel);
    for (QLineEdit* octet : octets)
        octet->clear();
    octets.first()->setFocus();
    Settle();
    typeKeys(address);
}

void clickOk(QDialog& dialog, const char* name)
{
    QTest::mouseClick(dialog.findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
    Settle();
}

} // namespace

TEST(SetIPDialog, RefusesMissingAndUnusableAddresses)
{
    RecordingMessageBoxes boxes;
    TSetIPForm form(nullptr);
    ASSERT_TRUE(ShowActive(&form));

    clickOk(form, "BtnOK");
    EXPECT_EQ(boxes.texts, QStringList{QString::fromLatin1(WrongIPText)});
    EXPECT_EQ(boxes.captions, QStringList{QStringLiteral("Error")});
    EXPECT_TRUE(form.isVisible());
    EXPECT_NE(form.result(), QDialog::Accepted);

    // Keystrokes: a third digit moves on by itself, "." moves on after fewer.
    for (const char* refused : {"0.0.0.0", "255255255255", "0000.00.0"}) {
        typeAddress(form.PanelIPBegin(), QString::fromLatin1(refused));
        typeAddress(form.PanelMask(), QStringLiteral("2552552550"));
        const qsizetype before = boxes.texts.size();
        clickOk(form, "BtnOK");
        EXPECT_EQ(boxes.texts.size(), before + 1) << refused << " " << qPrintable(form.IPAddress()) << " " << qPrintable(boxes.texts.join(QLatin1Char('|')));
        EXPECT_TRUE(form.isVisible());
    }
}

TEST(SetIPDialog, OneOctetMakesAnAddressAndTheLastTypedDigitsCount)
{
    RecordingMessageBoxes boxes;
    TSetIPForm form(nullptr);
    form.SetMultipleMode();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Multiple IP Setting"));
    ASSERT_TRUE(ShowActive(&form));

    // Only the first octet, then on to the netmask.
    QList<QLineEdit*> ip = octetsOf(form.PanelIPBegin());
    ip[0]->setFocus();
    QTest::keyClicks(ip[0], QStringLiteral("10"));
    octetsOf(form.PanelMask())[0]->setFocus();
    Settle();
    EXPECT_EQ(form.IPAddress(), QStringLiteral("10.0.0.0"));
    typeKeys(QStringLiteral("255.255.255.0"));

    // The address's last octet is still being typed when OK is pressed.
    ip[3]->setFocus(Qt::TabFocusReason);
    Settle();
    typeKeys(QStringLiteral("77"));
    ASSERT_TRUE(ip[3]->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    Settle();
    EXPECT_TRUE(boxes.texts.isEmpty()) << qPrintable(boxes.texts.join(QLatin1Char('|')));
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.IPAddress(), QStringLiteral("10.0.0.77"));
    EXPECT_EQ(form.Netmask(), QStringLiteral("255.255.255.0"));
}

TEST(SetIPDialog, AnOctetAbove255IsRefusedWhenLeft)
{
    RecordingMessageBoxes boxes;
    TSetIPForm form(nullptr);
    ASSERT_TRUE(ShowActive(&form));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("IP Setting"));
    typeAddress(form.PanelIPBegin(), QStringLiteral("10.0.0.255"));
    typeAddress(form.PanelMask(), QStringLiteral("255.255.0.0"));
    QList<QLineEdit*> ip = octetsOf(form.PanelIPBegin());
    ip[1]->setFocus();
    ip[1]->selectAll();
    QTest::keyClicks(ip[1], QStringLiteral("256"));
    Settle();
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.texts[0], QStringLiteral("(VxCommon) Please enter a number between 0 and 255!"));
    EXPECT_EQ(ip[1]->text(), QStringLiteral("0"));
    clickOk(form, "BtnOK");
    EXPECT_EQ(form.result(), QDialog::Accepted);
    // An address ending in .255 is a host of a subnet larger than 256 addresses.
    EXPECT_EQ(form.IPAddress(), QStringLiteral("10.0.0.255"));
}

TEST(SetIPDialog, AddressesNoDeviceCanUseAreRefusedWithTheReason)
{
    RecordingMessageBoxes boxes;
    TSetIPForm form(nullptr);
    ASSERT_TRUE(ShowActive(&form));
    const auto refused = [&](const char* ip, const char* mask) {
        if (!form.isVisible())
            return QStringLiteral("<accepted>");
        typeAddress(form.PanelIPBegin(), QString::fromLatin1(ip));
        typeAddress(form.PanelMask(), QString::fromLatin1(mask));
        const qsizetype before = boxes.texts.size();
        clickOk(form, "BtnOK");
        EXPECT_TRUE(form.isVisible()) << ip << "/" << mask;
        EXPECT_NE(form.result(), QDialog::Accepted);
        return boxes.texts.size() == before + 1 ? boxes.texts.last() : QString();
    };
    EXPECT_EQ(
        refused("192.168.1.10", "255.0.255.0"),
        QString::fromLatin1(AddressCheckText::NotANetmask).arg(QStringLiteral("255.0.255.0")));
    EXPECT_EQ(
        refused("192.168.1.255", "255.255.255.0"),
        CheckAddressAndNetmask(QStringLiteral("192.168.1.255"), QStringLiteral("255.255.255.0")));
    EXPECT_EQ(boxes.captions.last(), QStringLiteral("Error"));

    // Ten devices from .120 under a 25-bit netmask: the eighth would get the broadcast address.
    form.SetMultipleMode(10);
    EXPECT_EQ(refused("10.0.0.120", "255.255.255.128"),
              CheckAddressRun(QStringLiteral("10.0.0.120"), QStringLiteral("255.255.255.128"), 10));
    form.SetMultipleMode(7);
    clickOk(form, "BtnOK");
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST(SetIPDialog, APastedAddressFillsEveryOctet)
{
    RecordingMessageBoxes boxes;
    TSetIPForm form(nullptr);
    ASSERT_TRUE(ShowActive(&form));
    QGuiApplication::clipboard()->setText(QStringLiteral(" 192.168.1.10\n"));
    // Into the third octet, where the user happened to be.
    QLineEdit* third = octetsOf(form.PanelIPBegin())[2];
    third->setFocus();
    QTest::keyClick(third, Qt::Key_V, Qt::ControlModifier);
    octetsOf(form.PanelMask())[0]->setFocus();
    Settle();
    EXPECT_EQ(form.IPAddress(), QStringLiteral("192.168.1.10"));
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST(ProgressForm, BarCyclesAndStopsWhenClosed)
{
    TProgressForm form(nullptr);
    EXPECT_TRUE(form.TimerActive());
    for (int i = 0; i < TProgressForm::BarMaximum - 1; ++i)
        form.ProgressTimerTimer();
    EXPECT_EQ(form.Position(), 75);
    form.ProgressTimerTimer();
    EXPECT_EQ(form.Position(), 0);

    int asked = 0;
    bool allow = false;
    form.SetCloseHook([&] {
        ++asked;
        return allow;
    });
    form.show();
    form.close();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.TimerActive());
    allow = true;
    form.close();
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.TimerActive());
}

class SystemDialog : public ::testing::Test
{
protected:
    WindowTestBed bed;
    RecordingMessageBoxes boxes;

    QStringList keyOrder()
    {
        QFile f(bed.iniPath());
        f.open(QIODevice::ReadOnly);
        QStringList keys;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.contains('='))
                keys.append(QString::fromUtf8(line.left(line.indexOf('='))));
        return keys;
    }
    QString stored(const char* key)
    {
        return VxIni(bed.iniPath()).ReadString(QStringLiteral("System"), QString::fromLatin1(key), QStringLiteral("<none>"));
    }
};

TEST_F(SystemDialog, DefaultThenOkSavesInOrderAndReloads)
{
    TSystemForm form(bed.core(), QStringLiteral("KTR-4200"), bed.window.get());
    form.show();
    EXPECT_EQ(form.Field("EdNimpSetTimeout")->text(), QStringLiteral("1"));
    EXPECT_EQ(form.Field("EdTimingTolerance")->text(), QStringLiteral("0"));
    EXPECT_EQ(form.Field("EdParallelTransfers")->text(),
              QString::number(bed.core().Settings().parallelTransfers));
    form.BtnParamDefaultClick();
    EXPECT_EQ(form.Field("EdParallelTransfers")->text(), QStringLiteral("256"));
    form.Field("EdRebootTime")->setText(QStringLiteral("25"));
    form.Field("EdParallelTransfers")->setText(QStringLiteral("16"));
    const bool parallelInFile = stored("ParallelTransfers") != QStringLiteral("<none>");
    form.BtnParamOKClick();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(boxes.texts.isEmpty());

    const QStringList order = keyOrder();
    QStringList written = {QStringLiteral("RebootTime"),       QStringLiteral("ConfigUploadTime"),
                           QStringLiteral("ConfigDownloadTime"), QStringLiteral("ConfigFlashUpdateTime"),
                           QStringLiteral("NimpWirelessAP"),   QStringLiteral("FactoryResetTime"),
                           QStringLiteral("FWDownloadTime"),   QStringLiteral("FWFlashUpdateTime"),
                           QStringLiteral("DiscoveryRetry"),   QStringLiteral("ParallelTransfers"),
                           QStringLiteral("Module")};
    // A key the file already holds keeps its place (the suite's second run sets this one).
    if (parallelInFile)
        written.removeAll(QStringLiteral("ParallelTransfers"));
    // Keys that were not in the file are added in the order they are saved.
    EXPECT_EQ(order.mid(order.size() - written.size()), written);
    EXPECT_EQ(stored("NimpSetTimeout"), QStringLiteral("5"));
    EXPECT_EQ(stored("RebootTime"), QStringLiteral("25"));
    EXPECT_EQ(stored("DiscoveryTimeout"), QStringLiteral("5"));
    // An empty password is stored encrypted, not as an empty value.
    EXPECT_EQ(stored("NimpWirelessAP"), EncryptText(QString()));
    EXPECT_EQ(stored("NimpWirelessAP"), QStringLiteral("00000000"));
    EXPECT_EQ(bed.core().Settings().rebootTime, 2500);
    EXPECT_EQ(stored("ParallelTransfers"), QStringLiteral("16"));
    EXPECT_EQ(bed.core().Settings().parallelTransfers, 16);
}

TEST_F(SystemDialog, PasswordTakesEffectOnOkAndAClearedModuleIsKept)
{
    TSystemForm form(bed.core(), QStringLiteral("KTR-4200"), bed.window.get());
    form.show();
    form.Field("EdNimpPassword")->setText(QStringLiteral("secret"));
    EXPECT_EQ(bed.core().Settings().accessPassword, QString());
    form.ModuleBox()->setEditText(QString());
    form.BtnParamOKClick();
    EXPECT_EQ(stored("Module"), QStringLiteral("<none>"));
    EXPECT_EQ(DecryptText(stored("NimpWirelessAP")), QStringLiteral("secret"));
    EXPECT_EQ(bed.core().Settings().accessPassword, QStringLiteral("secret"));
}

TEST_F(SystemDialog, CancelDiscardsWhatWasTypedThePasswordIncluded)
{
    ASSERT_TRUE(bed.started);
    TMainForm& w = *bed.window;
    w.TB_DiscoverClick();
    ASSERT_EQ(bed.devices().Count(), 1);
    bed.devices().SelectAll();

    w.execDialog = [&](QDialog* d) {
        auto* form = qobject_cast<TSystemForm*>(d);
        EXPECT_TRUE(form && ShowActive(form));
        if (!form)
            return int(QDialog::Rejected);
        QLineEdit* password = form->Field("EdNimpPassword");
        password->setFocus();
        QTest::keyClicks(password, QStringLiteral("typo"));
        QLineEdit* module = form->ModuleBox()->lineEdit();
        module->setFocus();
        module->selectAll();
        QTest::keyClicks(module, QStringLiteral("KTR-9"));
        QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("BtnParamCancel")),
                          Qt::LeftButton);
        return form->result();
    };
    w.TB_SystemClick();
    EXPECT_EQ(bed.core().Settings().accessPassword, QString());
    EXPECT_EQ(stored("NimpWirelessAP"), QStringLiteral("<none>"));

    // The next operation reaches the device with the password it has.
    bed.core().SetIP(QStringLiteral("10.0.0.7"), QStringLiteral("255.255.255.0"));
    EXPECT_EQ(bed.devices().GetStatus(bed.devices().Row(0)), QStringLiteral("OK"));
    EXPECT_EQ(bed.fleet->Device(0).IpAddress(), QStringLiteral("10.0.0.7"));

    // Shown again, the dialog offers what is in use, not what was cancelled.
    QString passwordShown = QStringLiteral("<not shown>");
    QString moduleShown;
    w.execDialog = [&](QDialog* d) {
        d->show();
        auto* form = static_cast<TSystemForm*>(d);
        passwordShown = form->Field("EdNimpPassword")->text();
        moduleShown = form->ModuleBox()->currentText();
        d->hide();
        return int(QDialog::Rejected);
    };
    w.TB_SystemClick();
    EXPECT_EQ(passwordShown, QString());
    EXPECT_EQ(moduleShown, QStringLiteral("KTR-4200"));
}

TEST_F(SystemDialog, InterfacesAreTickedAsSetAndSavedOnlyOnOkWhenChanged)
{
    // Every interface of the machine, whatever they are here, and one named that is not.
    QStringList machine;
    for (const VxLocalInterface& l : LocalInterfaces())
        machine.append(l.name);
    LoopbackFleet::WriteSystemIni(
        bed.dir.path(), bed.loopback.SystemKeys(
                            {}, {{QStringLiteral("NimpInterface"), QStringLiteral(" nw-gone ,")}}));
    bed.core().LoadSettings();

    const auto shown = [](const TSystemForm& form) {
        QMap<QString, bool> items;
        for (int i = 0; i < form.InterfaceList()->count(); ++i) {
            const QListWidgetItem* item = form.InterfaceList()->item(i);
            items.insert(item->data(Qt::UserRole).toString(), item->checkState() == Qt::Checked);
        }
        return items;
    };
    {
        TSystemForm form(bed.core(), QStringLiteral("KTR-4200"), bed.window.get());
        form.show();
        QMap<QString, bool> expected;
        for (const QString& name : machine)
            expected.insert(name, false);
        expected.insert(QStringLiteral("nw-gone"), true);
        EXPECT_EQ(shown(form), expected);
        // Each with its addresses, and every row (up to four) shown whole.
        QListWidget* list = form.InterfaceList();
        Settle();
        for (const VxLocalInterface& l : LocalInterfaces())
            for (const QNetworkAddressEntry& e : l.ipv4) {
                const auto items = list->findItems(e.ip().toString(), Qt::MatchContains);
                EXPECT_FALSE(items.isEmpty()) << qPrintable(e.ip().toString());
            }
        const int rows = std::min(list->count(), 4);
        EXPECT_GE(list->viewport()->height(), rows * list->sizeHintForRow(0));
        EXPECT_GE(list->viewport()->width(), list->sizeHintForColumn(0));
        // OK without a change keeps the key as it was written.
        form.BtnParamOKClick();
        EXPECT_EQ(stored("NimpInterface"), QStringLiteral("nw-gone ,"));

        // Cancel forgets a change.
        form.show();
        form.InterfaceList()->item(form.InterfaceList()->count() - 1)->setCheckState(Qt::Unchecked);
        form.reject();
        form.show();
        EXPECT_EQ(shown(form), expected);

        // Untick the missing one, tick the machine's first: saved on OK and in use at once.
        form.InterfaceList()->item(form.InterfaceList()->count() - 1)->setCheckState(Qt::Unchecked);
        if (!machine.isEmpty())
            form.InterfaceList()->item(0)->setCheckState(Qt::Checked);
        form.BtnParamOKClick();
    }
    const QStringList ticked = machine.mid(0, 1);
    EXPECT_EQ(stored("NimpInterface"), ticked.join(QLatin1Char(',')));
    EXPECT_EQ(bed.core().Settings().nimpInterfaces, ticked);
}

TEST_F(SystemDialog, AFieldThatIsNotANumberKeepsTheDialogOpenAndWritesNothing)
{
    TSystemForm form(bed.core(), QStringLiteral("KTR-4200"), bed.window.get());
    ASSERT_TRUE(ShowActive(&form));
    QLineEdit* timeout = form.Field("EdNimpSetTimeout");
    timeout->setFocus();
    timeout->selectAll();
    QTest::keyClicks(timeout, QStringLiteral("0"));
    form.Field("EdRebootTime")->setFocus();
    Settle();
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.texts[0], QStringLiteral("(VxCommon) Please enter a number between 1 and 10!"));
    EXPECT_EQ(timeout->text(), QString()); // nothing was accepted in it since the dialog was made

    form.Field("EdRebootTime")->setText(QStringLiteral("42"));
    form.BtnParamOKClick();
    ASSERT_EQ(boxes.texts.size(), 2);
    EXPECT_EQ(boxes.captions[1], QStringLiteral("Error"));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(stored("RebootTime"), QStringLiteral("<none>"));
}
