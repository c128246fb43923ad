#include "scan/scandriver.h"

#include "app/paths.h"
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

ScanResult RunChartScan(int index, ChannelTableModel& table, ChartParserHost& host,
                        IBindStatusCallback* callback) {
  const QString address = ChartAddress(index);
  ScanCancel::instance().clear();
  ChannelTableModel::BulkUpdate bracket(table);  // closed however the scan ends
  table.clear();
  ChartUrlCount = 1;
  ChartUrlIndex = 1;
  const QString scratch = BesideExe(QStringLiteral("cache.txt"));
  if (!DownloadToFile(address, scratch, callback)) return ScanResult::DownloadFailed;
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

}  // namespace tevrin
