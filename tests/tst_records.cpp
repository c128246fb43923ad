#include "app/errors.h"
#include "support/testsupport.h"
#include "table/records.h"
#include "tables_testutil.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QStringDecoder>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace tevrin;
using namespace tevrin::test;

namespace {

// Field offsets and sizes of a record, written out here on their own so the
// test does not lean on the code's constants.
struct Field {
  int offset;
  int max;
};
constexpr Field kTr{0, 150}, kName{151, 100}, kAudio{252, 100}, kVideo{353, 10}, kCoding{364, 100},
    kDate{465, 10};

void Put(QByteArray& rec, Field f, const QByteArray& bytes) {
  rec[f.offset] = static_cast<char>(bytes.size());
  for (int i = 0; i < bytes.size(); ++i) rec[f.offset + 1 + i] = bytes[i];
}

QByteArray Record(const QByteArray& tr, const QByteArray& name, const QByteArray& audio,
                  const QByteArray& video, const QByteArray& coding, const QByteArray& date) {
  QByteArray rec(476, '\0');
  Put(rec, kTr, tr);
  Put(rec, kName, name);
  Put(rec, kAudio, audio);
  Put(rec, kVideo, video);
  Put(rec, kCoding, coding);
  Put(rec, kDate, date);
  return rec;
}

// "идет открыто", "Первый канал" and "НТВ" in Windows-1251.
const QByteArray kFtaBytes = QByteArray::fromHex("e8e4e5f220eef2eaf0fbf2ee");
const QByteArray kPervyBytes = QByteArray::fromHex("cfe5f0e2fbe920eae0ede0eb");
const QByteArray kNtvBytes = QByteArray::fromHex("cdd2c2");

QByteArray GoldenFile() {
  return Record("11766.L.27500", kPervyBytes, "rus", "MPEG-2", kFtaBytes, "01.02.2024") +
         Record("12034.R.NTV+", kNtvBytes, "rus eng", "MPEG-4", "Conax", "01.02.2024");
}

std::vector<SavedRecord> ReadRecords(const QString& path, bool* opened = nullptr) {
  std::vector<SavedRecord> out;
  const bool ok = ReadSavedTable(path, out);
  if (opened) *opened = ok;
  return out;
}

// The records as the .rec holds them, without the full texts beside it.
std::vector<SavedRecord> RecordTexts(const QString& path) {
  std::vector<SavedRecord> out;
  QFile file(path);
  if (file.open(QIODevice::ReadOnly))
    ReadSavedRecords(file, [&out](const SavedRecord& r) { out.push_back(r); });
  return out;
}

ChannelRow RowOf(const SavedRecord& r, int number) {
  return ScanRow(number, r.transponder, r.channelName, r.audio, r.video, r.coding);
}

QString SystemText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// What the code page keeps of a text: a character it holds stays, any other
// becomes one "?", and the result is cut to the field.
QString ExpectedAfterSave(const QString& text, int max, const QSet<char16_t>& codePage) {
  QString out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      out += u'?';
      ++i;
    } else {
      out += codePage.contains(c.unicode()) ? c : QChar(u'?');
    }
  }
  return out.left(max);
}

}  // namespace

class TestRecords : public QObject {
  Q_OBJECT
 private slots:
  void goldenFileReadsAndSavesBackByteForByte();
  void damagedFilesAreReadSafely();
  void textsLongerThanTheFieldAreCut();
  void charactersOutsideTheCodePageBecomeQuestionMarks();
  void newRowsAreSavedGoneRowsLeftOut();
  void pathAndTexts();
  void failedSaveKeepsThePreviousTableWhole();
  void readFailureAfterOpeningThrowsSystemText();
  void randomRowsRoundTrip();
};

void TestRecords::goldenFileReadsAndSavesBackByteForByte() {
  TempExeDir exe;
  const QString path = SavedTablePath(QStringLiteral("Hot Bird 13.0°E"));
  QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
  QVERIFY(WriteAll(path, GoldenFile()));

  const std::vector<SavedRecord> read = ReadRecords(path);
  const std::vector<SavedRecord> expected = {
      {"11766.L.27500", "Первый канал", "rus", "MPEG-2", "идет открыто", "01.02.2024"},
      {"12034.R.NTV+", "НТВ", "rus eng", "MPEG-4", "Conax", "01.02.2024"}};
  QCOMPARE(read, expected);

  // Saving those rows on another day gives the same bytes but for the date.
  std::vector<ChannelRow> rows = {RowOf(read[0], 1), RowOf(read[1], 2)};
  WriteSavedTable(path, rows, QDate(2025, 12, 31));
  const QByteArray saved = ReadAll(path);
  QCOMPARE(saved.size(), 2 * 476);
  QByteArray golden = GoldenFile();
  for (int r = 0; r < 2; ++r) {
    QCOMPARE(saved.mid(r * 476 + kDate.offset, 11), QByteArray("\x0a"
                                                               "31.12.2025"));
    golden.replace(r * 476 + kDate.offset, 11, QByteArray(11, 'x'));
  }
  QByteArray masked = saved;
  for (int r = 0; r < 2; ++r) masked.replace(r * 476 + kDate.offset, 11, QByteArray(11, 'x'));
  QCOMPARE(masked, golden);
}

