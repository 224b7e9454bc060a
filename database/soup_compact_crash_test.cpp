// database/soup_compact_crash_test.cpp - a full defragment cut before every
// backend operation: each image reopens to the database before the pass or
// after it, with every object readable by its index and a check-only
// validation that finds nothing.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database/journal_test_support.h"
#include "database/journaled_soup_file.h"
#include "database/soup_database.h"
#include "database/soup_fake_block_file_test_support.h"
#include "tools/soupcheck/block_level.h"

namespace bw {
namespace {

using testing::TestNode;
using testing::TestRecord;

class SoupCompactCrashTest : public testing_journal::JournalTest {
 protected:
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> openOn(std::shared_ptr<CrashingIoBackend> on) {
    auto f = std::make_unique<JournaledSoupBlockFile>(0);
    f->file().setIoBackend(on);
    std::string name = native("pass.soup");
    f->setPathProbe([on, name](Text) { return on->exists(name); });
    auto db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(std::move(f));
    EXPECT_TRUE(db->open(Text(internal("pass.soup")), false));
    db->setAutoCompact(false);
    return db;
  }

  // A database with a list, stray records and gaps; the model of its
  // records by index.
  std::vector<uint8_t> startImage() {
    auto on = std::make_shared<CrashingIoBackend>();
    auto db = openOn(on);
    CreatedList list = db->createObjectList();
    std::vector<int32_t> doomed;
    for (int k = 0; k < 24; ++k) {
      int32_t n = db->createdAndUnloadObject(new TestNode(k));
      list.list->insertAtHead(n);
      nodes[n] = k;
      std::vector<int32_t> v(static_cast<size_t>(k % 9 + 1), k);
      int32_t r = db->createdAndUnloadObject(new TestRecord(v));
      if (k % 2 == 0) {
        doomed.push_back(r);
      } else {
        records[r] = v;
      }
    }
    db->unloadObject(list.list);
    for (int32_t r : doomed) db->destroyObject(r);
    db->close();
    return on->image(native("pass.soup"));
  }

  void expectIntact(cJournaledIndexedObjectSoupDatabase& db) {
    for (auto& [index, values] : records) {
      auto* r = static_cast<TestRecord*>(db.loadObject(index, std::make_unique<TestRecord>()));
      EXPECT_EQ(r->values, values) << "record " << index;
      db.unloadObject(r);
    }
    for (auto& [index, value] : nodes) {
      auto* n = static_cast<TestNode*>(db.loadObject(index, std::make_unique<TestNode>()));
      EXPECT_EQ(n->value, value) << "node " << index;
      db.unloadObject(n);
    }
    ::testing::internal::CaptureStdout();
    ValidationResult v = db.validate(true, false, false);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(v.valid);
  }

  std::map<int32_t, std::vector<int32_t>> records;
  std::map<int32_t, int32_t> nodes;
};

TEST_F(SoupCompactCrashTest, PassCutAnywhereLeavesASoundDatabase) {
  const std::vector<uint8_t> start = startImage();
  auto count = [&](int64_t crashAt) {
    setDefaultChunkSize(kMinChunkSize);
    auto on = std::make_shared<CrashingIoBackend>();
    on->setImage(native("pass.soup"), start);
    on->crashBefore(crashAt);
    bool crashed = false;
    try {
      auto db = openOn(on);
      db->defragment(false);
      db->close();
    } catch (const SimulatedCrash&) {
      crashed = true;
    }
    return std::make_pair(on, crashed);
  };
  auto full = count(-1);
  ASSERT_FALSE(full.second);
  int64_t total = full.first->opCount();
  ASSERT_GT(total, 10);
  for (int64_t k = 0; k < total; ++k) {
    SCOPED_TRACE("crash before operation " + std::to_string(k));
    auto run = count(k);
    ASSERT_TRUE(run.second);
    std::vector<uint8_t> image = run.first->image(native("pass.soup"));
    expectChecked(image, soupcheck::Expect::kCrashed);
    auto on = std::make_shared<CrashingIoBackend>();
    on->setImage(native("pass.soup"), image);
    auto db = openOn(on);
    ASSERT_TRUE(db->isOpen());
    expectIntact(*db);
    db->close();
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace bw
