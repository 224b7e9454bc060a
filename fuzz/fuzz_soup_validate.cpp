// fuzz/fuzz_soup_validate.cpp - opens arbitrary bytes as "database.soup" on
// the in-memory backend and does what the application does with a file
// that needs repair: validate with repair while a run answers invalid but
// repaired (at most five runs); when valid, a few changes chosen by the
// input, a full defragment, and a check-only validation. Then close.
//   - no exception may leave validate, and every run must end;
//   - after a valid repair, the changes and the pass raise at most on
//     records the file damaged (eException), never crash or hang, and the
//     check-only validation after them must find the database valid.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "database/soup_database.h"
#include "fuzz/fuzz_journal_backend.h"

namespace {

constexpr const char* kPath = "RAM:/fuzz_validate.soup";

class FuzzNode : public bw::cIndexedObjectNode {
 public:
  void restore(bw::cRestoreStreamBase& stream, bool doStore) override {
    bw::cIndexedObjectNode::restore(stream, doStore);
    value = bw::transferValue(stream, doStore, value);
  }
  int32_t value = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace bw;
  using namespace bw::fuzzing;
  initJournal();
  if (!data || size < 4) return 0;
  cJournaledIndexedObjectSoupDatabase db(soupFileOn(backendHolding(kPath, std::vector<uint8_t>(data + 4, data + size))));
  if (!opens(db, kPath)) return 0;
  bool valid = false;
  for (int run = 0; run < 5; ++run) {
    ValidationResult r = db.validate(false, true, false);
    valid = r.valid;
    if (r.valid || !r.repaired) break;
  }
  if (valid && !db.infoMustClose()) {
    try {
      CreatedList list = db.createObjectList();
      LoadedUse use(db, list.list);
      for (int k = 0; k < data[0] % 8; ++k) {
        auto node = std::make_unique<FuzzNode>();
        node->value = data[1] + k;
        int32_t n = db.createdAndUnloadObject(node.release());
        if (data[2] & (1 << k)) list.list->insertAtHead(n);
      }
      db.setListFlag((data[3] & 1) != 0);
      db.defragment(false);
      // FUZZ_VERBOSE prints what the final check finds.
      if (!db.validate(std::getenv("FUZZ_VERBOSE") != nullptr, false, false).valid) std::abort();
    } catch (const eException&) {
      // A record the file damaged in a way validation does not look at.
    }
  }
  quietly([&] { db.close(); });
  return 0;
}
