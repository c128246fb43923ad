#include "web/bannermodule.h"

#include <QDir>

namespace tevrin {

QStringList BannerModuleFolders(const QString& exeDir) {
  // Set by the build from the install layout: bin/ to lib/<multiarch>/tevrin.
  const QString privateFolder =
      QDir::cleanPath(exeDir + QLatin1Char('/') + QStringLiteral(TEVRIN_MODULE_RELDIR));
  return {QDir::cleanPath(exeDir), privateFolder};
}

}  // namespace tevrin
