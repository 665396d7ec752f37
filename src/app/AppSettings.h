#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The settings of [System] in system.ini. Durations are held in centiseconds (the setting in
// seconds × 100).
struct AppSettings
{
    bool developerMode = false;
    bool filter = true;
    bool verify = true;
    bool applyReset = true;

    int nimpSetTimeout = 500;
    int rebootTime = 2000;
    int configUploadTime = 3000;
    int configDownloadTime = 3000;
    int configFlashUpdateTime = 6000;
    int factoryResetTime = 3000;
    int fwDownloadTime = 6000;
    int fwFlashUpdateTime = 6000;
    int timingTolerance = 500;
    int discoveryTimeout = 500;
    int discoveryRetry = 1;
    // Get and Set replies must carry the request's command and be signed with its password.
    bool strictReplies = false;

    QString module = QStringLiteral("KTR-4200");
    QString accessPassword;
    // A factory reset clears the device's password; the firmware upgrade talks to it with this.
    QString factoryDefaultPassword;

    // Where NIMP requests go and where the TFTP server listens; tests point these at loopback.
    QHostAddress nimpAddress = QHostAddress(QStringLiteral("255.255.255.255"));
    quint16 nimpPort = 64512;
    // NimpInterface: the local interfaces Discover sends out of when nimpAddress is the
    // broadcast address; empty: every interface that is up, has an IPv4 address and is not a
    // loopback (see ChooseNimpInterfaces).
    QStringList nimpInterfaces;
    quint16 tftpPort = 69;
    // The address devices are told to fetch from and put to; empty: chosen per device.
    QString tftpServerAddress;
    // How many devices may transfer (or wait for a reply that holds the queue) at once.
    int parallelTransfers = 256;

    // Days the log's day files are kept (Logs/ of the data folder); 0 keeps them all.
    int logKeepDays = 30;

    // Why nothing may be sent with these settings (a NimpAddress or NimpPort that cannot be
    // used, or StrictReplies with a password that cannot be decrypted); empty when sending is
    // fine. A default in their place would send somewhere the administrator did not choose.
    QString sendBlocked;
};

inline constexpr int MaxParallelTransfers = 256;

// The value of fleetmgr that switches developer mode on.
inline constexpr const char* DeveloperModeKey = "Q-Fenn";
inline constexpr const char* SettingsFileName = "system.ini";
inline constexpr const char* SettingsSection = "System";

// Reads every key of [System] from the ini file; a missing file or key keeps the default.
// A file that is no settings file (missing, a folder, not text, UTF-16, no [System]) adds a
// line to warnings naming it. A key holding a value that cannot be used keeps its default and
// adds a line naming the key, after one line naming the file; a stored access password that
// cannot be decrypted gives the empty password. See sendBlocked for the values whose default
// is not used in their place.
AppSettings LoadSettings(const QString& iniPath, QStringList* warnings);

// The warning for a NimpWirelessAP value that cannot be decrypted (%1 the reason).
inline constexpr const char* UnreadablePasswordText =
    "Setting NimpWirelessAP cannot be read (%1): the access password is empty until the "
    "System setting dialog saves a new one.";

// The data folder: --home DIR, else $NODEWARDEN_HOME, else the executable's folder when it
// holds system.ini or is writable (a system folder of programs such as /usr/bin only when it
// holds system.ini), else the per-user data folder.
QString ResolveDataFolder(const QString& homeOption);
// Creates the data folder with Config/Temp and firmware when they are missing; raises a VxError
// when that is not possible.
void PrepareDataFolder(const QString& folder);
