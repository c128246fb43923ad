#pragma once
#include "scan/download.h"
#include "scan/satelliteflow.h"

#include <QString>

#include <functional>
#include <vector>

namespace tevrin {

class ChartParserHost;

struct BatchOptions {
  FlowOptions flow;   // exportPath is ignored: exportDir names one file per satellite
  QString exportDir;  // DIR/<satellite>.csv for each scanned satellite; empty: none
  int jobs = 4;       // charts in flight at once
  DownloadLimits limits = DefaultDownloadLimits();
};

// Scans the satellites (catalogue entries 1..18, in catalogue order without
// repeats) as the single scan does each of them. Up to `jobs` charts download
// at once on worker threads, each into its own scratch file in a private
// directory beside the executable that is gone afterwards; the calling thread
// parses, compares and saves one satellite at a time in catalogue order while
// later charts still download. `onOutcome` gets each outcome in that order, so
// nothing it prints depends on timing. Needs a QCoreApplication.
std::vector<SatelliteOutcome> RunBatchScan(std::vector<int> indexes, ChartParserHost& host,
                                           const BatchOptions& options,
                                           const std::function<void(const SatelliteOutcome&)>& onOutcome);

}  // namespace tevrin
