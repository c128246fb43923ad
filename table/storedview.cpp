#include "table/storedview.h"

#include <QFile>

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

void LoadStoredViewFrom(QIODevice& device, const PackageFilter& filter, ChannelTableModel& table) {
  ChannelTableModel::BulkUpdate bracket(table);  // balanced when a read failure leaves the load
  table.clear();
  ReadSavedRecords(device, [&](const SavedRecord& record) {
    if (PassesPackageFilter(record.transponder, filter))
      table.appendRow(StoredViewRow(record, table.count() + 1));
  });
}

bool LoadStoredView(const QString& satellite, const PackageFilter& filter, ChannelTableModel& table) {
  QFile file(SavedTablePath(satellite));
  if (!file.open(QIODevice::ReadOnly)) {
    table.clear();
    return false;
  }
  LoadStoredViewFrom(file, filter, table);
  return true;
}

}  // namespace tevrin
