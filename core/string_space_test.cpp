// Tests of the string spaces: the hash values, the three case modes, chains
// of keys sharing a hash, ownership of data, iteration order, and a
// differential run against std::unordered_map.
#include "core/string_space.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/counted_object_testing.h"
#include "core/exception.h"
#include "core/sweep_test_support.h"

namespace bw {
namespace {

using bw::testing::Tracked;

int valueOf(class_base* data) { return data ? static_cast<Tracked*>(data)->value : -999; }

class StringSpaceTest : public ::testing::Test {
 protected:
  void SetUp() override { Tracked::alive = 0; }
  void TearDown() override { EXPECT_EQ(Tracked::alive, 0); }
};

std::vector<std::string> keysInOrder(cStringSpace& s) {
  std::vector<std::string> keys;
  for (bool on = s.gotoFirst(); on; on = s.gotoNext()) keys.push_back(s.infoCurrent().key->str());
  return keys;
}

// Keys without a-z that share one hash, case-sensitive or not.
constexpr const char* kSameHash[] = {"K3097230", "K3584180", "K3685190", "K3990240"};

TEST(SuperFastHash, KnownValues) {
  EXPECT_EQ(superFastHash("abc", true), 0xC21AB46Au);
  EXPECT_EQ(superFastHash("abc", false), 0x247EAEE0u);
  EXPECT_EQ(superFastHash("ABC", true), 0x247EAEE0u);
  EXPECT_EQ(superFastHash("test string", true), 0xC6219AB7u);
  EXPECT_EQ(superFastHash("", true), 0u);
  // Only the bytes before a NUL count; only a-z fold.
  EXPECT_EQ(superFastHash(std::string_view("abc\0def", 7), true), 0xC21AB46Au);
  EXPECT_NE(superFastHash("\xE9", false), superFastHash("\xC9", false));
  for (const char* k : kSameHash) EXPECT_EQ(superFastHash(k, true), 0x704Eu) << k;
}

TEST_F(StringSpaceTest, CaseInsensitiveKeepsFirstSpelling) {
  cStringSpace s(true, cStringSpace::kCaseInsensitive);
  EXPECT_FALSE(s.set("News", new Tracked(1)).present);
  StringSpaceSet r = s.set("NEWS", new Tracked(2));
  EXPECT_TRUE(r.present);
  EXPECT_EQ(r.data, nullptr);
  EXPECT_EQ(Tracked::alive, 1);
  StringSpaceEntry e = s.get("news");
  EXPECT_EQ(valueOf(e.data), 2);
  EXPECT_EQ(*e.key, "News");
  r = s.set("nEwS", new Tracked(3), true);  // refused
  EXPECT_TRUE(r.present);
  EXPECT_EQ(valueOf(s.get("NEWS").data), 2);
  EXPECT_EQ(keysInOrder(s), std::vector<std::string>{"News"});
  EXPECT_TRUE(s.remove("NeWs"));
  EXPECT_EQ(s.get("News").data, nullptr);
}

TEST_F(StringSpaceTest, CaseChosenPerCall) {
  cStringSpace s(false, cStringSpace::kCaseChosenPerCall);
  Tracked a(1), b(2), c(3);
  s.set("News", &a);
  StringSpaceSet r = s.set("NEWS", &b);  // other spelling: first data and spelling stay
  EXPECT_EQ(r.data, &b);
  EXPECT_TRUE(r.present);
  StringSpaceEntry e = s.get("news", false, false);
  EXPECT_EQ(e.data, nullptr);
  EXPECT_EQ(e.key, nullptr);
  e = s.get("news", false, true);
  EXPECT_EQ(e.data, &a);
  EXPECT_EQ(*e.key, "News");
  r = s.set("News", &c);  // the exact spelling replaces
  EXPECT_EQ(r.data, &a);
  r = s.set("News", &a, true);
  EXPECT_EQ(r.data, &a);
  EXPECT_EQ(s.get("News").data, &c);
  EXPECT_FALSE(s.remove("NEWS"));
  EXPECT_TRUE(s.remove("NEWS", true));
  EXPECT_EQ(s.get("News").data, nullptr);
}

TEST_F(StringSpaceTest, CaseSensitiveKeysAreDistinct) {
  cStringSpace s(true, cStringSpace::kCaseSensitive);
  s.set("a", new Tracked(1));
  EXPECT_FALSE(s.set("A", new Tracked(2)).present);
  EXPECT_EQ(valueOf(s.get("a").data), 1);
  EXPECT_EQ(valueOf(s.get("A").data), 2);
  EXPECT_EQ(s.get("a", false, true).key->str(), "a");  // ignoreCase only counts in per-call mode
  EXPECT_EQ(s.infoCaseMode(), -1);
  EXPECT_TRUE(s.infoAutoDealloc());
}

TEST_F(StringSpaceTest, ChainsOfKeysSharingAHash) {
  for (int32_t mode : {cStringSpace::kCaseSensitive, cStringSpace::kCaseInsensitive}) {
    cStringSpace s(true, mode);
    for (int i = 0; i < 3; ++i) s.set(kSameHash[i], new Tracked(i));
    // Newest first in the chain.
    EXPECT_EQ(keysInOrder(s), (std::vector<std::string>{kSameHash[2], kSameHash[1], kSameHash[0]}));
    EXPECT_EQ(s.get(kSameHash[3]).data, nullptr);
    // Removing the first item leaves the others reachable.
    EXPECT_TRUE(s.remove(kSameHash[2]));
    EXPECT_EQ(valueOf(s.get(kSameHash[0]).data), 0);
    EXPECT_EQ(valueOf(s.get(kSameHash[1]).data), 1);
    // Removing from the middle and the end of a chain.
    s.set(kSameHash[3], new Tracked(3));
    class_base* taken = s.get(kSameHash[1], true).data;
    EXPECT_EQ(valueOf(taken), 1);
    delete taken;
    EXPECT_TRUE(s.remove(kSameHash[0]));
    EXPECT_EQ(keysInOrder(s), std::vector<std::string>{kSameHash[3]});
    // Removing the only item of a hash removes the hash from the index.
    EXPECT_TRUE(s.remove(kSameHash[3]));
    EXPECT_FALSE(s.gotoFirst());
    EXPECT_EQ(Tracked::alive, 0);
  }
}

TEST_F(StringSpaceTest, OwnershipOfData) {
  {
    cStringSpace s(true, cStringSpace::kCaseSensitive);
    s.set("k", new Tracked(1));
    StringSpaceSet r = s.set("k", new Tracked(2), true);  // the new one is deleted
    EXPECT_EQ(r.data, nullptr);
    EXPECT_TRUE(r.present);
    EXPECT_EQ(valueOf(s.get("k").data), 1);
    r = s.set("k", new Tracked(3));  // the old one is deleted
    EXPECT_EQ(r.data, nullptr);
    EXPECT_EQ(Tracked::alive, 1);
    // Setting the stored object again must not delete it.
    class_base* stored = s.get("k").data;
    s.set("k", stored);
    s.set("k", stored, true);
    EXPECT_EQ(Tracked::alive, 1);
    EXPECT_EQ(valueOf(s.get("k").data), 3);
    // get with remove hands the data over; the rest goes with the space.
    class_base* taken = s.get("k", true).data;
    EXPECT_EQ(Tracked::alive, 1);
    delete taken;
    for (int i = 0; i < 3000; ++i) s.set("key" + std::to_string(i), new Tracked(i));
    for (const char* k : kSameHash) s.set(k, new Tracked(0));
  }
  EXPECT_EQ(Tracked::alive, 0);
  // A space that does not own its data leaves it alone.
  Tracked kept(7);
  { cStringSpace s(false, 0); s.set("x", &kept); }
  EXPECT_EQ(kept.value, 7);
}

TEST_F(StringSpaceTest, BadArgumentsChangeNothing) {
  cStringSpace s(true, 0);
  s.set("x", new Tracked(1));
  try {
    s.set("x", nullptr);
    ADD_FAILURE();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "EMU");
    EXPECT_EQ(e.message(), "cStringSpace.set(); data=NIL");
  }
  Tracked local(2);
  try {
    s.set(nullptr, &local);
    ADD_FAILURE();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "EMU");
    EXPECT_EQ(e.message(), "cStringSpace.set(); key=NIL");
  }
  EXPECT_EQ(valueOf(s.get("x").data), 1);
  EXPECT_EQ(s.get(nullptr).data, nullptr);
  EXPECT_FALSE(s.remove(nullptr));
  EXPECT_EQ(keysInOrder(s), std::vector<std::string>{"x"});
}

