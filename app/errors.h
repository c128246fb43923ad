#pragma once
#include <QString>
#include <stdexcept>

namespace tevrin {

inline const QString kAppTitle = QStringLiteral("Tevrin  v1.04b");

// An error that ends a handler and is shown by the general error display.
class TevrinError : public std::runtime_error {
 public:
  explicit TevrinError(const QString& message)
      : std::runtime_error(message.toStdString()), message_(message) {}
  const QString& message() const { return message_; }

 private:
  QString message_;
};

// The text of the general error display: a full stop is added unless the last
// character is "." or any character whose code is below it (")", ",", " ").
QString ErrorDisplayText(const QString& message);
// The same for an exception: a TevrinError's message, else what() as UTF-8.
QString ErrorDisplayText(const std::exception& error);

// The list index error of the table and its string lists.
QString ListIndexErrorText(int index);

}  // namespace tevrin
