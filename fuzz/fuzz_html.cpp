// fuzz/fuzz_html.cpp - the HTML reader on arbitrary bytes: from each "<",
// read the tag quietly, parse it quietly, read its attributes and texts in
// both targets, end the nodes and then the root. Quiet mode must never
// raise, and UTF-8 results of well-formed input must be well-formed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/exception.h"
#include "core/unicode.h"
#include "fuzz/fuzz_text_modules.h"
#include "web/html_reader.h"
#include "web/xml_entities.h"
#include "web/xml_reader.h"

namespace {

struct Modules : bw::fuzzing::TextModules {
  Modules() {
    // The reader's debug line on malformed tags is not wanted here.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    bw::initXMLModule();
    bw::initHTMLModule();
  }
  ~Modules() {
    bw::endHTMLModule();
    bw::endXMLModule();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Modules* state = bw::fuzzing::stateForInput<Modules>(data);
  if (!state) return 0;
  Modules& m = *state;
  std::string_view page(reinterpret_cast<const char*>(data), size);
  const bool wellFormed = bw::isWellFormedUTF8(page);
  try {
    auto root = bw::createHTMLroot(bw::Str("UTF-8"), bw::Str(), m.latin1);
    std::vector<std::unique_ptr<bw::webDataNode>> nodes;
    auto check = [&](const bw::Str& s, const bw::cEncoding* target) {
      if (target == &m.utf8 && wellFormed && !bw::isWellFormedUTF8(s.view())) std::abort();
    };
    // At offset 0 any byte is allowed; elsewhere only a "<".
    bw::pHTML::html_nextTagAndText(page, 0, true);
    for (size_t lt = page.find('<'); lt != std::string_view::npos; lt = page.find('<', lt + 1)) {
      bw::HtmlTagAndText t = bw::pHTML::html_nextTagAndText(page, static_cast<int64_t>(lt), true);
      if (t.tag.isNil()) {
        if (t.position != -1 && page[static_cast<size_t>(t.position)] != '>') std::abort();
        continue;
      }
      bw::HtmlParsedTag parsed = bw::pHTML::html_parseTag(t.tag.view(), root.get(), std::move(t.text), true);
      if (!parsed.node) continue;
      for (const bw::cEncoding* target :
           {static_cast<const bw::cEncoding*>(&m.utf8), static_cast<const bw::cEncoding*>(&m.latin1)}) {
        for (bool noDecode : {false, true}) {
          check(parsed.node->getText(target, noDecode), target);
          bw::Str after = parsed.node->getTextAfterEndTag(target, noDecode);
          if (!after.isNil()) check(after, target);
          for (bw::webAttributeText a = parsed.node->getFirstAttribute(target, noDecode); a.name;
               a = parsed.node->getNextAttribute(target, noDecode)) {
            check(a.value, target);
            check(parsed.node->getAttribute(*a.name, target, noDecode), target);
          }
        }
      }
      nodes.push_back(std::move(parsed.node));
    }
    nodes.clear();
    root.reset();
  } catch (const bw::eException&) {
    std::abort();
  }
  return 0;
}
