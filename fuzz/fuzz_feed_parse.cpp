// fuzz/fuzz_feed_parse.cpp - arbitrary bytes read as XML and given to the
// RSS or Atom parser into a database in memory, then parsed again as an
// update of the feed: nothing may raise (the sanitizers watch every step),
// the second parse adds no item with an id (an item without one, "#MISSING",
// is new at every parse), and the database closes sound (the independent
// checker reads it at every level).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/exception.h"
#include "fuzz/fuzz_text_modules.h"
#include "news/feed_merge.h"
#include "news/memory_news_support.h"
#include "news/news_load.h"
#include "tools/soupcheck/block_level.h"
#include "tools/soupcheck/soup_level.h"
#include "tools/soupcheck/soupcheck.h"

namespace {

struct State {
  State() {
    bw::testing_news::addMemoryNewsModules(modules);
    modules.initAll();
  }
  ~State() { modules.endAll(); }
  bw::ModuleRegistry modules;
};

// The feed's stored items that have an id.
int itemsWithID(bw::cJournaledIndexedObjectSoupDatabase& db, const bw::newsFeed& feed) {
  int count = 0;
  for (int32_t i = feed.itemList->infoHeadIndex(); i != 0;) {
    bw::newsItem* item = bw::loadObject_newsItem(db, i);
    count += item->uniqueID.view() != bw::kMissingText;
    i = item->infoNextIndex();
    db.unloadObject(item);
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::stateForInput<State>(data)) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  bw::testing_news::MemoryNews news;
  if (!news.isOpen()) std::abort();
  bw::FeedParseResult first = news.parse(text, nullptr);
  if (!first.feed) return 0;
  const int once = itemsWithID(news.db(), *first.feed);
  news.parse(text, first.feed);
  if (itemsWithID(news.db(), *first.feed) != once || news.db().infoMustClose()) std::abort();
  news.close();
  const bw::soupcheck::Report report = bw::soupcheck::check(news.image(), bw::soupcheck::Expect::kClosed);
  if (!report.clean() || !bw::soupcheck::checkIndexLevel(report.effectiveData).empty() ||
      !bw::soupcheck::checkSoupLevel(report.effectiveData).clean())
    std::abort();
  return 0;
}
