// platform/file_test.cpp - cFile: chunk placement and sizes, padding, the
// cached size with shrink and regrow, metadata at flush and close, and what
// flush asks of the disk.
#include "platform/file.h"

#include <filesystem>

#include "core/raise_test_support.h"
#include "platform/clock.h"
#include "platform/dos.h"
#include "platform/host_io_test_support.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using testing_paths::readAll;
using testing_paths::TempTree;
namespace fs = std::filesystem;

struct FileTest : ::testing::Test {
  TempTree tree;
  void SetUp() override {
    initTimerDevice();
    setDefaultChunkSize(8);
    forgetLastDevice();
  }
  void TearDown() override {
    setClockSource({});
    dos::dosSeams() = {};
  }
  // A new writable file rel on the recording backend; null when it can't open.
  std::unique_ptr<cFile> openRecorded(const std::string& rel,
                                      const std::shared_ptr<testing_io::RecordingIoBackend>& backend) {
    auto f = std::make_unique<cFile>();
    f->initialise(0);
    f->setIoBackend(backend);
    if (!f->open(Text(tree.internal(rel)), false, false, false)) return nullptr;
    return f;
  }
  std::unique_ptr<cFile> openFile(const std::string& rel, bool readOnly, uint8_t fill = '.') {
    auto f = std::make_unique<cFile>();
    f->initialise(fill);
    EXPECT_TRUE(f->open(Text(tree.internal(rel)), readOnly, false, false)) << f->infoError().view();
    return f;
  }
};

TEST_F(FileTest, PaddingAndTheCachedSize) {
  auto f = openFile("new", false);
  char c = 0;
  ReadResult r = f->read(&c, 1, 0, kNoStop);
  EXPECT_EQ(r.next, 1);
  EXPECT_EQ(r.numOfPadBytes, 1);
  EXPECT_EQ(c, '.');
  EXPECT_EQ(f->read(&c, 0, 0, kNoStop).next, 0);
  f->setPosition(100);
  f->write("0123456789", 10, 0, false);
  EXPECT_EQ(f->getSize(), 110);
  f->flush();
  EXPECT_EQ(readAll(tree.host("new")), std::string(100, '.') + "0123456789");

  tree.file("eight", "abcdefgh");
  auto g = openFile("eight", false);
  g->setPosition(5);
  WriteResult w = g->write("0123456789", 10, 0, true);
  EXPECT_EQ(w.next, 8);
  EXPECT_EQ(w.notWritten, 7);
  g->close();
  EXPECT_EQ(readAll(tree.host("eight")), "abcde012");
}

TEST_F(FileTest, ChunkPlacementAndResizing) {
  tree.file("f", std::string(32, 'x'));
  auto f = openFile("f", true);
  ASSERT_EQ(f->infoChunkSize(), 8);
  char buf[32];
  f->setPosition(6);
  f->read(buf, 3, 0, kNoStop);
  EXPECT_EQ(f->infoChunk(0).chunkIndex, 1) << "the later chunk is the one loaded last";
  EXPECT_EQ(f->infoChunk(1).chunkIndex, 0);
  f->setPosition(4);
  f->read(buf, 20, 0, kNoStop);
  EXPECT_EQ(f->infoChunkSize(), 32) << "a read over three chunks resizes to cover it";
  expectRaise([&] { f->changeChunkSizeTo(7, -1); }, "BUG", "cFile.changeChunkSizeTo(); illegal size");
  expectRaise([&] { f->changeChunkSizeTo(4194305, -1); }, "BUG", "cFile.changeChunkSizeTo(); illegal size");
  EXPECT_EQ(f->queryExtra(kExtraCSiz).value.number, 32u);
  EXPECT_EQ(roundUpToPowerOfTwo(-3), -1);
  EXPECT_EQ(roundUpToPowerOfTwo(1), 1);
  EXPECT_EQ(roundUpToPowerOfTwo(250), 256);
}

TEST_F(FileTest, OpenChoosesTheChunkSizeFromTheFileSize) {
  tree.file("k", std::string(1000, 'k'));
  tree.file("s", std::string(64, 's'));
  setDefaultChunkSize(4194304);
  EXPECT_EQ(openFile("k", true)->infoChunkSize(), 256);
  setDefaultChunkSize(4194304);
  EXPECT_EQ(openFile("s", true)->infoChunkSize(), 4194304);
}

