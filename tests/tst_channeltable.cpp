#include "table/channeltable.h"

#include "app/errors.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QtTest>

using namespace tevrin;

namespace {
ChannelRow Named(const QString& name) {
  ChannelRow r;
  r.subItems = {"0", "tp", name, "rus", "v", "FTA"};
  return r;
}
QStringList Column(const ChannelTableModel& m, int sub) {
  QStringList out;
  for (const ChannelRow& r : m.rows()) out << r.subItem(sub);
  return out;
}
}  // namespace

class TstChannelTable : public QObject {
  Q_OBJECT
 private slots:
  void sortIsOrdinalByCodeUnit() {
    ChannelTableModel m;
    for (const char* n : {"b", "B", "a", "Б"}) m.appendRow(Named(QString::fromUtf8(n)));
    QVERIFY(m.sortByColumn(3));
    QCOMPARE(Column(m, kSubName), QStringList({"B", "a", "b", "Б"}));
    QCOMPARE(Column(m, kSubNumber), QStringList({"1", "2", "3", "4"}));

    ChannelTableModel c;
    for (const char* n : {"А", "Ё", "я", "ё", "9", "10", "eng", "Rus"})
      c.appendRow(Named(QString::fromUtf8(n)));
    c.sortByColumn(3);
    QCOMPARE(Column(c, kSubName), QStringList({"10", "9", "Rus", "eng", "Ё", "А", "я", "ё"}));
  }

  void secondClickKeepsOrderAndIsStable() {
    ChannelTableModel m;
    for (int i = 0; i < 6; ++i) {
      ChannelRow r = Named(QString::number(i));
      r.subItems[kSubTransponder] = i % 2 ? "x" : "a";
      m.appendRow(r);
    }
    m.sortByColumn(2);
    const QStringList first = Column(m, kSubName);
    QCOMPARE(first, QStringList({"0", "2", "4", "1", "3", "5"}));  // equal keys keep their order
    m.sortByColumn(2);
    QCOMPARE(Column(m, kSubName), first);
  }

  void ignoredColumnsChangeNothing() {
    ChannelTableModel m;
    for (const char* n : {"c", "a", "b"}) m.appendRow(Named(n));
    m.setSubItem(0, 0, "7");
    m.setSubItem(1, 0, "2");
    m.setSubItem(2, 0, "5");
    for (int column : {0, 1, 5, 8, -1}) QVERIFY(!m.sortByColumn(column));
    QCOMPARE(Column(m, kSubName), QStringList({"c", "a", "b"}));
    QCOMPARE(Column(m, kSubNumber), QStringList({"7", "2", "5"}));
  }

  void missingSubItemSortsAsEmpty() {
    ChannelTableModel m;
    m.appendRow(Named("z"));
    m.appendHandRow();  // has no "Кодировка" nor "Примечание"
    m.appendRow(Named("y"));
    QVERIFY(m.sortByColumn(7));
    QVERIFY(m.sortByColumn(6));
    QCOMPARE(Column(m, kSubName).first(), QString("Им.новый"));
    QCOMPARE(Column(m, kSubNumber), QStringList({"1", "2", "3"}));
  }

  void handEditsNumberByCount() {
    ChannelTableModel m;
    for (const char* n : {"a", "b", "c"}) m.appendRow(Named(n));
    m.renumber();
    m.removeRowAt(1);
    QCOMPARE(Column(m, kSubNumber), QStringList({"1", "3"}));
    const int added = m.appendHandRow();
    QCOMPARE(added, 2);
    QCOMPARE(m.row(2).subItems, QStringList({"3", "Тр.новый", "Им.новый", "---"}));
    QCOMPARE(m.row(2).image(kSubName), int(kNoImage));
    QVERIFY_THROWS_EXCEPTION(TevrinError, m.removeRowAt(5));
  }

