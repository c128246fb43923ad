#include "scan/pagetext.h"

#include "app/errors.h"
#include "support/testsupport.h"

#include <QFile>
#include <QStringEncoder>
#include <QtTest>

using namespace tevrin;

namespace {
const QString kRussian = QStringLiteral("Первый канал");

QByteArray Cp1251(const QString& s) {
  QStringEncoder e("windows-1251");
  return e.encode(s);
}
QByteArray Koi8(const QString& s) {
  QStringEncoder e("koi8-r");
  return e.encode(s);
}
}  // namespace

class TstPageText : public QObject {
  Q_OBJECT
 private slots:
  void linesEndWithCrLf() {
    QCOMPARE(DecodePageBytes("a\nb\r\nc\rd"), QStringLiteral("a\r\nb\r\nc\r\nd\r\n"));
    QCOMPARE(DecodePageBytes("a\n\n"), QStringLiteral("a\r\n\r\n"));
    QCOMPARE(DecodePageBytes("\r\r\n"), QStringLiteral("\r\n\r\n"));
    QCOMPARE(DecodePageBytes(QByteArray()), QString());
  }

  void utf8WithoutDeclaration() {
    QCOMPARE(DecodePageBytes("<td>" + kRussian.toUtf8() + "</td>"),
             QStringLiteral("<td>") + kRussian + QStringLiteral("</td>\r\n"));
  }

  void invalidUtf8IsWindows1251() {
    QCOMPARE(DecodePageBytes("<td>" + Cp1251(kRussian) + "</td>"),
             QStringLiteral("<td>") + kRussian + QStringLiteral("</td>\r\n"));
    // A UTF-8 sequence cut off at the very end is not valid UTF-8 either.
    QCOMPARE(DecodePageBytes(QByteArray("ok\xD0", 3)), QStringLiteral("okР\r\n"));
  }

  void declaredCharsetWins() {
    // D0 90 is valid UTF-8 ("А"), but the page says Windows-1251: "Рђ".
    QCOMPARE(DecodePageBytes("<meta charset=\"windows-1251\"><p>\xD0\x90"),
             QStringLiteral("<meta charset=\"windows-1251\"><p>Рђ\r\n"));
    const QByteArray http =
        "<html><head><META HTTP-EQUIV='Content-Type' CONTENT='text/html; charset=windows-1251'>";
    QVERIFY(DecodePageBytes(http + Cp1251(kRussian)).endsWith(kRussian + "\r\n"));
    QVERIFY(DecodePageBytes("<meta charset=koi8-r>" + Koi8(kRussian)).endsWith(kRussian + "\r\n"));
    QCOMPARE(PrescanCharset("<meta content=\"text/html;charset=cp1251\" http-equiv=content-type>"),
             QByteArray("cp1251"));
    QCOMPARE(PrescanCharset("<meta charset=' utf-8 '>"), QByteArray("utf-8"));
    QCOMPARE(PrescanCharset("<!doctype html><html lang=ru><head><meta name=x><meta/charset=utf-8>"),
             QByteArray("utf-8"));
    // A page that claims UTF-16 was read as ASCII, so it is UTF-8.
    QCOMPARE(PrescanCharset("<meta charset=utf-16le>"), QByteArray("utf-8"));
  }

  void declarationsThatDoNotCount() {
    // A content charset without the http-equiv pragma, in a comment, inside
    // another tag's attribute, after the first 1024 bytes, or an unknown name.
    QCOMPARE(PrescanCharset("<meta content='text/html; charset=koi8-r'>"), QByteArray());
    QCOMPARE(PrescanCharset("<!-- <meta charset=koi8-r> --><p>"), QByteArray());
    QCOMPARE(PrescanCharset("<a title='<meta charset=koi8-r>'>x</a>"), QByteArray());
    QCOMPARE(PrescanCharset("<metax charset=koi8-r>"), QByteArray());
    QCOMPARE(PrescanCharset("<meta charset=no-such-charset>"), QByteArray());
    QCOMPARE(PrescanCharset(QByteArray(1020, ' ') + "<meta charset=koi8-r>"), QByteArray());
    QCOMPARE(PrescanCharset("<meta charset=\"koi8-r"), QByteArray());  // cut off
    // The first of several wins; a comment closed by its own dashes ends early.
    QCOMPARE(PrescanCharset("<!--><meta charset=koi8-r><meta charset=utf-8>"), QByteArray("koi8-r"));
    // Such a page falls back on its bytes.
    QVERIFY(DecodePageBytes("<!-- <meta charset=koi8-r> -->" + kRussian.toUtf8()).contains(kRussian));
  }

  void byteOrderMarks() {
    const QByteArray body = "<meta charset=windows-1251>" + kRussian.toUtf8();
    QCOMPARE(DecodePageBytes("\xEF\xBB\xBF" + body),
             QStringLiteral("<meta charset=windows-1251>") + kRussian + "\r\n");
    const QString text = QStringLiteral("<p>") + kRussian + QStringLiteral("\n</p>");
    QStringEncoder le(QStringConverter::Utf16LE), be(QStringConverter::Utf16BE);
    const QString expected = QStringLiteral("<p>") + kRussian + QStringLiteral("\r\n</p>\r\n");
    QCOMPARE(DecodePageBytes("\xFF\xFE" + QByteArray(le.encode(text))), expected);
    QCOMPARE(DecodePageBytes("\xFE\xFF" + QByteArray(be.encode(text))), expected);
  }

  void readPageFile() {
    test::TempExeDir dir;
    QFile f(dir.file("cache.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(Cp1251(kRussian));
    f.close();
    QCOMPARE(ReadPageFile(dir.file("cache.txt")), kRussian + "\r\n");
    bool thrown = false;
    try {
      ReadPageFile(dir.file("missing.txt"));
    } catch (const TevrinError& e) {
      thrown = true;
      QVERIFY(e.message().contains("missing.txt"));
    }
    QVERIFY(thrown);
  }
};

QTEST_GUILESS_MAIN(TstPageText)
#include "tst_pagetext.moc"
