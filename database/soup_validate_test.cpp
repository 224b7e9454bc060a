// database/soup_validate_test.cpp - the soup's and the Database's
// validation findings, the removal of unused objects and the list order of
// compaction, over the in-memory block file (whose own validation always
// answers valid with every index in use).
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "database/soup_database.h"
#include "database/soup_fake_block_file_test_support.h"

namespace bw {
namespace {

using testing::FakeDisk;
using testing::FakeSoupBlockFile;
using testing::TestNode;
using testing::TestRecord;

class SoupValidateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto f = std::make_unique<FakeSoupBlockFile>(disk);
    file = f.get();
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(std::move(f));
    ASSERT_TRUE(db->open("db", false));
    db->setAutoCompact(false);
  }
  int32_t node(int32_t value) { return db->createdAndUnloadObject(new TestNode(value)); }
  // A list holding n nodes, unloaded; its index, the nodes in `nodes`.
  int32_t listOf(int n, std::vector<int32_t>* nodes = nullptr) {
    CreatedList c = db->createObjectList();
    for (int k = 0; k < n; ++k) {
      int32_t i = node(k);
      c.list->insertAtTail(i);
      if (nodes) nodes->push_back(i);
    }
    db->unloadObject(c.list);
    return c.index;
  }
  // Raw damage: a 32-bit field of a record, beside the soup.
  void patch(int32_t index, int32_t offset, int32_t value) {
    int64_t at = file->infoBlockOfIndex(index, false) + offset;
    uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                    static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    int32_t tx = file->beginTransaction();
    file->writeBytes(at, b, 4);
    file->finishTransaction(tx);
  }
  struct Run {
    bool valid;
    bool repaired;
    std::string out;
    bool kept;
  };
  Run validate(bool repair, bool keepSet = true) {
    ::testing::internal::CaptureStdout();
    ValidationResult v = db->validate(true, repair, keepSet);
    return {v.valid, v.repaired, ::testing::internal::GetCapturedStdout(), v.indices != nullptr};
  }
  // Check-only finds `lines` and writes nothing; repair mends them; a
  // second check finds nothing.
  void expectMended(const std::string& lines, const std::string& checkOnly = "") {
    testing::FakeSoupImage before = file->image();
    Run found = validate(false);
    EXPECT_EQ(found.out, checkOnly.empty() ? lines : checkOnly);
    EXPECT_FALSE(found.valid);
    EXPECT_FALSE(found.kept);
    EXPECT_EQ(file->image().blocks, before.blocks);
    EXPECT_EQ(file->image().header, before.header);
    Run mended = validate(true);
    EXPECT_EQ(mended.out, lines);
    EXPECT_TRUE(mended.valid);
    EXPECT_TRUE(mended.repaired);
    Run again = validate(false);
    EXPECT_EQ(again.out, "");
    EXPECT_TRUE(again.valid);
  }

  std::shared_ptr<FakeDisk> disk = std::make_shared<FakeDisk>();
  FakeSoupBlockFile* file = nullptr;
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db;
};

TEST_F(SoupValidateTest, DatabaseWithoutListsIsValid) {
  db->createdAndUnloadObject(new TestRecord({1, 2}));
  Run r = validate(true);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.valid);
  EXPECT_FALSE(r.repaired);
  EXPECT_TRUE(r.kept);
  EXPECT_FALSE(validate(false, false).kept);
}

TEST_F(SoupValidateTest, ListTailAndNodeLinksAreMended) {
  std::vector<int32_t> n;
  int32_t list = listOf(3, &n);
  patch(list, 4, n[1]);  // tailIndex
  expectMended("Invalid list.tailIndex=" + std::to_string(n[1]) + " expected " + std::to_string(n[2]) + "\n");
  patch(n[1], 4, 0);  // prevIndex of the middle node
  expectMended("Invalid nodePrevIndex=0 expected " + std::to_string(n[0]) + "\n");
  EXPECT_EQ(db->readObjectNodeHeader(n[1]).prevIndex, n[0]);
}

