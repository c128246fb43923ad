#include "app/errors.h"
#include "app/gui/mainform.h"
#include "scan/catalogue.h"
#include "scan/download.h"
#include "scan/gui/bindstatuscallback.h"
#include "scan/gui/formloadurl.h"
#include "scan/scandriver.h"
#include "support/faultserver.h"
#include "support/testsupport.h"
#include "table/channeltable.h"
#include "tables_testutil.h"
#include "tools/chartserver/chartserver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <cstring>

using namespace tevrin;

namespace {

using test::Channel;
using test::Page;
using test::Transponder;

// Records the message boxes together with the window's state at the moment a box appears.
class StateRecordingMessages final : public test::RecordingMessages {
 public:
  TMainF* window = nullptr;
  bool mainEnabledAtError = false;
  bool progressVisibleAtError = true;
  void error(const QString& t) override {
    mainEnabledAtError = window->isEnabled();
    progressVisibleAtError = window->FormLoadURL->isVisible();
    test::RecordingMessages::error(t);
  }
};

}  // namespace

class TstGuiScan : public QObject {
  Q_OBJECT

  QTemporaryDir site_;
  std::unique_ptr<ChartServer> server_;
  int terminateRequests_ = 0;

  void writeChart(int position, const QByteArray& page) {
    QFile f(site_.filePath(QString("charts/%1.html").arg(position)));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(page);
  }

  struct Window {
    test::TempExeDir home;
    StateRecordingMessages boxes;
    TMainF main;
    TFormLoadURL progress{&main};
    int bannerClicks = 0;
    Window() {
      boxes.window = &main;
      main.setFormLoadURL(&progress);
      // The banner has tests of its own; here only its click counts.
      QObject::disconnect(main.Button1, nullptr, &main, nullptr);
      QObject::connect(main.Button1, &QPushButton::clicked, [this] { ++bannerClicks; });
    }
    void scan(int satellite) {
      main.CmbBoxURL->setCurrentIndex(satellite);
      main.BitBtnGo->click();
    }
    QStringList column(int sub) const {
      QStringList out;
      for (const ChannelRow& r : main.table().rows()) out << r.subItem(sub);
      return out;
    }
  };

 private slots:
  void initTestCase() {
    QVERIFY(QDir(site_.path()).mkpath("charts"));
    writeChart(13, Page(Transponder("11804 V", "DVB-S2") + Channel("Первый канал", "TV", "FTA", "rus") +
                        Channel("BBC", "TV", "FTA", "eng") + Channel("Радио Мир", "R", "FTA", "rus") +
                        Transponder("10719 H", "DVB-S") + Channel("НТВ Мир", "TV", "Viaccess", "rus eng") +
                        Channel("Євроспорт", "TV", "FTA", "ukr")));
    writeChart(356, Page("<p>no table today</p>"));
    writeChart(5, Page(Transponder("12000 V", "DVB-S") + Channel("Другой", "TV", "FTA", "rus")));
    server_ = std::make_unique<ChartServer>(site_.path());
    server_->setLogging(false);
    QVERIFY(server_->listen());
    qputenv("TEVRIN_CHART_URL", server_->baseUrl().toUtf8());
    qputenv("TEVRIN_SITE_URL", server_->baseUrl().toUtf8());
    TMainF::TerminateHook() = [this] { ++terminateRequests_; };
    TBindStatusCallback::StopPauseMs() = 0;
  }

  void init() { terminateRequests_ = 0; }

