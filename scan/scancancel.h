#pragma once
#include <QObject>

#include <atomic>

namespace tevrin {

// A request to end the scan in progress at once, made when the window is asked
// to close. The download and the wait for the page's parse listen for it and
// end as failed; the scan then returns without a message. A new scan clears it.
// Safe to test from any thread; `requested` is emitted on the thread that asks.
class ScanCancel : public QObject {
  Q_OBJECT
 public:
  static ScanCancel& instance();
  void request();
  void clear() { requested_.store(false); }
  bool isRequested() const { return requested_.load(); }

 signals:
  void requested();

 private:
  ScanCancel() = default;
  std::atomic<bool> requested_{false};
};

}  // namespace tevrin
