#include "scan/scancancel.h"

#include <utility>

namespace tevrin {

ScanCancel& ScanCancel::instance() {
  static ScanCancel cancel;
  return cancel;
}

void ScanCancel::request() {
  requested_.store(true);
  const std::lock_guard lock(mutex_);
  for (const std::function<void()>& wake : wakes_) wake();
}

ScanCancel::Listener ScanCancel::listen(std::function<void()> wake) {
  const std::lock_guard lock(mutex_);
  wakes_.push_back(std::move(wake));
  return Listener(this, std::prev(wakes_.end()));
}

ScanCancel::Listener::Listener(Listener&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), entry_(other.entry_) {}

ScanCancel::Listener::~Listener() {
  if (!owner_) return;
  const std::lock_guard lock(owner_->mutex_);
  owner_->wakes_.erase(entry_);
}

}  // namespace tevrin
