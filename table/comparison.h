#pragma once
#include "table/channeltable.h"
#include "table/records.h"

#include <QString>
#include <optional>
#include <vector>

namespace tevrin {

inline const QString kNoteNew = QStringLiteral("Появился");
inline const QString kNoteGone = QStringLiteral("Ушел");

struct ComparisonResult {
  QString date;      // the save date of the last record; empty for an empty saved table
  int newRows = 0;   // current rows marked "+"
  int goneRows = 0;  // saved rows appended marked "-"
  int changes() const { return newRows + goneRows; }
};

// Marks the current rows that the saved table lacks with "+" and the note
// "Появился" after their last sub-item; appends each saved row that no current
// row has, the rows appended so far included, marked "-" with its own row
// number, its saved texts (the full ones when the record carries them) and
// "Ушел". So after the comparison the rows marked "+" and "-" are exactly the
// new and the gone channels, with the texts a user would recognise.
//
// A channel is known by its transponder text followed by its name, exactly.
// A saved record with full texts matches a row whose texts are equal. A record
// without them (a table from before the full texts were kept, or from another
// program) matches a row whose texts, put into record form (RecordForm), equal
// the record's: a name the code page lacks or the field cuts is not a change.
ComparisonResult CompareWithPrevious(ChannelTableModel& current, const std::vector<SavedRecord>& previous);

// Compares `table` with the saved table of `satellite`, which is read into
// `previous` (replaced only when the whole file was read). Nothing when the
// satellite has no saved table; a read failure throws before a row is touched.
std::optional<ComparisonResult> CompareWithSaved(const QString& satellite, ChannelTableModel& table,
                                                 std::vector<SavedRecord>& previous);

QString ComparisonSummaryText(const ComparisonResult& result);

}  // namespace tevrin
