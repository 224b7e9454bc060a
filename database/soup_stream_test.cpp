// database/soup_stream_test.cpp - the record stream's gathered writes against
// value-by-value writes of the same bytes: two files fed the same random
// records, commits and flushes must end byte for byte alike, journal and all.
#include "database/soup_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <span>
#include <random>
#include <string>
#include <vector>

#include "database/journal_test_support.h"
#include "database/journaled_soup_file.h"

namespace bw {
namespace {

const char kOverrun[] = "record overruns its block";

class SoupStreamTest : public testing_journal::JournalTest {
 protected:
  std::unique_ptr<JournaledSoupBlockFile> openOn(const std::string& name) {
    auto f = std::make_unique<JournaledSoupBlockFile>(-1);
    f->file().setIoBackend(backend);
    f->setPathProbe([this, name](Text) { return backend->exists(native(name)); });
    EXPECT_TRUE(f->open(Text(internal(name)), false));
    return f;
  }
};

struct Block {
  int64_t dataPosition;
  int32_t capacity;
};

// File a gets each record through the stream (one write per record, reads in
// between flushing what was gathered; values moved inline through the
// windows, by call or taken from what the stream shows ahead; some records
// gathered unbound and placed whole); file
// b gets every value with its own writeBytes, as a store without the
// gathering would.
TEST_F(SoupStreamTest, GatheredWritesLeaveTheBytesOfValueByValueWrites) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    const std::string nameA = "gathered" + std::to_string(seed) + ".soup";
    const std::string nameB = "byValue" + std::to_string(seed) + ".soup";
    auto a = openOn(nameA);
    auto b = openOn(nameB);
    std::mt19937 rng(seed);
    auto below = [&rng](uint32_t n) { return static_cast<int32_t>(rng() % n); };
    cRestoreStream_any_cFile_Soup stream;
    std::vector<Block> blocks;
    for (int round = 0; round < 40; ++round) {
      SoupTransaction ta(*a);
      SoupTransaction tb(*b);
      for (int r = below(12); r >= 0; --r) {
        if (blocks.empty() || below(3) == 0) {
          int32_t size = 1 + below(below(4) == 0 ? 5000 : 300);
          SoupIndexedBlock ba = a->allocateIndexBlock(size, false);
          SoupIndexedBlock bb = b->allocateIndexBlock(size, false);
          ASSERT_EQ(ba.dataPosition, bb.dataPosition);
          blocks.push_back({ba.dataPosition, a->infoSizeOfIndexBlock(ba.dataPosition)});
        }
        Block block = blocks[static_cast<size_t>(below(static_cast<uint32_t>(blocks.size())))];
        const bool gather = below(4) == 0;
        if (gather) {
          stream.bindGather(kOverrun);
        } else {
          stream.bindRecord(*a, block.dataPosition, block.capacity, kOverrun);
        }
        int64_t at = block.dataPosition;
        const int64_t end = block.dataPosition + block.capacity;
        {
          StreamScope scope(stream);
          while (at < end && below(8) != 0) {
            auto length = static_cast<int32_t>(std::min<int64_t>(end - at, 1 + below(below(5) == 0 ? 1200 : 9)));
            std::vector<uint8_t> bytes(static_cast<size_t>(length));
            for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(rng());
            const bool byWindow = below(4) != 0;
            if (!gather && below(6) == 0) {
              std::vector<uint8_t> got(bytes.size()), want(bytes.size());
              if (below(3) == 0) {
                // What the stream shows ahead: the next bytes, within the
                // block, as far as one piece of the record goes.
                const std::span<const uint8_t> ahead = stream.ahead();
                ASSERT_TRUE(!ahead.empty() && static_cast<int64_t>(ahead.size()) <= end - at);
                const size_t n = std::min(ahead.size(), got.size());
                std::copy_n(ahead.begin(), n, got.begin());
                stream.skipAhead(n);
                stream.get(got.data() + n, length - static_cast<int32_t>(n));
              } else if (byWindow) {
                stream.get(got.data(), length);
              } else {
                stream.read(got.data(), length);
              }
              b->readBytes(at, want.data(), length);
              ASSERT_EQ(got, want) << "read at " << at;
            } else {
              if (byWindow) {
                stream.put(bytes.data(), length);
              } else {
                stream.write(bytes.data(), length);
              }
              b->writeBytes(at, bytes.data(), length);
            }
            at += length;
            if (!gather) {
              ASSERT_EQ(stream.infoPosition(), at);
            }
          }
        }
        if (gather) {
          int32_t size = stream.keepGathered(&block);
          ASSERT_EQ(size, at - block.dataPosition);
          stream.placeGathered(*a, block.dataPosition, block.capacity, &block, size, kOverrun);
        } else {
          stream.flushWrites();
          ASSERT_EQ(stream.infoPosition(), at);
        }
      }
      ta.finish();
      tb.finish();
      if (below(4) == 0) {
        a->flush();
        b->flush();
      }
    }
    a->close();
    b->close();
    EXPECT_TRUE(image(nameA) == image(nameB));
    EXPECT_GT(image(nameA).size(), size_t{10000});
  }
}

// A store that raised half-way leaves nothing gathered for the next record.
TEST_F(SoupStreamTest, AnOverrunDropsTheGatheredWrites) {
  auto a = openOn("overrun.soup");
  SoupTransaction t(*a);
  SoupIndexedBlock first = a->allocateIndexBlock(8, false);
  SoupIndexedBlock second = a->allocateIndexBlock(8, false);
  cRestoreStream_any_cFile_Soup stream;
  const uint8_t ones[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  const uint8_t twos[4] = {2, 2, 2, 2};
  stream.bindRecord(*a, first.dataPosition, a->infoSizeOfIndexBlock(first.dataPosition), kOverrun);
  {
    StreamScope scope(stream);
    stream.put(ones, 4);
    int32_t capacity = a->infoSizeOfIndexBlock(first.dataPosition);
    EXPECT_THROW(stream.put(ones, capacity), eException);
  }
  stream.bindRecord(*a, second.dataPosition, a->infoSizeOfIndexBlock(second.dataPosition), kOverrun);
  StreamScope scope(stream);
  stream.write(twos, 4);
  stream.flushWrites();
  uint8_t got[4] = {};
  a->readBytes(first.dataPosition, got, 4);
  EXPECT_EQ(got[0], 0);  // never flushed
  a->readBytes(second.dataPosition, got, 4);
  EXPECT_EQ(got[3], 2);
  t.finish();
}

// A kept record goes only into its owner's block, whole: another object's,
// or a size the block was not chosen by, raises and writes nothing.
TEST_F(SoupStreamTest, AKeptRecordIsPlacedOnlyAsItsOwners) {
  auto a = openOn("kept.soup");
  SoupTransaction t(*a);
  SoupIndexedBlock block = a->allocateIndexBlock(8, false);
  cRestoreStream_any_cFile_Soup stream;
  const uint8_t twos[4] = {2, 2, 2, 2};
  int owner = 0, other = 0;
  for (auto [placedFor, size] : {std::pair{&other, 4}, std::pair{&owner, 3}}) {
    stream.bindGather(kOverrun);
    {
      StreamScope scope(stream);
      stream.put(twos, 4);
    }
    EXPECT_EQ(stream.keepGathered(&owner), 4);
    EXPECT_THROW(stream.placeGathered(*a, block.dataPosition, 8, placedFor, size, kOverrun), eException);
    uint8_t got[4] = {};
    a->readBytes(block.dataPosition, got, 4);
    EXPECT_EQ(got[0], 0);
  }
  t.finish();
}

}  // namespace
}  // namespace bw
