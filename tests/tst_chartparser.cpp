#include "scan/chartparser.h"

#include "scan/catalogue.h"
#include "scan/htmltree.h"
#include "scan/pagetext.h"
#include "scan/scancancel.h"
#include "support/testsupport.h"
#include "table/channeltable.h"
#include "tools/gencharts/chartgen.h"

#include <QCoreApplication>
#include <QFile>
#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>

using namespace tevrin;

namespace {

class Host : public ChartParserHost {
 public:
  bool rus = false, ukr = false, bel = false, oth = false;
  QString other;
  int maximum = -1;
  int steps = 0;
  int saves = 0;
  int events = 0;          // since the walk of the rows began
  int buildEvents = -1;    // while the tree was built; -1 before
  QList<bool> busy;        // what showBusy was told
  QList<int> stepsAtSave;  // progress position when each save was enabled
  std::function<void(Host&)> onEvents;

  bool isTicked(Language language) override {
    switch (language) {
      case Language::Rus: return rus;
      case Language::Ukr: return ukr;
      case Language::Bel: return bel;
      case Language::Other: return oth;
    }
    return false;
  }
  QString otherLanguageText() override { return other; }
  void setProgressMaximum(int m) override {
    maximum = m;
    steps = 0;
    buildEvents = events;
    events = 0;
  }
  void showBusy(bool b) override { busy << b; }
  void stepProgress() override { ++steps; }
  void enableSave() override {
    ++saves;
    stepsAtSave << steps;
  }
  void processEvents() override {
    ++events;
    if (onEvents) onEvents(*this);
  }
};

Host RusOnly() {
  Host h;
  h.rus = true;
  return h;
}

QString Chart(const QString& name) {
  QFile f(QStringLiteral(TEVRIN_TESTDATA "/charts/") + name);
  if (!f.open(QIODevice::ReadOnly)) qFatal("missing test page %s", qPrintable(name));
  return DecodePageBytes(f.readAll());
}

QStringList Column(const ChannelTableModel& m, int sub) {
  QStringList out;
  for (const ChannelRow& r : m.rows()) out << r.subItem(sub);
  return out;
}

QStringList Accepted(const QString& page, Host host) {
  ChannelTableModel m;
  test::RecordingMessages messages;
  if (!ParseChartPage(page, m, host)) return {QStringLiteral("<failed>")};
  return Column(m, kSubName);
}

QString ChannelRowHtml(const QString& name, const QString& audio, const QString& kind = "TV") {
  return QStringLiteral(
             "<tr><td></td><td>1</td><td>%1</td><td>%2</td><td>FTA</td><td>1</td>"
             "<td>2</td><td>3</td><td>MPEG-2</td><td>%3</td><td>d</td></tr>\n")
      .arg(name, kind, audio);
}

QString Page(const QString& rows) {
  return QStringLiteral("<html><body><table>\n") + rows + QStringLiteral("</table></body></html>\r\n");
}

const QString kDocumentError = QStringLiteral("Ошибка создания IHTMLDocument2");

// Tree bounds and the build hook for one test, put back afterwards.
struct BoundsForTest {
  explicit BoundsForTest(const TreeBounds& bounds) { SetTreeBounds(bounds); }
  ~BoundsForTest() {
    SetTreeBounds(saved);
    SetTreeBuildStartHook({});
    ScanCancel::instance().clear();
  }
  const TreeBounds saved = CurrentTreeBounds();
};

QString Repeat(const QString& piece, int times) {
  QString out;
  out.reserve(piece.size() * times);
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// A channel row under `levels` unclosed div elements.
QString UnderDivs(int levels) {
  return QStringLiteral("<html><body>") + Repeat(QStringLiteral("<div>"), levels) +
         Page(ChannelRowHtml("Deep", "rus"));
}

}  // namespace

class TstChartParser : public QObject {
  Q_OBJECT
 private slots:
  void cleanCellText() {
    QCOMPARE(CleanCellText(QStringLiteral("11804 V\r\nSR27500")), QStringLiteral("11804 V.SR27500"));
    QCOMPARE(CleanCellText(QStringLiteral("a\nb\rc\r\n")), QStringLiteral("ab.c."));
    QCOMPARE(CleanCellText(QString()), QString());
    QCOMPARE(CleanCellText(QStringLiteral("\u00a0x\ty")), QStringLiteral("\u00a0x\ty"));
  }

