// database/soup_loaded_links_test.cpp - list members that are loaded while a
// list operation changes their links: the links reach the file with the
// change (a commit followed by a crash keeps them), never after a discard;
// and the links of unloaded members, remembered from the file, after every
// kind of change.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "database/journal_test_support.h"
#include "database/soup_check_test_support.h"
#include "database/soup_database.h"
#include "database/soup_model_test_support.h"

namespace bw {
namespace {

using soupcheck::Expect;
using testing::TestNode;

class SoupLoadedLinksTest : public testing_journal::JournalTest {
 protected:
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> openDb() {
    auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(0);
    EXPECT_TRUE(db->open(Text(internal("links.soup")), false)) << db->infoError().view();
    return db;
  }
  std::vector<uint8_t> image() {
    std::string all = testing_paths::readAll(tree.host("links.soup"));
    return std::vector<uint8_t>(all.begin(), all.end());
  }
  // The values of the list's nodes head to tail, read through the file.
  static std::vector<int32_t> walk(cJournaledIndexedObjectSoupDatabase& db, int32_t listIndex) {
    std::vector<int32_t> values;
    cIndexedObjectList* list = loadObject_cIndexedObjectList(db, listIndex);
    for (int32_t at = list->infoHeadIndex(); at != 0 && values.size() < 100;) {
      auto* node = static_cast<TestNode*>(db.loadObject(at, std::make_unique<TestNode>()));
      values.push_back(node->value);
      at = node->infoNextIndex();
      db.unloadObject(node);
    }
    db.unloadObject(list);
    return values;
  }
};

// Every member stays loaded through head and tail inserts, an insert after
// and a removal; then the nodes go unsaved, by unloading or by the close.
TEST_F(SoupLoadedLinksTest, LinksOfUnsavedLoadedNodesReachTheFile) {
  for (bool unloadFirst : {true, false}) {
    SCOPED_TRACE(unloadFirst ? "unloaded" : "closed while loaded");
    std::filesystem::remove(tree.host("links.soup"));
    int32_t listIndex = 0;
    {
      auto db = openDb();
      CreatedList created = db->createObjectList();
      listIndex = created.index;
      std::vector<cIndexedObject*> nodes;
      std::vector<int32_t> index;
      for (int32_t v = 0; v < 5; ++v) {
        auto* node = new TestNode(v);
        index.push_back(db->createdObject(node));
        nodes.push_back(node);
      }
      created.list->insertAtTail(index[1]);
      created.list->insertAtHead(index[0]);
      created.list->insertAtTail(index[3]);
      created.list->insertAfter(index[2], index[1]);
      created.list->insertAtTail(index[4]);
      created.list->remove(index[3]);
      db->unloadObject(created.list);
      if (unloadFirst) {
        for (cIndexedObject* node : nodes) db->unloadObject(node);
      }
      db->close();
    }
    testing::expectSoupSound(image(), Expect::kClosed);
    auto db = openDb();
    EXPECT_EQ(walk(*db, listIndex), (std::vector<int32_t>{0, 1, 2, 4}));
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(db->validate(true, false, false).valid);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    db->close();
  }
}

// Links changed inside a transaction that is discarded are gone with it:
// neither the unload in the must-close state nor the close writes them.
TEST_F(SoupLoadedLinksTest, DiscardedLinksAreNeverWritten) {
  auto db = openDb();
  CreatedList created = db->createObjectList();
  auto* node = new TestNode(7);
  int32_t index = db->createdObject(node);
  db->unloadObject(created.list);
  db->flush();
  std::vector<uint8_t> before = testing::expectSoupSound(image(), Expect::kOpen);

  db->beginTransaction();
  cIndexedObjectList* list = loadObject_cIndexedObjectList(*db, created.index);
  list->insertAtTail(index);
  db->infoBlockFile().discardChanges();
  EXPECT_TRUE(db->infoMustClose());
  db->unloadObject(list);
  db->unloadObject(node);
  db->close();
  EXPECT_EQ(testing::expectSoupSound(image(), Expect::kOpen), before);
}

// The links of unloaded nodes are remembered once read; every walk below
// follows one kind of change and must see the file as it now is.
TEST_F(SoupLoadedLinksTest, RememberedLinksFollowEveryChange) {
  auto db = openDb();
  CreatedList created = db->createObjectList();
  std::vector<int32_t> index;
  for (int32_t v = 0; v < 4; ++v) {
    index.push_back(db->createdAndUnloadObject(new TestNode(v)));
    created.list->insertAtTail(index.back());
  }
  db->unloadObject(created.list);
  // The indices head to tail through the node headers, checking each
  // node's way back.
  auto walkHeaders = [&] {
    std::vector<int32_t> walked;
    cIndexedObjectList* list = loadObject_cIndexedObjectList(*db, created.index);
    int32_t prev = 0;
    for (int32_t at = list->infoHeadIndex(); at != 0 && walked.size() < 10;) {
      NodeHeader h = db->readObjectNodeHeader(at);
      EXPECT_EQ(h.prevIndex, prev) << "node " << at;
      walked.push_back(at);
      prev = at;
      at = h.nextIndex;
    }
    EXPECT_EQ(list->infoTailIndex(), prev);
    db->unloadObject(list);
    return walked;
  };
  auto onList = [&](auto&& change) {
    cIndexedObjectList* list = loadObject_cIndexedObjectList(*db, created.index);
    change(*list);
    db->unloadObject(list);
  };
  const int32_t a = index[0], b = index[1], c = index[2], d = index[3];
  ASSERT_EQ(walkHeaders(), (std::vector<int32_t>{a, b, c, d}));
  ASSERT_EQ(walkHeaders(), (std::vector<int32_t>{a, b, c, d}));  // answered from memory

  onList([&](cIndexedObjectList& l) { l.remove(b); });  // headers written in place
  EXPECT_EQ(walkHeaders(), (std::vector<int32_t>{a, c, d}));
  db->removeObjectNode(c);
  EXPECT_EQ(walkHeaders(), (std::vector<int32_t>{a, d}));

  // Links read inside a transaction, then discarded: the file's own again.
  db->beginTransaction();
  onList([&](cIndexedObjectList& l) { l.insertAfter(b, a); });
  EXPECT_EQ(walkHeaders(), (std::vector<int32_t>{a, b, d}));
  db->infoBlockFile().discardChanges();
  EXPECT_EQ(walkHeaders(), (std::vector<int32_t>{a, d}));
  db->close();

  db = openDb();
  EXPECT_EQ(walkHeaders(), (std::vector<int32_t>{a, d}));
  // A loaded member's links go to the file when it is unloaded.
  cIndexedObject* loaded = db->loadObject(d, std::make_unique<TestNode>());
  onList([&](cIndexedObjectList& l) { l.insertAtTail(c); });
  db->unloadObject(loaded);
  EXPECT_EQ(walkHeaders(), (std::vector<int32_t>{a, d, c}));
  // A destroyed node's index taken by a new one, then compaction moving the
  // blocks the links were read from.
  db->destroyObject(b);
  int32_t e = db->createdAndUnloadObject(new TestNode(9));
  onList([&](cIndexedObjectList& l) { l.insertAfter(e, a); });
  EXPECT_EQ(walkHeaders(), (std::vector<int32_t>{a, e, d, c}));
  db->defragment(false);
  EXPECT_EQ(walkHeaders(), (std::vector<int32_t>{a, e, d, c}));
  onList([&](cIndexedObjectList& l) { l.remove(d); });
  EXPECT_EQ(walkHeaders(), (std::vector<int32_t>{a, e, c}));
  db->close();
  testing::expectSoupSound(image(), Expect::kClosed);
}

// A run that commits an insert next to a member it holds loaded and is gone
// before that member is unloaded: the commit carries the member's new link.
// The commit comes from the finish itself (no delay) or from a flush.
TEST_F(SoupLoadedLinksTest, ACommitThenACrashKeepsTheLinksOfLoadedMembers) {
  for (int32_t delay : {0, 2}) {
    SCOPED_TRACE(delay);
    std::filesystem::remove(tree.host("links.soup"));
    ::fflush(nullptr);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      cJournaledIndexedObjectSoupDatabase db(delay);
      if (!db.open(Text(internal("links.soup")), false)) ::_exit(3);
      CreatedList created = db.createObjectList();
      int32_t a = db.createdObject(new TestNode(1));  // stays loaded
      created.list->insertAtTail(a);
      db.flush();
      int32_t t = db.beginTransaction();
      created.list->insertAtTail(db.createdAndUnloadObject(new TestNode(2)));
      db.finishTransaction(t);
      if (delay != 0) db.flush();
      ::_exit(created.index == 1 ? 0 : 4);  // no unload, no close
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    testing::expectSoupSound(image(), Expect::kCrashed);
    auto db = openDb();
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(db->validate(true, false, false).valid);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(walk(*db, 1), (std::vector<int32_t>{1, 2}));
    db->close();
  }
}

}  // namespace
}  // namespace bw
