#pragma once
#include <QString>
#include <QStringList>

namespace tevrin {

// The folders the banner's web engine module is looked for in, in this order:
// the executable's own folder (a build tree, or a copy of the tool in a folder
// of its own), then the private library folder of an installed tool, which is
// found from the executable's folder, so an installed tree works under any
// prefix and no build path is kept in the binary.
QStringList BannerModuleFolders(const QString& exeDir);

}  // namespace tevrin
