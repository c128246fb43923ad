// The scan of the large chart page from the bundled chart server on loopback
// to the sorted table (download, read, parse, filter, sort; without the
// progress window's one-second pause), against gumbo_parse alone on the same
// bytes.
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
#include <QFile>
#include <QTemporaryDir>

#include <gumbo.h>

#include <algorithm>
#include <cstdio>

using namespace tevrin;
using namespace tevrin::bench;

namespace {
constexpr int kRounds = 5;
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int channels = argc > 1 ? std::max(1, atoi(argv[1])) : 12000;
  const QByteArray page = gencharts::LargeChartPage(channels);
  const HotBirdChartSite site(page);
  if (!site.listening()) return 1;
  qputenv("TEVRIN_CHART_URL", site.baseUrl().toUtf8());
  SetExeDirOverride(site.home());

  double scanBest = 1e18, gumboBest = 1e18;
  int rows = 0;
  for (int round = 0; round < kRounds; ++round) {
    ChannelTableModel table;
    PumpingHost host;
    SilentCallback callback;
    QElapsedTimer t;
    t.start();
    if (RunChartScan(kHotBird, table, host, &callback) != ScanResult::Completed) return 1;
    scanBest = std::min(scanBest, double(t.nsecsElapsed()));
    rows = table.count();

    QElapsedTimer g;
    g.start();
    GumboOutput* output =
        gumbo_parse_with_options(&kGumboDefaultOptions, page.constData(), static_cast<size_t>(page.size()));
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    gumboBest = std::min(gumboBest, double(g.nsecsElapsed()));
  }
  std::printf("page: %lld bytes, %d rows kept, served on loopback\n", static_cast<long long>(page.size()),
              rows);
  std::printf("scan to the sorted table: %8.1f ms\n", scanBest / 1e6);
  std::printf("gumbo_parse alone:        %8.1f ms\n", gumboBest / 1e6);
  std::printf("ratio:                    %8.2f (goal <= 2.00)\n", scanBest / gumboBest);
  char on[128];
  std::snprintf(on, sizeof on, "%.1f MB page on loopback, %d rows kept", page.size() / 1e6, rows);
  bench::SummaryRow("scan to the sorted table", on, scanBest / 1e6, "ms", "gumbo_parse alone",
                    gumboBest / 1e6, "<= 2");
  return 0;
}
