#include "sim/Ktr4200Fleet.h"

#include "common/Sha256.h"
#include "common/VxError.h"
#include "common/Wait.h"
#include "nimp/VxNIMPWire.h"
#include "sim/SimTftpClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>

#include <optional>

namespace {

// Receive and send buffers of the fleet's socket: a Discover to thousands of devices is
// answered as one burst, and requests to many devices may arrive as one.
constexpr int SocketBufferBytes = 8 * 1024 * 1024;
// Datagrams handled per readyRead before the event loop gets a turn.
constexpr int MaxDatagramsPerRead = 20000;
// Marker of the version text inside a simulated firmware image.
constexpr char FirmwareVersionMarker[] = "FW_VERSION=";

std::optional<uint32_t> AddressValue(const QString& text)
{
    if (!SimDeviceConfig::IsDottedAddress(text))
        return std::nullopt;
    return QHostAddress(text).toIPv4Address();
}

bool IsUsableMask(uint32_t mask)
{
    // Contiguous ones from the top, at least one.
    return mask != 0 && ((~mask + 1) & ~mask) == 0;
}

bool IsUsableHostAddress(uint32_t ip, uint32_t mask)
{
    const uint32_t first = ip >> 24;
    if (ip == 0 || ip == 0xFFFFFFFFu || first == 0 || first >= 224)
        return false;
    const uint32_t host = ip & ~mask;
    // In nets of more than two addresses the first and last are the net and broadcast.
    if (~mask > 1 && (host == 0 || host == ~mask))
        return false;
    return true;
}

bool IsTextFile(const QByteArray& data)
{
    for (char c : data) {
        const auto u = uint8_t(c);
        if (u < 0x20 && u != '\r' && u != '\n' && u != '\t')
            return false;
        if (u == 0x7F)
            return false;
    }
    return !data.isEmpty();
}

bool IsFirmware(const QByteArray& data)
{
    return data.contains(FirmwareVersionMarker) || !IsTextFile(data);
}

// The version a firmware image installs: the text after its marker, else the image's
// file name without extension.
QString FirmwareVersion(const QByteArray& image, const QString& fileName)
{
    const int at = image.indexOf(FirmwareVersionMarker);
    if (at >= 0) {
        QString version;
        for (int i = at + int(sizeof(FirmwareVersionMarker)) - 1; i < image.size() && version.size() < 32; ++i) {
            const auto u = uint8_t(image[i]);
            if (u <= 0x20 || u >= 0x7F)
                break;
            version += QChar(u);
        }
        if (!version.isEmpty())
            return version;
    }
    QString base = fileName.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    const int dot = base.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        base.truncate(dot);
    return base;
}

bool IsOwnAddress(const QHostAddress& address)
{
    if (address.isLoopback())
        return true;
    const auto own = QNetworkInterface::allAddresses();
    for (const auto& a : own) {
        if (a.isEqual(address, QHostAddress::TolerantConversion))
            return true;
    }
    return false;
}

} // namespace

Ktr4200Fleet::Ktr4200Fleet(Ktr4200FleetOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_random(m_options.seed)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Ktr4200Fleet::RunScheduled);
    connect(&m_socket, &QUdpSocket::readyRead, this, &Ktr4200Fleet::OnReadyRead);
    BuildDevices();
}

Ktr4200Fleet::~Ktr4200Fleet()
{
    Stop();
}

