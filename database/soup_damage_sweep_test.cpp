// database/soup_damage_sweep_test.cpp - validation with repair over damaged
// copies of a generated database: zeroed 4 KiB pages, single bit flips and
// truncations. Each copy is opened, validated with repair, validated
// check-only and checked at every level of the independent checker.
//
// What must hold for every copy: no exception escapes and no internal "BUG"
// is reported; a run that answers valid leaves a file that passes the
// check-only validation and the checker; a run that does not answers
// repaired FALSE and leaves the committed file as it was before it.
// BRINDLEWORK_KILL_RUNS sets the copies of each kind (default 8, 64 with
// BRINDLEWORK_FULL_SWEEPS=1); the figures are printed.
//
// The salvage sweep zeroes one random 4 KiB page of a database whose lists
// hold thousands of members (the block index read before tells which
// objects lived on it) and asks of the repair that most runs end sound and
// that those keep, in order, every member stored outside the page.
// BRINDLEWORK_DAMAGE_RUNS sets its runs (default 6, 60 with
// BRINDLEWORK_FULL_SWEEPS=1).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/sweep_test_support.h"
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

// An object outside every list.
class PayloadRecord : public cIndexedObject {
  BW_CLASS(PayloadRecord, cIndexedObject)

 public:
  void restore(cRestoreStreamBase& stream, bool doStore) override {
    version = transferValue(stream, doStore, version);
    for (int32_t& v : payload) v = transferValue(stream, doStore, v);
  }
  int32_t version = 1;
  int32_t payload[30] = {};
};

// What the salvage sweep's database holds: the lists with their members in
// order, and the objects outside them.
struct StoredModel {
  std::vector<int32_t> lists;
  std::vector<std::vector<int32_t>> members;
  std::vector<int32_t> records;
};

// Where each index's block lies in the file (first byte, end).
struct Extent {
  int64_t begin = 0, end = 0;
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

