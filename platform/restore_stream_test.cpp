// platform/restore_stream_test.cpp - the bytes of every value kind, object
// references and numbering, the size stream, the memory stream's reads, and
// streams cut short.
#include "platform/restore_stream.h"

#include <algorithm>
#include <random>
#include <span>
#include <vector>

#include "core/raise_test_support.h"
#include "platform/clock.h"
#include "platform/memory_restore_stream.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using testing_paths::readAll;
using testing_paths::TempTree;

// A stream over a byte vector: writes append, reads consume.
struct MemoryStream : cRestoreStreamBase {
  std::vector<uint8_t> bytes;
  size_t at = 0;
  void write(const void* b, int32_t n) override {
    auto p = static_cast<const uint8_t*>(b);
    bytes.insert(bytes.end(), p, p + n);
  }
  void read(void* b, int32_t n) override {
    for (int32_t i = 0; i < n; ++i) static_cast<uint8_t*>(b)[i] = at < bytes.size() ? bytes[at++] : 0x80;
  }
};

std::vector<uint8_t> compact(int32_t v) {
  MemoryStream s;
  transferCompactValue(s, true, v);
  return s.bytes;
}

TEST(RestoreStream, CompactValueBytes) {
  using B = std::vector<uint8_t>;
  EXPECT_EQ(compact(0), (B{0x80}));
  EXPECT_EQ(compact(1), (B{0x81}));
  EXPECT_EQ(compact(-1), (B{0xC1}));
  EXPECT_EQ(compact(63), (B{0xBF}));
  EXPECT_EQ(compact(64), (B{0x00, 0x81}));
  EXPECT_EQ(compact(-64), (B{0x40, 0x81}));
  EXPECT_EQ(compact(300), (B{0x2C, 0x84}));
  EXPECT_EQ(compact(8192), (B{0x00, 0x00, 0x81}));
  EXPECT_EQ(compact(2147483647), (B{0x3F, 0x7F, 0x7F, 0x7F, 0x8F}));
  EXPECT_EQ(compact(INT32_MIN), (B{0x40, 0x00, 0x00, 0x00, 0x90}));
}

TEST(RestoreStream, CompactValuesRoundTrip) {
  MemoryStream s;
  std::vector<int32_t> values;
  for (int k = 0; k < 32; ++k) {
    int64_t p = int64_t{1} << k;
    for (int64_t v : {p - 1, p, p + 1, -p - 1, -p, -p + 1})
      if (v >= INT32_MIN && v <= INT32_MAX) values.push_back(static_cast<int32_t>(v));
  }
  values.push_back(INT32_MIN);
  std::mt19937 rng(7);
  for (int i = 0; i < 1000000; ++i) values.push_back(static_cast<int32_t>(rng()));
  for (int32_t v : values) transferCompactValue(s, true, v);
  for (int32_t v : values) ASSERT_EQ(transferCompactValue(s, false, 0), v);
  // A reader goes on until bit 7 and drops bits past shift 31.
  MemoryStream long_;
  long_.bytes = {0x01, 0x00, 0x00, 0x00, 0x60, 0x7F, 0x81};  // 0x60 lands at bits 32-33
  EXPECT_EQ(transferCompactValue(long_, false, 0), 1);
  EXPECT_EQ(long_.at, 7u);
}

