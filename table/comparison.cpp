#include "table/comparison.h"

#include <QSet>

namespace tevrin {
namespace {

// A channel is known by its transponder and name, in the table and in the file.
QString FullKey(const QString& transponder, const QString& name) { return transponder + name; }
QString RecordFormKey(const QString& transponder, const QString& name) {
  return RecordForm(transponder, kFieldTransponder) + RecordForm(name, kFieldChannelName);
}

// The keys of a set of rows, both ways; the record-form ones only when some
// saved record needs them.
struct Keys {
  QSet<QString> full, recordForm;
  bool withRecordForm = false;

  void insert(const QString& fullKey, const QString& transponder, const QString& name) {
    full.insert(fullKey);
    if (withRecordForm) recordForm.insert(RecordFormKey(transponder, name));
  }
};

}  // namespace

ComparisonResult CompareWithPrevious(ChannelTableModel& current, const std::vector<SavedRecord>& previous) {
  ComparisonResult result;
  if (!previous.empty()) result.date = previous.back().saveDate;

  // Each saved record is looked up the way it can be matched.
  QSet<QString> previousFull, previousRecordForm;
  previousFull.reserve(static_cast<qsizetype>(previous.size()));
  for (const SavedRecord& r : previous) {
    if (r.fullTexts) previousFull.insert(FullKey(r.transponder, r.channelName));
    else previousRecordForm.insert(RecordFormKey(r.transponder, r.channelName));
  }

  // New rows: only the rows present before this comparison appends any.
  const int currentCount = current.count();
  Keys currentKeys;
  currentKeys.withRecordForm = !previousRecordForm.isEmpty();
  currentKeys.full.reserve(currentCount + static_cast<qsizetype>(previous.size()));
  for (int i = 0; i < currentCount; ++i) {
    const ChannelRow& row = current.row(i);
    const QString transponder = row.subItem(kSubTransponder), name = row.subItem(kSubName);
    const QString key = FullKey(transponder, name);
    currentKeys.insert(key, transponder, name);
    const bool known =
        previousFull.contains(key) ||
        (currentKeys.withRecordForm && previousRecordForm.contains(RecordFormKey(transponder, name)));
    if (!known) {
      current.setMark(i, kMarkNew);
      current.appendSubItem(i, kNoteNew);
      ++result.newRows;
    }
  }

  // Gone rows: a row appended here counts as present for the saved rows after
  // it, so a key saved twice gives one gone row.
  for (const SavedRecord& r : previous) {
    const QString key = FullKey(r.transponder, r.channelName);
    const bool present = r.fullTexts
                             ? currentKeys.full.contains(key)
                             : currentKeys.recordForm.contains(RecordFormKey(r.transponder, r.channelName));
    if (present) continue;
    currentKeys.insert(key, r.transponder, r.channelName);
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
