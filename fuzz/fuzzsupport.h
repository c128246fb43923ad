#pragma once
#include "app/messages.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace tevrin::fuzz {

// Some Qt classes want an application object; one is made for the whole run.
inline void EnsureApp() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "tevrin-fuzz";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
}

// A broken invariant is a finding: say which one and stop, so libFuzzer keeps
// the input.
[[noreturn]] inline void Fail(const char* what, const QString& detail = QString()) {
  std::fprintf(stderr, "INVARIANT BROKEN: %s\n%s\n", what, detail.toUtf8().constData());
  std::abort();
}

#define TEVRIN_FUZZ_CHECK(cond, detail)                 \
  do {                                                  \
    if (!(cond)) ::tevrin::fuzz::Fail(#cond, (detail)); \
  } while (false)

// Keeps the message boxes instead of printing them.
class RecordingMessages : public MessageService {
 public:
  struct Box {
    const char* kind;
    QString text;
  };
  RecordingMessages() { SetMessageService(this); }
  ~RecordingMessages() override { SetMessageService(nullptr); }
  RecordingMessages(const RecordingMessages&) = delete;
  RecordingMessages& operator=(const RecordingMessages&) = delete;

  void warning(const QString& t) override { boxes.append({"warning", t}); }
  void error(const QString& t) override { boxes.append({"error", t}); }
  void information(const QString& t) override { boxes.append({"information", t}); }
  bool confirm(const QString& t) override {
    boxes.append({"confirm", t});
    return false;
  }
  void plain(const QString& t) override { boxes.append({"plain", t}); }
  void applicationError(const QString& t) override { boxes.append({"applicationError", t}); }

  QList<Box> boxes;
};

}  // namespace tevrin::fuzz
