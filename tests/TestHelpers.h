#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include "common/Wait.h"

// Builds bytes from a text of hex pairs ("09 2B 13 38"); blanks are ignored.
inline QByteArray Bytes(const char* hex)
{
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

// Runs the event loop until pred() holds or timeoutMs passes; returns pred().
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000)
{
    const auto deadline = TickCount() + timeoutMs;
    while (!pred() && TickCount() < deadline)
        WaitMilliseconds(5);
    return pred();
}
