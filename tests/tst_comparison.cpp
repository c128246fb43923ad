#include "support/testsupport.h"
#include "table/comparison.h"
#include "table/records.h"
#include "tables_testutil.h"

#include <QTest>

using namespace tevrin;
using namespace tevrin::test;

namespace {

SavedRecord Saved(const QString& tr, const QString& name, const QString& date = "01.02.2024") {
  return SavedRecord{tr, name, "rus", "MPEG-4", "Conax", date};
}

void Fill(ChannelTableModel& table, const std::vector<ChannelRow>& rows) {
  table.clear();
  for (const ChannelRow& r : rows) table.appendRow(r);
}

QStringList Marks(const ChannelTableModel& table) {
  QStringList out;
  for (const ChannelRow& r : table.rows()) out << r.mark;
  return out;
}

}  // namespace

class TestComparison : public QObject {
  Q_OBJECT
 private slots:
  void unchangedAndRenamedChannels();
  void keyIsTheExactJoinOfTransponderAndName();
  void goneRowsCarryTheSavedTextsAndTheirOwnNumber();
  void emptyTables();
  void duplicateKeys();
  void comparingTwiceAndAfterSavingGoneRows();
  void summaryTexts();
  void unchangedTextsTheRecordCannotHoldMatch_data();
  void unchangedTextsTheRecordCannotHoldMatch();
  void renamesWithinLettersTheCodePageLacks();
  void recordFormKeepsTheDuplicateRules();
};

void TestComparison::unchangedAndRenamedChannels() {
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "11766 L", "Первый"), ScanRow(2, "11766 L", "Россия 1 HD")});
  const std::vector<SavedRecord> previous = {Saved("11766 L", "Первый"), Saved("11766 L", "Россия 1")};
  const ComparisonResult result = CompareWithPrevious(table, previous);
  QCOMPARE(result.changes(), 2);
  QCOMPARE(Marks(table), (QStringList{"", "+", "-"}));
  QCOMPARE(table.row(0).subItems.size(), 6);  // unmarked row gets no note
  QCOMPARE(table.row(1).subItems.size(), 7);
  QCOMPARE(table.row(1).subItems[6], QStringLiteral("Появился"));
  QCOMPARE(table.row(1).images, ScanRow(2, "", "").images);  // images stay
  QCOMPARE(table.row(2).subItem(2), QStringLiteral("Россия 1"));
  QCOMPARE(table.row(2).subItem(6), QStringLiteral("Ушел"));
}

void TestComparison::keyIsTheExactJoinOfTransponderAndName() {
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "AB", "C"), ScanRow(2, "NTV", "Канал"), ScanRow(3, "X", "Имя ")});
  const std::vector<SavedRecord> previous = {Saved("A", "BC"), Saved("ntv", "Канал"), Saved("X", "Имя")};
  const ComparisonResult result = CompareWithPrevious(table, previous);
  // AB+C matches A+BC; a difference of case or a trailing blank does not match.
  QCOMPARE(Marks(table), (QStringList{"", "+", "+", "-", "-"}));
  QCOMPARE(result.changes(), 4);
  QCOMPARE(table.row(3).subItem(1), QStringLiteral("ntv"));
  QCOMPARE(table.row(4).subItem(2), QStringLiteral("Имя"));
}

void TestComparison::goneRowsCarryTheSavedTextsAndTheirOwnNumber() {
  ChannelTableModel table;
  Fill(table, {ScanRow(7, "T1", "kept"), ScanRow(9, "T1", "kept2")});
  const std::vector<SavedRecord> previous = {
      Saved("T0", "first gone"),
      {"T1", "kept", "rus", "MPEG-4", "Conax", "02.02.2024"},
      {"T2", "second gone", "ukr", "MPEG-2", "идет открыто", "03.02.2024"},
      Saved("T1", "kept2", "04.02.2024")};
  const ComparisonResult result = CompareWithPrevious(table, previous);
  QCOMPARE(result.changes(), 2);
  QCOMPARE(result.date, QStringLiteral("04.02.2024"));  // the last record's date
  QCOMPARE(table.count(), 4);
  const ChannelRow& gone = table.row(3);
  QCOMPARE(gone.mark, QStringLiteral("-"));
  QCOMPARE(gone.subItems, (QStringList{"4", "T2", "second gone", "ukr", "MPEG-2", "идет открыто", "Ушел"}));
  QVERIFY(gone.images.isEmpty());
  QCOMPARE(table.row(2).subItems.first(), QStringLiteral("3"));
  QCOMPARE(table.row(0).subItems.first(), QStringLiteral("7"));  // current numbers untouched
}

