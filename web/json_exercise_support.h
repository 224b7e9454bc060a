// web/json_exercise_support.h - runs a JSON text through everything the JSON
// side offers (parse, every getter into UTF-8 and ISO-8859-1 with and without
// decoding, the printer), for the corpus tests and the fuzz target.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "web/json_printer.h"
#include "web/json_reader.h"
#include "web/web_walk.h"
#include "web/xml_reader.h"

namespace bw {

struct JsonExercise {
  bool parsed = false;
  std::string message;  // the failure's message
  size_t nodes = 0;
  int32_t depth = 0;  // deepest nesting level
  bool utf8WellFormed = true;  // every UTF-8 getter result of well-formed input was well-formed
  std::unique_ptr<webDataRoot> root;
};

inline JsonExercise exerciseJson(cJSON& reader, std::string_view bytes, const cEncoding& utf8,
                                 const cEncoding& latin1, std::FILE* sink) {
  JsonExercise x;
  std::string buffer(bytes);
  JsonParseResult r = reader.parseDocument(buffer.c_str(), static_cast<int32_t>(buffer.size() + 1));
  if (!r.root) {
    x.message = r.message.str();
    return x;
  }
  x.parsed = true;
  x.root = std::move(r.root);
  const bool wellFormedInput = isWellFormedUTF8(bytes);

  int32_t depth = 0;
  auto enter = [&](webDataNode* n) -> int {
    ++x.nodes;
    x.depth = std::max(x.depth, ++depth);
    (void)n->getName();
    (void)n->getNamespace();
    (void)n->getTextValue();
    (void)n->findChild("a", nullptr, nullptr, nullptr);
    for (const cEncoding* target : {&utf8, &latin1}) {
      for (bool noDecode : {false, true}) {
        Str text = n->getText(target, noDecode);
        if (target == &utf8 && wellFormedInput && !isWellFormedUTF8(text.view())) x.utf8WellFormed = false;
        (void)n->getTextAfterEndTag(target, noDecode);
        (void)n->getFirstAttribute(target, noDecode);
      }
    }
    return 0;
  };
  walkNodes<int>(x.root->head(), true, enter, [&](webDataNode*, int) { --depth; });
  // Printing is quadratic in the depth (indentation); the reader's limit
  // bounds it.
  printJSONroot(*x.root, sink);
  return x;
}

}  // namespace bw
