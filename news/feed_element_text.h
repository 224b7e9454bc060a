// news/feed_element_text.h - the text of a feed element as it is stored,
// whatever the element holds: its own text, or, when the feed wrote HTML
// into it unescaped, that markup written back.
//
// Invariants:
//   1. No word of the element's content is lost: text after a child element
//      or a comment is read as well as the text before it.
//   2. Comments and processing instructions give nothing but the text after
//      them; an element holding only those keeps its text and its format.
//   3. Texts keep the document's escapes (as node getters with noDecode).
#pragma once

#include <cstdint>

#include "core/charset.h"
#include "core/str.h"
#include "web/web_data.h"

namespace bw {

struct FeedElementText {
  Str text;                // NIL without the element
  bool markup = false;     // child elements written back as XHTML markup
};

// The element's text: with child elements, its content as XHTML markup
// (format 3 for display); else its text with comments passed over.
FeedElementText feedElementText(webDataNode* node, const cEncoding& utf8);

// The words of the element and of all its descendants, each element's text
// apart from the next by one space (an author written as
// "<author><name>A</name></author>").
Str feedElementPlainText(webDataNode* node, const cEncoding& utf8);

// True for a node that is a comment or a processing instruction.
bool isCommentOrInstruction(const webDataNode& node);

}  // namespace bw
