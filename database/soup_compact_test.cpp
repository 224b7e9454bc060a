// database/soup_compact_test.cpp - fragmentation and compaction of the soup
// on the journaled indexed block file: the fragmentation figure, a full
// defragment placing every list after its record in list order, and the
// model workload with a compaction step after each change and occasional
// full passes, checked by the independent checker and a check-only
// validation after every batch.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/sweep_test_support.h"
#include "database/journal_test_support.h"
#include "database/journaled_soup_file.h"
#include "database/soup_check_test_support.h"
#include "database/soup_database.h"
#include "database/soup_model_test_support.h"

namespace bw {
namespace {

using soupcheck::Expect;
using testing::TestNode;
using testing::TestRecord;

class SoupCompactTest : public testing_journal::JournalTest {
 protected:
  std::unique_ptr<JournaledSoupBlockFile> inMemory(const std::string& name) {
    auto f = std::make_unique<JournaledSoupBlockFile>(-1);
    f->file().setIoBackend(backend);
    f->setPathProbe([this, name](Text) { return backend->exists(native(name)); });
    return f;
  }
  void openDb(const std::string& name = "db.soup") {
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(inMemory(name));
    ASSERT_TRUE(db->open(Text(internal(name)), false));
  }
  void expectSound(const std::string& name = "db.soup") {
    db->flush();
    testing::expectSoupSound(backend->image(native(name)), Expect::kOpen);
  }
  void expectValidQuietly() {
    ::testing::internal::CaptureStdout();
    ValidationResult v = db->validate(true, false, false);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(v.valid);
  }
  // No free block is left between the used ones. (The figure itself is an
  // estimate once blocks moved: a block placed in a free block a little
  // larger than it keeps the rest, which usedBytes does not count.)
  void expectGapless() {
    SoupBlockFile& file = db->infoBlockFile();
    for (int64_t h = file.infoFirstBlock(); h != 0; h = file.infoNextUsedBlock(h)) {
      EXPECT_EQ(file.infoFreeSizeBefore(h), 0) << "block " << h;
    }
  }
  int64_t block(int32_t index) { return db->infoBlockFile().infoBlockOfIndex(index, false) - 4; }
  // The formula of the figure, from the file's size and the bytes in use.
  int32_t expectedFragmentation(int64_t freeBytes) {
    int64_t size = db->infoBlockFile().getSize();
    return static_cast<int32_t>(1000 - (size - 19 - freeBytes) * 1000 / size);
  }

  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db;
};

TEST_F(SoupCompactTest, FragmentationFollowsTheFileAndTheBytesInUse) {
  openDb();
  db->setAutoCompact(false);
  EXPECT_EQ(db->infoFragmentation(), expectedFragmentation(0));  // 1000 - 9537000 / 9556 = 2
  EXPECT_EQ(db->infoFragmentation(), 2);
  std::vector<int32_t> records;
  for (int k = 0; k < 40; ++k) records.push_back(db->createdAndUnloadObject(new TestRecord(std::vector<int32_t>(60, k))));
  EXPECT_EQ(db->infoFragmentation(), expectedFragmentation(0));  // no gaps
  // A tenth or so freed in the middle: the free blocks are the gap.
  int64_t freed = 0;
  for (int k = 10; k < 14; ++k) {
    freed += db->infoBlockFile().infoSizeOfIndexBlock(block(records[static_cast<size_t>(k)]) + 4) + 12;
    db->destroyObject(records[static_cast<size_t>(k)]);
  }
  EXPECT_EQ(db->infoFragmentation(), expectedFragmentation(freed));
  db->defragment(false);
  expectGapless();
  expectSound();
}

TEST_F(SoupCompactTest, DefragmentPlacesEveryListAfterItsRecord) {
  openDb();
  db->setAutoCompact(false);
  std::map<int32_t, std::vector<int32_t>> lists;  // list -> nodes head to tail
  std::vector<int32_t> lone;
  std::vector<cIndexedObjectList*> open;
  for (int l = 0; l < 4; ++l) {
    CreatedList c = db->createObjectList();
    open.push_back(c.list);
    lists[c.index];
  }
  // Nodes go to the lists in turn, with stray records and frees between, so
  // that nothing lies in list order to begin with.
  for (int k = 0; k < 60; ++k) {
    auto it = lists.begin();
    std::advance(it, k % 4);
    int32_t n = db->createdAndUnloadObject(new TestNode(k));
    open[static_cast<size_t>(k % 4)]->insertAtHead(n);
    it->second.insert(it->second.begin(), n);
    lone.push_back(db->createdAndUnloadObject(new TestRecord(std::vector<int32_t>(static_cast<size_t>(k % 7), k))));
    if (k % 3 == 0) db->destroyObject(lone[static_cast<size_t>(k / 2)]), lone[static_cast<size_t>(k / 2)] = 0;
  }
  // open[] is in creation order; map keys ascend the same way.
  for (cIndexedObjectList* l : open) db->unloadObject(l);
  db->setListFlag(true);  // tail to head, as the application asks
  db->defragment(false);
  EXPECT_EQ(db->infoAutoBlockToCompact(), 0);
  EXPECT_EQ(db->infoAutoDesiredBlock(), 0);
  expectGapless();

  SoupBlockFile& file = db->infoBlockFile();
  for (auto& [list, nodes] : lists) {
    int64_t at = block(list);
    for (auto n = nodes.rbegin(); n != nodes.rend(); ++n) {
      at = file.infoNextUsedBlock(at);
      EXPECT_EQ(at, block(*n)) << "list " << list;
    }
  }
  for (auto& [list, nodes] : lists) {
    for (int32_t n : nodes) {
      auto* node = static_cast<TestNode*>(db->loadObject(n, std::make_unique<TestNode>()));
      EXPECT_GE(node->value, 0);
      db->unloadObject(node);
    }
  }
  expectValidQuietly();
  expectSound();
}

TEST_F(SoupCompactTest, ModelWorkloadWithCompactionStaysSound) {
  testing::SoupModel model([this] { return inMemory("model.soup"); }, 11, internal("model.soup"));
  model.setAutoCompact(true);
  // 12 batches (two defragmentations); 24 with BRINDLEWORK_FULL_SWEEPS=1.
  const long long batches = testing::sweepCount(nullptr, 12, 24);
  for (int batch = 0; batch < batches; ++batch) {
    for (int i = 0; i < 500; ++i) model.step();
    if (batch % 6 == 5) model.db().defragment(false);
    model.db().flush();
    // The stored usedBytes is the sum over the blocks, as the checker counts it.
    soupcheck::SoupLevelReport level =
        soupcheck::checkSoupLevel(testing::expectSoupSound(backend->image(native("model.soup")), Expect::kOpen));
    EXPECT_EQ(level.usedBytesStored, level.usedBytesCounted) << batch;
    model.check();
    ::testing::internal::CaptureStdout();
    ValidationResult v = model.db().validate(true, false, false);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(v.valid);
    if (HasFailure()) return;
  }
}

// A record that grows out of its block goes to a new one, and the compaction
// step after the move may move that block on at once: here the walk stands
// on it (where a first run without compaction put it, in a block freed
// before) and another block is desired in front of it, so it moves out of
// the way. The record must land where its block went, and nowhere else.
TEST_F(SoupCompactTest, ASaveWritesWhereTheStepAfterItsMoveTookTheBlock) {
  std::vector<int32_t> values(30, 7);
  values.resize(40, 6);
  int64_t roomBlock = 0;
  auto run = [&](const std::string& name, int64_t walkFrom) {
    openDb(name);
    db->setAutoCompact(false);
    auto* grown = new TestRecord(std::vector<int32_t>(30, 7));
    const int32_t index = db->createdObject(grown);
    const int32_t other = db->createdAndUnloadObject(new TestRecord(std::vector<int32_t>(30, 8)));
    db->createdAndUnloadObject(new TestRecord(std::vector<int32_t>(30, 9)));
    const int32_t room = db->createdAndUnloadObject(new TestRecord(std::vector<int32_t>(100, 5)));
    db->createdAndUnloadObject(new TestRecord(std::vector<int32_t>(30, 4)));
    roomBlock = block(room);
    db->destroyObject(room);
    grown->values.resize(40, 6);
    if (walkFrom != 0) {
      db->setAutoCompact(true);
      db->setAutoBlockToCompact(walkFrom);
      db->setAutoDesiredBlock(block(other));
    }
    db->saveChangesToObject(grown);
    db->unloadObject(grown);
    const int64_t landed = block(index);
    auto* read = static_cast<TestRecord*>(db->loadObject(index, std::make_unique<TestRecord>()));
    EXPECT_EQ(read->values, values);
    db->unloadObject(read);
    expectValidQuietly();
    expectSound(name);
    db.reset();
    return landed;
  };
  const int64_t put = run("first.soup", 0);
  EXPECT_EQ(put, roomBlock);
  EXPECT_NE(run("stepped.soup", put), put);
}

// The header values a step sets (the bytes in use, the compaction positions,
// the list order's position) wait inside a transaction for its end. The
// same work with each written at once must leave the same file at every
// commit and count the same bytes toward the forced commit: the model's
// steps (each its own transaction, some nested or discarded, full passes
// between), then a list's nodes and records deleted inside one transaction,
// as deleting feeds does.
TEST_F(SoupCompactTest, WaitingHeaderValuesLeaveWhatWritingThemAtOnceLeaves) {
  std::map<std::string, JournaledSoupBlockFile*> files;
  auto make = [&](const std::string& name, bool wait) {
    return [&, name, wait] {
      auto f = inMemory(name);
      f->file().index().letHeaderValuesWait(wait);
      files[name] = f.get();
      return std::unique_ptr<SoupBlockFile>(std::move(f));
    };
  };
  auto bytesWritten = [&](const std::string& name) { return files[name]->file().infoBytesWritten(); };
  {
    testing::SoupModel waiting(make("waiting.soup", true), 5, internal("waiting.soup"));
    testing::SoupModel atOnce(make("at_once.soup", false), 5, internal("at_once.soup"));
    waiting.setAutoCompact(true);
    atOnce.setAutoCompact(true);
    for (int batch = 0; batch < 12; ++batch) {
      for (int i = 0; i < 300; ++i) {
        waiting.step();
        atOnce.step();
      }
      if (batch % 4 == 3) {
        waiting.db().defragment(false);
        atOnce.db().defragment(false);
      }
      ASSERT_EQ(bytesWritten("waiting.soup"), bytesWritten("at_once.soup")) << batch;
      waiting.db().flush();
      atOnce.db().flush();
      ASSERT_EQ(backend->image(native("waiting.soup")), backend->image(native("at_once.soup"))) << batch;
    }
  }
  std::map<std::string, int64_t> written;
  for (bool wait : {true, false}) {
    const std::string name = wait ? "deleting_waiting.soup" : "deleting_at_once.soup";
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(make(name, wait)());
    ASSERT_TRUE(db->open(Text(internal(name)), false));
    db->setListFlag(true);
    CreatedList c = db->createObjectList();
    std::vector<int32_t> records;
    for (int k = 0; k < 200; ++k) {
      c.list->insertAtHead(db->createdAndUnloadObject(new TestNode(k)));
      records.push_back(db->createdAndUnloadObject(new TestRecord(std::vector<int32_t>(static_cast<size_t>(k % 40), k))));
    }
    db->flush();
    const int32_t transaction = db->beginTransaction();
    for (size_t k = 0; k < 150; ++k) {
      const int32_t node = c.list->infoHeadIndex();
      c.list->remove(node);
      db->destroyObject(node);
      db->destroyObject(records[k]);
    }
    db->finishTransaction(transaction);
    written[name] = bytesWritten(name);
    db->unloadObject(c.list);
    db->close();
  }
  EXPECT_EQ(written["deleting_waiting.soup"], written["deleting_at_once.soup"]);
  EXPECT_EQ(backend->image(native("deleting_waiting.soup")), backend->image(native("deleting_at_once.soup")));
}

}  // namespace
}  // namespace bw
