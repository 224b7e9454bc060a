// web/json_printer.h - prints a JSON document tree back as indented JSON
// text, for inspecting documents.
//
// One member or element per line, two spaces of indentation per level, a
// container's closing character on its own line at the container's
// indentation, an empty container as "{}" or "[]" on its name's line. Texts
// are printed as stored (escapes as written), converted into the root's
// default charset. The walk keeps its own stack, so documents of any depth
// print without recursion. A member of an object is printed with its name
// even when the name is empty ("": 1), so the output is always JSON again.
#pragma once

#include <cstdio>

#include "web/web_data.h"

namespace bw {

// Prints every top-level node of root, then one more line feed.
void printJSONroot(const webDataRoot& root, std::FILE* out = stdout);

// Prints node and its subtree at the given nesting depth (0 at the top).
// Raises "BUG" "cJSON; printJSONnode(); unexpected node type" at a node whose
// value is of no JSON kind; what was printed before stays printed.
void printJSONnode(const webDataNode& node, int32_t depth, std::FILE* out = stdout);

// Prints count spaces; nothing when count is 0 or less.
void printIndent(int32_t count, std::FILE* out = stdout);

}  // namespace bw
