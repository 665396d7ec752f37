#pragma once

#include "GuiTestSupport.h"

#include "app/AppCore.h"
#include "app/ui/TMainForm.h"
#include "sim/Ktr4200Fleet.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <memory>

// A data folder whose system.ini points every socket at a simulated fleet on 127.0.0.1, with
// short timings, and the main window over it.
class WindowTestBed
{
public:
    explicit WindowTestBed(Ktr4200FleetOptions options = {}, const QMap<QString, QString>& ini = {})
    {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        const quint16 tftpPort = probe.localPort();
        probe.close();
        options.bindAddress = QHostAddress::LocalHost;
        options.port = 0;
        options.tftpPort = tftpPort;
        options.tftpTimeoutMs = 300;
        fleet = std::make_unique<Ktr4200Fleet>(options);
        started = fleet->Start();

        QMap<QString, QString> keys = {
            {QStringLiteral("NimpAddress"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("NimpPort"), QString::number(fleet->Port())},
            {QStringLiteral("TftpPort"), QString::number(tftpPort)},
            {QStringLiteral("TftpServerAddress"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("DiscoveryTimeout"), QStringLiteral("1")},
            {QStringLiteral("NimpSetTimeout"), QStringLiteral("1")},
            {QStringLiteral("TimingTolerance"), QStringLiteral("0")},
        };
        for (auto it = ini.begin(); it != ini.end(); ++it)
            keys[it.key()] = it.value();
        QDir(dir.path()).mkpath(QStringLiteral("Config/Temp"));
        QFile f(iniPath());
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QByteArray text = "[System]\r\n";
        for (auto it = keys.begin(); it != keys.end(); ++it)
            text += (it.key() + QLatin1Char('=') + it.value()).toUtf8() + "\r\n";
        f.write(text);
        f.close();
        window = std::make_unique<TMainForm>(dir.path());
    }

    ~WindowTestBed()
    {
        window.reset();
        fleet->Stop();
    }

    QString iniPath() const { return QDir(dir.path()).filePath(QStringLiteral("system.ini")); }
    AppCore& core() { return window->Core(); }
    DeviceListModel& devices() { return window->Core().Devices(); }

    QTemporaryDir dir;
    bool started = false;
    std::unique_ptr<Ktr4200Fleet> fleet;
    std::unique_ptr<TMainForm> window;
};
