// database/soup_database_test.cpp - object lists over the in-memory block
// file: the chain of lists, member operations, node headers, the loaded-node
// rule and the refusals.
#include "database/soup_database.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/raise_test_support.h"
#include "database/soup_fake_block_file_test_support.h"

namespace bw {
namespace {

using testing::FakeDisk;
using testing::FakeSoupBlockFile;
using testing::TestNode;

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override { openDb(); }
  void openDb() {
    auto f = std::make_unique<FakeSoupBlockFile>(disk);
    file = f.get();
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(std::move(f));
    ASSERT_TRUE(db->open("db", false));
  }
  int32_t node(int32_t value) { return db->createdAndUnloadObject(new TestNode(value)); }
  // The list's nodes head to tail, checking every prevIndex on the way.
  std::vector<int32_t> walk(cIndexedObjectList* list) {
    std::vector<int32_t> order;
    int32_t prev = 0;
    for (int32_t i = list->infoHeadIndex(); i != 0 && order.size() < 100;) {
      NodeHeader h = db->readObjectNodeHeader(i);
      EXPECT_EQ(h.prevIndex, prev) << "node " << i;
      order.push_back(i);
      prev = i;
      i = h.nextIndex;
    }
    EXPECT_EQ(list->infoTailIndex(), prev);
    return order;
  }
  // The chain of lists from headListIndex, checking the back links.
  std::vector<int32_t> chain() {
    std::vector<int32_t> order;
    int32_t first = db->infoHeadListIndex();
    int32_t i = first;
    while (i != 0 && order.size() < 100) {
      cIndexedObjectList* l = loadObject_cIndexedObjectList(*db, i);
      order.push_back(i);
      int32_t next = l->infoListNextIndex();
      cIndexedObjectList* n = loadObject_cIndexedObjectList(*db, next);
      EXPECT_EQ(n->infoListPrevIndex(), i);
      db->unloadObject(n);
      db->unloadObject(l);
      i = next == first ? 0 : next;
    }
    return order;
  }

