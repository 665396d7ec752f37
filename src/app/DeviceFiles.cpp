#include "app/DeviceFiles.h"

#include "app/AppErrors.h"
#include "app/AppSettings.h"
#include "app/DeviceListModel.h"
#include "app/NimpInterfaces.h"
#include "app/TftpPortAdvice.h"
#include "common/AddressCheck.h"
#include "common/TextHelpers.h"
#include "common/VxError.h"
#include "common/VxNetInterface.h"
#include "tftp/TftpLogLine.h"
#include "tftp/VxTFTPServer.h"

#include <QFileInfo>
#include <algorithm>

namespace {
// A put larger than this is not a device's configuration.
constexpr qint64 MaxConfigurationBytes = 1024 * 1024;
constexpr int TftpTimeoutCs = 500;
constexpr int TftpTransmissions = 3;
} // namespace

DeviceFiles::DeviceFiles(std::function<const AppSettings&()> settings, DeviceListModel& devices,
                         std::function<void(const QString&)> log, QString settingsPath)
    : m_settings(std::move(settings)), m_devices(devices), m_log(std::move(log)),
      m_settingsPath(std::move(settingsPath)), m_tftp(std::make_unique<VxTFTPServer>())
{
    m_tftp->SetTimeouts(TftpTimeoutCs, TftpTransmissions);
    m_tftp->SetCallback([this](const VxTFTPMsg& msg, bool*) { OnTftpEvent(msg); });
}

DeviceFiles::~DeviceFiles() = default;

QString DeviceFiles::TftpServerAddressFor(const DeviceRow* row) const
{
    if (m_settings().tftpServerAddress.isEmpty() && row && !row->interfaceName.isEmpty()) {
        // The device answered on this interface: it reaches the console at its address.
        const QList<VxLocalInterface> local = LocalInterfaces();
        const auto it =
            std::find_if(local.cbegin(), local.cend(),
                         [row](const VxLocalInterface& l) { return l.name == row->interfaceName; });
        const QString address =
            it == local.cend()
                ? QString()
                : InterfaceAddressFor(*it, (row ? row->ip : QString()));
        if (address.isEmpty())
            throw VxError(
                AppErrorNoLocalAddress,
                QStringLiteral(
                    "The network interface \"%1\" that %2 answered on has no IPv4 address "
                    "any more to serve files at.")
                    .arg(row->interfaceName,
                         DeviceListModel::MacText(row)));
        return address;
    }
    VxNetInterface interfaces[VxMaxInterfaces];
    const int count = m_settings().tftpServerAddress.isEmpty() ? EnumerateInterfaces(interfaces) : 0;
    const QString address = ChooseTftpServerAddress(
        m_settings().tftpServerAddress, (row ? row->ip : QString()),
        interfaces, count);
    if (address.isEmpty())
        throw VxError(AppErrorNoLocalAddress,
                      QStringLiteral("No network interface is up to serve files to the devices "
                                     "(set TftpServerAddress in system.ini)."));
    return address;
}

QString DeviceFiles::ServeFile(DeviceRow* row, ServeDirection direction, const QString& path,
                           const QString& serverAddress)
{
    EndServing(row);
    const QFileInfo info(path);
    // The server listens only while an operation needs it, and only where the devices are
    // told to find it.
    const QHostAddress listenAt(serverAddress);
    if (!m_tftpListenAddresses.contains(listenAt))
        m_tftpListenAddresses.append(listenAt);
    try {
        m_tftp->Listen(m_tftpListenAddresses, m_settings().tftpPort);
    } catch (const VxError& e) {
        m_tftpListenAddresses.removeAll(listenAt);
        // The server knows why its port could not be bound (port 69 needs privileges).
        const QString detail = m_tftp->StartErrorDetail();
        QString message = detail.isEmpty() ? e.message() : e.message() + QLatin1Char(' ') + detail;
        const QString advice = TftpPortAdvice(m_settings().tftpPort, m_settingsPath);
        if (!advice.isEmpty())
            message += QStringLiteral(".\n") + advice;
        throw VxError(e.code(), message);
    }
    if (m_settings().developerMode)
        m_log(QStringLiteral("Tftp sever path:") + info.absolutePath());

    // Exactly this file, this way, for this device, once: from where it answered Discover,
    // and from the address the list shows for it (a device may answer from one and fetch from
    // the other right after its address was set).
    QList<QHostAddress> peers;
    if (!row->discoverSource.isNull())
        peers.append(row->discoverSource);
    const QHostAddress listed((row ? row->ip : QString()));
    if (listed.protocol() == QAbstractSocket::IPv4Protocol && listed != QHostAddress::AnyIPv4
        && listed != QHostAddress::Broadcast && !peers.contains(listed))
        peers.append(listed);
    if (!row->conflict.isEmpty() || peers.isEmpty()) {
        // Nothing is served for a MAC that two hosts claim.
        m_log(EscapeUntrusted(row->macText)
                  + QStringLiteral(" nothing is served for this device: ") + row->conflict);
        return info.fileName();
    }
    VxTFTPGrant grant;
    grant.operation = direction == ServeDirection::DeviceFetches ? TFTP_OP_READ : TFTP_OP_WRITE;
    grant.peer = peers.takeFirst();
    grant.alsoFrom = peers;
    grant.name = info.fileName();
    grant.path = info.absoluteFilePath();
    // A device's configuration is a few kilobytes; nothing larger is taken from the LAN.
    grant.maxBytes = direction == ServeDirection::DevicePuts ? MaxConfigurationBytes : 0;
    const quint64 id = m_tftp->Grant(grant);
    m_grantRows.insert(id, row->id);
    row->job.tftpGrant = std::make_shared<DeviceGrant>(*this, m_alive, id);
    return info.fileName();
}

