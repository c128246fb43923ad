#include "table/tableactions.h"

#include "app/messages.h"
#include "app/paths.h"
#include "table/comparison.h"
#include "table/csvexport.h"

#include <QFileInfo>

namespace tevrin {

QString NoPreviousTableText(const QString& satellite) {
  return QStringLiteral("Для спутника ") + satellite + QStringLiteral(" нет более ранних записей.\r") +
         QStringLiteral("(отсутствует файл для сравнения)");
}

QString ExportDoneText(const QString& path) { return QStringLiteral("Создан файл:\r") + path; }

bool SaveTableAction(const QString& groupCaption, const ChannelTableModel& table, const QDate& today) {
  if (table.count() == 0) return false;
  // Before any scan the caption names no satellite: writing "Base/.rec" would
  // serve nobody, so the user hears the same as from the comparison.
  if (groupCaption.isEmpty()) {
    Messages().information(kNoScanText);
    return false;
  }
  const QString path = SavedTablePath(groupCaption);
  const QFileInfo existing(path);
  if (existing.exists() &&
      !Messages().confirm(OverwriteQuestion(groupCaption, existing.lastModified().date())))
    return false;
  WriteSavedTable(path, table.rows(), today);
  return true;
}

void CompareAction(const QString& groupCaption, ChannelTableModel& table,
                   std::vector<SavedRecord>& previous) {
  if (groupCaption.isEmpty()) {
    Messages().information(kNoScanText);
    return;
  }
  std::vector<SavedRecord> records;
  const bool opened = ReadSavedTable(SavedTablePath(groupCaption), records);
  if (!opened) {
    Messages().information(NoPreviousTableText(groupCaption));
    return;
  }
  // Only a table read to its end replaces the previous one; a read failure
  // has thrown before any current row is touched.
  previous = std::move(records);
  const ComparisonResult result = CompareWithPrevious(table, previous);
  table.repaint();
  Messages().information(ComparisonSummaryText(result));
}

void StoredViewAction(const QString& comboText, const PackageFilter& filter, ChannelTableModel& table) {
  LoadStoredView(comboText, filter, table);
}

void ExportAction(const ChannelTableModel& table) {
  const QString path = BesideExe(QStringLiteral("exsport.csv"));
  ExportTable(table.rows(), path);
  Messages().information(ExportDoneText(path));
}

}  // namespace tevrin
