// The command-line companion, driven as a separate process against a local
// chart server; its results are checked against the core run in-process.
#include "scan/catalogue.h"
#include "scan/chartparser.h"
#include "scan/scandriver.h"
#include "support/testsupport.h"
#include "table/csvexport.h"
#include "table/records.h"
#include "table/tableactions.h"
#include "tools/chartserver/chartserver.h"
#include "tools/gencharts/chartgen.h"

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utime.h>
#include <csignal>
#include <ctime>
#include <functional>

using namespace tevrin;

namespace {

const QString kCli = QStringLiteral(TEVRIN_BINARY_DIR "/tools/cli/tevrin-cli");
const QString kHotBird = QStringLiteral("Hot Bird 13.0°E");  // index 5, chart position 13

using test::Channel;
using test::Page;
using test::Transponder;

// The page as first scanned; the changed one drops "Первый канал" and adds "Россия 1".
QByteArray FirstChart() {
  return Page(Transponder("11804 V", "DVB-S2") + Channel("Первый канал", "TV", "FTA", "rus") +
              Channel("BBC", "TV", "FTA", "eng") + Channel("Радио Мир", "R", "FTA", "rus") +
              Transponder("10719 H", "DVB-S") + Channel("НТВ Мир", "TV", "Viaccess", "rus eng") +
              Channel("Євроспорт", "TV", "FTA", "ukr") + Channel("ZDF", "TV", "FTA", "deu"));
}
QByteArray ChangedChart() {
  return Page(Transponder("11804 V", "DVB-S2") + Channel("Россия 1", "TV", "FTA", "rus") +
              Transponder("10719 H", "DVB-S") + Channel("НТВ Мир", "TV", "Viaccess", "rus eng"));
}

struct Run {
  int exitCode = -1;
  QByteArray out;
  QStringList errLines;  // non-empty stderr lines
};

// A chart site where Hot Bird's chart comes at once and every other chart
// crawls: headers, then a row every 50 ms of a body that never ends.
class SlowSite : public QObject {
 public:
  explicit SlowSite(QByteArray fastChart) : fast_(std::move(fastChart)) {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }
  bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
  QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }
  qint64 slowBytesSent = 0;

 private:
  void answer(QTcpSocket* socket) {
    const QByteArray request = socket->readAll();
    if (!request.startsWith("GET ")) return;
    if (request.contains("position=13 ")) {
      socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                    QByteArray::number(fast_.size()) + "\r\n\r\n" + fast_);
      socket->disconnectFromHost();
      return;
    }
    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 10000000\r\n\r\n");
    auto* drip = new QTimer(socket);
    connect(drip, &QTimer::timeout, socket, [this, socket] {
      const QByteArray row = test::Transponder("11804 V", "DVB-S").toUtf8();
      socket->write(row);
      slowBytesSent += row.size();
    });
    drip->start(50);
  }

  QTcpServer server_;
  QByteArray fast_;
};

// Everything in `dir` and below, as relative paths.
QStringList Tree(const QString& dir) {
  QStringList out;
  QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) out << QDir(dir).relativeFilePath(it.next());
  out.sort();
  return out;
}

void MakeOld(const QString& path) {
  const std::time_t twoMinutesAgo = std::time(nullptr) - 120;
  const utimbuf times{twoMinutesAgo, twoMinutesAgo};
  QVERIFY(::utime(QFile::encodeName(path).constData(), &times) == 0);
}

class RusOnly final : public ChartParserHost {
 public:
  bool isTicked(Language l) override { return l == Language::Rus; }
  QString otherLanguageText() override { return {}; }
};

}  // namespace

class TstCli : public QObject {
  Q_OBJECT

  QTemporaryDir site_;
  std::unique_ptr<ChartServer> server_;

