#include "app/errors.h"
#include "app/guard.h"
#include "support/testsupport.h"

#include <QtTest>

using namespace tevrin;

class TstErrors : public QObject {
  Q_OBJECT
 private slots:
  void fullStopRule_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    // clang-format off
    QTest::newRow("letter") << "Disk full" << "Disk full.";
    QTest::newRow("digit") << "Error 5" << "Error 5.";
    QTest::newRow("parenthesis") << ListIndexErrorText(3) << "List index out of bounds (3)";
    QTest::newRow("full stop") << "Done." << "Done.";
    QTest::newRow("comma") << "a," << "a,";
    QTest::newRow("blank") << "a " << "a ";
    QTest::newRow("slash is above the stop") << "a/" << "a/.";
    QTest::newRow("cyrillic") << "Нет доступа" << "Нет доступа.";
    QTest::newRow("empty") << "" << ".";
    // clang-format on
  }
  void fullStopRule() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(ErrorDisplayText(message), shown);
  }

  void guardShowsTheErrorAndCarriesOn() {
    test::RecordingMessages boxes;
    bool after = false;
    RunGuarded([] { throw TevrinError("Unable to write to /x/MyIni.ini"); });
    RunGuarded([] { throw std::runtime_error("boom"); });
    RunGuarded([&] { after = true; });
    QVERIFY(after);
    QCOMPARE(boxes.texts("applicationError"), QStringList({"Unable to write to /x/MyIni.ini.", "boom."}));
  }
};

QTEST_GUILESS_MAIN(TstErrors)
#include "tst_errors.moc"