  void languageWindows_data() {
    QTest::addColumn<QString>("audio");
    QTest::addColumn<QString>("ticks");  // letters r u b o
    QTest::addColumn<QString>("other");
    QTest::addColumn<bool>("wanted");
    // clang-format off
    QTest::newRow("rus") << "rus" << "r" << "" << true;
    QTest::newRow("RUS") << "RUS" << "r" << "" << false;
    QTest::newRow("Rus") << "Rus" << "rubo" << "eng" << false;
    QTest::newRow("eng rus") << "eng rus" << "r" << "" << true;
    QTest::newRow("inside a word") << "xrusx" << "r" << "" << true;
    QTest::newRow("eng.rus") << "eng.rus" << "r" << "" << true;
    QTest::newRow("ru") << "ru" << "rubo" << "ru" << false;
    QTest::newRow("empty") << "" << "rubo" << "" << false;
    QTest::newRow("rus unticked") << "rus" << "ubo" << "eng" << false;
    QTest::newRow("ukr") << "ukr rus" << "u" << "" << true;
    QTest::newRow("bel") << "bel" << "b" << "" << true;
    QTest::newRow("other eng") << "deu eng" << "o" << "eng" << true;
    QTest::newRow("other en") << "deu eng" << "o" << "en" << false;
    QTest::newRow("other unticked") << "eng" << "rub" << "eng" << false;
    QTest::newRow("other is exact") << "ENG" << "o" << "eng" << false;
    QTest::newRow("last window") << "xxxbel" << "b" << "" << true;
    // clang-format on
  }
  void languageWindows() {
    QFETCH(QString, audio);
    QFETCH(QString, ticks);
    QFETCH(QString, other);
    Host h;
    h.rus = ticks.contains('r');
    h.ukr = ticks.contains('u');
    h.bel = ticks.contains('b');
    h.oth = ticks.contains('o');
    h.other = other;
    QTEST(IsWantedLanguage(audio, h), "wanted");
  }

  void filterOnAPage() {
    const QString page = Chart("filter.html");
    QCOMPARE(Accepted(page, RusOnly()), QStringList({"A rus", "C eng rus", "F xrusx", "G two lines"}));
    Host eng;
    eng.oth = true;
    eng.other = "eng";
    QCOMPARE(Accepted(page, eng), QStringList({"C eng rus", "G two lines", "H eng"}));
    eng.other = "en";
    QCOMPARE(Accepted(page, eng), QStringList());
    Host ukrBel;
    ukrBel.ukr = ukrBel.bel = true;
    QCOMPARE(Accepted(page, ukrBel), QStringList({"J ukr", "K bel"}));
    QCOMPARE(Accepted(page, Host()), QStringList());

    ChannelTableModel m;
    Host h = RusOnly();
    QVERIFY(ParseChartPage(page, m, h));
    QCOMPARE(Column(m, kSubAudio), QStringList({"rus", "eng rus", "xrusx", "eng.rus"}));
  }

  void kindAndEncryption() {
    ChannelTableModel m;
    Host h = RusOnly();
    QVERIFY(ParseChartPage(Chart("kinds.html"), m, h));
    QCOMPARE(Column(m, kSubName), QStringList({"Lower r", "R with space", "R nbsp", "Lower fta",
                                               "Two systems", "Spaced FTA", "Bold FTA"}));
    QCOMPARE(Column(m, kSubCoding), QStringList({kFreeToAirText, kFreeToAirText, kFreeToAirText, "fta",
                                                 "Viaccess.Irdeto", kFreeToAirText, kFreeToAirText}));
    QList<int> codingImages;
    for (const ChannelRow& r : m.rows()) codingImages << r.image(kSubCoding);
    QCOMPARE(codingImages, QList<int>({kImageFree, kImageFree, kImageFree, kImagePaid, kImagePaid, kImageFree,
                                       kImageFree}));
    // The video cell is taken as read, line break and all.
    QCOMPARE(m.row(6).subItem(kSubVideo), QStringLiteral("MPEG-2\r\nHD"));
  }

