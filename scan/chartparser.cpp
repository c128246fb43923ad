#include "scan/chartparser.h"

#include "app/messages.h"
#include "scan/innertext.h"
#include "table/channeltable.h"

#include <QThread>

#include <gumbo.h>

#include <climits>
#include <memory>
#include <vector>

namespace tevrin {
namespace {

constexpr qint64 kDefaultMaxPageTextBytes = qint64(64) * 1024 * 1024;
qint64 gMaxPageTextBytes = kDefaultMaxPageTextBytes;

const QString kDocumentError = QStringLiteral("Ошибка создания IHTMLDocument2");

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

// gumbo frees its tree recursively, about 40 bytes of stack per level. A
// hostile page can nest millions of levels deep, so a deep tree is freed on a
// thread whose stack is sized for it.
constexpr size_t kShallowTreeDepth = 20000;
#if defined(__SANITIZE_ADDRESS__)
constexpr quint64 kStackBytesPerLevel = 512;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr quint64 kStackBytesPerLevel = 512;
#else
constexpr quint64 kStackBytesPerLevel = 128;
#endif
#else
constexpr quint64 kStackBytesPerLevel = 128;
#endif

struct GumboDeleter {
  const GumboOptions* options;
  const size_t* depth;
  void operator()(GumboOutput* output) const {
    if (*depth <= kShallowTreeDepth) {
      gumbo_destroy_output(options, output);
      return;
    }
    const quint64 wanted = quint64(16) * 1024 * 1024 + quint64(*depth) * kStackBytesPerLevel;
    std::unique_ptr<QThread> thread(
        QThread::create([this, output] { gumbo_destroy_output(options, output); }));
    thread->setStackSize(static_cast<uint>(std::min<quint64>(wanted, quint64(3584) * 1024 * 1024)));
    thread->start();
    thread->wait();
  }
};

// Every TR element of the document in document order, found without recursion.
// Template contents are not part of the document: their rows are not taken,
// but their depth counts for freeing the tree.
std::vector<const GumboNode*> TableRows(const GumboNode* root, size_t& depth) {
  struct Entry {
    const GumboNode* node;
    unsigned next;
    bool inTemplate;
  };
  std::vector<const GumboNode*> rows;
  std::vector<Entry> stack;
  stack.push_back({root, 0, false});
  while (!stack.empty()) {
    Entry& entry = stack.back();
    const GumboVector* kids = entry.node->type == GUMBO_NODE_DOCUMENT ? &entry.node->v.document.children
                              : IsElement(entry.node)                 ? &entry.node->v.element.children
                                                                      : nullptr;
    if (!kids || entry.next >= kids->length) {
      stack.pop_back();
      continue;
    }
    const GumboNode* child = static_cast<const GumboNode*>(kids->data[entry.next++]);
    if (!IsElement(child)) continue;
    const bool inTemplate = entry.inTemplate || child->type == GUMBO_NODE_TEMPLATE;
    if (!inTemplate && child->v.element.tag == GUMBO_TAG_TR &&
        child->v.element.tag_namespace == GUMBO_NAMESPACE_HTML)
      rows.push_back(child);
    stack.push_back({child, 0, inTemplate});  // invalidates entry
    depth = std::max(depth, stack.size());
  }
  return rows;
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
    Messages().plain(kDocumentError);
    return false;
  }
  const QByteArray utf8 = pageText.toUtf8();
  GumboOptions options = kGumboDefaultOptions;
  options.max_errors = 0;  // the parse errors are of no use here and cost time
  size_t depth = 0;        // measured by the walk below, used when the tree is freed
  std::unique_ptr<GumboOutput, GumboDeleter> output(
      gumbo_parse_with_options(&options, utf8.constData(), static_cast<size_t>(utf8.size())),
      GumboDeleter{&options, &depth});
  if (!output || !output->document) {
    Messages().plain(kDocumentError);
    return false;
  }

  const std::vector<const GumboNode*> rows = TableRows(output->document, depth);
  host.setProgressMaximum(static_cast<int>(std::min<size_t>(rows.size(), INT_MAX)));

  // The transponder row's text stands for every channel row under it. A
  // channel row's other cells are read only once its language has passed.
  QString transponder;
  std::vector<const GumboNode*> cells;
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
  }
  return true;
}

}  // namespace tevrin
