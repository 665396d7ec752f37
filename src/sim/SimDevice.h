#pragma once

#include "sim/SimDeviceConfig.h"

#include <QByteArray>
#include <QJsonObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>

class SimTftpClient;

// Requests a device has seen, by kind.
struct SimDeviceCounters
{
    int discover = 0;
    int get = 0;
    int set = 0;
    int setIp = 0;
    int reset = 0;
    int factoryReset = 0;
    int flash = 0;
    int fetch = 0;
    int put = 0;
    int unsupported = 0;
    int wrongPassword = 0;   // requests answered with the wrong-password status
    int notDone = 0;         // requests answered with "not done"
    int malformed = 0;       // records that run past the datagram
    int ignoredBusy = 0;     // requests that arrived while rebooting
    int droppedRequests = 0; // lost on the way in (fault injection)
    int droppedReplies = 0;  // lost on the way out (fault injection)
    int replies = 0;
    int tftpFailures = 0;
};

// The last file a device received over TFTP.
struct SimReceivedFile
{
    QString name;
    QString kind; // "config" or "firmware"
    qint64 size = 0;
    QString sha256; // lower-case hex; empty before the first file
    QString server; // the TFTP server it was fetched from
};

// One simulated access point.
struct SimDevice
{
    int index = 0;
    QByteArray mac; // 6 bytes
    QString model;
    QString password;
    QString version;
    SimDeviceConfig config;

    bool silent = false;
    bool notDone = false;
    bool tftpFail = false;
    bool badPassword = false;

    // Rebooting until this tick (TickCount); requests before it are not answered.
    int64_t busyUntil = 0;
    // Bumped by a reboot, so that work scheduled before it is forgotten.
    int generation = 0;
    bool flashPending = false;
    QPointer<SimTftpClient> transfer;

    // The file fetched and not yet written to flash.
    bool haveReceived = false;
    QByteArray received;
    SimReceivedFile lastReceived;
    // Every TFTP server address the device was sent to, fetching or putting, in the order first
    // used: shows which of the console's addresses the device was told.
    QStringList transferServers;
    // The SHA-256 (lower-case hex) of the firmware image last written to flash.
    QString flashedFirmwareSha256;
    SimDeviceConfig::ApplyResult lastApply;

    SimDeviceCounters counters;

    QString MacText() const;
    QString IpAddress() const { return config.Value(QStringLiteral("ip")); }
    QString Netmask() const { return config.Value(QStringLiteral("mask")); }
    QString DeviceName() const { return config.Value(QStringLiteral("device_name")); }
    QJsonObject ToJson(int64_t now) const;
};