  // Lists filled as a reader's feeds are: a burst of new members (each
  // with a record of its own beside it) at one list's head or tail, then
  // the list's oldest members and their records expire; their room is
  // taken again by later bursts. Four lists of about 1,500 members; closed
  // properly.
  StoredModel generateLarge(std::vector<Extent>& extents) {
    auto db = database("large.soup");
    EXPECT_TRUE(db->open(Text(internal("large.soup")), false));
    StoredModel model;
    std::vector<cIndexedObjectList*> lists;
    for (int l = 0; l < 4; ++l) {
      CreatedList c = db->createObjectList();
      lists.push_back(c.list);
      model.lists.push_back(c.index);
      model.members.emplace_back();
    }
    std::vector<std::vector<int32_t>> records(4);  // each member's record, in member order
    std::mt19937 random(11);
    for (int burst = 0; burst < 500; ++burst) {
      const size_t l = random() % 4;
      const bool atHead = random() % 4 == 0;
      std::vector<int32_t>& m = model.members[l];
      std::vector<int32_t>& r = records[l];
      for (int k = 0, count = 4 + static_cast<int>(random() % 20); k < count; ++k) {
        auto record = std::make_unique<PayloadRecord>();
        for (int32_t& v : record->payload) v = static_cast<int32_t>(random());
        int32_t recordIndex = db->createdAndUnloadObject(record.release());
        auto node = std::make_unique<PayloadNode>();
        node->sequence = burst;
        for (int32_t& v : node->payload) v = static_cast<int32_t>(random());
        int32_t index = db->createdAndUnloadObject(node.release());
        if (atHead) {
          lists[l]->insertAtHead(index);
          m.insert(m.begin(), index);
          r.insert(r.begin(), recordIndex);
        } else {
          lists[l]->insertAtTail(index);
          m.push_back(index);
          r.push_back(recordIndex);
        }
      }
      while (m.size() > 1500) {  // the oldest go, from the end that holds them
        const bool head = random() % 2 == 0;
        int32_t old = head ? m.front() : m.back();
        int32_t oldRecord = head ? r.front() : r.back();
        m.erase(head ? m.begin() : m.end() - 1);
        r.erase(head ? r.begin() : r.end() - 1);
        lists[l]->remove(old);
        db->unloadAndDestroyObject(db->loadObject(old, std::make_unique<PayloadNode>()));
        db->unloadAndDestroyObject(db->loadObject(oldRecord, std::make_unique<PayloadRecord>()));
      }
      if (burst % 10 == 9) db->flush();
    }
    for (auto& r : records) model.records.insert(model.records.end(), r.begin(), r.end());
    for (cIndexedObjectList* list : lists) db->unloadObject(list);
    db->flush();
    // The block of each index: its header lies 12 bytes before the data.
    const std::vector<uint8_t> image = backend->image(native("large.soup"));
    int32_t last = 0;
    for (auto& m : model.members) last = std::max(last, *std::max_element(m.begin(), m.end()));
    last = std::max({last, *std::max_element(model.records.begin(), model.records.end()),
                     *std::max_element(model.lists.begin(), model.lists.end())});
    extents.assign(static_cast<size_t>(last) + 1, Extent{});
    for (int32_t i = 1; i <= last; ++i) {
      int64_t data = db->infoBlockFile().infoBlockOfIndex(i, true);
      if (data == 0) continue;
      int64_t at = kJournalHeaderSize + data - 12;
      uint32_t size = getBig32(image.data() + at) & ~3u;
      extents[static_cast<size_t>(i)] = {at, at + size};
    }
    db->close();
    return model;
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
  const int perKind = static_cast<int>(bw::testing::sweepCount("BRINDLEWORK_KILL_RUNS", 8, 64));
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

TEST_F(SoupDamageSweepTest, RepairKeepsTheMembersOutsideAZeroedPage) {
  const int runs = static_cast<int>(bw::testing::sweepCount("BRINDLEWORK_DAMAGE_RUNS", 6, 60));
  std::vector<Extent> extents;
  const StoredModel model = generateLarge(extents);
  const std::vector<uint8_t> good = backend->image(native("large.soup"));
  const int64_t pageCount = static_cast<int64_t>(good.size() + 4095) / 4096;
  std::unordered_map<int32_t, int32_t> owners;  // what each member's record tells of its list
  for (size_t l = 0; l < model.lists.size(); ++l) {
    for (int32_t m : model.members[l]) owners[m] = model.lists[l];
  }
  std::mt19937_64 random(54);
  int clean = 0, kept = 0, refused = 0;
  size_t membersLost = 0, membersOff = 0;
  for (int run = 0; run < runs; ++run) {
    const int64_t page = static_cast<int64_t>(random() % static_cast<uint64_t>(pageCount));
    auto onPage = [&](int32_t index) {
      const Extent& e = extents[static_cast<size_t>(index)];
      return e.begin < (page + 1) * 4096 && e.end > page * 4096;
    };
    std::vector<uint8_t> copy = good;
    std::fill(copy.begin() + page * 4096, copy.begin() + std::min<int64_t>(static_cast<int64_t>(copy.size()), page * 4096 + 4096), 0);
    SCOPED_TRACE("page " + std::to_string(page) + " zeroed");
    backend->setImage(native("copy.soup"), copy);
    damagedOnPurpose.insert(native("copy.soup"));
    auto db = database("copy.soup");
    // The caller's model names its lists, as the reader's root and feeds do.
    db->setListModelSource([&model, &owners](ValidationSet& indices) {
      cJournaledIndexedObjectSoupDatabase::ListModel lists;
      for (int32_t l : model.lists) {
        if (indices.get(l) != 0) lists.lists.push_back(l);
      }
      std::reverse(lists.lists.begin(), lists.lists.end());  // the newest first
      lists.listOfNode = [&owners](int32_t node) {
        auto owner = owners.find(node);
        return owner == owners.end() ? 0 : owner->second;
      };
      return lists;
    });
    bool opened = false;
    try {
      opened = db->open(Text(internal("copy.soup")), false);
    } catch (const eException&) {
    }
    if (!opened) {
      ++refused;
      continue;
    }
    ::testing::internal::CaptureStdout();
    ValidationResult repaired = db->validate(true, true, false);
    std::string said = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.find("EXCEPTION: \"BUG\""), std::string::npos) << said;
    if (!repaired.valid || !db->validate(false, false, false).valid) {
      db->close();
      continue;
    }
    ++clean;
    // Every list's members now, against the members stored off the page:
    // those must all be there, in their order, and nothing else.
    bool all = true;
    std::unordered_set<int32_t> chain;  // the lists the database still holds
    for (int32_t l = db->infoHeadListIndex(); l != 0 && chain.insert(l).second;) {
      cIndexedObjectList* list = loadObject_cIndexedObjectList(*db, l);
      LoadedUse use(*db, list);
      l = list->infoListNextIndex();
    }
    for (size_t l = 0; l < model.lists.size(); ++l) {
      std::vector<int32_t> now;
      if (chain.contains(model.lists[l])) {
        cIndexedObjectList* list = loadObject_cIndexedObjectList(*db, model.lists[l]);
        LoadedUse use(*db, list);
        for (int32_t n = list->infoHeadIndex(); n != 0 && now.size() <= model.members[l].size();
             n = db->readObjectNodeHeader(n).nextIndex) {
          now.push_back(n);
        }
      }
      std::vector<int32_t> off;
      for (int32_t m : model.members[l]) {
        if (!onPage(m)) off.push_back(m);
      }
      const std::unordered_set<int32_t> was(model.members[l].begin(), model.members[l].end());
      for (int32_t n : now) EXPECT_TRUE(was.contains(n)) << "list " << l << " took " << n;
      auto found = now.begin();
      size_t missing = 0;
      for (int32_t m : off) {
        auto at = std::find(found, now.end(), m);
        if (at == now.end()) {
          ++missing;
        } else {
          found = at + 1;
        }
      }
      membersOff += off.size();
      membersLost += missing;
      all = all && missing == 0;
    }
    for (int32_t r : model.records) {
      if (!onPage(r)) all = all && db->infoBlockFile().infoBlockOfIndex(r, true) != 0;
    }
    kept += all ? 1 : 0;
    db->close();
    testing::expectSoupSound(backend->image(native("copy.soup")), Expect::kClosed);
    if (HasFailure()) return;
  }
  std::printf("salvage sweep: %d runs over %lld pages, %d refused at open, %d sound after repair (%.1f %%), "
              "%d of them kept every member off the page (%.1f %%); %zu of %zu members off the page lost\n",
              runs, static_cast<long long>(pageCount), refused, clean, 100.0 * clean / runs, kept,
              100.0 * kept / std::max(1, clean), membersLost, membersOff);
  EXPECT_GE(clean * 10, runs * 9);
  EXPECT_GE(kept * 20, clean * 19);
}

}  // namespace
}  // namespace bw
