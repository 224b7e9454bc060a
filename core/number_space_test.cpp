// Tests of the number spaces: growth and incremental rehash, iteration
// order, ownership of data, and a differential run against std::unordered_map.
#include "core/number_space.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/counted_object_testing.h"
#include "core/exception.h"

namespace bw {
namespace {

using bw::testing::Tracked;

class NumberSpaceTest : public ::testing::Test {
 protected:
  void SetUp() override { Tracked::alive = 0; }
  void TearDown() override { EXPECT_EQ(Tracked::alive, 0); }
};

std::vector<intptr_t> keysInOrder(cNumberSpace_VALUE_cnumberspace& s) {
  std::vector<intptr_t> keys;
  for (bool on = s.gotoFirst(); on; on = s.gotoNext()) keys.push_back(s.infoCurrent().key);
  return keys;
}

void expectRaises(const char* code, const char* message, auto&& call) {
  try {
    call();
    ADD_FAILURE() << "no exception";
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), code);
    EXPECT_EQ(e.message(), message);
  }
}

TEST(NumberSpacePrimes, TableAndStart) {
  EXPECT_EQ(kNumberSpacePrimes[5], 0u);
  EXPECT_EQ(kNumberSpacePrimes[6], 53u);
  EXPECT_EQ(kNumberSpacePrimes[30], 805306457u);
  for (int p = 6; p <= 30; ++p) {
    EXPECT_GT(kNumberSpacePrimes[p], 1u << (p - 1)) << p;
    EXPECT_LT(kNumberSpacePrimes[p], 1ull << p) << p;
  }
  cNumberSpace s(false);
  EXPECT_EQ(s.infoPower(), 8);
  EXPECT_EQ(s.infoBucketCount(), 193u);
}

TEST(NumberSpaceClasses, NamesAndFamilies) {
  cNumberSpace_VALUE v;
  EXPECT_STREQ(v.className(), "cNumberSpace_VALUE");
  EXPECT_TRUE(v.isOfClass(cNumberSpace::kClassName));
  EXPECT_FALSE(v.infoAutoDealloc());
  numberSpace_VALUE nv;
  EXPECT_TRUE(nv.isOfClass(cNumberSpace_VALUE_cnumberspace::kClassName));
  EXPECT_TRUE(nv.isOfClass(cNumberSpace_cnumberspace::kClassName));
  EXPECT_FALSE(nv.isOfClass(cNumberSpace::kClassName));
  numberSpace n(true);
  EXPECT_TRUE(n.infoAutoDealloc());
  EXPECT_STREQ(n.className(), "numberSpace");
}

TEST(NumberSpaceGrowth, GrowsAtTwiceTheBucketsAndDrainsOneEntryPerCall) {
  cNumberSpace_VALUE_cnumberspace s;
  for (intptr_t k = 1; k <= 386; ++k) s.set(k, k * 10);
  EXPECT_EQ(s.infoPower(), 8);
  EXPECT_EQ(s.infoOldCount(), 0u);
  s.set(387, 3870);  // count 386 = 2 x 193 reached
  EXPECT_EQ(s.infoPower(), 10);
  EXPECT_EQ(s.infoBucketCount(), 769u);
  EXPECT_EQ(s.infoOldCount(), 386u);
  // Every further set or get moves exactly one entry, touched or not.
  for (int i = 1; i <= 386; ++i) {
    if (i % 3 == 0) {
      s.set(1000 + i, 1);
    } else {
      EXPECT_EQ(s.get(i % 2 ? i : -5), i % 2 ? i * 10 : 0);
    }
    EXPECT_EQ(s.infoOldCount(), 386u - static_cast<size_t>(i));
  }
  EXPECT_EQ(s.infoCount(), 387u + 128u);
  for (intptr_t k = 1; k <= 387; ++k) EXPECT_EQ(s.get(k), k * 10) << k;
  // No second growth while an old table remains; the next comes at 2 x 769.
  while (s.infoCount() < 2 * 769) s.set(static_cast<intptr_t>(5000 + s.infoCount()), 1);
  EXPECT_EQ(s.infoPower(), 10);
  s.set(99999, 1);
  EXPECT_EQ(s.infoPower(), 12);
}