void TestRecords::damagedFilesAreReadSafely() {
  TempExeDir exe;
  const QString path = exe.file(QStringLiteral("damaged.rec"));

  // A length byte of 255 in the name field must not reach into the audio field.
  QByteArray rec = Record("tr", QByteArray(100, 'A'), "rus", "V", "C", "01.01.2024");
  rec[kName.offset] = char(255);
  QByteArray videoOverflow = Record("tr", "n", "a", QByteArray(10, 'v'), "C", "01.01.2024");
  videoOverflow[kVideo.offset] = char(200);
  QVERIFY(WriteAll(path, rec + videoOverflow + QByteArray(300, 'z')));  // plus a partial record
  std::vector<SavedRecord> read = ReadRecords(path);
  QCOMPARE(read.size(), size_t(2));
  QCOMPARE(read[0].channelName, QString(100, u'A'));
  QCOMPARE(read[0].audio, QStringLiteral("rus"));
  QCOMPARE(read[1].video, QString(10, u'v'));
  QCOMPARE(read[1].coding, QStringLiteral("C"));

  // Length 0 everywhere: six empty texts.
  QVERIFY(WriteAll(path, QByteArray(476, '\0')));
  read = ReadRecords(path);
  QCOMPARE(read.size(), size_t(1));
  QCOMPARE(read[0], SavedRecord{});

  // An empty file is a table without rows; a piece shorter than a record too.
  bool opened = false;
  QVERIFY(WriteAll(path, QByteArray()));
  QVERIFY(ReadRecords(path, &opened).empty());
  QVERIFY(opened);
  QVERIFY(WriteAll(path, QByteArray(475, '\x03')));
  QVERIFY(ReadRecords(path, &opened).empty());
  QVERIFY(opened);

  // A missing file or a directory does not open: nothing delivered.
  QVERIFY(ReadRecords(exe.file(QStringLiteral("none.rec")), &opened).empty());
  QVERIFY(!opened);
  QVERIFY(ReadRecords(exe.path(), &opened).empty());
  QVERIFY(!opened);

  // Many records across the reader's chunks arrive whole and in order.
  QByteArray many;
  for (int i = 0; i < 1000; ++i) many += Record(QByteArray::number(i), "n", "a", "v", "c", "01.01.2024");
  QVERIFY(WriteAll(path, many + QByteArray(10, 'z')));
  read = ReadRecords(path);
  QCOMPARE(read.size(), size_t(1000));
  for (int i = 0; i < 1000; ++i) QCOMPARE(read[size_t(i)].transponder, QString::number(i));
}

void TestRecords::textsLongerThanTheFieldAreCut() {
  SavedRecord r{QString(151, u'T'),
                QString(120, u'Ж'),
                QString(101, u'a'),
                QStringLiteral("H.264/AVC1"
                               "2"),
                QString(100, u'к'),
                QStringLiteral("01.02.2024")};
  const TChannelRec rec = EncodeRecord(r);
  QCOMPARE(int(rec.bytes[kTr.offset]), 150);
  QCOMPARE(int(rec.bytes[kName.offset]), 100);
  QCOMPARE(int(rec.bytes[kVideo.offset]), 10);
  QCOMPARE(int(rec.bytes[kCoding.offset]), 100);
  const SavedRecord back = DecodeRecord(rec.bytes);
  QCOMPARE(back.transponder, QString(150, u'T'));
  QCOMPARE(back.channelName, QString(100, u'Ж'));
  QCOMPARE(back.audio, QString(100, u'a'));
  QCOMPARE(back.video, QStringLiteral("H.264/AVC1"));
  QCOMPARE(back.coding, QString(100, u'к'));
  // Unused bytes are zero.
  for (int i = kVideo.offset + 11; i < kCoding.offset; ++i) QCOMPARE(int(rec.bytes[i]), 0);
  const TChannelRec shortRec = EncodeRecord(SavedRecord{"ab", "", "", "", "", ""});
  for (int i = 3; i < 476; ++i) QCOMPARE(int(shortRec.bytes[i]), 0);
}

