#include "app/gui/fonts.h"

#include <QFontDatabase>
#include <QHash>

namespace tevrin {

QString InstalledFamily(const QString& designedFamily) {
  static QHash<QString, QString> resolved;
  const auto known = resolved.constFind(designedFamily);
  if (known != resolved.constEnd()) return *known;
  QString family = designedFamily;
  if (!QFontDatabase::families().contains(designedFamily, Qt::CaseInsensitive)) {
    if (designedFamily == kSansFamily) family = QStringLiteral("Liberation Sans");
    else if (designedFamily == kSerifFamily) family = QStringLiteral("Liberation Serif");
  }
  resolved.insert(designedFamily, family);
  return family;
}

QFont DesignedFont(const QString& designedFamily, int pixels, bool bold) {
  QFont font(InstalledFamily(designedFamily));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QFont DesignedFamilyFont(const QString& designedFamily, bool bold) {
  QFont font;
  font.setFamilies({InstalledFamily(designedFamily)});
  font.setBold(bold);
  return font;
}

}  // namespace tevrin