TEST(NumberSpaceKeys, NegativeAndWideKeysStayDistinct) {
  cNumberSpace_VALUE_cnumberspace s;
  s.set(-1, 11);
  s.set(2147483647, 22);  // same bucket as -1: low 31 bits are equal
  EXPECT_EQ(s.get(-1), 11);
  EXPECT_EQ(s.get(2147483647), 22);
  // One chain, newest first, in the bucket 2147483647 mod 193.
  EXPECT_EQ(keysInOrder(s), (std::vector<intptr_t>{2147483647, -1}));
  // Object references differing only above bit 31 are different keys.
  intptr_t low = 0x1234560;
  intptr_t high = low + (intptr_t{1} << 40);
  s.set(low, 1);
  s.set(high, 2);
  EXPECT_EQ(s.get(low), 1);
  EXPECT_EQ(s.get(high), 2);
  EXPECT_TRUE(s.remove(high));
  EXPECT_EQ(s.get(high), 0);
  EXPECT_EQ(s.get(low), 1);
}

TEST(NumberSpaceIteration, BucketsHighToLowChainsNewestFirstThenOldTable) {
  cNumberSpace_VALUE_cnumberspace s;
  EXPECT_FALSE(s.gotoFirst());
  EXPECT_EQ(s.infoCurrent().data, 0);
  for (intptr_t k : {3, 1, 194, 5, 192}) s.set(k, k + 1000);
  // Buckets 192, 5, 3, 1 (holding 194 then 1).
  EXPECT_EQ(keysInOrder(s), (std::vector<intptr_t>{192, 5, 3, 194, 1}));
  EXPECT_FALSE(s.gotoNext());

  // During a rehash: the current table first, then what is left in the old.
  cNumberSpace_VALUE_cnumberspace g;
  for (intptr_t k = 0; k < 387; ++k) g.set(k, k + 1);
  // 386 went to bucket 386 of the new table; the old table's bucket b holds
  // b + 193 and then b.
  EXPECT_EQ(g.get(192), 193);  // moves 192 to bucket 192 of the new table
  std::vector<intptr_t> expected = {386, 192, 385};
  for (intptr_t b = 191; b >= 0; --b) {
    expected.push_back(b + 193);
    expected.push_back(b);
  }
  EXPECT_EQ(keysInOrder(g), expected);
}

TEST(NumberSpaceIteration, CurrentTableEmptiedWhileOldTableHoldsEntries) {
  cNumberSpace_VALUE_cnumberspace s;
  for (intptr_t k = 0; k < 387; ++k) s.set(k, k + 1);
  s.get(7);  // moves 7 into the new table beside 386
  EXPECT_TRUE(s.remove(386));
  EXPECT_TRUE(s.remove(7));
  EXPECT_EQ(s.infoOldCount(), 385u);
  std::vector<intptr_t> keys = keysInOrder(s);
  EXPECT_EQ(keys.size(), 385u);
  EXPECT_EQ(keys.front(), 385);
  EXPECT_EQ(keys.back(), 0);
}

TEST(NumberSpaceIteration, RemovingTheCurrentEntryAdvancesFirst) {
  cNumberSpace_VALUE_cnumberspace s;
  for (intptr_t k = 1; k <= 1000; ++k) s.set(k, k);
  std::unordered_set<intptr_t> seen;
  for (bool on = s.gotoFirst(); on;) {
    intptr_t key = s.infoCurrent().key;
    EXPECT_TRUE(seen.insert(key).second) << key;
    EXPECT_EQ(s.get(key, true), key);  // advances the iteration
    on = s.infoCurrent().data != 0;
  }
  EXPECT_EQ(seen.size(), 1000u);
  EXPECT_EQ(s.infoCount(), 0u);
}

TEST(NumberSpaceIteration, SurvivesTheOldTableBeingFreedUnderIt) {
  cNumberSpace_VALUE_cnumberspace s;
  for (intptr_t k = 0; k < 387; ++k) s.set(k, k + 1);
  ASSERT_TRUE(s.gotoFirst());
  ASSERT_TRUE(s.gotoNext());  // now in the old table
  for (intptr_t k = 0; k < 400; ++k) s.get(k);  // drains and frees it
  EXPECT_EQ(s.infoOldCount(), 0u);
  int steps = 0;
  while (s.gotoNext()) ++steps;
  EXPECT_LE(steps, 387);
}

