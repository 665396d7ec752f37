#include "app/DiscoveredMacs.h"

#include "app/DeviceListModel.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

bool SaveDiscoveredMacs(const QString& dataFolder, const DeviceListModel& devices)
{
    static const QRegularExpression macText(QStringLiteral("^[0-9A-F]{12}$"));
    QByteArray text;
    for (int i = 0; i < devices.Count(); ++i) {
        const QString mac = DeviceListModel::MacText(devices.Row(i));
        if (macText.match(mac).hasMatch())
            text += mac.toLatin1() + '\n';
    }
    const QString path = QDir(dataFolder).filePath(QString::fromLatin1(DiscoveredMacsFileName));
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    QFile::remove(path);
    return false;
}
