#include "app/ui/SingleInstance.h"

#include "app/ui/TMainForm.h"

#include <QDir>
#include <QStandardPaths>

QString SingleInstanceLockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QString::fromLatin1(MainFormCaption) + QStringLiteral(".lock"));
}

bool AcquireSingleInstance(QLockFile& lock)
{
    // Age alone never makes the lock stale: a console runs for days.
    lock.setStaleLockTime(0);
    return lock.tryLock(0);
}
