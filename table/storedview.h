#pragma once
#include "table/channeltable.h"
#include "table/records.h"

#include <QString>

class QIODevice;

namespace tevrin {

// "Применить фильтр" with its two package boxes "НТВ" and "Триколор".
struct PackageFilter {
  bool on = false;
  bool ntv = false;
  bool tri = false;
};

// With the filter on, a row is kept when a ticked package's pattern ("NTV",
// "Tri", case counts) occurs in its transponder text.
bool PassesPackageFilter(const QString& transponder, const PackageFilter& filter);

// A row of the stored view: number, the five texts, the television image on
// the name and the free or paid image on the encryption.
ChannelRow StoredViewRow(const SavedRecord& record, int number);

// Replaces the table by the records of the device that pass the filter, with
// their record texts, in one bulk update, numbered 1..N. A read failure keeps
// the rows read so far, closes the bulk update and throws.
void LoadStoredViewFrom(QIODevice& device, const PackageFilter& filter, ChannelTableModel& table);

// The same for the satellite's saved table, with the full texts kept beside
// it when they are valid (the filter then looks at the full transponder
// text). The table is emptied in any case; returns false, showing nothing,
// when the file does not open.
bool LoadStoredView(const QString& satellite, const PackageFilter& filter, ChannelTableModel& table);

}  // namespace tevrin
