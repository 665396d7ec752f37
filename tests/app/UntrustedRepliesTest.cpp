// What other hosts on the LAN and the devices themselves send is not trusted: a forged
// acknowledgement must not end a row "OK" when strict replies are asked for, and names
// reported by devices are shown with whatever does not print escaped.
#include "AppTestBed.h"
#include "app/DeviceListModel.h"
#include "common/VxCipher.h"
#include "nimp/VxNIMPWire.h"

#include <QUdpSocket>
#include <gtest/gtest.h>

namespace {

const QString Password = QStringLiteral("secret");

// Device 0 refuses every Set ("not done"), device 1 does what it is told; both answer 400 ms
// late. A second host answers each Set first with an unsigned "done" for every request number.
struct SpoofedFleet
{
    explicit SpoofedFleet(bool strict)
        : bed(options(), {{QStringLiteral("StrictReplies"), strict ? "1" : "0"},
                          {QStringLiteral("NimpWirelessAP"), EncryptText(Password)},
                          // Room for the first try and two retries of a late "not done".
                          {QStringLiteral("NimpSetTimeout"), QStringLiteral("3")}})
    {
        // The devices' port on another loopback address: the console takes replies from any
        // address as long as they come from the NIMP port.
        bound = spoofer.bind(QHostAddress(QStringLiteral("127.0.0.2")), bed.fleet->Port());
        QObject::connect(bed.fleet.get(), &Ktr4200Fleet::RequestHandled,
                         [this](int device, int command, int) {
                             if (command == NIMP_CMD_SET)
                                 spoofDone(bed.fleet->Device(device).mac);
                         });
    }

    static Ktr4200FleetOptions options()
    {
        Ktr4200FleetOptions o;
        o.deviceCount = 2;
        o.baseIp = QStringLiteral("10.0.0.20");
        o.password = Password;
        o.notDone.insert(0);
        o.replyDelayMs = 400;
        return o;
    }

    void spoofDone(const QByteArray& mac)
    {
        const quint16 console = bed.core->Queue().Client().LocalPort();
        for (int n = 0; n < 256; ++n)
            spoofer.writeDatagram(
                NimpBuildDatagram(NIMP_CMD_SET, uint8_t(n), NIMP_STATUS_DONE, mac, {}, {}),
                QHostAddress(QHostAddress::LocalHost), console);
        ++spoofed;
    }

    AppTestBed bed;
    QUdpSocket spoofer;
    bool bound = false;
    int spoofed = 0;
};

} // namespace

TEST(UntrustedReplies, StrictRepliesKeepASpoofedDoneFromEndingARowOk)
{
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "StrictReplies=1" : "StrictReplies=0");
        SpoofedFleet f(strict);
        ASSERT_TRUE(f.bed.started);
        ASSERT_TRUE(f.bound);
        f.bed.core->Discover();
        ASSERT_EQ(f.bed.devices().Count(), 2);
        f.bed.devices().SelectAll();
        f.bed.core->SetIP(QStringLiteral("10.9.0.10"), QStringLiteral("255.255.255.0"));

        EXPECT_GT(f.spoofed, 0);
        EXPECT_EQ(f.bed.fleet->Device(0).IpAddress(), QStringLiteral("10.0.0.20"));
        // The device that did it ends "OK" either way.
        EXPECT_EQ(f.bed.status(1), QStringLiteral("OK"));
        EXPECT_EQ(f.bed.fleet->Device(1).IpAddress(), QStringLiteral("10.9.0.11"));
        if (strict)
            EXPECT_EQ(f.bed.status(0), QStringLiteral("Not Done!"));
        else
            EXPECT_EQ(f.bed.status(0), QStringLiteral("OK")); // the forgery was believed
    }
}

TEST(UntrustedReplies, ADeviceNameWithControlCharactersIsShownEscapedAndKeptExact)
{
    Ktr4200FleetOptions o;
    o.deviceCount = 1;
    o.baseIp = QStringLiteral("10.0.0.20");
    const QString name = QStringLiteral("lobby\r\n021A2B0000FF  KTR-4200  forged");
    o.deviceNameAt.insert(0, name);
    AppTestBed bed(o);
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    ASSERT_EQ(bed.devices().Count(), 1);
    DeviceRow* row = bed.rowOf(0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->discoverSource, QHostAddress(QHostAddress::LocalHost));

    DeviceListModel& model = bed.devices();
    const QModelIndex cell = model.index(0, DeviceListModel::ColDeviceName);
    EXPECT_EQ(model.GetField(row, QStringLiteral("Device Name")), name);
    EXPECT_EQ(model.data(cell).toString(),
              QStringLiteral("lobby\\r\\n021A2B0000FF  KTR-4200  forged"));

    // A name read back from a device's configuration file may hold any character.
    model.SetField(row, QStringLiteral("Device Name"), QStringLiteral("\x1B[2J\x1B[Hap"));
    EXPECT_EQ(model.data(cell).toString(), QStringLiteral("\\x1B[2J\\x1B[Hap"));
    bed.core->LogAction(QStringLiteral("ap \x1B]0;title\x07\r\n12:00 00'00 forged"));
    EXPECT_TRUE(bed.core->Log().Lines().last().endsWith(
        QStringLiteral("ap \\x1B]0;title\\x07\\r\\n12:00 00'00 forged")));
}
