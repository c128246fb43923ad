// The watch: the change log in-process, then tevrin-cli driven as a child
// against a local chart server and a private session bus on which this test
// owns the notification service and records every call.
#include "app/notifier.h"
#include "app/settings.h"
#include "scan/catalogue.h"
#include "scan/watch.h"
#include "support/faultserver.h"
#include "support/testsupport.h"
#include "table/changelog.h"
#include "table/records.h"
#include "tools/chartserver/chartserver.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <csignal>

using namespace tevrin;

namespace {

const QString kCli = QStringLiteral(TEVRIN_BINARY_DIR "/tools/cli/tevrin-cli");
const QString kHotBird = QStringLiteral("Hot Bird 13.0°E");
const QString kAstra = QStringLiteral("Astra 1G 31.5°E");

using test::Channel;
using test::Page;
using test::Transponder;

// A name that a saved record cannot hold stays on both charts: an unchanged
// channel must never be reported, whatever its script.
QByteArray Chart(const QString& changing) {
  return Page(Transponder("11804 V", "DVB-S2") + Channel(changing, "TV", "FTA", "rus") +
              Channel("Ελληνική TV 😀", "TV", "FTA", "rus") + Channel("Euronews", "TV", "FTA", "ukr") +
              Transponder("10719 H", "DVB-S") + Channel("НТВ Мир", "TV", "Viaccess", "rus eng"));
}
QByteArray FirstChart() { return Chart("Первый канал"); }
QByteArray ChangedChart() { return Chart("Россия 1"); }

ChangeEntry Entry(const QString& satellite, int minute, int added, int gone) {
  ChangeEntry e;
  e.time = QDateTime(QDate(2026, 5, 1), QTime(3, minute));
  e.satellite = satellite;
  for (int i = 0; i < added; ++i) e.added.push_back({"11804 V", QString("Ελληνική TV 😀 %1").arg(i)});
  for (int i = 0; i < gone; ++i) e.gone.push_back({"12000 H", QString("TRT Türk %1").arg(i)});
  e.newCount = added;
  e.goneCount = gone;
  return e;
}

// The notification service of a desktop, as far as the tool uses it.
class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  struct Call {
    QString app, summary, body;
  };
  QList<Call> calls;
  QStringList capabilities{"body"};

 public slots:
  QStringList GetCapabilities() { return capabilities; }
  uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
              const QStringList&, const QVariantMap&, int) {
    calls.append({app, summary, body});
    return uint(calls.size());
  }
};

struct Run {
  int exitCode = -1;
  QString out;
  QStringList errLines;
};

}  // namespace

class TstWatch : public QObject {
  Q_OBJECT

  QTemporaryDir site_;
  std::unique_ptr<ChartServer> server_;
  QProcess busDaemon_;
  QString busAddress_;
  FakeNotifications notifications_;

  void writeChart(const QByteArray& page, int position = 13) {
    test::WriteBytes(site_.filePath(QString("charts/%1.html").arg(position)), page);
  }

