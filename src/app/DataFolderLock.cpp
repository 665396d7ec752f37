#include "app/DataFolderLock.h"

#include <QDir>
#include <QFileInfo>

DataFolderLock::DataFolderLock(const QString& dataFolder)
    : m_path(QDir(dataFolder).filePath(QString::fromLatin1(DataFolderLockName))),
      m_lock(std::make_unique<QLockFile>(m_path))
{
    // Only a holder that is gone makes the lock stale, never its age: an upgrade of a large
    // fleet runs for many minutes.
    m_lock->setStaleLockTime(0);
}

DataFolderLock::~DataFolderLock() = default;

bool DataFolderLock::TryLock(QString* error)
{
    if (m_lock->isLocked())
        return true;
    if (m_lock->tryLock(0))
        return true;
    // A folder this process cannot write holds no staged files of its: there is nothing to
    // guard, and commands that write nothing (discover) still run there.
    if (m_lock->error() != QLockFile::LockFailedError &&
        !QFileInfo(QFileInfo(m_path).absolutePath()).isWritable())
        return true;
    if (error) {
        if (m_lock->error() == QLockFile::LockFailedError) {
            qint64 pid = 0;
            QString host;
            QString program;
            m_lock->getLockInfo(&pid, &host, &program);
            const QString unknown = QStringLiteral("unknown");
            *error =
                QString::fromLatin1(DataFolderInUseText)
                    .arg(QDir::toNativeSeparators(QFileInfo(m_path).absolutePath()),
                         pid > 0 ? QString::number(pid) : unknown, host.isEmpty() ? unknown : host,
                         program.isEmpty() ? unknown : program);
        } else {
            const QString reason = m_lock->error() == QLockFile::PermissionError
                                       ? QStringLiteral("no permission to create the lock file")
                                       : QStringLiteral("the lock file cannot be created");
            *error = QString::fromLatin1(DataFolderLockFailedText)
                         .arg(QDir::toNativeSeparators(m_path), reason);
        }
    }
    return false;
}

void DataFolderLock::Unlock()
{
    m_lock->unlock();
}

bool DataFolderLock::IsLocked() const
{
    return m_lock->isLocked();
}
