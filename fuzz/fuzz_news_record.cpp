// fuzz/fuzz_news_record.cpp - news records read from arbitrary bytes: each
// class through the memory stream, with and without the node header, and the
// backup dump's readers. A run ends in an accepted object or in "BUG", "VER"
// or "FILE", never in a crash; an accepted object stored again and read back
// stores the same bytes (its fields survive). An item is also read with every
// choice of texts from a stream that shows its bytes ahead and from one that
// does not: the straight read and the transfers must end alike.
//
// Input: byte 0 picks the reader (low bits mod 7) and skipHeader (bit 7);
// the rest is the record.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/exception.h"
#include "fuzz/fuzz_text_modules.h"
#include "news/news_item_glance_test_support.h"
#include "news/news_load.h"
#include "news/news_module_list.h"
#include "news/news_objects.h"
#include "platform/memory_restore_stream.h"

namespace {

struct NewsModules {
  bw::ModuleRegistry modules;
  NewsModules() {
    bw::addNewsModules(modules);
    modules.initAll();
  }
  ~NewsModules() { modules.endAll(); }
};

using Bytes = std::vector<uint8_t>;

template <class T>
std::unique_ptr<T> read(bw::cRestoreStream_memory& s, bool skipHeader) {
  auto object = std::make_unique<T>();
  bw::restoreRecord(*object, s, false, skipHeader);
  return object;
}

// Stores the accepted object, reads that back and stores it again: the two
// records must match.
template <class T>
void expectStable(T& object, bool skipHeader) {
  Bytes first = bw::recordOf(object, skipHeader);
  bw::cRestoreStream_memory s;
  s.setInput(first.data(), first.size());
  std::unique_ptr<T> again = read<T>(s, skipHeader);
  if (s.infoRemaining() != 0 || bw::recordOf(*again, skipHeader) != first) {
    std::fprintf(stderr, "a stored record does not read back the same\n");
    std::abort();
  }
}

template <class T>
void readOne(bw::cRestoreStream_memory& s, bool skipHeader) {
  std::unique_ptr<T> object = read<T>(s, skipHeader);
  expectStable(*object, skipHeader);
}

void expectRoadsAlike(const Bytes& record) {
  for (auto texts : {bw::newsItem::Texts::kAll, bw::newsItem::Texts::kKeys, bw::newsItem::Texts::kNone,
                     bw::newsItem::Texts::kKeysAndDates}) {
    using bw::testing_news::readItem;
    if (!(readItem(record, texts, true) == readItem(record, texts, false))) {
      std::fprintf(stderr, "an item read straight differs from its transfers\n");
      std::abort();
    }
  }
}

template <class T, class Reader>
void readBackup(bw::cRestoreStream_memory& s, Reader reader) {
  std::unique_ptr<T> object = reader(s, false, nullptr);
  if (object) expectStable(*object, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::stateForInput<NewsModules>(data) || size == 0) return 0;
  bool skipHeader = (data[0] & 0x80) != 0;
  if ((data[0] & 0x7F) % 7 == 2 && !skipHeader) expectRoadsAlike(Bytes(data + 1, data + size));
  bw::cRestoreStream_memory s;
  s.setInput(data + 1, size - 1);
  try {
    switch ((data[0] & 0x7F) % 7) {
      case 0: readOne<bw::newsRoot>(s, skipHeader); break;
      case 1: readOne<bw::newsFeed>(s, skipHeader); break;
      case 2: readOne<bw::newsItem>(s, skipHeader); break;
      case 3: readOne<bw::newsItemBody>(s, skipHeader); break;
      case 4: readBackup<bw::newsFeed>(s, bw::restoreObject_newsFeed); break;
      case 5: readBackup<bw::newsItem>(s, bw::restoreObject_newsItem); break;
      default: readBackup<bw::newsItemBody>(s, bw::restoreObject_newsItemBody); break;
    }
  } catch (const bw::eException& e) {
    if (e.code() != "BUG" && e.code() != "VER" && e.code() != "FILE") {
      std::fprintf(stderr, "unexpected %s %s\n", e.code().c_str(), e.message().c_str());
      std::abort();
    }
  }
  return 0;
}
