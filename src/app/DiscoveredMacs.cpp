#include "app/DiscoveredMacs.h"

#include "app/DeviceListModel.h"
#include "common/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

bool SaveDiscoveredMacs(const QString& dataFolder, const DeviceListModel& devices, QString* error)
{
    static const QRegularExpression macText(QStringLiteral("^[0-9A-F]{12}$"));
    QByteArray text;
    for (int i = 0; i < devices.Count(); ++i) {
        const QString mac = DeviceListModel::MacText(devices.Row(i));
        if (macText.match(mac).hasMatch())
            text += mac.toLatin1() + '\n';
    }
    const QString path = QDir(dataFolder).filePath(QString::fromLatin1(DiscoveredMacsFileName));
    if (WriteWholeFile(path, text, error))
        return true;
    // A list that no longer matches the table would complete the wrong MACs.
    QFile::remove(path);
    return false;
}