void Ktr4200Fleet::BuildDevices()
{
    bool ok = false;
    const uint64_t baseMac = m_options.baseMac.toULongLong(&ok, 16);
    const uint32_t baseIp = QHostAddress(m_options.baseIp).toIPv4Address();
    const uint32_t mask = QHostAddress(m_options.netmask).toIPv4Address();
    // Consecutive addresses from the base, stepping over each net's own and broadcast
    // address: a device never starts on an address it would refuse to be given.
    uint32_t nextIp = baseIp;
    const int count = std::max(0, m_options.deviceCount);
    m_devices.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        auto device = std::make_unique<SimDevice>();
        device->index = i;
        const uint64_t mac = ((ok ? baseMac : 0) + uint64_t(i)) & 0xFFFFFFFFFFFFull;
        device->mac = QByteArray(6, '\0');
        for (int b = 0; b < 6; ++b)
            device->mac[b] = char((mac >> (8 * (5 - b))) & 0xFF);
        device->model = m_options.modelAt.value(i, m_options.model);
        device->password = m_options.passwordAt.value(i, m_options.password);
        device->version = m_options.versionAt.value(i, m_options.version);
        device->silent = m_options.silent.contains(i);
        device->notDone = m_options.notDone.contains(i);
        device->tftpFail = m_options.tftpFail.contains(i);
        device->badPassword = m_options.badPassword.contains(i);
        for (int skip = 0; skip < 2 && !IsUsableHostAddress(nextIp, mask); ++skip)
            ++nextIp;
        const QString ip = QHostAddress(nextIp++).toString();
        device->config.ResetToFactory(ip, m_options.netmask, QStringLiteral("AP-") + device->MacText().right(6),
                                      SimDeviceConfig::RegionOfVersion(device->version));
        if (m_options.deviceNameAt.contains(i))
            device->config.SetValue(QStringLiteral("device_name"), m_options.deviceNameAt.value(i));
        m_byMac.insert(device->mac, i);
        m_devices.push_back(std::move(device));
    }
}

bool Ktr4200Fleet::Start()
{
    if (m_running)
        return true;
    if (!m_socket.bind(m_options.bindAddress, m_options.port)) {
        m_error = QStringLiteral("cannot bind %1:%2: %3")
                      .arg(m_options.bindAddress.toString())
                      .arg(m_options.port)
                      .arg(m_socket.errorString());
        return false;
    }
    m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, SocketBufferBytes);
    m_socket.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, SocketBufferBytes);
    m_boundPort = m_socket.localPort();
    m_running = true;
    m_error.clear();
    return true;
}

void Ktr4200Fleet::Stop()
{
    m_running = false;
    m_socket.close();
    m_timer.stop();
    m_scheduled.clear();
    for (auto& device : m_devices) {
        if (device->transfer)
            device->transfer->Abort();
        device->transfer = nullptr;
        device->flashPending = false;
    }
}

quint16 Ktr4200Fleet::Port() const
{
    return m_boundPort;
}

SimDevice* Ktr4200Fleet::FindDevice(const QByteArray& mac)
{
    const auto it = m_byMac.constFind(mac);
    return it == m_byMac.cend() ? nullptr : m_devices[size_t(*it)].get();
}

void Ktr4200Fleet::OnReadyRead()
{
    QByteArray buffer;
    for (int i = 0; i < MaxDatagramsPerRead && m_socket.hasPendingDatagrams(); ++i) {
        const qint64 size = m_socket.pendingDatagramSize();
        buffer.resize(std::max<qint64>(size, 0));
        QHostAddress from;
        quint16 port = 0;
        const qint64 got = m_socket.readDatagram(buffer.data(), buffer.size(), &from, &port);
        if (got < 0)
            break;
        buffer.resize(got);
        HandleDatagram(buffer, from, port);
        if (!m_running)
            return;
    }
    // What is left (a flood beyond the per-call bound) raises readyRead again on the next
    // turn. Reading it from anywhere but readyRead would be fatal: an unbuffered QUdpSocket
    // re-arms its read notifier only when a readyRead handler reads, so a readyRead for a
    // datagram already taken finds nothing and the socket never signals again.
}

