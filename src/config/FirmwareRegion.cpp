#include "config/FirmwareRegion.h"

FirmwareRegion& ProcessFirmwareRegion()
{
    static FirmwareRegion region = FirmwareRegion::Unknown;
    return region;
}

FirmwareRegion RegionAfterFirmware(FirmwareRegion current, const QString& firmwareVersion)
{
    if (firmwareVersion.isEmpty())
        return current;
    const QChar last = firmwareVersion.back();
    if (last == QLatin1Char('e'))
        return FirmwareRegion::Europe;
    if (last == QLatin1Char('w'))
        return current;
    return FirmwareRegion::US;
}

void ApplyFirmwareRegion(const std::optional<QString>& selectedFirmware, FirmwareRegion& region,
                         RegionView& view)
{
    if (!selectedFirmware)
        return;
    view.turboShown = false;
    region = RegionAfterFirmware(region, *selectedFirmware);
    if (!view.countryText.isEmpty())
        return;
    if (region == FirmwareRegion::Europe) {
        view.countryText = QStringLiteral("Europe");
    } else if (region == FirmwareRegion::US) {
        view.countryText = QStringLiteral("US");
        view.turboShown = true;
    }
}
