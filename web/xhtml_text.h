// web/xhtml_text.h - an XHTML subtree written back as one markup string
// (Atom content of type xhtml).
#pragma once

#include "core/str.h"
#include "web/web_data.h"

namespace bw {

// The markup of node and all its descendants, never much longer than the
// document wrote it: names without namespace prefix; attribute values as
// written, in double quotes, or in apostrophes when they hold a double
// quote; texts as written, their references and CDATA sections kept (the
// display reader reads a CDATA section as text); an element without
// children or text that was written as an empty-element tag as written
// ("<x/>", or "<x />" after a blank), else one of HTML's void elements as
// "<br />", other elements with their end tag; comments
// and processing instructions left out (the text after them stays). Not the text after
// node's own end tag. Walks without recursion. Raises "BUG"
// "xhtmlToString(); node.parent=NIL" for a top-level node.
Str xhtmlToString(webDataNode& node);

// The same for what node holds, without node's own tags: its text and its
// children's markup (an element of a feed holding unescaped HTML).
Str xhtmlContentToString(webDataNode& node);

}  // namespace bw