void Ktr4200Fleet::HandleDatagram(const QByteArray& datagram, const QHostAddress& from, quint16 port)
{
    ++m_datagramsReceived;
    NimpHeader header;
    if (!NimpAcceptDatagram(datagram, &header))
        return;
    const ReplyTo to{from, port, header.command, header.requestNumber};
    if (header.mac == NimpBroadcastMac) {
        // Only a discovery reaches every device; a Get or Set must name one.
        if (header.command != NIMP_CMD_DISCOVER)
            return;
        for (auto& device : m_devices)
            HandleRequest(*device, header, datagram, to);
        return;
    }
    if (SimDevice* device = FindDevice(header.mac))
        HandleRequest(*device, header, datagram, to);
}

void Ktr4200Fleet::HandleRequest(SimDevice& device, const NimpHeader& header,
                                 const QByteArray& datagram, const ReplyTo& to)
{
    if (TickCount() < device.busyUntil) {
        ++device.counters.ignoredBusy;
        return;
    }
    if (Draw(m_options.dropRequests)) {
        ++device.counters.droppedRequests;
        return;
    }
    switch (header.command) {
    case NIMP_CMD_DISCOVER:
        ++device.counters.discover;
        // Discovery carries no password check: the console discovers with an empty one.
        Reply(device, to, NIMP_STATUS_DONE, DiscoveryRecords(device));
        return;
    case NIMP_CMD_GET:
        ++device.counters.get;
        break;
    case NIMP_CMD_SET:
        ++device.counters.set;
        break;
    default:
        ++device.counters.unsupported;
        break;
    }
    if (device.silent)
        return;
    if (device.badPassword ||
        !NimpDigestMatches(datagram, NimpPasswordBytes(device.password))) {
        ++device.counters.wrongPassword;
        Reply(device, to, NIMP_STATUS_WRONG_PASSWORD);
        return;
    }
    if (device.notDone) {
        Reply(device, to, NIMP_STATUS_NOT_DONE);
        return;
    }
    switch (header.command) {
    case NIMP_CMD_GET:
        HandleGet(device, datagram, to);
        break;
    case NIMP_CMD_SET:
        HandleSet(device, datagram, to);
        break;
    default:
        Reply(device, to, NIMP_STATUS_NOT_SUPPORTED);
        break;
    }
}

QByteArray Ktr4200Fleet::DiscoveryRecords(const SimDevice& device) const
{
    QByteArray records;
    NimpAppendRecord(records, VarModelName, device.model.toLatin1());
    NimpAppendRecord(records, VarMacAddress, device.mac);
    NimpAppendRecord(records, VarIpAddress, NimpEncodeValue(NIMP_TYPE_IPADDRESS, device.IpAddress()));
    NimpAppendRecord(records, VarNetmask, NimpEncodeValue(NIMP_TYPE_IPADDRESS, device.Netmask()));
    NimpAppendRecord(records, VarVersion, device.version.toLatin1());
    NimpAppendRecord(records, VarDeviceName, device.DeviceName().toLatin1());
    return records;
}

void Ktr4200Fleet::HandleGet(SimDevice& device, const QByteArray& datagram, const ReplyTo& to)
{
    QList<NimpRecord> records;
    if (NimpParseRecords(datagram, NimpOffsetRecords, &records) != 0) {
        ++device.counters.malformed;
        Reply(device, to, StatusMalformed);
        return;
    }
    QByteArray out;
    for (const auto& record : records) {
        switch (record.id) {
        case VarDiscovery:
            out += DiscoveryRecords(device);
            break;
        case VarModelName:
            NimpAppendRecord(out, record.id, device.model.toLatin1());
            break;
        case VarMacAddress:
            NimpAppendRecord(out, record.id, device.mac);
            break;
        case VarIpAddress:
            NimpAppendRecord(out, record.id, NimpEncodeValue(NIMP_TYPE_IPADDRESS, device.IpAddress()));
            break;
        case VarNetmask:
            NimpAppendRecord(out, record.id, NimpEncodeValue(NIMP_TYPE_IPADDRESS, device.Netmask()));
            break;
        case VarVersion:
            NimpAppendRecord(out, record.id, device.version.toLatin1());
            break;
        case VarDeviceName:
            NimpAppendRecord(out, record.id, device.DeviceName().toLatin1());
            break;
        default:
            // A variable the device does not know or cannot read: the whole Get fails,
            // as the console matches records to its list by position.
            Reply(device, to, NIMP_STATUS_NOT_DONE);
            return;
        }
    }
    Reply(device, to, NIMP_STATUS_DONE, out);
}

