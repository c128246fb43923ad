#include "scan/scandriver.h"

#include "app/errors.h"
#include "app/paths.h"
#include "scan/bundledsite.h"
#include "scan/catalogue.h"
#include "scan/chartparser.h"
#include "scan/download.h"
#include "scan/pagetext.h"
#include "scan/scancancel.h"
#include "table/channeltable.h"

#include <QFile>

namespace tevrin {
namespace {
// The transponder column: sorting by it is the header click on column 2.
constexpr int kTransponderColumn = 2;
}  // namespace

bool AnyLanguageTicked(ChartParserHost& host) {
  return host.isTicked(Language::Rus) || host.isTicked(Language::Ukr) || host.isTicked(Language::Bel) ||
         host.isTicked(Language::Other);
}

namespace {
// Reads and deletes the scratch file, parses it into the emptied table and
// sorts it. The caller has opened the bracket; it is closed before the sort.
ScanResult ParseScratchFile(const QString& scratch, ChannelTableModel& table, ChartParserHost& host,
                            ChannelTableModel::BulkUpdate& bracket) {
  QString page;
  try {
    page = ReadPageFile(scratch);
  } catch (...) {
    QFile::remove(scratch);
    throw;
  }
  QFile::remove(scratch);  // a scratch file that cannot be deleted is overwritten next time
  if (!ParseChartPage(page, table, host)) return ScanResult::DocumentFailed;
  bracket.close();
  table.sortByColumn(kTransponderColumn);
  return ScanResult::Completed;
}
}  // namespace

ScanResult RunChartScan(int index, ChannelTableModel& table, ChartParserHost& host,
                        IBindStatusCallback* callback) {
  ScanCancel::instance().clear();  // a close request belongs to the scan it interrupted
  const QString address = ChartAddress(index);
  ChannelTableModel::BulkUpdate bracket(table);  // closed however the scan ends
  table.clear();
  ChartUrlCount = 1;
  ChartUrlIndex = 1;
  const QString scratch = BesideExe(QStringLiteral("cache.txt"));
  EnsureBundledChartSite([&host] { host.processEvents(); });
  QString fileError;
  if (!DownloadToFile(address, scratch, callback, DefaultDownloadLimits(), &fileError)) {
    // The network was fine but the scratch file was not: the general error display, not the tool's end.
    if (!fileError.isEmpty()) throw TevrinError(fileError);
    return ScanResult::DownloadFailed;
  }
  return ParseScratchFile(scratch, table, host, bracket);
}

ScanResult ScanDownloadedChart(const QString& scratch, ChannelTableModel& table, ChartParserHost& host) {
  ChannelTableModel::BulkUpdate bracket(table);
  table.clear();
  return ParseScratchFile(scratch, table, host, bracket);
}

}  // namespace tevrin
