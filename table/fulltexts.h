#pragma once
#include "table/records.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace tevrin {

// A saved record holds Windows-1251 texts cut to its fields, so a Greek name,
// an emoji or a long transponder text does not come back as it was. The full
// texts of a saved table live beside it in "<satellite>.rec.json":
//
//   {"format":"tevrin-full-texts","version":1,
//    "recordFile":{"size":952,"blake2b256":"<64 lower-case hex digits>"},
//    "textsBlake2b256":"<64 lower-case hex digits>",
//    "rows":[["<transponder>","<name>","<audio>","<video>","<coding>"], ...]}
//
// UTF-8 JSON, one row per record of the .rec in file order. The file belongs
// to the .rec whose exact bytes have that size and BLAKE2b-256 digest (32
// bytes; Python's hashlib.blake2b(digest_size=32)); a .rec rewritten
// by anything else (an older Tevrin, another program, a restored copy) no
// longer matches, and its companion is then ignored. "textsBlake2b256" is the
// digest of the rows' texts in order, each as its length in UTF-16 code units
// (4 bytes, little-endian) followed by those units (little-endian), so a
// damaged text that is still valid JSON is caught too.

// The five texts of a record, in record order.
using FullTextsRow = std::array<QString, 5>;

struct FullTextsFile {
  RecordFileStamp recordFile;
  std::vector<FullTextsRow> rows;
};

// Nothing a real table needs comes near this: a chart of 2,000 channels with
// long texts takes well under 2 MB. A larger file is not read at all.
constexpr qint64 kMaxFullTextsBytes = qint64(16) << 20;

QString FullTextsPath(const QString& recordPath);

FullTextsRow FullTextsOf(const SavedRecord& record);

QByteArray EncodeFullTexts(const FullTextsFile& file);

// The digest of "textsBlake2b256".
QByteArray FullTextsDigest(const std::vector<FullTextsRow>& rows);

// What the file says, its texts' digest as written beside it; nothing when
// the bytes are more than kMaxFullTextsBytes, not UTF-8, not JSON, of another
// format or version, lack a field or hold one of the wrong type, or have a
// row without five texts.
struct ParsedFullTexts {
  FullTextsFile file;
  QByteArray textsDigest;
};
std::optional<ParsedFullTexts> ParseFullTexts(QByteArrayView bytes);

// The file's contents when ParseFullTexts takes them and the texts' digest is
// theirs; nothing otherwise.
std::optional<FullTextsFile> DecodeFullTexts(QByteArrayView bytes);

// Whether the texts belong to these records of the .rec with this stamp: the
// stamp is the same, there is one row per record, and every text, put into
// record form, is the record's text.
bool FullTextsFit(const FullTextsFile& texts, const RecordFileStamp& stamp,
                  const std::vector<SavedRecord>& records);

// Replaces the texts of `records` (the whole .rec, read with `stamp`) by the
// full texts of the companion at `path` and marks them so. Returns false,
// leaving `records` alone, when the companion is missing, unreadable, a link,
// not a regular file, too large, damaged or not this .rec's.
bool ApplyFullTexts(const QString& path, const RecordFileStamp& stamp, std::vector<SavedRecord>& records);

}  // namespace tevrin
