#include "app/gui/mainform.h"
#include "app/profile.h"
#include "support/testsupport.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace tevrin;

class TstGuiSettings : public QObject {
  Q_OBJECT
 private slots:
  void firstRunCreatesEveryKeyInOrder() {
    test::TempExeDir home;
    int outerWidth = 0;
    {
      TMainF w;
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      QCOMPARE(w.size(), QSize(850, 416));
      QVERIFY(w.CheckBoxRus->isChecked());
      QVERIFY(!w.EditOther->isEnabled());
      QCOMPARE(w.editOtherColor(), QColor(Qt::white));
      outerWidth = w.frameGeometry().width();
    }
    const QString ini = QString::fromLatin1(test::ReadBytes(home.file("MyIni.ini")));
    QStringList keys;
    for (const QString& line : ini.split("\r\n", Qt::SkipEmptyParts)) keys << line.section('=', 0, 0);
    QCOMPARE(keys, QStringList({"[Size]", "Top", "Left", "Wh", "Hh", "[LngCheck]", "Rus", "Ukr", "Bel", "Oth",
                                "OthText"}));
    QVERIFY(ini.contains("\r\nOthText=\r\n"));
    QVERIFY(ini.contains("\r\nRus=1\r\n"));
    QVERIFY(ini.contains("\r\nUkr=0\r\n"));
    QCOMPARE(GetPrivateProfileString("Size", "Wh", "", home.file("MyIni.ini")).toInt(), outerWidth);
    // The saved outer size, frame included, gives the same window next time,
    // cut to the desktop where the desktop is smaller (this one is 800 x 600).
    TMainF again;
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    const QSize margins = again.frameGeometry().size() - again.size();
    QCOMPARE(again.size(), QSize(850, 416).boundedTo(again.screen()->availableGeometry().size() - margins));
    QCOMPARE(again.frameGeometry().top(),
             (again.screen()->availableGeometry().height() - 416 - margins.height()) / 2);
  }

  void restoredSizeIsHeldByTheMinimum() {
    test::TempExeDir home;
    test::WriteBytes(home.file("MyIni.ini"), "[Size]\r\nWh=100\r\nHh=100\r\n");
    TMainF w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.frameGeometry().size(), QSize(587, 347));
  }

  void languagesAndTheOtherCode() {
    test::TempExeDir home;
    test::WriteBytes(home.file("MyIni.ini"),
                     "[LngCheck]\r\nRus=word\r\nUkr=2\r\nBel=0x0\r\nOth=1\r\nOthText=deutsch\r\n");
    test::RecordingMessages boxes;
    {
      TMainF w;
      // The colour as drawn, inside the border and clear of the text.
      const auto drawn = [&w] {
        return w.EditOther->grab().toImage().pixelColor(w.EditOther->width() - 3, 3);
      };
      QVERIFY(w.CheckBoxRus->isChecked());  // not an integer: the default
      QVERIFY(w.CheckBoxUkr->isChecked());  // any non-zero integer
      QVERIFY(!w.CheckBoxBel->isChecked());
      QVERIFY(w.CheckBoxOth->isChecked());
      QVERIFY(w.EditOther->isEnabled());  // through the box's click behaviour
      QCOMPARE(w.editOtherColor(), QApplication::palette().color(QPalette::Base));
      QCOMPARE(drawn(), w.editOtherColor());
      QCOMPARE(w.EditOther->text(), QString("deutsch"));  // shown whole
      w.CheckBoxOth->setChecked(false);
      QVERIFY(!w.EditOther->isEnabled());
      QCOMPARE(w.editOtherColor(), QApplication::palette().color(QPalette::Button));
      QCOMPARE(drawn(), w.editOtherColor());
    }
    const QString ini = home.file("MyIni.ini");
    QCOMPARE(GetPrivateProfileString("LngCheck", "OthText", "?", ini), QString("deutsch"));
    QCOMPARE(GetPrivateProfileString("LngCheck", "Oth", "?", ini), QString("0"));
    QCOMPARE(GetPrivateProfileString("LngCheck", "Rus", "?", ini), QString("1"));
    QVERIFY(boxes.boxes.isEmpty());
  }

  void noLanguageAtStartRefusesAScan() {
    test::TempExeDir home;
    test::WriteBytes(home.file("MyIni.ini"), "[LngCheck]\r\nRus=0\r\nUkr=0\r\nBel=0\r\nOth=0\r\n");
    test::RecordingMessages boxes;
    TMainF w;
    w.BitBtnGo->click();
    QCOMPARE(boxes.texts("warning"), QStringList({"Не выбран ни один из языков."}));
  }

  void foreignLinesSurviveAndARefusedWriteIsShown() {
    test::TempExeDir home;
    const QByteArray foreign = "; kept comment\r\n[Other]\r\nx=1\r\n\r\n[size]\r\nWH=700\r\n";
    test::WriteBytes(home.file("MyIni.ini"), foreign);
    { TMainF w; }
    const QByteArray after = test::ReadBytes(home.file("MyIni.ini"));
    QVERIFY(after.startsWith("; kept comment\r\n[Other]\r\nx=1\r\n"));
    QVERIFY(after.contains("WH=700\r\n"));  // updated in place, its case kept
    QVERIFY(!after.contains("\r\nWh="));

    // The settings file's place is a directory: the save cannot write.
    test::TempExeDir blocked;
    QVERIFY(QDir(blocked.path()).mkdir("MyIni.ini"));
    test::RecordingMessages boxes;
    { TMainF w; }
    QCOMPARE(boxes.texts("applicationError"),
             QStringList({"Unable to write to " + blocked.file("MyIni.ini") + "."}));
  }
};

QTEST_MAIN(TstGuiSettings)
#include "tst_gui_settings.moc"
