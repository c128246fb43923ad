#include "scan/gui/formloadurl.h"

#include "app/errors.h"
#include "app/gui/fonts.h"
#include "scan/gui/badgeanimation.h"
#include "ui_TFormLoadURL.h"

namespace tevrin {

TFormLoadURL::TFormLoadURL(QWidget* mainWindow)
    : QWidget(mainWindow,
              // A transient of the main window, above it only. No title bar and
              // no window buttons: nothing to move or close it by.
              Qt::Tool | Qt::FramelessWindowHint),
      mainWindow_(mainWindow),
      ui_(new Ui::TFormLoadURL) {
  ui_->setupUi(this);
  setObjectName(QStringLiteral("FormLoadURL"));
  setWindowTitle(kAppTitle);
  // Closing the main window ends the tool even while this one is up.
  setAttribute(Qt::WA_QuitOnClose, false);
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
