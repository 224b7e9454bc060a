// fuzz/fuzz_soup_open.cpp - opens arbitrary bytes as "database.soup" on the
// in-memory backend, loads the first indices with a test record class, walks
// the chain of lists and their nodes with a step bound, and closes. Damaged
// files may be refused with an eException; nothing may crash, hang or
// allocate beyond what the file's blocks can hold.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database/soup_database.h"
#include "fuzz/fuzz_journal_backend.h"

namespace {

constexpr const char* kPath = "RAM:/fuzz.soup";
constexpr int32_t kIndices = 48;
constexpr int kSteps = 2000;

// A count and up to 256 values, kept as they arrive.
class FuzzRecord : public bw::cIndexedObjectNode {
 public:
  void restore(bw::cRestoreStreamBase& stream, bool doStore) override {
    bw::cIndexedObjectNode::restore(stream, doStore);
    int32_t n = bw::transferCompactValue(stream, doStore, static_cast<int32_t>(values.size()));
    for (int32_t i = 0; i < n && i < 256; ++i) values.push_back(bw::transferValue(stream, doStore, 0));
  }
  std::vector<int32_t> values;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace bw;
  using namespace bw::fuzzing;
  initJournal();
  if (!data) return 0;
  cJournaledIndexedObjectSoupDatabase db(soupFileOn(backendHolding(kPath, std::vector<uint8_t>(data, data + size))));
  if (!opens(db, kPath)) return 0;
  for (int32_t i = 1; i <= kIndices; ++i) {
    quietly([&] { db.unloadObject(db.loadObject(i, std::make_unique<FuzzRecord>())); });
  }
  quietly([&] {
    int steps = 0;
    int32_t first = db.infoHeadListIndex();
    for (int32_t l = first; l != 0 && steps < kSteps; ++steps) {
      cIndexedObjectList* list = loadObject_cIndexedObjectList(db, l);
      LoadedUse use(db, list);
      for (int32_t n = list->infoHeadIndex(); n != 0 && steps < kSteps; ++steps) {
        n = db.readObjectNodeHeader(n).nextIndex;
      }
      l = list->infoListNextIndex() == first ? 0 : list->infoListNextIndex();
    }
  });
  quietly([&] { db.close(); });
  return 0;
}
