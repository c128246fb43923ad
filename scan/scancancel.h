#pragma once
#include <atomic>
#include <functional>
#include <list>
#include <mutex>

namespace tevrin {

// A request to end the scan in progress at once, made when the window is asked
// to close. The download and the wait for the page's parse listen for it and
// end as failed; the scan then returns without a message. A new scan clears it.
//
// Plain atomics and a list of wake-ups: it belongs to no thread, so any thread
// may ask, test or listen, whichever made it first.
class ScanCancel {
 public:
  static ScanCancel& instance();

  // Sets the request, then runs every wake-up on the asking thread.
  void request();
  void clear() { requested_.store(false); }
  bool isRequested() const { return requested_.load() || ending_.load(); }

  // The process is ending (a stop signal): every scan, this one and any
  // later one, is cancelled, and clear() does not undo it. One lock-free
  // store, so a signal handler may call it; the waiting loops notice it at
  // their next look, and request() wakes them at once.
  static void requestEnd() noexcept { ending_.store(true); }
  static bool endRequested() noexcept { return ending_.load(); }

  // A wake-up for a wait that must end when a request comes: run on the
  // requesting thread, so it only posts to its own thread or notifies a
  // condition. Removed when the returned object goes.
  class Listener {
   public:
    Listener() = default;
    Listener(Listener&& other) noexcept;
    Listener& operator=(Listener&&) = delete;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener();

   private:
    friend class ScanCancel;
    using Entry = std::list<std::function<void()>>::iterator;
    Listener(ScanCancel* owner, Entry entry) : owner_(owner), entry_(entry) {}
    ScanCancel* owner_ = nullptr;
    Entry entry_;
  };
  [[nodiscard]] Listener listen(std::function<void()> wake);

 private:
  ScanCancel() = default;
  static_assert(std::atomic<bool>::is_always_lock_free);
  static inline std::atomic<bool> ending_{false};
  std::atomic<bool> requested_{false};
  std::mutex mutex_;
  std::list<std::function<void()>> wakes_;
};

}  // namespace tevrin