  void scanFillsSortedNumberedRows() {
    Window w;
    QCOMPARE(w.progress.statusText(), QString("Загрузка страницы: 0 Kb -/-"));
    TBindStatusCallback::StopPauseMs() = 1000;  // once as the user sees it
    w.scan(5 /* Hot Bird 13.0°E */);
    TBindStatusCallback::StopPauseMs() = 0;
    QCOMPARE(w.main.GroupBoxTabl->title(), QString("Hot Bird 13.0°E"));
    QVERIFY(w.boxes.boxes.isEmpty());
    // Sorted by transponder, numbered 1..N; radio, English and Ukrainian rows left out.
    QCOMPARE(w.column(kSubTransponder), QStringList({"10719 H.DVB-S", "11804 V.DVB-S2"}));
    QCOMPARE(w.column(kSubName), QStringList({"НТВ Мир", "Первый канал"}));
    QCOMPARE(w.column(kSubNumber), QStringList({"1", "2"}));
    QCOMPARE(w.column(kSubAudio), QStringList({"rus eng", "rus"}));
    QCOMPARE(w.column(kSubVideo), QStringList({"MPEG-2", "MPEG-2"}));
    QCOMPARE(w.column(kSubNote), QStringList({"", ""}));
  }

  void scanStates() {
    Window w;
    w.main.CheckBoxUkr->setChecked(true);
    w.scan(5);
    QCOMPARE(w.column(kSubName), QStringList({"НТВ Мир", "Євроспорт", "Первый канал"}));
    QCOMPARE(w.column(kSubNumber), QStringList({"1", "2", "3"}));
    QCOMPARE(w.column(kSubCoding), QStringList({"Viaccess", "идет открыто", "идет открыто"}));
    QCOMPARE(w.main.table().row(0).image(kSubCoding), int(kImagePaid));
    QCOMPARE(w.main.table().row(1).image(kSubCoding), int(kImageFree));
    QCOMPARE(w.main.table().row(1).image(kSubName), int(kImageTv));
    QVERIFY(w.main.BitBtnExp->isEnabled());
    QVERIFY(w.main.BitBtnSave->isEnabled());
    QVERIFY(w.main.BitBtnGo->isEnabled());
    QVERIFY(w.main.isEnabled());
    QVERIFY(!w.progress.isVisible());
    QCOMPARE(w.main.ProgressBarReadCash->value(), 0);
    QVERIFY(w.progress.statusText().startsWith("Загрузка страницы: "));
    QVERIFY(w.progress.statusText().endsWith(" Kb 1/1"));
    QVERIFY(!QFile::exists(w.home.file("cache.txt")));
    QCOMPARE(w.bannerClicks, 1);
    QCOMPARE(terminateRequests_, 0);

    // A second scan starts from an empty table, numbered from 1 again.
    w.main.CheckBoxUkr->setChecked(false);
    w.scan(3 /* Astra 4A, position 5 */);
    QCOMPARE(w.column(kSubName), QStringList({"Другой"}));
    QCOMPARE(w.column(kSubNumber), QStringList({"1"}));
    QCOMPARE(w.bannerClicks, 2);
  }

  void promptItemFetchesNothing() {
    Window w;
    w.main.table().appendRow(ChannelRow{"", {"1", "a", "b"}, {}});
    int requests = 0;
    connect(server_.get(), &ChartServer::requestServed, this, [&] { ++requests; });
    w.scan(0);
    QCOMPARE(w.main.GroupBoxTabl->title(), QString("Выберите спутник"));
    QCOMPARE(w.bannerClicks, 1);  // the banner click comes before the look-up
    QCOMPARE(requests, 0);
    QCOMPARE(w.main.table().count(), 1);
    QVERIFY(w.main.BitBtnGo->isEnabled());
    QVERIFY(!w.main.BitBtnExp->isEnabled());
    disconnect(server_.get(), nullptr, this, nullptr);
  }

  void noLanguageRefusesTheScan() {
    Window w;
    w.main.CheckBoxRus->setChecked(false);
    w.main.CmbBoxURL->setCurrentIndex(5);
    w.main.table().appendRow(ChannelRow{"", {"1", "a", "b"}, {}});
    w.main.BitBtnGo->click();
    QCOMPARE(w.main.GroupBoxTabl->title(), QString("Hot Bird 13.0°E"));
    QCOMPARE(w.boxes.texts("warning"), QStringList({"Не выбран ни один из языков."}));
    QCOMPARE(w.main.table().count(), 1);
    QVERIFY(w.main.BitBtnGo->isEnabled());
    QCOMPARE(w.bannerClicks, 0);
  }

