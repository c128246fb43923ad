#pragma once
#include "scan/scandriver.h"
#include "table/comparison.h"
#include "table/records.h"

#include <QDate>
#include <QString>

#include <optional>
#include <vector>

namespace tevrin {

class ChannelTableModel;
class ChartParserHost;
class IBindStatusCallback;

// The steps after a scan that the window's buttons, the single command-line
// scan and the batch all take: compare with the saved table (CompareWithSaved,
// table/comparison.h), then save (SaveSatelliteTable, table/records.h).

// What one satellite's run asks for.
struct FlowOptions {
  bool compare = false;
  bool save = false;
  bool noOverwrite = false;  // an existing saved table is never replaced
  QString exportPath;        // the scanned rows in the export format; empty: none
  QDate today = QDate::currentDate();
};

enum class FlowStatus { Ok, NoPreviousTable, Failed };

// How one satellite's run ended: the line of the batch summary.
struct SatelliteOutcome {
  int index = 0;  // catalogue entry 1..18
  FlowStatus status = FlowStatus::Ok;
  QString error;            // one line, for Failed
  bool errorShown = false;  // the error was already given as a message (the parser's own)
  bool scanned = false;     // the page was parsed, so rowsKept counts
  int rowsKept = 0;
  std::optional<ComparisonResult> comparison;  // set when a saved table was compared with
  QString savedPath;                           // set when the saved table was written
  bool tableWasEmpty = false;                  // a save was asked for but nothing was kept

  QString satellite() const;
  int position() const;
  // New or gone rows; a satellite without an earlier table counts as changed.
  bool changed() const {
    return status == FlowStatus::NoPreviousTable || (comparison && comparison->changes() > 0);
  }
  // "ok", "нет более ранних записей" or the error text.
  QString resultText() const;
};

// A failure with the error's text on one line.
SatelliteOutcome FailedOutcome(int index, const QString& text);

inline const QString kNoPreviousShortText = QStringLiteral("нет более ранних записей");

// The refusal of --no-overwrite, checked before anything is downloaded; empty
// when the satellite may go on.
QString RefusalBeforeScan(int index, const FlowOptions& options);

// Export, compare and save for a table that `scan` (the outcome of the scan
// step) filled. Every failure of these steps ends in the outcome, never as an
// exception, so one satellite's error does not stop the others.
SatelliteOutcome FinishSatelliteScan(int index, ScanResult scan, ChannelTableModel& table,
                                     const FlowOptions& options);

// The whole run of one satellite on the calling thread: refusal check, the
// download into cache.txt, the scan, then FinishSatelliteScan.
SatelliteOutcome RunSatelliteFlow(int index, ChannelTableModel& table, ChartParserHost& host,
                                  IBindStatusCallback* callback, const FlowOptions& options);

}  // namespace tevrin