void TestComparison::emptyTables() {
  ChannelTableModel table;
  ComparisonResult result = CompareWithPrevious(table, {Saved("A", "1"), Saved("B", "2"), Saved("C", "3")});
  QCOMPARE(result.changes(), 3);
  QCOMPARE(Marks(table), (QStringList{"-", "-", "-"}));
  QCOMPARE(table.row(2).subItems.first(), QStringLiteral("3"));

  Fill(table, {ScanRow(1, "A", "1"), ScanRow(2, "B", "2")});
  result = CompareWithPrevious(table, {});
  QCOMPARE(result.changes(), 2);
  QCOMPARE(result.date, QString());
  QCOMPARE(Marks(table), (QStringList{"+", "+"}));
}

void TestComparison::duplicateKeys() {
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "A", "new"), ScanRow(2, "A", "new"), ScanRow(3, "K", "kept")});
  const ComparisonResult result =
      CompareWithPrevious(table, {Saved("K", "kept"), Saved("G", "gone"), Saved("G", "gone")});
  // Both current duplicates count; the saved duplicate gives one gone row.
  QCOMPARE(Marks(table), (QStringList{"+", "+", "", "-"}));
  QCOMPARE(result.changes(), 3);
}

void TestComparison::comparingTwiceAndAfterSavingGoneRows() {
  TempExeDir exe;
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "A", "same"), ScanRow(2, "B", "new")});
  const std::vector<SavedRecord> previous = {Saved("A", "same"), Saved("C", "gone")};
  QCOMPARE(CompareWithPrevious(table, previous).changes(), 2);
  QCOMPARE(table.count(), 3);

  // Again without a scan: no gone rows this time, the new row is marked again.
  QCOMPARE(CompareWithPrevious(table, previous).changes(), 1);
  QCOMPARE(table.count(), 3);
  QCOMPARE(table.row(1).subItems.mid(6), (QStringList{"Появился", "Появился"}));
  QCOMPARE(table.row(2).subItems.size(), 7);

  // Saved, the gone row is left out; the next comparison finds it new.
  const QString path = SavedTablePath("S");
  WriteSavedTable(path, table.rows(), QDate(2024, 5, 6));
  std::vector<SavedRecord> saved;
  QVERIFY(ReadSavedTable(path, saved));
  QCOMPARE(saved.size(), size_t(2));
  const ComparisonResult third = CompareWithPrevious(table, saved);
  QCOMPARE(third.changes(), 1);
  QCOMPARE(third.date, QStringLiteral("06.05.2024"));
  QCOMPARE(Marks(table), (QStringList{"", "+", "+"}));
  QCOMPARE(table.row(2).subItems.mid(6), (QStringList{"Ушел", "Появился"}));
}

void TestComparison::summaryTexts() {
  QCOMPARE(ComparisonSummaryText({"01.02.2024", 0, 0}),
           QStringLiteral(
               "Сравнение завершено.\r(сравнивался с датой: 01.02.2024г.)\r\rИзменений не обнаружено."));
  QCOMPARE(ComparisonSummaryText({"31.12.2023", 7, 5}),
           QStringLiteral(
               "Сравнение завершено\r(сравнивался с датой: 31.12.2023г.)\r\rНайдено 12 новых записей."));
  QCOMPARE(ComparisonSummaryText({"", 0, 1}),
           QStringLiteral("Сравнение завершено\r(сравнивался с датой: г.)\r\rНайдено 1 новых записей."));
}

