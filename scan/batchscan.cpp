#include "scan/batchscan.h"

#include "app/errors.h"
#include "app/paths.h"
#include "scan/bundledsite.h"
#include "scan/catalogue.h"
#include "scan/chartparser.h"
#include "table/channeltable.h"

#include <QDir>
#include <QEventLoop>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QThreadPool>

#include <algorithm>

namespace tevrin {
namespace {

// Download results handed from the workers to the calling thread.
class Finished {
 public:
  explicit Finished(size_t count) : done_(count, 0), fileErrors_(count) {}
  void set(size_t slot, bool ok, const QString& fileError) {
    {
      const QMutexLocker lock(&mutex_);
      done_[slot] = ok ? 1 : -1;
      fileErrors_[slot] = fileError;
    }
    // Wakes the calling thread's wait; a no-op when it is busy parsing.
    QMetaObject::invokeMethod(
        &wake_, [] {}, Qt::QueuedConnection);
  }
  // 0 while the download runs, 1 when it succeeded, -1 when it failed.
  int state(size_t slot) {
    const QMutexLocker lock(&mutex_);
    return done_[slot];
  }
  // The system's text when the scratch file, not the network, failed.
  QString fileError(size_t slot) {
    const QMutexLocker lock(&mutex_);
    return fileErrors_[slot];
  }

 private:
  QMutex mutex_;
  std::vector<int> done_;
  std::vector<QString> fileErrors_;
  QObject wake_;  // lives on the calling thread
};

}  // namespace

std::vector<SatelliteOutcome> RunBatchScan(std::vector<int> indexes, ChartParserHost& host,
                                           const BatchOptions& options,
                                           const std::function<void(const SatelliteOutcome&)>& onOutcome) {
  std::sort(indexes.begin(), indexes.end());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  std::vector<SatelliteOutcome> outcomes;
  outcomes.reserve(indexes.size());
  const auto report = [&](SatelliteOutcome outcome) {
    outcomes.push_back(std::move(outcome));
    if (onOutcome) onOutcome(outcomes.back());
  };

  // Private to this run, so a second batch or the window's cache.txt never
  // shares a scratch file with it; removed with whatever a failure left.
  QTemporaryDir scratchDir(BesideExe(QStringLiteral("tevrin-batch-XXXXXX")));
  if (!scratchDir.isValid()) {
    const QString text = QStringLiteral("не создан каталог для загрузки: ") + scratchDir.errorString();
    for (const int index : indexes) report(FailedOutcome(index, text));
    return outcomes;
  }
  const auto scratchOf = [&](int index) {
    return scratchDir.filePath(QString::number(ChartPosition(index)) + QStringLiteral(".html"));
  };

  EnsureBundledChartSite();
  Finished finished(indexes.size());
  std::vector<QString> refusals(indexes.size());
  QThreadPool pool;
  pool.setMaxThreadCount(std::max(1, options.jobs));
  for (size_t slot = 0; slot < indexes.size(); ++slot) {
    const int index = indexes[slot];
    refusals[slot] = RefusalBeforeScan(index, options.flow);
    if (!refusals[slot].isEmpty()) continue;  // refused before any traffic, as a single scan is
    pool.start(
        [&finished, slot, address = ChartAddress(index), path = scratchOf(index), limits = options.limits] {
          bool ok = false;
          QString fileError;
          try {
            ok = DownloadToFile(address, path, nullptr, limits, &fileError);
          } catch (...) {
            ok = false;
          }
          finished.set(slot, ok, fileError);
        });
  }

  for (size_t slot = 0; slot < indexes.size(); ++slot) {
    const int index = indexes[slot];
    FlowOptions flow = options.flow;
    if (!options.exportDir.isEmpty())
      flow.exportPath = QDir(options.exportDir).filePath(SatelliteName(index) + QStringLiteral(".csv"));
    if (!refusals[slot].isEmpty()) {
      report(FailedOutcome(index, refusals[slot]));
      continue;
    }
    // Each download ends by its own limits, so this wait ends too; a worker's
    // result posts an event that wakes it.
    QEventLoop loop;
    while (finished.state(slot) == 0) loop.processEvents(QEventLoop::WaitForMoreEvents);

    if (const QString fileError = finished.fileError(slot); !fileError.isEmpty()) {
      report(FailedOutcome(index, fileError));  // a local file error, not a network one
      continue;
    }
    ChannelTableModel table;
    ScanResult scan = ScanResult::DownloadFailed;
    if (finished.state(slot) > 0) {
      try {
        scan = ScanDownloadedChart(scratchOf(index), table, host);
      } catch (const std::exception& e) {
        report(FailedOutcome(index, ErrorDisplayText(e)));
        continue;
      }
    }
    report(FinishSatelliteScan(index, scan, table, flow));
  }
  pool.waitForDone();
  return outcomes;
}

}  // namespace tevrin
