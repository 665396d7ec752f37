// Operations while another host on the LAN tries to read and replace what the console serves.
#include "AppTestBed.h"
#include "app/BatchOperations.h"
#include "common/VxError.h"
#include "app/DeviceListModel.h"
#include "tftp/VxTFTPServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QUdpSocket>
#include <gtest/gtest.h>

namespace {


// Another host (127.0.0.2) that keeps asking the console's TFTP port for the names it sees
// go by, and records every answer.
class HostilePeer
{
public:
    // forged: what the peer puts when a write of its is acknowledged (empty: it stops there).
    HostilePeer(quint16 serverPort, QList<QPair<int, QString>> requests,
                const QString& address = QStringLiteral("127.0.0.2"),
                const QByteArray& forged = QByteArray())
        : m_port(serverPort), m_requests(std::move(requests))
    {
        m_socket.bind(QHostAddress(address), 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this, forged] {
            while (m_socket.hasPendingDatagrams()) {
                QByteArray d(int(m_socket.pendingDatagramSize()), 0);
                QHostAddress from;
                quint16 fromPort = 0;
                m_socket.readDatagram(d.data(), d.size(), &from, &fromPort);
                answers.append(d);
                // An ACK of block n: block n + 1 of the forged file follows.
                if (!forged.isEmpty() && d.size() == 4 && d[0] == 0 && d[1] == 4) {
                    const int n = (quint8(d[2]) << 8) | quint8(d[3]);
                    if (n * 512 > forged.size())
                        continue;
                    QByteArray data("\0\3", 2);
                    data.append(char((n + 1) >> 8)).append(char((n + 1) & 0xff));
                    m_socket.writeDatagram(data + forged.mid(n * 512, 512), from, fromPort);
                    writesAcknowledged += n == 0;
                }
            }
        });
        QObject::connect(&m_timer, &QTimer::timeout, [this] { sendAll(); });
        m_timer.start(20);
    }

    void sendAll()
    {
        for (const auto& [opcode, name] : std::as_const(m_requests)) {
            QByteArray p;
            p.append(char(0)).append(char(opcode)).append(name.toLatin1()).append('\0');
            p.append("octet").append('\0');
            if (opcode == TFTP_OP_WRITE)
                m_writes.append(p);
            m_socket.writeDatagram(p, QHostAddress::LocalHost, m_port);
        }
        ++rounds;
    }

    // Whether any answer was something else than an ERROR of the given code for the kind.
    int answersOf(int opcode) const
    {
        int n = 0;
        for (const QByteArray& a : answers)
            n += a.size() >= 4 && a[1] == char(opcode);
        return n;
    }

    QList<QByteArray> answers;
    int rounds = 0;
    int writesAcknowledged = 0;

private:
    QUdpSocket m_socket;
    QTimer m_timer;
    quint16 m_port;
    QList<QPair<int, QString>> m_requests;
    QList<QByteArray> m_writes;
};


// Stands between the console and two fleets at the NIMP port: every request goes to both, and
// each fleet's replies reach the console from that fleet's own address, as two hosts on one LAN
// would answer one broadcast.
class NimpRelay
{
public:
    // The console takes replies from its target port only: both ends of the relay use one port.
    NimpRelay(quint16 realPort, quint16 otherPort) : m_realPort(realPort), m_otherPort(otherPort)
    {
        m_front.bind(QHostAddress::LocalHost, 0);
        m_other.bind(QHostAddress(QStringLiteral("127.0.0.2")), m_front.localPort());
        QObject::connect(&m_front, &QUdpSocket::readyRead, [this] {
            while (m_front.hasPendingDatagrams()) {
                QByteArray d(int(m_front.pendingDatagramSize()), 0);
                QHostAddress from;
                quint16 fromPort = 0;
                m_front.readDatagram(d.data(), d.size(), &from, &fromPort);
                if (fromPort == m_realPort) {
                    m_front.writeDatagram(d, m_console, m_consolePort);
                    continue;
                }
                m_console = from;
                m_consolePort = fromPort;
                m_front.writeDatagram(d, QHostAddress::LocalHost, m_realPort);
                m_other.writeDatagram(d, QHostAddress(QStringLiteral("127.0.0.2")), m_otherPort);
            }
        });
        QObject::connect(&m_other, &QUdpSocket::readyRead, [this] {
            while (m_other.hasPendingDatagrams()) {
                QByteArray d(int(m_other.pendingDatagramSize()), 0);
                m_other.readDatagram(d.data(), d.size());
                m_other.writeDatagram(d, m_console, m_consolePort);
            }
        });
    }
    bool Bound() const { return m_other.state() == QAbstractSocket::BoundState; }
    quint16 Port() const { return m_front.localPort(); }

private:
    QUdpSocket m_front, m_other;
    quint16 m_realPort, m_otherPort;
    QHostAddress m_console;
    quint16 m_consolePort = 0;
};