void TestRecords::charactersOutsideTheCodePageBecomeQuestionMarks() {
  QCOMPARE(ToCp1251(QStringLiteral("a😀b"), 100), QByteArray("a?b"));
  QCOMPARE(ToCp1251(QStringLiteral("😀"), 100), QByteArray("?"));
  QCOMPARE(ToCp1251(QStringLiteral("中文€"), 100), QByteArray("??\x88"));
  // A zero-width space is not silently dropped, and a real control character
  // 0x1A is not taken for a failed conversion.
  QCOMPARE(ToCp1251(QStringLiteral("a\u200Bb"), 100), QByteArray("a?b"));
  QCOMPARE(ToCp1251(QString::fromUtf16(u"x\x1a"
                                       "y😀"),
                    100),
           QByteArray("x\x1a"
                      "y?"));
  // A lone half of a surrogate pair.
  QCOMPARE(ToCp1251(QString(QChar(u'\xd83d')) + u'z', 100), QByteArray("?z"));
  // The cut counts the converted characters.
  QCOMPARE(ToCp1251(QStringLiteral("😀😀😀😀"), 3), QByteArray("???"));
  QCOMPARE(ToCp1251(QStringLiteral("Ёё№"), 100), QByteArray::fromHex("a8b8b9"));
  QCOMPARE(FromCp1251(QByteArray::fromHex("a8b8b9")), QStringLiteral("Ёё№"));
}

void TestRecords::newRowsAreSavedGoneRowsLeftOut() {
  TempExeDir exe;
  std::vector<ChannelRow> rows = {ScanRow(1, "A", "kept"), ScanRow(2, "B", "new"), ScanRow(3, "C", "gone"),
                                  ScanRow(4, "D", "hand")};
  rows[1].mark = kMarkNew;
  rows[1].subItems.append(QStringLiteral("Появился"));
  rows[2].mark = kMarkGone;
  rows[2].subItems.append(QStringLiteral("Ушел"));
  rows[3].subItems = {"4", "Тр.новый", "Им.новый", "---"};  // added by hand: no video, no encryption
  const QString path = SavedTablePath(QStringLiteral("S"));
  WriteSavedTable(path, rows, QDate(2024, 3, 5));
  const std::vector<SavedRecord> expected = {{"A", "kept", "rus", "MPEG-4", "Conax", "05.03.2024"},
                                             {"B", "new", "rus", "MPEG-4", "Conax", "05.03.2024"},
                                             {"Тр.новый", "Им.новый", "---", "", "", "05.03.2024"}};
  QCOMPARE(RecordTexts(path), expected);

  // Only gone rows: a file of length 0.
  WriteSavedTable(path, {rows[2]}, QDate(2024, 3, 5));
  QVERIFY(QFileInfo::exists(path));
  QCOMPARE(QFileInfo(path).size(), 0);
}

void TestRecords::pathAndTexts() {
  TempExeDir exe;
  QCOMPARE(SavedTablePath(QStringLiteral("Hot Bird 13.0°E")), exe.path() + "/Base/Hot Bird 13.0°E.rec");
  QCOMPARE(SaveDateText(QDate(2024, 2, 1)), QStringLiteral("01.02.2024"));
  const QDate date(2021, 7, 9);
  const QStringList lines = OverwriteQuestion(QStringLiteral("Astra 19.2°E"), date).split(u'\r');
  QCOMPARE(lines.size(), 3);
  QCOMPARE(lines[0], QStringLiteral("Файл для спутника Astra 19.2°E,"));
  QCOMPARE(lines[1], QStringLiteral("созданный ") + ShortDateText(date, QLocale::system()) +
                         QStringLiteral("г., уже существует."));
  QCOMPARE(lines[2], QStringLiteral("Перезаписать его?"));

  // The user's short date format; the C and POSIX locale have none worth the name.
  QCOMPARE(ShortDateText(date, QLocale::c()), QStringLiteral("09.07.2021"));
  QCOMPARE(ShortDateText(date, QLocale(QStringLiteral("POSIX"))), QStringLiteral("09.07.2021"));
  QCOMPARE(ShortDateText(date, QLocale(QLocale::Russian, QLocale::Russia)), QStringLiteral("09.07.2021"));
  QCOMPARE(ShortDateText(date, QLocale(QLocale::English, QLocale::UnitedStates)), QStringLiteral("7/9/21"));
  QCOMPARE(ShortDateText(date, QLocale(QLocale::German, QLocale::Germany)), QStringLiteral("09.07.21"));
}

