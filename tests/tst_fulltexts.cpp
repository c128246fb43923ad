// The full texts kept beside a saved table: what is written, what is read
// back, and every companion that must be ignored rather than believed.
#include "app/errors.h"
#include "scan/catalogue.h"
#include "scan/chartparser.h"
#include "scan/pagetext.h"
#include "support/testsupport.h"
#include "table/fulltexts.h"
#include "table/records.h"
#include "table/storedview.h"
#include "tables_testutil.h"
#include "tools/gencharts/chartgen.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <functional>

using namespace tevrin;
using namespace tevrin::test;

namespace {

const QString kSat = QStringLiteral("Hot Bird 13.0°E");

// Texts the code page lacks or the fields cut.
std::vector<ChannelRow> WideRows() {
  return {ScanRow(1, "11766 L.DVB-S2", "Ελληνική TV", "gre"),
          ScanRow(2, "11766 L.DVB-S2", "TRT Türk ş ğ ı İ", "tur"),
          ScanRow(3, "12034 R.DVB-S", "قناة الجزيرة", "ara"),
          ScanRow(4, "12034 R.DVB-S", "Télé Zürich Ñandú 😀", "fra", "H.264/AVC HD"),
          ScanRow(5, QString(200, u'T'), QString(120, u'N'))};
}

std::vector<SavedRecord> Read(const QString& path) {
  std::vector<SavedRecord> out;
  ReadSavedTable(path, out);
  return out;
}

// The records of the .rec alone, as a reader that knows no companion sees them.
std::vector<SavedRecord> RecordTexts(const QByteArray& recBytes) {
  std::vector<SavedRecord> out;
  for (qsizetype at = 0; at + kRecordSize <= recBytes.size(); at += kRecordSize)
    out.push_back(DecodeRecord(reinterpret_cast<const unsigned char*>(recBytes.constData() + at)));
  return out;
}

// The .rec of rows as the writer before the full texts wrote it: the records
// of the rows not marked gone, back to back, nothing else.
QByteArray RecordsOnly(const std::vector<ChannelRow>& rows, const QString& date) {
  QByteArray out;
  for (const ChannelRow& row : rows) {
    if (row.mark == kMarkGone) continue;
    const TChannelRec rec =
        EncodeRecord({row.subItem(kSubTransponder), row.subItem(kSubName), row.subItem(kSubAudio),
                      row.subItem(kSubVideo), row.subItem(kSubCoding), date});
    out.append(reinterpret_cast<const char*>(rec.bytes), kRecordSize);
  }
  return out;
}

// The text a failing save gives; empty when it succeeds.
QString SaveError(const QString& rec, const std::vector<ChannelRow>& rows) {
  try {
    WriteSavedTable(rec, rows, QDate(2024, 6, 2));
  } catch (const TevrinError& e) {
    return e.message();
  }
  return {};
}

class AllLanguages final : public ChartParserHost {
 public:
  bool isTicked(Language) override { return true; }
  QString otherLanguageText() override { return QStringLiteral("tur"); }
};

using Spoil = std::function<void(const QString& companion)>;

}  // namespace

Q_DECLARE_METATYPE(Spoil)

class TstFullTexts : public QObject {
  Q_OBJECT

 private slots:
  void theCompanionNamesTheExactRecordFile() {
    TempExeDir exe;
    const QString rec = SavedTablePath(kSat);
    const std::vector<ChannelRow> rows = WideRows();
    WriteSavedTable(rec, rows, QDate(2024, 6, 1));

    const QByteArray recBytes = ReadAll(rec);
    QJsonParseError error{};
    const QJsonObject root = QJsonDocument::fromJson(ReadAll(rec + ".json"), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(root["format"].toString(), QString("tevrin-full-texts"));
    QCOMPARE(root["version"].toInt(), 1);
    QCOMPARE(root["recordFile"]["size"].toInteger(), recBytes.size());
    QCOMPARE(root["recordFile"]["blake2b256"].toString().toLatin1(),
             QCryptographicHash::hash(recBytes, QCryptographicHash::Blake2b_256).toHex());
    QCOMPARE(root["rows"][3].toArray()[1].toString(), QString("Télé Zürich Ñandú 😀"));
    QCOMPARE(root["rows"][3].toArray()[3].toString(), QString("H.264/AVC HD"));
    QCOMPARE(RecordTexts(recBytes)[0].channelName, QString("???????? TV"));

    // The stored view and so the export and `show` get the real names.
    ChannelTableModel table;
    QVERIFY(LoadStoredView(kSat, {}, table));
    QCOMPARE(table.row(0).subItem(kSubName), QString("Ελληνική TV"));
    QCOMPARE(table.row(4).subItem(kSubTransponder), QString(200, u'T'));
  }

  // Whatever a text holds comes back through the file unchanged.
  void everyTextSurvivesTheFile() {
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c) controls += QChar(c);
    const FullTextsRow tricky = {controls + QChar(0x7F),
                                 QStringLiteral("\"quoted\" \\back\\ /slash/ \u2028\u2029 \uFFFF"),
                                 QString(QChar(0xD83D)) + "lone high, lone low" + QChar(0xDE00),
                                 QString(QChar(0xDE00)) + QChar(0xD83D) + "reversed pair; 😀 whole",
                                 QStringLiteral("Ελληνική قناة Türk")};
    const FullTextsFile file{StampOf("x"), {tricky, FullTextsRow{}}};
    const QByteArray bytes = EncodeFullTexts(file);
    const std::optional<FullTextsFile> back = DecodeFullTexts(bytes);
    QVERIFY(back.has_value());
    QCOMPARE(back->rows.size(), size_t(2));
    for (size_t i = 0; i < tricky.size(); ++i) QCOMPARE(back->rows[0][i], tricky[i]);
    QCOMPARE(back->recordFile, file.recordFile);
    QCOMPARE(EncodeFullTexts(*back), bytes);
  }