TEST_F(FileTest, ShrinkThenRegrowGivesFillNotOldBytes) {
  tree.file("f", std::string(100, 'a'));
  auto backend = std::make_shared<testing_io::RecordingIoBackend>();
  auto f = std::make_unique<cFile>();
  f->initialise('.');
  f->setIoBackend(backend);
  ASSERT_TRUE(f->open(Text(tree.internal("f")), false, false, false));
  f->setSize(10);
  f->setPosition(50);
  f->write("Z", 1, 0, false);
  char buf[51];
  f->setPosition(0);
  ReadResult r = f->read(buf, 51, 0, kNoStop);
  EXPECT_EQ(r.numOfPadBytes, 0);
  EXPECT_EQ(std::string(buf, 51), std::string(10, 'a') + std::string(40, '.') + "Z");
  f->flush();
  EXPECT_EQ(readAll(tree.host("f")), std::string(10, 'a') + std::string(40, '.') + "Z");
  // A dirty chunk wholly past a reduced size writes nothing.
  f->setPosition(40);
  f->write("12345678", 8, 0, false);
  f->setSize(20);
  backend->log->calls.clear();
  f->flush();
  for (const testing_io::IoCall& c : backend->log->calls) {
    if (c.kind == testing_io::IoCall::write) {
      EXPECT_LT(c.position, 20);
    }
  }
  EXPECT_EQ(readAll(tree.host("f")).size(), 20u);
}

TEST_F(FileTest, LargeWritesKeepAPendingSize) {
  const int64_t big = 4194304 + 10;
  std::string data(static_cast<size_t>(big), 'B');
  // A pending grow survives a write past the cache.
  tree.file("grow", "");
  auto f = openFile("grow", false);
  f->setSize(big + 100);
  f->write(data.data(), big, 0, false);
  EXPECT_EQ(f->getSize(), big + 100);
  f->close();
  EXPECT_EQ(readAll(tree.host("grow")), data + std::string(100, '.'));
  // A pending shrink does too, and the cut-off bytes never come back.
  tree.file("shrink", std::string(static_cast<size_t>(2 * big), 'o'));
  f = openFile("shrink", false);
  f->setSize(10);
  f->setPosition(100);
  WriteResult w = f->write(data.data(), big, 0, true);
  EXPECT_EQ(w.notWritten, big);
  f->setPosition(20);
  f->write(data.data(), big, 0, false);
  EXPECT_EQ(f->getSize(), 20 + big);
  std::string back(30, '\0');
  f->setPosition(0);
  f->read(back.data(), 30, 0, kNoStop);
  EXPECT_EQ(back, std::string(10, 'o') + std::string(10, '.') + std::string(10, 'B'));
  std::string tail(static_cast<size_t>(big), '\0');
  f->setPosition(20 + 10);
  ReadResult r = f->read(tail.data(), big, 0, kNoStop);
  EXPECT_EQ(r.numOfPadBytes, 10) << "bypass reads pad past the logical size";
  EXPECT_EQ(tail.substr(tail.size() - 10), std::string(10, '.'));
  f->close();
  EXPECT_EQ(readAll(tree.host("shrink")), std::string(10, 'o') + std::string(10, '.') + data);
}

TEST_F(FileTest, FlushSyncsWhatWasWrittenOnceAndANewFilesFolderOnce) {
  auto backend = std::make_shared<testing_io::RecordingIoBackend>();
  auto f = openRecorded("n", backend);
  ASSERT_TRUE(f);
  f->write("data", 4, 0, false);
  f->flush();
  EXPECT_EQ(backend->log->count(testing_io::IoCall::sync), 1u);
  EXPECT_EQ(backend->log->count(testing_io::IoCall::syncFolder), 1u);
  f->write("more", 4, 0, false);
  f->flush();
  EXPECT_EQ(backend->log->count(testing_io::IoCall::sync), 2u);
  EXPECT_EQ(backend->log->count(testing_io::IoCall::syncFolder), 1u);
  f->flush();  // nothing written since the last sync
  EXPECT_EQ(backend->log->count(testing_io::IoCall::sync), 2u);
  backend->log->syncError = EIO;
  f->write("x", 1, 0, false);
  expectRaise([&] { f->flush(); }, "FILE", "cHostFile.flush(); Flush() failed");
}

TEST_F(FileTest, FailedWriteBackKeepsTheChunkDirty) {
  auto backend = std::make_shared<testing_io::RecordingIoBackend>();
  auto f = openRecorded("n", backend);
  ASSERT_TRUE(f);
  f->write("data", 4, 0, false);
  backend->log->failWriteFrom = 0;
  expectRaise([&] { f->flush(); }, "FULL", "cHostFile.write(); size of written data does not match that expected");
  EXPECT_EQ(f->infoChunk(0).dirtyLen, 4);
  backend->log->failWriteFrom = -1;
  f->close();
  EXPECT_EQ(readAll(tree.host("n")), "data");
}

