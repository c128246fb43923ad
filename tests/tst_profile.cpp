#include "app/profile.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QtTest>

using namespace tevrin;
using tevrin::test::ReadBytes;
using tevrin::test::WriteBytes;

namespace {
QByteArray Cp1251(const char* utf8) {
  QStringEncoder enc("windows-1251");
  return enc.isValid() ? QByteArray(enc(QString::fromUtf8(utf8))) : QByteArray();
}
}  // namespace

class TstProfile : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString ini() const { return dir_.filePath(QStringLiteral("MyIni.ini")); }

 private slots:
  void init() { QFile::remove(ini()); }

  void readMatchesNamesWithoutCaseAndFirstMatchWins() {
    WriteBytes(ini(),
               "stray=before any section\r\n"
               "; Top=comment\r\n"
               "[ siZE ]\r\n"
               "  TOP = 12  \r\n"
               "Formula=a=b=c\r\n"
               "top=99\r\n"
               "Empty=\r\n"
               "[Other]\r\n"
               "Left=7\r\n"
               "[size]\r\n"
               "Left=8\r\n");
    QCOMPARE(GetPrivateProfileString("Size", "Top", "d", ini()), QString("12"));
    QCOMPARE(GetPrivateProfileString("SIZE", "formula", "d", ini()), QString("a=b=c"));
    QCOMPARE(GetPrivateProfileString("Size", "Empty", "d", ini()), QString(""));
    // The key lives in a second section of the same name: never reached.
    QCOMPARE(GetPrivateProfileString("Size", "Left", "d", ini()), QString("d"));
    QCOMPARE(GetPrivateProfileString("other", "LEFT", "d", ini()), QString("7"));
    QCOMPARE(GetPrivateProfileString("Size", "stray", "d", ini()), QString("d"));
    QCOMPARE(GetPrivateProfileString("Size", "; Top", "d", ini()), QString("d"));
    QCOMPARE(GetPrivateProfileString("Nowhere", "Top", "d", ini()), QString("d"));
    QCOMPARE(GetPrivateProfileString("Size", "Top", "d", dir_.filePath("missing.ini")), QString("d"));
  }

  void readAcceptsLfLinesUtf8MarkAndCp1251() {
    WriteBytes(ini(), "[A]\nk=v\nq=\"  quoted  \"\n");
    QCOMPARE(GetPrivateProfileString("A", "k", "", ini()), QString("v"));
    QCOMPARE(GetPrivateProfileString("A", "q", "", ini()), QString("  quoted  "));

    WriteBytes(ini(), "\xEF\xBB\xBF[A]\r\nk=" + QString::fromUtf8("Привет ёж").toUtf8() + "\r\n");
    QCOMPARE(GetPrivateProfileString("A", "k", "", ini()), QString::fromUtf8("Привет ёж"));

    const QByteArray cp = Cp1251("Привет ёж №");
    if (cp.isEmpty()) QSKIP("no Windows-1251 converter to build the sample");
    WriteBytes(ini(), "[A]\r\nk=" + cp + "\r\n");
    QCOMPARE(GetPrivateProfileString("A", "k", "", ini()), QString::fromUtf8("Привет ёж №"));
  }

  void windows1251AgreesWithIcuBothWays() {
    QStringDecoder icu("windows-1251");
    if (!icu.isValid()) QSKIP("no ICU Windows-1251 converter here");
    QByteArray high;
    for (int b = 0x80; b <= 0xFF; ++b)
      if (b != 0x98) high.append(static_cast<char>(b));  // 0x98 has no character
    const QString expected = icu(high);
    WriteBytes(ini(), "[A]\r\nk=" + high + "\r\n");
    QCOMPARE(GetPrivateProfileString("A", "k", "", ini()), expected);

    QFile::remove(ini());
    QVERIFY(WritePrivateProfileString("A", "k", expected, ini()));
    QCOMPARE(ReadBytes(ini()), "[A]\r\nk=" + high + "\r\n");
  }

  void updateInPlaceKeepsEveryOtherByte() {
    const QByteArray before =
        "; settings of the tool\r\n"
        "\r\n"
        "[Foreign]\n"
        "Top=1\n"
        "[SIZE]\r\n"
        "TOP = 5 ; old\r\n"
        "left=3\r\n"
        "\r\n"
        "; trailing comment\r\n"
        "[Tail]\r\n"
        "x=\xC0\xE1\r\n"
        "last=no newline";
    WriteBytes(ini(), before);
    QVERIFY(WritePrivateProfileString("size", "Top", "42", ini()));
    QByteArray expected = before;
    expected.replace("TOP = 5 ; old\r\n", "TOP =42\r\n");
    QCOMPARE(ReadBytes(ini()), expected);
    QCOMPARE(GetPrivateProfileString("Size", "Top", "", ini()), QString("42"));
    QCOMPARE(GetPrivateProfileString("Foreign", "Top", "", ini()), QString("1"));

    // A line with LF keeps its LF.
    QVERIFY(WritePrivateProfileString("Foreign", "top", "2", ini()));
    expected.replace("Top=1\n", "Top=2\n");
    QCOMPARE(ReadBytes(ini()), expected);
  }

  void newKeyGoesAfterLastKeyOfItsSection() {
    WriteBytes(ini(),
               "[A]\r\n"
               "a=1\r\n"
               "\r\n"
               "; about B\r\n"
               "[B]\r\n"
               "[C]\r\n"
               "c=1");
    QVERIFY(WritePrivateProfileString("a", "New", "x", ini()));
    QVERIFY(WritePrivateProfileString("B", "b", "y", ini()));
    QVERIFY(WritePrivateProfileString("C", "d", "z", ini()));
    QCOMPARE(ReadBytes(ini()), QByteArray("[A]\r\n"
                                          "a=1\r\n"
                                          "New=x\r\n"
                                          "\r\n"
                                          "; about B\r\n"
                                          "[B]\r\n"
                                          "b=y\r\n"
                                          "[C]\r\n"
                                          "c=1\r\n"
                                          "d=z\r\n"));
  }

  void newFileAndNewSectionAreCp1251CrLfWithoutMark() {
    QVERIFY(WritePrivateProfileString("Size", "Top", "1", ini()));
    QVERIFY(WritePrivateProfileString("LngCheck", "OthText", QString::fromUtf8("рус"), ini()));
    QVERIFY(WritePrivateProfileString("LngCheck", "Empty", "", ini()));
    QCOMPARE(ReadBytes(ini()),
             QByteArray("[Size]\r\nTop=1\r\n[LngCheck]\r\nOthText=\xF0\xF3\xF1\r\nEmpty=\r\n"));
    QCOMPARE(GetPrivateProfileString("LngCheck", "OthText", "", ini()), QString::fromUtf8("рус"));

    WriteBytes(ini(), "[A]\r\na=1");
    QVERIFY(WritePrivateProfileString("B", "b", "2", ini()));
    QCOMPARE(ReadBytes(ini()), QByteArray("[A]\r\na=1\r\n[B]\r\nb=2\r\n"));
  }

  void everyValueReadsBackAsWritten() {
    const QStringList values = {"",   " lead", "trail ", "  both  ", "\tTab", "\"quoted\"", "'single'",
                                "\"", "'x\"",  "a=b;c",  "[x]",      "100%",  "\u00A0nbsp"};
    for (const QString& v : values) {
      QVERIFY2(WritePrivateProfileString("S", "k", v, ini()), qPrintable(v));
      QCOMPARE(GetPrivateProfileString("S", "k", "default", ini()), v);
    }
    QCOMPARE(ReadBytes(ini()).count("k="), 1);  // one key, updated in place each time
  }

  void textWindows1251CannotHoldTurnsFileIntoUtf8() {
    WriteBytes(ini(), "[A]\r\nname=\xCF\xF0\xE8\xE2\xE5\xF2\r\n");
    const QString wide = QString::fromUtf8("日本 €");
    QVERIFY(WritePrivateProfileString("A", "code", wide, ini()));
    const QByteArray bytes = ReadBytes(ini());
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(GetPrivateProfileString("A", "code", "", ini()), wide);
    QCOMPARE(GetPrivateProfileString("A", "name", "", ini()), QString::fromUtf8("Привет"));
    // It stays UTF-8 from then on, even for text Windows-1251 could hold.
    QVERIFY(WritePrivateProfileString("A", "more", QString::fromUtf8("да"), ini()));
    QVERIFY(ReadBytes(ini()).startsWith("\xEF\xBB\xBF"));
    QCOMPARE(GetPrivateProfileString("A", "more", "", ini()), QString::fromUtf8("да"));
  }

  // Found by fuzzing: a byte-order mark at the start of a later line made the
  // writer see a section header that the reader did not, so a written key
  // could not be read back.
  void readerAndWriterAgreeOnEveryLine() {
    WriteBytes(ini(), QByteArray("\xEF\xBB\xBF[A]\r\n\xEF\xBB\xBF[Main]\rx\r\n"));
    QVERIFY(WritePrivateProfileString("main", "RUS", " ?", ini()));
    QCOMPARE(GetPrivateProfileString("Main", "rus", "<missing>", ini()), QString(" ?"));
    QVERIFY(WritePrivateProfileString("A", "k", "v", ini()));
    QCOMPARE(GetPrivateProfileString("a", "K", "<missing>", ini()), QString("v"));
    // A key that is itself the mark keeps it on the way back.
    const QString mark(QChar(0xFEFF));
    QVERIFY(WritePrivateProfileString("S", mark, "w", ini()));
    QCOMPARE(GetPrivateProfileString("s", mark, "<missing>", ini()), QString("w"));
    QCOMPARE(GetPrivateProfileString("Main", "rus", "<missing>", ini()), QString(" ?"));
  }

  void refusedWriteChangesNothing() {
    // Root ignores permissions: make the path itself impossible instead.
    const QString plain = dir_.filePath("plain");
    WriteBytes(plain, "x");
    QVERIFY(!WritePrivateProfileString("S", "k", "v", plain + "/MyIni.ini"));
    QCOMPARE(ReadBytes(plain), QByteArray("x"));

    const QString asDir = dir_.filePath("adir");
    QVERIFY(QDir().mkpath(asDir));
    QVERIFY(!WritePrivateProfileString("S", "k", "v", asDir));
    QVERIFY(QFileInfo(asDir).isDir());

    const QByteArray before = "[S]\r\nk=1\r\n";
    WriteBytes(ini(), before);
    QVERIFY(!WritePrivateProfileString("S", "k", "two\r\nlines", ini()));
    QVERIFY(!WritePrivateProfileString("S]", "k", "v", ini()));
    QVERIFY(!WritePrivateProfileString("", "k", "v", ini()));
    QVERIFY(!WritePrivateProfileString("S", "a=b", "v", ini()));
    QVERIFY(!WritePrivateProfileString("S", "[k", "v", ini()));
    QVERIFY(!WritePrivateProfileString("S", ";k", "v", ini()));
    QVERIFY(!WritePrivateProfileString("S", " ", "v", ini()));
    QCOMPARE(ReadBytes(ini()), before);
    // Nothing half-written is left behind by QSaveFile.
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files).size(), 2);
  }

  void profileIntForms() {
    QCOMPARE(ProfileInt("0", 7), 0);
    QCOMPARE(ProfileInt("587", 7), 587);
    QCOMPARE(ProfileInt("-12", 7), -12);
    QCOMPARE(ProfileInt("+12", 7), 12);
    QCOMPARE(ProfileInt(" 33 ", 7), 33);
    QCOMPARE(ProfileInt("007", 7), 7);
    QCOMPARE(ProfileInt("0x1F", 7), 31);
    QCOMPARE(ProfileInt("0XfF", 7), 255);
    QCOMPARE(ProfileInt("$10", 7), 16);
    QCOMPARE(ProfileInt("$FFFFFFFF", 7), -1);
    QCOMPARE(ProfileInt("-2147483648", 7), INT_MIN);
    QCOMPARE(ProfileInt("2147483647", 7), INT_MAX);
    for (const char* bad : {"", " ", "yes", "true", "1.5", "12abc", "--1", "+", "-", "0x", "$", "0xG1",
                            "$123456789", "2147483648", "1 2", "-0x10", "١٢"})
      QCOMPARE(ProfileInt(QString::fromUtf8(bad), 7), 7);
  }
};

QTEST_GUILESS_MAIN(TstProfile)
#include "tst_profile.moc"
