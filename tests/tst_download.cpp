#include "app/savefile.h"
#include "scan/download.h"
#include "scan/scancancel.h"
#include "support/faultserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkProxyQuery>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace tevrin;
using tevrin::test::FaultServer;
using Mode = FaultServer::Mode;

namespace {

// Records the callbacks in order; hooks let a test act at a given moment of the transfer.
class Recorder : public IBindStatusCallback {
 public:
  void OnStartBinding() override {
    events << QStringLiteral("start");
    if (onStart) onStart();
  }
  void OnProgress(qint64 bytes) override {
    events << QStringLiteral("progress");
    progress << bytes;
    if (onProgress) onProgress();
  }
  void OnStopBinding() override {
    events << QStringLiteral("stop");
    if (onStop) onStop();
  }

  int count(const QString& kind) const { return int(events.count(kind)); }
  // start, progress..., stop; or nothing at all.
  bool wellFormed() const {
    if (events.isEmpty()) return true;
    if (events.first() != QLatin1String("start") || events.last() != QLatin1String("stop")) return false;
    for (int i = 1; i + 1 < events.size(); ++i)
      if (events[i] != QLatin1String("progress")) return false;
    for (int i = 1; i < progress.size(); ++i)
      if (progress[i] < progress[i - 1]) return false;
    return events.size() >= 2;
  }

  QStringList events;
  QList<qint64> progress;
  std::function<void()> onStart, onProgress, onStop;
};

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void Write(const QString& path, const QByteArray& data) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(data);
}

QStringList Entries(const QString& dir) {
  return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

}  // namespace

class TstDownload : public QObject {
  Q_OBJECT