  void rowShape() {
    ChannelTableModel m;
    Host h = RusOnly();
    QVERIFY(ParseChartPage(Chart("rows.html"), m, h));
    QCOMPARE(Column(m, kSubName), QStringList({"Before any transponder", "First", "Header cells", "Last"}));
    QCOMPARE(Column(m, kSubNumber), QStringList({"1", "2", "3", "4"}));
    // Before any transponder, after one of only three characters, after "abcd".
    QCOMPARE(Column(m, kSubTransponder), QStringList({"", "11804 V.SR27500", "", "d"}));
    for (const ChannelRow& r : m.rows()) {
      QVERIFY(r.mark.isEmpty());
      QCOMPARE(r.subItems.size(), 6);  // no note
      QCOMPARE(r.subItem(kSubNote), QString());
      QCOMPARE(r.subItem(kSubVideo), QStringLiteral("MPEG-2"));
      QCOMPARE(r.images, QList<int>({kNoImage, kNoImage, kImageTv, kNoImage, kNoImage, kImageFree}));
    }
  }

  void progressAndSave() {
    ChannelTableModel m;
    Host h = RusOnly();
    QVERIFY(ParseChartPage(Chart("rows.html"), m, h));
    QCOMPARE(h.maximum, 12);
    QCOMPARE(h.steps, 12);
    QCOMPARE(h.events, 12);
    // Each save follows the step of the row that appended it: TRs 2, 4, 10 and 12.
    QCOMPARE(h.stepsAtSave, QList<int>({2, 4, 10, 12}));

    Host none = RusOnly();
    ChannelTableModel empty;
    QVERIFY(ParseChartPage(Chart("notr.html"), empty, none));
    QCOMPARE(none.maximum, 0);
    QCOMPARE(none.steps, 0);
    QCOMPARE(none.saves, 0);
    QCOMPARE(empty.count(), 0);

    Host rejected = RusOnly();
    rejected.rus = false;
    rejected.ukr = true;
    QVERIFY(ParseChartPage(Chart("filter.html"), empty, rejected));
    QCOMPARE(rejected.maximum, 14);
    QCOMPARE(rejected.saves, 1);  // "J ukr" only
  }

  void tenCellRowAddsNothing() {
    // The ten-cell row follows an accepted channel; it must not repeat it.
    const QString page = Page(
        ChannelRowHtml("Only", "rus") +
        "<tr><td>1</td><td>2</td><td>3</td><td>4</td><td>5</td><td>6</td><td>7</td><td>8</td><td>9</td><td>rus</td></tr>\n");
    ChannelTableModel m;
    Host h = RusOnly();
    QVERIFY(ParseChartPage(page, m, h));
    QCOMPARE(Column(m, kSubName), QStringList({"Only"}));
    QCOMPARE(h.saves, 1);
  }

  void appendsAfterExistingRows() {
    // The caller empties the table; the parser only appends and numbers by count.
    ChannelTableModel m;
    m.appendHandRow();
    Host h = RusOnly();
    QVERIFY(ParseChartPage(Page(ChannelRowHtml("Next", "rus")), m, h));
    QCOMPARE(m.count(), 2);
    QCOMPARE(m.row(1).subItem(kSubNumber), QStringLiteral("2"));
  }

  void languageChangedBetweenRows() {
    const QString page = Page(ChannelRowHtml("One", "rus") + ChannelRowHtml("Two", "rus") +
                              ChannelRowHtml("Three", "ukr") + ChannelRowHtml("Four", "rus"));
    // Through the hook: the user unticks Rus and ticks Ukr after the first row.
    Host h = RusOnly();
    h.onEvents = [](Host& host) {
      if (host.events == 1) {
        host.rus = false;
        host.ukr = true;
      }
    };
    QCOMPARE(Accepted(page, h), QStringList({"One", "Three"}));

    // Through the event loop: a queued change is delivered by the pump after the first row.
    struct PumpingHost : Host {
      void processEvents() override { QCoreApplication::processEvents(); }
    } pumping;
    pumping.rus = true;
    QObject context;
    QMetaObject::invokeMethod(
        &context, [&pumping] { pumping.rus = false; }, Qt::QueuedConnection);
    ChannelTableModel m;
    QVERIFY(ParseChartPage(page, m, pumping));
    QCOMPARE(Column(m, kSubName), QStringList({"One"}));
  }

