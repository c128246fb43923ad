// Appending 20,000 rows inside the bulk bracket and sorting them by channel
// name, against std::stable_sort of the same strings alone.
#include "bench/summary.h"
#include "table/channeltable.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tevrin;

int main() {
  constexpr int kRows = 20000;
  constexpr int kRounds = 5;
  QRandomGenerator random(20261209);
  QStringList names;
  for (int i = 0; i < kRows; ++i) {
    QString name;
    const int length = 6 + random.bounded(14);
    for (int c = 0; c < length; ++c)
      name += random.bounded(2) ? QChar(u'А' + random.bounded(32)) : QChar(u'a' + random.bounded(26));
    names << name;
  }
  double modelBest = 1e9, baseBest = 1e9;
  int resets = 0;
  for (int round = 0; round < kRounds; ++round) {
    ChannelTableModel model;
    QSignalSpy spy(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);  // the bracket publishes by one insert
    QElapsedTimer t;
    t.start();
    model.beginBulkUpdate();
    for (int i = 0; i < kRows; ++i) {
      ChannelRow row;
      row.subItems = {QString::number(i + 1), QStringLiteral("11804 V.DVB-S2"), names[i],
                      QStringLiteral("rus"),  QStringLiteral("H.264"),          kFreeToAirText};
      row.setImage(kSubName, kImageTv);
      row.setImage(kSubCoding, kImageFree);
      model.appendRow(std::move(row));
    }
    model.endBulkUpdate();
    model.sortByColumn(3);
    modelBest = std::min(modelBest, t.nsecsElapsed() / 1e6);
    resets = int(spy.count() + inserts.count());

    std::vector<QString> copy(names.begin(), names.end());
    QElapsedTimer b;
    b.start();
    std::stable_sort(copy.begin(), copy.end());
    baseBest = std::min(baseBest, b.nsecsElapsed() / 1e6);
  }
  std::printf("rows %d, view refreshes %d\n", kRows, resets);
  std::printf("append in bracket + sort by name: %.2f ms\n", modelBest);
  std::printf("std::stable_sort of the names alone: %.2f ms\n", baseBest);
  std::printf("ratio: %.2f\n", modelBest / baseBest);
  char on[128];
  std::snprintf(on, sizeof on, "%d rows, %d view refresh", kRows, resets);
  bench::SummaryRow("rows appended in the bracket and sorted", on, modelBest, "ms",
                    "std::stable_sort of the names", baseBest, "-");
  return 0;
}
