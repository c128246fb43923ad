#include "table/tableactions.h"

#include "app/messages.h"
#include "app/paths.h"
#include "table/comparison.h"
#include "table/csvexport.h"

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
  const SaveResult saved = SaveSatelliteTable(groupCaption, table, today, [&](const QDate& modified) {
    return Messages().confirm(OverwriteQuestion(groupCaption, modified));
  });
  return saved == SaveResult::Saved;
}

void CompareAction(const QString& groupCaption, ChannelTableModel& table,
                   std::vector<SavedRecord>& previous) {
  if (groupCaption.isEmpty()) {
    Messages().information(kNoScanText);
    return;
  }
  const std::optional<ComparisonResult> result = CompareWithSaved(groupCaption, table, previous);
  if (!result) {
    Messages().information(NoPreviousTableText(groupCaption));
    return;
  }
  table.repaint();
  Messages().information(ComparisonSummaryText(*result));
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
