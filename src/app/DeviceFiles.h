#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

class DeviceFiles;

class DeviceListModel;
class VxTFTPServer;
struct AppSettings;
struct DeviceRow;
struct VxTFTPMsg;

// Which way a served file goes.
enum class ServeDirection { DeviceFetches, DevicePuts };

// One transfer the TFTP server lets one device make; revoked when the last holder lets go.
class DeviceGrant
{
public:
    DeviceGrant(DeviceFiles& files, std::weak_ptr<bool> alive, quint64 id)
        : m_files(&files), m_alive(std::move(alive)), m_id(id)
    {
    }
    ~DeviceGrant();
    DeviceGrant(const DeviceGrant&) = delete;
    DeviceGrant& operator=(const DeviceGrant&) = delete;
    quint64 Id() const { return m_id; }

private:
    DeviceFiles* m_files;
    std::weak_ptr<bool> m_alive; // the files' lifetime: a grant may outlive them
    quint64 m_id;
};

// The console's TFTP server as the devices of an operation see it: each file is served to
// its own device only, once, at the addresses the device answered Discover from or was given,
// and the server listens only while an operation needs it. A transfer's outcome goes to the
// job of the device it was granted to.
class DeviceFiles
{
public:
    DeviceFiles(std::function<const AppSettings&()> settings, DeviceListModel& devices,
                std::function<void(const QString&)> log, QString settingsPath);
    ~DeviceFiles();

    VxTFTPServer& Server() { return *m_tftp; }

    // The address a device is told to reach the TFTP server at (raises when there is none).
    QString TftpServerAddressFor(const DeviceRow* row) const;
    // Lets the TFTP server serve exactly one transfer of the row's device: it may fetch the file
    // at path, or put a file that lands at path. The server listens at serverAddress from now on
    // until the operation ends. Returns the file name the device is told. Raises when the
    // server cannot listen. Nothing is granted for a row whose MAC two hosts claimed.
    QString ServeFile(DeviceRow* row, ServeDirection direction, const QString& path,
                      const QString& serverAddress);
    // The row's transfer is over: later requests of its device are refused.
    void EndServing(DeviceRow* row);
    // The operation is over: nothing is served any more and the server stops listening.
    void EndAllServing();
    // Every report of the server: logged, and a granted transfer's outcome given to its row.
    void OnTftpEvent(const VxTFTPMsg& msg);

private:
    friend class DeviceGrant;
    void revoke(quint64 id);

    std::function<const AppSettings&()> m_settings;
    DeviceListModel& m_devices;
    std::function<void(const QString&)> m_log;
    QString m_settingsPath;
    std::unique_ptr<VxTFTPServer> m_tftp;
    // Where the TFTP server listens during the current operation.
    QList<QHostAddress> m_tftpListenAddresses;
    // The row (by id) each grant of the operation was made for.
    QHash<quint64, quint64> m_grantRows;
    // Set while the server goes: grants that outlive it revoke nothing.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// A TFTP status message without its "(VxTFTP) " tag.
QString StripTftpPrefix(const QString& message);
