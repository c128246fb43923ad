// The full texts kept beside a saved table: a JSON file that may be damaged,
// edited by hand or not meant for us at all.
#include "fuzz/fuzzsupport.h"
#include "table/fulltexts.h"
#include "table/records.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>
#include <cstdint>

namespace {

using tevrin::FullTextsFile;

// RFC 3629 UTF-8, on its own so that it does not lean on the decoder under test.
bool StrictUtf8(QByteArrayView bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const qsizetype n = bytes.size();
  for (qsizetype i = 0; i < n;) {
    const unsigned char b = p[i];
    int extra = 0;
    char32_t cp = 0;
    if (b < 0x80) {
      ++i;
      continue;
    }
    if (b >= 0xC2 && b <= 0xDF) extra = 1, cp = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF) extra = 2, cp = b & 0x0F;
    else if (b >= 0xF0 && b <= 0xF4) extra = 3, cp = b & 0x07;
    else return false;
    if (i + extra >= n) return false;
    for (int k = 1; k <= extra; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    const char32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

QString Describe(const FullTextsFile& file) {
  QStringList rows;
  for (const tevrin::FullTextsRow& row : file.rows) rows << QStringList(row.begin(), row.end()).join(u'|');
  return QString::number(file.recordFile.size) + " " + QString::fromLatin1(file.recordFile.digest.toHex()) +
         "\n" + rows.join(u'\n');
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tevrin::fuzz::EnsureApp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  // A mutation seldom keeps the texts' digest right: the file is taken as
  // parsed, and the digest is checked on its own.
  const std::optional<tevrin::ParsedFullTexts> parsed = tevrin::ParseFullTexts(bytes);
  const std::optional<FullTextsFile> decoded = tevrin::DecodeFullTexts(bytes);
  if (!parsed) {
    TEVRIN_FUZZ_CHECK(!decoded, QString::fromLatin1(bytes.toByteArray().toHex()));
    return 0;
  }
  const FullTextsFile& file = parsed->file;
  TEVRIN_FUZZ_CHECK(StrictUtf8(bytes), QString::fromLatin1(bytes.toByteArray().toHex()));
  TEVRIN_FUZZ_CHECK(file.recordFile.digest.size() == 32 && parsed->textsDigest.size() == 32, Describe(file));
  TEVRIN_FUZZ_CHECK(decoded.has_value() == (parsed->textsDigest == tevrin::FullTextsDigest(file.rows)),
                    Describe(file));

  // What was read, written again, reads back the same, digest and all.
  const std::optional<FullTextsFile> again = tevrin::DecodeFullTexts(tevrin::EncodeFullTexts(file));
  TEVRIN_FUZZ_CHECK(again.has_value(), Describe(file));
  TEVRIN_FUZZ_CHECK(again->rows == file.rows && again->recordFile == file.recordFile, Describe(file));

  // Records made from the texts are fitted by them, for their stamp alone.
  std::vector<tevrin::SavedRecord> records;
  for (const tevrin::FullTextsRow& row : file.rows) {
    const tevrin::TChannelRec rec =
        tevrin::EncodeRecord({row[0], row[1], row[2], row[3], row[4], "01.01.2024"});
    records.push_back(tevrin::DecodeRecord(rec.bytes));
  }
  TEVRIN_FUZZ_CHECK(tevrin::FullTextsFit(file, file.recordFile, records), Describe(file));
  tevrin::RecordFileStamp other = file.recordFile;
  other.size += 1;
  TEVRIN_FUZZ_CHECK(!tevrin::FullTextsFit(file, other, records), Describe(file));
  if (!records.empty()) {
    records.pop_back();
    TEVRIN_FUZZ_CHECK(!tevrin::FullTextsFit(file, file.recordFile, records), Describe(file));
  }
  return 0;
}
