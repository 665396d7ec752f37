#pragma once

#include "app/DeviceState.h"

#include <QStringList>
#include <cstdint>
#include <initializer_list>
#include <utility>

struct DeviceRow;

enum CommandType : uint8_t
{
    cmdWait = 1,
    cmdWaitAll = 2,
    cmdResetCount = 5,
    cmdAbortIfCount = 6,
    cmdLoadConfig = 7,
    cmdSetStatusIf = 10,
    cmdSetRetry = 11,
    cmdGetVersion = 12,
    cmdSetIP = 13,
    cmdWriteConfig = 14,
    cmdFirmwareDownload = 15,
    cmdReadConfig = 16,
    cmdVerifyConfig = 17,
    cmdConfigFlash = 18,
    cmdFirmwareFlash = 19,
    cmdReset = 20,
    cmdFactoryReset = 21,
    // Between two waves of an upgrade: more than count failed devices stop the list there.
    cmdStopAfterWave = 22,
};

// A Status an operation's list writes or waits for: one of the vocabulary, or another text.
struct StatusValue
{
    DeviceState state = DeviceState::Other;
    QString text; // the text of an Other state

    static StatusValue FromText(const QString& text);
    QString Text() const;
};

// One step of an operation: what to do, on which device row, with which wait or time-out
// (centiseconds) and arguments. Lists are written as the type, the row, the time and the
// arguments in order (Make); the queue reads them by name.
struct Command
{
    uint8_t type = 0;
    DeviceRow* item = nullptr;
    int32_t time = 0;

    QString password;  // every request to a device
    QString file;      // the file a transfer or a load works on; Verify Config: the one written
    QString otherFile; // Verify Config: the one read back
    QString ip;        // Set IP
    QString netmask;   // Set IP
    int count = 0;     // Set Retry: the retries; Abort If Count: the count that aborts;
                       // Stop After Wave: the failures that are still gone on from
    int wave = 0;      // Stop After Wave: the wave that just ended (1 the first)
    StatusValue status;   // Wait All: what it waits out; Set Status If: the Status it changes
    StatusValue newStatus; // Set Status If: what it writes
    // What the time is made of, in the settings' names, for the words of a time-out
    // ("FWDownloadTime 60 s + TimingTolerance 5 s"); empty when it is no time-out.
    QString bound;

    // The arguments in the order of the list: Set Retry and Abort If Count (count), Stop After
    // Wave (count, wave), Wait All
    // (status), Set Status If (status, new status), Load Config (file), Get Version, the
    // flashes and resets (password), Set IP (password, ip, netmask), the transfers
    // (password, file), Verify Config (file, other file).
    static Command Make(uint8_t type, DeviceRow* item, int32_t time, const QStringList& params = {});
    // The arguments back in that order.
    QStringList Params() const;
};

// The words of a wait made of settings (centiseconds) and a fixed extra: "FWDownloadTime 60 s
// + TimingTolerance 5 s", a factor as "ConfigUploadTime 3 s x 3".
struct WaitPart
{
    const char* name;
    int32_t cs;
    int factor = 1;
};
QString WaitBound(std::initializer_list<WaitPart> parts, int32_t extraCs = 0);

// A time-out of an operation's list: its centiseconds and what they are made of.
struct WaitLimit
{
    int32_t cs;
    QString text;
};
// setting + TimingTolerance (+ a fixed extra), the setting counted factor times.
WaitLimit SettingLimit(const char* name, int32_t settingCs, int32_t toleranceCs, int factor = 1,
                       int32_t extraCs = 0);
// TimingTolerance + a fixed extra.
WaitLimit ToleranceLimit(int32_t toleranceCs, int32_t extraCs);
// A command that waits for its device (or, without a row, for the list) with this limit.
Command TimedCommand(uint8_t type, DeviceRow* item, const WaitLimit& limit,
                     const QStringList& params = {});

// The Status texts of a row during and after an operation.
namespace DeviceStatus {
inline constexpr const char* InRunning = ".....";
inline constexpr const char* Pending = "..";
inline constexpr const char* Ok = "OK";
inline constexpr const char* Unsuccess = "Unsuccess!";
inline constexpr const char* TimeOut = "-Time Out-";
inline constexpr const char* Aborted = "Aborted!";
} // namespace DeviceStatus
