// Operations while another host on the LAN tries to read and replace what the console serves.
#include "AppTestBed.h"
#include "app/BatchOperations.h"
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
    HostilePeer(quint16 serverPort, QList<QPair<int, QString>> requests)
        : m_port(serverPort), m_requests(std::move(requests))
    {
        m_socket.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
            while (m_socket.hasPendingDatagrams()) {
                QByteArray d(int(m_socket.pendingDatagramSize()), 0);
                m_socket.readDatagram(d.data(), d.size());
                answers.append(d);
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

private:
    QUdpSocket m_socket;
    QTimer m_timer;
    quint16 m_port;
    QList<QPair<int, QString>> m_requests;
    QList<QByteArray> m_writes;
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
