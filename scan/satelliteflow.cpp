#include "scan/satelliteflow.h"

#include "app/errors.h"
#include "scan/catalogue.h"
#include "scan/chartparser.h"
#include "table/channeltable.h"
#include "table/csvexport.h"

#include <QDir>
#include <QFileInfo>

#include <exception>

namespace tevrin {
namespace {
QString AlreadyExistsText(const QString& path) {
  return QStringLiteral("файл уже существует: ") + QDir::toNativeSeparators(path);
}
}  // namespace

SatelliteOutcome FailedOutcome(int index, const QString& text) {
  SatelliteOutcome outcome;
  outcome.index = index;
  outcome.status = FlowStatus::Failed;
  outcome.error = text.simplified();
  return outcome;
}

QString SatelliteOutcome::satellite() const { return SatelliteName(index); }
int SatelliteOutcome::position() const { return ChartPosition(index); }

QString SatelliteOutcome::resultText() const {
  switch (status) {
    case FlowStatus::Ok: return QStringLiteral("ok");
    case FlowStatus::NoPreviousTable: return kNoPreviousShortText;
    case FlowStatus::Failed: break;
  }
  return error;
}

QString RefusalBeforeScan(int index, const FlowOptions& options) {
  const QString path = SavedTablePath(SatelliteName(index));
  if (options.save && options.noOverwrite && QFileInfo::exists(path)) return AlreadyExistsText(path);
  return {};
}

SatelliteOutcome FinishSatelliteScan(int index, ScanResult scan, ChannelTableModel& table,
                                     const FlowOptions& options) {
  switch (scan) {
    case ScanResult::Completed: break;
    case ScanResult::DownloadFailed: return FailedOutcome(index, kDownloadErrorText);
    case ScanResult::DocumentFailed: {
      SatelliteOutcome failed = FailedOutcome(index, kDocumentErrorText);  // the parser has shown it already
      failed.errorShown = true;
      return failed;
    }
  }
  SatelliteOutcome outcome;
  outcome.index = index;
  outcome.scanned = true;
  outcome.rowsKept = table.count();
  const QString satellite = SatelliteName(index);
  try {
    // The export holds the rows as scanned, before any comparison mark.
    if (!options.exportPath.isEmpty()) ExportTable(table.rows(), options.exportPath);
    if (options.compare) {
      std::vector<SavedRecord> previous;
      outcome.comparison = CompareWithSaved(satellite, table, previous);
      if (!outcome.comparison) outcome.status = FlowStatus::NoPreviousTable;
    }
    if (options.save) {
      // Gone rows appended by the comparison are left out by the writer.
      const bool noOverwrite = options.noOverwrite;
      switch (SaveSatelliteTable(satellite, table, options.today,
                                 [noOverwrite](const QDate&) { return !noOverwrite; })) {
        case SaveResult::Saved: outcome.savedPath = SavedTablePath(satellite); break;
        case SaveResult::EmptyTable: outcome.tableWasEmpty = true; break;
        case SaveResult::Kept: return FailedOutcome(index, AlreadyExistsText(SavedTablePath(satellite)));
      }
    }
  } catch (const std::exception& e) {
    SatelliteOutcome failed = FailedOutcome(index, ErrorDisplayText(e));
    failed.scanned = true;
    failed.rowsKept = outcome.rowsKept;
    return failed;
  }
  return outcome;
}

SatelliteOutcome RunSatelliteFlow(int index, ChannelTableModel& table, ChartParserHost& host,
                                  IBindStatusCallback* callback, const FlowOptions& options) {
  if (const QString refusal = RefusalBeforeScan(index, options); !refusal.isEmpty())
    return FailedOutcome(index, refusal);
  ScanResult scan = ScanResult::DownloadFailed;
  try {
    scan = RunChartScan(index, table, host, callback);
  } catch (const std::exception& e) {
    return FailedOutcome(index, ErrorDisplayText(e));
  }
  return FinishSatelliteScan(index, scan, table, options);
}

}  // namespace tevrin
