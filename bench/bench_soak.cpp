// Many scans of the large chart page in one process, through the same scan
// the window runs (download into cache.txt, read, parse, filter, sort): the
// resident memory after the first few scans against that after all of them
// shows whether anything grows from scan to scan.
#include "app/paths.h"
#include "bench/scansupport.h"
#include "bench/summary.h"
#include "scan/chartparser.h"
#include "scan/download.h"
#include "scan/scandriver.h"
#include "table/channeltable.h"
#include "tools/chartserver/chartserver.h"
#include "tools/gencharts/chartgen.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace tevrin;
using namespace tevrin::bench;

namespace {
// VmRSS of this process in KiB.
long ResidentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
  return 0;
}

constexpr int kWarmScans = 10;  // caches, fonts and allocator pools settle by then
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int scans = argc > 1 ? std::max(kWarmScans + 1, atoi(argv[1])) : 200;
  const int channels = argc > 2 ? std::max(1, atoi(argv[2])) : 12000;
  const QByteArray page = gencharts::LargeChartPage(channels);
  const HotBirdChartSite site(page);
  if (!site.listening()) return 1;
  qputenv("TEVRIN_CHART_URL", site.baseUrl().toUtf8());
  SetExeDirOverride(site.home());

  // One table for the whole run, as the window keeps one.
  ChannelTableModel table;
  PumpingHost host;
  SilentCallback callback;
  long warmKiB = 0;
  long settledKiB = 0;  // after scan 50
  QElapsedTimer clock;
  clock.start();
  for (int scan = 1; scan <= scans; ++scan) {
    if (RunChartScan(kHotBird, table, host, &callback) != ScanResult::Completed) return 1;
    if (scan == kWarmScans) warmKiB = ResidentKiB();
    if (scan == 50) settledKiB = ResidentKiB();
    if (scan == kWarmScans || scan % 50 == 0)
      std::printf("resident after scan %3d: %8.1f MB\n", scan, ResidentKiB() / 1024.0);
  }
  const double msPerScan = double(clock.nsecsElapsed()) / 1e6 / scans;
  const long endKiB = ResidentKiB();
  std::printf("page: %lld bytes, %d rows kept, %d scans in one process\n",
              static_cast<long long>(page.size()), table.count(), scans);
  std::printf("growth:                  %8.2f %% (goal < 5 %%)\n", 100.0 * (endKiB - warmKiB) / warmKiB);
  std::printf("time per scan:           %8.1f ms\n", msPerScan);
  char on[128];
  std::snprintf(on, sizeof on, "%.1f MB page, scans %d..%d in one process (%.0f ms a scan)",
                page.size() / 1e6, kWarmScans, scans, msPerScan);
  bench::SummaryRow("resident memory after many scans", on, endKiB / 1024.0, "MB",
                    "resident after the first 10 scans", warmKiB / 1024.0, "< 1.05");
  if (settledKiB > 0)
    bench::SummaryRow("resident memory after many scans", on, endKiB / 1024.0, "MB",
                      "resident after the first 50 scans", settledKiB / 1024.0, "< 1.05");

  // Idle after the last scan, as a window is: the tree's memory goes back to
  // the system but for a few chunks.
  QEventLoop idle;
  QTimer::singleShot(11000, &idle, &QEventLoop::quit);
  idle.exec();
  const long idleKiB = ResidentKiB();
  std::printf("resident 11 s after the last scan: %8.1f MB\n", idleKiB / 1024.0);
  std::snprintf(on, sizeof on, "%.1f MB page, 11 s after scan %d", page.size() / 1e6, scans);
  bench::SummaryRow("resident memory when idle", on, idleKiB / 1024.0, "MB",
                    "resident right after the last scan", endKiB / 1024.0, "< 1 (the tree given back)");
  return 0;
}
