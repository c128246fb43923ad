#include "scan/batchscan.h"

#include "app/errors.h"
#include "app/paths.h"
#include "app/savefile.h"
#include "scan/bundledsite.h"
#include "scan/catalogue.h"
#include "scan/chartparser.h"
#include "scan/scancancel.h"
#include "table/channeltable.h"

#include <QDir>
#include <QEventLoop>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThreadPool>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <ctime>

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

const QString kBatchFolderPrefix = QStringLiteral("tevrin-batch-");

// An open folder whose lock says that its run is alive.
class FolderLock {
 public:
  explicit FolderLock(const QString& dir)
      : fd_(::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {}
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool take() const { return fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }
  // Seconds since the folder last changed; -1 when it cannot be told.
  qint64 age() const {
    struct stat st = {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
    return qint64(::time(nullptr) - st.st_mtime);
  }

 private:
  int fd_;
};

// A batch folder that a killed run left: its scratch pages and their
// temporary files go, then the folder; anything else in it keeps it.
void RemoveStaleBatchFolder(const QString& dir, std::chrono::seconds minimumAge) {
  const FolderLock lock(dir);
  if (lock.age() < minimumAge.count() || !lock.take()) return;
  static const QRegularExpression page(QStringLiteral("^[0-9]+\\.html$"));
  const QDir folder(dir);
  for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    if (page.match(name).hasMatch()) QFile::remove(folder.filePath(name));
    else if (IsTemporaryFileName(name)) RemoveIfStale(folder.filePath(name), std::chrono::seconds(0));
  }
  QDir().rmdir(dir);
}

}  // namespace

void RemoveStaleLitter(std::chrono::seconds minimumAge) {
  const QString home = ExeDir();
  RemoveStaleTemporaryFiles(home, minimumAge);
  RemoveStaleTemporaryFiles(home + QStringLiteral("Base"), minimumAge);
  static const QRegularExpression batch(QStringLiteral("^tevrin-batch-[A-Za-z0-9]{6}$"));
  for (const QString& name : QDir(home).entryList({kBatchFolderPrefix + QStringLiteral("*")},
                                                  QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
    if (batch.match(name).hasMatch()) RemoveStaleBatchFolder(home + name, minimumAge);
}

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
  ScanCancel::instance().clear();  // a request belongs to the run it interrupted; a stop stays
  QTemporaryDir scratchDir(BesideExe(kBatchFolderPrefix + QStringLiteral("XXXXXX")));
  if (!scratchDir.isValid()) {
    const QString text = QStringLiteral("не создан каталог для загрузки: ") + scratchDir.errorString();
    for (const int index : indexes) report(FailedOutcome(index, text));
    return outcomes;
  }
  // Held for the run, so that another run's start never sweeps it away.
  const FolderLock alive(scratchDir.path());
  alive.take();
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

  // A stop (a signal, a closed output) ends the run between two satellites:
  // the downloads in flight end at once and nothing more is reported.
  ScanCancel& cancel = ScanCancel::instance();
  for (size_t slot = 0; slot < indexes.size() && !cancel.isRequested(); ++slot) {
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
    if (cancel.isRequested()) break;

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
    if (cancel.isRequested()) break;
    report(FinishSatelliteScan(index, scan, table, flow));
  }
  pool.waitForDone();
  return outcomes;
}

}  // namespace tevrin
