#include "scan/gui/formloadurl.h"

#include "app/gui/fonts.h"
#include "scan/gui/badgeanimation.h"
#include "ui_TFormLoadURL.h"

namespace tevrin {

TFormLoadURL::TFormLoadURL(QWidget* mainWindow)
    : QWidget(nullptr,
              // No title bar and no window buttons: nothing to move or close it by.
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      mainWindow_(mainWindow),
      ui_(new Ui::TFormLoadURL) {
  ui_->setupUi(this);
  setObjectName(QStringLiteral("FormLoadURL"));
  setFixedSize(164, 65);
  const QFont font = DesignedFont(kSansFamily, 11);
  setFont(font);
  ui_->LabelStatus->setFont(font);
  ui_->LabelStatus->setStyleSheet(QStringLiteral("color: black;"));
  setAutoFillBackground(true);
}

TFormLoadURL::~TFormLoadURL() { delete ui_; }

BadgeAnimation* TFormLoadURL::AnimateCopy() const { return ui_->AnimateCopy; }

QString TFormLoadURL::statusText() const { return ui_->LabelStatus->text(); }

void TFormLoadURL::setStatusText(const QString& text) { ui_->LabelStatus->setText(text); }

void TFormLoadURL::showCentred() {
  if (mainWindow_) {
    const QRect outer = mainWindow_->frameGeometry();
    move(outer.center() - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
}

}  // namespace tevrin