// Sets that grow the space during an iteration, and gets that drain and free
// the old table it then walks, leave the iteration safe and finite.
TEST(NumberSpaceIteration, SurvivesGrowthUnderIt) {
  cNumberSpace_VALUE_cnumberspace s;
  for (intptr_t k = 0; k < 386; ++k) s.set(k, k + 1);
  ASSERT_TRUE(s.gotoFirst());
  s.set(1000, 1);  // grows: the iteration now walks the old table
  EXPECT_EQ(s.infoPower(), 10);
  int steps = 0;
  for (intptr_t k = 2000; s.gotoNext(); ++k) {
    s.set(k, 1);
    ASSERT_LT(++steps, 1000);
  }
  EXPECT_EQ(s.infoCount(), 387u + static_cast<size_t>(steps));
  for (intptr_t k = 0; k < 386; ++k) EXPECT_EQ(s.get(k), k + 1);
  EXPECT_EQ(s.infoOldCount(), 0u);
}

TEST_F(NumberSpaceTest, OwningSpaceDeletesWhatItDisplacesRemovesAndHolds) {
  cNumberSpace_cnumberspace s(true);
  auto* a = new Tracked(1);
  NumberSpaceSet<class_base*> r = s.set(5, a);
  EXPECT_EQ(r.data, nullptr);
  EXPECT_FALSE(r.present);
  // keepOld: the stored object stays, the new one is deleted, NIL returned.
  r = s.set(5, new Tracked(2), true);
  EXPECT_EQ(r.data, nullptr);
  EXPECT_TRUE(r.present);
  EXPECT_EQ(Tracked::alive, 1);
  EXPECT_EQ(s.get(5), a);
  // Replacing deletes the previous object.
  r = s.set(5, new Tracked(3));
  EXPECT_TRUE(r.present);
  EXPECT_EQ(Tracked::alive, 1);
  EXPECT_EQ(static_cast<Tracked*>(s.get(5))->value, 3);
  // get with remove hands the object over undeleted; remove deletes.
  class_base* taken = s.get(5, true);
  EXPECT_EQ(Tracked::alive, 1);
  delete taken;
  s.set(6, new Tracked(6));
  EXPECT_TRUE(s.remove(6));
  EXPECT_FALSE(s.remove(6));
  EXPECT_EQ(Tracked::alive, 0);
  // A space that grew several times deletes everything it holds, in both
  // tables, when destroyed.
  {
    cNumberSpace grown(true);
    for (int k = 0; k < 6200; ++k) grown.set(k, new Tracked(k));
    EXPECT_GT(grown.infoOldCount(), 0u);
    EXPECT_EQ(grown.infoPower(), 14);
  }
  EXPECT_EQ(Tracked::alive, 0);
}

TEST_F(NumberSpaceTest, NonOwningSpaceHandsBackWhatDidNotStay) {
  cNumberSpace s(false);
  Tracked a(1), b(2);
  EXPECT_EQ(s.set(1, &a).data, nullptr);
  NumberSpaceSet<class_base*> r = s.set(1, &b, true);
  EXPECT_EQ(r.data, &b);
  EXPECT_TRUE(r.present);
  r = s.set(1, &b);
  EXPECT_EQ(r.data, &a);
  EXPECT_TRUE(r.present);
}

// Storing the object already stored under the key must not delete it.
TEST_F(NumberSpaceTest, SettingTheStoredObjectAgainKeepsItAlive) {
  cNumberSpace_cnumberspace s(true);
  auto* a = new Tracked(1);
  s.set(1, a);
  for (bool keepOld : {false, true}) {
    NumberSpaceSet<class_base*> r = s.set(1, a, keepOld);
    EXPECT_EQ(r.data, nullptr);
    EXPECT_TRUE(r.present);
    EXPECT_EQ(Tracked::alive, 1);
    EXPECT_EQ(s.get(1), a);
  }
}

