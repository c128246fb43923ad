#pragma once
#include "table/channeltable.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace tevrin {

// The transponder text cut at every "." and line break; a cut at the very end
// gives no empty piece after it, an empty text gives none at all.
QStringList TransponderPieces(const QString& transponder);

// One export line in UTF-8 with CR LF: pieces 0-2; pieces 3-4; piece 8; name;
// encryption; audio; video. A piece or sub-item the row lacks is written empty.
QByteArray ExportLine(const ChannelRow& row);

// Writes every row to the file in UTF-8 without a byte-order mark. The old
// file is replaced only when the whole export is written; a failure throws
// TevrinError with the system's text and leaves it as it was.
void ExportTable(const std::vector<ChannelRow>& rows, const QString& path);

}  // namespace tevrin
