#include "app/FirmwareImageInfo.h"

#include "common/TextHelpers.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

namespace {
constexpr int ShownDigestDigits = 12;
}

FirmwareImageInfo ReadFirmwareImageInfo(const QString& imageFile)
{
    FirmwareImageInfo info;
    const QFileInfo file(imageFile);
    info.fileName = file.fileName();
    QFile f(imageFile);
    if (!file.isFile() || !f.open(QIODevice::ReadOnly)) {
        info.problem = QStringLiteral("The image cannot be read.");
        return info;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f)) {
        info.problem = QStringLiteral("The image cannot be read.");
        return info;
    }
    info.size = f.size();
    info.sha256 = QString::fromLatin1(hash.result().toHex());
    if (info.size == 0)
        info.problem = QStringLiteral("The image is empty.");
    return info;
}

QString UpgradeConfirmationDetails(const FirmwareImageInfo& image, const QStringList& macs)
{
    QString text = QStringLiteral("Image: ") + EscapeUntrusted(image.fileName) + QLatin1Char('\n');
    if (!image.problem.isEmpty()) {
        text += image.problem + QLatin1Char('\n');
    } else {
        text +=
            QStringLiteral("Size: %1 bytes\n").arg(QLocale(QLocale::English).toString(image.size));
        text += QStringLiteral("SHA-256: %1\n").arg(image.sha256.left(ShownDigestDigits));
    }
    text += QStringLiteral("Devices: %1\n").arg(macs.size());
    text += QStringLiteral("Each device is factory reset and restarted twice; its configuration "
                           "is read before and written back after.\n");
    text += QStringLiteral("After the factory reset they keep the factory default password (the "
                           "access password cannot be set over NIMP): ")
            + macs.join(QStringLiteral(", "));
    return text;
}
