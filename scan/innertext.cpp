#include "scan/innertext.h"

#include <vector>

namespace tevrin {
namespace {

// How the default style sheet displays an element, reduced to what changes
// the rendered text.
enum class Display {
  None,       // no box: contributes nothing
  Inline,     // text flows through it
  Block,      // on lines of its own
  Paragraph,  // a block with a blank line before and after
  Table,      // block-level; its rows are separated by line breaks
  RowGroup,
  Row,
  Cell,
  Break,     // br
  Replaced,  // an image, a control or an embedded object: a box without text
};

bool HasAttribute(const GumboElement& e, const char* name) {
  return gumbo_get_attribute(&e.attributes, name) != nullptr;
}

bool AttributeIs(const GumboElement& e, const char* name, const char* value) {
  const GumboAttribute* a = gumbo_get_attribute(&e.attributes, name);
  return a && qstricmp(a->value, value) == 0;
}

Display DisplayOf(const GumboNode* node) {
  if (node->type == GUMBO_NODE_TEMPLATE) return Display::None;
  const GumboElement& e = node->v.element;
  if (e.tag_namespace != GUMBO_NAMESPACE_HTML) return Display::Inline;
  if (HasAttribute(e, "hidden")) return Display::None;
  switch (e.tag) {
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_META:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_DATALIST:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_RP:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_BASEFONT:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_COLGROUP:
    // A browser with scripting on does not render noscript.
    case GUMBO_TAG_NOSCRIPT: return Display::None;
    case GUMBO_TAG_INPUT: return AttributeIs(e, "type", "hidden") ? Display::None : Display::Replaced;
    case GUMBO_TAG_BR: return Display::Break;
    case GUMBO_TAG_P: return Display::Paragraph;
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_CAPTION: return Display::Block;
    case GUMBO_TAG_TABLE: return Display::Table;
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TFOOT: return Display::RowGroup;
    case GUMBO_TAG_TR: return Display::Row;
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH: return Display::Cell;
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_IMAGE:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_AUDIO:
    case GUMBO_TAG_CANVAS:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_PROGRESS:
    case GUMBO_TAG_METER:
    case GUMBO_TAG_APPLET: return Display::Replaced;
    default: return Display::Inline;
  }
}

bool PreservesWhiteSpace(const GumboNode* node) {
  if (node->type != GUMBO_NODE_ELEMENT) return false;
  const GumboElement& e = node->v.element;
  if (e.tag_namespace != GUMBO_NAMESPACE_HTML) return false;
  return e.tag == GUMBO_TAG_PRE || e.tag == GUMBO_TAG_LISTING || e.tag == GUMBO_TAG_XMP ||
         e.tag == GUMBO_TAG_PLAINTEXT;
}

bool IsTag(const GumboNode* node, GumboTag tag) {
  return IsElement(node) && node->v.element.tag == tag &&
         node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

const GumboVector* ChildrenOf(const GumboNode* node) {
  if (node->type == GUMBO_NODE_DOCUMENT) return &node->v.document.children;
  if (node->type == GUMBO_NODE_ELEMENT) return &node->v.element.children;
  return nullptr;  // template contents are not part of the rendered tree
}

const GumboNode* ChildAt(const GumboVector* v, unsigned i) {
  return static_cast<const GumboNode*>(v->data[i]);
}

// A cell's TAB is left out after the last rendered cell of its row.
bool HasLaterCell(const GumboNode* cell) {
  const GumboNode* parent = cell->parent;
  if (!parent || parent->type != GUMBO_NODE_ELEMENT) return false;
  const GumboVector& kids = parent->v.element.children;
  for (unsigned i = cell->index_within_parent + 1; i < kids.length; ++i) {
    const GumboNode* n = ChildAt(&kids, i);
    if (IsElement(n) && DisplayOf(n) == Display::Cell) return true;
  }
  return false;
}

bool GroupHasRow(const GumboNode* group) {
  const GumboVector& kids = group->v.element.children;
  for (unsigned i = 0; i < kids.length; ++i) {
    const GumboNode* n = ChildAt(&kids, i);
    if (IsElement(n) && DisplayOf(n) == Display::Row) return true;
  }
  return false;
}

// A row's line break is left out after the last rendered row of its table,
// looking through the row groups but not into nested tables.
bool HasLaterRow(const GumboNode* row) {
  const GumboNode* node = row;
  for (int level = 0; level < 2; ++level) {
    const GumboNode* parent = node->parent;
    if (!parent || parent->type != GUMBO_NODE_ELEMENT) return false;
    const GumboVector& kids = parent->v.element.children;
    for (unsigned i = node->index_within_parent + 1; i < kids.length; ++i) {
      const GumboNode* n = ChildAt(&kids, i);
      if (!IsElement(n)) continue;
      const Display d = DisplayOf(n);
      if (d == Display::Row) return true;
      if (d == Display::RowGroup && GroupHasRow(n)) return true;
    }
    if (DisplayOf(parent) != Display::RowGroup) return false;
    node = parent;
  }
  return false;
}

bool IsCollapsibleSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

bool IsWhiteSpaceOnly(const char* text) {
  for (; *text; ++text)
    if (!IsCollapsibleSpace(static_cast<unsigned char>(*text))) return false;
  return true;
}

// Collects the rendered text. Line breaks that blocks require are kept as a
// pending count and written only between two pieces of text, so runs of them
// collapse to the largest and those at the start and the end disappear.
class TextBuilder {
 public:
  void text(const char* utf8, bool preserve) {
    const QString s = QString::fromUtf8(utf8);
    const QStringView view(s);
    const qsizetype n = view.size();
    auto isBreakOrSpace = [preserve](char16_t c) { return preserve ? c == u'\n' : IsCollapsibleSpace(c); };
    for (qsizetype i = 0; i < n;) {
      const char16_t c = view[i].unicode();
      if (isBreakOrSpace(c)) {
        if (preserve) forcedBreak();
        else if (lineHasContent_) pendingSpace_ = true;
        ++i;
        continue;
      }
      qsizetype j = i + 1;
      while (j < n && !isBreakOrSpace(view[j].unicode())) ++j;
      content();
      out_.append(view.sliced(i, j - i));  // a whole run at once
      i = j;
    }
  }

  // A box without text still keeps the space before it.
  void replaced() {
    if (pendingSpace_) {
      content();
    } else {
      lineHasContent_ = true;
    }
  }

  void forcedBreak() { separator(u"\r\n"); }
  void tab() { separator(u"\t"); }

  void lineBoundary() {
    pendingSpace_ = false;
    lineHasContent_ = false;
  }

  void requireBreaks(int count) { pendingBreaks_ = std::max(pendingBreaks_, count); }

  QString take() { return std::move(out_); }

 private:
  void separator(QStringView s) {
    lineBoundary();
    flushBreaks();
    out_.append(s);
    wrote_ = true;
  }

  void content() {
    flushBreaks();
    if (pendingSpace_) out_.append(u' ');
    pendingSpace_ = false;
    lineHasContent_ = true;
    wrote_ = true;
  }

  void flushBreaks() {
    if (pendingBreaks_ > 0 && wrote_)
      for (int i = 0; i < pendingBreaks_; ++i) out_.append(u"\r\n");
    pendingBreaks_ = 0;
  }

  QString out_;
  int pendingBreaks_ = 0;
  bool wrote_ = false;
  bool pendingSpace_ = false;
  bool lineHasContent_ = false;
};

// Blocks and paragraphs ask for the same line breaks before and after them.
bool BreakAroundBlock(TextBuilder& b, Display d) {
  if (d != Display::Block && d != Display::Table && d != Display::Paragraph) return false;
  b.lineBoundary();
  b.requireBreaks(d == Display::Paragraph ? 2 : 1);
  return true;
}

void Enter(TextBuilder& b, Display d) {
  if (BreakAroundBlock(b, d)) return;
  if (d == Display::Row || d == Display::Cell || d == Display::RowGroup) b.lineBoundary();
}

void Leave(TextBuilder& b, Display d, const GumboNode* node) {
  if (BreakAroundBlock(b, d)) return;
  switch (d) {
    case Display::Cell:
      b.lineBoundary();
      if (HasLaterCell(node)) b.tab();
      break;
    case Display::Row:
      b.lineBoundary();
      if (HasLaterRow(node)) b.forcedBreak();
      break;
    case Display::RowGroup: b.lineBoundary(); break;
    default: break;
  }
}

// Closed details render only their first summary.
const GumboNode* OnlyRenderedChild(const GumboNode* node, Display d) {
  if (d != Display::Block || !IsTag(node, GUMBO_TAG_DETAILS) || HasAttribute(node->v.element, "open"))
    return nullptr;
  const GumboVector& kids = node->v.element.children;
  for (unsigned i = 0; i < kids.length; ++i)
    if (IsTag(ChildAt(&kids, i), GUMBO_TAG_SUMMARY)) return ChildAt(&kids, i);
  return node;  // a marker no child equals: nothing is rendered
}

bool IsRendered(const GumboNode* element, int& preserveDepth) {
  preserveDepth = 0;
  const GumboNode* below = nullptr;  // the child of `n` on the way up
  for (const GumboNode* n = element; n && n->type != GUMBO_NODE_DOCUMENT; below = n, n = n->parent) {
    if (!IsElement(n)) continue;
    const Display d = DisplayOf(n);
    if (d == Display::None) return false;
    if (d == Display::Replaced && n != element) return false;  // fallback content
    if (PreservesWhiteSpace(n)) ++preserveDepth;
    if (below) {
      const GumboNode* only = OnlyRenderedChild(n, d);
      if (only && only != below) return false;
    }
  }
  return true;
}

struct Frame {
  const GumboNode* node;
  unsigned next;
  Display display;
  bool preserves;
  const GumboNode* only;
};

// The text of every text node under the node, in order, with LF given as
// CR LF (what innerText returns for an element that is not rendered).
QString DescendantText(const GumboNode* node) {
  QString out;
  std::vector<std::pair<const GumboNode*, unsigned>> stack;
  stack.emplace_back(node, 0);
  while (!stack.empty()) {
    auto& [current, next] = stack.back();
    const GumboVector* kids = ChildrenOf(current);
    if (!kids || next >= kids->length) {
      stack.pop_back();
      continue;
    }
    const GumboNode* child = ChildAt(kids, next++);
    switch (child->type) {
      case GUMBO_NODE_TEXT:
      case GUMBO_NODE_WHITESPACE:
      case GUMBO_NODE_CDATA: {
        const QString s = QString::fromUtf8(child->v.text.text);
        for (const QChar c : s) {
          if (c == u'\n') out.append(u'\r');
          out.append(c);
        }
        break;
      }
      case GUMBO_NODE_ELEMENT: stack.emplace_back(child, 0); break;
      default: break;
    }
  }
  return out;
}

}  // namespace

QString InnerText(const GumboNode* element) {
  if (!element) return {};
  int preserveDepth = 0;
  if (!IsElement(element) || !IsRendered(element, preserveDepth)) return DescendantText(element);

  TextBuilder builder;
  std::vector<Frame> stack;
  // The element itself only sets the scene: its children are collected.
  const Display display = DisplayOf(element);
  stack.push_back({element, 0, display, false, OnlyRenderedChild(element, display)});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const GumboVector* kids = ChildrenOf(frame.node);
    if (!kids || frame.next >= kids->length) {
      if (stack.size() > 1) Leave(builder, frame.display, frame.node);
      if (frame.preserves) --preserveDepth;
      stack.pop_back();
      continue;
    }
    const GumboNode* child = ChildAt(kids, frame.next++);
    if (frame.only && child != frame.only) continue;
    switch (child->type) {
      case GUMBO_NODE_TEXT:
      case GUMBO_NODE_WHITESPACE:
      case GUMBO_NODE_CDATA: {
        // White space between the boxes of a table is not rendered.
        const Display parent = frame.display;
        const bool tableBox =
            parent == Display::Table || parent == Display::RowGroup || parent == Display::Row;
        if (tableBox && IsWhiteSpaceOnly(child->v.text.text)) break;
        builder.text(child->v.text.text, preserveDepth > 0);
        break;
      }
      case GUMBO_NODE_ELEMENT: {
        const Display d = DisplayOf(child);
        if (d == Display::None) break;
        if (d == Display::Break) {
          builder.forcedBreak();
          break;
        }
        if (d == Display::Replaced) {
          builder.replaced();
          break;
        }
        Enter(builder, d);
        const bool preserves = PreservesWhiteSpace(child);
        if (preserves) ++preserveDepth;
        stack.push_back({child, 0, d, preserves, OnlyRenderedChild(child, d)});  // invalidates frame
        break;
      }
      default: break;  // comments, and templates whose contents are not rendered
    }
  }
  return builder.take();
}

}  // namespace tevrin
