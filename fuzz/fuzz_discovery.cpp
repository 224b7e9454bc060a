// fuzz/fuzz_discovery.cpp - arbitrary page bytes through feed discovery's
// candidate collection, with and without a server charset. Nothing may
// raise or read outside the bytes given (they sit in a block of exactly
// their size) or print; every candidate offered must be an http or https
// address (the scheme in any letter case) with a UTF-8 title holding no
// control XML forbids.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_text_modules.h"
#include "news/feed_discovery.h"
#include "news/news_module_list.h"
#include "web/control_chars.h"
#include "web/xml_reader.h"

namespace {

struct State {
  State() {
    bw::addNewsModules(modules);
    modules.initAll();
  }
  ~State() { modules.endAll(); }
  bw::ModuleRegistry modules;
};

void checkOffered(const bw::CandidateScan& scan) {
  for (const bw::FeedCandidate& c : scan.candidates) {
    std::string u(c.url.view().substr(0, 8));
    for (char& ch : u) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (u.rfind("http://", 0) != 0 && u.rfind("https://", 0) != 0) std::abort();
    if (!bw::isWellFormedUTF8(c.title.view()) || bw::holdsForbiddenControl(c.title.view())) std::abort();
  }
  bw::feedChoiceQuestion(scan.candidates);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::stateForInput<State>(data) || size > (1 << 20)) return 0;
  std::unique_ptr<char[]> page(new char[size == 0 ? 1 : size]);
  if (size > 0) std::memcpy(page.get(), data, size);
  const std::string_view text(page.get(), size);
  const char* const pageURL = "http://example.org/dir/page.html";
  checkOffered(bw::collectFeedCandidates(text, pageURL, ""));
  checkOffered(bw::collectFeedCandidates(text, pageURL, size % 2 ? "Shift_JIS" : "iso-8859-2"));
  return 0;
}