void Ktr4200Fleet::HandleSet(SimDevice& device, const QByteArray& datagram, const ReplyTo& to)
{
    QList<NimpRecord> records;
    if (NimpParseRecords(datagram, NimpOffsetRecords, &records) != 0) {
        ++device.counters.malformed;
        Reply(device, to, StatusMalformed);
        return;
    }
    std::optional<QString> ip, mask, server, fileName;
    std::optional<int> action;
    bool bad = false;
    for (const auto& record : records) {
        switch (record.id) {
        case VarIpAddress:
        case VarNetmask:
        case VarRemoteServerIp: {
            if (record.value.size() != 4) {
                bad = true;
                break;
            }
            const QString text = NimpDecodeValue(NIMP_TYPE_IPADDRESS, record.value);
            (record.id == VarIpAddress ? ip : record.id == VarNetmask ? mask : server) = text;
            break;
        }
        case VarRemoteFileName:
            fileName = QString::fromLatin1(record.value);
            break;
        case VarAction:
            if (record.value.size() != 1)
                bad = true;
            else
                action = int(int8_t(record.value[0]));
            break;
        default:
            // Unknown or read-only: nothing of the request is applied.
            bad = true;
            break;
        }
    }
    if (bad) {
        Reply(device, to, NIMP_STATUS_NOT_DONE);
        return;
    }

    if (ip || mask) {
        const auto ipValue = AddressValue(ip.value_or(device.IpAddress()));
        const auto maskValue = AddressValue(mask.value_or(device.Netmask()));
        if (!ipValue || !maskValue || !IsUsableMask(*maskValue) ||
            !IsUsableHostAddress(*ipValue, *maskValue)) {
            Reply(device, to, NIMP_STATUS_NOT_DONE);
            return;
        }
        ++device.counters.setIp;
        device.config.SetValue(QStringLiteral("ip"), QHostAddress(*ipValue).toString());
        device.config.SetValue(QStringLiteral("mask"), QHostAddress(*maskValue).toString());
    }
    if (!action) {
        Reply(device, to, NIMP_STATUS_DONE);
        return;
    }

    switch (*action) {
    case ActionReset:
        ++device.counters.reset;
        Reply(device, to, NIMP_STATUS_DONE);
        Reboot(device, m_options.rebootMs);
        return;
    case ActionFactoryReset:
        ++device.counters.factoryReset;
        Reply(device, to, NIMP_STATUS_DONE);
        device.config.ResetToFactory(m_options.factoryIp, m_options.factoryNetmask,
                                     QStringLiteral("AP-") + device.MacText().right(6),
                                     SimDeviceConfig::RegionOfVersion(device.version));
        device.password.clear();
        Reboot(device, m_options.factoryResetMs);
        return;
    case ActionFlash: {
        ++device.counters.flash;
        if (!device.haveReceived || device.flashPending || device.transfer) {
            Reply(device, to, NIMP_STATUS_NOT_DONE);
            return;
        }
        device.flashPending = true;
        Pending pending;
        pending.kind = Pending::FlashDone;
        pending.device = device.index;
        pending.generation = device.generation;
        pending.to = to.address;
        pending.port = to.port;
        pending.command = to.command;
        pending.requestNumber = to.requestNumber;
        Schedule(TickCount() + std::max(0, m_options.flashMs), std::move(pending));
        return;
    }
    case ActionFetch:
    case ActionPut: {
        (*action == ActionFetch ? device.counters.fetch : device.counters.put) += 1;
        const QHostAddress serverAddress(server.value_or(QString()));
        // A name with a NUL or other control byte cannot go into a TFTP request.
        const bool nameUsable = fileName && !fileName->isEmpty() &&
                                std::none_of(fileName->cbegin(), fileName->cend(),
                                             [](QChar c) { return c.unicode() < 0x20; });
        if (!server || !nameUsable || serverAddress.isNull() ||
            serverAddress == QHostAddress(QHostAddress::Broadcast) ||
            serverAddress == QHostAddress(QHostAddress::AnyIPv4) || device.flashPending) {
            Reply(device, to, NIMP_STATUS_NOT_DONE);
            return;
        }
        StartTransfer(device, *action, serverAddress, *fileName, to);
        return;
    }
    default:
        Reply(device, to, NIMP_STATUS_NOT_DONE);
        return;
    }
}

