#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include "common/VxError.h"
#include "common/Wait.h"

// Builds bytes from a text of hex pairs ("09 2B 13 38"); blanks are ignored.
inline QByteArray Bytes(const char* hex)
{
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

// The code of the VxError f() raises, 0 when it raises none; its message into *message.
inline int ErrorCode(const std::function<void()>& f, QString* message = nullptr)
{
    try {
        f();
    } catch (const VxError& e) {
        if (message)
            *message = e.message();
        return e.code();
    }
    return 0;
}

// Runs the event loop until pred() holds or timeoutMs passes; returns pred().
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000)
{
    const auto deadline = TickCount() + timeoutMs;
    while (!pred() && TickCount() < deadline)
        WaitMilliseconds(5);
    return pred();
}

#include <csignal>
#include <sys/resource.h>

// While it lives, every write of this process beyond `bytes` into a file fails as on a full
// disk (the file size limit of the process; its signal is ignored so the write only fails).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};
