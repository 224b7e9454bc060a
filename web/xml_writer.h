// web/xml_writer.h - writes a web document tree back as XML text.
//
// The writer emits the XML declaration, then every node exactly as the tree
// holds it (name, attributes in insertion order, text, children, end tag,
// text after the end tag), converting strings through the node getters. It
// adds no layout of its own. Output is a chain of strings, one piece per
// syntactic item; createXMLintoString joins it.
//
// Invariants:
//   1. The walk keeps its own stack: trees of any depth are written in
//      constant call depth.
//   2. Text holding "<" or ">" is written escaped (all five XML escapes);
//      other text and every attribute value are written as the getters
//      return them.
//   3. A node without children list, with empty converted text and not a
//      comment ("!--..." name) or processing instruction ("?..." name) is
//      written "<name .../>"; a comment or instruction is written "<" name
//      ">" text and never gets an end tag.
#pragma once

#include "core/charset.h"
#include "core/str.h"
#include "web/web_data.h"

namespace bw {

// The whole document as a chain; front() is an empty head string. Raises
// "EPU" "createXMLintoLinkedStrings(); useEncoding=NIL" without an encoding.
StrChain createXMLintoLinkedStrings(webDataRoot& root, const cEncoding* useEncoding, bool noDecode);
// The same joined into one string; NIL useEncoding: the root's charset.
Str createXMLintoString(webDataRoot& root, const cEncoding* useEncoding, bool noDecode);
// The same written to stdout piece by piece, verbatim.
void printXMLdocument(webDataRoot& root, const cEncoding* useEncoding, bool noDecode);
// Appends one node and its subtree (not its following siblings) to chain.
void createXMLnodeIntoLinkedStrings(webDataNode& node, StrChain& chain,
                                    const cEncoding& useEncoding, bool noDecode);
// Formats printf-style (the format is always the program's own) and appends
// the result to chain; the piece always holds the whole text.
void linkStringF(StrChain& chain, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace bw
