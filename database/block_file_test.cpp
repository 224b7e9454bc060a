// database/block_file_test.cpp - cJournaledBlockFile on its journaled file:
// the file on disk, opening and creating, refusals, and the mirrors after a
// discard.
#include "database/block_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "core/raise_test_support.h"
#include "database/block_layout_check_test_support.h"
#include "database/journal_test_support.h"

namespace bw::testing_journal {
namespace {

class BlockFileTest : public JournalTest {
 protected:
  std::vector<uint8_t> diskImage(const std::string& name) {
    std::ifstream in(tree.host(name), std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  std::unique_ptr<cJournaledBlockFile> openBlocks(const std::string& name) {
    auto f = std::make_unique<cJournaledBlockFile>();
    f->newFile(0, 0);
    f->setIoBackend(backend);
    EXPECT_TRUE(f->open(Text(internal(name)), false, false, false)) << f->infoError().view();
    return f;
  }
  // The data area the checker derives from the file on "disk", checked.
  std::vector<uint8_t> checkedData(const std::string& name, bool onDisk = false) {
    soupcheck::Report r = soupcheck::check(onDisk ? diskImage(name) : image(name), soupcheck::Expect::kOpen);
    EXPECT_TRUE(r.clean()) << soupcheck::describe(r);
    EXPECT_EQ(testing_blocks::checkBlocks(r.effectiveData), std::vector<std::string>{});
    return r.effectiveData;
  }
};

TEST_F(BlockFileTest, ANewFileIsItsHeaderArea) {
  auto f = openBlocks("soup");
  EXPECT_EQ(f->getSize(), 8496);
  std::vector<uint8_t> data = checkedData("soup");
  ASSERT_EQ(data.size(), 8496u);
  const int64_t words[] = {3, 0, 0, 8496, 32, 0};
  for (int w = 0; w < 6; ++w) EXPECT_EQ(getBig64(data.data() + 8 * w), words[w]);
  for (size_t k = 48; k < data.size(); ++k) ASSERT_EQ(data[k], 0) << k;
  EXPECT_STREQ(f->className(), "cJournaledBlockFile");
  EXPECT_TRUE(f->isOfClass(cJournaledFile::kClassName));

  EXPECT_EQ(f->allocate(1, false), 8504);
  EXPECT_EQ(f->getSize(), 8524);
  f->close();
  auto again = openBlocks("soup");
  EXPECT_EQ(again->heap().tailPos(), 8496);
  EXPECT_EQ(again->infoSizeOfBlock(8504), 20);
  again->deallocate(8504);
  again->close();
  EXPECT_EQ(checkedData("soup").size(), 8496u);
}

TEST_F(BlockFileTest, AnEmptyJournaledFileIsInitialisedButAnEmptyHostFileIsRefused) {
  openMemory("journal")->close();  // header only: 28 bytes
  ASSERT_EQ(image("journal").size(), 28u);
  openBlocks("journal")->close();
  EXPECT_EQ(checkedData("journal").size(), 8496u);

  // A 0-byte "database.soup" on disk never silently becomes a new database.
  tree.file("empty", "");
  cJournaledBlockFile f;
  f.newFile(0, 0);
  EXPECT_FALSE(f.open(Text(internal("empty")), false, false, false));
  EXPECT_EQ(std::string(f.infoError().view()), "not a journaled file");
  EXPECT_EQ(std::filesystem::file_size(tree.host("empty")), 0u);
}

TEST_F(BlockFileTest, OtherVersionsAreRefusedAndTheFileIsClosed) {
  {
    auto f = openBlocks("soup");
    writeAt(*f, 0, {0, 0, 0, 0, 0, 0, 0, 4});
    f->close();
  }
  std::vector<uint8_t> before = image("soup");
  cJournaledBlockFile f;
  f.newFile(0, 0);
  f.setIoBackend(backend);
  expectRaise([&] { f.open(Text(internal("soup")), false, false, false); }, "EMU",
              "cJournaledBlockFile.open(); file version not supported");
  EXPECT_FALSE(f.isOpen());
  EXPECT_EQ(image("soup"), before);
}

TEST_F(BlockFileTest, OpenNew) {
  cJournaledBlockFile f;
  f.newFile(0, 0);
  ASSERT_TRUE(f.open(Text(internal("soup")), false, false, false));
  f.allocate(100, false);
  f.close();
  std::vector<uint8_t> before = diskImage("soup");
  EXPECT_FALSE(f.openNew(Text(internal("soup")), true, false));
  EXPECT_FALSE(f.isOpen());
  EXPECT_EQ(diskImage("soup"), before);
  ASSERT_TRUE(f.openNew(Text(internal("soup")), false, false));
  EXPECT_EQ(f.getSize(), 8496);
  EXPECT_EQ(f.heap().tailPos(), 0);
  f.close();
  ASSERT_TRUE(f.openNew(Text(internal("other")), true, false));
  f.close();
  EXPECT_EQ(checkedData("other", true).size(), 8496u);
}

TEST_F(BlockFileTest, ADiscardRereadsTheMirrors) {
  auto f = openBlocks("soup");
  int64_t kept = f->allocate(40, false);
  try {
    JournalTransaction outer(*f);
    f->allocate(4000, false);
    f->deallocate(kept);
    throw std::runtime_error("caller failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(f->heap().tailPos(), kept - 8);
  EXPECT_EQ(f->heap().flFreeBitmap(), 0u);

  // A misused transaction discards too.
  int32_t id = f->beginTransaction();
  f->allocate(300, false);
  expectRaise([&] { f->finishTransaction(id + 1); }, "TRAN",
              "cJournaledFile.finishTransaction(); the wrong transaction was finished");
  EXPECT_EQ(f->heap().tailPos(), kept - 8);
  int64_t next = f->allocate(10, false);
  EXPECT_EQ(next, kept + 48);
  f->close();
  checkedData("soup");
}

TEST_F(BlockFileTest, ACopyReadsItsOwnHeader) {
  auto f = std::make_unique<cJournaledBlockFile>();
  f->newFile(0, 0);
  ASSERT_TRUE(f->open(Text(internal("soup")), false, false, false));
  f->allocate(50, true);
  int64_t second = f->allocate(50, true);
  f->allocate(50, true);
  f->deallocate(second);
  std::unique_ptr<cBaseFile> copy = f->makeCopy(Text(internal("copy")));
  auto* typed = dynamic_cast<cJournaledBlockFile*>(copy.get());
  ASSERT_NE(typed, nullptr);
  EXPECT_EQ(typed->heap().tailPos(), f->heap().tailPos());
  EXPECT_EQ(typed->heap().flFreeBitmap(), f->heap().flFreeBitmap());
  EXPECT_EQ(typed->allocate(50, false), second);
  typed->close();
  checkedData("copy", true);
}

}  // namespace
}  // namespace bw::testing_journal
