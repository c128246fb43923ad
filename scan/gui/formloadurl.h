#pragma once
#include <QWidget>

namespace Ui {
class TFormLoadURL;
}  // namespace Ui

namespace tevrin {

class BadgeAnimation;

// The small progress window of a page download: the turning badge across the
// top and the status line across the bottom. Created hidden at start-up; a
// download shows and hides it.
class TFormLoadURL : public QWidget {
  Q_OBJECT
 public:
  explicit TFormLoadURL(QWidget* mainWindow);
  ~TFormLoadURL() override;

  BadgeAnimation* AnimateCopy() const;
  QString statusText() const;
  void setStatusText(const QString& text);
  // Shows the window centred over the main window.
  void showCentred();

 private:
  QWidget* mainWindow_;
  Ui::TFormLoadURL* ui_;
};

}  // namespace tevrin
