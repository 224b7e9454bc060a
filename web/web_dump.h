// web/web_dump.h - a web document tree as text, one node per line, for
// developers (tools/webdoc) and for comparing trees in tests.
#pragma once

#include <string>

#include "core/charset.h"
#include "web/web_data.h"

namespace bw {

// Each node of the document in document order as one line:
//   depth, the qualified name, each attribute as ` name="value"`, then
//   ` | ` and the text, and when the node has one ` || ` and the text after
//   its end tag.
// Strings are converted into target (decoded unless noDecode); line feed,
// carriage return, tab and backslash are written as \n \r \t \\ so that a
// node always stays on its line. Walks without recursion.
std::string dumpWebTree(webDataRoot& root, const cEncoding& target, bool noDecode);

}  // namespace bw
