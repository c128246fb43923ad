#pragma once
#include <QObject>

class QSocketNotifier;

namespace tevrin {

// Turns SIGINT, SIGTERM and SIGHUP into a request handed to the event loop: the handler only records the
// signal, marks every scan as cancelled (ScanCancel::requestEnd) and writes one byte into a pipe, all of
// which is safe inside a signal handler; a socket notifier on the pipe emits
// `stopRequested` on the thread that made this object. The program then ends
// its work the ordinary way: the command line stops its downloads and lets
// every temporary file go, the window closes as if the user closed it.
//
// SIGPIPE is ignored, as Qt's network code has it; a write to a closed
// output pipe then fails with EPIPE, and the program reports that through
// notice(SIGPIPE): the same stop, with the status 141 a shell expects.
//
// Every stop is handled this way, a repeated one too: timeout(1) signals the
// process and its group, so one stop may come twice. A signal that was
// ignored when the program started (nohup, a background job of a script)
// stays ignored.
//
// One object at a time; the previous actions come back when it goes.
class StopSignals : public QObject {
  Q_OBJECT
 public:
  explicit StopSignals(QObject* parent = nullptr);
  ~StopSignals() override;
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The first stop signal received, 0 while there was none.
  static int received();
  // The same stop as a signal, for a cause found without one: a write to a
  // closed output pipe (EPIPE) is SIGPIPE's stop.
  static void notice(int signal);
  // The status a shell expects of a process stopped by `signal`: 128 + number.
  static int exitStatusFor(int signal) { return 128 + signal; }

 signals:
  void stopRequested(int signal);

 private:
  void drain();
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tevrin