// The key is a copy, taken up to the first NUL; an empty key is a key.
TEST_F(StringSpaceTest, KeysAreCopiesUpToTheNul) {
  cStringSpace s(true, -1);
  std::string key = "feed";
  s.set(key, new Tracked(1));
  key = "gone";
  EXPECT_EQ(valueOf(s.get("feed").data), 1);
  EXPECT_EQ(valueOf(s.get(std::string_view("feed\0x", 6)).data), 1);
  s.set("", new Tracked(2));
  EXPECT_EQ(valueOf(s.get("").data), 2);
}

// Iteration follows the index: buckets high to low, each chain newest
// first; removing the current entry advances past it.
TEST_F(StringSpaceTest, IterationOrderAndRemovalWhileIterating) {
  cStringSpace s(true, -1);
  std::vector<std::string> keys;
  for (int i = 0; i < 500; ++i) keys.push_back("tag" + std::to_string(i));
  for (const char* k : kSameHash) keys.push_back(k);
  for (size_t i = 0; i < keys.size(); ++i) s.set(keys[i], new Tracked(static_cast<int>(i)));
  // The order matches a number space holding the same hashes in the same way.
  cNumberSpace_VALUE_cnumberspace shadow;
  for (const std::string& k : keys) {
    intptr_t h = static_cast<int32_t>(superFastHash(k, true));
    shadow.get(h);
    shadow.get(h, true);
    shadow.set(h, 1);
  }
  std::vector<std::string> expected;
  for (bool on = shadow.gotoFirst(); on; on = shadow.gotoNext()) {
    std::vector<std::string> chain;
    for (const std::string& k : keys) {
      if (static_cast<int32_t>(superFastHash(k, true)) == shadow.infoCurrent().key) chain.insert(chain.begin(), k);
    }
    expected.insert(expected.end(), chain.begin(), chain.end());
  }
  EXPECT_EQ(keysInOrder(s), expected);

  // Removing the current entry advances past it. While the index is still
  // rehashing, each lookup may move an entry behind the iteration, so a pass
  // can miss entries, but it never meets one twice.
  std::unordered_set<std::string> visited;
  int passes = 0;
  while (s.gotoFirst()) {
    ++passes;
    for (bool on = true; on;) {
      std::string k = s.infoCurrent().key->str();
      EXPECT_TRUE(visited.insert(k).second) << k;
      EXPECT_TRUE(s.remove(k));
      on = s.infoCurrent().data != nullptr;
    }
  }
  EXPECT_EQ(visited.size(), keys.size());
  EXPECT_LE(passes, 2);
}

