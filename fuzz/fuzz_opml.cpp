// fuzz/fuzz_opml.cpp - arbitrary bytes read as an OPML file from memory and
// walked with a recording adder. Reading ends in a document or one told
// failure, never in a crash; the walk visits each outline with an address
// once (a name may be missing) and
// never recurses, so a deep nest cannot overflow the stack.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/opml_read.h"
#include "core/module_registry.h"
#include "news/news_module_list.h"
#include "news/ui_seam.h"

namespace {

// Answers every requester with its first button and counts them.
class SilentUi : public bw::NewsUi {
 public:
  int32_t gui_requester(bw::Text, bw::Text, bw::Text, const bw::RequesterParameters&, int32_t, int32_t) override {
    ++told;
    return 1;
  }
  void report(bw::Text, bw::Text, const bw::RequesterParameters&) override { ++told; }
  bw::ChangedGuiItem checkForChangedGuiItem() override { return {}; }
  bw::ChangedGuiItem waitForChangedGuiItem() override { return {}; }
  int told = 0;
};

struct State {
  State() {
    bw::addNewsModules(modules);
    modules.initAll();
    bw::setNewsUi(&ui);
    charset = bw::newSystemEncoding();
  }
  ~State() {
    bw::setNewsUi(nullptr);
    charset.reset();
    modules.endAll();
  }
  bw::ModuleRegistry modules;
  SilentUi ui;
  std::unique_ptr<bw::cEncoding> charset;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static State state;
  state.ui.told = 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  bw::OpmlDocument opml = bw::readOpmlText(bytes, "fuzz.opml");
  // A document, or exactly one message saying why not.
  if (static_cast<bool>(opml) == (state.ui.told != 0) || state.ui.told > 1) std::abort();
  if (!opml) return 0;
  size_t feeds = 0;
  bw::walkOpmlOutlines(*opml.body, *state.charset, [&](const bw::OpmlFeedOutline& feed) {
    if (feed.address.isNil() || feed.address.empty()) std::abort();
    ++feeds;
    return true;
  });
  // Every feed is an element of the input: no more feeds than "<" in it.
  if (feeds > size) std::abort();
  return 0;
}
