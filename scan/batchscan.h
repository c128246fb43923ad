#pragma once
#include "scan/download.h"
#include "scan/satelliteflow.h"

#include <QString>

#include <chrono>
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
// nothing it prints depends on timing. A cancelled scan (ScanCancel: a stop
// signal) ends the run between two satellites, with the outcomes so far; the
// downloads in flight end at once. Needs a QCoreApplication.
std::vector<SatelliteOutcome> RunBatchScan(std::vector<int> indexes, ChartParserHost& host,
                                           const BatchOptions& options,
                                           const std::function<void(const SatelliteOutcome&)>& onOutcome);

// What a killed run (SIGKILL, a power cut) left beside the executable: the
// temporary files of unfinished writes there and in Base/, and batch folders.
// Only what is at least `minimumAge` old and held by no live run goes.
void RemoveStaleLitter(std::chrono::seconds minimumAge = std::chrono::minutes(1));

}  // namespace tevrin
