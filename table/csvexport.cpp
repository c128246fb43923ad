#include "table/csvexport.h"

#include "app/savefile.h"

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
  const auto piece = [&p](int k) { return p.value(k); };
  const QChar sep = u';';
  const QString line = piece(0) + piece(1) + piece(2) + sep + piece(3) + piece(4) + sep + piece(8) + sep +
                       row.subItem(kSubName) + sep + row.subItem(kSubCoding) + sep + row.subItem(kSubAudio) +
                       sep + row.subItem(kSubVideo);
  QByteArray bytes = line.toUtf8();
  bytes.append("\r\n");
  return bytes;
}

void ExportTable(const std::vector<ChannelRow>& rows, const QString& path) {
  WriteFileWhole(path, [&rows](QIODevice& file) {
    for (const ChannelRow& row : rows) {
      const QByteArray line = ExportLine(row);
      if (file.write(line) != line.size()) return false;
    }
    return true;
  });
}

}  // namespace tevrin
