// tevrin-cli over all 18 catalogue positions from a loopback chart server that
// answers every request after 500 ms, as a slow chart site does: the batch
// with four charts in flight against one at a time, and the batch's peak
// resident memory against that of one scan. Each run is a separate process,
// so its peak memory is its own.
#include "bench/summary.h"
#include "scan/catalogue.h"
#include "tools/gencharts/chartgen.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tevrin;

namespace {

constexpr int kAnswerDelayMs = 500;
constexpr int kRounds = 2;

// Serves /charts?position=N with the generated page of N, each answer held
// back for kAnswerDelayMs. Lives on its own thread so that the benchmark can
// block in waitpid while it serves.
class SlowChartServer : public QObject {
 public:
  SlowChartServer() {
    for (int i = 1; i < kSatelliteCount; ++i)
      pages_.insert(ChartPosition(i), gencharts::ChartPage(ChartPosition(i)));
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }
  bool listen() { return server_.listen(QHostAddress::LocalHost); }
  quint16 port() const { return server_.serverPort(); }
  qint64 totalBytes() const {
    qint64 total = 0;
    for (const QByteArray& page : pages_) total += page.size();
    return total;
  }

 private:
  void onRead(QTcpSocket* socket) {
    QByteArray& request = requests_[socket];
    request += socket->readAll();
    if (!request.contains("\r\n\r\n")) return;
    const int position = request.split('=').value(1).split(' ').value(0).toInt();
    requests_.remove(socket);
    const QByteArray page = pages_.value(position);
    QTimer::singleShot(kAnswerDelayMs, socket, [socket, page] {
      const QByteArray status = page.isEmpty() ? "404 Not Found" : "200 OK";
      socket->write("HTTP/1.1 " + status +
                    "\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n" +
                    "Content-Length: " + QByteArray::number(page.size()) + "\r\n\r\n" + page);
      socket->disconnectFromHost();
    });
  }

  QTcpServer server_{this};  // a child, so it moves to the serving thread with its owner
  QHash<int, QByteArray> pages_;
  QHash<QTcpSocket*, QByteArray> requests_;
};

struct ProcessRun {
  double seconds = 0;
  long peakKiB = 0;
  int exitCode = -1;
};

ProcessRun RunCli(const std::vector<QByteArray>& arguments) {
  std::vector<char*> argv;
  static QByteArray program = TEVRIN_CLI_PATH;
  argv.push_back(program.data());
  std::vector<QByteArray> copies = arguments;
  for (QByteArray& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ProcessRun run;
  QElapsedTimer timer;
  timer.start();
  pid_t pid = 0;
  if (posix_spawn(&pid, program.constData(), &actions, nullptr, argv.data(), environ) != 0) return run;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.seconds = double(timer.nsecsElapsed()) / 1e9;
  run.peakKiB = usage.ru_maxrss;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QThread serving;
  SlowChartServer server;
  server.moveToThread(&serving);
  serving.start();
  bool listening = false;
  QMetaObject::invokeMethod(
      &server, [&] { listening = server.listen(); }, Qt::BlockingQueuedConnection);
  if (!listening) return 1;
  qputenv("TEVRIN_CHART_URL", QByteArray("http://127.0.0.1:") + QByteArray::number(server.port()));

  ProcessRun one{1e9, 0, 0}, serial{1e9, 0, 0}, parallel{1e9, 0, 0};
  const auto keepBest = [](ProcessRun& best, const ProcessRun& run) {
    best.seconds = std::min(best.seconds, run.seconds);
    best.peakKiB = std::max(best.peakKiB, run.peakKiB);
    best.exitCode = run.exitCode;
  };
  for (int round = 0; round < kRounds; ++round) {
    // Every run compares with and saves into its own fresh Base, as a first nightly run does.
    QTemporaryDir a, b, c;
    const std::vector<QByteArray> common{"--lang", "rus", "--compare", "--save", "--base"};
    auto with = [&](std::vector<QByteArray> head, const QTemporaryDir& dir) {
      head.insert(head.end(), common.begin(), common.end());
      head.push_back(dir.path().toUtf8());
      return head;
    };
    keepBest(one, RunCli(with({"scan", "5"}, a)));
    keepBest(serial, RunCli(with({"scan", "--all", "--jobs", "1"}, b)));
    keepBest(parallel, RunCli(with({"scan", "--all", "--jobs", "4"}, c)));
  }
  serving.quit();
  serving.wait();
  // A single scan without a saved table ends 2; a first batch ends 1 (every satellite new).
  if (one.exitCode != 2 || serial.exitCode != 1 || parallel.exitCode != 1) {
    std::fprintf(stderr, "unexpected exit statuses: one %d, --jobs 1 %d, --jobs 4 %d\n", one.exitCode,
                 serial.exitCode, parallel.exitCode);
    return 1;
  }

  const double kb = double(server.totalBytes()) / 1024.0;
  std::printf("18 chart pages, %.0f KiB in all, each answered after %d ms on loopback\n", kb, kAnswerDelayMs);
  std::printf("one scan (Hot Bird):   %6.2f s  peak %6ld KiB\n", one.seconds, one.peakKiB);
  std::printf("--all --jobs 1:        %6.2f s  peak %6ld KiB\n", serial.seconds, serial.peakKiB);
  std::printf("--all --jobs 4:        %6.2f s  peak %6ld KiB\n", parallel.seconds, parallel.peakKiB);
  std::printf("speed-up --jobs 4:     %6.2fx (goal >= 3x)\n", serial.seconds / parallel.seconds);
  std::printf("peak memory ratio:     %6.2f (goal < 2)\n", double(parallel.peakKiB) / double(one.peakKiB));
  char on[160];
  std::snprintf(on, sizeof on, "18 pages, %.0f KiB, %d ms delay each, loopback", kb, kAnswerDelayMs);
  bench::SummaryRow("tevrin-cli scan --all --jobs 4 (time)", on, parallel.seconds * 1000, "ms", "--jobs 1",
                    serial.seconds * 1000, "<= 0.33 (3x faster)");
  bench::SummaryRow("tevrin-cli scan --all --jobs 4 (peak RSS)", on, double(parallel.peakKiB) / 1024, "MiB",
                    "one scan", double(one.peakKiB) / 1024, "< 2");
  return 0;
}
