#include "scan/scancancel.h"

namespace tevrin {

ScanCancel& ScanCancel::instance() {
  static ScanCancel cancel;
  return cancel;
}

void ScanCancel::request() {
  requested_.store(true);
  emit requested();
}

}  // namespace tevrin
