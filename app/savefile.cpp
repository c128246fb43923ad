#include "app/savefile.h"

#include "app/errors.h"

#include <QSaveFile>

namespace tevrin {

void WriteFileWhole(const QString& path, const std::function<bool(QIODevice&)>& writeAll) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) throw TevrinError(file.errorString());
  const bool written = writeAll(file);
  if (!file.commit() || !written) throw TevrinError(file.errorString());
}

}  // namespace tevrin