void Ktr4200Fleet::StartTransfer(SimDevice& device, int action, const QHostAddress& server,
                                 const QString& fileName, const ReplyTo& to)
{
    // A repeated request (the console's retry after a time-out) supersedes the transfer
    // still running; the earlier request is not answered.
    if (device.transfer)
        device.transfer->Abort();

    SimTftpClient::Params params;
    params.server = server;
    params.serverPort = m_options.tftpPort;
    params.fileName = fileName;
    params.localAddress = m_options.bindAddress;
    params.timeoutMs = std::max(1, m_options.tftpTimeoutMs);
    params.retries = std::max(0, m_options.tftpRetries);
    params.blockSize = m_options.tftpBlockSize;
    params.windowSize = m_options.tftpWindowSize;
    params.blockDelayMs = m_options.tftpBlockDelayMs;
    params.pacer = &m_pacer;
    params.failOnPurpose = device.tftpFail;
    params.acceptLoopbackReplies = IsOwnAddress(server);

    const bool fetch = action == ActionFetch;
    if (!device.transferServers.contains(server.toString()))
        device.transferServers.append(server.toString());
    const QByteArray putData = fetch ? QByteArray() : device.config.Render(device.model);
    const int index = device.index;
    const int generation = device.generation;
    auto done = [this, index, generation, to, fileName, fetch,
                 server](bool ok, const QByteArray& data, const QString&) {
        SimDevice& dev = Device(index);
        if (dev.generation != generation)
            return;
        // The client may linger a moment for a lost last acknowledgement; the
        // device is free for its next step already.
        dev.transfer = nullptr;
        if (!ok) {
            ++dev.counters.tftpFailures;
            Reply(dev, to, NIMP_STATUS_NOT_DONE);
            return;
        }
        if (fetch) {
            dev.received = data;
            dev.haveReceived = true;
            dev.lastReceived.name = fileName;
            dev.lastReceived.server = server.toString();
            dev.lastReceived.kind = IsFirmware(data) ? QStringLiteral("firmware") : QStringLiteral("config");
            dev.lastReceived.size = data.size();
            dev.lastReceived.sha256 = QString::fromLatin1(Sha256Hex(data));
        }
        Reply(dev, to, NIMP_STATUS_DONE);
    };
    auto* client = new SimTftpClient(fetch ? SimTftpClient::Direction::Fetch : SimTftpClient::Direction::Put,
                                     params, putData, std::move(done), this);
    device.transfer = client;
    client->Start();
}

void Ktr4200Fleet::FinishFlash(SimDevice& device, const ReplyTo& to)
{
    device.flashPending = false;
    const QByteArray data = std::move(device.received);
    device.received.clear();
    device.haveReceived = false;
    if (IsFirmware(data)) {
        // What is flashed is what was last fetched, hashed when it arrived.
        device.flashedFirmwareSha256 = device.lastReceived.sha256;
        const QString version = FirmwareVersion(data, device.lastReceived.name);
        if (!version.isEmpty())
            device.version = version;
        Reply(device, to, NIMP_STATUS_DONE);
        return;
    }
    device.lastApply = device.config.Apply(data);
    // Settings the device refused are reported, so that a write is not taken as done.
    Reply(device, to, device.lastApply.refused.isEmpty() ? NIMP_STATUS_DONE : NIMP_STATUS_NOT_DONE);
}

