#include "app/errors.h"
#include "app/guard.h"
#include "support/testsupport.h"
#include "table/comparison.h"
#include "table/records.h"
#include "table/tableactions.h"
#include "tables_testutil.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace tevrin;
using namespace tevrin::test;

namespace {

const QString kSat = QStringLiteral("Hot Bird 13.0°E");

void Fill(ChannelTableModel& table, const std::vector<ChannelRow>& rows) {
  table.clear();
  for (const ChannelRow& r : rows) table.appendRow(r);
}

std::vector<SavedRecord> ReadRecords(const QString& path) {
  std::vector<SavedRecord> out;
  ReadSavedTable(path, out);
  return out;
}

}  // namespace

class TestTableActions : public QObject {
  Q_OBJECT
 private slots:
  void saveSkipsEmptyTableAndUnscannedCaption();
  void saveCreatesBaseWithoutAsking();
  void overwriteAnsweredNoLeavesTheFileUntouched();
  void overwriteAnsweredYesReplacesTheFile();
  void failedSaveShowsTheSystemTextAndKeepsTheTable();
  void compareMessages();
  void compareReadFailureTouchesNoRow();
  void storedViewIsSilent();
  void exportNamesTheFile();
};

void TestTableActions::saveSkipsEmptyTableAndUnscannedCaption() {
  TempExeDir exe;
  RecordingMessages messages;
  ChannelTableModel table;
  QVERIFY(!SaveTableAction(kSat, table, QDate(2024, 1, 1)));
  QVERIFY(messages.boxes.isEmpty());
  QVERIFY(!QFileInfo::exists(exe.file("Base")));

  Fill(table, {ScanRow(1, "A", "a")});
  QVERIFY(!SaveTableAction(QString(), table, QDate(2024, 1, 1)));
  QCOMPARE(messages.texts("information"), QStringList{"Вы не произвели сканирование каналов."});
  QCOMPARE(messages.boxes.size(), 1);
  QVERIFY(!QFileInfo::exists(exe.file("Base")));
}

void TestTableActions::saveCreatesBaseWithoutAsking() {
  TempExeDir exe;
  SetExeDirOverride(exe.file("deeper/still"));  // missing parents are created too
  RecordingMessages messages;
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "A", "a"), ScanRow(2, "B", "b")});
  QVERIFY(SaveTableAction(kSat, table, QDate(2024, 1, 2)));
  QVERIFY(messages.boxes.isEmpty());
  const QString path = exe.file("deeper/still/Base/" + kSat + ".rec");
  QCOMPARE(QFileInfo(path).size(), 2 * 476);
  QCOMPARE(ReadRecords(path).back().saveDate, QStringLiteral("02.01.2024"));
}

void TestTableActions::overwriteAnsweredNoLeavesTheFileUntouched() {
  TempExeDir exe;
  RecordingMessages messages;
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "A", "old")});
  QVERIFY(SaveTableAction(kSat, table, QDate(2024, 1, 1)));
  const QString path = SavedTablePath(kSat);
  const QDateTime stamp(QDate(2020, 3, 4), QTime(12, 0));
  {
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(stamp, QFileDevice::FileModificationTime));
  }
  const QByteArray before = ReadAll(path);

  Fill(table, {ScanRow(1, "B", "new"), ScanRow(2, "C", "new")});
  messages.answers = {false};
  QVERIFY(!SaveTableAction(kSat, table, QDate(2024, 6, 1)));
  QCOMPARE(messages.texts("confirm"), QStringList{"Файл для спутника " + kSat + ",\rсозданный " +
                                                  ShortDateText(QDate(2020, 3, 4), QLocale::system()) +
                                                  "г., уже существует.\rПерезаписать его?"});
  QCOMPARE(ReadAll(path), before);
  QCOMPARE(QFileInfo(path).lastModified(), stamp);
}

void TestTableActions::overwriteAnsweredYesReplacesTheFile() {
  TempExeDir exe;
  RecordingMessages messages;
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "A", "old"), ScanRow(2, "A", "older")});
  QVERIFY(SaveTableAction(kSat, table, QDate(2024, 1, 1)));
  Fill(table, {ScanRow(1, "B", "new")});
  messages.answers = {true};
  QVERIFY(SaveTableAction(kSat, table, QDate(2024, 6, 1)));
  QCOMPARE(messages.texts("confirm").size(), 1);
  const std::vector<SavedRecord> saved = ReadRecords(SavedTablePath(kSat));
  QCOMPARE(saved.size(), size_t(1));
  QCOMPARE(saved[0].channelName, QStringLiteral("new"));
}

