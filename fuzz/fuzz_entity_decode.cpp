// fuzz/fuzz_entity_decode.cpp - the direct UTF-8 entity decoder against the
// translate-engine road on arbitrary text: the first byte picks the CDATA
// rules and NIL-if-unchanged, the rest is the text. Any difference in the
// result, its NIL-ness or its capacity aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/fuzz_text_modules.h"
#include "web/xml_entities.h"

namespace {

struct Modules : bw::fuzzing::TextModules {
  Modules() { bw::initXMLModule(); }
  ~Modules() { bw::endXMLModule(); }
  std::shared_ptr<const bw::EntityMap> entities = bw::makeXmlEntityMap();
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Modules* state = bw::fuzzing::stateForInput<Modules>(data);
  if (!state || size == 0) return 0;
  const bool cdata = data[0] & 1;
  const bool nilIfUnchanged = data[0] & 2;
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  bw::Str direct = bw::decodeEntityUtf8(text, nilIfUnchanged, *state->entities, cdata);
  bw::Str engine = bw::decodeEntityTextByEngine(text, state->utf8, state->utf8, nilIfUnchanged,
                                                *bw::xmlEscCodeMatcher(), *state->entities, cdata);
  if (direct.isNil() != engine.isNil() || direct.view() != engine.view() ||
      direct.capacity() != engine.capacity()) {
    std::abort();
  }
  return 0;
}
