// Times the chart parser against the bare HTML parse of the same bytes.
// bench_parse [CHANNEL_ROWS]   (default 12000)
#include "bench/summary.h"
#include "scan/chartparser.h"
#include "scan/pagetext.h"
#include "table/channeltable.h"
#include "tools/gencharts/chartgen.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gumbo.h>

#include <algorithm>
#include <cstdio>

using namespace tevrin;

namespace {

class PumpingHost : public ChartParserHost {
 public:
  bool isTicked(Language language) override { return language == Language::Rus; }
  QString otherLanguageText() override { return {}; }
  void setProgressMaximum(int maximum) override { rows = maximum; }
  void processEvents() override { QCoreApplication::processEvents(); }
  int rows = 0;
};

constexpr int kRounds = 5;  // the best of several runs, to keep other load out

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int channels = argc > 1 ? std::max(1, atoi(argv[1])) : 12000;
  const QString page = DecodePageBytes(gencharts::LargeChartPage(channels));
  const QByteArray utf8 = page.toUtf8();

  qint64 bareBest = INT64_MAX, parseBest = INT64_MAX;
  int trCount = 0, accepted = 0;
  for (int round = 0; round < kRounds; ++round) {
    QElapsedTimer t;
    t.start();
    GumboOutput* output = gumbo_parse(utf8.constData());
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    bareBest = std::min(bareBest, t.nsecsElapsed());

    ChannelTableModel table;
    PumpingHost host;
    table.beginBulkUpdate();
    t.restart();
    ParseChartPage(page, table, host);
    parseBest = std::min(parseBest, t.nsecsElapsed());
    table.endBulkUpdate();
    trCount = host.rows;
    accepted = table.count();
  }
  std::printf("page: %lld bytes UTF-8, %d TR elements, %d rows accepted\n",
              static_cast<long long>(utf8.size()), trCount, accepted);
  std::printf("gumbo_parse alone:  %8.1f ms\n", bareBest / 1e6);
  std::printf("ParseChartPage:     %8.1f ms\n", parseBest / 1e6);
  std::printf("ratio:              %8.2f (goal <= 1.50)\n", double(parseBest) / double(bareBest));
  char on[128];
  std::snprintf(on, sizeof on, "%.1f MB page, %d TR, %d rows kept", utf8.size() / 1e6, trCount, accepted);
  bench::SummaryRow("ParseChartPage", on, parseBest / 1e6, "ms", "gumbo_parse alone", bareBest / 1e6,
                    "<= 1.5");
  return 0;
}