  void start(QProcess& process, const QStringList& arguments, const QString& chartUrl, const QString& bus) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TEVRIN_CHART_URL", chartUrl);
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus);
    process.setProcessEnvironment(env);
    process.start(kCli, arguments);
  }
  // Waits in this thread's event loop, which serves the charts and the bus meanwhile.
  static Run finish(QProcess& process) {
    Run r;
    if (!test::WaitInEventLoop([&] { return process.state() == QProcess::NotRunning; }, 60000)) {
      process.kill();
      process.waitForFinished(5000);
      r.errLines << "timed out";
      return r;
    }
    if (process.exitStatus() == QProcess::NormalExit) r.exitCode = process.exitCode();
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    for (const QString& line : QString::fromUtf8(process.readAllStandardError()).split('\n'))
      if (!line.trimmed().isEmpty()) r.errLines << line;
    return r;
  }
  // A session bus of our own: no service files, so nothing is activated behind the test's back.
  QString startBus(QProcess& daemon) {
    const QString config = site_.filePath("bus.conf");
    test::WriteBytes(config,
                     QString("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                             "<auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                             "<allow own=\"*\"/></policy></busconfig>")
                         .arg(site_.path())
                         .toUtf8());
    daemon.start("dbus-daemon", {"--nofork", "--print-address=1", "--config-file=" + config});
    if (!daemon.waitForStarted(10000)) qWarning("dbus-daemon (package dbus-daemon) is needed");
    if (!test::WaitInEventLoop([&] { return daemon.canReadLine(); }, 10000)) return {};
    return QString::fromUtf8(daemon.readLine()).trimmed();
  }

  Run run(const QStringList& arguments, const QString& bus = QString(), const QString& chartUrl = QString()) {
    QProcess process;
    start(process, arguments, chartUrl.isEmpty() ? server_->baseUrl() : chartUrl,
          bus.isNull() ? busAddress_ : bus);
    return finish(process);
  }

 private slots:
  void initTestCase() {
    QVERIFY(QDir(site_.path()).mkpath("charts"));
    server_ = std::make_unique<ChartServer>(site_.path());
    server_->setLogging(false);
    QVERIFY(server_->listen());

    busAddress_ = startBus(busDaemon_);
    QVERIFY(!busAddress_.isEmpty());
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress_, "fake-desktop");
    QVERIFY2(bus.isConnected(), qPrintable(bus.lastError().message()));
    QVERIFY(bus.registerObject(kNotificationPath, &notifications_, QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService("org.freedesktop.Notifications"));
  }
  void cleanupTestCase() {
    QDBusConnection::disconnectFromBus("fake-desktop");
    busDaemon_.terminate();
    busDaemon_.waitForFinished(5000);
  }
  void init() {
    notifications_.calls.clear();
    notifications_.capabilities = QStringList{"body"};
    writeChart(FirstChart(), 13);
    writeChart(FirstChart(), 31);
  }

  void changeLogKeepsTheNewestWithinItsBound() {
    test::TempExeDir base;
    const QString path = ChangeLogPath();
    const QDateTime now = QDateTime::currentDateTime();
    QVERIFY(AppendToChangeLog(path, {Entry(kHotBird, 1, 2, 1)}, now).damage.isEmpty());
    QVERIFY(
        AppendToChangeLog(path, {Entry(kAstra, 2, 0, 3), Entry(kHotBird, 2, 1, 0)}, now).damage.isEmpty());
    ChangeLogContents log = ReadChangeLog(path);
    QCOMPARE(log.damage, QString());
    // Every text comes back as written, whatever its script.
    QCOMPARE(log.entries, (std::vector<ChangeEntry>{Entry(kHotBird, 1, 2, 1), Entry(kAstra, 2, 0, 3),
                                                    Entry(kHotBird, 2, 1, 0)}));
    const std::vector<ChangeEntry> newest = NewestFirst(log.entries);
    QCOMPARE(newest[0].satellite + newest[1].satellite + newest[2].satellite, kAstra + kHotBird + kHotBird);
    QCOMPARE(newest[2].time, Entry(kHotBird, 1, 0, 0).time);

    // Over the bound the oldest go first; the file stays within it.
    const qint64 oneEntry = ChangeEntryJson(Entry(kHotBird, 9, 2, 1)).size() + 1;
    for (int minute = 10; minute < 20; ++minute)
      AppendToChangeLog(path, {Entry(kHotBird, minute, 2, 1)}, now, 3 * oneEntry + 10);
    log = ReadChangeLog(path);
    QCOMPARE(int(log.entries.size()), 3);
    QCOMPARE(log.entries.front().time.time().minute(), 17);
    QVERIFY(QFileInfo(path).size() <= 3 * oneEntry + 10);
    // One entry larger than the bound still stays: it is the newest.
    AppendToChangeLog(path, {Entry(kHotBird, 30, 40, 0)}, now, oneEntry);
    QCOMPARE(int(ReadChangeLog(path).entries.size()), 1);

    // A chart that changed wholesale keeps its counts, not every name.
    std::vector<ChannelRow> rows;
    rows.reserve(kChangeListMax + 9);
    for (int i = 0; i < kChangeListMax + 7; ++i) rows.push_back({"+", {"1", "T", QString::number(i)}, {}});
    rows.push_back({"-", {"2", "T", "gone"}, {}});
    rows.push_back({"", {"3", "T", "kept"}, {}});
    const ChangeEntry big = ChangeEntryFromRows(kHotBird, Entry(kHotBird, 0, 0, 0).time, rows);
    QCOMPARE(big.newCount, kChangeListMax + 7);
    QCOMPARE(int(big.added.size()), kChangeListMax);
    QCOMPARE(big.gone, (std::vector<ChangedChannel>{{"T", "gone"}}));
    QCOMPARE(ChangeEntryFromJson(ChangeEntryJson(big)), std::optional<ChangeEntry>(big));
  }

  void damagedLogIsSetAsideAndANewOneStarted_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("asLink");
    const QByteArray good = ChangeEntryJson(Entry(kHotBird, 1, 1, 0)) + "\n";
    QTest::newRow("garbage line") << good + "not json\n" + good << false;
    QTest::newRow("cut short") << good + good.left(good.size() / 2) << false;
    QByteArray miscounted = good;
    miscounted.replace("\"newCount\":1", "\"newCount\":0");
    QTest::newRow("more names than counted") << good + miscounted << false;
    QTest::newRow("a link to another file") << good << true;
  }
  void damagedLogIsSetAsideAndANewOneStarted() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, asLink);
    test::TempExeDir base;
    const QString path = ChangeLogPath(), other = base.file("other.txt");
    test::WriteBytes(asLink ? other : path, bytes);
    if (asLink) QVERIFY(QFile::link(other, path));
    QVERIFY(!ReadChangeLog(path).damage.isEmpty());

    const QDateTime now(QDate(2026, 5, 2), QTime(4, 5, 6));
    const ChangeLogAppend result = AppendToChangeLog(path, {Entry(kAstra, 7, 0, 1)}, now);
    QVERIFY(!result.damage.isEmpty());
    QCOMPARE(result.setAside, path + ".damaged-20260502-040506");
    QCOMPARE(QFileInfo(result.setAside).isSymLink(), asLink);
    QCOMPARE(test::ReadBytes(result.setAside), bytes);  // kept whole for a look
    QCOMPARE(ReadChangeLog(path).entries, std::vector<ChangeEntry>{Entry(kAstra, 7, 0, 1)});
    QVERIFY(!QFileInfo(path).isSymLink());
    if (asLink) QCOMPARE(test::ReadBytes(other), bytes);  // never written through
  }

  void notificationTextsCountAndCut() {
    QCOMPARE(ChangeSummaryText(Entry(kHotBird, 0, 2, 1)), kHotBird + ": 2 новых, 1 ушел");
    QCOMPARE(ChangeSummaryText(Entry(kHotBird, 0, 21, 0)), kHotBird + ": 21 новый");
    QCOMPARE(ChangeSummaryText(Entry(kHotBird, 0, 0, 11)), kHotBird + ": 11 ушли");
    QCOMPARE(ChangeBodyText(Entry(kHotBird, 0, 1, 2)),
             QString("+ Ελληνική TV 😀 0\n- TRT Türk 0\n- TRT Türk 1"));
    ChangeEntry many = Entry(kHotBird, 0, 4, 3);
    QCOMPARE(ChangeBodyText(many).split('\n').mid(3),
             QStringList({"+ Ελληνική TV 😀 3", "- TRT Türk 0", "и ещё 2"}));
    many.goneCount = 900;  // a cut list: the rest is counted from the whole
    QVERIFY(ChangeBodyText(many).endsWith("\nи ещё 899"));
  }

  void watchListLivesBesideTheWindowSettings() {
    test::TempExeDir base;
    const QString ini = SettingsPath();
    WindowSettings window;
    window.width = 900;
    window.ukr = true;
    SaveSettings(ini, window);
    const QByteArray windowBytes = test::ReadBytes(ini);

    Run r = run({"watch", "--add", "5", "--add", kAstra, "--add", kHotBird, "--base", base.path()});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, "5\t" + kHotBird + "\n6\t" + kAstra + "\n");
    QVERIFY(test::ReadBytes(ini).startsWith(windowBytes));  // the window's lines as they were

    window.width = 700;  // the window closes later and writes its keys again
    SaveSettings(ini, window);
    QCOMPARE(WatchedSatellites(ini), QStringList({kHotBird, kAstra}));
    QCOMPARE(LoadSettings(ini, {}).width, 700);

    r = run({"watch", "--remove", "Amos 4.0°W", "--base", base.path()});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(WatchedSatellites(ini), QStringList({kHotBird, kAstra}));
    r = run({"watch", "--remove", "5", "--base", base.path()});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(run({"watch", "--list", "--base", base.path()}).out, "6\t" + kAstra + "\n");
  }

  void changedChartNotifiesOnceUnchangedNotAtAll() {
    test::TempExeDir base;
    const QStringList watch{"watch", "--notify", "--base", base.path()};
    Run r = run(watch);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.errLines.value(0).contains("tevrin-cli watch --add"), qPrintable(r.errLines.join('\n')));
    QCOMPARE(run({"watch", "--add", "5", "--add", "6", "--base", base.path()}).exitCode, 0);

    r = run(watch);  // the first run saves what the later ones compare with
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.out.contains(kNoPreviousShortText));
    QCOMPARE(notifications_.calls.size(), 0);

    writeChart(ChangedChart());
    r = run(watch);
    QCOMPARE(r.errLines, QStringList());
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(notifications_.calls.size(), 1);
    QCOMPARE(notifications_.calls[0].app, QString("Tevrin"));
    QCOMPARE(notifications_.calls[0].summary, kHotBird + ": 1 новый, 1 ушел");
    QCOMPARE(notifications_.calls[0].body, QString("+ Россия 1\n- Первый канал"));
    QVERIFY(!r.out.contains("Россия 1"));  // shown on the desktop, not repeated

    r = run({"changes", "--base", base.path()});
    QCOMPARE(r.exitCode, 0);
    QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].endsWith("  " + kHotBird + ": 1 новый, 1 ушел"));
    QCOMPARE(lines[1], QString("  +  11804 V.DVB-S2  Россия 1"));
    QCOMPARE(lines[2], QString("  -  11804 V.DVB-S2  Первый канал"));

    r = run(watch);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(notifications_.calls.size(), 1);

    // scan --notify too; a body-markup service gets the name escaped.
    notifications_.capabilities << "body-markup";
    writeChart(Page(Transponder("11804 V", "DVB-S2") + Channel("AT&amp;T &lt;HD&gt;", "TV", "FTA", "rus")),
               31);
    r = run({"scan", "6", "--lang", "rus", "--compare", "--notify", "--base", base.path()});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(notifications_.calls.size(), 2);
    QCOMPARE(notifications_.calls[1].summary, kAstra + ": 1 новый, 3 ушли");
    QCOMPARE(notifications_.calls[1].body,
             QString("+ AT&amp;T &lt;HD&gt;\n- НТВ Мир\n- Первый канал\n- Ελληνική TV 😀"));
    QCOMPARE(int(ReadChangeLog(ChangeLogPath()).entries.size()), 1);  // only the watch keeps the log
  }

  void withoutBusOrServiceTheTextIsPrinted_data() {
    QTest::addColumn<bool>("busRuns");
    QTest::newRow("no session bus") << false;
    QTest::newRow("no notification service") << true;
  }
  void withoutBusOrServiceTheTextIsPrinted() {
    QFETCH(bool, busRuns);
    test::TempExeDir base;
    QString bus = "unix:path=" + base.file("no-bus-here");
    QProcess emptyBus;
    if (busRuns) bus = startBus(emptyBus);
    QVERIFY(!bus.isEmpty());
    QVERIFY(SaveWatchedSatellites(SettingsPath(), {kHotBird}));
    QCOMPARE(run({"watch", "--base", base.path()}, bus).exitCode, 1);
    writeChart(ChangedChart());
    const Run r = run({"watch", "--notify", "--base", base.path()}, bus);
    emptyBus.terminate();
    emptyBus.waitForFinished(5000);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.errLines.size(), 1);
    QVERIFY2(r.errLines[0].startsWith("tevrin-cli: уведомление не показано: ") &&
                 r.errLines[0].contains(busRuns ? "служба уведомлений" : "нет сеансовой шины D-Bus"),
             qPrintable(r.errLines[0]));
    QVERIFY(r.out.endsWith("\n" + kHotBird + ": 1 новый, 1 ушел\n+ Россия 1\n- Первый канал\n"));
    QCOMPARE(notifications_.calls.size(), 0);
  }

  void faultsAreReportedAndTheOthersGoOn() {
    test::TempExeDir base;
    // The window's languages: Ukrainian only, so Euronews is the one channel kept.
    WindowSettings window;
    window.rus = false;
    window.ukr = true;
    SaveSettings(SettingsPath(), window);
    QVERIFY(SaveWatchedSatellites(SettingsPath(), {kHotBird, "Old Sat 1.0°W", kAstra}));
    Run r = run({"watch", "--base", base.path()});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.errLines.size(), 1);
    QVERIFY(r.errLines[0].contains("\"Old Sat 1.0°W\" нет в каталоге"));
    QVERIFY(r.out.contains(QRegularExpression(QRegularExpression::escape(kHotBird) + " +13 +1 ")));

    // Astra's chart is gone: its line says so, its saved table stays, no notification.
    const QByteArray astraTable = test::ReadBytes(SavedTablePath(kAstra));
    QVERIFY(!astraTable.isEmpty());
    QVERIFY(QFile::remove(site_.filePath("charts/31.html")));
    writeChart(Page(Transponder("11804 V", "DVB-S2") + Channel("Euronews", "TV", "FTA", "ukr") +
                    Channel("Еспресо", "TV", "FTA", "ukr")));
    test::WriteBytes(ChangeLogPath(), "{\"damaged\n");
    r = run({"changes", "--base", base.path()});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(QFile::exists(ChangeLogPath()));  // only reported; the next watch sets it aside
    r = run({"watch", "--notify", "--base", base.path()});
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.out.contains(QRegularExpression(QRegularExpression::escape(kAstra) + " +31 +- +- +- +\\S")));
    QCOMPARE(test::ReadBytes(SavedTablePath(kAstra)), astraTable);
    QCOMPARE(notifications_.calls.size(), 1);
    QCOMPARE(notifications_.calls[0].summary, kHotBird + ": 1 новый");
    QVERIFY(r.errLines.filter("журнал изменений повреждён").size() == 1);
    QCOMPARE(ReadChangeLog(ChangeLogPath()).entries.size(), size_t(1));
    QCOMPARE(QDir(base.path()).entryList({"changes.jsonl.damaged-*"}).size(), 1);
  }

  void oneRunAtATimeAndAKilledRunLeavesNoStuckLock() {
    test::TempExeDir base;
    QVERIFY(SaveWatchedSatellites(SettingsPath(), {kHotBird}));
    const QStringList watch{"watch", "--lang", "rus", "--base", base.path()};
    // The first run holds its download until the second has been refused.
    test::FaultServer held(test::FaultServer::Mode::Ok);
    held.setChunks(2);
    held.setHoldUntilRelease(true);
    QVERIFY(held.listen());
    QProcess first;
    start(first, watch, held.url(""), busAddress_);
    QVERIFY(test::WaitInEventLoop([&] { return held.requestCount() == 1; }));
    Run second = run(watch);
    QCOMPARE(second.exitCode, 2);
    QCOMPARE(second.errLines,
             QStringList{QString("tevrin-cli: наблюдение уже идёт (процесс %1); этот запуск не начат")
                             .arg(first.processId())});
    QVERIFY(!QFile::exists(SavedTablePath(kHotBird)));
    held.release();
    held.release();
    const Run firstRun = finish(first);
    QCOMPARE(firstRun.errLines, QStringList());
    QVERIFY(firstRun.out.contains(kHotBird));
    QVERIFY(!QFile::exists(WatchLockPath()));

    // Killed while it holds the lock: the next run takes the lock over.
    test::FaultServer silent(test::FaultServer::Mode::NoResponse);
    QVERIFY(silent.listen());
    QProcess killed;
    start(killed, watch, silent.url(""), busAddress_);
    QVERIFY(test::WaitInEventLoop([&] { return silent.requestCount() == 1; }));
    ::kill(pid_t(killed.processId()), SIGKILL);
    finish(killed);
    QVERIFY(QFile::exists(WatchLockPath()));
    const Run next = run(watch);
    QCOMPARE(next.errLines, QStringList());
    QCOMPARE(next.exitCode, 1);  // no earlier table: counted as changed
    QVERIFY(QFile::exists(SavedTablePath(kHotBird)));
  }
};

QTEST_GUILESS_MAIN(TstWatch)
#include "tst_watch.moc"
