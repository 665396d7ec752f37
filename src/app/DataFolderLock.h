#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// One data folder, one console: the staged files of Config/Temp (MAC.WR, MAC.RD, MAC.ORI) are
// named by the device alone, so two consoles running operations on one folder would overwrite
// each other's files and read each other's results. The command line holds the lock for its
// whole run, the window while a Discover or an operation runs.
class DataFolderLock
{
public:
    explicit DataFolderLock(const QString& dataFolder);
    ~DataFolderLock();

    // Takes the lock. False when another process holds it; *error then says which one (its
    // process id, host and program) and what to do. A lock left by a process of this host
    // that no longer runs is taken over. True without a lock in a folder this process cannot
    // write.
    bool TryLock(QString* error);
    void Unlock();
    bool IsLocked() const;

    QString LockFilePath() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

// The error code of a data folder that another console holds.
inline constexpr int AppErrorDataFolderInUse = -2022;

inline constexpr const char* DataFolderLockName = "nodewarden.lock";
// %1 the data folder, %2 the holder's process id, %3 its host, %4 its program.
inline constexpr const char* DataFolderInUseText =
    "The data folder %1 is in use by another console: process %2 on %3 (%4). Wait until it has "
    "finished, or give this one another data folder (--home).";
// %1 the lock file, %2 the reason.
inline constexpr const char* DataFolderLockFailedText = "Cannot lock the data folder (%1): %2";
