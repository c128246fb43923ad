#include "app/stopsignals.h"

#include "scan/scancancel.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace tevrin {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

std::atomic<int> gReceived{0};
std::atomic<int> gWakeFd{-1};
struct sigaction gPrevious[kSignalCount];
struct sigaction gPreviousPipe;
static_assert(std::atomic<int>::is_always_lock_free);

// Async-signal-safe throughout: atomics and write.
void Record(int signal) {
  const int savedErrno = errno;
  int none = 0;
  gReceived.compare_exchange_strong(none, signal);
  ScanCancel::requestEnd();
  const int fd = gWakeFd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);  // a full pipe already wakes the reader
  }
  errno = savedErrno;
}

extern "C" void OnStopSignal(int signal) { Record(signal); }

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // no hand-over: the signals keep their actions
  notifier_ = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::drain);
  gWakeFd.store(fds[1]);
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // the file writes in progress go on and finish
  // Qt's network code ignores SIGPIPE as soon as it makes its first socket,
  // and relies on that: a handler here would take a server that hung up for
  // a stop. Ignored from the start, so the rule does not depend on timing.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &gPreviousPipe);
  for (int i = 0; i < kSignalCount; ++i) {
    ::sigaction(kSignals[i], nullptr, &gPrevious[i]);
    // A signal ignored from the start stays ignored: `nohup`, or a background
    // job of a shell script that must outlive the terminal's Ctrl-C.
    if (gPrevious[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &action, nullptr);
  }
}

StopSignals::~StopSignals() {
  if (!notifier_) return;
  for (int i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
  ::sigaction(SIGPIPE, &gPreviousPipe, nullptr);
  ::close(gWakeFd.exchange(-1));
  ::close(static_cast<int>(notifier_->socket()));
}

int StopSignals::received() { return gReceived.load(); }

void StopSignals::notice(int signal) { Record(signal); }

void StopSignals::drain() {
  unsigned char bytes[64];
  const int fd = static_cast<int>(notifier_->socket());
  for (;;) {
    const ssize_t n = ::read(fd, bytes, sizeof bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
  }
  // Waits that sleep in an event loop or on a condition wake now.
  ScanCancel::instance().request();
  emit stopRequested(received());
}

}  // namespace tevrin