void TestTableActions::failedSaveShowsTheSystemTextAndKeepsTheTable() {
  TempExeDir exe;
  RecordingMessages messages;
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "A", "old")});
  QVERIFY(SaveTableAction(kSat, table, QDate(2024, 1, 1)));
  const QByteArray before = ReadAll(SavedTablePath(kSat));

  for (int i = 0; i < 100; ++i) table.appendRow(ScanRow(i + 2, "T", QString::number(i)));
  messages.answers = {true};
  bool returned = false;
  {
    FileSizeLimit limit(3 * 476);
    RunGuarded([&] {
      SaveTableAction(kSat, table, QDate(2024, 2, 2));
      returned = true;
    });
  }
  QVERIFY(!returned);  // the handler ended with the error, so the button stays enabled
  QCOMPARE(messages.texts("applicationError"),
           QStringList{QString::fromLocal8Bit(std::strerror(EFBIG)) + "."});
  QCOMPARE(ReadAll(SavedTablePath(kSat)), before);
}

void TestTableActions::compareMessages() {
  TempExeDir exe;
  RecordingMessages messages;
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "A", "a")});
  std::vector<SavedRecord> previous = {SavedRecord{"stale", "", "", "", "", ""}};

  CompareAction(QString(), table, previous);
  CompareAction(kSat, table, previous);
  QCOMPARE(
      messages.texts("information"),
      (QStringList{"Вы не произвели сканирование каналов.",
                   "Для спутника " + kSat + " нет более ранних записей.\r(отсутствует файл для сравнения)"}));
  QCOMPARE(table.row(0).mark, QString());
  QCOMPARE(previous.size(), size_t(1));

  WriteSavedTable(SavedTablePath(kSat), {ScanRow(1, "A", "a"), ScanRow(2, "G", "gone")}, QDate(2023, 12, 31));
  messages.boxes.clear();
  CompareAction(kSat, table, previous);
  QCOMPARE(previous.size(), size_t(2));
  QCOMPARE(previous[1].channelName, QStringLiteral("gone"));
  QCOMPARE(table.count(), 2);
  QCOMPARE(table.row(1).mark, kMarkGone);
  QCOMPARE(
      messages.texts("information"),
      QStringList{"Сравнение завершено\r(сравнивался с датой: 31.12.2023г.)\r\rНайдено 1 новых записей."});
}

void TestTableActions::compareReadFailureTouchesNoRow() {
  TempExeDir exe;
  RecordingMessages messages;
  QDir().mkpath(exe.file("Base"));
  QVERIFY(QFile::link("/proc/self/mem", SavedTablePath(kSat)));
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "A", "a")});
  std::vector<SavedRecord> previous;
  RunGuarded([&] { CompareAction(kSat, table, previous); });
  QCOMPARE(messages.texts("applicationError"), QStringList{QString::fromLocal8Bit(std::strerror(EIO)) + "."});
  QVERIFY(messages.texts("information").isEmpty());
  QCOMPARE(table.rows(), (std::vector<ChannelRow>{ScanRow(1, "A", "a")}));
}

void TestTableActions::storedViewIsSilent() {
  TempExeDir exe;
  RecordingMessages messages;
  ChannelTableModel table;
  Fill(table, {ScanRow(1, "A", "a")});
  StoredViewAction(kSat, {}, table);
  QCOMPARE(table.count(), 0);
  WriteSavedTable(SavedTablePath(kSat), {ScanRow(1, "NTV", "n"), ScanRow(2, "X", "x")}, QDate(2024, 1, 1));
  StoredViewAction(kSat, {true, true, false}, table);
  QCOMPARE(table.count(), 1);
  QCOMPARE(table.row(0).subItem(2), QStringLiteral("n"));
  QVERIFY(messages.boxes.isEmpty());
}

void TestTableActions::exportNamesTheFile() {
  TempExeDir exe;
  RecordingMessages messages;
  ChannelTableModel table;
  ExportAction(table);
  const QString path = exe.path() + "/exsport.csv";
  QCOMPARE(QFileInfo(path).size(), 0);
  QCOMPARE(messages.texts("information"), QStringList{"Создан файл:\r" + path});

  Fill(table, {ScanRow(1, "a.b.c.d.e.f.g.h.i", "N", "rus", "V", "идет открыто")});
  table.sortByColumn(3);
  ExportAction(table);
  QCOMPARE(ReadAll(path), QStringLiteral("abc;de;i;N;идет открыто;rus;V\r\n").toUtf8());

  // Export into a place that cannot be written: the error display, no message.
  messages.boxes.clear();
  QVERIFY(WriteAll(exe.file("plain"), "x"));
  SetExeDirOverride(exe.file("plain"));
  RunGuarded([&] { ExportAction(table); });
  SetExeDirOverride(exe.path());
  QCOMPARE(messages.texts("applicationError"),
           QStringList{QString::fromLocal8Bit(std::strerror(ENOTDIR)) + "."});
  QVERIFY(messages.texts("information").isEmpty());
  QCOMPARE(ReadAll(path), QStringLiteral("abc;de;i;N;идет открыто;rus;V\r\n").toUtf8());
}

QTEST_GUILESS_MAIN(TestTableActions)
#include "tst_tableactions.moc"
