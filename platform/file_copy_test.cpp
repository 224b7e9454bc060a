// platform/file_copy_test.cpp - makeCopy and cloneFile: blocks, metadata,
// refusals, Ctrl-C, and copies of linked files that are real files.
#include <filesystem>

#include "core/raise_test_support.h"
#include "platform/clock.h"
#include "platform/dos.h"
#include "platform/dos_env.h"
#include "platform/file.h"
#include "platform/host_io_test_support.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using testing_paths::readAll;
using testing_paths::TempTree;
namespace fs = std::filesystem;

struct FileCopy : ::testing::Test {
  TempTree tree;
  void SetUp() override {
    initTimerDevice();
    forgetLastDevice();
  }
  void TearDown() override { dos::checkBreak(); }
};

TEST_F(FileCopy, CopiesInBlocksWithItsMetadata) {
  std::string data(1000000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13);
  tree.file("src", data);
  auto backend = std::make_shared<testing_io::RecordingIoBackend>();
  cHostFile src;
  src.initialise(0);
  src.setIoBackend(backend);
  ASSERT_TRUE(src.open(Text(tree.internal("src")), false, false, false));
  bool comments = src.changeExtra(kExtraCOMM, ExtraValue::ofText("kept")).ok;
  ASSERT_TRUE(src.setTime(86400 * 5000 + 7));
  src.setPosition(1234);
  backend->log->calls.clear();
  std::unique_ptr<cBaseFile> copy = src.makeCopy(Text(tree.internal("dst")));
  ASSERT_TRUE(copy) << src.infoError().view();
  std::vector<int64_t> reads;
  for (const testing_io::IoCall& c : backend->log->calls)
    if (c.kind == testing_io::IoCall::read) reads.push_back(c.length);
  EXPECT_EQ(reads, (std::vector<int64_t>{419430, 419430, 161140}));
  EXPECT_EQ(src.getPosition(false), 1234);
  EXPECT_EQ(copy->getPosition(false), 1234);
  EXPECT_TRUE(copy->isOfClass(cHostFile::kClassName));
  ASSERT_TRUE(src.setAttributes(0, kAttrWritable));
  copy.reset();
  EXPECT_EQ(readAll(tree.host("dst")), data);
  dos::FileInfo info;
  ASSERT_TRUE(dos::examinePath(Text(tree.native("dst")), true, info, dos::Detail::comment));
  EXPECT_EQ(pTime::dateStampToSeconds(info.date), 86400 * 5000 + 7);
  if (comments) {
    EXPECT_EQ(info.comment, "kept");
  }
}

TEST_F(FileCopy, BufferedCopiesCarryProtectionAndTime) {
  tree.file("src", "");
  auto src = std::make_unique<cFile>();
  src->initialise(0);
  ASSERT_TRUE(src->open(Text(tree.internal("src")), false, false, false));
  ASSERT_TRUE(src->setAttributes(0, kAttrWritable));
  ASSERT_TRUE(src->setTime(123456));
  std::unique_ptr<cFile> copy = src->makeCopyTyped(Text(tree.internal("dst")));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->getSize(), 0);
  copy->close();
  EXPECT_EQ(fs::status(tree.host("dst")).permissions() & fs::perms::owner_write, fs::perms::none);
  dos::FileInfo info;
  ASSERT_TRUE(dos::examinePath(Text(tree.native("dst")), true, info, dos::Detail::full));
  EXPECT_EQ(pTime::dateStampToSeconds(info.date), 123456);
}

TEST_F(FileCopy, RefusesAnExistingDestinationAndStopsOnCtrlC) {
  tree.file("src", std::string(900000, 's'));
  tree.file("dst", "keep me");
  cFile src;
  src.initialise(0);
  ASSERT_TRUE(src.open(Text(tree.internal("src")), true, false, false));
  EXPECT_FALSE(src.makeCopy(Text(tree.internal("dst"))));
  EXPECT_STREQ(src.infoErrorSource(), "cBaseFile.makeCopy()");
  EXPECT_EQ(src.infoError().view(), "destination file already exists");
  EXPECT_EQ(readAll(tree.host("dst")), "keep me");

  dos::signalBreak();
  expectRaise([&] { src.makeCopy(Text(tree.internal("new"))); }, "BRK", "Ctrl-C received");
  EXPECT_FALSE(fs::exists(tree.host("new")));
  expectRaise([&] { src.makeCopy(nullptr); }, "EMU", "cBaseFile.makeCopy(); path=NILA");
}

TEST_F(FileCopy, CopyOfALinkedFileIsARealFile) {
  tree.file("live", "database bytes");
  tree.symlink(tree.host("live").string(), "link");
  cFile src;
  src.initialise(0);
  ASSERT_TRUE(src.open(Text(tree.internal("link")), true, false, false));
  std::unique_ptr<cFile> copy = src.makeCopyTyped(Text(tree.internal("backup")));
  ASSERT_TRUE(copy) << src.infoError().view();
  copy.reset();
  EXPECT_FALSE(fs::is_symlink(tree.host("backup")));
  EXPECT_EQ(readAll(tree.host("backup")), "database bytes");
  EXPECT_EQ(readAll(tree.host("live")), "database bytes");
}

TEST_F(FileCopy, Clones) {
  tree.file("f", "0123456789");
  cFile f;
  f.initialise('.');
  ASSERT_TRUE(f.open(Text(tree.internal("f")), false, false, false));
  f.setPosition(4);
  EXPECT_EQ(f.cloneTyped(true), nullptr);
  std::unique_ptr<cFile> reader = f.cloneTyped(false);
  ASSERT_TRUE(reader);
  EXPECT_TRUE(reader->infoReadOnly());
  EXPECT_EQ(reader->getPosition(false), 4);
  EXPECT_EQ(reader->infoFillByte(), '.');
  f.close();
  expectRaise([&] { f.cloneFile(false); }, "EMU", "cBaseFile.clone(); file not open");
}

}  // namespace
}  // namespace bw
