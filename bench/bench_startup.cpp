// Start-up to the first shown main window and resident memory before the first
// scan, against a bare Qt Widgets window, each measured in a child process.
//   bench_startup            runs both, five times each, prints medians
//   bench_startup --child tevrin|bare   one measurement (used by the above)
#include "app/gui/hints.h"
#include "app/gui/mainform.h"
#include "app/paths.h"
#include "bench/summary.h"
#include "scan/gui/formloadurl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
long ResidentKb() {
  QFile status("/proc/self/status");
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
  return -1;
}

int Child(int argc, char** argv, const QByteArray& which) {
  QElapsedTimer clock;
  clock.start();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  std::unique_ptr<QWidget> window;
  std::unique_ptr<tevrin::TFormLoadURL> progress;
  QTemporaryDir home;
  if (which == "tevrin") {
    tevrin::SetExeDirOverride(home.path());
    tevrin::InstallHintTiming();
    auto* main = new tevrin::TMainF;
    window.reset(main);
    progress = std::make_unique<tevrin::TFormLoadURL>(main);
    main->setFormLoadURL(progress.get());
  } else {
    window = std::make_unique<QWidget>();
    window->resize(850, 416);
    // The second baseline draws one caption: the least any window with text
    // pays for the font database.
    if (which == "caption") (new QLabel(QStringLiteral("Критерии поиска"), window.get()))->move(8, 8);
  }
  window->show();
  if (!QTest::qWaitForWindowExposed(window.get())) return 1;
  const double ms = clock.nsecsElapsed() / 1e6;
  QCoreApplication::processEvents();
  std::printf("%.3f %ld\n", ms, ResidentKb());
  std::fflush(stdout);
  progress.reset();
  window.reset();
  return 0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && QByteArray(argv[1]) == "--child") return Child(argc, argv, argv[2]);
  QCoreApplication app(argc, argv);
  constexpr int kRuns = 7;
  constexpr int kKinds = 3;
  const char* kinds[kKinds] = {"bare", "caption", "tevrin"};
  std::vector<double> time[kKinds], memory[kKinds];
  for (int run = 0; run < kRuns; ++run) {
    for (int k = 0; k < kKinds; ++k) {
      QProcess child;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      if (!env.contains("QT_QPA_PLATFORM")) env.insert("QT_QPA_PLATFORM", "offscreen");
      child.setProcessEnvironment(env);
      QElapsedTimer wall;
      wall.start();
      child.start(QCoreApplication::applicationFilePath(), {"--child", kinds[k]});
      // Process start to the report of the shown window.
      const bool reported = child.waitForReadyRead(60000);
      const double elapsed = wall.nsecsElapsed() / 1e6;
      if (!reported || !child.waitForFinished(60000) || child.exitCode() != 0) {
        std::fprintf(stderr, "child %s failed\n", kinds[k]);
        return 1;
      }
      const QList<QByteArray> out = child.readAllStandardOutput().trimmed().split(' ');
      time[k].push_back(elapsed);
      memory[k].push_back(out.value(1).toDouble());
    }
  }
  double t[kKinds], m[kKinds];
  for (int k = 0; k < kKinds; ++k) t[k] = Median(time[k]), m[k] = Median(memory[k]);
  std::printf("start-up to shown window (median of %d, wall time of the process):\n", kRuns);
  std::printf("  bare Qt window %.1f ms, Tevrin %.1f ms, ratio %.2f (goal <= 1.20)\n", t[0], t[2],
              t[2] / t[0]);
  std::printf("  bare window with one caption %.1f ms, Tevrin ratio to it %.2f\n", t[1], t[2] / t[1]);
  std::printf("resident memory with the window shown, before any scan:\n");
  std::printf("  bare Qt window %.0f KiB, Tevrin %.0f KiB, ratio %.2f (goal <= 1.20)\n", m[0], m[2],
              m[2] / m[0]);
  std::printf("  bare window with one caption %.0f KiB, Tevrin ratio to it %.2f\n", m[1], m[2] / m[1]);
  const char* on = "850 x 416 window, offscreen";
  tevrin::bench::SummaryRow("start-up to the shown window", on, t[2], "ms", "bare Qt window", t[0], "<= 1.2");
  tevrin::bench::SummaryRow("start-up to the shown window", on, t[2], "ms", "bare window with one caption",
                            t[1], "-");
  tevrin::bench::SummaryRow("resident memory before a scan", on, m[2] / 1024, "MiB", "bare Qt window",
                            m[0] / 1024, "<= 1.2");
  tevrin::bench::SummaryRow("resident memory before a scan", on, m[2] / 1024, "MiB",
                            "bare window with one caption", m[1] / 1024, "-");
  return 0;
}
