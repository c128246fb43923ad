#pragma once
#include "app/messages.h"
#include "app/paths.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace tevrin::test {

// Records every message box instead of showing it; answers questions from a
// queue (No when the queue is empty). Installs itself for its lifetime.
class RecordingMessages : public MessageService {
 public:
  struct Box {
    QString kind;  // "warning", "error", "information", "confirm", "plain", "applicationError"
    QString text;
  };
  RecordingMessages() { SetMessageService(this); }
  ~RecordingMessages() override { SetMessageService(nullptr); }

  void warning(const QString& t) override { boxes.append({"warning", t}); }
  void error(const QString& t) override { boxes.append({"error", t}); }
  void information(const QString& t) override { boxes.append({"information", t}); }
  bool confirm(const QString& t) override {
    boxes.append({"confirm", t});
    return answers.isEmpty() ? false : answers.takeFirst();
  }
  void plain(const QString& t) override { boxes.append({"plain", t}); }
  void applicationError(const QString& t) override { boxes.append({"applicationError", t}); }

  QStringList texts(const QString& kind) const {
    QStringList out;
    for (const Box& b : boxes)
      if (b.kind == kind) out.append(b.text);
    return out;
  }

  QList<Box> boxes;
  QList<bool> answers;
};

// A temporary directory that stands in for the executable's directory.
class TempExeDir {
 public:
  TempExeDir() { SetExeDirOverride(dir.path()); }
  ~TempExeDir() { SetExeDirOverride(QString()); }
  QString path() const { return dir.path(); }
  QString file(const QString& name) const { return dir.filePath(name); }
  QTemporaryDir dir;
};

}  // namespace tevrin::test