QByteArray sha256(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

} // namespace

TEST(HostileLan, AnUpgradeServesTheImageOnlyToTheDevicesAndNothingElseToAnyone)
{
    AppTestBed bed(QuickFleetOptions(4), kOneSecondWaits);
    discoverAll(bed, 4);
    QDir().mkpath(bed.core->FirmwareDirectory());
    const QString imagePath = QDir(bed.core->FirmwareDirectory()).filePath("ktr.bin");
    const QByteArray image = "FW_VERSION=2.00.01u\n" + QByteArray(20000, 'x');
    QFile f(imagePath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(image);
    f.close();
    QList<QPair<int, QString>> requests = {{TFTP_OP_WRITE, QStringLiteral("ktr.bin")},
                                           {TFTP_OP_READ, QStringLiteral("ktr.bin")}};
    for (int i = 0; i < 4; ++i) {
        requests.append({TFTP_OP_READ, bed.fleet->Device(i).MacText() + QStringLiteral(".ORI")});
        requests.append({TFTP_OP_WRITE, bed.fleet->Device(i).MacText() + QStringLiteral(".ORI")});
    }
    HostilePeer peer(bed.tftpPort, requests);

    UpgradeFirmware(*bed.core, imagePath);

    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bed.status(i), QStringLiteral("OK")) << i;
        // The device flashed the administrator's image, not the peer's.
        EXPECT_EQ(bed.fleet->Device(i).flashedFirmwareSha256, QString::fromLatin1(sha256(image)));
    }
    QFile again(imagePath);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), image);
    // The peer asked all along and got nothing but refusals: no DATA, no ACK.
    EXPECT_GT(peer.rounds, 10);
    EXPECT_GT(peer.answersOf(5), 0);
    EXPECT_EQ(peer.answersOf(3), 0);
    EXPECT_EQ(peer.answersOf(4), 0);
    // Each refusal is logged once per peer and name, however often it is asked.
    int refusedLines = 0;
    for (const QString& line : bed.core->Log().Lines())
        refusedLines += line.contains(QLatin1String("127.0.0.2"));
    EXPECT_GT(refusedLines, 0);
    EXPECT_LE(refusedLines, requests.size());
    // Nothing is served once the operation is over.
    EXPECT_FALSE(bed.core->TftpServer().IsListening());
    EXPECT_EQ(bed.core->TftpServer().GrantCount(), 0);
}

TEST(HostileLan, AConfigurationWriteCannotBeReadOrReplacedByAnotherHost)
{
    AppTestBed bed(QuickFleetOptions(2), kOneSecondWaits);
    discoverAll(bed, 2);
    QList<QPair<int, QString>> requests;
    for (int i = 0; i < 2; ++i)
        for (const char* ext : {".WR", ".RD"})
            for (int op : {TFTP_OP_READ, TFTP_OP_WRITE})
                requests.append({op, bed.fleet->Device(i).MacText() + QLatin1String(ext)});
    HostilePeer peer(bed.tftpPort, requests);
    bed.config.SetValue(QStringLiteral("80211a_ssid"), QStringLiteral("Lobby A"));
    bed.config.SetMultipleDevicesMode();
    ApplyConfiguration(*bed.core);

    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(bed.status(i), QStringLiteral("OK")) << i;
        EXPECT_EQ(bed.fleet->Device(i).config.Value(QStringLiteral("80211a_ssid")),
                  QStringLiteral("Lobby A"));
    }
    EXPECT_GT(peer.rounds, 10);
    EXPECT_EQ(peer.answersOf(3), 0);
    EXPECT_EQ(peer.answersOf(4), 0);
}

