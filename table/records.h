#pragma once
#include "app/cp1251.h"
#include "table/channeltable.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDate>
#include <QLocale>
#include <QString>

#include <functional>
#include <vector>

class QIODevice;

namespace tevrin {

// One saved row: six length-prefixed Windows-1251 strings back to back.
constexpr int kRecordSize = 476;

struct TChannelRec {
  unsigned char bytes[kRecordSize];
};

// Where each field starts and how many characters it holds at most. The byte
// at the offset is the length, the characters follow it.
struct RecordField {
  int offset;
  int maxChars;
};
inline constexpr RecordField kFieldTransponder{0, 150};
inline constexpr RecordField kFieldChannelName{151, 100};
inline constexpr RecordField kFieldAudio{252, 100};
inline constexpr RecordField kFieldVideo{353, 10};
inline constexpr RecordField kFieldCoding{364, 100};
inline constexpr RecordField kFieldSaveDate{465, 10};

struct SavedRecord {
  QString transponder, channelName, audio, video, coding, saveDate;
  // The five texts are the full ones kept beside the table (fulltexts.h), not
  // the record's cut and converted ones.
  bool fullTexts = false;
  bool operator==(const SavedRecord&) const = default;
};

// A text as a record holds it: converted to Windows-1251 with the save's
// replacement of what the code page lacks, cut to the field, and read back.
QString RecordForm(const QString& text, RecordField field);

// The exact bytes of a record file: its size and the BLAKE2b-256 digest of
// its bytes.
struct RecordFileStamp {
  qint64 size = 0;
  QByteArray digest;  // 32 bytes
  bool operator==(const RecordFileStamp&) const = default;
};
RecordFileStamp StampOf(QByteArrayView recordFileBytes);
// BLAKE2b with a 32-byte digest: fast without hardware help, and any
// rewrite of the bytes changes it.
constexpr auto kStampHash = QCryptographicHash::Blake2b_256;

TChannelRec EncodeRecord(const SavedRecord& record);
// A length byte above the field's maximum (a damaged file) is cut at the
// field's end so no character is taken from the next field.
SavedRecord DecodeRecord(const unsigned char* bytes);

QString SaveDateText(const QDate& date);  // "DD.MM.YYYY"
QString SavedTablePath(const QString& satellite);

// Delivers whole records from the device in order, with their record texts;
// a final piece shorter than one record is ignored. Returns the stamp of every
// byte read, that piece included. Throws TevrinError with the device's text
// when a read fails (records before it are already delivered).
RecordFileStamp ReadSavedRecords(QIODevice& device, const std::function<void(const SavedRecord&)>& onRecord);

// Replaces `records` by the file's records, with the full texts of its
// companion when that is valid (fulltexts.h). Returns false when the file
// cannot be opened (`records` emptied). A read failure throws as
// ReadSavedRecords does, `records` then holding the records before it with
// their record texts.
bool ReadSavedTable(const QString& path, std::vector<SavedRecord>& records);

// Writes the rows not marked "-" in table order, and the companion with their
// full texts (fulltexts.h). Both are written whole and synced under temporary
// names before either takes its name, the companion first: a failure up to
// and including the companion's rename leaves the previous table and its
// companion as they were. Failures throw TevrinError with the system's text.
// Creates the directory with parents. The table's bytes are the records
// alone, as any reader of saved tables expects. Texts too large for any
// reader's bound (kMaxFullTextsBytes) are not written: the table then stands
// alone and an earlier companion is removed.
void WriteSavedTable(const QString& path, const std::vector<ChannelRow>& rows, const QDate& today);

enum class SaveResult { Saved, EmptyTable, Kept };

// Writes the table into the saved table of `satellite`. An empty table writes
// nothing; an existing file is replaced only when `mayReplace` (given its
// modification date) says so. Write failures throw TevrinError.
SaveResult SaveSatelliteTable(const QString& satellite, const ChannelTableModel& table, const QDate& today,
                              const std::function<bool(const QDate& modified)>& mayReplace);

// The three-line question before a save replaces an existing file.
// A date in the locale's short format; "dd.MM.yyyy" for the C and POSIX locale.
QString ShortDateText(const QDate& date, const QLocale& locale);
// The question before a saved table is replaced; the date in the user's short format.
QString OverwriteQuestion(const QString& satellite, const QDate& modified);

}  // namespace tevrin
