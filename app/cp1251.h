#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace tevrin {

// Windows-1251, the 8-bit code page of the saved tables and the settings file:
// one byte per character both ways. Byte 0x98 has no character of its own and
// reads as U+0098, so that it survives a rewrite.
QString FromCp1251(QByteArrayView bytes);

// False, leaving `out` alone, when a character has no Windows-1251 byte.
bool ToCp1251Exact(QStringView text, QByteArray* out);

// Every character (a code point: a surrogate pair is one) that the code page
// lacks becomes one "?"; the result is cut to `maxChars` bytes.
QByteArray ToCp1251(QStringView text, int maxChars);

}  // namespace tevrin
