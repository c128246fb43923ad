#include "app/gui/hints.h"

#include <QApplication>
#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

namespace tevrin {

int HintStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                         QStyleHintReturn* returnData) const {
  if (hint == SH_ToolTip_WakeUpDelay) return kHintPauseMs;
  if (hint == SH_ToolTip_FallAsleepDelay) return kHintHidePauseMs;
  return QProxyStyle::styleHint(hint, option, widget, returnData);
}

bool HintTimingFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ToolTip || !watched->isWidgetType()) return false;
  auto* widget = static_cast<QWidget*>(watched);
  if (widget->toolTip().isEmpty()) return false;
  auto* help = static_cast<QHelpEvent*>(event);
  QToolTip::showText(help->globalPos(), widget->toolTip(), widget, widget->rect(), kHintHidePauseMs);
  return true;
}

void InstallHintTiming() {
  // The proxy wraps the style in use rather than creating one by name: that
  // would search the style plug-ins again, and a style set after the windows
  // exist polishes every control once more.
  QStyle* current = QApplication::style();
  if (dynamic_cast<HintStyle*>(current) == nullptr) QApplication::setStyle(new HintStyle(current));
  static HintTimingFilter filter;
  qApp->installEventFilter(&filter);
}

}  // namespace tevrin
