#pragma once
#include "scan/chartparser.h"
#include "scan/download.h"

#include "tools/chartserver/chartserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

// Catalogue entry 5, Hot Bird, whose chart is position 13.
constexpr int kHotBird = 5;

// A loopback chart site whose only chart, position 13, is `page`, and a scratch
// folder for the tool's own files. `listening()` is false when either failed.
class HotBirdChartSite {
 public:
  explicit HotBirdChartSite(const QByteArray& page) : server_(site_.path()) {
    QDir(site_.path()).mkpath(QStringLiteral("charts"));
    QFile chart(site_.filePath(QStringLiteral("charts/13.html")));
    if (!chart.open(QIODevice::WriteOnly) || chart.write(page) != page.size()) return;
    chart.close();
    server_.setLogging(false);
    listening_ = server_.listen();
  }
  bool listening() const { return listening_; }
  QString baseUrl() const { return server_.baseUrl(); }
  QString home() const { return home_.path(); }

 private:
  QTemporaryDir site_, home_;
  ChartServer server_;
  bool listening_ = false;
};

}  // namespace tevrin::bench