  std::shared_ptr<FakeDisk> disk = std::make_shared<FakeDisk>();
  FakeSoupBlockFile* file = nullptr;
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db;
};

TEST_F(ListTest, ListRecordsAreSixteenBytes) {
  CreatedList c = db->createObjectList();
  c.list->insertAtHead(node(1));
  int64_t position = file->infoBlockOfIndex(c.index, false);
  EXPECT_EQ(file->infoSizeOfIndexBlock(position), 16);
  std::vector<uint8_t> p = file->payload(position - 4);
  std::vector<uint8_t> expected = {0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_EQ(std::vector<uint8_t>(p.begin() + 4, p.begin() + 20), expected);
  EXPECT_EQ(c.list->infoStoredSize(), 16);
  EXPECT_EQ(c.list->infoExtraValue(), 0);
  EXPECT_EQ(c.list->infoSoup(), db.get());
  db->unloadObject(c.list);
  // A list read back through the soup's stream knows its database.
  cIndexedObjectList* again = loadObject_cIndexedObjectList(*db, c.index);
  EXPECT_EQ(again->infoSoup(), db.get());
  EXPECT_EQ(again->infoHeadIndex(), 2);
  db->unloadObject(again);
}

TEST_F(ListTest, TheChainOfListsIsACircleWithTheNewestFirst) {
  EXPECT_EQ(db->infoHeadListIndex(), 0);
  CreatedList a = db->createObjectList();
  EXPECT_EQ(a.list->infoListNextIndex(), a.index);
  EXPECT_EQ(a.list->infoListPrevIndex(), a.index);
  EXPECT_EQ(a.list->infoUseCount(), 1);
  CreatedList b = db->createObjectList();
  EXPECT_EQ(db->infoHeadListIndex(), b.index);
  EXPECT_EQ(b.list->infoListNextIndex(), a.index);
  EXPECT_EQ(b.list->infoListPrevIndex(), a.index);
  EXPECT_EQ(a.list->infoListNextIndex(), b.index);  // the loaded list was updated too
  CreatedList c = db->createObjectList();
  db->unloadObject(a.list);
  db->unloadObject(b.list);
  db->unloadObject(c.list);
  EXPECT_EQ(chain(), (std::vector<int32_t>{c.index, b.index, a.index}));
  db->close();
  openDb();
  EXPECT_EQ(chain(), (std::vector<int32_t>{c.index, b.index, a.index}));

  db->destroyObjectList(b.index);  // a middle list
  EXPECT_EQ(chain(), (std::vector<int32_t>{c.index, a.index}));
  db->destroyObjectList(c.index);  // the first list
  EXPECT_EQ(chain(), (std::vector<int32_t>{a.index}));
  EXPECT_EQ(db->infoHeadListIndex(), a.index);
  cIndexedObjectList* last = loadObject_cIndexedObjectList(*db, a.index);
  EXPECT_EQ(last->infoListNextIndex(), a.index);
  EXPECT_EQ(last->infoListPrevIndex(), a.index);
  db->unloadObject(last);
}

// The only list of the chain is its own neighbour: destroying it must not
// load it again (which would leave it loaded and refuse the destroy).
TEST_F(ListTest, DestroyingTheOnlyListEmptiesTheChain) {
  db->setAutoCompact(false);  // keeps the list-order walk where the test puts it
  CreatedList only = db->createObjectList();
  int64_t used = db->infoUsedBytes();
  db->unloadAndDestroyObjectList(only.list);
  EXPECT_EQ(db->infoHeadListIndex(), 0);
  EXPECT_FALSE(db->infoMustClose());
  EXPECT_LT(db->infoUsedBytes(), used);
  EXPECT_EQ(file->infoBlockOfIndex(only.index, true), 0);
  EXPECT_EQ(db->findRegisteredObject(only.index), nullptr);

  // The walk of the list order stood on it: it ends there.
  CreatedList again = db->createObjectList();
  db->unloadObject(again.list);
  db->close();
  openDb();
  db->setAutoDesiredBlock(file->infoBlockOfIndex(again.index, false) - 4);
  EXPECT_EQ(db->infoDefragListIndex(), -1);
  db->destroyObjectList(again.index);
  EXPECT_EQ(db->infoHeadListIndex(), 0);
  EXPECT_EQ(chain(), std::vector<int32_t>{});
}

TEST_F(ListTest, DestroyingAListMovesTheDefragWalkToTheNextList) {
  db->setAutoCompact(false);  // the hook alone, without the step that follows it
  CreatedList a = db->createObjectList();
  CreatedList b = db->createObjectList();  // chain: b, a
  CreatedList c = db->createObjectList();  // chain: c, b, a
  for (CreatedList* l : {&a, &b, &c}) db->unloadObject(l->list);
  // Standing inside list b: its next list is a, not the first list.
  db->setDefragListIndex(b.index);
  db->destroyObjectList(b.index);
  EXPECT_EQ(db->infoDefragListIndex(), ~int64_t{a.index});
  EXPECT_EQ(db->infoAutoDesiredBlock(), file->infoBlockOfIndex(a.index, false) - 4);
  // Standing on a's record (complemented): its next list c is the first.
  db->destroyObjectList(a.index);
  EXPECT_EQ(db->infoDefragListIndex(), 0);
  EXPECT_EQ(db->infoAutoDesiredBlock(), 0);
  EXPECT_EQ(chain(), std::vector<int32_t>{c.index});
}

TEST_F(ListTest, MembersInsertAndRemove) {
  CreatedList c = db->createObjectList();
  cIndexedObjectList* list = c.list;
  int32_t n1 = node(1), n2 = node(2), n3 = node(3), n4 = node(4), n5 = node(5);
  list->insertAtHead(n2);  // into an empty list
  EXPECT_EQ(list->infoHeadIndex(), n2);
  EXPECT_EQ(list->infoTailIndex(), n2);
  EXPECT_EQ(db->readObjectNodeHeader(n2).nextIndex, 0);
  EXPECT_EQ(db->readObjectNodeHeader(n2).prevIndex, 0);
  list->insertAtHead(n1);
  list->insertAtTail(n4);
  list->insertAfter(n3, n2);
  list->insertAfter(n5, n4);  // after the tail: as insertAtTail
  EXPECT_EQ(walk(list), (std::vector<int32_t>{n1, n2, n3, n4, n5}));
  db->unloadObject(list);
  db->close();
  openDb();
  list = loadObject_cIndexedObjectList(*db, c.index);
  EXPECT_EQ(walk(list), (std::vector<int32_t>{n1, n2, n3, n4, n5}));

  list->remove(n3);  // inner
  list->remove(n1);  // head
  list->remove(n5);  // tail
  EXPECT_EQ(walk(list), (std::vector<int32_t>{n2, n4}));
  EXPECT_EQ(db->readObjectNodeHeader(n3).nextIndex, 0);
  EXPECT_EQ(db->readObjectNodeHeader(n3).prevIndex, 0);
  list->remove(n2);
  list->remove(n4);  // the only node
  EXPECT_EQ(list->infoHeadIndex(), 0);
  EXPECT_EQ(list->infoTailIndex(), 0);
  list->insertAtTail(n4);  // into an empty list from the tail side
  EXPECT_EQ(walk(list), (std::vector<int32_t>{n4}));
  db->unloadObject(list);
}

TEST_F(ListTest, RemoveObjectNodeUnlinksAnInnerNode) {
  CreatedList c = db->createObjectList();
  int32_t n1 = node(1), n2 = node(2), n3 = node(3);
  c.list->insertAtTail(n1);
  c.list->insertAtTail(n2);
  c.list->insertAtTail(n3);
  db->removeObjectNode(n2);
  EXPECT_EQ(walk(c.list), (std::vector<int32_t>{n1, n3}));
  expectRaise([&] { db->removeObjectNode(n1); }, "EMU",
              "cJournaledIndexedObjectSoupDatabase.removeObjectNode(); attempting to remove head node");
  expectRaise([&] { db->removeObjectNode(n3); }, "EMU",
              "cJournaledIndexedObjectSoupDatabase.removeObjectNode(); attempting to remove tail node");
  EXPECT_FALSE(db->infoMustClose());
  db->unloadObject(c.list);
}

TEST_F(ListTest, BrokenLinksAreReported) {
  CreatedList c = db->createObjectList();
  CreatedList other = db->createObjectList();
  int32_t n1 = node(1), n2 = node(2), n3 = node(3), stray = node(9);
  c.list->insertAtTail(n1);
  c.list->insertAtTail(n2);
  c.list->insertAtTail(n3);
  other.list->insertAtTail(stray);

  db->writeObjectNodeHeader(n1, n3, 0);  // n1 no longer points to n2
  expectRaise([&] { c.list->remove(n2); }, "BUG",
              "cIndexedObjectList.remove(); previous node does not point to (next) object");
  expectRaise([&] { db->removeObjectNode(n2); }, "BUG",
              "cJournaledIndexedObjectSoupDatabase.removeObjectNode(); previous node does not point to (next) object");
  db->writeObjectNodeHeader(n1, n2, 0);
  db->writeObjectNodeHeader(n3, 0, n1);  // n3 no longer points back to n2
  expectRaise([&] { c.list->remove(n2); }, "BUG",
              "cIndexedObjectList.remove(); next node does not point to (previous) object");
  expectRaise([&] { db->removeObjectNode(n2); }, "BUG",
              "cJournaledIndexedObjectSoupDatabase.removeObjectNode(); next node does not point to (previous) object");
  db->writeObjectNodeHeader(n3, 0, n2);

  expectRaise([&] { c.list->remove(stray); }, "BUG",
              "cIndexedObjectList.remove(); headIndex<>objectIndex, probably object was not from this list");
  int32_t loose = node(7), before = node(8);  // a pair outside every list
  db->writeObjectNodeHeader(before, loose, 0);
  db->writeObjectNodeHeader(loose, 0, before);
  expectRaise([&] { c.list->remove(loose); }, "BUG",
              "cIndexedObjectList.remove(); tailIndex<>objectIndex, probably object was not from this list");
  EXPECT_FALSE(db->infoMustClose());  // refused before anything changed
  expectRaise([&] { c.list->insertAfter(loose, 0); }, "EMU", "cIndexedObjectList.insertAfter(); hereIndex=0");
  expectRaise([&] { db->readObjectNodeHeader(99); }, "EMU",
              "cJournaledIndexedObjectSoupDatabase.readObjectNodeHeader(); no object matches provided index");
  expectRaise([&] { db->writeObjectNodeHeader(99, 0, 0); }, "EMU",
              "cJournaledIndexedObjectSoupDatabase.writeObjectNodeHeader(); no object matches provided index");
  EXPECT_EQ(walk(c.list), (std::vector<int32_t>{n1, n2, n3}));
  db->unloadObject(c.list);
  db->unloadObject(other.list);
}

TEST_F(ListTest, DestroyRefusals) {
  CreatedList c = db->createObjectList();
  int32_t n1 = node(1), n0 = node(0);
  c.list->insertAtHead(n1);
  c.list->insertAtHead(n0);
  expectRaise([&] { db->unloadAndDestroyObjectList(c.list); }, "EMU",
              "cJournaledIndexedObjectSoupDatabase.unloadAndDestroyObjectList(); list is not empty");
  expectRaise([&] { db->destroyObjectList(c.index); }, "EMU",
              "cJournaledIndexedObjectSoupDatabase.unloadAndDestroyObjectList(); list is not empty");
  EXPECT_EQ(c.list->infoUseCount(), 1);  // the destroy's own load was given back
  expectRaise([&] { db->unloadAndDestroyObject(c.list); }, "BUG",
              "cJournaledIndexedObjectSoupDatabase.unloadAndDestroyObject(); object is an cIndexedObjectList, for "
              "which you should instead be using the destroyObjectList() method, after unloading it");
  auto* linked = static_cast<TestNode*>(db->loadObject(n1, std::make_unique<TestNode>()));
  expectRaise([&] { db->unloadAndDestroyObject(linked); }, "BUG",
              "cJournaledIndexedObjectSoupDatabase.unloadAndDestroyObject(); object is an cIndexedObjectNode which is "
              "still in a list");
  c.list->remove(n1);
  c.list->remove(n0);
  db->saveChangesToObject(linked);  // the loaded node's links changed only in memory
  db->unloadAndDestroyObject(linked);
  EXPECT_EQ(file->infoBlockOfIndex(n1, true), 0);
  c.list->insertAtHead(node(2));
  // A list held twice cannot be destroyed; nothing changes.
  cIndexedObjectList* twice = loadObject_cIndexedObjectList(*db, c.index);
  c.list->remove(c.list->infoHeadIndex());
  expectRaise([&] { db->unloadAndDestroyObjectList(c.list); }, "EMU",
              "cJournaledIndexedObjectSoup.destroyObject(); specified object is still loaded");
  EXPECT_FALSE(db->infoMustClose());
  db->unloadObject(twice);
  db->unloadAndDestroyObjectList(c.list);
  EXPECT_EQ(db->infoHeadListIndex(), 0);

  for (auto call : {+[](cJournaledIndexedObjectSoupDatabase& d) { d.writeExtra1(0); },
                    +[](cJournaledIndexedObjectSoupDatabase& d) { d.readExtra3(); }}) {
    try {
      call(*db);
      ADD_FAILURE();
    } catch (const eException& e) {
      EXPECT_EQ(e.code(), "EMU");
    }
  }
  expectRaise([&] { db->writeExtra2(0); }, "EMU",
              "cJournaledIndexedObjectSoupDatabase.writeExtra2(); unsupported method");
  expectRaise([&] { db->readExtra1(); }, "EMU", "cJournaledIndexedObjectSoupDatabase.readExtra1(); unsupported method");
}

// Links of a loaded node change in the object and in its record at once, so
// that the list operation's commit holds them.
TEST_F(ListTest, LoadedNodesTakeHeaderChangesInTheirRecordsToo) {
  CreatedList c = db->createObjectList();
  int32_t n1 = node(1), n2 = node(2);
  c.list->insertAtTail(n1);
  auto* loaded = static_cast<TestNode*>(db->loadObject(n2, std::make_unique<TestNode>()));
  c.list->insertAtTail(n2);
  EXPECT_EQ(loaded->infoPrevIndex(), n1);
  EXPECT_EQ(db->readObjectNodeHeader(n2).prevIndex, n1);
  std::vector<uint8_t> stored = file->payload(file->infoBlockOfIndex(n2, false) - 4);
  EXPECT_EQ(stored[8 + 3], n1);
  EXPECT_EQ(loaded->value, 2);
  db->unloadObject(loaded);
  db->unloadObject(c.list);
}

TEST_F(ListTest, ListFlagIsStoredOnlyWhenItChanges) {
  EXPECT_FALSE(db->infoListFlag());
  int commits = disk->commits;
  db->setListFlag(false);
  EXPECT_EQ(disk->commits, commits);
  db->setListFlag(true);
  EXPECT_TRUE(db->infoListFlag());
  db->close();
  openDb();
  EXPECT_TRUE(db->infoListFlag());
  EXPECT_EQ(file->getHeaderValue(kSoupExtra3), 1);
}

TEST_F(ListTest, AFailedListOperationLeavesTheLoadedListAsStored) {
  CreatedList c = db->createObjectList();
  int32_t n1 = node(1);
  file->failWriteAfter(2);
  try {
    c.list->insertAtHead(n1);
    ADD_FAILURE();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "FULL");
  }
  EXPECT_TRUE(db->infoMustClose());
  EXPECT_EQ(c.list->infoHeadIndex(), 0);
  EXPECT_EQ(c.list->infoTailIndex(), 0);
  db->unloadObject(c.list);
  db->close();
  openDb();
  EXPECT_TRUE(db->infoNeedsRepair());
  cIndexedObjectList* list = loadObject_cIndexedObjectList(*db, c.index);
  EXPECT_EQ(list->infoHeadIndex(), 0);
  EXPECT_EQ(db->readObjectNodeHeader(n1).nextIndex, 0);
  db->unloadObject(list);
}

}  // namespace
}  // namespace bw
