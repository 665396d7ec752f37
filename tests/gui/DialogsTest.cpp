#include "WindowTestBed.h"

#include "app/ui/TProgressForm.h"
#include "app/ui/TSetIPForm.h"
#include "app/ui/TSystemForm.h"
#include "common/VxCipher.h"
#include "common/VxIni.h"
#include "common/ui/VxEditConstraint.h"
#include "common/ui/VxIPAddressPanel.h"

#include <QComboBox>
#include <QLineEdit>
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
        QTest::keyClick(QApplication::focusWidget(), ch.toLatin1());
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

    // The netmask's last octet is still being typed when OK is pressed.
    typeKeys(QStringLiteral("2552550.12"));
    ASSERT_TRUE(octetsOf(form.PanelMask())[3]->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    Settle();
    EXPECT_TRUE(boxes.texts.isEmpty()) << qPrintable(boxes.texts.join(QLatin1Char('|')));
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Netmask(), QStringLiteral("255.255.0.12"));
}

TEST(SetIPDialog, AnOctetAbove255IsRefusedWhenLeft)
{
    RecordingMessageBoxes boxes;
    TSetIPForm form(nullptr);
    ASSERT_TRUE(ShowActive(&form));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("IP Setting"));
    typeAddress(form.PanelIPBegin(), QStringLiteral("10.0.0.255"));
    typeAddress(form.PanelMask(), QStringLiteral("2552552550"));
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
    EXPECT_EQ(form.IPAddress(), QStringLiteral("10.0.0.255")); // an address ending in .255 is fine
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
    form.BtnParamDefaultClick();
    form.Field("EdRebootTime")->setText(QStringLiteral("25"));
    form.BtnParamOKClick();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(boxes.texts.isEmpty());

    const QStringList order = keyOrder();
    const QStringList written = {QStringLiteral("RebootTime"),       QStringLiteral("ConfigUploadTime"),
                                 QStringLiteral("ConfigDownloadTime"), QStringLiteral("ConfigFlashUpdateTime"),
                                 QStringLiteral("NimpWirelessAP"),   QStringLiteral("FactoryResetTime"),
                                 QStringLiteral("FWDownloadTime"),   QStringLiteral("FWFlashUpdateTime"),
                                 QStringLiteral("DiscoveryRetry"),   QStringLiteral("Module")};
    // Keys that were not in the file are added in the order they are saved.
    EXPECT_EQ(order.mid(order.size() - written.size()), written);
    EXPECT_EQ(stored("NimpSetTimeout"), QStringLiteral("5"));
    EXPECT_EQ(stored("RebootTime"), QStringLiteral("25"));
    EXPECT_EQ(stored("DiscoveryTimeout"), QStringLiteral("5"));
    // An empty password is stored encrypted, not as an empty value.
    EXPECT_EQ(stored("NimpWirelessAP"), EncryptText(QString()));
    EXPECT_EQ(stored("NimpWirelessAP"), QStringLiteral("00000000"));
    EXPECT_EQ(bed.core().Settings().rebootTime, 2500);
}

TEST_F(SystemDialog, PasswordAppliesAtOnceAndAClearedModuleIsKept)
{
    TSystemForm form(bed.core(), QStringLiteral("KTR-4200"), bed.window.get());
    form.show();
    form.Field("EdNimpPassword")->setText(QStringLiteral("secret"));
    EXPECT_EQ(bed.core().Settings().accessPassword, QStringLiteral("secret"));
    form.ModuleBox()->setEditText(QString());
    form.BtnParamOKClick();
    EXPECT_EQ(stored("Module"), QStringLiteral("<none>"));
    EXPECT_EQ(DecryptText(stored("NimpWirelessAP")), QStringLiteral("secret"));
    EXPECT_EQ(bed.core().Settings().accessPassword, QStringLiteral("secret"));
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
