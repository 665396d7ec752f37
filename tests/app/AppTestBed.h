#pragma once

#include "LoopbackFleet.h"
#include "TestHelpers.h"
#include "app/AppCore.h"
#include "app/CommandQueue.h"
#include "app/OperationUi.h"
#include "config/ConfigFileTarget.h"
#include "nimp/VxNIMPClient.h"
#include "sim/Ktr4200Fleet.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

// Records what an operation shows and answers its questions as the test says.
class FakeOperationUi : public OperationUi
{
public:
    void ShowProgress(const QString& caption, const QString&, bool abortable) override
    {
        captions.append(caption);
        showing = true;
        lastAbortable = abortable;
    }
    void CloseProgress() override { showing = false; }
    bool AskYesNo(const QString& text, const QString& caption, Preset = Preset::Yes) override
    {
        questions.append(caption + QStringLiteral(": ") + text);
        return answer;
    }

    QStringList captions;
    QStringList questions;
    bool showing = false;
    bool lastAbortable = false;
    bool answer = true;
};

// A data folder with a system.ini pointing every socket at loopback, a simulated fleet on
// 127.0.0.1, and the engine over both.
class AppTestBed
{
public:
    // ini: [System] keys on top of the loopback and short-timing defaults.
    AppTestBed(Ktr4200FleetOptions options, const QMap<QString, QString>& ini = {})
        : loopback(std::move(options)), tftpPort(loopback.tftpPort), started(loopback.started),
          fleet(std::move(loopback.fleet))
    {
        WriteIni(
            loopback.SystemKeys({{QStringLiteral("ConfigUploadTime"), QStringLiteral("3")}}, ini));
        core = std::make_unique<AppCore>(dir.path());
        core->SetUi(&ui);
        config.SetLog([this](const QString& line) { core->LogAction(line); });
        core->SetConfig(&config);
    }

    ~AppTestBed()
    {
        core.reset();
        fleet->Stop();
    }

    void WriteIni(const QMap<QString, QString>& keys)
    {
        LoopbackFleet::WriteSystemIni(dir.path(), keys);
    }

    DeviceListModel& devices() { return core->Devices(); }
    CommandQueue& queue() { return core->Queue(); }

    DeviceRow* rowOf(int deviceIndex)
    {
        const QString mac = fleet->Device(deviceIndex).MacText();
        for (int i = 0; i < devices().Count(); ++i)
            if (devices().GetField(devices().Row(i), QStringLiteral("Mac Address")) == mac)
                return devices().Row(i);
        return nullptr;
    }

    QString status(int deviceIndex) { return devices().GetStatus(rowOf(deviceIndex)); }

    bool logHas(const QString& text) const
    {
        for (const QString& line : core->Log().Lines())
            if (line.endsWith(text))
                return true;
        return false;
    }

    QTemporaryDir dir;
    LoopbackFleet loopback;
    quint16 tftpPort = 0;
    bool started = false;
    std::unique_ptr<Ktr4200Fleet> fleet;
    FakeOperationUi ui;
    ConfigFileTarget config;
    std::unique_ptr<AppCore> core;
};

// Discovers the bed's fleet and selects every row; fails the test unless expected rows came.
inline void discoverAll(AppTestBed& bed, int expected)
{
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    ASSERT_EQ(bed.devices().Count(), expected);
    bed.devices().SelectAll();
}
