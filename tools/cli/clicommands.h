#pragma once
#include "scan/satelliteflow.h"
#include "table/channeltable.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace tevrin::cli {

// Exit statuses: a compare that found nothing, one that found changes, and
// every error.
constexpr int kExitSame = 0;
constexpr int kExitChanged = 1;
constexpr int kExitError = 2;

// Runs one command line (arguments without the program name). Output goes to
// stdout, errors to stderr one line each.
int RunCommandLine(const QStringList& arguments);

// A message of the window as one stderr line: its "\r" breaks and indents
// collapse into single spaces.
QString OneLine(const QString& text);

// Rows as text: tab-separated lines of the eight table columns, or, for a
// terminal, a caption line and columns padded to their widest cell.
QByteArray FormatRows(const std::vector<ChannelRow>& rows, bool aligned);

QString HelpText();

// The batch's output and exit status, one satellite a line in the given order.
QByteArray SummaryTable(const std::vector<SatelliteOutcome>& outcomes);
QByteArray OutcomeJson(const SatelliteOutcome& outcome);  // one JSON object and "\n"
int BatchExitStatus(const std::vector<SatelliteOutcome>& outcomes);

}  // namespace tevrin::cli
