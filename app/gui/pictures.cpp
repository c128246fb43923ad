#include "app/gui/pictures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

namespace tevrin {

QPixmap SvgPixmap(const QString& path, QSize size) {
  QSvgRenderer renderer(path);
  if (!renderer.isValid() || size.isEmpty()) return {};
  // Sharp on a high-density screen too.
  const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
  QPixmap pixmap(size * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  return pixmap;
}

QIcon SvgIcon(const QString& path, QSize size) {
  const QPixmap pixmap = SvgPixmap(path, size);
  return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

}  // namespace tevrin
