#include "table/comparison.h"

#include <QSet>

namespace tevrin {
namespace {

// A channel is known by its transponder and name, in the table and in the file.
QString RowKey(const ChannelRow& row) { return row.subItem(kSubTransponder) + row.subItem(kSubName); }
QString RowKey(const SavedRecord& record) { return record.transponder + record.channelName; }

}  // namespace

ComparisonResult CompareWithPrevious(ChannelTableModel& current, const std::vector<SavedRecord>& previous) {
  ComparisonResult result;
  if (!previous.empty()) result.date = previous.back().saveDate;

  QSet<QString> previousKeys;
  previousKeys.reserve(static_cast<qsizetype>(previous.size()));
  for (const SavedRecord& r : previous) previousKeys.insert(RowKey(r));

  // New rows: only the rows present before this comparison appends any.
  const int currentCount = current.count();
  QSet<QString> currentKeys;
  currentKeys.reserve(currentCount + static_cast<qsizetype>(previous.size()));
  for (int i = 0; i < currentCount; ++i) {
    const QString key = RowKey(current.row(i));
    currentKeys.insert(key);
    if (!previousKeys.contains(key)) {
      current.setMark(i, kMarkNew);
      current.appendSubItem(i, kNoteNew);
      ++result.newRows;
    }
  }

  // Gone rows: a key appended here counts as present for the saved rows after
  // it, so a key saved twice gives one gone row.
  for (const SavedRecord& r : previous) {
    const QString key = RowKey(r);
    if (currentKeys.contains(key)) continue;
    currentKeys.insert(key);
    ChannelRow gone;
    gone.mark = kMarkGone;
    gone.subItems = {QString::number(current.count() + 1),
                     r.transponder,
                     r.channelName,
                     r.audio,
                     r.video,
                     r.coding,
                     kNoteGone};
    current.appendRow(std::move(gone));
    ++result.goneRows;
  }
  return result;
}

std::optional<ComparisonResult> CompareWithSaved(const QString& satellite, ChannelTableModel& table,
                                                 std::vector<SavedRecord>& previous) {
  std::vector<SavedRecord> records;
  if (!ReadSavedTable(SavedTablePath(satellite), records)) return std::nullopt;
  // Only a table read to its end replaces the previous one; a read failure
  // has thrown before any current row is touched.
  previous = std::move(records);
  return CompareWithPrevious(table, previous);
}

QString ComparisonSummaryText(const ComparisonResult& result) {
  const QString dateLine = QStringLiteral("(сравнивался с датой: ") + result.date + QStringLiteral("г.)");
  if (result.changes() == 0)
    return QStringLiteral("Сравнение завершено.\r") + dateLine +
           QStringLiteral("\r\rИзменений не обнаружено.");
  return QStringLiteral("Сравнение завершено\r") + dateLine + QStringLiteral("\r\rНайдено ") +
         QString::number(result.changes()) + QStringLiteral(" новых записей.");
}

}  // namespace tevrin
