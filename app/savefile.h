#pragma once
#include <QIODevice>
#include <QString>

#include <functional>

namespace tevrin {

// Writes a file through a temporary file beside it, which replaces the old one
// only once everything is written: a full disk or a broken write never leaves
// a half file behind. `writeAll` writes into the device and returns false at
// the first short write. Throws TevrinError with the system's text: a failed
// write leaves only "Unknown error" behind, the commit that then fails says why
// ("File too large", ...).
void WriteFileWhole(const QString& path, const std::function<bool(QIODevice&)>& writeAll);

}  // namespace tevrin