TEST_F(SoupValidateTest, NodeCycleIsCutWithAndWithoutRepair) {
  std::vector<int32_t> n;
  listOf(3, &n);
  patch(n[2], 0, n[0]);  // the last node leads back to the first
  expectMended("Invalid nodeIndex=" + std::to_string(n[0]) + " (prevNodeIndex=" + std::to_string(n[2]) + ")\n");
  EXPECT_EQ(db->readObjectNodeHeader(n[2]).nextIndex, 0);
}

TEST_F(SoupValidateTest, ChainCycleOffTheHeadEnds) {
  int32_t a = listOf(0), b = listOf(0), c = listOf(0);  // chain c, b, a
  patch(a, 8, b);  // a leads back to b instead of the head c
  std::string sa = std::to_string(a), sb = std::to_string(b), sc = std::to_string(c);
  expectMended("Invalid listIndex=" + sb + " (prevListIndex=" + sa + ")\nInvalid tailListIndex=0 expected " + sa + "\n",
               "Invalid listIndex=" + sb + " (prevListIndex=" + sa + ")\nInvalid tail list.listNextIndex=" + sb +
                   " expected " + sc + "\n");
}

// A list named as a node of another would have its record rewritten as a
// node header while it is loaded as a list.
TEST_F(SoupValidateTest, ListMetAsANodeIsCut) {
  int32_t a = listOf(0), b = listOf(0);  // chain b, a
  patch(a, 0, b);                         // a's head names list b
  expectMended("Invalid nodeIndex=" + std::to_string(b) + " (prevNodeIndex=0)\n");
  cIndexedObjectList* list = loadObject_cIndexedObjectList(*db, a);
  EXPECT_EQ(list->infoHeadIndex(), 0);
  db->unloadObject(list);
}

