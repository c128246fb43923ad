// Peak resident memory and time of whole scans (download from the bundled
// chart server on loopback, read, parse, sort), each in a process of its own:
// the large bench page, as a ratio to its size, and hostile pages, each of
// which must end parsed or refused within 30 s and under 1 GiB.
// bench_pages [CHANNEL_ROWS]   (default 12000)
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
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

using namespace tevrin;
using namespace tevrin::bench;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// In the child: one scan, then "RESULT outcome rows milliseconds peak-KiB".
int ScanOnce(const QString& home) {
  SetExeDirOverride(home);
  ChannelTableModel table;
  PumpingHost host;
  SilentCallback callback;
  QElapsedTimer t;
  t.start();
  const ScanResult result = RunChartScan(kHotBird, table, host, &callback);
  const qint64 ms = t.elapsed();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const char* outcome = result == ScanResult::Completed        ? "parsed"
                        : result == ScanResult::DocumentFailed ? "refused"
                                                               : "download-failed";
  std::printf("RESULT %s %d %lld %ld\n", outcome, table.count(), static_cast<long long>(ms), usage.ru_maxrss);
  return 0;
}

struct Measured {
  QString outcome = QStringLiteral("no-result");
  int rows = 0;
  double seconds = 0;
  double peakMiB = 0;
};

// Serves `page` as the chart of position 13 and scans it in a child process.
Measured ScanInChild(const QByteArray& page) {
  const HotBirdChartSite site(page);
  if (!site.listening()) return {};

  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("TEVRIN_CHART_URL"), site.baseUrl());
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QEventLoop loop;  // the server answers from this loop while the child scans
  QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(120000, &loop, [&child] { child.kill(); });
  child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--scan"), site.home()});
  loop.exec();

  Measured m;
  for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
    const QList<QByteArray> f = line.split(' ');
    if (f.size() != 5 || f[0] != "RESULT") continue;
    m.outcome = QString::fromLatin1(f[1]);
    m.rows = f[2].toInt();
    m.seconds = f[3].toDouble() / 1000.0;
    m.peakMiB = f[4].toDouble() / 1024.0;
  }
  return m;
}

QByteArray Repeated(const QByteArray& head, const QByteArray& piece, qint64 totalBytes) {
  QByteArray out = head;
  out.reserve(totalBytes);
  while (out.size() + piece.size() <= totalBytes) out += piece;
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc == 3 && QByteArray(argv[1]) == "--scan") return ScanOnce(QString::fromLocal8Bit(argv[2]));
  const int channels = argc > 1 ? std::max(1, atoi(argv[1])) : 12000;

  const QByteArray benchPage = gencharts::LargeChartPage(channels);
  const Measured bench = ScanInChild(benchPage);
  const double pageMiB = benchPage.size() / kMiB;
  std::printf("bench page %.1f MiB: %s, %d rows, %.2f s, peak %.0f MiB (%.1f x the page)\n", pageMiB,
              qPrintable(bench.outcome), bench.rows, bench.seconds, bench.peakMiB, bench.peakMiB / pageMiB);

  struct Hostile {
    const char* name;
    QByteArray page;
  };
  const qint64 bodyCap = qint64(63) * 1024 * 1024;
  const Hostile hostile[] = {
      {"1 MB of unclosed div, 200,000 deep", Repeated("<html><body>", "<div>", 1000000)},
      {"1 MB of nested tables with transponder rows",
       Repeated("<html><body>", "<table><tr><td>1<td>abc11804 V<td>3<td>4<td>", 1000000)},
      {"63 MiB of bare tr", Repeated("<html><body><table>", "<tr>", bodyCap)},
      {"60 MB of valid rows", benchPage.repeated(int(60e6 / double(benchPage.size())) + 1)},
  };
  const Hostile* worstMemory = nullptr;
  const Hostile* worstTime = nullptr;
  double peak = 0, longest = 0;
  for (const Hostile& h : hostile) {
    const Measured m = ScanInChild(h.page);
    std::printf("%-46s %6.1f MB: %s, %d rows, %6.2f s, peak %5.0f MiB\n", h.name, h.page.size() / 1e6,
                qPrintable(m.outcome), m.rows, m.seconds, m.peakMiB);
    if (m.peakMiB >= peak) {
      peak = m.peakMiB;
      worstMemory = &h;
    }
    if (m.seconds >= longest) {
      longest = m.seconds;
      worstTime = &h;
    }
  }

  char on[160];
  std::snprintf(on, sizeof on, "%.1f MB bench page on loopback", benchPage.size() / 1e6);
  bench::SummaryRow("peak resident memory of a scan", on, bench.peakMiB, "MiB", "page size", pageMiB,
                    "< 37 (before: about 37)");
  bench::SummaryRow("hostile pages: worst peak resident memory", worstMemory ? worstMemory->name : "-", peak,
                    "MiB", "limit", 1024, "< 1");
  bench::SummaryRow("hostile pages: worst scan time", worstTime ? worstTime->name : "-", longest, "s",
                    "limit", 30, "< 1");
  return 0;
}
