#pragma once
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace tevrin {

// Our pictures are SVG drawings in the resource file. Each is drawn once, at
// the size it is shown, straight through the SVG renderer: an icon made from
// an .svg path would first search and load the icon-engine plug-ins, a cost
// paid at every start.
// A null pixmap when the drawing is missing or unreadable.
QPixmap SvgPixmap(const QString& path, QSize size);

// An icon holding that one drawing; Qt derives the disabled look from it.
QIcon SvgIcon(const QString& path, QSize size);

}  // namespace tevrin