void TestComparison::unchangedTextsTheRecordCannotHoldMatch_data() {
  QTest::addColumn<QString>("transponder");
  QTest::addColumn<QString>("name");
  QTest::newRow("Greek") << "11766 L.DVB-S2"
                         << "Ελληνική TV";
  QTest::newRow("Turkish") << "11766 L.DVB-S2"
                           << "TRT Türk ş ğ ı İ";
  QTest::newRow("Arabic") << "12034 R.DVB-S"
                          << "قناة الجزيرة";
  QTest::newRow("accented Latin") << "12034 R.DVB-S"
                                  << "Télé Zürich Ñandú ö";
  QTest::newRow("emoji") << "12034 R.DVB-S"
                         << "Kids 😀 TV 🛰";
  QTest::newRow("200-character transponder") << QString(190, u'T') + "0123456789"
                                             << "Канал";
  QTest::newRow("120-character name") << "11766 L" << QString(110, u'Ж') + "0123456789";
}

// Scan, save, scan the same page, compare: nothing changed, whether the full
// texts lie beside the table or it was written by the record writer alone.
void TestComparison::unchangedTextsTheRecordCannotHoldMatch() {
  QFETCH(QString, transponder);
  QFETCH(QString, name);
  TempExeDir exe;
  const std::vector<ChannelRow> scan = {ScanRow(1, "10719 H", "Первый канал"), ScanRow(2, transponder, name)};
  const QString path = SavedTablePath("S");
  WriteSavedTable(path, scan, QDate(2024, 5, 6));
  for (const bool withTexts : {true, false}) {
    if (!withTexts) QVERIFY(QFile::remove(path + ".json"));
    std::vector<SavedRecord> saved;
    QVERIFY(ReadSavedTable(path, saved));
    QCOMPARE(saved.back().fullTexts, withTexts);
    ChannelTableModel table;
    Fill(table, scan);
    const ComparisonResult result = CompareWithPrevious(table, saved);
    QCOMPARE(result.changes(), 0);
    QCOMPARE(Marks(table), (QStringList{"", ""}));
  }
}

void TestComparison::renamesWithinLettersTheCodePageLacks() {
  TempExeDir exe;
  const QString path = SavedTablePath("S");
  WriteSavedTable(path, {ScanRow(1, "11766 L", "Ελληνική TV")}, QDate(2024, 5, 6));
  std::vector<SavedRecord> saved;
  QVERIFY(ReadSavedTable(path, saved));

  // With the full texts the rename shows, and the gone row names the old channel whole.
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "11766 L", "Ελληνικό TV")});
  const ComparisonResult result = CompareWithPrevious(table, saved);
  QCOMPARE(result.newRows, 1);
  QCOMPARE(result.goneRows, 1);
  QCOMPARE(result.changes(), 2);
  QCOMPARE(Marks(table), (QStringList{"+", "-"}));
  QCOMPARE(table.row(1).subItem(kSubName), QStringLiteral("Ελληνική TV"));

  // The record alone cannot tell the two names apart: both are "???????? TV".
  QVERIFY(QFile::remove(path + ".json"));
  QVERIFY(ReadSavedTable(path, saved));
  Fill(table, {ScanRow(1, "11766 L", "Ελληνικό TV")});
  QCOMPARE(CompareWithPrevious(table, saved).changes(), 0);
  Fill(table, {ScanRow(1, "11766 L", "Ελληνικό TV2")});
  QCOMPARE(CompareWithPrevious(table, saved).changes(), 2);
}

// Records without full texts keep the rules for keys given twice.
void TestComparison::recordFormKeepsTheDuplicateRules() {
  const std::vector<SavedRecord> saved = {Saved("T", "Ελληνική"), Saved("T", "Ελληνικό"), Saved("K", "kept")};
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "K", "kept")});
  ComparisonResult result = CompareWithPrevious(table, saved);
  QCOMPARE(result.goneRows, 1);  // both records read "T????????": one gone row
  QCOMPARE(table.row(1).subItem(kSubName), QStringLiteral("Ελληνική"));

  Fill(table, {ScanRow(1, "X", "Ελληνική"), ScanRow(2, "X", "Ελληνικό"), ScanRow(3, "K", "kept")});
  result = CompareWithPrevious(table, saved);
  QCOMPARE(result.newRows, 2);  // both current rows lack a saved key, both count
  QCOMPARE(result.goneRows, 1);
  QCOMPARE(Marks(table), (QStringList{"+", "+", "", "-"}));
}

QTEST_GUILESS_MAIN(TestComparison)
#include "tst_comparison.moc"
