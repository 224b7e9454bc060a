// fuzz/fuzz_escape_decode.cpp - the direct UTF-8 decoders of XML entities and
// JSON escapes against their translate-engine roads on arbitrary text: the
// first byte picks the format (bit 2: JSON), the CDATA rules (bit 0),
// NIL-if-unchanged (bit 1) and, for JSON, the Twitter entities as extra
// rules (bit 3); the rest is the text. Any difference in the result, its
// NIL-ness or its capacity aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzz_text_modules.h"
#include "web/json_reader.h"
#include "web/xml_entities.h"

namespace {

struct Modules : bw::fuzzing::TextModules {
  Modules() {
    bw::initXMLModule();
    bw::initJSONModule();
  }
  ~Modules() {
    bw::endJSONModule();
    bw::endXMLModule();
  }
  std::shared_ptr<const bw::EntityMap> entities = bw::makeXmlEntityMap();
  bw::JsonDecoder json{latin1.clone(), nullptr};
  const bw::TranslateEntry twitter[5] = {{&bw::sharedSimpleTranslateMatcher(), "&amp;", nullptr, 0, "&", nullptr},
                                         {&bw::sharedSimpleTranslateMatcher(), "&quot;", nullptr, 0, "\"", nullptr},
                                         {&bw::sharedSimpleTranslateMatcher(), "&lt;", nullptr, 0, "<", nullptr},
                                         {&bw::sharedSimpleTranslateMatcher(), "&gt;", nullptr, 0, ">", nullptr},
                                         {}};
  bw::JsonDecoder twitterJson{latin1.clone(), twitter};
  bw::JsonLiteralRules twitterRules = [this] {
    bw::JsonLiteralRules rules;
    rules.assign(bw::TranslateTable(twitter, twitter + 4));
    return rules;
  }();
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Modules* state = bw::fuzzing::stateForInput<Modules>(data);
  if (!state || size == 0) return 0;
  const bool cdata = data[0] & 1;
  const bool nilIfUnchanged = data[0] & 2;
  const bool json = data[0] & 4;
  const bool entities = data[0] & 8;
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bw::cEncoding& utf8 = state->utf8;
  const bw::JsonDecoder& decoder = entities ? state->twitterJson : state->json;
  bw::Str direct = json ? bw::decodeJsonUtf8(text, nilIfUnchanged, entities ? &state->twitterRules : nullptr)
                        : bw::decodeEntityUtf8(text, nilIfUnchanged, *state->entities, cdata);
  bw::Str engine = json ? decoder.decodeByEngine(text, utf8, utf8, nilIfUnchanged)
                        : bw::decodeEntityTextByEngine(text, utf8, utf8, nilIfUnchanged, *bw::xmlEscCodeMatcher(),
                                                       *state->entities, cdata);
  if (direct.isNil() != engine.isNil() || direct.view() != engine.view() ||
      direct.capacity() != engine.capacity()) {
    std::abort();
  }
  return 0;
}