TEST_F(StringSpaceTest, RemovingEveryEntryWhileIteratingVisitsEachOnce) {
  cStringSpace s(true, 0);  // 300 hashes: no growth of the index
  for (int i = 0; i < 300; ++i) s.set("Tag" + std::to_string(i), new Tracked(i));
  int visited = 0;
  for (bool on = s.gotoFirst(); on; ++visited) {
    EXPECT_TRUE(s.remove(*s.infoCurrent().key));
    on = s.infoCurrent().data != nullptr;
  }
  EXPECT_EQ(visited, 300);
  EXPECT_FALSE(s.gotoFirst());
}

// A seeded run of mixed operations against std::unordered_map, case-sensitive
// and case-insensitive (the oracle keys by the upper-cased spelling and
// remembers the first one).
struct Value : class_base {
  explicit Value(int v) : v(v) {}
  int v;
};

void runDifferential(int32_t mode, int ops) {
  struct Stored {
    Value* value;
    std::string spelling;
  };
  // Key texts, made once: the run widens its key range as it goes.
  std::vector<std::string> names;
  for (int i = 0; i < 64 + ops / 8; ++i) names.push_back("k" + std::to_string(i));
  {
    std::mt19937_64 rng(77 + static_cast<uint64_t>(mode));
    cStringSpace s(false, mode);
    std::unordered_map<std::string, Stored> oracle;
    std::vector<std::unique_ptr<Value>> pool;
    for (int i = 0; i < 1000; ++i) pool.push_back(std::make_unique<Value>(i));
    auto fold = [&](std::string k) {
      if (mode != cStringSpace::kCaseSensitive)
        for (char& c : k) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
      return k;
    };
    auto checkIteration = [&] {
      std::unordered_set<std::string> seen;
      for (bool on = s.gotoFirst(); on; on = s.gotoNext()) {
        StringSpaceEntry e = s.infoCurrent();
        ASSERT_TRUE(seen.insert(e.key->str()).second) << "seen twice: " << e.key->str();
        auto it = oracle.find(fold(e.key->str()));
        ASSERT_NE(it, oracle.end()) << e.key->str();
        ASSERT_EQ(e.data, it->second.value);
        ASSERT_EQ(it->second.spelling, e.key->str());
      }
      ASSERT_EQ(seen.size(), oracle.size());
    };
    for (int i = 0; i < ops; ++i) {
      uint64_t range = 64 + static_cast<uint64_t>(i) / 8;
      std::string key = names[rng() % range];
      if (rng() % 4 == 0) key[0] = 'K';
      if (rng() % 64 == 0) key = kSameHash[rng() % 4];
      std::string folded = fold(key);
      auto it = oracle.find(folded);
      unsigned op = static_cast<unsigned>(rng() % 10);
      if (op < 5) {
        Value* v = pool[rng() % pool.size()].get();
        bool keepOld = op == 0;
        StringSpaceSet r = s.set(key, v, keepOld);
        ASSERT_EQ(r.present, it != oracle.end());
        if (it == oracle.end()) {
          ASSERT_EQ(r.data, nullptr);
          oracle.emplace(folded, Stored{v, key});
        } else {
          ASSERT_EQ(r.data, keepOld ? v : it->second.value);
          if (!keepOld) it->second.value = v;
        }
      } else if (op < 8) {
        StringSpaceEntry e = s.get(key);
        ASSERT_EQ(e.data, it == oracle.end() ? nullptr : it->second.value) << key;
        if (e.key) {
          ASSERT_EQ(*e.key, it->second.spelling);
        }
      } else {
        bool present = it != oracle.end();
        if (op == 8) {
          ASSERT_EQ(s.get(key, true).data, present ? it->second.value : nullptr);
        } else {
          ASSERT_EQ(s.remove(key), present);
        }
        if (present) oracle.erase(it);
      }
      if (i % 100'000 == 0) {
        checkIteration();
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
    checkIteration();
  }
}

// 300,000 operations; a million with BRINDLEWORK_FULL_SWEEPS=1.
TEST(StringSpaceDifferential, MixedOperationsCaseSensitive) {
  runDifferential(cStringSpace::kCaseSensitive, testing::sweepCount(nullptr, 300'000, 1'000'000));
}

TEST(StringSpaceDifferential, MixedOperationsWithoutCase) { runDifferential(cStringSpace::kCaseInsensitive, 300'000); }

}  // namespace
}  // namespace bw
