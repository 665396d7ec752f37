#include "common/VxNetInterface.h"

#include <QHostAddress>
#include <QNetworkInterface>

int EnumerateInterfaces(VxNetInterface (&interfaces)[VxMaxInterfaces])
{
    for (VxNetInterface& i : interfaces)
        i = VxNetInterface();
    int count = 0;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& ni : all) {
        const auto flags = ni.flags();
        for (const QNetworkAddressEntry& entry : ni.addressEntries()) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            if (count == VxMaxInterfaces)
                return count;
            VxNetInterface& out = interfaces[count++];
            out.address = entry.ip().toString();
            out.netmask = entry.netmask().toString();
            out.up = flags.testFlag(QNetworkInterface::IsUp);
            out.broadcast = flags.testFlag(QNetworkInterface::CanBroadcast);
            out.loopback = flags.testFlag(QNetworkInterface::IsLoopBack);
            out.pointToPoint = flags.testFlag(QNetworkInterface::IsPointToPoint);
            out.multicast = flags.testFlag(QNetworkInterface::CanMulticast);
        }
    }
    return count;
}

void LocalAddresses(QStringList& list)
{
    VxNetInterface interfaces[VxMaxInterfaces];
    const int count = EnumerateInterfaces(interfaces);
    for (int i = 0; i < count; ++i)
        list.append(interfaces[i].address);
}

QString ChooseTftpServerAddress(const QString& configured, const QString& deviceAddress,
                                const VxNetInterface* interfaces, int count)
{
    if (!configured.isEmpty())
        return configured;
    bool ok = false;
    const QHostAddress device(deviceAddress);
    const quint32 dev = device.toIPv4Address(&ok);
    if (ok) {
        for (int i = 0; i < count; ++i) {
            const VxNetInterface& ni = interfaces[i];
            bool okA = false, okM = false;
            const quint32 addr = QHostAddress(ni.address).toIPv4Address(&okA);
            const quint32 mask = QHostAddress(ni.netmask).toIPv4Address(&okM);
            if (ni.up && okA && okM && mask != 0 && (addr & mask) == (dev & mask))
                return ni.address;
        }
    }
    for (int i = 0; i < count; ++i)
        if (interfaces[i].up && !interfaces[i].loopback && !interfaces[i].address.isEmpty())
            return interfaces[i].address;
    return QString();
}

QList<VxLocalInterface> LocalInterfaces()
{
    QList<VxLocalInterface> out;
    for (const QNetworkInterface& ni : QNetworkInterface::allInterfaces()) {
        VxLocalInterface local;
        local.name = ni.name();
        local.index = ni.index();
        local.up = ni.flags().testFlag(QNetworkInterface::IsUp);
        local.loopback = ni.flags().testFlag(QNetworkInterface::IsLoopBack);
        for (const QNetworkAddressEntry& entry : ni.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                local.ipv4.append(entry);
        out.append(local);
    }
    return out;
}

QString InterfaceAddressFor(const VxLocalInterface& local, const QString& deviceAddress)
{
    if (local.ipv4.isEmpty())
        return QString();
    bool ok = false;
    const quint32 device = QHostAddress(deviceAddress).toIPv4Address(&ok);
    if (ok) {
        for (const QNetworkAddressEntry& entry : local.ipv4) {
            const quint32 mask = entry.netmask().toIPv4Address();
            if (mask != 0 && (entry.ip().toIPv4Address() & mask) == (device & mask))
                return entry.ip().toString();
        }
    }
    return local.ipv4.first().ip().toString();
}
