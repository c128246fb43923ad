#pragma once
#include "app/cp1251.h"
#include "table/channeltable.h"

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
  bool operator==(const SavedRecord&) const = default;
};

TChannelRec EncodeRecord(const SavedRecord& record);
// A length byte above the field's maximum (a damaged file) is cut at the
// field's end so no character is taken from the next field.
SavedRecord DecodeRecord(const unsigned char* bytes);

QString SaveDateText(const QDate& date);  // "DD.MM.YYYY"
QString SavedTablePath(const QString& satellite);

// Delivers whole records from the device in order; a final piece shorter than
// one record is ignored. Throws TevrinError with the device's text when a
// read fails (records before it are already delivered).
void ReadSavedRecords(QIODevice& device, const std::function<void(const SavedRecord&)>& onRecord);

// Appends the file's records to `records`. Returns false when the file cannot
// be opened (nothing appended); throws as ReadSavedRecords does.
bool ReadSavedTable(const QString& path, std::vector<SavedRecord>& records);

// Writes the rows not marked "-" in table order. The file is replaced only
// once every record is written; on failure the previous file stays whole and
// TevrinError carries the system's text. Creates the directory with parents.
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
