#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// MD5 (RFC 1321) of the data, as the 16 digest bytes in standard order.
void Md5(uint8_t out[16], const void* data, size_t length);
QByteArray Md5(const QByteArray& data);