TEST_F(FileTest, AbandoningCloseWritesNothing) {
  auto backend = std::make_shared<testing_io::RecordingIoBackend>();
  auto f = openRecorded("n", backend);
  ASSERT_TRUE(f);
  f->write("data", 4, 0, false);
  f->flush();
  const size_t calls = backend->log->calls.size();
  f->setPosition(10);
  f->write("more", 4, 0, false);
  f->setSize(2);
  f->setTime(12345);
  f->closeAbandoning();
  EXPECT_FALSE(f->isOpen());
  EXPECT_EQ(backend->log->calls.size(), calls);
  EXPECT_EQ(backend->log->count(testing_io::IoCall::sync), 1u);
  f->closeAbandoning();  // unopened: nothing
  EXPECT_EQ(readAll(tree.host("n")), "data");
}

TEST_F(FileTest, CloseLeavesTheTimeOfTheLastWrite) {
  int64_t t1 = 1700000000, t2 = 1700003600;
  setClockSource([&] { return ClockReading{t1, 0, false}; });
  auto f = openFile("t", false);
  f->write("x", 1, 0, false);
  setClockSource([&] { return ClockReading{t2, 0, false}; });
  f->close();
  dos::FileInfo info;
  ASSERT_TRUE(dos::examinePath(Text(tree.native("t")), true, info, dos::Detail::full));
  EXPECT_EQ(info.mtimeSeconds, t1);
}

// A device whose dates cannot be set.
struct NoTimeFile : cFile {
  void testDeviceCapabilities(Text path, bool readOnly) override {
    cFile::testDeviceCapabilities(path, readOnly);
    deviceFlags_ &= static_cast<uint8_t>(~kDeviceTime);
  }
};

TEST_F(FileTest, MetadataTheDeviceRefuses) {
  auto f = openFile("m", false);
  ASSERT_TRUE(f->infoDeviceFlags() & kDeviceTime);
  ASSERT_TRUE(f->setAttributes(0, kAttrWritable));
  EXPECT_EQ(f->infoPendingChanges() & kPendingAttributes, kPendingAttributes);
  f->close();
  EXPECT_EQ(fs::status(tree.host("m")).permissions() & fs::perms::owner_write, fs::perms::none);

  NoTimeFile n;
  n.initialise(0);
  ASSERT_TRUE(n.open(Text(tree.internal("m")), false, true, false));
  EXPECT_FALSE(n.setTime(0));
  EXPECT_STREQ(n.infoErrorSource(), "cFile.setTime()");
  EXPECT_EQ(n.infoError().view(), "not supported by disk");
  EXPECT_EQ(n.infoPendingChanges() & kPendingTime, 0);
  n.close();

  auto r = openFile("m", true);
  expectRaise([&] { r->setTime(0); }, "EMU", "cFile.setTime(); file opened in read only mode");
  expectRaise([&] { r->setSize(0); }, "EMU", "cFile.setTime(); file opened in read only mode");
}

TEST_F(FileTest, WithoutXattrsCommentsAreSilentlyDropped) {
  dos::dosSeams().noUserXattr = true;
  auto f = openFile("x", false);
  EXPECT_EQ(f->infoDeviceFlags() & kDeviceExtras, 0);
  cHostExtra carrier;
  carrier.changeExtra(kExtraCOMM, ExtraValue::ofText("hello"));
  EXPECT_TRUE(f->setExtra(&carrier));
  f->flush();
  EXPECT_EQ(f->queryExtra(kExtraCOMM).value.text, "");
  std::unique_ptr<cFile> copy = f->makeCopyTyped(Text(tree.internal("copy")));
  EXPECT_TRUE(copy) << "copies keep working where comments cannot be kept";
  copy.reset();
  ExtraChange c = f->cHostFile::changeExtra(kExtraCOMM, ExtraValue::ofText("hello"));
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(f->infoError().view().substr(0, 26), "error setting file comment");
}

TEST_F(FileTest, CommentsReachTheDiskAtFlush) {
  auto f = openFile("c", false);
  if (!(f->infoDeviceFlags() & kDeviceExtras)) GTEST_SKIP() << "no user extended attributes here";
  ASSERT_TRUE(f->changeExtra(kExtraCOMM, ExtraValue::ofText("note")).ok);
  EXPECT_EQ(dos::readComment(Text(tree.native("c"))).value_or("?"), "");
  f->flush();
  EXPECT_EQ(dos::readComment(Text(tree.native("c"))).value_or("?"), "note");
}

}  // namespace
}  // namespace bw