  void sloppyMarkup() {
    ChannelTableModel m;
    Host h = RusOnly();
    QVERIFY(ParseChartPage(Chart("sloppy.html"), m, h));
    QCOMPARE(Column(m, kSubName),
             QStringList({"Fox Life & Style", QStringLiteral("Русь <HD>"), "Inner\r\nleft\tright\r\ntail",
                          "Hidden part", "Spaced out name"}));
    QCOMPARE(Column(m, kSubTransponder), QStringList(5, "11034 V.DVB-S2.SR 27500"));
    QCOMPARE(m.row(0).subItem(kSubAudio), QStringLiteral("eng\u00a0rus"));
    QCOMPARE(m.row(3).subItem(kSubAudio), QStringLiteral("rus"));
    QCOMPARE(m.row(1).subItem(kSubCoding), QStringLiteral("Conax"));
    QCOMPARE(h.maximum, 7);  // the nested table's row counts, the template's does not
  }

  void oversizedPageIsRefused() {
    test::RecordingMessages messages;
    const qint64 saved = MaxPageTextBytes();
    QCOMPARE(saved, qint64(64) * 1024 * 1024);
    const QString page = Page(ChannelRowHtml(QString(40, QChar(0x0416)), "rus"));  // 2 bytes each in UTF-8
    const qint64 bytes = page.toUtf8().size();
    QVERIFY(page.size() < bytes);

    ChannelTableModel m;
    m.appendHandRow();
    Host h = RusOnly();
    SetMaxPageTextBytes(bytes - 1);
    const bool refused = !ParseChartPage(page, m, h);
    SetMaxPageTextBytes(bytes);
    const bool atLimit = ParseChartPage(page, m, h);
    SetMaxPageTextBytes(saved);

    QVERIFY(refused);
    QVERIFY(atLimit);
    QCOMPARE(messages.texts("plain"), QStringList({QStringLiteral("Ошибка создания IHTMLDocument2")}));
    QCOMPARE(m.count(), 2);  // the hand row and the one accepted at the limit
    QCOMPARE(h.saves, 1);
  }

  void deepNestingIsSafe() {
    // Over the default depth bound: refused, not walked.
    constexpr int kLevels = 120000;
    const QString page = QStringLiteral("<html><body>") + Repeat(QStringLiteral("<table><tr><td>"), kLevels) +
                         QStringLiteral("x</body></html>");
    test::RecordingMessages messages;
    ChannelTableModel m;
    Host h = RusOnly();
    QVERIFY(!ParseChartPage(page, m, h));
    QCOMPARE(messages.texts("plain"), QStringList({kDocumentError}));

    // Allowed, it is walked and freed without recursion.
    TreeBounds deep = CurrentTreeBounds();
    deep.depth = 4 * kLevels + 10;
    deep.millis = deep.walkMillis = 600000;  // no time limit on a slow (sanitizer) build
    BoundsForTest bounds(deep);
    QVERIFY(ParseChartPage(page, m, h));
    QCOMPARE(h.maximum, kLevels);
    QCOMPARE(m.count(), 0);
  }

  void treeBoundsRefuseHostilePages() {
    TreeBounds tight;
    tight.bytes = qint64(4) * 1024 * 1024;
    tight.depth = 200;
    BoundsForTest bounds(tight);
    struct Case {
      const char* what;
      QString page;
      bool parsed;
    };
    const QString bareRows = QStringLiteral("<table>") + Repeat(QStringLiteral("<tr>"), 100000);
    const Case cases[] = {
        {"nesting under the bound", UnderDivs(150), true},
        {"nesting over the bound", UnderDivs(300), false},
        {"rows within the memory", QStringLiteral("<table>") + Repeat(QStringLiteral("<tr>"), 1000), true},
        {"rows over the memory", bareRows, false},
    };
    for (const Case& c : cases) {
      test::RecordingMessages messages;
      ChannelTableModel m;
      Host h = RusOnly();
      QVERIFY2(ParseChartPage(c.page, m, h) == c.parsed, c.what);
      QCOMPARE(messages.texts("plain"), c.parsed ? QStringList() : QStringList({kDocumentError}));
      QCOMPARE(h.busy, QList<bool>({true, false}));
      if (!c.parsed) QCOMPARE(h.maximum, -1);  // no row was walked
    }

    // Out of time: the build looks at the clock every thousand allocations.
    tight.bytes = CurrentTreeBounds().bytes;
    tight.millis = 0;
    SetTreeBounds(tight);
    test::RecordingMessages messages;
    ChannelTableModel m;
    Host h = RusOnly();
    QVERIFY(!ParseChartPage(bareRows.left(4000), m, h));
    QCOMPARE(messages.texts("plain"), QStringList({kDocumentError}));

    // Rows that take too long to walk: the walk stops, what it appended stays.
    tight.millis = CurrentTreeBounds().millis;
    tight.walkMillis = 0;
    SetTreeBounds(tight);
    QVERIFY(!ParseChartPage(Page(ChannelRowHtml("One", "rus") + ChannelRowHtml("Two", "rus")), m, h));
    QCOMPARE(Column(m, kSubName), QStringList({"One"}));
    QCOMPARE(messages.texts("plain"), QStringList({kDocumentError, kDocumentError}));
  }

