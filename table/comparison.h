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

// Marks the current rows whose key (transponder text followed by channel name,
// exact) the saved table lacks with "+" and the note "Появился" after their
// last sub-item; appends each saved row whose key no current row has, the rows
// appended so far included, marked "-" with its own row number and "Ушел".
ComparisonResult CompareWithPrevious(ChannelTableModel& current, const std::vector<SavedRecord>& previous);

// Compares `table` with the saved table of `satellite`, which is read into
// `previous` (replaced only when the whole file was read). Nothing when the
// satellite has no saved table; a read failure throws before a row is touched.
std::optional<ComparisonResult> CompareWithSaved(const QString& satellite, ChannelTableModel& table,
                                                 std::vector<SavedRecord>& previous);

QString ComparisonSummaryText(const ComparisonResult& result);

}  // namespace tevrin