  void writeChart(const QByteArray& page, int position = 13) {
    QFile f(site_.filePath(QString("charts/%1.html").arg(position)));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(page), page.size());
  }

  // Runs the executable while this thread's event loop keeps serving the charts.
  Run run(const QStringList& arguments, const QString& chartUrl = QString(),
          const std::function<void()>& inChild = {}) {
    QProcess process;
    if (inChild) process.setChildProcessModifier(inChild);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TEVRIN_CHART_URL", chartUrl.isEmpty() ? server_->baseUrl() : chartUrl);
    process.setProcessEnvironment(env);
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    process.start(kCli, arguments);
    limit.start(60000);
    if (process.state() != QProcess::NotRunning) loop.exec();
    Run r;
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished(5000);
      r.errLines << "timed out";
      return r;
    }
    if (process.exitStatus() == QProcess::NormalExit && process.error() != QProcess::FailedToStart)
      r.exitCode = process.exitCode();
    r.out = process.readAllStandardOutput();
    for (const QString& line : QString::fromUtf8(process.readAllStandardError()).split('\n'))
      if (!line.trimmed().isEmpty()) r.errLines << line;
    return r;
  }

  static QStringList Lines(const QByteArray& out) {
    return QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
  }

 private slots:
  void initTestCase() {
    QVERIFY2(QFile::exists(kCli), qPrintable(kCli));
    QVERIFY(QDir(site_.path()).mkpath("charts"));
    writeChart(FirstChart());
    server_ = std::make_unique<ChartServer>(site_.path());
    server_->setLogging(false);
    QVERIFY(server_->listen());
    qputenv("TEVRIN_CHART_URL", server_->baseUrl().toUtf8());
  }

  void init() {
    writeChart(FirstChart());
    QFile::remove(site_.filePath("charts/31.html"));
  }

  void listNamesTheEighteenSatellites() {
    const Run r = run({"list"});
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = Lines(r.out);
    QCOMPARE(lines.size(), 18);
    QCOMPARE(lines.first(), QString("1\tAmos 4.0°W\t356"));
    QCOMPARE(lines[4], QString("5\t") + kHotBird + "\t13");
    QCOMPARE(lines.last(), QString("18\tExspress AM33 96.5°E\t96"));
  }

  void scanPrintsSortedNumberedRows() {
    test::TempExeDir base;
    Run r = run({"scan", "5", "--lang", "rus", "--base", base.path()});
    QCOMPARE(r.errLines, QStringList());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(Lines(r.out), QStringList({"\t1\t10719 H.DVB-S\tНТВ Мир\trus eng\tMPEG-2\tViaccess\t",
                                        "\t2\t11804 V.DVB-S2\tПервый канал\trus\tMPEG-2\tидет открыто\t"}));
    QVERIFY(!QFile::exists(base.file("cache.txt")));

    // The name works as the index does; the other code is one more box, the sort is stable.
    r = run({"scan", kHotBird, "--lang", "ukr,rus,deu", "--base", base.path()});
    QCOMPARE(r.exitCode, 0);
    QStringList names;
    for (const QString& line : Lines(r.out))
      names << line.section('\t', 1, 1) + " " + line.section('\t', 3, 3);
    QCOMPARE(names, QStringList({"1 НТВ Мир", "2 Євроспорт", "3 ZDF", "4 Первый канал"}));
  }

  void exportMatchesTheCore() {
    // The same scan in-process gives the rows whose export the tool must write.
    test::TempExeDir home;
    test::RecordingMessages boxes;
    ChannelTableModel table;
    RusOnly host;
    QCOMPARE(RunChartScan(5, table, host, nullptr), ScanResult::Completed);
    QCOMPARE(table.count(), 2);
    const QString expectedPath = home.file("expected.csv");
    ExportTable(table.rows(), expectedPath);
    QFile expected(expectedPath);
    QVERIFY(expected.open(QIODevice::ReadOnly));
    const QByteArray expectedBytes = expected.readAll();
    QVERIFY(expectedBytes.contains("\r\n"));

    const QString outPath = home.file("out dir/chart.csv");
    QVERIFY(QDir(home.path()).mkpath("out dir"));
    Run r = run({"scan", "5", "--lang", "rus", "--base", home.path(), "--out", outPath});
    QCOMPARE(r.exitCode, 0);
    QFile written(outPath);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), expectedBytes);

    r = run({"scan", "5", "--lang", "rus", "--base", home.path(), "--csv"});
    QCOMPARE(r.exitCode, 0);
    QByteArray lines;
    for (const ChannelRow& row : table.rows()) lines += ExportLine(row);
    QCOMPARE(r.out, lines);
    QVERIFY(boxes.boxes.isEmpty());
  }

  void saveThenCompare() {
    test::TempExeDir base;
    const QString saved = SavedTablePath(kHotBird);
    QVERIFY(saved.startsWith(base.path()));

    // No saved table yet: the window's message, and --save still writes the first one.
    Run r = run({"scan", "5", "--lang", "rus", "--base", base.path(), "--compare", "--save"});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.errLines.size(), 1);
    QVERIFY2(r.errLines[0].endsWith(NoPreviousTableText(kHotBird).simplified()), qPrintable(r.errLines[0]));
    std::vector<SavedRecord> records;
    QVERIFY(ReadSavedTable(saved, records));
    QCOMPARE(int(records.size()), 2);
    QCOMPARE(records[0].channelName, QString("НТВ Мир"));
    QCOMPARE(records[1].transponder, QString("11804 V.DVB-S2"));
    QCOMPARE(records[1].saveDate, SaveDateText(QDate::currentDate()));

    r = run({"scan", "5", "--lang", "rus", "--base", base.path(), "--compare"});
    QCOMPARE(r.errLines, QStringList());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(Lines(r.out), QStringList({"Сравнение завершено.",
                                        "(сравнивался с датой: " + SaveDateText(QDate::currentDate()) + "г.)",
                                        "Изменений не обнаружено."}));

    writeChart(ChangedChart());
    r = run({"scan", "5", "--lang", "rus", "--base", base.path(), "--compare"});
    QCOMPARE(r.exitCode, 1);
    const QStringList lines = Lines(r.out);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0], QString("+\t2\t11804 V.DVB-S2\tРоссия 1\trus\tMPEG-2\tидет открыто\tПоявился"));
    QCOMPARE(lines[1], QString("-\t3\t11804 V.DVB-S2\tПервый канал\trus\tMPEG-2\tидет открыто\tУшел"));
    QCOMPARE(lines[2], QString("Сравнение завершено"));
    QCOMPARE(lines[4], QString("Найдено 2 новых записей."));

    // --no-overwrite refuses before anything is fetched and leaves the file as it was.
    QFile before(saved);
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray savedBytes = before.readAll();
    before.close();
    r = run({"scan", "5", "--lang", "rus", "--base", base.path(), "--save", "--no-overwrite"});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.errLines.size(), 1);
    QVERIFY(r.out.isEmpty());
    QVERIFY(before.open(QIODevice::ReadOnly));
    QCOMPARE(before.readAll(), savedBytes);
    before.close();

    // Compare then save: the comparison still sees the old table, the save replaces it.
    r = run({"scan", "5", "--lang", "rus", "--base", base.path(), "--compare", "--save"});
    QCOMPARE(r.exitCode, 1);
    records.clear();
    QVERIFY(ReadSavedTable(saved, records));
    QCOMPARE(int(records.size()), 2);
    QCOMPARE(records[1].channelName, QString("Россия 1"));  // no gone row is saved
    r = run({"scan", "5", "--lang", "rus", "--base", base.path(), "--compare"});
    QCOMPARE(r.exitCode, 0);
  }

  void showFiltersByPackage() {
    test::TempExeDir base;
    const auto row = [](const QString& tr, const QString& name) {
      return ChannelRow{"", {"9", tr, name, "rus", "MPEG-4", "идет открыто"}, {}};
    };
    WriteSavedTable(SavedTablePath(kHotBird),
                    {row("12000 H.NTV+", "Канал НТВ"), row("12100 V.Tricolor", "Канал Три"),
                     row("12200 V.tri ntv", "Прочий")},
                    QDate(2024, 3, 1));
    const auto shown = [&](const QStringList& flags) {
      const Run r = run(QStringList{"show", "5", "--base", base.path()} + flags);
      QStringList out;
      if (r.exitCode != 0 || !r.errLines.isEmpty()) return QStringList{"failed"};
      for (const QString& line : Lines(r.out))
        out << line.section('\t', 1, 1) + " " + line.section('\t', 3, 3);
      return out;
    };
    QCOMPARE(shown({}), QStringList({"1 Канал НТВ", "2 Канал Три", "3 Прочий"}));
    QCOMPARE(shown({"--ntv"}), QStringList({"1 Канал НТВ"}));
    QCOMPARE(shown({"--tri"}), QStringList({"1 Канал Три"}));
    QCOMPARE(shown({"--ntv", "--tri"}), QStringList({"1 Канал НТВ", "2 Канал Три"}));

    const Run r = run({"show", "Amos 4.0°W", "--base", base.path()});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.errLines.size(), 1);
    QVERIFY(r.out.isEmpty());
  }

  void errorsAreOneLineAndLeaveNoFile_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("unreachable");
    QTest::addColumn<QString>("text");
    QTest::newRow("unknown name") << QStringList{"scan", "Hot Bird", "--lang", "rus"} << false << QString();
    QTest::newRow("prompt index") << QStringList{"scan", "0", "--lang", "rus"} << false << QString();
    QTest::newRow("no language") << QStringList{"scan", "5"} << false << kNoLanguageText;
    QTest::newRow("two other codes") << QStringList{"scan", "5", "--lang", "deu,fra"} << false << QString();
    QTest::newRow("unknown option") << QStringList{"scan", "5", "--lang", "rus", "--bogus"} << false
                                    << QString();
    QTest::newRow("closed port") << QStringList{"scan", "5", "--lang", "rus"} << true
                                 << kDownloadErrorText.simplified();
  }
  void errorsAreOneLineAndLeaveNoFile() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, unreachable);
    QFETCH(QString, text);
    test::TempExeDir base;
    QString url;
    if (unreachable) {
      QTcpServer probe;
      QVERIFY(probe.listen(QHostAddress::LocalHost));
      url = QString("http://127.0.0.1:%1").arg(probe.serverPort());
      probe.close();  // nothing listens there any more
    }
    const QString outPath = base.file("out.csv");
    const Run r = run(arguments + QStringList{"--base", base.path(), "--out", outPath, "--save"}, url);
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.errLines.size(), 1);
    QVERIFY(r.errLines[0].startsWith("tevrin-cli: "));
    if (!text.isEmpty()) QCOMPARE(r.errLines[0], "tevrin-cli: " + text);
    QVERIFY(r.out.isEmpty());
    QVERIFY(!QFile::exists(outPath));
    QVERIFY(!QFile::exists(base.file("cache.txt")));
    QVERIFY(!QFile::exists(SavedTablePath(kHotBird)));
  }

  // Hot Bird (13) changes, Astra 1G (31) does not, Amos (356) has no page: 404.
  void batchReportsEachSatelliteAndGoesOnAfterAFailure() {
    test::TempExeDir base;
    writeChart(FirstChart(), 31);
    const QString astra = SatelliteName(6), amos = SatelliteName(1);
    Run r = run({"scan", "6", "5", "--lang", "rus", "--base", base.path(), "--compare", "--save"});
    QCOMPARE(r.exitCode, 1);  // no earlier tables: changed, not failed

    writeChart(ChangedChart());
    const QStringList arguments{"scan", "6",      amos,        "5",         "--lang",
                                "rus",  "--base", base.path(), "--compare", "--save"};
    r = run(arguments + QStringList{"--json"});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.errLines, QStringList());
    QList<QJsonObject> objects;
    for (const QString& line : Lines(r.out)) objects << QJsonDocument::fromJson(line.toUtf8()).object();
    QCOMPARE(objects.size(), 3);
    QCOMPARE(objects[0]["satellite"].toString(), amos);
    QCOMPARE(objects[0]["status"].toString(), QString("failed"));
    QCOMPARE(objects[0]["result"].toString(), kDownloadErrorText.simplified());
    QVERIFY(objects[0]["rows"].isNull());
    QVERIFY(!objects[0].contains("saved"));
    QCOMPARE(objects[1]["satellite"].toString(), kHotBird);
    QCOMPARE(objects[1]["position"].toInt(), 13);
    QCOMPARE(objects[1]["rows"].toInt(), 2);
    QCOMPARE(objects[1]["new"].toInt(), 1);
    QCOMPARE(objects[1]["gone"].toInt(), 1);
    QCOMPARE(objects[1]["result"].toString(), QString("ok"));
    QCOMPARE(objects[1]["saved"].toString(), QDir::toNativeSeparators(SavedTablePath(kHotBird)));
    QCOMPARE(objects[2]["satellite"].toString(), astra);
    QCOMPARE(objects[2]["new"].toInt(), 0);
    QCOMPARE(objects[2]["gone"].toInt(), 0);
    QVERIFY(objects[2].contains("saved"));

    // Both good satellites were saved: the changed page replaced the first table.
    std::vector<SavedRecord> records;
    QVERIFY(ReadSavedTable(SavedTablePath(kHotBird), records));
    QCOMPARE(int(records.size()), 2);
    QCOMPARE(records[1].channelName, QString("Россия 1"));
    QVERIFY(!QFile::exists(SavedTablePath(amos)));

    // The same run as a table: the changed page is now saved, so Hot Bird is unchanged.
    r = run(arguments);
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(Lines(r.out),
             QStringList({"Спутник          Позиция  Строк  Новых  Ушло  Итог",
                          "Amos 4.0°W           356      -      -     -  " + kDownloadErrorText.simplified(),
                          "Hot Bird 13.0°E       13      2      0     0  ok",
                          "Astra 1G 31.5°E       31      2      0     0  ok"}));
    // No scratch file of any download is left beside the tables.
    QCOMPARE(QDir(base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"Base"});
  }

  void allListsTheCatalogueInOrderWhateverTheJobs() {
    QTemporaryDir site;
    QCOMPARE(gencharts::WriteSite(site.path(), 0), QString());
    QFile::remove(site.filePath("charts/39.html"));  // one failure in the middle
    ChartServer server(site.path());
    server.setLogging(false);
    QVERIFY(server.listen());
    test::TempExeDir base;
    const QString outDir = base.file("export");

    QByteArray first;
    for (const QString jobs : {"1", "7"}) {
      const Run r = run({"scan", "--all", "--lang", "rus,ukr", "--jobs", jobs, "--base", base.path(),
                         "--json", "--out", outDir},
                        server.baseUrl());
      QCOMPARE(r.exitCode, 2);
      if (first.isEmpty()) first = r.out;
      else QCOMPARE(r.out, first);  // byte for byte, however the downloads interleave
    }
    const QStringList lines = Lines(first);
    QCOMPARE(lines.size(), 18);
    for (int i = 1; i < kSatelliteCount; ++i) {
      const QJsonObject object = QJsonDocument::fromJson(lines[i - 1].toUtf8()).object();
      QCOMPARE(object["satellite"].toString(), SatelliteName(i));
      QCOMPARE(object["status"].toString(), QString(ChartPosition(i) == 39 ? "failed" : "ok"));
      // Each scanned satellite has its export, row for row.
      QFile csv(QDir(outDir).filePath(SatelliteName(i) + ".csv"));
      QCOMPARE(csv.exists(), ChartPosition(i) != 39);
      if (csv.open(QIODevice::ReadOnly)) QCOMPARE(csv.readAll().count("\r\n"), object["rows"].toInt());
    }
  }

  // Charts with names the saved record cannot hold, scanned twice unchanged:
  // the second run finds nothing new or gone and says so with exit status 0.
  void unchangedChartsWithAnyNamesCompareUnchanged() {
    QTemporaryDir site;
    QCOMPARE(gencharts::WriteSite(site.path(), 0), QString());
    const QByteArray wide = Page(
        Transponder("11766 L", "DVB-S2") + Channel("Ελληνική TV", "TV", "FTA", "gre rus") +
        Channel("TRT Türk ş ğ ı İ", "TV", "Conax", "tur") + Channel("قناة الجزيرة", "TV", "FTA", "rus ara") +
        Transponder("12034 R", QString(190, u'x')) + Channel("Télé Zürich Ñandú 😀", "TV", "FTA", "tur") +
        Channel(QString(110, u'Ж') + "0123456789", "TV", "FTA", "rus"));
    for (const int position : {13, 31}) {
      QFile f(site.filePath(QString("charts/%1.html").arg(position)));
      QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(wide);
    }
    ChartServer server(site.path());
    server.setLogging(false);
    QVERIFY(server.listen());
    test::TempExeDir base;
    const QStringList all{"scan", "--all", "--lang", "rus,tur", "--base", base.path(), "--compare", "--save"};

    Run r = run(all, server.baseUrl());
    QCOMPARE(r.exitCode, 1);  // no earlier tables
    r = run(all, server.baseUrl());
    QCOMPARE(r.errLines, QStringList());
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = Lines(r.out);
    QCOMPARE(lines.size(), 19);
    for (const QString& line : lines.mid(1))
      QVERIFY2(line.simplified().endsWith(" 0 0 ok"), qPrintable(line));
    QCOMPARE(lines[5].simplified(), kHotBird + " 13 5 0 0 ok");

    r = run({"scan", "5", "--lang", "rus,tur", "--base", base.path(), "--compare", "--save"},
            server.baseUrl());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(Lines(r.out).last(), QString("Изменений не обнаружено."));

    r = run({"show", "5", "--base", base.path()});
    QCOMPARE(r.exitCode, 0);
    const QString shown = QString::fromUtf8(r.out);
    for (const QString& name : {QString("Ελληνική TV"), QString("TRT Türk ş ğ ı İ"), QString("قناة الجزيرة"),
                                QString("Télé Zürich Ñandú 😀"), QString(110, u'Ж') + "0123456789"})
      QVERIFY2(shown.contains("\t" + name + "\t"), qPrintable(name));
    QVERIFY(shown.contains("\t12034 R." + QString(190, u'x') + "\t"));
  }

  void batchOptionsAreChecked_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("jobs zero") << QStringList{"scan", "--all", "--lang", "rus", "--jobs", "0"};
    QTest::newRow("jobs word") << QStringList{"scan", "--all", "--lang", "rus", "--jobs", "four"};
    QTest::newRow("all and a satellite") << QStringList{"scan", "--all", "5", "--lang", "rus"};
    QTest::newRow("csv of many") << QStringList{"scan", "5", "6", "--lang", "rus", "--csv"};
    QTest::newRow("jobs for show") << QStringList{"show", "5", "--jobs", "2"};
    QTest::newRow("nothing to scan") << QStringList{"scan", "--lang", "rus"};
  }
  void batchOptionsAreChecked() {
    QFETCH(QStringList, arguments);
    test::TempExeDir base;
    const Run r = run(arguments + QStringList{"--base", base.path()});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.errLines.size(), 1);
    QVERIFY(r.out.isEmpty());
  }

  void fileSizeLimitGivesItsMessageNotASignal() {
    test::TempExeDir base;
    QVERIFY(QDir(base.path()).mkpath("Base"));
    const QByteArray previous(476, 'p');
    QFile saved(SavedTablePath(kHotBird));
    QVERIFY(saved.open(QIODevice::WriteOnly));
    QCOMPARE(saved.write(previous), previous.size());
    saved.close();
    // The child starts with the signal's default action, as from a shell, and a limit below the page.
    const Run r = run({"scan", "5", "--lang", "rus", "--base", base.path(), "--save"}, QString(), [] {
      std::signal(SIGXFSZ, SIG_DFL);
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      limit.rlim_cur = 200;
      setrlimit(RLIMIT_FSIZE, &limit);
    });
    QCOMPARE(r.exitCode, 2);  // -1 if the process died of the signal
    QCOMPARE(r.errLines, QStringList{"tevrin-cli: File too large."});
    QCOMPARE(QDir(base.path()).entryList(QDir::Files | QDir::Hidden), QStringList());  // no scratch file
    QCOMPARE(QDir(base.file("Base")).entryList(QDir::Files | QDir::Hidden), QStringList{kHotBird + ".rec"});
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), previous);
  }

  // Stopped in the middle of a batch: Hot Bird (first in catalogue order) is
  // saved, Astra 1G is still downloading. The status is the shell's, no
  // scratch or temporary file is left, Hot Bird's table is whole and Astra's
  // earlier table untouched. A closed output stops the run at its first line.
  void stopSignalsEndTheBatchCleanly_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("closed output (SIGPIPE)") << SIGPIPE;
  }
  void stopSignalsEndTheBatchCleanly() {
    QFETCH(int, signal);
    SlowSite site(FirstChart());
    QVERIFY(site.listen());
    test::TempExeDir base;
    const QString astra = SatelliteName(6);
    QVERIFY(QDir(base.path()).mkpath("Base"));
    const QByteArray astraBefore(3 * 476, 'a');
    test::WriteBytes(SavedTablePath(astra), astraBefore);

    QProcess process;
    if (signal == SIGPIPE)
      process.setChildProcessModifier([] {  // an output pipe whose reader has gone
        int fds[2];
        if (::pipe(fds) != 0) ::_exit(99);
        ::close(fds[0]);
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[1]);
      });
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TEVRIN_CHART_URL", site.url());
    process.setProcessEnvironment(env);
    process.start(kCli, {"scan", "5", "6", "--lang", "rus", "--save", "--json", "--base", base.path()});
    QVERIFY(process.waitForStarted(10000));
    if (signal != SIGPIPE) {
      // Hot Bird's line is out (it was saved before), and Astra's chart is coming.
      QVERIFY(test::WaitInEventLoop(
          [&] { return process.canReadLine() || process.state() != QProcess::Running; }, 60000));
      const QJsonObject line = QJsonDocument::fromJson(process.readLine()).object();
      QCOMPARE(line["satellite"].toString(), kHotBird);
      QVERIFY(test::WaitInEventLoop([&] { return site.slowBytesSent > 0; }, 60000));
      QVERIFY(process.state() == QProcess::Running);
      QVERIFY(!Tree(base.path()).filter("tevrin-batch-").isEmpty());
      ::kill(pid_t(process.processId()), signal);
    }
    QVERIFY(test::WaitInEventLoop([&] { return process.state() == QProcess::NotRunning; }, 60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + signal);
    QCOMPARE(process.readAllStandardError(), QByteArray());  // a stop is no error

    // Hot Bird's table and the companion that keeps its full texts, both whole.
    QStringList expected{"Base", "Base/" + astra + ".rec", "Base/" + kHotBird + ".rec",
                         "Base/" + kHotBird + ".rec.json"};
    expected.sort();
    QCOMPARE(Tree(base.path()), expected);
    QCOMPARE(test::ReadBytes(SavedTablePath(astra)), astraBefore);
    std::vector<SavedRecord> records;
    QVERIFY(ReadSavedTable(SavedTablePath(kHotBird), records));
    QCOMPARE(int(records.size()), 2);
    QCOMPARE(QFileInfo(SavedTablePath(kHotBird)).size(), 2 * 476);
  }

  // What a killed run left goes at the next start once it is a minute old;
  // a fresh one, or one a live writer holds, stays.
  void aKilledRunsLeftoversGoAtTheNextStart() {
    test::TempExeDir base;
    QVERIFY(QDir(base.path()).mkpath("Base"));
    QVERIFY(QDir(base.path()).mkpath("tevrin-batch-a1B2c3"));
    QVERIFY(QDir(base.path()).mkpath("tevrin-batch-fresh1"));
    const QStringList stale = {"tevrin-batch-a1B2c3/356.html", "tevrin-batch-a1B2c3/13.html.tmp-Qw3rTy",
                               "cache.txt.tmp-Zx9Cv8", "Base/" + kHotBird + ".rec.tmp-As4dFg",
                               "exsport.csv.tmp-aaaaaa"};
    const QStringList kept = {"tevrin-batch-fresh1/13.html", "MyIni.ini.tmp-Fresh1", "Base/S.rec.tmp-Held00",
                              "notes.tmp-toolong", "Base/S.rec"};
    for (const QString& name : stale + kept) test::WriteBytes(base.file(name), "x");
    for (const QString& name : stale) MakeOld(base.file(name));
    MakeOld(base.file("tevrin-batch-a1B2c3"));
    MakeOld(base.file("Base/S.rec.tmp-Held00"));
    MakeOld(base.file("notes.tmp-toolong"));
    MakeOld(base.file("Base/S.rec"));
    // A live write holds its temporary file locked, however old it is.
    const int held = ::open(QFile::encodeName(base.file("Base/S.rec.tmp-Held00")).constData(), O_RDONLY);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);

    const Run r = run({"scan", "5", "--lang", "rus", "--base", base.path()});
    ::close(held);
    QCOMPARE(r.exitCode, 0);
    QStringList expected = kept + QStringList{"Base", "tevrin-batch-fresh1"};
    expected.sort();
    QCOMPARE(Tree(base.path()), expected);
  }

  void helpIsBilingual() {
    const Run r = run({"--help"});
    QCOMPARE(r.exitCode, 0);
    const QString text = QString::fromUtf8(r.out);
    QVERIFY(text.contains("Команды / Commands"));
    QVERIFY(text.contains("--no-overwrite"));
    for (const char* field : {"satellite", "position", "rows", "new", "gone", "status", "result", "saved"})
      QVERIFY2(text.contains(QRegularExpression(QString("\\b%1\\b").arg(field))), field);
  }
};

QTEST_GUILESS_MAIN(TstCli)
#include "tst_cli.moc"
