#pragma once

#include <QList>
#include <QNetworkAddressEntry>
#include <QString>
#include <QStringList>

// One local IPv4 interface.
struct VxNetInterface
{
    QString address;
    QString netmask;
    bool up = false;
    bool broadcast = false;
    bool loopback = false;
    bool pointToPoint = false;
    bool multicast = false;
};

inline constexpr int VxMaxInterfaces = 10;

// Clears the array and fills its first entries with the machine's IPv4 interfaces in the
// platform's order (at most 10); returns how many it filled.
int EnumerateInterfaces(VxNetInterface (&interfaces)[VxMaxInterfaces]);
// Appends the address of every enumerated interface.
void LocalAddresses(QStringList& list);

// The address a device is told to reach the console's TFTP server at: the configured address
// when there is one; else the local address whose subnet holds the device's address; else the
// first interface that is up and not a loopback. Empty when there is none of these.
QString ChooseTftpServerAddress(const QString& configured, const QString& deviceAddress,
                                const VxNetInterface* interfaces, int count);

// One local interface by name, with its IPv4 addresses: what NIMP requests are sent out of.
struct VxLocalInterface
{
    QString name;
    int index = 0; // the system's interface index; 0 is no interface
    bool up = false;
    bool loopback = false;
    QList<QNetworkAddressEntry> ipv4; // in the platform's order
};

// Every interface of the machine, in the platform's order, each with its IPv4 addresses (none
// when it has none).
QList<VxLocalInterface> LocalInterfaces();
// The address of the interface a device at deviceAddress is reached at: the interface's
// address whose subnet holds the device's address, else its first IPv4 address; empty when it
// has none.
QString InterfaceAddressFor(const VxLocalInterface& local, const QString& deviceAddress);
