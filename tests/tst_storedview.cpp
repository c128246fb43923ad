#include "app/errors.h"
#include "support/testsupport.h"
#include "table/records.h"
#include "table/storedview.h"
#include "tables_testutil.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using namespace tevrin;
using namespace tevrin::test;

namespace {

SavedRecord Saved(const QString& tr, const QString& name, const QString& coding = "Conax") {
  return SavedRecord{tr, name, "rus", "MPEG-4", coding, "01.02.2024"};
}

QByteArray FileOf(const std::vector<SavedRecord>& records) {
  QByteArray out;
  for (const SavedRecord& r : records) out.append(reinterpret_cast<const char*>(EncodeRecord(r).bytes), 476);
  return out;
}

void SaveFile(const QString& satellite, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(SavedTablePath(satellite)).absolutePath());
  QVERIFY(WriteAll(SavedTablePath(satellite), bytes));
}

QStringList Names(const ChannelTableModel& table) {
  QStringList out;
  for (const ChannelRow& r : table.rows()) out << r.subItem(2);
  return out;
}

QStringList Numbers(const ChannelTableModel& table) {
  QStringList out;
  for (const ChannelRow& r : table.rows()) out << r.subItem(0);
  return out;
}

// Gives its bytes up to a point, then fails as a broken disk would.
class FailingDevice : public QIODevice {
 public:
  FailingDevice(QByteArray data, qint64 failAt) : data_(std::move(data)), failAt_(failAt) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  }

 protected:
  qint64 readData(char* out, qint64 max) override {
    if (pos_ >= failAt_) {
      setErrorString(QStringLiteral("Input/output error"));
      return -1;
    }
    const qint64 n = std::min(max, failAt_ - pos_);
    std::memcpy(out, data_.constData() + pos_, size_t(n));
    pos_ += n;
    return n;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray data_;
  qint64 failAt_;
  qint64 pos_ = 0;
};

}  // namespace

class TestStoredView : public QObject {
  Q_OBJECT
 private slots:
  void packageFilter_data();
  void packageFilter();
  void filteredViewKeepsFileOrderAndNumbersWithoutGaps();
  void rowsCarryImagesButNoMarkOrNote();
  void missingOrEmptyTable();
  void loadsInOneBulkUpdate();
  void readFailureKeepsRowsReadSoFar();
};

void TestStoredView::packageFilter_data() {
  QTest::addColumn<QString>("transponder");
  QTest::addColumn<bool>("on");
  QTest::addColumn<bool>("ntv");
  QTest::addColumn<bool>("tri");
  QTest::addColumn<bool>("kept");
  QTest::newRow("off keeps all") << "ntv" << false << false << false << true;
  QTest::newRow("off ignores boxes") << "12000" << false << true << true << true;
  QTest::newRow("on, no box") << "12034 NTV+" << true << false << false << false;
  QTest::newRow("NTV") << "12034 NTV+" << true << true << false << true;
  QTest::newRow("NTV box, Tri text") << "Tricolor" << true << true << false << false;
  QTest::newRow("Tri") << "Tricolor" << true << false << true << true;
  QTest::newRow("Tri inside a word") << "SatTriple" << true << false << true << true;
  QTest::newRow("ntv lower case") << "ntv plus" << true << true << true << false;
  QTest::newRow("TRI upper case") << "TRICOLOR" << true << true << true << false;
  QTest::newRow("pattern at the end") << "12226.NTV" << true << true << false << true;
  QTest::newRow("two characters") << "NT" << true << true << true << false;
  QTest::newRow("one character") << "T" << true << true << true << false;
  QTest::newRow("empty") << "" << true << true << true << false;
}

void TestStoredView::packageFilter() {
  QFETCH(QString, transponder);
  QFETCH(bool, on);
  QFETCH(bool, ntv);
  QFETCH(bool, tri);
  QFETCH(bool, kept);
  QCOMPARE(PassesPackageFilter(transponder, PackageFilter{on, ntv, tri}), kept);
}

void TestStoredView::filteredViewKeepsFileOrderAndNumbersWithoutGaps() {
  TempExeDir exe;
  SaveFile("Sat", FileOf({Saved("11000 plain", "p1"), Saved("12034 NTV+", "n1"), Saved("Tricolor", "t1"),
                          Saved("NTV+ Tricolor", "both"), Saved("ntv", "lower"), Saved("TRI", "upper"),
                          Saved("Tr", "short"), Saved("12100 NTV", "n2")}));
  ChannelTableModel table;

  QVERIFY(LoadStoredView("Sat", {true, true, true}, table));
  QCOMPARE(Names(table), (QStringList{"n1", "t1", "both", "n2"}));
  QCOMPARE(Numbers(table), (QStringList{"1", "2", "3", "4"}));

  QVERIFY(LoadStoredView("Sat", {true, false, true}, table));
  QCOMPARE(Names(table), (QStringList{"t1", "both"}));
  QCOMPARE(Numbers(table), (QStringList{"1", "2"}));

  QVERIFY(LoadStoredView("Sat", {true, false, false}, table));
  QCOMPARE(table.count(), 0);

  QVERIFY(LoadStoredView("Sat", {false, true, false}, table));
  QCOMPARE(table.count(), 8);
  QCOMPARE(Numbers(table).last(), QStringLiteral("8"));
}

