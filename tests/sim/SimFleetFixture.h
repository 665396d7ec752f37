#pragma once

#include "TestHelpers.h"
#include "nimp/VxNIMPWire.h"
#include "sim/Ktr4200Fleet.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <memory>

// A fleet on 127.0.0.1 and a console-side socket that sends raw datagrams to it.
class SimFleetFixture : public ::testing::Test
{
protected:
    static Ktr4200FleetOptions LoopbackOptions(int devices = 3)
    {
        Ktr4200FleetOptions o;
        o.bindAddress = QHostAddress(QHostAddress::LocalHost);
        o.port = 0;
        o.deviceCount = devices;
        o.baseMac = QStringLiteral("0011223344F0");
        o.baseIp = QStringLiteral("10.1.0.10");
        o.flashMs = 20;
        o.rebootMs = 300;
        o.factoryResetMs = 300;
        o.tftpTimeoutMs = 100;
        o.tftpRetries = 3;
        return o;
    }

    void StartFleet(const Ktr4200FleetOptions& options)
    {
        fleet = std::make_unique<Ktr4200Fleet>(options);
        ASSERT_TRUE(fleet->Start()) << fleet->ErrorString().toStdString();
        ASSERT_TRUE(console.bind(QHostAddress::LocalHost, 0));
    }

    void TearDown() override
    {
        if (fleet)
            fleet->Stop();
    }

    static QByteArray Mac(int index)
    {
        return Bytes("00 11 22 33 44 F0").replace(5, 1, QByteArray(1, char(0xF0 + index)));
    }

    static QByteArray Request(uint8_t command, uint8_t number, const QByteArray& mac,
                              const QByteArray& records = {}, const QByteArray& password = {})
    {
        return NimpBuildDatagram(command, number, 0, mac, records, password);
    }

    void Send(const QByteArray& datagram)
    {
        console.writeDatagram(datagram, QHostAddress::LocalHost, fleet->Port());
    }

    // Waits up to ms for the next datagram on the console socket; empty if none came.
    QByteArray Receive(int ms = 2000)
    {
        WaitUntil([&] { return console.hasPendingDatagrams(); }, ms);
        if (!console.hasPendingDatagrams())
            return {};
        return console.receiveDatagram().data();
    }

    QByteArray Exchange(const QByteArray& request, int ms = 2000)
    {
        Send(request);
        return Receive(ms);
    }

    // The reply a device with this MAC and password gives: same command and number.
    static QByteArray ExpectedReply(uint8_t command, uint8_t number, uint8_t status,
                                    const QByteArray& mac, const QByteArray& records = {},
                                    const QByteArray& password = {})
    {
        return NimpBuildDatagram(command, number, status, mac, records, password);
    }

    static QByteArray Record(uint8_t id, const QByteArray& value)
    {
        QByteArray r;
        NimpAppendRecord(r, id, value);
        return r;
    }

    std::unique_ptr<Ktr4200Fleet> fleet;
    QUdpSocket console;
};
