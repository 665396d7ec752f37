#pragma once

#include <QString>

#include <exception>
#include <string>

// The error of every library component: a negative code and its fixed message.
// Components raise it; the caller (in the end the application's top-level handler)
// decides how to show it.
class VxError : public std::exception
{
public:
    VxError(int code, QString message)
        : m_code(code), m_message(std::move(message)), m_what(m_message.toStdString())
    {
    }

    int code() const noexcept { return m_code; }
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    int m_code;
    QString m_message;
    std::string m_what;
};
