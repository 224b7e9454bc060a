// app/opml_read.h - reading an OPML file and walking its outlines: the part
// of the import that needs no window, shared by the import dialog, its tests
// and the fuzz target.
//
// Invariants:
//   1. Only a regular file of at most kOpmlMaxFileBytes is read; the path is
//      examined without blocking (a FIFO is refused, never waited on).
//   2. Every failure is told through newsUi() under "Import OPML" with "OK",
//      naming the path as the caller gave it; the result is then empty.
//   3. The walk keeps its own stack: outlines nested to any depth are walked
//      in constant call depth, in document order.
//   4. Element names and the type value "rss" compare exactly; attribute
//      names without regard to ASCII case (the document tree's rule).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/charset.h"
#include "core/str.h"
#include "web/web_data.h"
#include "web/xml_reader.h"

namespace bw {

inline constexpr int64_t kOpmlMaxFileBytes = 64 * 1024 * 1024;

// A read OPML document: the reader that made it, the document and its
// "body" element (inside the top-level "opml"). Empty when reading failed.
struct OpmlDocument {
  std::unique_ptr<cXML> reader;
  std::unique_ptr<webDataRoot> document;
  webDataNode* body = nullptr;
  explicit operator bool() const { return body != nullptr; }
};

// Reads the file at the host path (a relative one from the current folder).
OpmlDocument readOpmlFile(Text hostPath);
// The same over bytes already read; shownPath names them in messages.
OpmlDocument readOpmlText(std::string_view bytes, Text shownPath);

// A feed outline (one with an "xmlUrl", whatever its "type"): its name (its
// "title", else its "text", else NIL) in the charset, its address in UTF-8
// as written, and the "text" of the folder holding it (NIL when that has
// none).
struct OpmlFeedOutline {
  Str name;
  Str address;
  Str tags;
};

// Called for each feed outline in document order; FALSE ends the walk.
using OpmlFeedAdder = std::function<bool(const OpmlFeedOutline& feed)>;

// Walks from node as a folder (or a feed, when it is one). An outline of
// type "rss" without an address is skipped; a feed's children are not
// visited. TRUE when the adder ended the walk.
bool walkOpmlOutlines(webDataNode& node, const cEncoding& charset, const OpmlFeedAdder& adder);

}  // namespace bw
