// The bundled chart server started on demand: only for a silent loopback
// address the build chose, once, detached from the tool, and ending when idle.
#include "scan/bundledsite.h"
#include "scan/catalogue.h"
#include "scan/download.h"
#include "support/testsupport.h"
#include "tools/chartserver/chartserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>

#include <csignal>

using namespace tevrin;

namespace {

const QString kServer = QStringLiteral(TEVRIN_BINARY_DIR "/tools/chartserver/tevrin-chart-server");

quint16 FreePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

QString Loopback(quint16 port) { return QStringLiteral("http://127.0.0.1:%1").arg(port); }

// A stand-in server program that only notes that it was started.
QString RecordingProgram(const QTemporaryDir& dir) {
  QString program = dir.filePath("server");
  test::WriteBytes(program, "#!/bin/sh\necho \"$@\" >> \"$0.calls\"\n");
  QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
  return program;
}

// The command line of a running process, or empty when it has ended.
QStringList CommandLine(qint64 pid) {
  QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
  if (!file.open(QIODevice::ReadOnly)) return {};
  QStringList args = QString::fromLocal8Bit(file.readAll()).split(QChar(0));
  if (!args.isEmpty() && args.last().isEmpty()) args.removeLast();
  return args;
}

// A loopback listener on a thread of its own: the check for an answer waits
// on the calling thread, as it does in the tool. `chartSite` serves the
// sample site; otherwise it greets in another protocol and hangs up.
class ListenerThread : public QThread {
 public:
  explicit ListenerThread(bool chartSite) : chartSite_(chartSite) {
    start();
    while (port_.load() == 0) QThread::msleep(5);
  }
  ~ListenerThread() override {
    quit();
    wait();
  }
  quint16 port() const { return port_.load(); }

 protected:
  void run() override {
    ChartServer site(QStringLiteral(TEVRIN_TESTDATA "/site"));
    QTcpServer other;
    if (chartSite_) {
      site.setLogging(false);
      site.listen();
      port_.store(site.port());
    } else {
      QObject::connect(&other, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = other.nextPendingConnection()) {
          s->write("SSH-2.0-other\r\n");
          s->disconnectFromHost();
        }
      });
      other.listen(QHostAddress::LocalHost, 0);
      port_.store(other.serverPort());
    }
    exec();
  }

 private:
  const bool chartSite_;
  std::atomic<quint16> port_{0};
};

}  // namespace

class TstBundledSite : public QObject {
  Q_OBJECT
 private slots:
  void anAnsweringSiteStartsNothing() {
    QTemporaryDir dir;
    const QString program = RecordingProgram(dir);
    ListenerThread site(true);
    qint64 pid = -1;
    QVERIFY(EnsureSiteAnswers(Loopback(site.port()), program, {}, 5000, &pid));
    QCOMPARE(pid, qint64(0));
    QVERIFY(!QFile::exists(program + ".calls"));
  }

  // Nothing on the port: the server is started there, detached, with an idle
  // end, and serves the site; a second call finds it and starts no other.
  void aSilentPortGetsTheServerOnce() {
    const quint16 port = FreePort();
    qint64 pid = 0;
    int idles = 0;
    QVERIFY(EnsureSiteAnswers(
        Loopback(port), kServer, [&] { ++idles; }, 10000, &pid));
    QVERIFY(pid > 0);
    const QStringList args = CommandLine(pid);
    QVERIFY2(args.contains("--idle-exit") && args.contains(QString::number(port)),
             qPrintable(args.join(' ')));
    QCOMPARE(args.at(args.indexOf("--idle-exit") + 1), QString::number(kBundledServerIdleSeconds));
    QTemporaryDir dir;
    QVERIFY(DownloadToFile(Loopback(port) + "/charts?position=13", dir.filePath("page"), nullptr));
    qint64 second = -1;
    QVERIFY(EnsureSiteAnswers(Loopback(port), kServer, {}, 10000, &second));
    QCOMPARE(second, qint64(0));
    ::kill(pid_t(pid), SIGTERM);
    QVERIFY(QTest::qWaitFor([&] { return CommandLine(pid).isEmpty(); }, 10000));
  }

  // A listener that is no web server does not count as the site.
  void aPortHeldByAnotherKindOfServerIsNoSite() {
    ListenerThread other(false);
    qint64 pid = 0;
    QVERIFY(!EnsureSiteAnswers(Loopback(other.port()), kServer, {}, 500, &pid));
    QVERIFY(pid > 0);  // tried, and the started server could not take the port
    QVERIFY(QTest::qWaitFor([&] { return CommandLine(pid).isEmpty(); }, 10000));
  }

  void onlyPlainHttpOnLoopbackIsServed() {
    QTemporaryDir dir;
    const QString program = RecordingProgram(dir);
    for (const QString& base : {QString("https://127.0.0.1:%1").arg(FreePort()), QString("http://127.0.0.1"),
                                QString("http://localhost:%1").arg(FreePort()),
                                QString("http://charts.example:%1").arg(FreePort())})
      QVERIFY2(!EnsureSiteAnswers(base, program, {}, 500), qPrintable(base));
    QVERIFY(!QFile::exists(program + ".calls"));
  }

  // An address the user set is the user's own: nothing is started for it,
  // even when nothing answers there.
  void addressesFromTheEnvironmentStartNothing() {
    QTemporaryDir dir;
    const QString program = RecordingProgram(dir);
    SetBundledServerProgramOverride(program);
    qputenv("TEVRIN_CHART_URL", Loopback(FreePort()).toUtf8());
    qputenv("TEVRIN_SITE_URL", Loopback(FreePort()).toUtf8());
    QVERIFY(!ChartSiteIsBundled());
    QVERIFY(!MakerSiteIsBundled());
    EnsureBundledChartSite();
    EnsureBundledMakerSite();
    qunsetenv("TEVRIN_CHART_URL");
    qunsetenv("TEVRIN_SITE_URL");
    SetBundledServerProgramOverride({});
    QVERIFY(!QFile::exists(program + ".calls"));
    // The build's own defaults are the bundled site.
    QCOMPARE(ChartSiteIsBundled(), ChartSiteUrl().startsWith("http://127.0.0.1:"));
    QCOMPARE(BundledServerProgram(), QCoreApplication::applicationDirPath() + "/tevrin-chart-server");
  }
};

QTEST_GUILESS_MAIN(TstBundledSite)
#include "tst_bundledsite.moc"
