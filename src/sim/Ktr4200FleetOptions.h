#pragma once

#include <QHostAddress>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>

// Everything a simulated fleet is made from. Per-device lists are indexed from 0 in the
// order of the MAC addresses (base MAC, base MAC + 1, ...).
struct Ktr4200FleetOptions
{
    QHostAddress bindAddress = QHostAddress(QHostAddress::AnyIPv4);
    quint16 port = 64512; // 0: any free port (see Ktr4200Fleet::Port)

    int deviceCount = 1;
    QString baseMac = QStringLiteral("021A2B000001");
    QString baseIp = QStringLiteral("192.168.0.50");
    QString netmask = QStringLiteral("255.255.255.0");
    // Where a factory reset puts every device.
    QString factoryIp = QStringLiteral("192.168.1.1");
    QString factoryNetmask = QStringLiteral("255.255.255.0");

    // Defaults for all devices, and overrides by device index.
    QString model = QStringLiteral("KTR-4200");
    QString password;
    QString version = QStringLiteral("1.02.07u");
    QMap<int, QString> modelAt;
    QMap<int, QString> passwordAt;
    QMap<int, QString> versionAt;
    // Device names other than the factory one ("AP-" and the last six MAC digits).
    QMap<int, QString> deviceNameAt;

    // The port of the console's TFTP server (devices use 69; tests a high port).
    quint16 tftpPort = 69;
    int tftpTimeoutMs = 1000;
    int tftpRetries = 5;
    // What the devices' TFTP client does: wait this long before each ACK or DATA it sends
    // (a real LAN's pace), and ask for these options (0: not asked).
    int tftpBlockDelayMs = 0;
    int tftpBlockSize = 0;
    int tftpWindowSize = 0;

    // Delays in milliseconds.
    int replyDelayMs = 0;
    int flashMs = 2000;
    int rebootMs = 5000;
    int factoryResetMs = 8000;

    // Fault injection. Fractions are 0 to 1 and drawn from a generator seeded with seed.
    double dropRequests = 0.0;
    double dropReplies = 0.0;
    uint32_t seed = 1;
    QSet<int> silent;      // answer Discover, nothing else
    QSet<int> notDone;     // answer every Get and Set with "not done"
    QSet<int> tftpFail;    // abort every TFTP transfer
    QSet<int> badPassword; // answer every Get and Set with "wrong password"
};

// Reads the options of the ktr4200-sim program (arguments without the program name).
// Returns false with a message in *error for a bad option; *help is set for --help.
bool ParseFleetOptions(const QStringList& args, Ktr4200FleetOptions* options, QString* stateFile,
                       QString* error, bool* help);
// The text --help prints.
QString FleetOptionsHelp();
// "0,3,5-9" or "all" -> device indexes below count.
bool ParseIndexList(const QString& text, int count, QSet<int>* out);