TEST(HostileLan, AHostClaimingADevicesMacAtDiscoverMakesItAConflictNothingIsSentToOrServedFor)
{
    AppTestBed bed(QuickFleetOptions(3), kOneSecondWaits);
    ASSERT_TRUE(bed.started);
    // The other host answers Discover as device 0 does, from 127.0.0.2.
    Ktr4200FleetOptions o = QuickFleetOptions(1);
    o.baseMac = bed.fleet->Device(0).MacText();
    o.bindAddress = QHostAddress(QStringLiteral("127.0.0.2"));
    o.port = 0;
    o.tftpPort = bed.tftpPort;
    Ktr4200Fleet impostor(o);
    ASSERT_TRUE(impostor.Start());
    NimpRelay relay(bed.fleet->Port(), impostor.Port());
    ASSERT_TRUE(relay.Bound());
    bed.WriteIni(bed.loopback.SystemKeys({{QStringLiteral("NimpPort"), QString::number(relay.Port())}},
                                         kOneSecondWaits));
    bed.core->LoadSettings();
    const QString mac = bed.fleet->Device(0).MacText();
    QList<QPair<int, QString>> requests;
    for (const char* ext : {".ORI", ".WR", ".RD"})
        for (int op : {TFTP_OP_READ, TFTP_OP_WRITE})
            requests.append({op, mac + QLatin1String(ext)});
    HostilePeer peer(bed.tftpPort, requests);

    bed.core->Discover();
    ASSERT_EQ(bed.devices().Count(), 3);
    DeviceRow* claimed = bed.rowOf(0);
    ASSERT_NE(claimed, nullptr);
    EXPECT_EQ(bed.status(0), QString::fromLatin1(ConflictStatusText));
    // Both answers are in the log, with their addresses.
    bool logged = false;
    for (const QString& line : bed.core->Log().Lines())
        logged = logged || (line.contains(mac) && line.contains(QLatin1String("127.0.0.1"))
                            && line.contains(QLatin1String("127.0.0.2")));
    EXPECT_TRUE(logged);

    // An operation on a selection that holds it is refused before anything is sent.
    const QString imagePath = QDir(bed.dir.path()).filePath("ktr.bin");
    QFile f(imagePath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("FW_VERSION=2.00.01u\n" + QByteArray(5000, 'x'));
    f.close();
    bed.devices().SelectAll();
    const qint64 sent = bed.fleet->DatagramsReceived();
    try {
        UpgradeFirmware(*bed.core, imagePath);
        ADD_FAILURE() << "the upgrade went on";
    } catch (const VxError& e) {
        EXPECT_TRUE(e.message().contains(mac)) << e.message().toStdString();
    }
    EXPECT_EQ(bed.fleet->DatagramsReceived(), sent);

    // Without it the others are upgraded; nothing of the claimed MAC is served to anyone.
    bed.devices().SetSelected(claimed, false);
    UpgradeFirmware(*bed.core, imagePath);
    EXPECT_EQ(bed.status(1), QStringLiteral("OK"));
    EXPECT_EQ(bed.status(2), QStringLiteral("OK"));
    EXPECT_EQ(bed.fleet->Device(0).counters.put + bed.fleet->Device(0).counters.fetch, 0);
    EXPECT_GT(peer.rounds, 10);
    EXPECT_EQ(peer.answersOf(3), 0);
    EXPECT_EQ(peer.answersOf(4), 0);
    impostor.Stop();
}

TEST(HostileLan, AGrantServesOneTransferSoAHostAtTheDevicesAddressCannotReplaceItsConfiguration)
{
    // The devices answer a while after their transfers, and the other host shares their address:
    // it keeps writing every device's saved configuration with one of its own.
    Ktr4200FleetOptions o = QuickFleetOptions(3);
    o.replyDelayMs = 300;
    AppTestBed bed(o, kOneSecondWaits);
    for (int i = 0; i < 3; ++i)
        bed.fleet->Device(i).config.SetValue(QStringLiteral("80211b_ssid"),
                                             QStringLiteral("Floor %1").arg(i));
    discoverAll(bed, 3);
    QList<QStringList> before;
    QList<QPair<int, QString>> requests;
    for (int i = 0; i < 3; ++i) {
        before.append(bed.fleet->Device(i).config.RenderLines());
        requests.append({TFTP_OP_WRITE, bed.fleet->Device(i).MacText() + QStringLiteral(".ORI")});
    }
    QByteArray forged = bed.fleet->Device(0).config.Render(QStringLiteral("KTR-4200"));
    forged.replace("Floor 0", "TAKEN");
    ASSERT_TRUE(forged.contains("TAKEN"));
    HostilePeer peer(bed.tftpPort, requests, QStringLiteral("127.0.0.1"), forged);
    const QString imagePath = QDir(bed.dir.path()).filePath("ktr.bin");
    QFile f(imagePath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("FW_VERSION=2.00.01u\n" + QByteArray(5000, 'x'));
    f.close();

    UpgradeFirmware(*bed.core, imagePath);

    // Each device ends with its own configuration: upgraded with it, or stopped before its
    // factory reset. A row reads "OK" only for the first.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bed.fleet->Device(i).config.Value(QStringLiteral("80211b_ssid")),
                  QStringLiteral("Floor %1").arg(i));
        EXPECT_TRUE(bed.fleet->Device(i).config.RenderLines() == before.at(i)) << i;
        if (bed.status(i) == QStringLiteral("OK"))
            EXPECT_EQ(bed.fleet->Device(i).counters.factoryReset, 1) << i;
        else
            EXPECT_EQ(bed.fleet->Device(i).counters.factoryReset, 0) << i;
    }
    // Each grant took one write at most; the others were refused and said so.
    EXPECT_LE(peer.writesAcknowledged, 3);
    bool refused = false;
    for (const QString& line : bed.core->Log().Lines())
        refused = refused || line.contains(QLatin1String("refused a second transfer"));
    EXPECT_TRUE(refused);
}
