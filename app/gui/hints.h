#pragma once
#include <QObject>
#include <QProxyStyle>

namespace tevrin {

constexpr int kHintPauseMs = 1;
constexpr int kHintHidePauseMs = 999999;

// Shows a control's hint 1 ms after the pointer rests and keeps it up until
// the pointer leaves.
class HintStyle final : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override;
};

class HintTimingFilter final : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// Installs both on the application.
void InstallHintTiming();

}  // namespace tevrin
