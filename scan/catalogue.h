#pragma once
#include <QString>

namespace tevrin {

// The satellites of the scan, in the order of the satellite combo box. Entry 0
// is the prompt and has no chart. An entry's text is also the satellite's name
// in the saved-table file names.
struct Satellite {
  const char16_t* name;
  int position;  // the chart site's number of the orbital slot; 0 for the prompt
};

constexpr int kSatelliteCount = 19;
QString SatelliteName(int index);
int ChartPosition(int index);  // 0 for the prompt or an index out of range
// Index of the entry with exactly this name, or -1.
int SatelliteIndexByName(const QString& name);

// Base addresses: the build's default, overridden by the environment variables
// TEVRIN_CHART_URL and TEVRIN_SITE_URL. No trailing slash.
QString ChartSiteUrl();
QString MakerSiteUrl();

// base + "/charts?position=" + position; empty for the prompt.
QString ChartAddress(int index);

}  // namespace tevrin
