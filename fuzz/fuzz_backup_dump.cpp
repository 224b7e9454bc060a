// fuzz/fuzz_backup_dump.cpp - arbitrary bytes loaded as a backup dump into
// an empty news database in memory. A load ends in TRUE or in an exception
// of the records ("FILE", "VER", "BUG"), never in a crash; a dump that
// loaded is written again, and that dump loads into a second database and
// writes the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "app/backup_dump.h"
#include "core/exception.h"
#include "fuzz/fuzz_text_modules.h"
#include "fuzz/fuzz_news_database.h"
#include "news/memory_news_support.h"
#include "platform/native_path.h"

namespace {

struct State {
  State() {
    bw::testing_news::addMemoryNewsModules(modules);
    modules.initAll();
  }
  ~State() { modules.endAll(); }
  bw::ModuleRegistry modules;
};

std::string hostOf(const char* native) {
  std::string host;
  if (!bw::dos::nativeToHost(native, host)) std::abort();
  return host;
}

std::string readAll(const std::string& host) {
  std::ifstream in(host, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Gives back the root and the chain of feeds loaded under it.
struct LoadedRoot {
  bw::cJournaledIndexedObjectSoupDatabase& db;
  bw::newsRoot* root;
  ~LoadedRoot() {
    for (bw::newsFeed* feed = root->firstLoadedFeed; feed;) {
      bw::newsFeed* next = feed->nextLoadedFeed;
      db.unloadObject(feed);
      feed = next;
    }
    db.unloadObject(root);
  }
};

// Loads the dump at native into a fresh database and writes it to out.
bool loadAndWrite(const char* native, const char* out) {
  auto backend = std::make_shared<bw::CrashingIoBackend>();
  std::unique_ptr<bw::cJournaledIndexedObjectSoupDatabase> db = bw::fuzzing::openNewsDatabase(backend);
  if (!db) std::abort();
  LoadedRoot held{*db, bw::fuzzing::storeNewsRoot(*db)};
  bw::newsRoot& root = *held.root;
  if (!bw::restoreDatabaseBackup(native, root, *db)) return false;
  bw::newsFeed** link = &root.firstLoadedFeed;
  for (int32_t index = root.feedList->infoHeadIndex(); index != 0;) {
    bw::newsFeed* feed = bw::loadObject_newsFeed(*db, index);
    if (!feed) std::abort();
    *link = feed;
    link = &feed->nextLoadedFeed;
    index = feed->infoNextIndex();
  }
  return bw::writeDatabaseBackup(out, root, *db);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::stateForInput<State>(data)) return 0;
  {
    std::ofstream out(hostOf("T:fuzz-dump.in"), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    if (!loadAndWrite("T:/fuzz-dump.in", "T:/fuzz-dump.a")) return 0;
  } catch (const bw::eException&) {
    return 0;
  }
  if (!loadAndWrite("T:/fuzz-dump.a", "T:/fuzz-dump.b") ||
      readAll(hostOf("T:fuzz-dump.a")) != readAll(hostOf("T:fuzz-dump.b"))) {
    std::fprintf(stderr, "a written dump does not load back to the same dump\n");
    std::abort();
  }
  return 0;
}
