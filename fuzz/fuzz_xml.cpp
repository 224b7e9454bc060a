// fuzz/fuzz_xml.cpp - the XML reader on arbitrary bytes: open, parse, every
// getter into UTF-8 and ISO-8859-1 with and without decoding, the writer and
// xhtmlToString; UTF-8 results must be well-formed and no result may hold a
// control XML forbids, "XML" failures must stay inside the reader, and a
// written document must read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/exception.h"
#include "fuzz/fuzz_text_modules.h"
#include "web/xml_entities.h"
#include "web/xml_exercise_support.h"

namespace {

struct Modules : bw::fuzzing::TextModules {
  Modules() {
    bw::initXMLModule();
    reader = std::make_unique<bw::cXML>(latin1);
  }
  ~Modules() {
    reader.reset();
    bw::endXMLModule();
  }
  std::unique_ptr<bw::cXML> reader;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Modules* state = bw::fuzzing::stateForInput<Modules>(data);
  if (!state) return 0;
  Modules& m = *state;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  bw::XmlExercise x;
  try {
    x = bw::exerciseXml(*m.reader, bytes, m.utf8, m.latin1);
  } catch (const bw::eException&) {
    // Only the scanner's internal-consistency checks may raise, and they
    // must never fire.
    std::abort();
  }
  if (!x.utf8WellFormed || !x.controlFree) std::abort();
  if (x.parsed) {
    bw::Str written = bw::createXMLintoString(*x.root, &m.utf8, true);
    std::string again(written.view());
    if (!m.reader->open(again.c_str(), static_cast<int32_t>(again.size() + 1))) std::abort();
    m.reader->close();
  }
  return 0;
}
