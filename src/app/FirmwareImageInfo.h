#pragma once

#include <QString>
#include <QStringList>

// What the upgrade's confirmation tells about the image: its file name, size and digest.
struct FirmwareImageInfo
{
    QString fileName;
    qint64 size = 0;
    QString sha256;  // lower-case hex
    QString problem; // why the image cannot be used; empty when it can
};

// Reads the image once to take its SHA-256. A missing, unreadable or empty image gives the
// reason in problem.
FirmwareImageInfo ReadFirmwareImageInfo(const QString& imageFile);

// The lines shown below "Start to upgrade firmware?": the image's name, size and the first 12
// hex digits of its SHA-256, the number of devices, what happens to each device, and that the
// devices named keep the factory default password afterwards.
QString UpgradeConfirmationDetails(const FirmwareImageInfo& image, const QStringList& macs);
