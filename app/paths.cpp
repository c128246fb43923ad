#include "app/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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

bool IsWritableFolder(const QString& dir) {
  const QFileInfo info(dir);
  return info.isDir() && info.isWritable();
}

bool IsOwnProgramFolder(const QString& dir, const QString& installedBinDir) {
  return IsWritableFolder(dir) &&
         QFileInfo(dir).canonicalFilePath() != QFileInfo(installedBinDir).canonicalFilePath();
}

QString UserDataDir() {
  // A relative XDG_DATA_HOME is invalid and ignored, as the XDG rules say
  // (Qt's own lookup would take it relative to the working folder).
  const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
  const QString share = QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + QStringLiteral("/.local/share");
  return QDir::cleanPath(share + QStringLiteral("/Tevrin"));
}

QString FilesDirFor(const QString& exeDir, const QString& dataDir,
                    const std::function<bool(const QString& dir)>& writable) {
  if (writable(exeDir)) return WithSeparator(exeDir);
  // A failure here is not reported by itself: the first write names the path.
  QDir().mkpath(dataDir);
  return WithSeparator(dataDir);
}

QString ExeDir() {
  if (!Override().isEmpty()) return WithSeparator(Override());
  return FilesDirFor(QCoreApplication::applicationDirPath(), UserDataDir(), [](const QString& dir) {
    return IsOwnProgramFolder(dir, QStringLiteral(TEVRIN_INSTALL_BINDIR));
  });
}

QString BesideExe(const QString& relativeName) { return ExeDir() + relativeName; }

void SetExeDirOverride(const QString& directory) {
  Override() = directory.isEmpty() ? QString() : QDir(directory).absolutePath();
}

}  // namespace tevrin