  void pageWithoutRows() {
    Window w;
    w.scan(1 /* Amos, position 356 */);
    QCOMPARE(w.main.table().count(), 0);
    QCOMPARE(w.main.ProgressBarReadCash->value(), 0);
    // Still, not the busy look of a bar whose maximum is its minimum.
    QVERIFY(w.main.ProgressBarReadCash->maximum() > w.main.ProgressBarReadCash->minimum());
    QVERIFY(w.main.BitBtnExp->isEnabled());
    QVERIFY(!w.main.BitBtnSave->isEnabled());
    QVERIFY(w.boxes.boxes.isEmpty());
  }

  void tableEditsWaitForTheScan() {
    Window w;
    // Delivered while the page downloads or parses: refused, the scan's rows stay.
    bool delivered = false;
    QTimer::singleShot(0, &w.main, [&] {
      QVERIFY(w.main.scanning());
      w.main.CheckBoxFilterON->setChecked(true);
      emit w.main.ListViewNew->horizontalHeader()->sectionClicked(3);
      emit w.main.BitBtnExp->clicked();
      w.main.CmbBoxURL->setCurrentIndex(2);  // the user picks another satellite
      emit w.main.CmbBoxURL->activated(2);
      delivered = true;
    });
    w.scan(5);
    QVERIFY(delivered);
    QCOMPARE(w.column(kSubName), QStringList({"НТВ Мир", "Первый канал"}));
    QVERIFY(!QFile::exists(w.home.file("exsport.csv")));
    // The refused box went back: its handler never saw the tick.
    QVERIFY(!w.main.CheckBoxFilterON->isChecked());
    QVERIFY(!w.main.CheckBoxNTV->isEnabled());
    // The refused satellite does not stay shown: the box shows the scanned one.
    QCOMPARE(w.main.CmbBoxURL->currentIndex(), 5);
    // After the scan the same events run.
    w.main.CheckBoxFilterON->setChecked(true);
    QVERIFY(w.main.CheckBoxNTV->isEnabled());
    QCOMPARE(w.main.table().count(), 0);  // the stored view, filtered, of a satellite never saved
  }

  void failedDownloadsEndTheTool_data() {
    QTest::addColumn<int>("mode");
    using M = test::FaultServer::Mode;
    QTest::newRow("404") << int(M::NotFound);
    QTest::newRow("500") << int(M::ServerError);
    QTest::newRow("redirect loop") << int(M::RedirectLoop);
    QTest::newRow("short body") << int(M::ShortBody);
    QTest::newRow("reset mid-body") << int(M::ResetMidBody);
    QTest::newRow("stall") << int(M::Stall);
    QTest::newRow("oversized") << int(M::Oversized);
    QTest::newRow("refused") << -1;
    QTest::newRow("drip") << -2;  // one byte every 10 ms
    QTest::newRow("endless") << int(M::Endless);
  }
  void failedDownloadsEndTheTool() {
    QFETCH(int, mode);
    test::FaultServer fault(mode < 0 ? test::FaultServer::Mode::Ok : test::FaultServer::Mode(mode));
    fault.setBodySize(200000);
    if (mode == -2) fault.setChunks(200000);
    QVERIFY(fault.listen());
    const QString base = mode < 0 ? QString("http://127.0.0.1:%1").arg(test::FaultServer::ClosedPort())
                                  : QString("http://127.0.0.1:%1").arg(fault.port());
    qputenv("TEVRIN_CHART_URL", base.toUtf8());
    const DownloadLimits saved = DefaultDownloadLimits();
    DefaultDownloadLimits().stallTimeoutMs = 500;
    DefaultDownloadLimits().maxBodyBytes = 100000;
    DefaultDownloadLimits().lowSpeedWindowMs = 300;
    {
      Window w;
      QVERIFY(QDir(w.home.path()).mkpath("Base"));
      QVERIFY(test::WriteAll(w.home.file("Base/Hot Bird 13.0°E.rec"), QByteArray(476, 'p')));
      w.main.show();
      w.scan(5);
      QCOMPARE(w.boxes.texts("error"), QStringList({kDownloadErrorText}));
      QVERIFY(w.boxes.mainEnabledAtError);
      QVERIFY(!w.boxes.progressVisibleAtError);
      QCOMPARE(terminateRequests_, 1);
      QVERIFY(!w.main.isVisible());  // the normal close came first
      QVERIFY(!QFile::exists(w.home.file("cache.txt")));
      QCOMPARE(QDir(w.home.path()).entryList(QDir::Files | QDir::Hidden), QStringList());  // no temporary
      QCOMPARE(test::ReadAll(w.home.file("Base/Hot Bird 13.0°E.rec")), QByteArray(476, 'p'));
      QVERIFY(!w.main.BitBtnExp->isEnabled());
    }
    DefaultDownloadLimits() = saved;
    qputenv("TEVRIN_CHART_URL", server_->baseUrl().toUtf8());
  }

