#pragma once

#include <QString>
#include <optional>

// The region of the firmware of the device last loaded: it gives an empty country a
// default and decides whether turbo mode is offered. One value for the program run.
enum class FirmwareRegion
{
    Unknown,
    Europe,
    US
};

// The process-wide region; starts Unknown and is never reset.
FirmwareRegion& ProcessFirmwareRegion();

// The region after a device with this firmware version text was loaded: a last character
// "e" means Europe, "w" (and an empty text) keeps the current region, anything else US.
FirmwareRegion RegionAfterFirmware(FirmwareRegion current, const QString& firmwareVersion);

// What the window shows of the country and the turbo mode setting.
struct RegionView
{
    QString countryText;
    bool turboShown = true;
};

// The firmware region steps that follow every load. selectedFirmware is the "F/W Version"
// of the device list's selected row, none without a selected row (then nothing changes).
void ApplyFirmwareRegion(const std::optional<QString>& selectedFirmware, FirmwareRegion& region,
                         RegionView& view);