TEST(RestoreStream, FixedSizeValues) {
  MemoryStream s;
  transferBool(s, true, 1);
  transferBool(s, true, true);
  transferByte(s, true, 200);
  transferUnsignedByte(s, true, 200);
  transferShort(s, true, -2);
  transferValue(s, true, 0x01020304);
  transferBigValue(s, true, -2);
  EXPECT_EQ(s.bytes, (std::vector<uint8_t>{0x01, 0xFF, 0xC8, 0xC8, 0xFF, 0xFE, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(transferBool(s, false, 0), -1);
  EXPECT_EQ(transferBool(s, false, 0), -1);
  EXPECT_EQ(transferByte(s, false, 0), -56);
  EXPECT_EQ(transferUnsignedByte(s, false, 0), 200);
  EXPECT_EQ(transferShort(s, false, 0), -2);
  EXPECT_EQ(transferValue(s, false, 0), 0x01020304);
  EXPECT_EQ(transferBigValue(s, false, 0), -2);
}

TEST(RestoreStream, ObjectReferencesAndNumbering) {
  class_base a, b;
  MemoryStream s;
  s.beginStream();
  expectRaise([&] { s.beginStream(); }, "EMU", "cRestoreStreamBase.beginStream(); finishStream() was not called");
  EXPECT_TRUE(s.transferObject(true, nullptr).seen);
  TransferredObject t = s.transferObject(true, &a);
  EXPECT_FALSE(t.seen);
  s.objectCreationAfter(true, &a);
  EXPECT_TRUE(s.transferObject(true, &a).seen);
  EXPECT_FALSE(s.transferObject(true, &b).seen);
  s.objectCreationAfter(true, &b);
  expectRaise([&] { s.objectCreationAfter(true, &a); }, "BUG",
              "cRestoreStreamBase.objectCreationAfter(); object already seen when saving");
  EXPECT_EQ(s.bytes, (std::vector<uint8_t>{0xFF, 0x00, 0x00, 0, 0, 0, 1, 0x00, 0xFF, 0, 0, 0, 1, 0x00, 0x00, 0, 0, 0,
                                           2}));
  s.finishStream();

  // Read back: numbering restarts after finishStream.
  s.beginStream();
  class_base a2, b2;
  EXPECT_EQ(s.transferObject(false, &a).object, nullptr);
  EXPECT_FALSE(s.transferObject(false, nullptr).seen);
  s.objectCreationAfter(false, &a2);
  t = s.transferObject(false, nullptr);
  EXPECT_TRUE(t.seen);
  EXPECT_EQ(t.object, &a2);
  EXPECT_FALSE(s.transferObject(false, nullptr).seen);
  s.objectCreationAfter(false, &b2);
  s.finishStream();

  MemoryStream wrong;
  wrong.bytes = {0, 0, 0, 5};
  wrong.beginStream();
  expectRaise([&] { wrong.objectCreationAfter(false, &a); }, "BUG",
              "cRestoreStreamBase.objectCreationAfter(); objectIndex<>currentObjectIndex");
}

TEST(RestoreStream, SizeStreamCounts) {
  cRestoreStream_size s;
  s.beginStream();
  transferCompactValue(s, true, 300);
  transferBigValue(s, true, 1);
  s.transferObject(true, nullptr);
  EXPECT_EQ(s.infoSize(), 11);
  s.finishStream();
  s.beginStream();
  EXPECT_EQ(s.infoSize(), 0);
}

// The memory stream read in random steps, by get, read and what it shows
// ahead, against the input itself: the same bytes, the same remainder, and
// the end of the input raised as a cut stream whichever way it is met.
TEST(RestoreStream, AMemoryStreamShowsWhatFollowsAhead) {
  std::mt19937 rng(5);
  std::vector<uint8_t> input(700);
  for (uint8_t& b : input) b = static_cast<uint8_t>(rng());
  for (bool showAhead : {true, false}) {
    cRestoreStream_memory s;
    s.setInput(input.data(), input.size(), showAhead);
    size_t at = 0;
    while (at < input.size()) {
      const auto n = std::min<size_t>(input.size() - at, 1 + rng() % 40);
      std::vector<uint8_t> got(n);
      switch (rng() % 3) {
        case 0: s.get(got.data(), static_cast<int32_t>(n)); break;
        case 1: s.read(got.data(), static_cast<int32_t>(n)); break;
        default: {
          const std::span<const uint8_t> ahead = s.ahead();
          ASSERT_EQ(ahead.size(), showAhead ? input.size() - at : 0);
          if (!showAhead) continue;
          std::copy_n(ahead.begin(), n, got.begin());
          s.skipAhead(n);
        }
      }
      ASSERT_TRUE(std::equal(got.begin(), got.end(), input.begin() + static_cast<ptrdiff_t>(at))) << at;
      at += n;
      ASSERT_EQ(s.infoRemaining(), static_cast<int64_t>(input.size() - at));
    }
    EXPECT_TRUE(s.ahead().empty());
    uint8_t byte = 0;
    expectRaise([&] { s.get(&byte, 1); }, "FILE", "cRestoreStream_memory.read(); unexpected end of stream");
  }
}

struct RestoreStreamFile : ::testing::Test {
  TempTree tree;
  void SetUp() override { initTimerDevice(); }
};

// A record: a string length and its bytes, a flag and a big value.
void record(cRestoreStreamBase& s, bool doWrite, std::string& text, int32_t& flag, int64_t& big) {
  int32_t n = transferCompactValue(s, doWrite, static_cast<int32_t>(text.size()));
  if (!doWrite) text.assign(static_cast<size_t>(n), '\0');
  if (doWrite) s.write(text.data(), n);
  else s.read(text.data(), n);
  flag = transferBool(s, doWrite, flag);
  big = transferBigValue(s, doWrite, big);
}

TEST_F(RestoreStreamFile, RecordsRoundTripAndACutStreamRaises) {
  std::string path = tree.internal("dump");
  tree.file("dump", "old contents to be replaced");
  {
    cRestoreStream out;
    ASSERT_TRUE(out.open(Text(path), true));
    for (int i = 0; i < 3; ++i) {
      std::string text(static_cast<size_t>(70 * i), 'a' + i);
      int32_t flag = i & 1 ? -1 : 0;
      int64_t big = int64_t{1} << (20 * i);
      record(out, true, text, flag, big);
    }
    out.close();
  }
  std::string whole = readAll(tree.host("dump"));
  ASSERT_EQ(whole.size(), 242u);
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    tree.file("cut", whole.substr(0, cut));
    cRestoreStream in;
    ASSERT_TRUE(in.open(Text(tree.internal("cut")), false));
    try {
      for (int i = 0; i < 3; ++i) {
        std::string text;
        int32_t flag = 0;
        int64_t big = 0;
        record(in, false, text, flag, big);
        EXPECT_EQ(text, std::string(static_cast<size_t>(70 * i), 'a' + i));
        EXPECT_EQ(big, int64_t{1} << (20 * i));
      }
      EXPECT_EQ(cut, whole.size()) << "a cut stream must not read as whole";
    } catch (const eException& e) {
      EXPECT_EQ(e.code(), "FILE");
      EXPECT_EQ(e.message(), "cRestoreStream.read(); unexpected end of stream");
      EXPECT_LT(cut, whole.size());
    }
    in.close();
  }

  cFile file;
  file.initialise(0);
  ASSERT_TRUE(file.open(Text(tree.internal("cut")), true, false, false));
  file.setPosition(1);
  cRestoreStream_any_cFile any;
  any.setFile(&file);
  any.beginStream();
  expectRaise([&] { for (;;) transferCompactValue(any, false, 0); }, "FILE",
              "cRestoreStream_any_cFile.read(); unexpected end of stream");
}

TEST_F(RestoreStreamFile, OpenFailuresAndLines) {
  cRestoreStream in;
  EXPECT_FALSE(in.open(Text(tree.internal("missing")), false));
  EXPECT_FALSE(in.infoStreamActive());
  StrChain lines{Str("one"), Str(""), Str("three")};
  ASSERT_TRUE(writeLinesToFile(Text(tree.internal("lines")), &lines));
  EXPECT_EQ(readAll(tree.host("lines")), "one\n\nthree");
  EXPECT_FALSE(writeLinesToFile(Text(tree.internal("none")), nullptr));
}

}  // namespace
}  // namespace bw
