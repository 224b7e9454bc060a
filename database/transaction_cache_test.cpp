// database/transaction_cache_test.cpp - chunk arithmetic, bitmap marking, the
// chunk reader's runs and the chunk list with its index.
#include "database/transaction_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "core/raise_test_support.h"
#include "database/chunk_runs.h"

namespace bw {
namespace {

struct Span {
  bool cached;
  int32_t length, fromStart, chunkOffset;
  bool operator==(const Span&) const = default;
};

std::vector<Span> walk(const ChunkPayload* node, int32_t offset, int64_t length, bool cachedOnly,
                      int32_t* walked = nullptr) {
  chunkReader reader;
  initReadChunk(reader, node, offset, length);
  std::vector<Span> runs;
  for (ChunkRun r = doReadChunk(reader, cachedOnly);; r = doReadChunk(reader, cachedOnly)) {
    if (r.finished) {
      if (walked) *walked = r.chunkOffset;
      return runs;
    }
    runs.push_back({r.cached, r.length, r.fromStart, r.chunkOffset});
  }
}

TEST(TransactionCacheArithmetic, ChunksOffsetsAndMasks) {
  EXPECT_EQ(chunkOfPosition(959).chunkNumber, 0);
  EXPECT_EQ(chunkOfPosition(959).offset, 959);
  EXPECT_EQ(chunkOfPosition(960).chunkNumber, 1);
  EXPECT_EQ(chunkOfPosition(960).offset, 0);
  EXPECT_EQ(chunkNumberOf(int64_t{960} * 0x7FFFFFFF + 959), 0x7FFFFFFF);
  EXPECT_EQ(chunkBitOf(33).word, 1);
  EXPECT_EQ(chunkBitOf(33).mask, 2u);
  EXPECT_EQ(bitRangeMask(1u << 3, 1u << 5), 0x38u);
  EXPECT_EQ(bitRangeMask(1u << 4, 0x80000000u), 0xFFFFFFF0u);
  EXPECT_EQ(bitRangeMask(0x80000000u, 0x80000000u), 0x80000000u);
  EXPECT_EQ(bitRangeMask(1u, 0x80000000u), 0xFFFFFFFFu);
}

TEST(TransactionCacheBitmap, MarkingSetsExactlyTheRange) {
  ChunkPayload node;
  markCached(node, 0, kChunkSize);
  for (uint32_t w : node.bitmap) EXPECT_EQ(w, 0xFFFFFFFFu);

  ChunkPayload part;
  markCached(part, 30, 40);  // bytes 30..69: words 0..2
  EXPECT_EQ(part.bitmap[0], 0xC0000000u);
  EXPECT_EQ(part.bitmap[1], 0xFFFFFFFFu);
  EXPECT_EQ(part.bitmap[2], 0x3Fu);
  EXPECT_EQ(part.bitmap[3], 0u);
  EXPECT_TRUE(allCached(part, 30, 40));
  EXPECT_FALSE(allCached(part, 29, 2));
  EXPECT_FALSE(allCached(part, 69, 2));

  // Random ranges, within and across pairs of words, against a model.
  std::mt19937 random(3);
  ChunkPayload marked;
  std::vector<bool> model(kChunkSize);
  for (int round = 0; round < 300; ++round) {
    const auto offset = static_cast<int32_t>(random() % kChunkSize);
    const auto length = static_cast<int32_t>(1 + random() % std::min<uint32_t>(kChunkSize - offset, round % 2 ? 70 : 960));
    markCached(marked, offset, length);
    std::fill(model.begin() + offset, model.begin() + offset + length, true);
    for (int32_t at = 0; at < kChunkSize; ++at) ASSERT_EQ(allCached(marked, at, 1), model[at]) << round << " " << at;
  }
}

TEST(TransactionCacheReader, RunsOverMixedAndEmptyNodes) {
  ChunkPayload node;
  markCached(node, 32, 4);  // bytes 32..35
  int32_t walked = 0;
  EXPECT_EQ(walk(&node, 30, 11, false, &walked),
            (std::vector<Span>{{false, 2, 0, 30}, {true, 4, 2, 32}, {false, 5, 6, 36}}));
  EXPECT_EQ(walked, 11);
  EXPECT_EQ(walk(&node, 30, 11, true), (std::vector<Span>{{true, 4, 2, 32}}));

  ChunkPayload clear;
  EXPECT_EQ(walk(&clear, 100, 50, false), (std::vector<Span>{{false, 50, 0, 100}}));
  EXPECT_EQ(walk(&clear, 100, 50, true, &walked), std::vector<Span>{});
  EXPECT_EQ(walked, 50);
  EXPECT_EQ(walk(nullptr, 900, 5000, false, &walked), (std::vector<Span>{{false, 60, 0, 900}}));
  EXPECT_EQ(walked, 60);
}

TEST(TransactionCacheReader, RunsAreMaximalAcrossWords) {
  ChunkPayload node;
  markCached(node, 0, 700);
  markCached(node, 701, 259);
  EXPECT_EQ(walk(&node, 0, kChunkSize, false),
            (std::vector<Span>{{true, 700, 0, 0}, {false, 1, 700, 700}, {true, 259, 701, 701}}));
  // A random bitmap: runs alternate, cover the range and agree with the bits.
  ChunkPayload random;
  uint32_t seed = 12345;
  for (auto& w : random.bitmap) w = (seed = seed * 1103515245u + 12345u) & 0xF0F0FF00u;
  int32_t expectAt = 17;
  bool first = true, last = false;
  for (const Span& r : walk(&random, 17, 900, false)) {
    EXPECT_EQ(r.chunkOffset, expectAt);
    if (!first) {
      EXPECT_NE(r.cached, last);
    }
    for (int32_t o = r.chunkOffset; o < r.chunkOffset + r.length; ++o) {
      EXPECT_EQ(allCached(random, o, 1), r.cached) << o;
    }
    expectAt += r.length;
    last = r.cached;
    first = false;
  }
  EXPECT_EQ(expectAt, 917);
}

// The whole-chunk walk by edges against the reader's cached-only walk, on
// random bitmaps from sparse to full, runs crossing every pair of words.
TEST(TransactionCacheReader, EdgeWalkMatchesTheReader) {
  std::mt19937 random(11);
  for (int round = 0; round < 400; ++round) {
    ChunkPayload node;
    const int marks = round % 40;
    for (int m = 0; m < marks; ++m) {
      const auto offset = static_cast<int32_t>(random() % kChunkSize);
      const auto length = static_cast<int32_t>(1 + random() % std::min<uint32_t>(kChunkSize - offset, 1u << (round % 11)));
      markCached(node, offset, length);
    }
    std::vector<Span> runs;
    forEachCachedRunOfChunk(node, [&](int32_t at, int32_t n) { runs.push_back({true, n, at, at}); });
    ASSERT_EQ(runs, walk(&node, 0, kChunkSize, true)) << round;
  }
}

TEST(TransactionCacheReader, BadArguments) {
  chunkReader reader;
  expectRaise([&] { initReadChunk(reader, nullptr, 0, 0); }, "EPU", "initReadChunk(); remLengthFromPos<=0");
  expectRaise([&] { initReadChunk(reader, nullptr, 960, 1); }, "EPU",
              "initReadChunk(); chunkOffsetOfPos>=TRANSACTIONCACHECHUNK_SIZE");
}

class TransactionCacheList : public ::testing::Test {
 protected:
  void SetUp() override { journalModuleInit(); }
  void TearDown() override { journalModuleEnd(); }
};

TEST_F(TransactionCacheList, IndexFindsNodesAndSortOrdersThem) {
  cMegaList_transactionCacheChunk cache;
  EXPECT_STREQ(cache.className(), "cMegaList_transactionCacheChunk");
  EXPECT_TRUE(cache.isEmpty());
  EXPECT_EQ(cache.lookup(5), nullptr);
  for (int32_t c : {7, 2, 0x7FFFFFFF, 5, 0}) cache.obtain(c)->data[0] = static_cast<uint8_t>(c);
  EXPECT_EQ(cache.obtain(5), cache.lookup(5));
  EXPECT_EQ(cache.infoChunkCount(), 5u);
  EXPECT_EQ(cache.lookup(2)->data[0], 2);

  std::vector<int32_t> order;
  auto collect = [&] {
    order.clear();
    auto cursor = cache.infoStart()->clone(0, 0);
    if (cache.isEmpty()) return;
    do order.push_back(cursor->infoNode()->chunkNumber);
    while (!cursor->gotoNext());
  };
  collect();
  EXPECT_EQ(order, (std::vector<int32_t>{7, 2, 0x7FFFFFFF, 5, 0}));
  cache.sort();
  collect();
  EXPECT_EQ(order, (std::vector<int32_t>{0, 2, 5, 7, 0x7FFFFFFF}));

  cache.clear();
  EXPECT_TRUE(cache.isEmpty());
  EXPECT_EQ(cache.lookup(2), nullptr);
  auto* fresh = cache.obtain(2);  // a node made after a clear starts empty
  EXPECT_EQ(fresh->bitmap[0], 0u);
}

// The table against a map of the nodes made: chunk numbers near 0, on both
// sides of the table's end and far beyond it, looked up before and after
// they are made, with clears between rounds.
TEST_F(TransactionCacheList, TableAndIndexAnswerAsAMap) {
  using Cache = cMegaList_transactionCacheChunk;
  Cache cache;
  std::mt19937 random(12);
  const int32_t end = static_cast<int32_t>(Cache::kTableChunks);
  const int32_t bases[] = {0, end - 40, 0x7FFFFF00};
  for (int round = 0; round < 4; ++round) {
    std::map<int32_t, Cache::Node*> made;
    for (int step = 0; step < 3000; ++step) {
      const int32_t c = bases[random() % 3] + static_cast<int32_t>(random() % 80);
      if (random() % 2) {
        Cache::Node* node = cache.obtain(c);
        ASSERT_EQ(node->chunkNumber, c);
        ASSERT_TRUE(made.emplace(c, node).first->second == node) << c;
      }
      auto it = made.find(c);
      ASSERT_EQ(cache.lookup(c), it == made.end() ? nullptr : it->second) << round << " " << c;
    }
    EXPECT_EQ(cache.infoChunkCount(), made.size());
    cache.clear();
    for (const auto& [c, node] : made) ASSERT_EQ(cache.lookup(c), nullptr) << round << " " << c;
  }
}

TEST_F(TransactionCacheList, SlabsAreReusedAndALargeTransactionsGiveBack) {
  cMegaList_transactionCacheChunk cache;
  const size_t large = (cMegaList_transactionCacheChunk::kKeptSlabs + 3) * cMegaList_transactionCacheChunk::kSlabNodes;
  for (int round = 0; round < 3; ++round) {
    for (size_t c = 0; c < large; ++c) {
      auto* node = cache.obtain(static_cast<int32_t>(c));
      // Every slot handed out again starts empty, whatever it held before.
      ASSERT_EQ(node->chunkNumber, static_cast<int32_t>(c));
      ASSERT_EQ(node->bitmap, decltype(node->bitmap){}) << round << " " << c;
      markCached(*node, static_cast<int32_t>(c % kChunkSize), 1);
      node->data[c % kChunkSize] = static_cast<uint8_t>(c);
    }
    EXPECT_EQ(cache.infoChunkCount(), large);
    EXPECT_EQ(cache.lookup(100)->data[100], 100);
    EXPECT_GT(cache.infoSlabCount(), cMegaList_transactionCacheChunk::kKeptSlabs);
    cache.clear();
    EXPECT_EQ(cache.infoSlabCount(), cMegaList_transactionCacheChunk::kKeptSlabs);
  }
}

}  // namespace
}  // namespace bw
