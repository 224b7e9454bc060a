// database/indexed_block_file_test.cpp - cJournaledIndexedBlockFile on its
// journaled file: the new file on disk, a crash between its two creation
// commits, reopening, the index limit at open, header values, copies and
// the mirrors after a discard.
#include "database/indexed_block_file.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/raise_test_support.h"
#include "database/block_layout_check_test_support.h"
#include "database/journal_test_support.h"

namespace bw::testing_journal {
namespace {

class IndexedFileTest : public JournalTest {
 protected:
  std::unique_ptr<cJournaledIndexedBlockFile> openIndexed(const std::string& name,
                                                          std::shared_ptr<CrashingIoBackend> on = nullptr) {
    auto f = std::make_unique<cJournaledIndexedBlockFile>();
    f->newFile(0, 0);
    f->setIoBackend(on ? on : backend);
    EXPECT_TRUE(f->open(Text(internal(name)), false, false, false)) << f->infoError().view();
    return f;
  }
  std::vector<uint8_t> checkedData(const std::vector<uint8_t>& file) {
    soupcheck::Report r = soupcheck::check(file, soupcheck::Expect::kOpen);
    EXPECT_TRUE(r.clean()) << soupcheck::describe(r);
    EXPECT_EQ(testing_blocks::checkIndex(r.effectiveData), std::vector<std::string>{});
    return r.effectiveData;
  }
};

TEST_F(IndexedFileTest, ANewFileHasItsDummyBlockAndIndexArray) {
  auto f = openIndexed("soup");
  EXPECT_EQ(f->getSize(), 9556);
  std::vector<uint8_t> data = checkedData(image("soup"));
  ASSERT_EQ(data.size(), 9556u);
  EXPECT_EQ(getBig64(data.data() + 8), 8532);
  EXPECT_EQ(getBig32(data.data() + 8496), 28u);  // the dummy block: used, not last
  EXPECT_EQ(f->infoDummyBlock(), 8504);
  const int64_t head[] = {2, 14, 128, 114, 14, 8504, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int e = 0; e < 14; ++e) EXPECT_EQ(getBig64(data.data() + 8532 + 8 * e), head[e]) << e;
  EXPECT_EQ(getBig64(data.data() + 8532 + 8 * 14), -15);
  EXPECT_EQ(getBig64(data.data() + 8532 + 8 * 126), -127);
  EXPECT_EQ(getBig64(data.data() + 8532 + 8 * 127), 0);
  EXPECT_STREQ(f->className(), "cJournaledIndexedBlockFile");
  EXPECT_TRUE(f->isOfClass(cJournaledBlockFile::kClassName));
  EXPECT_EQ(f->infoHeaderSize(), 9556);

  IndexedBlock b = f->allocateIndexBlock(12, false);
  EXPECT_EQ(b.index, 1);
  EXPECT_EQ(b.dataPosition, 9568);
  EXPECT_EQ(f->index().firstFree(), 15);
  f->close();
  checkedData(image("soup"));
}

TEST_F(IndexedFileTest, ACrashBetweenTheTwoCreationCommitsLeavesAnOpenableFile) {
  // Learn the backend operations of a creation, then crash before each.
  int64_t total = 0;
  {
    auto probe = std::make_shared<CrashingIoBackend>();
    openIndexed("soup", probe)->close();
    total = probe->opCount();
  }
  int headerOnly = 0;
  for (int64_t k = 0; k < total; ++k) {
    auto crashing = std::make_shared<CrashingIoBackend>();
    crashing->crashBefore(k);
    try {
      auto f = std::make_unique<cJournaledIndexedBlockFile>();
      f->newFile(0, 0);
      f->setIoBackend(crashing);
      f->open(Text(internal("soup")), false, false, false);
      f->close();
    } catch (const SimulatedCrash&) {
    }
    std::vector<uint8_t> left = crashing->image(native("soup"));
    if (left.empty()) continue;
    soupcheck::Report r = soupcheck::check(left, soupcheck::Expect::kCrashed);
    if (r.effectiveData.size() == 8496) ++headerOnly;
    auto reopened = std::make_shared<CrashingIoBackend>();
    reopened->setImage(native("soup"), left);
    auto f = openIndexed("soup", reopened);
    ASSERT_TRUE(f->isOpen()) << "crash before op " << k;
    EXPECT_EQ(f->index().arrayBlock(), 8532) << k;
    f->allocateIndexBlock(5, true);
    f->close();
    checkedData(reopened->image(native("soup")));
  }
  EXPECT_GT(headerOnly, 0);  // some crash points fall between the commits
}

TEST_F(IndexedFileTest, ReopeningKeepsIndicesAndHeaderValues) {
  std::vector<IndexedBlock> blocks;
  {
    auto f = openIndexed("soup");
    for (int k = 0; k < 130; ++k) blocks.push_back(f->allocateIndexBlock(k, true));
    f->deallocateIndex(blocks[7].index);
    int32_t pre = f->preallocateIndex();
    EXPECT_EQ(pre, blocks[7].index);
    f->setHeaderValue6(-2);
    f->setHeaderValue9(1);
    f->setHeaderValue13(int64_t{1} << 33);
    f->close();
  }
  auto f = openIndexed("soup");
  EXPECT_EQ(f->index().arraySize(), 512);
  EXPECT_TRUE(f->infoIsPreallocated(blocks[7].index));
  for (size_t k = 8; k < blocks.size(); ++k) {
    ASSERT_EQ(f->infoBlockOfIndex(blocks[k].index, false), blocks[k].dataPosition) << k;
  }
  EXPECT_EQ(f->getHeaderValue6(), -2);
  EXPECT_EQ(f->getUserValue(), -2);
  EXPECT_EQ(f->getHeaderValue9(), 1);
  EXPECT_EQ(f->getHeaderValue13(), int64_t{1} << 33);
  EXPECT_EQ(f->heap().getUserValue(), f->index().arrayBlock());
  f->close();
  checkedData(image("soup"));
}

TEST_F(IndexedFileTest, TheIndexLimitAtOpen) {
  {
    auto f = openIndexed("soup");
    JournalTransaction t(*f);
    f->writeEntry(4, 2147483632);
    t.finish();
    f->close();
  }
  cJournaledIndexedBlockFile f;
  f.newFile(0, 0);
  f.setIoBackend(backend);
  ::testing::internal::CaptureStdout();
  std::string path = internal("soup");
  EXPECT_FALSE(f.open(Text(path), false, false, false));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "ERROR: The JIBF \"" + path + "\" has reached the 2^31 index limit, and cannot be opened.\n");
  EXPECT_FALSE(f.isOpen());
}

TEST_F(IndexedFileTest, ADiscardRereadsTheIndexMirrors) {
  auto f = openIndexed("soup");
  IndexedBlock kept = f->allocateIndexBlock(8, false);
  try {
    JournalTransaction outer(*f);
    for (int k = 0; k < 200; ++k) f->allocateIndexBlock(8, false);
    throw std::runtime_error("caller failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(f->index().arraySize(), 128);
  EXPECT_EQ(f->index().firstFree(), 15);
  EXPECT_EQ(f->index().arrayBlock(), 8532);
  EXPECT_EQ(f->allocateIndexBlock(8, false).index, kept.index + 1);
  f->close();
  checkedData(image("soup"));
}

TEST_F(IndexedFileTest, ACopyReadsItsOwnIndex) {
  auto f = std::make_unique<cJournaledIndexedBlockFile>();
  f->newFile(0, 0);
  ASSERT_TRUE(f->open(Text(internal("soup")), false, false, false));
  for (int k = 0; k < 120; ++k) f->allocateIndexBlock(3, true);
  f->deallocateIndex(4);
  std::unique_ptr<cBaseFile> copy = f->makeCopy(Text(internal("copy")));
  auto* typed = dynamic_cast<cJournaledIndexedBlockFile*>(copy.get());
  ASSERT_NE(typed, nullptr);
  EXPECT_EQ(typed->index().arraySize(), 512);
  EXPECT_EQ(typed->index().firstFree(), 17);
  EXPECT_EQ(typed->allocateIndexBlock(3, false).index, 4);
  typed->close();
}

}  // namespace
}  // namespace bw::testing_journal
