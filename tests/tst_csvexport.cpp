#include "app/errors.h"
#include "support/testsupport.h"
#include "table/csvexport.h"
#include "tables_testutil.h"

#include <QDir>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace tevrin;
using namespace tevrin::test;

class TestCsvExport : public QObject {
  Q_OBJECT
 private slots:
  void transponderPieces();
  void linesByteForByte();
  void rowsThatDoNotFitTheLayoutGetEmptyFields();
  void fileIsRewrittenWhole();
  void failedExportLeavesThePreviousFile();
};

void TestCsvExport::transponderPieces() {
  QCOMPARE(TransponderPieces("a.b.c"), (QStringList{"a", "b", "c"}));
  QCOMPARE(TransponderPieces("a..c"), (QStringList{"a", "", "c"}));
  QCOMPARE(TransponderPieces("a.b."), (QStringList{"a", "b"}));  // no empty piece after a final stop
  QCOMPARE(TransponderPieces(".a"), (QStringList{"", "a"}));
  QCOMPARE(TransponderPieces(""), QStringList());
  QCOMPARE(TransponderPieces("."), QStringList{""});
  QCOMPARE(TransponderPieces("a\r\nb\rc\nd.e"), (QStringList{"a", "b", "c", "d", "e"}));
  QCOMPARE(TransponderPieces("a\r.b"), (QStringList{"a", "", "b"}));
  QCOMPARE(TransponderPieces("a\n\rb"), (QStringList{"a", "", "b"}));
}

void TestCsvExport::linesByteForByte() {
  ChannelRow row = ScanRow(1, "a.b.c.d.e.f.g.h.i.j", "N", "rus", "V", "идет открыто");
  QCOMPARE(ExportLine(row),
           QByteArray("abc;de;i;N;") + QStringLiteral("идет открыто").toUtf8() + QByteArray(";rus;V\r\n"));
  QCOMPARE(QStringLiteral("идет открыто").toUtf8().size(), 23);
  QCOMPARE(ExportLine(row).size(), 11 + 23 + 8);

  row.subItems[1] = "a..c.d.e.f.g.h.i";
  QVERIFY(ExportLine(row).startsWith("ac;de;i;N;"));

  // Marks and notes are not exported; ";" inside a text is written as it is.
  ChannelRow marked = ScanRow(4, "1.2.3.4.5.6.7.8.9", "A;B", "eng", "MPEG-2", "Conax");
  marked.mark = kMarkGone;
  marked.subItems.append("Ушел");
  QCOMPARE(ExportLine(marked), QByteArray("123;45;9;A;B;Conax;eng;MPEG-2\r\n"));
}

void TestCsvExport::rowsThatDoNotFitTheLayoutGetEmptyFields() {
  ChannelRow hand;
  hand.subItems = {"3", "Тр.новый", "Им.новый", "---"};
  QCOMPARE(ExportLine(hand), QStringLiteral("Трновый;;;Им.новый;;---;\r\n").toUtf8());
  QCOMPARE(ExportLine(ChannelRow{}), QByteArray(";;;;;;\r\n"));
  QCOMPARE(ExportLine(ScanRow(1, "1.2.3.4.5.6.7.8", "N")), QByteArray("123;45;;N;Conax;rus;MPEG-4\r\n"));
}

void TestCsvExport::fileIsRewrittenWhole() {
  TempExeDir exe;
  const QString path = exe.file("exsport.csv");
  std::vector<ChannelRow> rows = {ScanRow(1, "a.b", "first"), ScanRow(2, "c", "second")};
  ExportTable(rows, path);
  QCOMPARE(ReadAll(path), ExportLine(rows[0]) + ExportLine(rows[1]));
  QVERIFY(ReadAll(path).startsWith("ab;"));  // no byte-order mark

  rows.pop_back();
  ExportTable(rows, path);
  QCOMPARE(ReadAll(path), ExportLine(rows[0]));

  ExportTable({}, path);
  QVERIFY(QFileInfo::exists(path));
  QCOMPARE(QFileInfo(path).size(), 0);
}

void TestCsvExport::failedExportLeavesThePreviousFile() {
  {  // The directory is in fact a file.
    TempExeDir exe;
    QVERIFY(WriteAll(exe.file("file"), "x"));
    try {
      ExportTable({ScanRow(1, "a", "b")}, exe.file("file/exsport.csv"));
      QFAIL("no error");
    } catch (const TevrinError& e) {
      QCOMPARE(e.message(), QString::fromLocal8Bit(std::strerror(ENOTDIR)));
    }
  }
  {  // A full disk part-way: the previous export stays as it was.
    TempExeDir exe;
    const QString path = exe.file("exsport.csv");
    ExportTable({ScanRow(1, "old", "old")}, path);
    const QByteArray before = ReadAll(path);
    std::vector<ChannelRow> rows;
    rows.reserve(2000);
    for (int i = 0; i < 2000; ++i) rows.push_back(ScanRow(i, "1.2.3.4.5.6.7.8.9", "канал"));
    {
      FileSizeLimit limit(4096);
      try {
        ExportTable(rows, path);
        QFAIL("no error");
      } catch (const TevrinError& e) {
        QCOMPARE(e.message(), QString::fromLocal8Bit(std::strerror(EFBIG)));
      }
    }
    QCOMPARE(ReadAll(path), before);
    QCOMPARE(QDir(exe.path()).entryList(QDir::Files), QStringList{"exsport.csv"});
  }
}

QTEST_GUILESS_MAIN(TestCsvExport)
#include "tst_csvexport.moc"
