#include "app/paths.h"

#include <QCoreApplication>
#include <QDir>

namespace tevrin {
namespace {
QString& Override() {
  static QString dir;
  return dir;
}
QString WithSeparator(QString dir) {
  if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
  return dir;
}
}  // namespace

QString ExeDir() {
  if (!Override().isEmpty()) return WithSeparator(Override());
  return WithSeparator(QCoreApplication::applicationDirPath());
}

QString BesideExe(const QString& relativeName) { return ExeDir() + relativeName; }

void SetExeDirOverride(const QString& directory) {
  Override() = directory.isEmpty() ? QString() : QDir(directory).absolutePath();
}

}  // namespace tevrin
