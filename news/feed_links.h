// news/feed_links.h - the links of a feed document made absolute before
// they are stored or compared: against the xml:base attributes in force
// where the link stands, else the address the document was fetched from.
//
// Invariants:
//   1. A link with a scheme ("http:", "mailto:") is kept byte for byte, so
//      links stored before stay equal to the same links read again.
//   2. A link without one is resolved as RFC 3986 section 5 says, against
//      the base: the document's address with every xml:base from the top
//      element down to the link's own element applied in turn (an xml:base
//      may itself be relative).
//   3. An empty link, or one that cannot be resolved (no base with a
//      scheme), is kept as it is; blanks around a link are dropped before it
//      is resolved.
#pragma once

#include "core/charset.h"
#include "core/str.h"
#include "web/web_data.h"

namespace bw {

// link made absolute for the element `at` (the link's element, or the one
// whose attribute holds it) of a document fetched from documentURL;
// attributes are read into utf8, the UTF-8 encoding.
Str resolveFeedLink(Str link, const webDataNode& at, Text documentURL, const cEncoding& utf8);

// The base address in force at `at`: documentURL with the xml:base
// attributes of `at` and its ancestors applied, outermost first.
Str feedLinkBase(const webDataNode& at, Text documentURL, const cEncoding& utf8);

}  // namespace bw
