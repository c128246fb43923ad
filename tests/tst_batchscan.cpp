// The batch in-process: how many charts are in flight at once, and that a
// failure of one satellite's save leaves the others saved.
#include "scan/batchscan.h"
#include "scan/catalogue.h"
#include "scan/chartparser.h"
#include "support/testsupport.h"
#include "table/records.h"
#include "tools/chartserver/chartserver.h"
#include "tools/gencharts/chartgen.h"

#include <QDir>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace tevrin;

namespace {

class RusOnly final : public ChartParserHost {
 public:
  bool isTicked(Language l) override { return l == Language::Rus; }
  QString otherLanguageText() override { return {}; }
};

// Answers no request until `batch` of them wait at once (or all that are
// left), so a batch that fetched fewer at once would stall into its timeout.
class GatheringServer : public QObject {
 public:
  GatheringServer(int batch, int total) : batch_(batch), left_(total) {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        // Kept as children of the server until it goes, so a client that gave up leaves no dangling entry.
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRead(socket); });
      }
    });
  }
  bool listen() { return server_.listen(QHostAddress::LocalHost); }
  QString url() const { return QString("http://127.0.0.1:%1").arg(server_.serverPort()); }
  int mostAtOnce = 0;

 private:
  void onRead(QTcpSocket* socket) {
    buffers_[socket] += socket->readAll();
    if (!buffers_[socket].contains("\r\n\r\n") || waiting_.contains(socket)) return;
    waiting_ << socket;
    mostAtOnce = std::max(mostAtOnce, int(waiting_.size()));
    if (waiting_.size() < std::min(batch_, left_)) return;
    for (QTcpSocket* s : std::as_const(waiting_)) {
      const QByteArray position = buffers_[s].split('=').value(1).split(' ').value(0);
      const QByteArray page = gencharts::ChartPage(position.toInt());
      s->write(
          "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n"
          "Content-Length: " +
          QByteArray::number(page.size()) + "\r\n\r\n" + page);
      s->disconnectFromHost();
      --left_;
    }
    waiting_.clear();
  }

  QTcpServer server_;
  QHash<QTcpSocket*, QByteArray> buffers_;
  QList<QTcpSocket*> waiting_;
  int batch_, left_;
};

}  // namespace

class TstBatchScan : public QObject {
  Q_OBJECT

 private slots:
  void jobsChartsAreInFlightTogether() {
    test::TempExeDir base;
    GatheringServer server(3, 7);
    QVERIFY(server.listen());
    qputenv("TEVRIN_CHART_URL", server.url().toUtf8());
    BatchOptions options;
    options.jobs = 3;
    options.limits.stallTimeoutMs = 10000;  // a batch that fetched fewer at once fails here
    RusOnly host;
    QList<int> order;
    const std::vector<SatelliteOutcome> outcomes = RunBatchScan(
        {7, 3, 1, 2, 6, 5, 4}, host, options, [&](const SatelliteOutcome& o) { order << o.index; });
    QCOMPARE(order, QList<int>({1, 2, 3, 4, 5, 6, 7}));
    for (const SatelliteOutcome& outcome : outcomes) {
      QCOMPARE(outcome.resultText(), QString("ok"));
      QVERIFY(outcome.rowsKept > 0);
    }
    QCOMPARE(server.mostAtOnce, 3);
    QCOMPARE(QDir(base.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
             QStringList());
  }

  void aSaveThatFailsStopsOnlyItsSatellite() {
    QTemporaryDir site;
    QCOMPARE(gencharts::WriteSite(site.path(), 0), QString());
    ChartServer server(site.path());
    server.setLogging(false);
    QVERIFY(server.listen());
    qputenv("TEVRIN_CHART_URL", server.baseUrl().toUtf8());
    test::TempExeDir base;
    // A directory where Hot Bird's table would go: its save cannot replace it.
    QVERIFY(QDir().mkpath(SavedTablePath(SatelliteName(5))));
    BatchOptions options;
    options.flow.save = true;
    options.flow.compare = true;
    RusOnly host;
    const std::vector<SatelliteOutcome> outcomes = RunBatchScan({6, 5, 4}, host, options, {});
    QCOMPARE(int(outcomes.size()), 3);
    QCOMPARE(outcomes[1].status, FlowStatus::Failed);
    QVERIFY(outcomes[1].scanned);
    QVERIFY(!outcomes[1].error.isEmpty());
    QVERIFY(!outcomes[1].error.contains('\n'));
    for (const int i : {0, 2}) {
      QCOMPARE(outcomes[i].status, FlowStatus::NoPreviousTable);
      QVERIFY(outcomes[i].changed());
      std::vector<SavedRecord> records;
      QVERIFY(ReadSavedTable(outcomes[i].savedPath, records));
      QCOMPARE(int(records.size()), outcomes[i].rowsKept);
    }
  }

  void noOverwriteRefusesBeforeFetching() {
    QTemporaryDir site;
    QCOMPARE(gencharts::WriteSite(site.path(), 0), QString());
    ChartServer server(site.path());
    server.setLogging(false);
    QVERIFY(server.listen());
    QStringList served;
    connect(&server, &ChartServer::requestServed, this, [&](const QString& path) { served << path; });
    qputenv("TEVRIN_CHART_URL", server.baseUrl().toUtf8());
    test::TempExeDir base;
    const QString kept = SavedTablePath(SatelliteName(5));
    WriteSavedTable(kept, {}, QDate(2024, 1, 1));
    BatchOptions options;
    options.flow.save = true;
    options.flow.noOverwrite = true;
    RusOnly host;
    const std::vector<SatelliteOutcome> outcomes = RunBatchScan({5, 6}, host, options, {});
    QCOMPARE(outcomes[0].status, FlowStatus::Failed);
    QVERIFY(outcomes[0].error.contains(QDir::toNativeSeparators(kept)));
    QCOMPARE(QFileInfo(kept).size(), 0);
    QCOMPARE(outcomes[1].status, FlowStatus::Ok);
    QVERIFY(!outcomes[1].savedPath.isEmpty());
    QCOMPARE(served, QStringList{"/charts?position=31"});
  }
};

QTEST_GUILESS_MAIN(TstBatchScan)
#include "tst_batchscan.moc"
