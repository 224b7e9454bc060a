// web/xml_exercise_support.h - runs a document through everything the XML
// side offers (open, parse, every getter into UTF-8 and ISO-8859-1 with and
// without decoding, the writer, xhtmlToString), for the corpus tests and the
// fuzz target: every UTF-8 result well-formed, none holding a control XML
// forbids.
#pragma once

#include <string>
#include <string_view>

#include "web/control_chars.h"
#include "web/web_walk.h"
#include "web/xhtml_text.h"
#include "web/xml_reader.h"
#include "web/xml_writer.h"

namespace bw {

struct XmlExercise {
  bool opened = false;
  bool parsed = false;
  std::string message;          // the failure's message
  size_t nodes = 0;
  bool utf8WellFormed = true;   // every UTF-8 getter result was well-formed
  bool controlFree = true;      // no getter result held a C0 control XML forbids
  std::unique_ptr<webDataRoot> root;
};

inline XmlExercise exerciseXml(cXML& reader, std::string_view bytes, const cEncoding& utf8,
                               const cEncoding& latin1) {
  XmlExercise x;
  std::string buffer(bytes);
  x.opened = reader.open(buffer.c_str(), static_cast<int32_t>(buffer.size() + 1));
  if (!x.opened) {
    x.message = reader.lastError();
    return x;
  }
  XmlParseResult r = reader.parseDocument();
  reader.close();
  if (!r.root) {
    x.message = r.message.str();
    return x;
  }
  x.parsed = true;
  x.root = std::move(r.root);

  auto check = [&](const Str& s, const cEncoding& target) {
    if (&target == &utf8 && !s.isNil() && !isWellFormedUTF8(s.view())) x.utf8WellFormed = false;
    if (!s.isNil() && holdsForbiddenControl(s.view())) x.controlFree = false;
  };
  size_t xhtmlBudget = 1 << 22;  // bytes of xhtmlToString output, so deep trees stay linear
  auto enter = [&](webDataNode* n) -> int {
    ++x.nodes;
    for (const cEncoding* target : {&utf8, &latin1}) {
      for (bool noDecode : {false, true}) {
        check(n->getText(target, noDecode), *target);
        check(n->getTextAfterEndTag(target, noDecode), *target);
        for (webAttributeText a = n->getFirstAttribute(target, noDecode); a.name;
             a = n->getNextAttribute(target, noDecode)) {
          check(a.value, *target);
          check(n->getAttribute(*a.name, target, noDecode), *target);
        }
      }
    }
    if (n->getParent() && xhtmlBudget > 0) {
      Str markup = xhtmlToString(*n);
      xhtmlBudget -= std::min(xhtmlBudget, static_cast<size_t>(markup.length()));
    }
    return 0;
  };
  walkNodes<int>(x.root->head(), true, enter, [](webDataNode*, int) {});
  check(createXMLintoString(*x.root, &utf8, true), utf8);
  check(createXMLintoString(*x.root, &utf8, false), utf8);
  createXMLintoString(*x.root, &latin1, false);
  return x;
}

}  // namespace bw
