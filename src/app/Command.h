#pragma once

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
};

// One step of an operation: what to do, on which device row, with which wait or time-out
// (centiseconds) and arguments.
struct Command
{
    uint8_t type = 0;
    DeviceRow* item = nullptr;
    int32_t time = 0;
    QStringList params;
    // What the time is made of, in the settings' names, for the words of a time-out
    // ("FWDownloadTime 60 s + TimingTolerance 5 s"); empty when it is no time-out.
    QString bound;

    static Command Make(uint8_t type, DeviceRow* item, int32_t time, const QStringList& params = {})
    {
        Command c;
        c.type = type;
        c.item = item;
        c.time = time;
        c.params = params;
        return c;
    }
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

// The Status texts of a row during and after an operation.
namespace DeviceStatus {
inline constexpr const char* InRunning = ".....";
inline constexpr const char* Pending = "..";
inline constexpr const char* Ok = "OK";
inline constexpr const char* Unsuccess = "Unsuccess!";
inline constexpr const char* TimeOut = "-Time Out-";
inline constexpr const char* Aborted = "Aborted!";
} // namespace DeviceStatus