void TestStoredView::rowsCarryImagesButNoMarkOrNote() {
  const ChannelRow free = StoredViewRow(Saved("T", "Первый", "идет открыто"), 5);
  QCOMPARE(free.mark, QString());
  QCOMPARE(free.subItems, (QStringList{"5", "T", "Первый", "rus", "MPEG-4", "идет открыто"}));
  QCOMPARE(free.image(2), int(kImageTv));
  QCOMPARE(free.image(5), int(kImageFree));
  for (int k : {0, 1, 3, 4, 6}) QCOMPARE(free.image(k), int(kNoImage));
  QCOMPARE(StoredViewRow(Saved("T", "n", "идет открыто "), 1).image(5), int(kImagePaid));
  QCOMPARE(StoredViewRow(Saved("T", "n", "Идет открыто"), 1).image(5), int(kImagePaid));
  QCOMPARE(StoredViewRow(Saved("T", "n", ""), 1).image(5), int(kImagePaid));
}

void TestStoredView::missingOrEmptyTable() {
  TempExeDir exe;
  RecordingMessages messages;
  ChannelTableModel table;
  table.appendRow(ScanRow(1, "scan", "row"));
  QVERIFY(!LoadStoredView("Выберите спутник", {}, table));
  QCOMPARE(table.count(), 0);

  // A table saved under the prompt's name is shown like any other.
  SaveFile("Выберите спутник", FileOf({Saved("A", "a")}));
  QVERIFY(LoadStoredView("Выберите спутник", {}, table));
  QCOMPARE(Names(table), QStringList{"a"});

  SaveFile("Empty", QByteArray());
  QVERIFY(LoadStoredView("Empty", {}, table));
  QCOMPARE(table.count(), 0);

  SaveFile("Partial", FileOf({Saved("A", "a"), Saved("B", "b")}) + QByteArray(300, 'x'));
  QVERIFY(LoadStoredView("Partial", {}, table));
  QCOMPARE(Names(table), (QStringList{"a", "b"}));
  QVERIFY(messages.boxes.isEmpty());
}

void TestStoredView::loadsInOneBulkUpdate() {
  TempExeDir exe;
  SaveFile("Sat", FileOf({Saved("A", "a"), Saved("B", "b"), Saved("C", "c")}));
  ChannelTableModel table;
  table.appendRow(ScanRow(1, "old", "old"));
  QSignalSpy resets(&table, &QAbstractItemModel::modelReset);
  QSignalSpy inserts(&table, &QAbstractItemModel::rowsInserted);
  QVERIFY(LoadStoredView("Sat", {}, table));
  QCOMPARE(resets.count(), 1);   // the old rows, gone before any new one shows
  QCOMPARE(inserts.count(), 1);  // all new rows at once
  QCOMPARE(inserts[0][2].toInt(), 2);
  QVERIFY(!table.inBulkUpdate());
  QCOMPARE(Names(table), (QStringList{"a", "b", "c"}));
}

void TestStoredView::readFailureKeepsRowsReadSoFar() {
  ChannelTableModel table;
  table.appendRow(ScanRow(1, "old", "old"));
  FailingDevice device(FileOf({Saved("A", "a"), Saved("B", "b"), Saved("C", "c")}), 476 * 2 + 100);
  try {
    LoadStoredViewFrom(device, {}, table);
    QFAIL("no error");
  } catch (const TevrinError& e) {
    QCOMPARE(e.message(), QStringLiteral("Input/output error"));
  }
  QCOMPARE(Names(table), (QStringList{"a", "b"}));
  QVERIFY(!table.inBulkUpdate());
  table.appendRow(ScanRow(3, "after", "after"));  // still usable
  QCOMPARE(table.rowCount(), 3);

  // A saved table that opens but cannot be read: the same through the path.
  TempExeDir exe;
  QDir().mkpath(exe.file("Base"));
  QVERIFY(QFile::link("/proc/self/mem", SavedTablePath("Broken")));
  QVERIFY_THROWS_EXCEPTION(TevrinError, LoadStoredView("Broken", {}, table));
  QCOMPARE(table.count(), 0);
  QVERIFY(!table.inBulkUpdate());
}

QTEST_GUILESS_MAIN(TestStoredView)
#include "tst_storedview.moc"
