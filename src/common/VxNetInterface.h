#pragma once

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