// A repair relinks a list around the nodes it lost (their indices gone with
// their blocks) from the links that are left, and keeps the members in order.
TEST_F(SoupValidateTest, BrokenListsAreRelinkedAroundLostNodes) {
  struct Case {
    const char* what;
    std::vector<int> lost;                // nodes whose index is gone
    std::vector<std::array<int, 3>> set;  // node, field offset, node named (-1: none, -2: an index never used)
    std::vector<int> kept;
  };
  const std::vector<Case> cases = {
      {"head lost", {0}, {}, {1, 2, 3, 4, 5, 6, 7}},
      {"middle lost", {3}, {}, {0, 1, 2, 4, 5, 6, 7}},
      {"tail lost", {7}, {}, {0, 1, 2, 3, 4, 5, 6}},
      {"two breaks", {2, 5}, {}, {0, 1, 3, 4, 6, 7}},
      {"two neighbours lost", {3, 4}, {}, {0, 1, 2, 5, 6, 7}},
      {"head and tail lost", {0, 7}, {}, {1, 2, 3, 4, 5, 6}},
      {"a cycle", {}, {{5, 0, 2}}, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"back link points elsewhere", {}, {{4, 4, 1}}, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"next link cleared", {}, {{3, 0, -1}}, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"next link to an unused index", {}, {{3, 0, -2}}, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"a node's links lost", {}, {{3, 0, -1}, {3, 4, -1}}, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"lost node beside a node whose links were lost", {4}, {{3, 0, -1}, {3, 4, -1}}, {0, 1, 2, 3, 5, 6, 7}},
      // Nodes 3 and 4 are cut off between runs of lost nodes: without a
      // model that names their list, nothing tells where they belong.
      {"two runs of two lost", {1, 2, 5, 6}, {}, {0, 7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<int32_t> n;
    int32_t list = listOf(8, &n);
    int32_t tx = file->beginTransaction();
    for (int k : c.lost) file->deallocateIndex(n[static_cast<size_t>(k)]);
    file->finishTransaction(tx);
    for (auto [k, offset, to] : c.set) patch(n[static_cast<size_t>(k)], offset, to == -1 ? 0 : to == -2 ? 9999 : n[static_cast<size_t>(to)]);
    EXPECT_FALSE(validate(false).valid);
    Run mended = validate(true);
    EXPECT_TRUE(mended.valid && mended.repaired) << mended.out;
    Run again = validate(false);
    EXPECT_TRUE(again.valid) << again.out;
    std::vector<int32_t> members, back, expected;
    for (int k : c.kept) expected.push_back(n[static_cast<size_t>(k)]);
    cIndexedObjectList* l = loadObject_cIndexedObjectList(*db, list);
    for (int32_t m = l->infoHeadIndex(); m != 0 && members.size() < 9; m = db->readObjectNodeHeader(m).nextIndex) members.push_back(m);
    for (int32_t m = l->infoTailIndex(); m != 0 && back.size() < 9; m = db->readObjectNodeHeader(m).prevIndex) back.insert(back.begin(), m);
    db->unloadObject(l);
    EXPECT_EQ(members, expected);
    EXPECT_EQ(back, expected);
  }
}

// With a model that names each node's list, the nodes cut off between runs
// of lost nodes go back to their list, nearest run first.
TEST_F(SoupValidateTest, RunsBetweenLostNodesGoBackToTheListTheModelNames) {
  std::vector<int32_t> n, other;
  int32_t list = listOf(12, &n);
  listOf(4, &other);
  std::unordered_map<int32_t, int32_t> owners;
  for (int32_t m : n) owners[m] = list;
  db->setListModelSource([&owners](ValidationSet&) {
    cJournaledIndexedObjectSoupDatabase::ListModel model;
    model.listOfNode = [&owners](int32_t node) { return owners.contains(node) ? owners[node] : 0; };
    return model;
  });
  int32_t tx = file->beginTransaction();
  for (int k : {1, 2, 5, 6, 8, 9}) file->deallocateIndex(n[static_cast<size_t>(k)]);
  file->finishTransaction(tx);
  EXPECT_TRUE(validate(true).valid);
  EXPECT_TRUE(validate(false).valid);
  std::vector<int32_t> members;
  cIndexedObjectList* l = loadObject_cIndexedObjectList(*db, list);
  for (int32_t m = l->infoHeadIndex(); m != 0 && members.size() < 13; m = db->readObjectNodeHeader(m).nextIndex) members.push_back(m);
  db->unloadObject(l);
  EXPECT_EQ(members, (std::vector<int32_t>{n[0], n[3], n[4], n[7], n[10], n[11]}));
}

// A list of the chain that is gone is passed over: the walk back from the
// head's listPrevIndex finds the lists after it.
TEST_F(SoupValidateTest, ChainIsRelinkedAroundALostList) {
  int32_t a = listOf(1), b = listOf(1), c = listOf(1), d = listOf(1);  // chain d, c, b, a
  int32_t tx = file->beginTransaction();
  file->deallocateIndex(c);
  file->finishTransaction(tx);
  EXPECT_FALSE(validate(false).valid);
  EXPECT_TRUE(validate(true).valid);
  EXPECT_TRUE(validate(false).valid);
  std::vector<int32_t> chain;
  for (int32_t l = db->infoHeadListIndex(); l != 0 && chain.size() < 5;) {
    chain.push_back(l);
    cIndexedObjectList* list = loadObject_cIndexedObjectList(*db, l);
    l = list->infoListNextIndex();
    db->unloadObject(list);
    if (l == chain.front()) break;
  }
  EXPECT_EQ(chain, (std::vector<int32_t>{d, b, a}));
}

TEST_F(SoupValidateTest, HeadThatIsNoIndexDropsTheChain) {
  listOf(1);
  file->setHeaderValue(kSoupExtra1, 999);
  expectMended("Invalid listIndex=999 (prevListIndex=0)\n");
  EXPECT_EQ(db->infoHeadListIndex(), 0);
}

TEST_F(SoupValidateTest, CompactionPositionsAndDefragListIndex) {
  listOf(1);
  db->setAutoBlockToCompact(12345);
  expectMended("autoBlockToCompact 12345 does not exist!\n");
  EXPECT_EQ(db->infoAutoBlockToCompact(), file->infoFirstBlock());

  // The compaction walk stands at a list of the chain: one naming anything
  // else restarts it; a list stays where it is.
  std::vector<int32_t> nodes;
  const int32_t list = listOf(1, &nodes);
  const int32_t record = db->createdAndUnloadObject(new TestRecord({5}));
  const struct {
    int64_t at;
    bool sound;
  } cases[] = {{~int64_t{999}, false}, {999, false}, {~int64_t{record}, false}, {record, false},
               {~int64_t{nodes[0]}, false}, {~int64_t{list}, true}, {list, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at);
    file->setHeaderValue(kSoupExtra2, c.at);
    Run found = validate(false);
    const int64_t named = c.at < 0 ? ~c.at : c.at;
    EXPECT_EQ(found.out, c.sound ? "" : "Invalid listIndex=" + std::to_string(named) + " (from readDefragListIndex())\n");
    EXPECT_EQ(found.valid, c.sound);
    Run mended = validate(true);
    EXPECT_TRUE(mended.valid);
    EXPECT_FALSE(mended.repaired);  // restarting the walk alone counts as no repair
    EXPECT_EQ(db->infoDefragListIndex(), c.sound ? c.at : -1);
  }
}

// The check alone shows every list and node it takes once, a node with its
// list and its record's first bytes; one refused, or a raise, ends it with
// false.
TEST_F(SoupValidateTest, ListsAgreeShowsEachNodeToTheNodeCheck) {
  std::vector<int32_t> n;
  const int32_t a = listOf(3, &n), b = listOf(2, &n);
  std::map<int32_t, int32_t> shown;  // node -> list
  auto record = [&](int32_t list, int32_t node, std::span<const uint8_t> bytes) {
    if (node == 0) return shown.emplace(list, 0).second;
    EXPECT_GE(bytes.size(), 8u);
    const auto word = [&](size_t k) {
      return static_cast<int32_t>(uint32_t{bytes[k]} << 24 | uint32_t{bytes[k + 1]} << 16 |
                                  uint32_t{bytes[k + 2]} << 8 | bytes[k + 3]);
    };
    const NodeHeader links = db->readObjectNodeHeader(node);
    EXPECT_EQ(word(0), links.nextIndex);
    EXPECT_EQ(word(4), links.prevIndex);
    return shown.emplace(node, list).second;
  };
  EXPECT_TRUE(db->listsAgree(false, record));
  EXPECT_EQ(shown, (std::map<int32_t, int32_t>{{a, 0}, {b, 0}, {n[0], a}, {n[1], a}, {n[2], a}, {n[3], b}, {n[4], b}}));
  n.insert(n.end(), {a, b});
  for (const int32_t refused : n) {
    auto refuse = [&](int32_t list, int32_t node, auto) { return (node != 0 ? node : list) != refused; };
    EXPECT_FALSE(db->listsAgree(false, refuse)) << refused;
  }
  EXPECT_FALSE(db->listsAgree(false, [](int32_t, int32_t, auto) -> bool { raise("EMU", "unreadable"); }));
  patch(n[2], 0, n[0]);  // damage the check accepts still answers false
  EXPECT_FALSE(db->listsAgree(false, [](int32_t, int32_t, auto) { return true; }));
}

// Lists whose nodes were made in turn, so that each list's nodes lie in
// every run of index entries the check keeps (more runs than it holds):
// with one node's next link damaged in turn to a node of its own or another
// list, a list, an index with no block or none at all, the check alone
// answers as the validation does.
TEST_F(SoupValidateTest, ListsAgreeAnswersAsTheValidationWhereNodesInterleave) {
  std::vector<CreatedList> lists(6);
  for (CreatedList& l : lists) l = db->createObjectList();
  std::vector<std::vector<int32_t>> nodes(lists.size());
  for (int k = 0; k < 70; ++k) {
    for (size_t l = 0; l < lists.size(); ++l) {
      const int32_t i = node(k);
      lists[l].list->insertAtTail(i);
      nodes[l].push_back(i);
    }
  }
  for (CreatedList& l : lists) db->unloadObject(l.list);
  const int32_t unused = file->preallocateIndex();  // an index without a block
  ASSERT_TRUE(db->listsAgree(false));
  std::mt19937 random(11);
  for (int trial = 0; trial < 150; ++trial) {
    const auto& own = nodes[random() % nodes.size()];
    const auto& other = nodes[random() % nodes.size()];
    const int32_t damaged = own[random() % own.size()];
    const int32_t names[] = {own[random() % own.size()], other[random() % other.size()],
                             lists[random() % lists.size()].index, unused, 100000, damaged};
    const int32_t named = names[random() % std::size(names)];
    const int32_t next = db->readObjectNodeHeader(damaged).nextIndex;
    patch(damaged, 0, named);
    SCOPED_TRACE(::testing::Message() << damaged << " -> " << named);
    EXPECT_EQ(db->listsAgree(false), validate(false).valid);
    patch(damaged, 0, next);
  }
  EXPECT_TRUE(db->listsAgree(false));
}

TEST_F(SoupValidateTest, ExceptionIsReportedAndAnswersInvalid) {
  int32_t reserved = file->preallocateIndex();  // an index without a record
  file->setHeaderValue(kSoupExtra1, reserved);
  Run r = validate(false);
  EXPECT_EQ(r.out, "EXCEPTION: \"EMU\"; cJournaledIndexedObjectSoup.loadObject(); no object matches provided index.\n");
  EXPECT_FALSE(r.valid);
  EXPECT_FALSE(r.repaired);
}

TEST_F(SoupValidateTest, UnusedObjectsAreDestroyed) {
  std::vector<int32_t> n;
  int32_t unused = listOf(2, &n);
  int32_t kept = listOf(1);
  int32_t stray = db->createdAndUnloadObject(new TestRecord({5}));
  ValidationSet set;
  for (int32_t i : {unused, n[0], n[1], stray}) set.set(i, 1);
  ::testing::internal::CaptureStdout();
  int64_t count = db->destroyUnusedObjects(set, true);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "List was allocated but unused (index=" + std::to_string(unused) + ")\n1 objects were allocated by unused\n");
  EXPECT_EQ(count, 1);
  for (int32_t i : {unused, n[0], n[1], stray}) EXPECT_EQ(file->infoBlockOfIndex(i, true), 0) << i;
  EXPECT_EQ(db->infoHeadListIndex(), kept);
  EXPECT_TRUE(validate(false).valid);
}

// The list order: the dummy block first, then the oldest list's record and
// its nodes, then the list before it in the chain.
TEST_F(SoupValidateTest, DesiredBlocksFollowTheListOrder) {
  std::vector<int32_t> older, newer;
  int32_t first = listOf(2, &older);
  int32_t second = listOf(1, &newer);  // now the head of the chain
  int32_t empty = listOf(0);
  auto block = [&](int32_t index) { return file->infoBlockOfIndex(index, false) - 4; };
  db->compactStep(true);
  EXPECT_EQ(db->infoAutoDesiredBlock(), file->infoDummyBlock());
  EXPECT_EQ(db->infoDefragListIndex(), -1);
  int64_t d = db->decideNextDesiredBlock(file->infoDummyBlock());
  EXPECT_EQ(d, block(first));
  EXPECT_EQ(db->infoDefragListIndex(), ~int64_t{first});
  EXPECT_EQ(d = db->decideNextDesiredBlock(d), block(older[0]));
  EXPECT_EQ(d = db->decideNextDesiredBlock(d), block(older[1]));
  EXPECT_EQ(d = db->decideNextDesiredBlock(d), block(second));
  EXPECT_EQ(d = db->decideNextDesiredBlock(d), block(newer[0]));
  EXPECT_EQ(d = db->decideNextDesiredBlock(d), block(empty));
  EXPECT_EQ(d = db->decideNextDesiredBlock(d), 0);  // an empty list ends the order
  EXPECT_EQ(db->infoDefragListIndex(), empty);

  // With the flag, nodes come tail to head; setting it again changes nothing.
  db->setListFlag(true);
  EXPECT_EQ(db->infoDefragListIndex(), -1);
  db->setAutoBlockToCompact(0);
  db->setListFlag(true);
  EXPECT_EQ(db->infoAutoBlockToCompact(), 0);
  d = db->decideNextDesiredBlock(file->infoDummyBlock());
  EXPECT_EQ(d = db->decideNextDesiredBlock(d), block(older[1]));
}

TEST_F(SoupValidateTest, StepWithBothPositionsZeroOnlyRestarts) {
  listOf(2);
  db->setAutoBlockToCompact(0);
  db->setAutoDesiredBlock(0);
  testing::FakeSoupImage before = file->image();
  db->compactStep(false);
  EXPECT_EQ(db->infoAutoBlockToCompact(), file->infoFirstBlock());
  EXPECT_EQ(db->infoAutoDesiredBlock(), file->infoDummyBlock());
  EXPECT_EQ(file->image().blocks, before.blocks);
}

}  // namespace
}  // namespace bw
