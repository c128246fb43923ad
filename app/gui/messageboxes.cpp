#include "app/gui/messageboxes.h"

#include "app/errors.h"

#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>

namespace tevrin {
namespace {

// The tool's messages are laid out by hand, line by line. Qt wraps a line
// wider than half the screen whenever it sizes the box (when it is shown and
// at every layout request); the box is widened to its lines instead.
class UnwrappedMessageBox final : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    keepLinesWhole();
  }
  bool event(QEvent* event) override {
    const bool handled = QMessageBox::event(event);
    if (event->type() == QEvent::LayoutRequest) keepLinesWhole();
    return handled;
  }

 private:
  void keepLinesWhole() {
    auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!isVisible() || !label || !label->wordWrap()) return;
    label->setWordWrap(false);
    layout()->activate();
    const QSize needed = layout()->totalMinimumSize();
    setFixedSize(std::max(width(), needed.width()), needed.height());
    QCoreApplication::removePostedEvents(this, QEvent::LayoutRequest);  // sized: no second pass
  }
};

QMessageBox::StandardButton Show(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                 QMessageBox::StandardButtons buttons) {
  // "\r" separates the lines of the tool's messages.
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
  UnwrappedMessageBox box(icon, caption, shown, buttons, QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void MessageBoxes::warning(const QString& t) { Show(QMessageBox::Warning, "Warning", t, QMessageBox::Ok); }
void MessageBoxes::error(const QString& t) { Show(QMessageBox::Critical, "Error", t, QMessageBox::Ok); }
void MessageBoxes::information(const QString& t) {
  Show(QMessageBox::Information, "Information", t, QMessageBox::Ok);
}
bool MessageBoxes::confirm(const QString& t) {
  return Show(QMessageBox::Question, "Confirmation", t, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}
void MessageBoxes::plain(const QString& t) { Show(QMessageBox::NoIcon, kAppTitle, t, QMessageBox::Ok); }
void MessageBoxes::applicationError(const QString& t) {
  Show(QMessageBox::Critical, kAppTitle, t, QMessageBox::Ok);
}

}  // namespace tevrin
