#include "tftp/TftpFileAccess.h"

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TftpOpenError errorOf(int code)
{
    return code == ENOENT ? TftpOpenError::NotFound : TftpOpenError::Refused;
}

} // namespace

TftpFolder& TftpFolder::operator=(TftpFolder&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

TftpFolder::~TftpFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

TftpFolder TftpFolder::Open(const QString& folder, const QStringList& inside, TftpOpenError* error)
{
    TftpFolder result;
    char real[PATH_MAX];
    const QByteArray path = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    if (!::realpath(path.constData(), real)) {
        *error = errorOf(errno);
        return result;
    }
    int fd = ::open(real, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = errorOf(errno);
        return result;
    }
    for (const QString& step : inside) {
        const int next = ::openat(fd, QFile::encodeName(step).constData(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int code = errno;
        ::close(fd);
        if (next < 0) {
            // ELOOP or ENOTDIR: a link or a file where a folder was expected.
            *error = errorOf(code);
            return result;
        }
        fd = next;
    }
    result.m_fd = fd;
    *error = TftpOpenError::None;
    return result;
}

int TftpFolder::OpenForReading(const QByteArray& name, qint64* size, TftpOpenError* error) const
{
    // Non-blocking: opening a FIFO must not wait for a writer (it is refused below anyway).
    const int fd = ::openat(m_fd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errorOf(errno);
        return -1;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = TftpOpenError::Refused;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *size = qint64(st.st_size);
    *error = TftpOpenError::None;
    return fd;
}

TftpAtomicFile::~TftpAtomicFile()
{
    Cancel();
}

bool TftpAtomicFile::Begin(TftpFolder folder, const QByteArray& name, TftpOpenError* error)
{
    Cancel();
    struct stat st = {};
    mode_t mode = 0666;
    bool replacing = false;
    if (::fstatat(folder.Descriptor(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(st.st_mode)) {
            *error = TftpOpenError::Refused;
            return false;
        }
        mode = st.st_mode & 0777;
        replacing = true;
    } else if (errno != ENOENT) {
        *error = errorOf(errno);
        return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QByteArray temporary =
            name + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        const int fd = ::openat(folder.Descriptor(), temporary.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            if (replacing)
                ::fchmod(fd, mode); // a replaced file keeps its permissions, whatever the umask
            m_fd = fd;
            m_temporary = temporary;
            m_name = name;
            m_folder = std::move(folder);
            *error = TftpOpenError::None;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    *error = TftpOpenError::Refused;
    return false;
}

bool TftpAtomicFile::Write(const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool TftpAtomicFile::Commit()
{
    if (m_fd < 0)
        return false;
    const bool synced = ::fdatasync(m_fd) == 0;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    // renameat replaces whatever is at the name now, a link included, without following it.
    if (!synced || !closed ||
        ::renameat(m_folder.Descriptor(), m_temporary.constData(), m_folder.Descriptor(),
                   m_name.constData()) != 0) {
        ::unlinkat(m_folder.Descriptor(), m_temporary.constData(), 0);
        m_temporary.clear();
        return false;
    }
    m_temporary.clear();
    return true;
}

void TftpAtomicFile::Cancel()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty() && m_folder.IsOpen())
        ::unlinkat(m_folder.Descriptor(), m_temporary.constData(), 0);
    m_temporary.clear();
}

bool TftpSplitSafeName(const QString& name, QStringList* steps)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return false;
    if (name.size() >= 2 && name[1] == QLatin1Char(':') && name[0].isLetter())
        return false;
    for (QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QLatin1Char('\\'))
            return false;
    }
    QStringList parts;
    for (const QString& part : name.split(QLatin1Char('/'))) {
        if (part == QLatin1String(".."))
            return false;
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        parts << part;
    }
    if (parts.isEmpty() || name.endsWith(QLatin1Char('/')))
        return false;
    *steps = parts;
    return true;
}
