#pragma once

// What the fuzz targets share: the Qt application object that sockets and timers need,
// and raw input as Qt byte arrays and texts.

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// One application object for the whole run; libFuzzer calls the target many times in
// one process, so it is made on first use and never destroyed.
inline QCoreApplication& FuzzApp()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

inline QByteArray FuzzBytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Input as a text: UTF-8 when valid, otherwise each byte one character (both happen in
// files and fields an administrator types or pastes).
inline QString FuzzText(const QByteArray& bytes)
{
    const QString utf8 = QString::fromUtf8(bytes);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(bytes) : utf8;
}

// A failed property check: abort so that libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);     \
            abort();                                                                      \
        }                                                                                 \
    } while (0)
