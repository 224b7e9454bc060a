// web/http_save_test.cpp - the memory and file destinations.
#include "web/http_save.h"

#include <gtest/gtest.h>

#include <string>

#include "core/raise_test_support.h"
#include "platform/full_device_test_support.h"
#include "web/http_test_support.h"

namespace bw {
namespace {

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

std::vector<int64_t> chunkSizes(const httpSaveToBuffer& b) {
  std::vector<int64_t> sizes;
  for (const bufferNode* n = b.firstChunk(); n; n = n->next.get()) sizes.push_back(n->size());
  return sizes;
}

TEST(HttpSaveToBuffer, UnannouncedBodyGrowsInChunksAndJoins) {
  const std::string body = pattern(25000);
  httpSaveToBuffer one;
  ASSERT_TRUE(one.append(body.data(), 25000));
  EXPECT_EQ(chunkSizes(one), (std::vector<int64_t>{10240, 14760}));

  httpSaveToBuffer pieces;
  for (size_t at = 0; at < body.size(); at += 4096)
    ASSERT_TRUE(pieces.append(body.data() + at, static_cast<int64_t>(std::min<size_t>(4096, body.size() - at))));
  EXPECT_EQ(chunkSizes(pieces), (std::vector<int64_t>{10240, 10240, 10240}));

  for (httpSaveToBuffer* b : {&one, &pieces}) {
    ASSERT_TRUE(b->close());
    httpSaveToBuffer::Buffer out = b->getBuffer();
    ASSERT_TRUE(out.data);
    EXPECT_EQ(out.total, 25001);
    EXPECT_EQ(std::string(out.data.get(), 25000), body);
    EXPECT_EQ(out.data[25000], '\0');
    EXPECT_FALSE(b->getBuffer().data);  // handed over once
  }
}

TEST(HttpSaveToBuffer, AnnouncedBodyIsHandedOverWithoutACopy) {
  const std::string body = pattern(5000);
  httpSaveToBuffer b;
  b.initSize(5000);
  EXPECT_EQ(b.chunkSize(), 5000);
  ASSERT_TRUE(b.append(body.data(), 3000));
  ASSERT_TRUE(b.append(body.data() + 3000, 2000));
  ASSERT_EQ(chunkSizes(b), std::vector<int64_t>{5000});
  char* chunkData = const_cast<bufferNode*>(b.firstChunk())->data();
  ASSERT_TRUE(b.close());
  httpSaveToBuffer::Buffer out = b.getBuffer();
  EXPECT_EQ(out.data.get(), chunkData);
  EXPECT_EQ(out.total, 5001);
  EXPECT_EQ(std::string(out.data.get()), body);
}

TEST(HttpSaveToBuffer, EmptyBodyFailsAndReuseRaises) {
  httpSaveToBuffer empty;
  EXPECT_FALSE(empty.close());
  EXPECT_FALSE(empty.getBuffer().data);

  httpSaveToBuffer used;
  ASSERT_TRUE(used.append("x", 1));
  expectRaise([&] { used.initSize(10); }, "EMU", "httpSaveToBuffer.initSize(); object reused twice");
}

// A hostile announced length reserves nothing big; the body still arrives
// whole, and a body over the limit is refused.
TEST(HttpSaveToBuffer, HugeAnnouncedLengthsAndTheMemoryLimit) {
  httpSaveToBuffer b;
  b.initSize(2000000000);
  EXPECT_LE(b.chunkSize(), httpSaveToBuffer::kMaxFirstChunk);
  const std::string body = pattern(3 << 20);
  for (size_t at = 0; at < body.size(); at += 65536) ASSERT_TRUE(b.append(body.data() + at, 65536));
  EXPECT_EQ(chunkSizes(b).size(), 1u);  // the first chunk grew
  ASSERT_TRUE(b.close());
  httpSaveToBuffer::Buffer out = b.getBuffer();
  EXPECT_EQ(out.total, static_cast<int64_t>(body.size()) + 1);
  EXPECT_EQ(std::string(out.data.get(), body.size()), body);

  httpSaveToBuffer limited;
  limited.setMemoryLimit(100000);
  const std::string piece = pattern(60000);
  EXPECT_TRUE(limited.append(piece.data(), 60000));
  EXPECT_FALSE(limited.append(piece.data(), 60000));
  EXPECT_EQ(limited.total(), 60000);
}

TEST(BufferNode, AppendReportsWhatDidNotFitAndLongChainsEndIteratively) {
  bufferNode node(4);
  EXPECT_EQ(node.append("abcdef", 5, 1), 1);  // "bcde" fit, "f" did not
  EXPECT_EQ(std::string(node.data(), 4), "bcde");
  auto head = std::make_unique<bufferNode>(1);
  bufferNode* tail = head.get();
  for (int i = 0; i < 200000; ++i) {
    tail->next = std::make_unique<bufferNode>(1);
    tail = tail->next.get();
  }
  head.reset();  // would overflow the stack if ending recursed
}

TEST(HttpSaveToFile, PresizedFileIsTrimmedWhenShort) {
  test::ScratchDir dir;
  const std::string host = dir.file("short.bin");
  httpSaveToFile f;
  ASSERT_TRUE(f.open(Str(":" + host.substr(1))));
  f.initSize(5000);
  const std::string body = pattern(3000);
  ASSERT_TRUE(f.append(body.data(), 3000));
  EXPECT_FALSE(f.close());
  EXPECT_EQ(test::readFile(host), body);
}

TEST(HttpSaveToFile, ExactAndUnannouncedBodiesSucceed) {
  test::ScratchDir dir;
  const std::string exact = dir.file("exact.bin"), free = dir.file("free.bin");
  const std::string body = pattern(200000);
  httpSaveToFile f;
  ASSERT_TRUE(f.open(Str(":" + exact.substr(1))));
  f.initSize(200000);
  for (size_t at = 0; at < body.size(); at += 1000) ASSERT_TRUE(f.append(body.data() + at, 1000));
  EXPECT_TRUE(f.close());
  EXPECT_EQ(test::readFile(exact), body);

  httpSaveToFile g;
  ASSERT_TRUE(g.open(Str(":" + free.substr(1))));
  ASSERT_TRUE(g.append(body.data(), 100000));  // one piece larger than the buffer
  ASSERT_TRUE(g.append(body.data() + 100000, 7));
  EXPECT_TRUE(g.close());
  EXPECT_EQ(test::readFile(free), body.substr(0, 100007));
}

// A write that fails (here: a full device) is never reported as a saved
// body, even when no length was announced.
TEST(HttpSaveToFile, FailedWritesMakeCloseFail) {
  if (!testing_io::fullDeviceIsThere()) GTEST_SKIP() << testing_io::kFullDeviceSkip;
  httpSaveToFile f;
  ASSERT_TRUE(f.open(":dev/full"));
  EXPECT_TRUE(f.append("buffered", 8));
  EXPECT_FALSE(f.close());
}

TEST(HttpSaveToFile, OpenFailsForAMissingFolder) {
  httpSaveToFile f;
  EXPECT_FALSE(f.open(":nonexistent-folder-bw/x/y.bin"));
  EXPECT_FALSE(f.append("x", 1));
}

}  // namespace
}  // namespace bw
