// fuzz/fuzz_json.cpp - the JSON reader on arbitrary bytes: parse, every
// getter into UTF-8 and ISO-8859-1 with and without decoding, the printer,
// and ending the tree. UTF-8 results of well-formed input must be
// well-formed, "JSON" failures must stay inside the reader, a printed
// document must read back as the same tree.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "core/exception.h"
#include "fuzz/fuzz_text_modules.h"
#include "web/json_exercise_support.h"
#include "web/xml_entities.h"

namespace {

struct Modules : bw::fuzzing::TextModules {
  Modules() {
    bw::initJSONModule();
    latin1Reader = std::make_unique<bw::cJSON>(latin1, nullptr);
    utf8Reader = std::make_unique<bw::cJSON>(utf8, nullptr);
    sink = std::fopen("/dev/null", "w");
  }
  ~Modules() {
    std::fclose(sink);
    utf8Reader.reset();
    latin1Reader.reset();
    bw::endJSONModule();
  }
  std::unique_ptr<bw::cJSON> latin1Reader;
  std::unique_ptr<bw::cJSON> utf8Reader;
  std::FILE* sink;
};

// Every node as one line: depth, name, kind and raw text.
std::string flatten(bw::webDataRoot& root) {
  std::string out;
  int depth = 0;
  bw::walkNodes<int>(
      root.head(), true,
      [&](bw::webDataNode* n) {
        out += std::to_string(depth++) + " " + n->getName().str() + " " + std::to_string(n->getTextValue()) +
               " " + n->infoText().str() + "\n";
        return 0;
      },
      [&](bw::webDataNode*, int) { --depth; });
  return out;
}

std::string printed(bw::webDataRoot& root) {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  bw::printJSONroot(root, out);
  std::fclose(out);
  std::string s(data, size);
  std::free(data);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Modules* state = bw::fuzzing::stateForInput<Modules>(data);
  if (!state) return 0;
  Modules& m = *state;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    bw::JsonExercise x = bw::exerciseJson(*m.latin1Reader, bytes, m.utf8, m.latin1, m.sink);
    if (!x.utf8WellFormed) std::abort();
    bw::JsonExercise u = bw::exerciseJson(*m.utf8Reader, bytes, m.utf8, m.latin1, m.sink);
    if (u.parsed != x.parsed || !u.utf8WellFormed) std::abort();
    if (u.parsed) {
      std::string text = printed(*u.root);
      bw::JsonParseResult again =
          m.utf8Reader->parseDocument(text.c_str(), static_cast<int32_t>(text.size() + 1));
      if (!again.root || flatten(*again.root) != flatten(*u.root)) std::abort();
    }
    // A NUL ends the text as the length does.
    const size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) {
      bw::JsonParseResult whole = m.utf8Reader->parseDocument(bytes.data(), static_cast<int32_t>(size));
      bw::JsonParseResult cut = m.utf8Reader->parseDocument(bytes.data(), static_cast<int32_t>(nul));
      if (!whole.root != !cut.root || whole.message.view() != cut.message.view()) std::abort();
      if (whole.root && flatten(*whole.root) != flatten(*cut.root)) std::abort();
    }
  } catch (const bw::eException&) {
    // Only "JSON" failures are expected, and they never leave the reader.
    std::abort();
  }
  return 0;
}
