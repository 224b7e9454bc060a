// database/soup_damage_sweep_test.cpp - validation with repair over damaged
// copies of a generated database: zeroed 4 KiB pages, single bit flips and
// truncations. Each copy is opened, validated with repair, validated
// check-only and checked at every level of the independent checker.
//
// What must hold for every copy: no exception escapes and no internal "BUG"
// is reported; a run that answers valid leaves a file that passes the
// check-only validation and the checker; a run that does not answers
// repaired FALSE and leaves the committed file as it was before it.
// BRINDLEWORK_KILL_RUNS sets the copies of each kind (default 8); the
// figures are printed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "database/journal_test_support.h"
#include "database/journaled_soup_file.h"
#include "database/soup_check_test_support.h"
#include "database/soup_database.h"

namespace bw {
namespace {

using soupcheck::Expect;

// A list member of 200 bytes and a sequence number.
class PayloadNode : public cIndexedObjectNode {
  BW_CLASS(PayloadNode, cIndexedObjectNode)

 public:
  void restore(cRestoreStreamBase& stream, bool doStore) override {
    cIndexedObjectNode::restore(stream, doStore);
    sequence = transferValue(stream, doStore, sequence);
    for (int32_t& v : payload) v = transferValue(stream, doStore, v);
  }
  int32_t sequence = 0;
  int32_t payload[50] = {};
};

struct Tally {
  int copies = 0;
  int refused = 0;  // the file no longer opens
  int clean = 0;    // repaired (or found) sound
};

class SoupDamageSweepTest : public testing_journal::JournalTest {
 protected:
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> database(const std::string& name) {
    auto f = std::make_unique<JournaledSoupBlockFile>(-1);
    f->file().setIoBackend(backend);
    f->setPathProbe([this, name](Text) { return backend->exists(native(name)); });
    return std::make_unique<cJournaledIndexedObjectSoupDatabase>(std::move(f));
  }

  // Objects written in batches, three of four linked into one of four lists,
  // older ones destroyed; closed properly.
  std::vector<uint8_t> generate() {
    auto db = database("sweep.soup");
    EXPECT_TRUE(db->open(Text(internal("sweep.soup")), false));
    std::vector<cIndexedObjectList*> lists;
    for (int l = 0; l < 4; ++l) lists.push_back(db->createObjectList().list);
    std::vector<std::pair<int32_t, int>> linked;  // node, list
    std::mt19937 random(5);
    for (int32_t n = 0; n < 1200; ++n) {
      auto node = std::make_unique<PayloadNode>();
      node->sequence = n;
      for (int32_t& v : node->payload) v = static_cast<int32_t>(random());
      int32_t index = db->createdAndUnloadObject(node.release());
      if (n % 4 != 3) {
        int l = n % 4;
        lists[static_cast<size_t>(l)]->insertAtTail(index);
        linked.emplace_back(index, l);
      }
      if (n % 10 == 9 && linked.size() > 40) {  // the oldest of a list goes
        auto [old, l] = linked.front();
        linked.erase(linked.begin());
        lists[static_cast<size_t>(l)]->remove(old);
        db->unloadAndDestroyObject(db->loadObject(old, std::make_unique<PayloadNode>()));
      }
      if (n % 50 == 49) db->flush();
    }
    for (cIndexedObjectList* list : lists) db->unloadObject(list);
    db->close();
    return backend->image(native("sweep.soup"));
  }

  // One damaged copy through open, repair, check-only validation and the
  // checker; true when it ends sound.
  bool sweep(const std::vector<uint8_t>& copy, Tally& tally, const std::string& what) {
    SCOPED_TRACE(what);
    ++tally.copies;
    backend->setImage(native("copy.soup"), copy);
    auto db = database("copy.soup");
    bool opened = false;
    try {
      opened = db->open(Text(internal("copy.soup")), false);
    } catch (const eException&) {
    }
    if (!opened) {
      ++tally.refused;
      damagedOnPurpose.insert(native("copy.soup"));
      return false;
    }
    std::vector<uint8_t> before = backend->image(native("copy.soup"));
    ::testing::internal::CaptureStdout();
    ValidationResult repaired = db->validate(true, true, false);
    std::string said = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.find("EXCEPTION: \"BUG\""), std::string::npos) << said;
    if (!repaired.valid) {
      EXPECT_FALSE(repaired.repaired);
      EXPECT_TRUE(db->infoMustClose());
      db->close();
      EXPECT_EQ(backend->image(native("copy.soup")), before) << "a run that mended nothing sound changed the file";
      damagedOnPurpose.insert(native("copy.soup"));
      return false;
    }
    EXPECT_TRUE(db->validate(false, false, false).valid);
    db->close();
    testing::expectSoupSound(backend->image(native("copy.soup")), Expect::kClosed);
    ++tally.clean;
    return true;
  }
};

TEST_F(SoupDamageSweepTest, RepairAnswersHonestlyForEveryDamagedCopy) {
  int perKind = 8;
  if (const char* env = std::getenv("BRINDLEWORK_KILL_RUNS")) perKind = std::max(1, std::atoi(env));
  const std::vector<uint8_t> good = generate();
  ASSERT_GT(good.size(), 64u * 1024u);
  std::mt19937_64 random(2026);
  Tally pages, flips, cuts;
  const size_t pageCount = good.size() / 4096;
  for (int k = 0; k < perKind; ++k) {
    // Pages after the first: a zeroed journal header is refused at open.
    size_t page = 1 + static_cast<size_t>(random() % (pageCount - 1));
    std::vector<uint8_t> copy = good;
    std::fill(copy.begin() + static_cast<std::ptrdiff_t>(page * 4096),
              copy.begin() + static_cast<std::ptrdiff_t>(std::min(copy.size(), page * 4096 + 4096)), 0);
    sweep(copy, pages, "page " + std::to_string(page) + " zeroed");

    size_t at = 28 + static_cast<size_t>(random() % (good.size() - 28));
    copy = good;
    copy[at] ^= static_cast<uint8_t>(1u << (random() % 8));
    sweep(copy, flips, "bit flipped at " + std::to_string(at));

    if (k % 2 == 0) {
      copy.assign(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(28 + random() % (good.size() - 28)));
      sweep(copy, cuts, "cut to " + std::to_string(copy.size()));
    }
    if (HasFailure()) return;
  }
  for (auto [name, t] : {std::pair{"zeroed pages", pages}, {"bit flips", flips}, {"truncations", cuts}}) {
    std::printf("%s: %d copies, %d refused at open, %d sound after repair (%.0f %%)\n", name, t.copies, t.refused,
                t.clean, 100.0 * t.clean / std::max(1, t.copies));
  }
}

}  // namespace
}  // namespace bw