  void eventsRunWhileTheTreeIsBuilt() {
    // The build cannot start before an event posted now has been delivered:
    // with the tree built on this thread that would never happen.
    BoundsForTest bounds(CurrentTreeBounds());
    QSemaphore delivered;
    std::atomic<bool> startedAfterEvent{false};
    SetTreeBuildStartHook([&] { startedAfterEvent = delivered.tryAcquire(1, 30000); });
    QObject context;
    QMetaObject::invokeMethod(
        &context, [&delivered] { delivered.release(); }, Qt::QueuedConnection);
    struct PumpingHost : Host {
      void processEvents() override {
        ++events;
        QCoreApplication::processEvents();
      }
    } h;
    h.rus = true;
    ChannelTableModel m;
    QVERIFY(ParseChartPage(Page(ChannelRowHtml("One", "rus")), m, h));
    QVERIFY(startedAfterEvent);
    QVERIFY(h.buildEvents >= 1);
    QCOMPARE(h.busy, QList<bool>({true, false}));
    QCOMPARE(Column(m, kSubName), QStringList({"One"}));
  }

  void cancelEndsTheParseAtOnce() {
    BoundsForTest bounds(CurrentTreeBounds());
    // A build that waits until released: the cancel must not wait for it.
    // Shared with the build, which outlives the parse.
    const auto release = std::make_shared<QSemaphore>();
    const auto buildEnded = std::make_shared<std::atomic<bool>>(false);
    SetTreeBuildStartHook([release, buildEnded] {
      release->tryAcquire(1, 30000);
      *buildEnded = true;
    });
    struct CancellingHost : Host {
      void processEvents() override {
        ++events;
        ScanCancel::instance().request();
      }
    } h;
    h.rus = true;
    test::RecordingMessages messages;
    ChannelTableModel m;
    const QString page = Page(ChannelRowHtml("One", "rus") + ChannelRowHtml("Two", "rus"));
    QVERIFY(!ParseChartPage(page, m, h));
    QVERIFY(!*buildEnded);  // given up on, still running
    release->release();
    QTRY_VERIFY_WITH_TIMEOUT(*buildEnded, 30000);  // and it ends by itself
    QCOMPARE(m.count(), 0);

    // An error raised by an event handler during the wait leaves the parse
    // the same way: the build is given up on, nothing is torn down under it.
    struct ThrowingHost : Host {
      void processEvents() override { throw std::runtime_error("handler"); }
    } thrower;
    buildEnded->store(false);
    ScanCancel::instance().clear();
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ParseChartPage(page, m, thrower));
    QVERIFY(!*buildEnded);
    release->release();
    QTRY_VERIFY_WITH_TIMEOUT(*buildEnded, 30000);

    // Cancelled while the rows are walked: no row after the one at hand.
    SetTreeBuildStartHook({});
    ScanCancel::instance().clear();
    QVERIFY(!ParseChartPage(page, m, h));
    QCOMPARE(Column(m, kSubName), QStringList({"One"}));
    QCOMPARE(messages.texts("plain"), QStringList());  // a cancel is not an error
  }

  void wedgedBuildIsGivenUp() {
    // A build stuck where it cannot look at the clock: the wait has its own deadline.
    TreeBounds quick = CurrentTreeBounds();
    quick.millis = 0;
    BoundsForTest bounds(quick);
    const auto release = std::make_shared<QSemaphore>();  // shared with the build, which outlives the parse
    SetTreeBuildStartHook([release] { release->tryAcquire(1, 30000); });
    test::RecordingMessages messages;
    ChannelTableModel m;
    Host h = RusOnly();
    QVERIFY(!ParseChartPage(Page(ChannelRowHtml("One", "rus")), m, h));
    release->release();
    QCOMPARE(messages.texts("plain"), QStringList({kDocumentError}));
    QCOMPARE(m.count(), 0);
  }

