#pragma once

#include "sim/Ktr4200Fleet.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QUdpSocket>
#include <memory>

// Devices from 10.0.0.20 on that flash and reboot in a fraction of one-second waits.
inline Ktr4200FleetOptions QuickFleetOptions(int count)
{
    Ktr4200FleetOptions o;
    o.deviceCount = count;
    o.baseIp = QStringLiteral("10.0.0.20");
    o.flashMs = 150;
    o.rebootMs = 300;
    o.factoryResetMs = 300;
    return o;
}

// Every wait of an operation at its smallest that the quick devices fit in.
inline const QMap<QString, QString> kOneSecondWaits = {
    {QStringLiteral("RebootTime"), QStringLiteral("1")},
    {QStringLiteral("ConfigDownloadTime"), QStringLiteral("2")},
    {QStringLiteral("ConfigUploadTime"), QStringLiteral("2")},
    {QStringLiteral("ConfigFlashUpdateTime"), QStringLiteral("1")},
    {QStringLiteral("FactoryResetTime"), QStringLiteral("1")},
    {QStringLiteral("FWDownloadTime"), QStringLiteral("2")},
    {QStringLiteral("FWFlashUpdateTime"), QStringLiteral("1")},
};

// A simulated fleet on 127.0.0.1 and the [System] keys that point a console's data folder at
// it with short timings, so nothing an end-to-end test does leaves the machine.
struct LoopbackFleet
{
    explicit LoopbackFleet(Ktr4200FleetOptions options)
    {
        tftpPort = FreeUdpPort();
        options.bindAddress = QHostAddress::LocalHost;
        options.port = 0;
        options.tftpPort = tftpPort;
        options.tftpTimeoutMs = 300;
        fleet = std::make_unique<Ktr4200Fleet>(options);
        started = fleet->Start();
        nimpPort = fleet->Port();
    }

    // The loopback and short-timing keys, then extra, then overrides (later wins).
    QMap<QString, QString> SystemKeys(const QMap<QString, QString>& extra,
                                      const QMap<QString, QString>& overrides) const
    {
        QMap<QString, QString> keys = {
            {QStringLiteral("NimpAddress"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("NimpPort"), QString::number(nimpPort)},
            {QStringLiteral("TftpPort"), QString::number(tftpPort)},
            {QStringLiteral("TftpServerAddress"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("DiscoveryTimeout"), QStringLiteral("1")},
            {QStringLiteral("NimpSetTimeout"), QStringLiteral("1")},
            {QStringLiteral("TimingTolerance"), QStringLiteral("0")},
        };
        // The whole suite runs once more with every transfer one after the other.
        const QByteArray parallel = qgetenv("NW_TEST_PARALLEL_TRANSFERS");
        if (!parallel.isEmpty())
            keys[QStringLiteral("ParallelTransfers")] = QString::fromLatin1(parallel);
        for (auto it = extra.begin(); it != extra.end(); ++it)
            keys[it.key()] = it.value();
        for (auto it = overrides.begin(); it != overrides.end(); ++it)
            keys[it.key()] = it.value();
        return keys;
    }

    // Writes dataFolder/system.ini with a [System] section of the keys (CR LF lines) and
    // creates Config/Temp.
    static void WriteSystemIni(const QString& dataFolder, const QMap<QString, QString>& keys)
    {
        QDir(dataFolder).mkpath(QStringLiteral("Config/Temp"));
        QFile f(QDir(dataFolder).filePath(QStringLiteral("system.ini")));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QByteArray text = "[System]\r\n";
        for (auto it = keys.begin(); it != keys.end(); ++it)
            text += (it.key() + QLatin1Char('=') + it.value()).toUtf8() + "\r\n";
        f.write(text);
    }

    static quint16 FreeUdpPort()
    {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        return probe.localPort();
    }

    quint16 tftpPort = 0;
    quint16 nimpPort = 0;
    bool started = false;
    std::unique_ptr<Ktr4200Fleet> fleet;
};
