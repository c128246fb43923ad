#pragma once
#include <QString>

#include <gumbo.h>

namespace tevrin {

// The rendered text of an element, as a browser's innerText gives it, with
// each element displayed as the default style sheet displays it: white space
// collapsed and trimmed at line starts and ends, br and preserved newlines as
// line breaks, block elements on lines of their own (p with a blank line
// around it), the cells of a row separated by a TAB and rows by a line break,
// script, style, template, head, noscript and elements with the hidden
// attribute left out, U+00A0 kept. Line breaks come out as CR LF.
// Works without recursion, so any nesting depth is safe.
QString InnerText(const GumboNode* element);

// An element of the tree; a template is one too.
inline bool IsElement(const GumboNode* node) {
  return node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE;
}

}  // namespace tevrin
