// tools/soupcheck/soup_level_test.cpp - level 4 on data areas laid out by
// hand: a clean soup with two lists, then one damage at a time.
#include "tools/soupcheck/soup_level.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bw::soupcheck {
namespace {

// Lays out a block file's data area: header area, then used blocks back to
// back (the last one flagged), an index array and indexed records.
class Image {
 public:
  Image() {
    d.reserve(64 * 1024);  // room for the blocks: no reallocation (nor a g++ 12 -O3 array-bounds warning) as they are added
    dummy_ = block(20);
    array_ = block(128 * 8);
    put64(8, array_);
    entry(0, 2);
    entry(1, 14);
    entry(2, 128);
    entry(5, dummy_);
  }
  void put32(int64_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) d[static_cast<size_t>(at + i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
  }
  void put64(int64_t at, int64_t v) {
    put32(at, static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
    put32(at + 4, static_cast<uint32_t>(v));
  }
  void entry(int64_t e, int64_t v) { put64(array_ + 8 * e, v); }
  // A record of capacity bytes under index; its data position.
  int64_t record(int32_t index, int32_t capacity) {
    int64_t h = block(capacity + 4);
    put32(h, static_cast<uint32_t>(index + 13));
    entry(index + 13, h);
    return h + 4;
  }
  // List record fields and node headers at data positions.
  void list(int64_t d, int32_t head, int32_t tail, int32_t next, int32_t prev) {
    put32(d, static_cast<uint32_t>(head));
    put32(d + 4, static_cast<uint32_t>(tail));
    put32(d + 8, static_cast<uint32_t>(next));
    put32(d + 12, static_cast<uint32_t>(prev));
  }
  void node(int64_t d, int32_t next, int32_t prev) {
    put32(d, static_cast<uint32_t>(next));
    put32(d + 4, static_cast<uint32_t>(prev));
  }
  int64_t dummy() const { return dummy_; }

  std::vector<uint8_t> d = std::vector<uint8_t>(8496, 0);

 private:
  int64_t block(int32_t payload) {
    auto p = static_cast<int64_t>(d.size());
    int32_t size = payload + 8;
    d.resize(d.size() + static_cast<size_t>(size), 0);
    if (last_) put32(last_, size_ & ~1u);
    put32(p, static_cast<uint32_t>(size) | 1u);
    put32(p + 4, static_cast<uint32_t>(last_ ? last_ - p : 0));
    last_ = p;
    size_ = static_cast<uint32_t>(size);
    return p + 8;
  }

  int64_t dummy_ = 0;
  int64_t array_ = 0;
  int64_t last_ = 0;
  uint32_t size_ = 0;
};

// Lists 1 (nodes 3, 4, 5) and 2 (node 6) in one chain, root 7.
class SoupLevelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    l1 = img.record(1, 16);
    l2 = img.record(2, 16);
    for (int i = 3; i <= 6; ++i) n[i] = img.record(i, 16);
    root = img.record(7, 40);
    img.list(l1, 3, 5, 2, 2);
    img.list(l2, 6, 6, 1, 1);
    img.node(n[3], 4, 0);
    img.node(n[4], 5, 3);
    img.node(n[5], 0, 4);
    img.node(n[6], 0, 0);
    img.entry(6, 7);
    img.entry(7, 6 * (16 + 12) + (40 + 12));
    img.entry(8, l1 - 4);
    img.entry(10, img.dummy());
    img.entry(11, 1);
  }
  std::string findings() {
    SoupLevelReport r = checkSoupLevel(img.d);
    std::string all;
    for (auto& f : r.findings) all += f + "\n";
    return all;
  }

  Image img;
  int64_t l1 = 0, l2 = 0, root = 0;
  int64_t n[7] = {};
};

TEST_F(SoupLevelTest, ACleanSoup) {
  SoupLevelReport r = checkSoupLevel(img.d);
  EXPECT_TRUE(r.clean()) << findings();
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_EQ(r.lists, 2);
  EXPECT_EQ(r.nodes, 4);
  img.entry(9, -1);  // open
  EXPECT_TRUE(checkSoupLevel(img.d).clean());
  // The compaction walk at a list, as its complement, or at no list yet.
  for (int64_t walk : {int64_t{2}, ~int64_t{1}, int64_t{-1}}) {
    img.entry(12, walk);
    EXPECT_TRUE(checkSoupLevel(img.d).clean()) << walk << "\n" << findings();
  }
  img.entry(12, ~int64_t{4});
  EXPECT_NE(findings().find("compaction walk stands at 4"), std::string::npos) << findings();
}

TEST_F(SoupLevelTest, HeaderValues) {
  img.entry(6, 99);
  img.entry(9, 1);
  img.entry(8, l1);  // a data position, not a block
  img.entry(10, 5);
  img.entry(12, 3);  // the compaction walk at a node
  std::string f = findings();
  EXPECT_NE(f.find("compaction walk stands at 3, no list"), std::string::npos) << f;
  EXPECT_NE(f.find("root value 99"), std::string::npos) << f;
  EXPECT_NE(f.find("open mark 1"), std::string::npos) << f;
  EXPECT_NE(f.find("header value 8"), std::string::npos) << f;
  EXPECT_NE(f.find("header value 10"), std::string::npos) << f;
}

TEST_F(SoupLevelTest, UsedBytesMismatchIsOnlyAWarning) {
  img.entry(7, 1);
  SoupLevelReport r = checkSoupLevel(img.d);
  EXPECT_TRUE(r.clean());
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_EQ(r.usedBytesStored, 1);
}

TEST_F(SoupLevelTest, BrokenChainsOfLists) {
  img.list(l2, 6, 6, 0, 1);  // does not lead back
  EXPECT_NE(findings().find("not closed"), std::string::npos) << findings();
  img.list(l2, 6, 6, 1, 7);  // wrong back link of the first list's predecessor
  img.list(l1, 3, 5, 2, 1);
  EXPECT_NE(findings().find("listPrevIndex"), std::string::npos) << findings();
}

TEST_F(SoupLevelTest, BrokenNodeChains) {
  img.node(n[4], 5, 6);  // prev wrong
  EXPECT_NE(findings().find("node 4 has prevIndex 6"), std::string::npos) << findings();
  img.node(n[4], 5, 3);
  img.list(l1, 3, 4, 2, 2);  // tail is not the last node
  EXPECT_NE(findings().find("list 1 has tailIndex 4"), std::string::npos) << findings();
  img.list(l1, 3, 5, 2, 2);
  img.node(n[5], 3, 4);  // a cycle
  EXPECT_NE(findings().find("node 3 of list 1 is reached twice"), std::string::npos) << findings();
  img.node(n[5], 6, 4);  // into the other list
  img.list(l1, 3, 6, 2, 2);
  img.node(n[6], 0, 5);
  EXPECT_NE(findings().find("node 6 of list 2 is reached twice"), std::string::npos) << findings();
  img.node(n[5], 99, 4);
  EXPECT_NE(findings().find("node 99 of list 1 is not allocated"), std::string::npos) << findings();
}

TEST_F(SoupLevelTest, NoLists) {
  img.entry(11, 0);
  EXPECT_TRUE(checkSoupLevel(img.d).clean());
  EXPECT_FALSE(checkSoupLevel(std::vector<uint8_t>(100, 0)).clean());  // no index array
}

}  // namespace
}  // namespace bw::soupcheck
