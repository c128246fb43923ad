// The export line of one table row, whose texts come from pages, saved tables
// and the user's edits.
#include "fuzz/fuzzsupport.h"
#include "table/csvexport.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tevrin::fuzz::EnsureApp();
  return 0;
}

// The input is UTF-16LE code units, so that lone surrogates and every other
// unit can occur; a U+0000 unit ends one sub-item and starts the next.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tevrin::ChannelRow row;
  QString text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) {
      row.subItems.append(text);
      text.clear();
    } else {
      text.append(QChar(unit));
    }
  }
  row.subItems.append(text);

  const QByteArray line = tevrin::ExportLine(row);

  TEVRIN_FUZZ_CHECK(line.endsWith("\r\n"), QString::fromUtf8(line));
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString decoded = utf8.decode(line);
  TEVRIN_FUZZ_CHECK(!utf8.hasError(), QString::fromUtf8(line.toHex()));

  // Six separators of the line's own, plus those the written texts carry; of
  // the transponder only pieces 0-4 and 8 are written.
  const QStringList pieces = tevrin::TransponderPieces(row.subItem(tevrin::kSubTransponder));
  qsizetype own = 0;
  for (int k : {0, 1, 2, 3, 4, 8}) own += pieces.value(k).count(u';');
  for (int k : {tevrin::kSubName, tevrin::kSubCoding, tevrin::kSubAudio, tevrin::kSubVideo})
    own += row.subItem(k).count(u';');
  TEVRIN_FUZZ_CHECK(line.count(';') == own + 6,
                    QStringLiteral("%1 vs %2: ").arg(line.count(';')).arg(own) + decoded);

  // The pieces are what lies between the breaks.
  for (const QString& piece : pieces)
    TEVRIN_FUZZ_CHECK(!piece.contains(u'.') && !piece.contains(u'\r') && !piece.contains(u'\n'), piece);
  return 0;
}