  // Other programs read the .rec: its bytes are those of the records alone,
  // for every chart the generator makes, changed variants included.
  void recordFileBytesAreTheRecordsAloneAcrossTheGeneratedCharts() {
    TempExeDir exe;
    const QString rec = SavedTablePath(kSat);
    AllLanguages host;
    int tables = 0;
    for (const int variant : {0, 1}) {
      for (int index = 1; index < kSatelliteCount; ++index) {
        const int position = ChartPosition(index);
        ChannelTableModel table;
        QVERIFY(ParseChartPage(DecodePageBytes(gencharts::ChartPage(position, variant)), table, host));
        QVERIFY(table.count() > 0);
        std::vector<ChannelRow> rows = table.rows();
        rows.back().mark = kMarkGone;  // as a comparison leaves it: not saved
        WriteSavedTable(rec, rows, QDate(2024, 12, 31));
        QCOMPARE(ReadAll(rec), RecordsOnly(rows, "31.12.2024"));
        const std::vector<SavedRecord> read = Read(rec);
        QCOMPARE(read.size(), rows.size() - 1);
        QVERIFY(read.front().fullTexts);
        QCOMPARE(read.front().transponder, rows.front().subItem(kSubTransponder));
        ++tables;
      }
    }
    QCOMPARE(tables, 36);
  }

  void aCompanionThatDoesNotBelongIsIgnored_data() {
    QTest::addColumn<Spoil>("spoil");
    QTest::addColumn<bool>("believed");
    // Changes the companion's bytes in place.
    const auto rewrite = [](const std::function<void(QByteArray&)>& change) {
      return Spoil([change](const QString& companion) {
        QByteArray bytes = ReadAll(companion);
        change(bytes);
        QVERIFY(WriteAll(companion, bytes));
      });
    };
    QTest::newRow("as written") << Spoil([](const QString&) {}) << true;
    QTest::newRow("truncated") << rewrite([](QByteArray& b) { b.truncate(b.size() / 2); }) << false;
    // Still valid JSON and UTF-8, and the letter's record form is the same "?".
    QTest::newRow("one letter changed")
        << rewrite([](QByteArray& b) { b.replace("Ελληνική", "Ελληνικό"); }) << false;
    QTest::newRow("not UTF-8") << rewrite([](QByteArray& b) { b[b.indexOf("Ελληνική") + 1] = char(0xFF); })
                               << false;
    QTest::newRow("another version") << rewrite([](QByteArray& b) {
      b.replace("\"version\":1", "\"version\":2");
    }) << false;
    QTest::newRow("padded to the bound")
        << rewrite([](QByteArray& b) { b.append(QByteArray(kMaxFullTextsBytes - b.size(), ' ')); }) << true;
    QTest::newRow("one byte over the bound")
        << rewrite([](QByteArray& b) { b.append(QByteArray(kMaxFullTextsBytes - b.size() + 1, ' ')); })
        << false;
    // A .rec put back from an older copy leaves the newer companion stale.
    QTest::newRow("an older .rec put back") << Spoil([](const QString& companion) {
      const QString rec = companion.chopped(5);
      const QByteArray older = ReadAll(rec);
      WriteSavedTable(rec, WideRows(), QDate(2024, 6, 2));
      QVERIFY(WriteAll(rec, older));
    }) << false;
    QTest::newRow("another table's") << Spoil([](const QString& companion) {
      const QString other = SavedTablePath("Other");
      WriteSavedTable(other, WideRows(), QDate(2024, 6, 2));  // the same rows, another day
      QVERIFY(QFile::remove(companion));
      QVERIFY(QFile::copy(other + ".json", companion));
    }) << false;
    // The stamp fits, the digest too, but a text is not what the record holds.
    QTest::newRow("texts that are not the records'") << Spoil([](const QString& companion) {
      std::optional<FullTextsFile> file = DecodeFullTexts(ReadAll(companion));
      QVERIFY(file.has_value());
      file->rows[1][1] = QStringLiteral("TRT Türk ş ğ ı İ 2");
      QVERIFY(WriteAll(companion, EncodeFullTexts(*file)));
    }) << false;
    QTest::newRow("a link to it") << Spoil([](const QString& companion) {
      QVERIFY(QFile::rename(companion, companion + ".real"));
      QVERIFY(QFile::link(companion + ".real", companion));
    }) << false;
    QTest::newRow("a folder") << Spoil([](const QString& companion) {
      QVERIFY(QFile::remove(companion));
      QVERIFY(QDir().mkpath(companion));
    }) << false;
    QTest::newRow("a pipe") << Spoil([](const QString& companion) {
      QVERIFY(QFile::remove(companion));
      QCOMPARE(::mkfifo(QFile::encodeName(companion).constData(), 0600), 0);
    }) << false;
    QTest::newRow("unreadable") << Spoil([](const QString& companion) {
      QCOMPARE(::chmod(QFile::encodeName(companion).constData(), 0), 0);
    }) << false;
  }
  void aCompanionThatDoesNotBelongIsIgnored() {
    QFETCH(Spoil, spoil);
    QFETCH(bool, believed);
    if (QByteArray(QTest::currentDataTag()) == "unreadable" && ::geteuid() == 0) QSKIP("root reads any file");
    TempExeDir exe;
    const QString rec = SavedTablePath(kSat);
    const std::vector<ChannelRow> rows = WideRows();
    WriteSavedTable(rec, rows, QDate(2024, 6, 1));
    spoil(rec + ".json");
    if (QTest::currentTestFailed()) return;

    const std::vector<SavedRecord> read = Read(rec);
    QCOMPARE(read.size(), rows.size());
    if (believed) {
      QCOMPARE(read.front().channelName, QString("Ελληνική TV"));
      QVERIFY(read.back().fullTexts);
      return;
    }
    QCOMPARE(read, RecordTexts(ReadAll(rec)));  // the records' own texts, nothing lost
    ChannelTableModel table;
    QVERIFY(LoadStoredView(kSat, {}, table));
    QCOMPARE(table.row(0).subItem(kSubName), QString("???????? TV"));
    QCOMPARE(table.count(), int(rows.size()));
  }

