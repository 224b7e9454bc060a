// fuzz/fuzz_repair.cpp - bytes patched into a valid news database (two
// feeds of three items), then repairDatabase with repair. It never crashes
// and never raises; when it says the database is usable, a check-only run
// right after finds it usable and changes nothing.
//
// Input: patches of five bytes each, a 32-bit big-endian offset (taken
// modulo the image's size) and the byte to put there; at most 32.
//
// With BRINDLEWORK_REPAIR_SEEDS=DIR the target first writes into DIR the
// inputs of link damage (corpus/repair/link_*): every link of the root, the
// lists, the feeds and the first feed's items naming an object of another
// class, the object itself or a free index, and each item list zeroed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/database_repair.h"
#include "app/link_damage_test_support.h"
#include "database/journal_format.h"
#include "fuzz/fuzz_text_modules.h"
#include "fuzz/fuzz_news_database.h"
#include "news/memory_news_support.h"

namespace {

using Db = bw::cJournaledIndexedObjectSoupDatabase;
using bw::testing_app::Kind;
using bw::testing_app::Link;
using Objects = std::vector<std::pair<int32_t, Kind>>;

void addFeed(Db& db, bw::newsRoot& root, int items, Objects& objects) {
  auto feed = std::make_unique<bw::newsFeed>();
  feed->type = bw::Str("RSS 2.0");
  feed->docFormat = bw::feedTypeToDocFormat(feed->type);
  feed->setSoup(&db);
  const int32_t index = db.createdObject(feed.get());
  bw::newsFeed* stored = feed.release();
  root.feedList->insertAtTail(index);
  objects.insert(objects.end(), {{index, Kind::kFeed}, {stored->itemListIndex, Kind::kList}});
  for (int i = 0; i < items; ++i) {
    auto item = std::make_unique<bw::newsItem>();
    item->uniqueID = bw::Str("id" + std::to_string(i % 2));
    item->published = 1000 * (items - i);
    item->feedIndex = index;
    item->bodyIndex = db.createdAndUnloadObject(new bw::newsItemBody());
    const int32_t body = item->bodyIndex;
    objects.insert(objects.end(), {{db.createdAndUnloadObject(item.release()), Kind::kItem}, {body, Kind::kBody}});
    stored->itemList->insertAtTail(objects[objects.size() - 2].first);
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
    Objects objects{{db->infoRootValue(), Kind::kRoot}, {stored->feedListIndex, Kind::kList}};
    addFeed(*db, *stored, 3, objects);
    addFeed(*db, *stored, 3, objects);
    db->unloadObject(stored);
    db->close();
    image = backend->image(bw::fuzzing::kNewsDatabaseNative);
    if (const char* dir = std::getenv("BRINDLEWORK_REPAIR_SEEDS")) writeLinkSeeds(objects, dir);
  }

  // The input that turns image into the image with damage done, or none:
  // the bytes of the object's block that changed, each a patch. Without
  // damage, the block zeroed.
  std::string patchesFor(int32_t object, const std::function<void(Db&)>& damage) const {
    auto backend = std::make_shared<bw::CrashingIoBackend>();
    backend->setImage(bw::fuzzing::kNewsDatabaseNative, image);
    std::unique_ptr<Db> db = bw::fuzzing::openNewsDatabase(backend);
    const int64_t data = db->infoBlockFile().infoBlockOfIndex(object, true);
    const int64_t begin = bw::kJournalHeaderSize + data - 12;
    const int64_t end = bw::kJournalHeaderSize + data + db->infoBlockFile().infoSizeOfIndexBlock(data);
    std::vector<uint8_t> damaged(image.size());
    if (damage) {
      damage(*db);
      if (db->infoBlockFile().infoBlockOfIndex(object, true) != data) return {};
      db->close();
      damaged = backend->image(bw::fuzzing::kNewsDatabaseNative);
    }
    std::string input;
    for (int64_t at = begin; at < end; ++at) {
      const size_t i = static_cast<size_t>(at);
      if (damaged[i] == image[i]) continue;
      input += {static_cast<char>(at >> 24), static_cast<char>(at >> 16), static_cast<char>(at >> 8),
                static_cast<char>(at), static_cast<char>(damaged[i])};
    }
    return input.size() <= 32 * 5 ? input : std::string();
  }

  void writeLinkSeeds(const Objects& objects, const std::string& dir) const {
    int32_t free = 1;
    {
      auto backend = std::make_shared<bw::CrashingIoBackend>();
      backend->setImage(bw::fuzzing::kNewsDatabaseNative, image);
      std::unique_ptr<Db> db = bw::fuzzing::openNewsDatabase(backend);
      while (db->infoBlockFile().infoBlockOfIndex(free, true) != 0) ++free;
    }
    const char* kinds[] = {"root", "list", "feed", "item", "body"};
    size_t turn = 0, feeds = 0;
    for (size_t n = 0; n < objects.size(); ++n) {
      const auto [object, kind] = objects[n];
      feeds += kind == Kind::kFeed ? 1 : 0;
      if (kind == Kind::kItem && feeds > 1) continue;  // the first feed's items stand for all
      const std::string name = dir + "/link_" + kinds[static_cast<int>(kind)] + std::to_string(n) + "_";
      auto save = [&](const std::string& what, const std::string& input) {
        if (!input.empty()) std::ofstream(name + what, std::ios::binary) << input;
      };
      if (kind == Kind::kList && n != 1) save("zeroed", patchesFor(object, {}));
      for (auto [link, named] : bw::testing_app::linksOf(kind, n == 1)) {
        Objects::value_type other;
        do other = objects[turn++ % objects.size()];
        while (other.second == named || other.first == object);
        const std::pair<const char*, int32_t> targets[] = {{"other", other.first}, {"itself", object}, {"free", free}};
        for (auto [target, value] : targets) {
          std::string what = std::string(bw::testing_app::linkName(link)) + "_" + target;
          std::replace(what.begin(), what.end(), ' ', '_');
          save(what, patchesFor(object, [o = object, l = link, v = value](Db& db) {
                 bw::testing_app::damageLink(db, o, l, v);
               }));
        }
      }
    }
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
