#include "table/csvexport.h"

#include "app/errors.h"

#include <QSaveFile>

namespace tevrin {

QStringList TransponderPieces(const QString& transponder) {
  QStringList pieces;
  const qsizetype n = transponder.size();
  qsizetype start = 0;
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = transponder[i];
    if (c != u'.' && c != u'\r' && c != u'\n') continue;
    pieces.append(transponder.mid(start, i - start));
    if (c == u'\r' && i + 1 < n && transponder[i + 1] == u'\n') ++i;  // CR LF is one break
    start = i + 1;
  }
  if (start < n) pieces.append(transponder.mid(start));
  return pieces;
}

QByteArray ExportLine(const ChannelRow& row) {
  const QStringList p = TransponderPieces(row.subItem(kSubTransponder));
  auto piece = [&p](int k) { return k < p.size() ? p[k] : QString(); };
  const QChar sep = u';';
  const QString line = piece(0) + piece(1) + piece(2) + sep + piece(3) + piece(4) + sep + piece(8) + sep +
                       row.subItem(kSubName) + sep + row.subItem(kSubCoding) + sep + row.subItem(kSubAudio) +
                       sep + row.subItem(kSubVideo);
  QByteArray bytes = line.toUtf8();
  bytes.append("\r\n");
  return bytes;
}

void ExportTable(const std::vector<ChannelRow>& rows, const QString& path) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) throw TevrinError(file.errorString());
  bool written = true;
  for (const ChannelRow& row : rows) {
    const QByteArray line = ExportLine(row);
    if (file.write(line) != line.size()) {
      written = false;
      break;
    }
  }
  // The commit after a failed write reports the system's text of that failure.
  if (!file.commit() || !written) throw TevrinError(file.errorString());
}

}  // namespace tevrin
