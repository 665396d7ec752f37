#pragma once

#include "sim/Ktr4200FleetOptions.h"
#include "sim/SimDevice.h"
#include "sim/SimPacer.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <map>
#include <memory>
#include <random>
#include <vector>

struct NimpHeader;

// A fleet of simulated access points behind one UDP socket: each device answers NIMP
// requests addressed to its MAC (and every device a Discover), carries out the actions
// of a real device, and moves files over TFTP from and to the console's server.
//
// Idle devices cost nothing: the fleet runs one timer, armed only for the earliest piece
// of scheduled work (a delayed reply, the end of a flash write); reboots end by the
// clock, without a timer.
class Ktr4200Fleet : public QObject
{
    Q_OBJECT

public:
    // NIMP variable ids the devices know.
    enum VariableId : uint8_t {
        VarDiscovery = 0,
        VarModelName = 1,
        VarMacAddress = 2,
        VarIpAddress = 3,
        VarNetmask = 4,
        VarAction = 5,
        VarVersion = 12,
        VarRemoteServerIp = 92,
        VarRemoteFileName = 93,
        VarDeviceName = 251,
    };
    enum Action : int8_t {
        ActionReset = 1,
        ActionFactoryReset = 2,
        ActionFlash = 4,
        ActionFetch = 10,
        ActionPut = 13,
    };
    // Reply status for a request whose records run past the datagram.
    static constexpr uint8_t StatusMalformed = 4;

    explicit Ktr4200Fleet(Ktr4200FleetOptions options, QObject* parent = nullptr);
    ~Ktr4200Fleet() override;

    // Opens the socket; false (see ErrorString) when the address cannot be bound.
    bool Start();
    // Closes the socket, ends transfers and forgets scheduled work; device state stays.
    void Stop();
    bool IsRunning() const { return m_running; }
    QString ErrorString() const { return m_error; }
    // The bound port (the chosen one when the options asked for port 0).
    quint16 Port() const;

    int DeviceCount() const { return int(m_devices.size()); }
    SimDevice& Device(int index) { return *m_devices.at(size_t(index)); }
    const SimDevice& Device(int index) const { return *m_devices.at(size_t(index)); }
    SimDevice* FindDevice(const QByteArray& mac);
    const Ktr4200FleetOptions& Options() const { return m_options; }

    // Every device's state as JSON (identity, address, version, configuration, counters,
    // last file received).
    QByteArray DumpJson() const;

    // Datagrams the socket received, including those no device took.
    qint64 DatagramsReceived() const { return m_datagramsReceived; }

signals:
    // After a device answered (or, with a reply delay, scheduled its answer to) a
    // request; for tests and the program's log.
    void RequestHandled(int deviceIndex, int command, int status);

private:
    struct Pending
    {
        enum Kind { Reply, FlashDone } kind = Reply;
        int device = 0;
        int generation = 0;
        QByteArray datagram;
        QHostAddress to;
        quint16 port = 0;
        uint8_t command = 0;
        uint8_t requestNumber = 0;
    };
    struct ReplyTo
    {
        QHostAddress address;
        quint16 port = 0;
        uint8_t command = 0;
        uint8_t requestNumber = 0;
    };

    void BuildDevices();
    void OnReadyRead();
    void HandleDatagram(const QByteArray& datagram, const QHostAddress& from, quint16 port);
    void HandleRequest(SimDevice& device, const NimpHeader& header, const QByteArray& datagram,
                       const ReplyTo& to);
    void HandleGet(SimDevice& device, const QByteArray& datagram, const ReplyTo& to);
    void HandleSet(SimDevice& device, const QByteArray& datagram, const ReplyTo& to);
    void StartTransfer(SimDevice& device, int action, const QHostAddress& server,
                       const QString& fileName, const ReplyTo& to);
    void FinishFlash(SimDevice& device, const ReplyTo& to);
    void Reboot(SimDevice& device, int durationMs);
    QByteArray DiscoveryRecords(const SimDevice& device) const;
    void Reply(SimDevice& device, const ReplyTo& to, uint8_t status,
               const QByteArray& records = QByteArray());
    void SendNow(SimDevice& device, const QByteArray& datagram, const QHostAddress& to, quint16 port);
    void Schedule(int64_t when, Pending pending);
    void RunScheduled();
    void ArmTimer();
    bool Draw(double fraction);

    Ktr4200FleetOptions m_options;
    std::vector<std::unique_ptr<SimDevice>> m_devices;
    QHash<QByteArray, int> m_byMac;
    QUdpSocket m_socket;
    QTimer m_timer;
    SimPacer m_pacer; // the devices' waits before each TFTP packet
    std::multimap<int64_t, Pending> m_scheduled;
    std::mt19937 m_random;
    QString m_error;
    bool m_running = false;
    quint16 m_boundPort = 0;
    qint64 m_datagramsReceived = 0;
};
