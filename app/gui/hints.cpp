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
  QApplication::setStyle(new HintStyle(QApplication::style()->name()));
  static HintTimingFilter filter;
  qApp->installEventFilter(&filter);
}

}  // namespace tevrin
