#include "scan/chartparser.h"

#include "app/messages.h"
#include "scan/htmltree.h"
#include "scan/innertext.h"
#include "scan/scancancel.h"
#include "table/channeltable.h"

#include <QElapsedTimer>

#include <climits>
#include <vector>

namespace tevrin {
namespace {

constexpr qint64 kDefaultMaxPageTextBytes = qint64(64) * 1024 * 1024;
qint64 gMaxPageTextBytes = kDefaultMaxPageTextBytes;

// A transponder row has five cells; a channel row has eleven or more.
constexpr int kTransponderCells = 5;
constexpr int kChannelCells = 11;
// The transponder cell starts with three characters that are not part of it.
constexpr int kTransponderPrefix = 3;

// UTF-8 length of a UTF-16 text (a lone surrogate becomes a 3-byte U+FFFD).
qint64 Utf8Length(QStringView text) {
  qint64 bytes = 0;
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = text[i].unicode();
    if (c < 0x80) {
      bytes += 1;
    } else if (c < 0x800) {
      bytes += 2;
    } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
      bytes += 4;
      ++i;
    } else {
      bytes += 3;
    }
  }
  return bytes;
}

bool OverSizeLimit(const QString& text) {
  const qint64 limit = gMaxPageTextBytes;
  if (qint64(text.size()) * 3 <= limit) return false;  // no UTF-16 unit takes more than 3 bytes
  return Utf8Length(text) > limit;
}

void ChildElements(const GumboNode* row, std::vector<const GumboNode*>& cells) {
  cells.clear();
  const GumboVector& kids = row->v.element.children;
  for (unsigned i = 0; i < kids.length; ++i) {
    const GumboNode* child = static_cast<const GumboNode*>(kids.data[i]);
    if (IsElement(child)) cells.push_back(child);
  }
}

// A channel row of the table, under the transponder read last.
ChannelRow MakeRow(const QString& transponder, const std::vector<const GumboNode*>& cells,
                   const QString& audio, int number) {
  const QString encryption = InnerText(cells[4]);
  const bool freeToAir = encryption == QLatin1String("FTA");
  ChannelRow row;
  row.subItems.reserve(6);
  // The page is decoded once, correctly, so the name is taken as it is.
  row.subItems << QString::number(number) << transponder << InnerText(cells[2]) << audio
               << InnerText(cells[8]) << (freeToAir ? kFreeToAirText : CleanCellText(encryption));
  row.setChannelImages(freeToAir);
  return row;
}

}  // namespace

void SetMaxPageTextBytes(qint64 bytes) { gMaxPageTextBytes = bytes; }
qint64 MaxPageTextBytes() { return gMaxPageTextBytes; }

QString CleanCellText(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    if (c == u'\r') out.append(u'.');
    else if (c != u'\n') out.append(c);
  }
  return out;
}

bool IsWantedLanguage(const QString& audio, ChartParserHost& host) {
  for (qsizetype p = 0; p + 3 <= audio.size(); ++p) {
    const QStringView w = QStringView(audio).sliced(p, 3);
    if (w == u"rus" && host.isTicked(Language::Rus)) return true;
    if (w == u"ukr" && host.isTicked(Language::Ukr)) return true;
    if (w == u"bel" && host.isTicked(Language::Bel)) return true;
    if (host.isTicked(Language::Other) && w == host.otherLanguageText()) return true;
  }
  return false;
}

bool ParseChartPage(const QString& pageText, ChannelTableModel& table, ChartParserHost& host) {
  if (OverSizeLimit(pageText)) {
    Messages().plain(kDocumentErrorText);
    return false;
  }
  // The tree is built on a thread of its own while the window keeps answering;
  // its rows are walked here, on the caller's thread.
  const int walkMillis = CurrentTreeBounds().walkMillis;
  HtmlTree tree;
  host.showBusy(true);
  const TreeBuild build = HtmlTree::Build(
      pageText.toUtf8(), [&host] { host.processEvents(); }, tree);
  host.showBusy(false);
  if (build == TreeBuild::Cancelled) return false;  // the tool is closing: no message
  if (build == TreeBuild::Refused) {
    Messages().plain(kDocumentErrorText);
    return false;
  }

  const std::vector<const GumboNode*>& rows = tree.rows();
  host.setProgressMaximum(static_cast<int>(std::min<size_t>(rows.size(), INT_MAX)));

  // The transponder row's text stands for every channel row under it. A
  // channel row's other cells are read only once its language has passed.
  QString transponder;
  std::vector<const GumboNode*> cells;
  QElapsedTimer walking;
  walking.start();
  for (const GumboNode* tr : rows) {
    ChildElements(tr, cells);
    host.stepProgress();
    const size_t count = cells.size();
    if (count == kTransponderCells) {
      const QString text = InnerText(cells[1]);
      transponder =
          text.size() > kTransponderPrefix ? CleanCellText(text.mid(kTransponderPrefix)) : QString();
    } else if (count >= kChannelCells) {
      const QString audio = CleanCellText(InnerText(cells[9]));
      // The kind is looked at only when the language has passed.
      if (IsWantedLanguage(audio, host) && InnerText(cells[3]) != QLatin1String("R")) {
        table.appendRow(MakeRow(transponder, cells, audio, table.count() + 1));
        host.enableSave();
      }
    }
    // Rows of 6 to 10 cells are neither; a ten-cell row in particular reads
    // nothing and so must not repeat the previous channel.
    host.processEvents();
    if (ScanCancel::instance().isRequested()) return false;
    // Cells of nested tables hold each other's text: a hostile page can make
    // every row cost as much as the whole page.
    if (walking.elapsed() >= walkMillis) {
      Messages().plain(kDocumentErrorText);
      return false;
    }
  }
  return true;
}

}  // namespace tevrin