  void aScratchFileThatCannotBeWrittenIsAnErrorNotTheEnd() {
    Window w;
    QVERIFY(QDir(w.home.path()).mkpath("cache.txt/taken"));  // a folder has the scratch file's name
    w.scan(5);
    QCOMPARE(w.boxes.texts("applicationError"), QStringList({ErrorDisplayText(std::strerror(EISDIR))}));
    QVERIFY(w.boxes.texts("error").isEmpty());
    QCOMPARE(terminateRequests_, 0);
    QVERIFY(w.main.isEnabled());
    QVERIFY(w.main.BitBtnGo->isEnabled());
    QVERIFY(!w.main.FormLoadURL->isVisible());
    QCOMPARE(QDir(w.home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({"cache.txt"}));
    // The tool carries on: the next scan, with the name free again, works.
    QVERIFY(QDir(w.home.file("cache.txt")).removeRecursively());
    w.scan(5);
    QCOMPARE(w.main.table().count(), 2);
  }

  // Closing the window mid-download abandons the scan: no message, no
  // terminate request, no scratch file, and a next scan runs normally.
  void closeDuringTheDownloadEndsTheScanQuietly() {
    test::FaultServer fault(test::FaultServer::Mode::Stall);
    fault.setBodySize(200000);
    QVERIFY(fault.listen());
    qputenv("TEVRIN_CHART_URL", QString("http://127.0.0.1:%1").arg(fault.port()).toUtf8());
    const DownloadLimits saved = DefaultDownloadLimits();
    DefaultDownloadLimits().stallTimeoutMs = 600000;  // only the close can end this download
    {
      Window w;
      w.main.show();
      bool progressShownAtClose = false;
      QTimer closer;
      closer.setInterval(20);
      QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!w.progress.isVisible()) return;
        progressShownAtClose = true;
        closer.stop();
        w.main.close();
      });
      closer.start();
      w.scan(5);
      QVERIFY(progressShownAtClose);
      QVERIFY(w.boxes.boxes.isEmpty());
      QCOMPARE(terminateRequests_, 0);
      QVERIFY(!w.progress.isVisible());
      QVERIFY(!QFile::exists(w.home.file("cache.txt")));
      QCOMPARE(QDir(w.home.path()).entryList(QDir::Files), QStringList());
    }
    DefaultDownloadLimits() = saved;
    qputenv("TEVRIN_CHART_URL", server_->baseUrl().toUtf8());
    Window again;
    again.scan(5);
    QCOMPARE(again.main.table().count(), 2);
    QVERIFY(again.boxes.boxes.isEmpty());
  }

  void downloadErrorTextIsExact() {
    QCOMPARE(kDownloadErrorText, QString(24, ' ') + "Невозможно загрузить страницу.\r\r" + QString(2, ' ') +
                                     "Возможно не установлено соединение с Internet или сайт недоступен.\r" +
                                     QString(12, ' ') +
                                     "(проверьте настройки соединения в Internet Explorer)");
  }
};

QTEST_MAIN(TstGuiScan)
#include "tst_gui_scan.moc"