 private slots:
  // ---- success -------------------------------------------------------------------------------------
  void successStoresTheExactBodyAndReportsInOrder_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<bool>("withLength");
    QTest::newRow("four held pieces") << 50000 << 4 << true;
    QTest::newRow("one piece") << 3000 << 1 << true;
    QTest::newRow("ended by close, no length") << 20000 << 3 << false;
    QTest::newRow("empty body") << 0 << 1 << true;
  }
  void successStoresTheExactBodyAndReportsInOrder() {
    QFETCH(int, size);
    QFETCH(int, chunks);
    QFETCH(bool, withLength);
    FaultServer server(Mode::Ok);
    server.setBodySize(size);
    server.setChunks(chunks);
    server.setHoldUntilRelease(true);
    server.setSendContentLength(withLength);
    QVERIFY(server.listen());
    QTemporaryDir dir;
    const QString path = dir.filePath("cache.txt");
    Recorder rec;
    rec.onProgress = [&] { server.release(); };

    QVERIFY(DownloadToFile(server.url(), path, &rec));
    QCOMPARE(ReadAll(path), server.body());
    QVERIFY2(rec.wellFormed(), qPrintable(rec.events.join(' ')));
    QCOMPARE(rec.count("start"), 1);
    QCOMPARE(rec.count("stop"), 1);
    QVERIFY(rec.count("progress") >= 1);
    QCOMPARE(rec.progress.last(), qint64(size));
    // The next piece leaves only after a notification, so a held transfer is seen half way as well.
    if (chunks > 1) QVERIFY(rec.progress.first() < size);
    QCOMPARE(Entries(dir.path()), QStringList({"cache.txt"}));
  }

  void successReplacesAnExistingFileAndWorksWithoutCallback() {
    FaultServer server(Mode::Ok);
    server.setBodySize(777);
    QVERIFY(server.listen());
    QTemporaryDir dir;
    const QString path = dir.filePath("cache.txt");
    Write(path, QByteArray(5000, 'x'));
    QVERIFY(DownloadToFile(server.url(), path, nullptr));
    QCOMPARE(ReadAll(path), server.body());
  }

  void redirectOnceReachesTheTarget() {
    FaultServer server(Mode::Redirect);
    server.setBodySize(4096);
    QVERIFY(server.listen());
    QTemporaryDir dir;
    const QString path = dir.filePath("cache.txt");
    Recorder rec;
    QVERIFY(DownloadToFile(server.url("/charts?position=13"), path, &rec));
    QCOMPARE(ReadAll(path), server.body());  // the redirect's own page is not part of the file
    QCOMPARE(server.requestPaths(), QStringList({"/charts?position=13", "/ok"}));
    QVERIFY(rec.wellFormed());
    QCOMPARE(rec.count("start"), 1);
    QCOMPARE(rec.progress.last(), qint64(4096));
  }

  void slowButSteadyTransferIsNoStall() {
    // Every piece comes well inside the stall limit although the whole transfer takes longer than it.
    FaultServer server(Mode::Ok);
    server.setBodySize(12000);
    server.setChunks(12);
    server.setChunkDelayMs(150);
    QVERIFY(server.listen());
    QTemporaryDir dir;
    DownloadLimits limits;
    limits.stallTimeoutMs = 1500;
    // 1000 bytes a piece: well above a low-speed limit of 1 KiB per 600 ms.
    limits.lowSpeedBytes = 1024;
    limits.lowSpeedWindowMs = 600;
    QVERIFY(DownloadToFile(server.url(), dir.filePath("cache.txt"), nullptr, limits));
    QCOMPARE(ReadAll(dir.filePath("cache.txt")), server.body());
  }

  // ---- failures ------------------------------------------------------------------------------------
  void failuresLeaveNoFileAndCloseTheBracket_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("withLength");
    QTest::addColumn<bool>("started");
    QTest::newRow("404") << int(Mode::NotFound) << true << true;
    QTest::newRow("500") << int(Mode::ServerError) << true << true;
    QTest::newRow("redirect loop") << int(Mode::RedirectLoop) << true << true;
    QTest::newRow("short body") << int(Mode::ShortBody) << true << true;
    QTest::newRow("reset mid-body") << int(Mode::ResetMidBody) << true << true;
    QTest::newRow("stall mid-body") << int(Mode::Stall) << true << true;
    QTest::newRow("oversized, announced") << int(Mode::Oversized) << true << true;
    QTest::newRow("oversized, unannounced") << int(Mode::Oversized) << false << true;
    QTest::newRow("no answer at all") << int(Mode::NoResponse) << true << false;
  }
  void failuresLeaveNoFileAndCloseTheBracket() {
    QFETCH(int, mode);
    QFETCH(bool, withLength);
    QFETCH(bool, started);
    FaultServer server{Mode(mode)};
    server.setBodySize(20000);
    server.setChunks(2);
    server.setSendContentLength(withLength);
    server.setHoldUntilRelease(true);
    QVERIFY(server.listen());
    DownloadLimits limits;
    limits.stallTimeoutMs = 800;
    if (Mode(mode) == Mode::Oversized) limits.maxBodyBytes = 5000;
    limits.maxRedirects = 3;
    QTemporaryDir dir;

    for (bool existing : {false, true}) {
      const QString path = dir.filePath(existing ? "old.txt" : "new.txt");
      if (existing) Write(path, "previous page");
      Recorder rec;
      rec.onProgress = [&] { server.release(); };
      QVERIFY(!DownloadToFile(server.url(), path, &rec, limits));
      QVERIFY2(rec.wellFormed(), qPrintable(rec.events.join(' ')));
      QCOMPARE(rec.count("start"), started ? 1 : 0);
      QCOMPARE(rec.count("stop"), started ? 1 : 0);
      if (existing) QCOMPARE(ReadAll(path), QByteArray("previous page"));
      else QVERIFY(!QFile::exists(path));
    }
    // No temporary file of the failed transfers is left behind either.
    QCOMPARE(Entries(dir.path()), QStringList({"old.txt"}));
  }

  // A close of the window cancels the scan: the transfer ends at once, however
  // patient its limits, with the usual stop notification and no file left.
  void aCancelRequestEndsTheTransferAtOnce() {
    DownloadLimits patient;
    patient.stallTimeoutMs = 600000;
    QTemporaryDir dir;
    for (Mode mode : {Mode::Stall, Mode::NoResponse}) {
      FaultServer server(mode);
      server.setBodySize(20000);
      server.setChunks(2);
      QVERIFY(server.listen());
      Recorder rec;
      rec.onProgress = [] { ScanCancel::instance().request(); };
      if (mode == Mode::NoResponse)
        QTimer::singleShot(100, &server, [] { ScanCancel::instance().request(); });
      const bool ok = DownloadToFile(server.url(), dir.filePath("page.txt"), &rec, patient);
      ScanCancel::instance().clear();
      QVERIFY(!ok);
      QVERIFY2(rec.wellFormed(), qPrintable(rec.events.join(' ')));
      QCOMPARE(rec.count("stop"), mode == Mode::Stall ? 1 : 0);
      QCOMPARE(Entries(dir.path()), QStringList());
    }
  }

  void redirectLoopStopsAtTheLimit() {
    FaultServer server(Mode::RedirectLoop);
    QVERIFY(server.listen());
    QTemporaryDir dir;
    DownloadLimits limits;
    limits.maxRedirects = 3;
    QVERIFY(!DownloadToFile(server.url(), dir.filePath("cache.txt"), nullptr, limits));
    QCOMPARE(server.requestCount(), 4);  // the first request and three redirects followed
  }

  void failuresBeforeAnyResponseNeverStart_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("goodPath");
    QTest::newRow("refused")
        << QString("http://127.0.0.1:%1/charts?position=13").arg(FaultServer::ClosedPort()) << true;
    QTest::newRow("not http") << QString("file:///etc/hostname") << true;
    QTest::newRow("no address") << QString() << true;
    QTest::newRow("folder missing") << QString("http://127.0.0.1:1/") << false;
  }
  void failuresBeforeAnyResponseNeverStart() {
    QFETCH(QString, address);
    QFETCH(bool, goodPath);
    QTemporaryDir dir;
    const QString path = goodPath ? dir.filePath("cache.txt") : dir.filePath("nowhere/cache.txt");
    Recorder rec;
    QVERIFY(!DownloadToFile(address, path, &rec));
    QVERIFY(rec.events.isEmpty());
    QVERIFY(Entries(dir.path()).isEmpty());
  }

  // ---- servers that never finish ------------------------------------------------------------------
  void serversThatNeverFinishFailWithinTheirBound_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<int>("deadlineMs");
    // One byte every 10 ms never trips the stall timeout, but stays under 1 KiB in any 600 ms.
    QTest::newRow("drip") << int(Mode::Ok) << 40000 << 600000;
    // 100 bytes every 10 ms passes the low-speed limit; the whole would take 4 s.
    QTest::newRow("steady but too long") << int(Mode::Ok) << 400 << 500;
    QTest::newRow("endless at full speed") << int(Mode::Endless) << 1 << 600000;
  }
  void serversThatNeverFinishFailWithinTheirBound() {
    QFETCH(int, mode);
    QFETCH(int, chunks);
    QFETCH(int, deadlineMs);
    FaultServer server{Mode(mode)};
    server.setBodySize(40000);
    server.setChunks(chunks);
    QVERIFY(server.listen());
    DownloadLimits limits;
    limits.stallTimeoutMs = 2000;
    limits.lowSpeedBytes = 1024;
    limits.lowSpeedWindowMs = 600;
    limits.deadlineMs = deadlineMs;
    limits.maxBodyBytes = 4 << 20;
    QTemporaryDir dir;
    const QString path = dir.filePath("cache.txt");
    Write(path, "previous page");
    Recorder rec;
    QString fileError = "unset";
    QVERIFY(!DownloadToFile(server.url(), path, &rec, limits, &fileError));
    QVERIFY(fileError.isEmpty());  // a network failure, not a file one
    QVERIFY(rec.wellFormed());
    QCOMPARE(rec.count("start"), 1);
    // It gave up before the body was through (the endless one has none to finish).
    if (!rec.progress.isEmpty() && Mode(mode) != Mode::Endless) QVERIFY(rec.progress.last() < 40000);
    QCOMPARE(ReadAll(path), QByteArray("previous page"));
    QCOMPARE(Entries(dir.path()), QStringList({"cache.txt"}));
  }

  // ---- the local file ------------------------------------------------------------------------------
  void aLinkAtThePathIsReplacedNeverFollowed() {
    FaultServer server(Mode::Ok);
    QVERIFY(server.listen());
    QTemporaryDir dir, elsewhere;
    const QString victim = elsewhere.filePath("victim.txt");
    Write(victim, "not yours");
    const QString path = dir.filePath("cache.txt");
    QVERIFY(QFile::link(victim, path));
    // A failed transfer leaves even the link as it was.
    DownloadLimits limits;
    limits.maxBodyBytes = 10;
    QVERIFY(!DownloadToFile(server.url(), path, nullptr, limits));
    QVERIFY(QFileInfo(path).isSymLink());
    QVERIFY(DownloadToFile(server.url(), path, nullptr));
    QVERIFY(!QFileInfo(path).isSymLink());
    QCOMPARE(ReadAll(path), server.body());
    QCOMPARE(ReadAll(victim), QByteArray("not yours"));
    // A dangling link: its target is not created.
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::link(elsewhere.filePath("planted.txt"), path));
    QVERIFY(DownloadToFile(server.url(), path, nullptr));
    QVERIFY(!QFile::exists(elsewhere.filePath("planted.txt")));
    QCOMPARE(Entries(elsewhere.path()), QStringList({"victim.txt"}));
    QCOMPARE(Entries(dir.path()), QStringList({"cache.txt"}));
  }

  void localFileErrorsAreToldApartFromNetworkErrors() {
    FaultServer server(Mode::Ok);
    server.setBodySize(200000);
    server.setChunks(4);
    QVERIFY(server.listen());
    QTemporaryDir dir;
    QString fileError;
    // The file's folder is a regular file: nothing is asked of the server.
    Write(dir.filePath("folder"), "a file");
    QVERIFY(!DownloadToFile(server.url(), dir.filePath("folder/cache.txt"), nullptr, DefaultDownloadLimits(),
                            &fileError));
    QCOMPARE(fileError, QString::fromLocal8Bit(std::strerror(ENOTDIR)));
    QCOMPARE(server.requestCount(), 0);

    // A file-size limit part-way through the body: the write fails, the process lives on.
    IgnoreFileSizeSignal();
    const QString path = dir.filePath("cache.txt");
    Write(path, "previous page");
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit lowered = old;
    lowered.rlim_cur = 100000;
    setrlimit(RLIMIT_FSIZE, &lowered);
    const bool ok = DownloadToFile(server.url(), path, nullptr, DefaultDownloadLimits(), &fileError);
    setrlimit(RLIMIT_FSIZE, &old);
    QVERIFY(!ok);
    QCOMPARE(fileError, QString::fromLocal8Bit(std::strerror(EFBIG)));
    QCOMPARE(ReadAll(path), QByteArray("previous page"));
    QCOMPARE(Entries(dir.path()), QStringList({"cache.txt", "folder"}));
  }

  // ---- proxy ---------------------------------------------------------------------------------------
  void theSystemProxyServesEveryHostButTheLoopback() {
    FaultServer site(Mode::Ok), proxy(Mode::Ok);
    proxy.setBodySize(3000);
    QVERIFY(site.listen());
    QVERIFY(proxy.listen());
    QTemporaryDir dir;
    qputenv("http_proxy", proxy.url(QString()).toUtf8());
    qunsetenv("no_proxy");
    const bool direct = DownloadToFile(site.url(), dir.filePath("direct.txt"), nullptr);
    const bool proxied =
        DownloadToFile("http://charts.invalid/charts?position=13", dir.filePath("proxied.txt"), nullptr);
    qunsetenv("http_proxy");
    QVERIFY(direct);
    QCOMPARE(site.requestCount(), 1);
    QVERIFY(proxied);
    QCOMPARE(proxy.requestPaths(), QStringList({"http://charts.invalid/charts?position=13"}));
    QCOMPARE(ReadAll(dir.filePath("proxied.txt")), proxy.body());
  }

  // A system proxy look-up that never answers (a PAC file on a server that
  // accepts and stays silent): the waiting thread keeps its events going, the
  // download fails at the stall bound, and a cancel from any thread ends the
  // wait at once.
  void aProxyLookUpThatNeverAnswersFailsAtTheStallBound() {
    const ProxyLookup system = SystemProxyLookup();
    const auto release = std::make_shared<QSemaphore>();
    const auto asked = std::make_shared<QStringList>();  // written before the block, read after the wait
    const auto mutex = std::make_shared<QMutex>();
    SystemProxyLookup() = [release, asked, mutex](const QNetworkProxyQuery& query) {
      {
        const QMutexLocker lock(mutex.get());
        *asked << query.peerHostName();
      }
      release->tryAcquire(1, 60000);
      return QList<QNetworkProxy>{QNetworkProxy::NoProxy};
    };
    QTemporaryDir dir;
    const QString address = QStringLiteral("http://charts.invalid/charts?position=13");
    DownloadLimits limits;
    limits.stallTimeoutMs = 200;
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(5);
    Recorder rec;
    QVERIFY(!DownloadToFile(address, dir.filePath("cache.txt"), &rec, limits));
    QVERIFY2(ticks > 0, "the waiting thread's events did not run");
    QVERIFY(rec.events.isEmpty());

    // Patient limits: a cancel from another thread ends the wait.
    limits.stallTimeoutMs = 600000;
    std::thread canceller([asked, mutex] {
      for (;;) {
        {
          const QMutexLocker lock(mutex.get());
          if (asked->size() >= 2) break;
        }
        QThread::msleep(5);
      }
      ScanCancel::instance().request();
    });
    const bool ok = DownloadToFile(address, dir.filePath("cache.txt"), &rec, limits);
    canceller.join();
    ScanCancel::instance().clear();
    SystemProxyLookup() = system;
    release->release(2);
    QVERIFY(!ok);
    QCOMPARE(*asked, QStringList({"charts.invalid", "charts.invalid"}));
    QCOMPARE(Entries(dir.path()), QStringList());
  }

  // ---- callbacks that pump events or throw ---------------------------------------------------------
  void callbacksMayPumpEventsAndNestAnotherDownload() {
    FaultServer outer(Mode::Ok), inner(Mode::Ok);
    outer.setBodySize(30000);
    outer.setChunks(3);
    outer.setHoldUntilRelease(true);
    inner.setBodySize(5000);
    QVERIFY(outer.listen());
    QVERIFY(inner.listen());
    QTemporaryDir dir;
    Recorder rec, nested;
    bool nestedOk = false;
    int nestedCalls = 0;
    auto pump = [] { QCoreApplication::processEvents(); };
    rec.onStart = pump;
    rec.onStop = pump;
    rec.onProgress = [&] {
      pump();
      if (nestedCalls++ == 0) nestedOk = DownloadToFile(inner.url(), dir.filePath("inner.txt"), &nested);
      pump();
      outer.release();
    };
    QVERIFY(DownloadToFile(outer.url(), dir.filePath("outer.txt"), &rec));
    QVERIFY(nestedOk);
    QCOMPARE(ReadAll(dir.filePath("outer.txt")), outer.body());
    QCOMPARE(ReadAll(dir.filePath("inner.txt")), inner.body());
    QVERIFY(rec.wellFormed());
    QVERIFY(nested.wellFormed());
    QCOMPARE(rec.progress.last(), qint64(30000));
  }

  void aThrowingCallbackFailsTheDownloadButStillStops() {
    FaultServer server(Mode::Ok);
    server.setBodySize(10000);
    server.setChunks(2);
    server.setHoldUntilRelease(true);
    QVERIFY(server.listen());
    QTemporaryDir dir;
    const QString path = dir.filePath("cache.txt");
    Recorder rec;
    rec.onProgress = [] { throw std::runtime_error("broken window"); };
    QVERIFY(!DownloadToFile(server.url(), path, &rec));
    QCOMPARE(rec.events, QStringList({"start", "progress", "stop"}));
    QVERIFY(!QFile::exists(path));

    Recorder stopThrows;
    stopThrows.onStop = [] { throw std::runtime_error("broken window"); };
    FaultServer second(Mode::Ok);
    QVERIFY(second.listen());
    QVERIFY(!DownloadToFile(second.url(), path, &stopThrows));
    QVERIFY(!QFile::exists(path));
  }

  // ---- status line ---------------------------------------------------------------------------------
  void statusTextCountsWholeKilobytes() {
    QCOMPARE(DownloadStatusText(36 * 1024 + 1000, 1, 1), QString("Загрузка страницы: 36 Kb 1/1"));
    QCOMPARE(DownloadStatusText(0, 1, 1), QString("Загрузка страницы: 0 Kb 1/1"));
    QCOMPARE(DownloadStatusText(1023, 1, 1), QString("Загрузка страницы: 0 Kb 1/1"));
    QCOMPARE(DownloadStatusText(1024, 2, 3), QString("Загрузка страницы: 1 Kb 2/3"));
    QCOMPARE(DownloadStatusText(64LL << 20, 255, 255), QString("Загрузка страницы: 65536 Kb 255/255"));
    QCOMPARE(DownloadStatusText(-1, 1, 1), QString("Загрузка страницы: 0 Kb 1/1"));
  }
};

QTEST_GUILESS_MAIN(TstDownload)
#include "tst_download.moc"