  void generatedChartsParseAsModelled() {
    for (int position : {13, 36, 90}) {  // declared charset, packages, no meta and sloppy rows
      const gencharts::Chart chart = gencharts::MakeChart(position);
      QStringList expectedNames, expectedTransponders, expectedCoding;
      for (const gencharts::Transponder& t : chart.transponders)
        for (const gencharts::Channel& c : t.channels)
          if (c.audio.contains(QLatin1String("rus")) && c.kind != QLatin1String("R")) {
            expectedNames << c.name;
            expectedTransponders << t.lines.join('.').mid(3);
            expectedCoding << (c.encryption == QLatin1String("FTA") ? kFreeToAirText : c.encryption);
          }
      QVERIFY(expectedNames.size() > 10);
      ChannelTableModel m;
      Host h = RusOnly();
      QVERIFY(ParseChartPage(DecodePageBytes(gencharts::RenderChart(chart)), m, h));
      QCOMPARE(Column(m, kSubName), expectedNames);
      QCOMPARE(Column(m, kSubTransponder), expectedTransponders);
      QCOMPARE(Column(m, kSubCoding), expectedCoding);
    }
  }

  void exitWhileATreeIsBuilt() {
    // Runs after every other parse: the build given up on here never ends
    // before the test program does, whose exit must neither hang nor crash.
    BoundsForTest bounds(CurrentTreeBounds());
    const auto never = std::make_shared<QSemaphore>();
    SetTreeBuildStartHook([never] { never->tryAcquire(1, 600000); });
    struct CancellingHost : Host {
      void processEvents() override { ScanCancel::instance().request(); }
    } h;
    ChannelTableModel m;
    QVERIFY(!ParseChartPage(Page(ChannelRowHtml("One", "rus")), m, h));
    QCOMPARE(m.count(), 0);
    QCOMPARE(GivenUpBuildsRunning(), 1);

    // One given-up build at most: the next scan waits for it within its own
    // time, then gets the page error without starting a build of its own.
    TreeBounds quick = CurrentTreeBounds();
    quick.millis = 0;
    SetTreeBounds(quick);
    int started = 0;
    SetTreeBuildStartHook([&started] { ++started; });
    ScanCancel::instance().clear();
    test::RecordingMessages messages;
    Host r = RusOnly();
    QVERIFY(!ParseChartPage(Page(ChannelRowHtml("Two", "rus")), m, r));
    QCOMPARE(messages.texts("plain"), QStringList({kDocumentError}));
    QCOMPARE(started, 0);
    QCOMPARE(GivenUpBuildsRunning(), 1);
  }

  void committedSiteMatchesTheGenerator() {
    qint64 total = 0;
    for (int i = 1; i < kSatelliteCount; ++i) {
      const int position = ChartPosition(i);
      QFile f(QStringLiteral(TEVRIN_TESTDATA "/site/charts/%1.html").arg(position));
      QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName()));
      const QByteArray bytes = f.readAll();
      QVERIFY2(bytes == gencharts::ChartPage(position), qPrintable(f.fileName()));
      total += bytes.size();
      const gencharts::Chart chart = gencharts::MakeChart(position);
      QVERIFY(chart.channelCount() >= 50 && chart.channelCount() <= 150);
    }
    QVERIFY(total < 2 * 1024 * 1024);
    // A changed chart keeps most channels and changes some.
    const gencharts::Chart before = gencharts::MakeChart(13), after = gencharts::MakeChart(13, 1);
    QSet<QString> a, b;
    for (const auto& t : before.transponders)
      for (const auto& c : t.channels) a.insert(c.name);
    for (const auto& t : after.transponders)
      for (const auto& c : t.channels) b.insert(c.name);
    QVERIFY(a != b);
    QVERIFY((a & b).size() * 10 > a.size() * 7);
    QCOMPARE(gencharts::ChartPage(13, 1), gencharts::ChartPage(13, 1));
  }
};

QTEST_GUILESS_MAIN(TstChartParser)
#include "tst_chartparser.moc"
