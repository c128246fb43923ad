#include "app/errors.h"

#include "app/guard.h"
#include "app/messages.h"

#include <cstdio>
#include <exception>

namespace tevrin {

QString ErrorDisplayText(const QString& message) {
  if (message.isEmpty() || message.back().unicode() > u'.') return message + QLatin1Char('.');
  return message;
}

QString ListIndexErrorText(int index) { return QStringLiteral("List index out of bounds (%1)").arg(index); }

namespace {
class StderrMessages final : public MessageService {
 public:
  void warning(const QString& t) override { Print("Warning", t); }
  void error(const QString& t) override { Print("Error", t); }
  void information(const QString& t) override { Print("Information", t); }
  bool confirm(const QString& t) override {
    Print("Confirmation", t);
    return false;
  }
  void plain(const QString& t) override { Print(nullptr, t); }
  void applicationError(const QString& t) override { Print(nullptr, t); }

 private:
  static void Print(const char* caption, const QString& text) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : kAppTitle.toUtf8().constData(),
                 text.toUtf8().constData());
  }
};

MessageService*& Installed() {
  static MessageService* service = nullptr;
  return service;
}
}  // namespace

MessageService& Messages() {
  static StderrMessages fallback;
  return Installed() ? *Installed() : fallback;
}

void SetMessageService(MessageService* service) { Installed() = service; }

QString ErrorDisplayText(const std::exception& error) {
  const auto* own = dynamic_cast<const TevrinError*>(&error);
  return ErrorDisplayText(own ? own->message() : QString::fromUtf8(error.what()));
}

void RunGuarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    Messages().applicationError(ErrorDisplayText(e));
  }
}

}  // namespace tevrin