void TestRecords::failedSaveKeepsThePreviousTableWhole() {
  const std::vector<ChannelRow> rows = {ScanRow(1, "A", "one"), ScanRow(2, "B", "two")};

  {  // A regular file where the Base directory should be.
    TempExeDir exe;
    QVERIFY(WriteAll(exe.file("Base"), "not a directory"));
    try {
      WriteSavedTable(SavedTablePath("S"), rows, QDate(2024, 1, 1));
      QFAIL("no error");
    } catch (const TevrinError& e) {
      QCOMPARE(e.message(), SystemText(ENOTDIR));
    }
    QCOMPARE(ReadAll(exe.file("Base")), QByteArray("not a directory"));
  }
  {  // The table's name taken by a directory.
    TempExeDir exe;
    QVERIFY(QDir().mkpath(exe.file("Base/S.rec")));
    QVERIFY_THROWS_EXCEPTION(TevrinError, WriteSavedTable(SavedTablePath("S"), rows, QDate(2024, 1, 1)));
    QVERIFY(QFileInfo(exe.file("Base/S.rec")).isDir());
  }
  {  // A full disk part-way through: the earlier table stays as it was.
    TempExeDir exe;
    const QString path = SavedTablePath("S");
    WriteSavedTable(path, rows, QDate(2024, 1, 1));
    const QByteArray before = ReadAll(path);
    const QByteArray beforeTexts = ReadAll(path + ".json");
    std::vector<ChannelRow> big;
    big.reserve(200);
    for (int i = 0; i < 200; ++i) big.push_back(ScanRow(i + 1, QString::number(i), "name"));
    {
      FileSizeLimit limit(10 * 476);
      try {
        WriteSavedTable(path, big, QDate(2024, 2, 2));
        QFAIL("no error");
      } catch (const TevrinError& e) {
        QCOMPARE(e.message(), SystemText(EFBIG));
      }
    }
    QCOMPARE(ReadAll(path), before);
    QCOMPARE(ReadAll(path + ".json"), beforeTexts);
    QCOMPARE(QDir(exe.file("Base")).entryList(QDir::Files),
             (QStringList{"S.rec", "S.rec.json"}));  // no leftovers
  }
}

void TestRecords::readFailureAfterOpeningThrowsSystemText() {
  // Reading this process's memory from address 0 opens but fails to read.
  std::vector<SavedRecord> got;
  try {
    ReadSavedTable(QStringLiteral("/proc/self/mem"), got);
    QFAIL("no error");
  } catch (const TevrinError& e) {
    QCOMPARE(e.message(), SystemText(EIO));
  }
  QVERIFY(got.empty());
}

void TestRecords::randomRowsRoundTrip() {
  TempExeDir exe;
  QSet<char16_t> codePage;
  QStringDecoder decoder("windows-1251");
  for (int b = 0; b < 256; ++b) {
    const char byte = char(b);
    const QString one = decoder.decode(QByteArrayView(&byte, 1));
    QCOMPARE(one.size(), 1);
    codePage.insert(one[0].unicode());
  }
  QCOMPARE(codePage.size(), 256);

  const QStringList pool = {
      "a", "Z", "0",      ".", " ",    ";",  "Ж", "я", "Ё",      "ё",  "№",
      "€", "«", "\u00a0", "😀", "🛰", "中", "ü", "—", "\u200b", "\t", QString(QChar(u'\x1a'))};
  QRandomGenerator rng(20240201);
  auto randomText = [&](int maxLength) {
    QString s;
    const int n = int(rng.bounded(maxLength + 1));
    for (int i = 0; i < n; ++i) s += pool[int(rng.bounded(int(pool.size())))];
    return s;
  };
  std::vector<ChannelRow> rows;
  rows.reserve(300);
  for (int i = 0; i < 300; ++i)
    rows.push_back(
        ScanRow(i + 1, randomText(170), randomText(120), randomText(110), randomText(14), randomText(110)));
  const QString path = SavedTablePath(QStringLiteral("Random"));
  WriteSavedTable(path, rows, QDate(2024, 2, 1));
  const std::vector<SavedRecord> read = RecordTexts(path);
  QCOMPARE(read.size(), rows.size());
  const std::vector<SavedRecord> full = ReadRecords(path);
  QCOMPARE(full.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const ChannelRow& r = rows[i];
    const SavedRecord expected{
        ExpectedAfterSave(r.subItems[1], 150, codePage), ExpectedAfterSave(r.subItems[2], 100, codePage),
        ExpectedAfterSave(r.subItems[3], 100, codePage), ExpectedAfterSave(r.subItems[4], 10, codePage),
        ExpectedAfterSave(r.subItems[5], 100, codePage), "01.02.2024"};
    QCOMPARE(read[i], expected);
    // Beside the records every text comes back whole.
    const SavedRecord whole{r.subItems[1], r.subItems[2], r.subItems[3], r.subItems[4],
                            r.subItems[5], "01.02.2024",  true};
    QCOMPARE(full[i], whole);
  }
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
