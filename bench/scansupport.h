#pragma once
#include "scan/chartparser.h"
#include "scan/download.h"

#include <QCoreApplication>

namespace tevrin::bench {

// What the window gives a scan, minus the window: Russian ticked, events pumped
// after every row and every received piece, as the window's own handlers do.
class PumpingHost final : public ChartParserHost {
 public:
  bool isTicked(Language language) override { return language == Language::Rus; }
  QString otherLanguageText() override { return {}; }
  void processEvents() override { QCoreApplication::processEvents(); }
};

class SilentCallback final : public IBindStatusCallback {
 public:
  void OnStartBinding() override {}
  void OnProgress(qint64) override { QCoreApplication::processEvents(); }
  void OnStopBinding() override {}
};

}  // namespace tevrin::bench
