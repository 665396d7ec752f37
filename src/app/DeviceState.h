#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// Where a device stands in an operation. The Status cell is derived from it; texts outside the
// vocabulary (a NIMP error such as "Password Error!", the empty text) are kept as Other.
enum class DeviceState : uint8_t {
    Other,     // statusText holds the text
    InRunning, // "....."
    Pending,   // ".."
    Ok,        // "OK"
    Unsuccess, // "Unsuccess!"
    TimeOut,   // "-Time Out-"
    Aborted,   // "Aborted!"
};

// The step a device is in. The Action cell is derived from it; other texts are kept as Other.
enum class DeviceStep : uint8_t {
    Other, // actionText holds the text (the empty text included)
    SetIP,
    WriteConfig1,
    WriteConfig2,
    ReadConfig,
    UpdateFw1,
    UpdateFw2,
    VerifyConfig,
    Reset,
    FactoryReset,
};

QString DeviceStateText(DeviceState state);
QString DeviceStepText(DeviceStep step);

// The state whose Status text this is; none for a text outside the vocabulary.
std::optional<DeviceState> DeviceStateFromText(const QString& text);
