#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The server opens files only through a descriptor of their folder and never through a
// symbolic link: the folder's own path is resolved to its real path once (it is chosen
// by the administrator or the program), every step below it is opened with O_NOFOLLOW,
// and writes are renamed into place inside that same folder, so a link planted at the
// name meanwhile is replaced, not followed.

// Why a file could not be opened.
enum class TftpOpenError
{
    None,
    NotFound, // no such file (or folder)
    Refused,  // a symbolic link, a folder, a device or FIFO, no permission
};

// A folder held open by its descriptor.
class TftpFolder
{
public:
    TftpFolder() = default;
    TftpFolder(const TftpFolder&) = delete;
    TftpFolder& operator=(const TftpFolder&) = delete;
    TftpFolder(TftpFolder&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    TftpFolder& operator=(TftpFolder&& other) noexcept;
    ~TftpFolder();

    // Opens the real folder of `folder`, then each name of `inside` below it without
    // following a link.
    static TftpFolder Open(const QString& folder, const QStringList& inside, TftpOpenError* error);

    bool IsOpen() const { return m_fd >= 0; }
    int Descriptor() const { return m_fd; }

    // Opens a regular file of this folder for reading; returns its descriptor (the caller
    // closes it) and its size, or -1.
    int OpenForReading(const QByteArray& name, qint64* size, TftpOpenError* error) const;

private:
    int m_fd = -1;
};

// A file received into a temporary file beside its target and renamed over it when
// complete: a failed or cancelled put leaves the old file as it was.
class TftpAtomicFile
{
public:
    TftpAtomicFile() = default;
    TftpAtomicFile(const TftpAtomicFile&) = delete;
    TftpAtomicFile& operator=(const TftpAtomicFile&) = delete;
    ~TftpAtomicFile(); // removes an uncommitted temporary file

    // The target must be absent or a regular file (not a link, folder, device or FIFO).
    bool Begin(TftpFolder folder, const QByteArray& name, TftpOpenError* error);
    bool Write(const char* data, qint64 size);
    // Flushes the data to disk and renames the temporary file over the target.
    bool Commit();
    void Cancel();
    bool IsOpen() const { return m_fd >= 0; }

private:
    TftpFolder m_folder;
    QByteArray m_name;
    QByteArray m_temporary;
    int m_fd = -1;
};

// A requested name that may be looked up below a served folder: relative, no parent
// references, drive letters, backslashes or control characters. Splits it into its steps.
bool TftpSplitSafeName(const QString& name, QStringList* steps);
