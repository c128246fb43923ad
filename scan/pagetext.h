#pragma once
#include <QByteArray>
#include <QString>

namespace tevrin {

// Decodes a downloaded page once: a byte-order mark (UTF-8, UTF-16LE/BE) wins,
// then a charset the page declares in its first 1024 bytes (found the way a
// browser's meta prescan finds it), then UTF-8 when the bytes are valid UTF-8,
// else Windows-1251. Lines end at CR LF, LF or CR; the text is the lines
// joined again, each followed by CR LF.
QString DecodePageBytes(const QByteArray& bytes);

// The charset label the page declares in its first 1024 bytes, lower-cased;
// empty when there is none. Exposed for the tests.
QByteArray PrescanCharset(const QByteArray& bytes);

// Reads the scratch file and decodes it; throws TevrinError with the system's
// text when the file cannot be read.
QString ReadPageFile(const QString& path);

}  // namespace tevrin
