#include "app/gui/messageboxes.h"

#include "app/errors.h"

#include <QApplication>
#include <QMessageBox>

namespace tevrin {
namespace {
QMessageBox::StandardButton Show(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                 QMessageBox::StandardButtons buttons) {
  // "\r" separates the lines of the tool's messages.
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QMessageBox box(icon, caption, shown, buttons, QApplication::activeWindow());
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