void Ktr4200Fleet::Reboot(SimDevice& device, int durationMs)
{
    device.busyUntil = TickCount() + std::max(0, durationMs);
    ++device.generation;
    if (device.transfer)
        device.transfer->Abort();
    device.transfer = nullptr;
    device.flashPending = false;
    // What was fetched but not written to flash is lost with the memory.
    device.haveReceived = false;
    device.received.clear();
}

void Ktr4200Fleet::Reply(SimDevice& device, const ReplyTo& to, uint8_t status, const QByteArray& records)
{
    QByteArray datagram;
    const QByteArray password = NimpPasswordBytes(device.password);
    try {
        datagram = NimpBuildDatagram(to.command, to.requestNumber, status, device.mac, records, password);
    } catch (const VxError&) {
        // Too many records for one datagram.
        status = NIMP_STATUS_NOT_DONE;
        datagram = NimpBuildDatagram(to.command, to.requestNumber, status, device.mac, {}, password);
    }
    if (status == NIMP_STATUS_NOT_DONE)
        ++device.counters.notDone;
    emit RequestHandled(device.index, to.command, status);
    if (m_options.replyDelayMs > 0) {
        Pending pending;
        pending.kind = Pending::Reply;
        pending.device = device.index;
        pending.datagram = datagram;
        pending.to = to.address;
        pending.port = to.port;
        Schedule(TickCount() + m_options.replyDelayMs, std::move(pending));
        return;
    }
    SendNow(device, datagram, to.address, to.port);
}

void Ktr4200Fleet::SendNow(SimDevice& device, const QByteArray& datagram, const QHostAddress& to,
                           quint16 port)
{
    if (!m_running)
        return;
    if (Draw(m_options.dropReplies)) {
        ++device.counters.droppedReplies;
        return;
    }
    m_socket.writeDatagram(datagram, to, port);
    ++device.counters.replies;
}

void Ktr4200Fleet::Schedule(int64_t when, Pending pending)
{
    m_scheduled.emplace(when, std::move(pending));
    ArmTimer();
}

void Ktr4200Fleet::ArmTimer()
{
    if (m_scheduled.empty() || !m_running) {
        m_timer.stop();
        return;
    }
    const int64_t wait = m_scheduled.begin()->first - TickCount();
    m_timer.start(int(std::clamp<int64_t>(wait, 0, INT32_MAX)));
}

void Ktr4200Fleet::RunScheduled()
{
    const int64_t now = TickCount();
    while (!m_scheduled.empty() && m_scheduled.begin()->first <= now) {
        Pending pending = std::move(m_scheduled.begin()->second);
        m_scheduled.erase(m_scheduled.begin());
        SimDevice& device = Device(pending.device);
        if (pending.kind == Pending::Reply) {
            SendNow(device, pending.datagram, pending.to, pending.port);
        } else if (pending.generation == device.generation) {
            FinishFlash(device, ReplyTo{pending.to, pending.port, pending.command, pending.requestNumber});
        }
    }
    ArmTimer();
}

bool Ktr4200Fleet::Draw(double fraction)
{
    if (fraction <= 0.0)
        return false;
    if (fraction >= 1.0)
        return true;
    return std::uniform_real_distribution<double>(0.0, 1.0)(m_random) < fraction;
}

QByteArray Ktr4200Fleet::DumpJson() const
{
    const int64_t now = TickCount();
    QJsonArray devices;
    for (const auto& device : m_devices)
        devices.append(device->ToJson(now));
    QJsonObject root;
    root[QStringLiteral("port")] = int(Port());
    root[QStringLiteral("running")] = m_running;
    root[QStringLiteral("datagramsReceived")] = double(m_datagramsReceived);
    root[QStringLiteral("devices")] = devices;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}
