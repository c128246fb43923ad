#pragma once
#include <QFont>
#include <QString>

namespace tevrin {

inline const QString kSansFamily = QStringLiteral("MS Sans Serif");
inline const QString kSerifFamily = QStringLiteral("Times New Roman");

// The installed family that draws a font of the layout: the designed family
// where it is installed, else its metric twin, which keeps the captions inside
// their designed boxes. The family is resolved here rather than by a font
// substitution, because Qt asks fontconfig for a full fallback list (a sort
// of every installed font) each time a requested family is missing.
QString InstalledFamily(const QString& designedFamily);

// A font of the layout at a size in pixels.
QFont DesignedFont(const QString& designedFamily, int pixels, bool bold = false);

// Only the family (and boldness) of a font of the layout; the size is the
// parent's.
QFont DesignedFamilyFont(const QString& designedFamily, bool bold);

}  // namespace tevrin