  // A page may repeat a huge transponder cell on every channel row: texts
  // beyond the reader's bound are not written, and the stale companion goes.
  void textsBeyondTheBoundLeaveTheRecordsAlone() {
    TempExeDir exe;
    const QString rec = SavedTablePath(kSat);
    WriteSavedTable(rec, WideRows(), QDate(2024, 6, 1));
    QVERIFY(QFileInfo::exists(rec + ".json"));

    std::vector<ChannelRow> rows;
    rows.reserve(9);
    const QString huge = QString(1 << 20, u'Ω');  // 2 MiB in UTF-8
    for (int i = 0; i < 9; ++i) rows.push_back(ScanRow(i + 1, huge, "Ελληνική " + QString::number(i)));
    WriteSavedTable(rec, rows, QDate(2024, 6, 2));
    QCOMPARE(ReadAll(rec), RecordsOnly(rows, "02.06.2024"));
    QVERIFY(!QFileInfo::exists(rec + ".json"));
    const std::vector<SavedRecord> read = Read(rec);
    QCOMPARE(read.size(), rows.size());
    QVERIFY(!read.front().fullTexts);
  }

  void aCompanionThatCannotBeWrittenFailsTheSave() {
    TempExeDir exe;
    const QString rec = SavedTablePath(kSat);
    const std::vector<ChannelRow> first = {ScanRow(1, "T", "Ελληνική TV")};
    WriteSavedTable(rec, first, QDate(2024, 6, 1));
    const QByteArray recBefore = ReadAll(rec), textsBefore = ReadAll(rec + ".json");

    // The full texts of one long row take more bytes than its record: a file
    // size limit between the two lets the record through and stops them.
    std::vector<ChannelRow> second = {ScanRow(1, QString(200, u'Ω'), QString(120, u'Ж'))};
    {
      FileSizeLimit limit(kRecordSize + 10);
      QCOMPARE(SaveError(rec, second), QString::fromLocal8Bit(std::strerror(EFBIG)));
    }
    QCOMPARE(ReadAll(rec), recBefore);
    QCOMPARE(ReadAll(rec + ".json"), textsBefore);
    QCOMPARE(QDir(exe.file("Base")).entryList(QDir::Files | QDir::Hidden),
             (QStringList{kSat + ".rec", kSat + ".rec.json"}));

    // Its name taken by a folder: the rename fails, the table stays.
    QVERIFY(QFile::remove(rec + ".json"));
    QVERIFY(QDir().mkpath(rec + ".json"));
    QCOMPARE(SaveError(rec, second), QString::fromLocal8Bit(std::strerror(EISDIR)));
    QCOMPARE(ReadAll(rec), recBefore);
    QCOMPARE(QDir(exe.file("Base")).entryList(QDir::Files | QDir::Hidden), QStringList{kSat + ".rec"});
  }
};

QTEST_GUILESS_MAIN(TstFullTexts)
#include "tst_fulltexts.moc"
