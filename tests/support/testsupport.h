#pragma once
#include "app/messages.h"
#include "app/paths.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QList>
#include <QTimer>
#include <QtTest>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

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

// Hand-made chart pages: a transponder row has five cells (cell 1 holds the
// transponder's lines), a channel row eleven (name 2, kind 3, encryption 4,
// video 8, audio 9).
inline QString Transponder(const QString& firstLine, const QString& rest) {
  return QString("<tr><td>1</td><td>T: %1<br>%2</td><td>x</td><td>x</td><td>x</td></tr>\n")
      .arg(firstLine, rest);
}
inline QString Channel(const QString& name, const QString& kind, const QString& coding,
                       const QString& audio) {
  return QString(
             "<tr><td>c0</td><td>c1</td><td><a href='#'>%1</a></td><td>%2</td><td>%3</td>"
             "<td>c5</td><td>c6</td><td>c7</td><td>MPEG-2</td><td>%4</td><td>c10</td></tr>\n")
      .arg(name, kind, coding, audio);
}
inline QByteArray Page(const QString& rows) {
  return ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>chart</title></head><body><table>\n" +
          rows + "</table></body></html>\n")
      .toUtf8();
}

// Whole files, for fixtures and for checking what the tool wrote.
inline void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  QCOMPARE(f.write(bytes), bytes.size());
}
inline QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Waits in a real event loop: QTest::qWaitFor sleeps between its rounds, and
// the web engine's browser side runs on this thread, so it would crawl.
inline bool WaitInEventLoop(const std::function<bool()>& done, int timeoutMs = 30000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.hasExpired(timeoutMs)) return false;
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

}  // namespace tevrin::test
