#include "app/settings.h"

#include "app/errors.h"
#include "app/profile.h"
#include "support/testsupport.h"

#include <QFile>
#include <QtTest>

using namespace tevrin;
using tevrin::test::ReadBytes;
using tevrin::test::WriteBytes;

namespace {
WindowSettings Designed() {
  WindowSettings w;
  w.top = 120;
  w.left = 230;
  w.width = 795;
  w.height = 560;
  return w;
}
}  // namespace

class TstSettings : public QObject {
  Q_OBJECT
  test::TempExeDir exe_;
  QString ini() const { return exe_.file(QStringLiteral("MyIni.ini")); }

 private slots:
  void init() { QFile::remove(ini()); }

  void fileLivesBesideTheExecutable() { QCOMPARE(SettingsPath(), ini()); }

  void firstRunUsesDefaultsAndCreatesAllNineKeysInOrder() {
    // Defaults from the window, whatever the current language state says.
    WindowSettings current = Designed();
    current.rus = false;
    current.oth = true;
    current.othText = "xyz";
    const WindowSettings s = LoadSettings(ini(), current);
    QCOMPARE(s.top, 120);
    QCOMPARE(s.left, 230);
    QCOMPARE(s.width, 795);
    QCOMPARE(s.height, 560);
    QVERIFY(s.rus);
    QVERIFY(!s.ukr);
    QVERIFY(!s.bel);
    QVERIFY(!s.oth);
    QCOMPARE(s.othText, QString(""));
    QVERIFY(!QFile::exists(ini()));  // loading never creates the file

    SaveSettings(ini(), s);
    QCOMPARE(ReadBytes(ini()), QByteArray("[Size]\r\nTop=120\r\nLeft=230\r\nWh=795\r\nHh=560\r\n"
                                          "[LngCheck]\r\nRus=1\r\nUkr=0\r\nBel=0\r\nOth=0\r\nOthText=\r\n"));
  }

  void loadTakesStoredValuesAsTheyAre() {
    WriteBytes(ini(),
               "[size]\r\nTOP=-40\r\nleft=$20\r\nWh=100\r\nHh=100\r\n"
               "[LNGCHECK]\r\nRus=yes\r\nUkr=2\r\nBel=0x0\r\nOth=-1\r\nOthText=engl\r\n");
    const WindowSettings s = LoadSettings(ini(), Designed());
    QCOMPARE(s.top, -40);
    QCOMPARE(s.left, 32);
    // Below the window's minimum: the window clamps, the file value stands.
    QCOMPARE(s.width, 100);
    QCOMPARE(s.height, 100);
    QVERIFY(s.rus);  // a word is unreadable: the default, true
    QVERIFY(s.ukr);
    QVERIFY(!s.bel);
    QVERIFY(s.oth);
    QCOMPARE(s.othText, QString("engl"));  // longer than the edit box allows, shown whole

    WriteBytes(ini(), "[Size]\r\nWh=wide\r\n[LngCheck]\r\nRus=0\r\nUkr=no\r\n");
    const WindowSettings t = LoadSettings(ini(), Designed());
    QCOMPARE(t.width, 795);
    QVERIFY(!t.rus);
    QVERIFY(!t.ukr);  // unreadable: the default, false
  }

  void saveThenLoadRoundTrips() {
    WindowSettings s;
    s.top = -8;
    s.left = 1930;
    s.width = 1936;
    s.height = 1056;
    s.rus = false;
    s.ukr = true;
    s.bel = true;
    s.oth = false;
    s.othText = QString::fromUtf8(" бел ");
    SaveSettings(ini(), s);
    const WindowSettings r = LoadSettings(ini(), Designed());
    QCOMPARE(r.top, s.top);
    QCOMPARE(r.left, s.left);
    QCOMPARE(r.width, s.width);
    QCOMPARE(r.height, s.height);
    QCOMPARE(r.rus, s.rus);
    QCOMPARE(r.ukr, s.ukr);
    QCOMPARE(r.bel, s.bel);
    QCOMPARE(r.oth, s.oth);
    QCOMPARE(r.othText, s.othText);
  }

  void saveKeepsForeignLinesAndKeySpelling() {
    WriteBytes(ini(),
               "; edited by hand\r\n"
               "[Skin]\r\nName=Blue\r\n\r\n"
               "[SIZE]\r\nTOP=1\r\nlEfT=2\r\nWh=3\r\nHh=4\r\n"
               "[LngCheck]\r\nRUS=0\r\n");
    WindowSettings s = Designed();
    s.othText = "eng";
    SaveSettings(ini(), s);
    QCOMPARE(ReadBytes(ini()),
             QByteArray("; edited by hand\r\n"
                        "[Skin]\r\nName=Blue\r\n\r\n"
                        "[SIZE]\r\nTOP=120\r\nlEfT=230\r\nWh=795\r\nHh=560\r\n"
                        "[LngCheck]\r\nRUS=1\r\nUkr=0\r\nBel=0\r\nOth=0\r\nOthText=eng\r\n"));
  }

  void unwritableFileThrowsWithItsPath() {
    const QString plain = exe_.file("plain");
    WriteBytes(plain, "x");
    const QString path = plain + "/MyIni.ini";
    try {
      SaveSettings(path, Designed());
      QFAIL("no error for an unwritable file");
    } catch (const TevrinError& e) {
      QCOMPARE(e.message(), "Unable to write to " + path);
    }
  }

  void refusalPartWayKeepsEarlierKeys() {
    WriteBytes(ini(), "[Size]\r\nTop=1\r\nLeft=2\r\nWh=3\r\nHh=4\r\n[LngCheck]\r\nRus=0\r\nUkr=1\r\n");
    QStringList attempts;
    auto refuseRus = [&](const QString& section, const QString& key, const QString& value,
                         const QString& path) {
      attempts << key;
      if (key == "Rus") return false;
      return WritePrivateProfileString(section, key, value, path);
    };
    WindowSettings s = Designed();
    s.ukr = false;
    QVERIFY_THROWS_EXCEPTION(TevrinError, SaveSettings(ini(), s, refuseRus));
    QCOMPARE(attempts, QStringList({"Top", "Left", "Wh", "Hh", "Rus"}));
    QCOMPARE(
        ReadBytes(ini()),
        QByteArray("[Size]\r\nTop=120\r\nLeft=230\r\nWh=795\r\nHh=560\r\n[LngCheck]\r\nRus=0\r\nUkr=1\r\n"));
  }
};

QTEST_GUILESS_MAIN(TstSettings)
#include "tst_settings.moc"
