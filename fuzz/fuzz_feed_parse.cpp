// fuzz/fuzz_feed_parse.cpp - arbitrary bytes read as XML and given to the
// RSS or Atom parser into a database in memory, then parsed again as an
// update of the feed: nothing may raise (the sanitizers watch every step),
// the second parse adds no item with an id (an item without one, "#MISSING",
// is new at every parse; a stored copy without a valid date may give way to
// a dated one, so the count may fall), and the database closes sound (the
// independent checker reads it at every level).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/exception.h"
#include "fuzz/fuzz_soup_sound.h"
#include "fuzz/fuzz_text_modules.h"
#include "news/memory_news_support.h"

namespace {

struct State {
  State() {
    bw::testing_news::addMemoryNewsModules(modules);
    modules.initAll();
  }
  ~State() { modules.endAll(); }
  bw::ModuleRegistry modules;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::stateForInput<State>(data)) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  bw::testing_news::MemoryNews news;
  if (!news.isOpen()) std::abort();
  bw::FeedParseResult first = news.parse(text, nullptr);
  if (!first.feed) return 0;
  const int once = news.itemsWithID(*first.feed);
  news.parse(text, first.feed);
  if (news.itemsWithID(*first.feed) > once || news.db().infoMustClose()) std::abort();
  news.close();
  if (!bw::fuzzing::closedSound(news.image())) std::abort();
  return 0;
}
