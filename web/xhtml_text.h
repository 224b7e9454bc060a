// web/xhtml_text.h - an XHTML subtree written back as one markup string
// (Atom content of type xhtml).
#pragma once

#include "core/str.h"
#include "web/web_data.h"

namespace bw {

// The markup of node and all its descendants: start tags with their raw
// attribute values, texts with their escapes as written, names without
// namespace prefix, end tags; not the text after node's own end tag. Walks
// without recursion. Raises "BUG" "xhtmlToString(); node.parent=NIL" for a
// top-level node.
Str xhtmlToString(webDataNode& node);

}  // namespace bw
