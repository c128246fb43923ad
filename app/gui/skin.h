#pragma once
#include <QString>

class QWidget;

namespace tevrin {

// The one built-in skin. Every skinned control carries the name of the skin
// section it is painted after in its "skinSection" property; the skin is a
// style sheet keyed by that property.
void ApplySkin(QWidget* window);
// Repaints a control after a change of its skin section.
void SetSkinSection(QWidget* control, const QString& section);
QString SkinSection(const QWidget* control);

}  // namespace tevrin
