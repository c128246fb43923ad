#include "scan/bundledsite.h"

#include "scan/catalogue.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

namespace tevrin {
namespace {

constexpr int kConnectMs = 1000;
// A server started by systemd's socket answers its first request only once it has started.
constexpr int kAnswerMs = 3000;
constexpr int kRetryPauseMs = 50;

QString& ProgramOverride() {
  static QString program;
  return program;
}

// The port of a plain http address on 127.0.0.1, or 0.
quint16 LoopbackPort(const QString& base) {
  const QUrl url(base);
  if (url.scheme() != QLatin1String("http") || url.host() != QLatin1String("127.0.0.1")) return 0;
  const int port = url.port();
  return port > 0 && port <= 65535 ? quint16(port) : 0;
}

// Whether an HTTP server answers on the port: a listening socket that is not
// one (or a server that hangs) does not count.
bool Answers(quint16 port) {
  QTcpSocket socket;
  socket.setProxy(QNetworkProxy::NoProxy);
  socket.connectToHost(QHostAddress::LocalHost, port);
  if (!socket.waitForConnected(kConnectMs)) return false;
  socket.write("HEAD / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  QByteArray answer;
  const QDeadlineTimer deadline(kAnswerMs);
  while (!answer.contains('\n') && !deadline.hasExpired()) {
    if (!socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))) break;
    answer += socket.readAll();
  }
  return answer.startsWith("HTTP/1.");
}

// Starts the server on its own: its output goes nowhere, so a tool whose
// output is read through a pipe ends that pipe when it ends, and it holds no
// folder but the root.
qint64 StartServer(const QString& program, quint16 port) {
  if (!QFileInfo(program).isExecutable()) return 0;
  QProcess process;
  process.setProgram(program);
  process.setArguments({QStringLiteral("--port"), QString::number(port), QStringLiteral("--idle-exit"),
                        QString::number(kBundledServerIdleSeconds)});
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  process.setWorkingDirectory(QDir::rootPath());
  qint64 pid = 0;
  return process.startDetached(&pid) ? pid : 0;
}

bool IsFromEnvironment(const char* variable) { return qEnvironmentVariableIsSet(variable); }

}  // namespace

bool EnsureSiteAnswers(const QString& base, const QString& serverProgram, const std::function<void()>& idle,
                       int deadlineMs, qint64* startedPid) {
  if (startedPid) *startedPid = 0;
  const quint16 port = LoopbackPort(base);
  if (port == 0) return false;
  if (Answers(port)) return true;
  const qint64 pid = StartServer(serverProgram, port);
  if (startedPid) *startedPid = pid;
  if (pid == 0) return false;
  // Another tool may have started one at the same moment; whichever got the
  // port serves both, the other ends at once.
  const QDeadlineTimer deadline(deadlineMs);
  while (!deadline.hasExpired()) {
    if (idle) idle();
    QThread::msleep(kRetryPauseMs);
    if (Answers(port)) return true;
  }
  return false;
}

bool ChartSiteIsBundled() {
  return !IsFromEnvironment("TEVRIN_CHART_URL") && LoopbackPort(ChartSiteUrl()) != 0;
}
bool MakerSiteIsBundled() {
  return !IsFromEnvironment("TEVRIN_SITE_URL") && LoopbackPort(MakerSiteUrl()) != 0;
}

void EnsureBundledChartSite(const std::function<void()>& idle) {
  if (ChartSiteIsBundled()) EnsureSiteAnswers(ChartSiteUrl(), BundledServerProgram(), idle);
}

void EnsureBundledMakerSite(const std::function<void()>& idle) {
  if (MakerSiteIsBundled()) EnsureSiteAnswers(MakerSiteUrl(), BundledServerProgram(), idle);
}

QString BundledServerProgram() {
  if (!ProgramOverride().isEmpty()) return ProgramOverride();
  return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tevrin-chart-server"));
}

void SetBundledServerProgramOverride(const QString& program) { ProgramOverride() = program; }

}  // namespace tevrin
