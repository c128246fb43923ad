// Timing of the table operations that grow with the number of rows: the stored
// view, the comparison, the export and the save, at 1,000 / 10,000 / 100,000
// rows. Prints milliseconds and nanoseconds per row; the per-row figure should
// stay flat as the table grows. The save and the export are also set against
// the same bytes written durably in one go, measured in the same run.
#include "app/paths.h"
#include "bench/summary.h"
#include "table/channeltable.h"
#include "table/comparison.h"
#include "table/csvexport.h"
#include "table/fulltexts.h"
#include "table/records.h"
#include "table/storedview.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

using namespace tevrin;

namespace {

const QString kSat = QStringLiteral("Bench 13.0°E");

std::vector<ChannelRow> MakeRows(int n) {
  static const QString names[] = {QStringLiteral("Первый канал"), QStringLiteral("Россия 1 HD"),
                                  QStringLiteral("Discovery Channel"), QStringLiteral("НТВ Мир")};
  std::vector<ChannelRow> rows;
  rows.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    ChannelRow row;
    const QString pack =
        i % 3 == 0 ? QStringLiteral("NTV+") : (i % 3 == 1 ? QStringLiteral("Tricolor") : QString());
    row.subItems = {
        QString::number(i + 1),
        QStringLiteral("%1.H.27500.DVB-S2.8PSK.3/4.%2.SID %3.").arg(10700 + i % 2000).arg(pack).arg(i),
        names[i % 4] + QStringLiteral(" ") + QString::number(i),
        QStringLiteral("rus eng"),
        QStringLiteral("MPEG-4"),
        i % 2 ? kFreeToAirText : QStringLiteral("DRE Crypt")};
    rows.push_back(std::move(row));
  }
  return rows;
}

// The best of `runs` timings of `work`, each after an untimed `prepare`.
double BestMs(int runs, const std::function<void()>& work, const std::function<void()>& prepare = {}) {
  double best = 1e18;
  for (int r = 0; r < runs; ++r) {
    if (prepare) prepare();
    QElapsedTimer t;
    t.start();
    work();
    best = std::min(best, t.nsecsElapsed() / 1e6);
  }
  return best;
}

std::map<std::string, std::map<int, double>> figures;

void Report(const char* what, int n, double ms) {
  std::printf("%-28s %7d rows %9.2f ms %8.0f ns/row\n", what, n, ms, ms * 1e6 / n);
  figures[what][n] = ms;
}

// The least a durable replacement of the same bytes costs: the rows made into
// bytes in memory as the writer makes them, then for each file one write of
// them all into a new file, one fsync, the rename over the name. What the writer adds beyond
// that is its own cost (system calls, the temporary file's handling).
std::map<std::string, std::map<int, double>> baselines;

// The files one operation writes, made in memory: name and bytes.
using MadeFiles = std::vector<std::pair<QString, QByteArray>>;

void MeasureBaseline(const char* what, int n, int runs, const std::function<MadeFiles()>& makeFiles) {
  qint64 size = 0;
  baselines[what][n] = BestMs(runs, [&] {
    size = 0;
    for (const auto& [path, bytes] : makeFiles()) {
      const QByteArray temp = QFile::encodeName(path + QStringLiteral(".baseline"));
      const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() || ::fsync(fd) != 0)
        std::printf("baseline write failed\n");
      ::close(fd);
      ::rename(temp.constData(), QFile::encodeName(path).constData());
      size += bytes.size();
    }
  });
  std::printf("%-28s %7d rows %9.2f ms (made in memory, one write and fsync a file, %lld bytes)\n",
              "  baseline", n, baselines[what][n], static_cast<long long>(size));
}

void SummariseAgainstBaseline(const char* what) {
  for (int n : {10000, 100000}) {
    char on[64];
    std::snprintf(on, sizeof on, "%d rows", n);
    bench::SummaryRow(what, on, figures[what][n], "ms", "the same bytes made in memory, one write + fsync",
                      baselines[what][n], "<= 1.3");
  }
}

// Growth against the table ten times smaller: a ratio near 1 is linear, near
// 10 quadratic.
void SummariseGrowth(const char* what) {
  const std::map<int, double>& at = figures[what];
  for (int n : {10000, 100000}) {
    char on[64];
    std::snprintf(on, sizeof on, "%d rows", n);
    bench::SummaryRow(what, on, at.at(n), "ms",
                      n == 10000 ? "10 x the 1,000-row figure" : "10 x the 10,000-row figure",
                      10 * at.at(n / 10), n == 10000 ? "< 50 ms, linear (~1)" : "linear (~1)");
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  SetExeDirOverride(dir.path());
  const int runs = 3;
  for (int n : {1000, 10000, 100000}) {
    const std::vector<ChannelRow> rows = MakeRows(n);
    const QDate today(2024, 2, 1);

    Report("save", n, BestMs(runs, [&] { WriteSavedTable(SavedTablePath(kSat), rows, today); }));
    // The record file and the companion that keeps the full texts, as the save makes them.
    MeasureBaseline("save", n, runs, [&] {
      QByteArray records;
      records.reserve(qsizetype(rows.size()) * kRecordSize);
      FullTextsFile texts;
      const QString date = SaveDateText(today);
      for (const ChannelRow& row : rows) {
        const SavedRecord record{row.subItem(kSubTransponder), row.subItem(kSubName),
                                 row.subItem(kSubAudio),       row.subItem(kSubVideo),
                                 row.subItem(kSubCoding),      date};
        const TChannelRec rec = EncodeRecord(record);
        records.append(reinterpret_cast<const char*>(rec.bytes), kRecordSize);
        texts.rows.push_back(FullTextsOf(record));
      }
      texts.recordFile = StampOf(records);
      MadeFiles files{{SavedTablePath(kSat), records}};
      const QByteArray companion = EncodeFullTexts(texts);
      if (companion.size() <= kMaxFullTextsBytes)
        files.emplace_back(FullTextsPath(SavedTablePath(kSat)), companion);
      return files;
    });

    ChannelTableModel table;
    Report("stored view", n, BestMs(runs, [&] { LoadStoredView(kSat, {}, table); }));
    Report("stored view, NTV filter", n, BestMs(runs, [&] {
             LoadStoredView(kSat, PackageFilter{true, true, false}, table);
           }));

    // The saved table against a scan in which every tenth channel was renamed.
    std::vector<SavedRecord> previous;
    ReadSavedTable(SavedTablePath(kSat), previous);
    std::vector<ChannelRow> scanned = rows;
    for (size_t i = 0; i < scanned.size(); i += 10) scanned[i].subItems[2] += QStringLiteral(" new");
    ComparisonResult result;
    const auto compare = [&] { result = CompareWithPrevious(table, previous); };
    const auto loadScan = [&] {
      table.clear();
      for (const ChannelRow& r : scanned) table.appendRow(r);
    };
    Report("comparison", n, BestMs(runs, compare, loadScan));
    if (result.changes() != 2 * ((n + 9) / 10)) std::printf("unexpected change count %d\n", result.changes());

    Report("export", n, BestMs(runs, [&] { ExportTable(table.rows(), BesideExe("exsport.csv")); }));
    MeasureBaseline("export", n, runs, [&] {
      QByteArray bytes;
      for (const ChannelRow& row : table.rows()) bytes += ExportLine(row);
      return MadeFiles{{BesideExe("exsport.csv"), bytes}};
    });
  }
  SetExeDirOverride(QString());
  for (const char* what : {"stored view", "comparison", "export", "save"}) SummariseGrowth(what);
  for (const char* what : {"save", "export"}) SummariseAgainstBaseline(what);
  return 0;
}
