#include "scan/gui/formloadurl.h"

#include "app/errors.h"
#include "app/gui/fonts.h"
#include "scan/gui/badgeanimation.h"
#include "ui_TFormLoadURL.h"

#include <QGuiApplication>
#include <QWindow>

namespace tevrin {

namespace {

// A transient of the main window, above it only, with no title bar and no
// window buttons: nothing to move or close it by. A Wayland client cannot
// place its windows, and GNOME's compositor places a transient window like
// any other; as a popup of the main window it opens where the window asks,
// over the main window's centre, on every compositor.
Qt::WindowFlags ProgressWindowFlags() {
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return Qt::ToolTip;
  return Qt::Tool | Qt::FramelessWindowHint;
}

}  // namespace

TFormLoadURL::TFormLoadURL(QWidget* mainWindow)
    : QWidget(mainWindow, ProgressWindowFlags()), mainWindow_(mainWindow), ui_(new Ui::TFormLoadURL) {
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
  // Over the centre of the main window, frame included where Qt knows it, in
  // the coordinates Qt gives that window: on Wayland they are not the
  // screen's, and a popup is placed by its offset from its parent.
  if (mainWindow_) {
    const QWindow* main = mainWindow_->windowHandle();
    const QMargins frame = main ? main->frameMargins() : QMargins();
    const QPoint centre = mainWindow_->mapToGlobal(mainWindow_->rect().center()) +
                          QPoint(frame.right() - frame.left(), frame.bottom() - frame.top()) / 2;
    move(centre - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
}

}  // namespace tevrin
