// fuzz/fuzz_repair.cpp - bytes patched into a valid news database (two
// feeds of three items), then repairDatabase with repair. It never crashes
// and never raises; when it says the database is usable, a check-only run
// right after finds it usable and changes nothing.
//
// Input: patches of five bytes each, a 32-bit big-endian offset (taken
// modulo the image's size) and the byte to put there; at most 32.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/database_repair.h"
#include "fuzz/fuzz_text_modules.h"
#include "fuzz/fuzz_news_database.h"
#include "news/memory_news_support.h"

namespace {

using Db = bw::cJournaledIndexedObjectSoupDatabase;

void addFeed(Db& db, bw::newsRoot& root, int items) {
  auto feed = std::make_unique<bw::newsFeed>();
  feed->type = bw::Str("RSS 2.0");
  feed->docFormat = bw::feedTypeToDocFormat(feed->type);
  feed->setSoup(&db);
  const int32_t index = db.createdObject(feed.get());
  bw::newsFeed* stored = feed.release();
  root.feedList->insertAtTail(index);
  for (int i = 0; i < items; ++i) {
    auto item = std::make_unique<bw::newsItem>();
    item->uniqueID = bw::Str("id" + std::to_string(i % 2));
    item->published = 1000 * (items - i);
    item->feedIndex = index;
    item->bodyIndex = db.createdAndUnloadObject(new bw::newsItemBody());
    stored->itemList->insertAtTail(db.createdAndUnloadObject(item.release()));
  }
  db.unloadObject(stored);
}

struct State {
  State() {
    bw::testing_news::addMemoryNewsModules(modules);
    modules.initAll();
    auto backend = std::make_shared<bw::CrashingIoBackend>();
    std::unique_ptr<Db> db = bw::fuzzing::openNewsDatabase(backend);
    if (!db) std::abort();
    bw::newsRoot* stored = bw::fuzzing::storeNewsRoot(*db);
    addFeed(*db, *stored, 3);
    addFeed(*db, *stored, 3);
    db->unloadObject(stored);
    db->close();
    image = backend->image(bw::fuzzing::kNewsDatabaseNative);
  }
  ~State() { modules.endAll(); }
  bw::ModuleRegistry modules;
  std::vector<uint8_t> image;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  State* state = bw::fuzzing::stateForInput<State>(data);
  if (!state) return 0;
  std::vector<uint8_t> image = state->image;
  for (size_t i = 0; i + 5 <= size && i < 32 * 5; i += 5) {
    uint32_t offset = (uint32_t{data[i]} << 24) | (uint32_t{data[i + 1]} << 16) | (uint32_t{data[i + 2]} << 8) | data[i + 3];
    image[offset % image.size()] = data[i + 4];
  }
  auto backend = std::make_shared<bw::CrashingIoBackend>();
  backend->setImage(bw::fuzzing::kNewsDatabaseNative, image);
  std::unique_ptr<Db> db = bw::fuzzing::openNewsDatabase(backend);
  if (!db) return 0;
  bw::RepairResult repaired = bw::repairDatabase(*db, false, true);
  if (repaired.usable && !db->infoMustClose()) {
    // No rescue runs here: the items kept for one go.
    std::vector<int32_t> held;
    for (const bw::LostFeed& feed : repaired.lostFeeds) held.insert(held.end(), feed.items.begin(), feed.items.end());
    try {
      bw::dropUnrescuedItems(*db, held);
    } catch (const bw::eException&) {
      repaired.usable = false;
    }
  }
  if (repaired.usable && !db->infoMustClose()) {
    bw::RepairResult check = bw::repairDatabase(*db, false, false);
    if (!check.usable || check.changed) {
      std::fprintf(stderr, "a repaired database does not pass the check after it\n");
      std::abort();
    }
  }
  db->closeQuickly();
  return 0;
}