DeviceGrant::~DeviceGrant()
{
    if (m_alive.lock())
        m_files->revoke(m_id);
}

void DeviceFiles::revoke(quint64 id)
{
    m_tftp->Revoke(id);
    m_grantRows.remove(id);
}

void DeviceFiles::EndServing(DeviceRow* row)
{
    row->job.tftpGrant.reset();
}

void DeviceFiles::EndAllServing()
{
    for (int i = 0; i < m_devices.Count(); ++i)
        m_devices.Row(i)->job.tftpGrant.reset();
    // Whatever a row no longer holds (the list was cleared) goes too.
    m_tftp->RevokeAll();
    m_grantRows.clear();
    m_tftp->StopListening();
    m_tftpListenAddresses.clear();
}

void DeviceFiles::OnTftpEvent(const VxTFTPMsg& msg)
{
    const QString line = TftpEventLogLine(msg, m_settings().developerMode);
    if (!line.isEmpty())
        m_log(line);
    // Only a refusal and a transfer's end say something of the device; the reports of every
    // packet between them pass by.
    const bool ended = msg.status == TFTP_SUCCESS || (msg.status < 0 && msg.status != TFTP_REFUSED);
    if (msg.grant == 0 || !ended)
        return;
    DeviceRow* row = m_devices.RowById(m_grantRows.value(msg.grant));
    if (!row)
        return;
    const QString mac = EscapeUntrusted(row->macText);
    const QString file = EscapeUntrusted(msg.fileName);
    const bool fetch = msg.operation == TFTP_OP_READ;
    if (msg.status == TFTP_GRANT_TAKEN) {
        m_log(mac + QStringLiteral(" refused a second transfer of %1 %2 %3: it is served once, "
                                       "to the device")
                            .arg(file, fetch ? QStringLiteral("to") : QStringLiteral("from"),
                                 msg.peerAddress));
        return;
    }
    // The transfer's outcome belongs to the device that was granted it.
    DeviceTransfer& t = row->job.transfer;
    t.happened = true;
    t.ok = msg.status == TFTP_SUCCESS;
    t.file = msg.fileName;
    t.peer = QHostAddress(msg.peerAddress);
    t.bytes = msg.bytes;
    t.blocksResent = msg.blocksResent;
    t.error = t.ok ? QString() : StripTftpPrefix(msg.message);
    m_log(mac + QStringLiteral(" TFTP %1 %2 %3 %4: %5 bytes, %6 blocks resent%7")
                        .arg(fetch ? QStringLiteral("sent") : QStringLiteral("received"), file,
                             fetch ? QStringLiteral("to") : QStringLiteral("from"), msg.peerAddress)
                        .arg(msg.bytes)
                        .arg(msg.blocksResent)
                        .arg(t.ok ? QString() : QStringLiteral(", failed: ") + t.error));
}

QString StripTftpPrefix(const QString& message)
{
    const QString tag = QStringLiteral("(VxTFTP) ");
    return message.startsWith(tag) ? message.mid(tag.size()) : message;
}