  void extraSubItemsKeptButNotShown() {
    ChannelTableModel m;
    ChannelRow r = Named("a");
    r.subItems << "Появился"
               << "Появился";
    m.appendRow(r);
    QCOMPARE(m.row(0).subItems.size(), 8);
    QCOMPARE(m.columnCount(), 8);
    QCOMPARE(m.data(m.index(0, 7), Qt::DisplayRole).toString(), QString("Появился"));
    QVERIFY(!m.index(0, 8).isValid());
    QCOMPARE(m.data(m.index(0, 0), Qt::DisplayRole).toString(), QString());
    QVERIFY(!(m.flags(m.index(0, 2)) & Qt::ItemIsEditable));
  }

  void bracketStagesAppendsAndPublishesThemOnce() {
    ChannelTableModel m;
    // Fails the test on any change a view would see before it is told of it.
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (const char* n : {"old1", "old2"}) m.appendRow(Named(n));
    QSignalSpy resets(&m, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&m, &QAbstractItemModel::rowsInserted);
    QSignalSpy changes(&m, &QAbstractItemModel::dataChanged);
    m.beginBulkUpdate();
    m.beginBulkUpdate();  // nested: only the outermost close publishes
    m.clear();            // told at once: no view counts rows that are gone
    QCOMPARE(resets.count(), 1);
    for (int i = 0; i < 2000; ++i) m.appendRow(Named(QString::number(i)));
    QCOMPARE(m.count(), 2000);             // the core reads them at once
    QCOMPARE(m.rowCount(), 0);             // the view only when the bracket closes
    m.setSubItem(5, kSubName, "renamed");  // staged rows: nothing to tell
    m.removeRowAt(0);
    m.endBulkUpdate();
    QCOMPARE(m.rowCount(), 0);
    m.endBulkUpdate();
    QCOMPARE(inserts.count(), 1);
    QCOMPARE(inserts[0][2].toInt(), 1998);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(changes.count(), 0);
    QCOMPARE(m.data(m.index(4, 3), Qt::DisplayRole).toString(), QString("renamed"));

    // Rows the view shows: a removal is told at once, cell texts once at the close.
    m.beginBulkUpdate();
    m.appendRow(Named("staged"));
    m.removeRowAt(0);
    QCOMPARE(m.rowCount(), 1998);
    m.setSubItem(0, kSubName, "x");
    m.setSubItem(1, kSubName, "y");
    QCOMPARE(changes.count(), 0);
    m.endBulkUpdate();
    QCOMPARE(changes.count(), 1);
    QCOMPARE(inserts.count(), 2);
    QCOMPARE(m.rowCount(), 1999);
  }

  void sortMovesPersistentIndexesWithTheirRows() {
    ChannelTableModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (const char* n : {"c", "a", "d", "b"}) m.appendRow(Named(n));
    const QPersistentModelIndex c(m.index(0, 3)), b(m.index(3, 2));
    QItemSelectionModel selection(&m);
    selection.select(m.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);  // "d"
    QVERIFY(m.sortByColumn(3));
    QCOMPARE(c.row(), 2);
    QCOMPARE(c.column(), 3);
    QCOMPARE(c.data().toString(), QString("c"));
    QCOMPARE(b.row(), 1);
    QCOMPARE(selection.selectedRows().size(), 1);
    QCOMPARE(selection.selectedRows().first().row(), 3);

    // Rows staged in an open bracket are published before the order changes.
    m.beginBulkUpdate();
    m.appendRow(Named("0"));
    QVERIFY(m.sortByColumn(3));
    QCOMPARE(m.rowCount(), 5);
    QCOMPARE(c.data().toString(), QString("c"));
    QCOMPARE(m.data(m.index(0, 3), Qt::DisplayRole).toString(), QString("0"));
    m.endBulkUpdate();
    QCOMPARE(m.rowCount(), 5);
  }
};

QTEST_GUILESS_MAIN(TstChannelTable)
#include "tst_channeltable.moc"