TEST_F(NumberSpaceTest, NilDataIsRefusedAndChangesNothing) {
  cNumberSpace_cnumberspace s(true);
  s.set(1, new Tracked(1));
  expectRaises("EMU", "cNumberSpace.set(); data=NIL", [&] { s.set(1, nullptr); });
  expectRaises("EMU", "cNumberSpace.set(); data=NIL", [&] { s.set(2, nullptr); });
  cNumberSpace_VALUE v;
  expectRaises("EMU", "cNumberSpace.set(); data=NIL", [&] { v.set(2, 0); });
  EXPECT_EQ(s.infoCount(), 1u);
  EXPECT_EQ(v.infoCount(), 0u);
  EXPECT_NE(s.get(1), nullptr);
}

// A seeded run of mixed operations against std::unordered_map. The key range
// widens over time so that the space grows repeatedly, and removals and
// lookups keep hitting entries that still wait in an old table.
TEST(NumberSpaceDifferential, MillionMixedOperationsMatchUnorderedMap) {
  std::mt19937_64 rng(20261207);
  cNumberSpace_VALUE_cnumberspace s;
  std::unordered_map<intptr_t, intptr_t> oracle;
  size_t removalsDuringRehash = 0;
  size_t iterationsDuringRehash = 0;
  auto checkIteration = [&] {
    std::unordered_set<intptr_t> seen;
    for (bool on = s.gotoFirst(); on; on = s.gotoNext()) {
      NumberSpaceEntry<intptr_t> e = s.infoCurrent();
      ASSERT_TRUE(seen.insert(e.key).second) << "seen twice: " << e.key;
      auto it = oracle.find(e.key);
      ASSERT_NE(it, oracle.end()) << "not in oracle: " << e.key;
      ASSERT_EQ(e.data, it->second);
    }
    ASSERT_EQ(seen.size(), oracle.size());
  };
  const int kOps = 1'000'000;
  for (int i = 0; i < kOps; ++i) {
    // Keys: mostly small (32-bit behaviour, negatives too), some pointer-wide.
    intptr_t range = 64 + i / 8;
    intptr_t key = static_cast<intptr_t>(rng() % static_cast<uint64_t>(range)) - range / 8;
    if (rng() % 16 == 0) key += intptr_t{1} << 36;
    unsigned op = static_cast<unsigned>(rng() % 10);
    bool rehashing = s.infoOldCount() > 0;
    if (op < 5) {
      intptr_t value = static_cast<intptr_t>(rng() % 1000) + 1;
      bool keepOld = op == 0;
      auto it = oracle.find(key);
      NumberSpaceSet<intptr_t> r = s.set(key, value, keepOld);
      if (it == oracle.end()) {
        ASSERT_EQ(r.data, 0);
        ASSERT_FALSE(r.present);
        oracle.emplace(key, value);
      } else {
        ASSERT_TRUE(r.present);
        ASSERT_EQ(r.data, keepOld ? value : it->second);
        if (!keepOld) it->second = value;
      }
    } else if (op < 8) {
      auto it = oracle.find(key);
      ASSERT_EQ(s.get(key), it == oracle.end() ? 0 : it->second) << "op " << i;
    } else {
      auto it = oracle.find(key);
      bool present = it != oracle.end();
      if (present && rehashing) ++removalsDuringRehash;
      if (op == 8) {
        ASSERT_EQ(s.get(key, true), present ? it->second : 0);
      } else {
        ASSERT_EQ(s.remove(key), present);
      }
      if (present) oracle.erase(it);
    }
    ASSERT_EQ(s.infoCount(), oracle.size());
    if (i % 50'000 == 0 || (s.infoOldCount() > 0 && rng() % 4096 == 0)) {
      if (s.infoOldCount() > 0) ++iterationsDuringRehash;
      checkIteration();
      if (HasFatalFailure()) return;
    }
  }
  checkIteration();
  EXPECT_GT(s.infoPower(), 12);
  EXPECT_GT(removalsDuringRehash, 1000u);
  EXPECT_GT(iterationsDuringRehash, 5u);
}

}  // namespace
}  // namespace bw
