#include "table/storedview.h"

#include <vector>

namespace tevrin {
bool PassesPackageFilter(const QString& transponder, const PackageFilter& filter) {
  if (!filter.on) return true;
  return (filter.ntv && transponder.contains(QLatin1String("NTV"), Qt::CaseSensitive)) ||
         (filter.tri && transponder.contains(QLatin1String("Tri"), Qt::CaseSensitive));
}

ChannelRow StoredViewRow(const SavedRecord& record, int number) {
  ChannelRow row;
  row.subItems = {QString::number(number),
                  record.transponder,
                  record.channelName,
                  record.audio,
                  record.video,
                  record.coding};
  row.setChannelImages(record.coding == kFreeToAirText);
  return row;
}

namespace {
void AppendStoredRows(const std::vector<SavedRecord>& records, const PackageFilter& filter,
                      ChannelTableModel& table) {
  for (const SavedRecord& record : records)
    if (PassesPackageFilter(record.transponder, filter))
      table.appendRow(StoredViewRow(record, table.count() + 1));
}
}  // namespace

void LoadStoredViewFrom(QIODevice& device, const PackageFilter& filter, ChannelTableModel& table) {
  ChannelTableModel::BulkUpdate bracket(table);  // balanced when a read failure leaves the load
  table.clear();
  ReadSavedRecords(device, [&](const SavedRecord& record) {
    if (PassesPackageFilter(record.transponder, filter))
      table.appendRow(StoredViewRow(record, table.count() + 1));
  });
}

bool LoadStoredView(const QString& satellite, const PackageFilter& filter, ChannelTableModel& table) {
  ChannelTableModel::BulkUpdate bracket(table);  // balanced when a read failure leaves the load
  table.clear();
  std::vector<SavedRecord> records;
  try {
    // The full texts are known only once the whole file is read, so the rows follow.
    if (!ReadSavedTable(SavedTablePath(satellite), records)) return false;
  } catch (...) {
    AppendStoredRows(records, filter, table);  // the rows before the failure stay
    throw;
  }
  AppendStoredRows(records, filter, table);
  return true;
}

}  // namespace tevrin
