// news/duplicate_chain_test.cpp - duplicate chains: the edge cases, a seeded
// model workload checked after every step and across reopens (with the
// chain ends walked over unloaded members), a change that fails half-way,
// and damaged chains that loop (short ones and one longer than a walk keeps
// in place).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <random>
#include <vector>

#include "news/news_item_glance.h"
#include "news/news_test_support.h"

namespace bw {
namespace {

class DuplicateChainTest : public testing_news::NewsTest {
 protected:
  // n stored items of one feed (kept loaded), not in its list.
  void makeItems(int n) {
    feed = makeFeed();
    for (int i = 0; i < n; ++i) items.push_back(item(addItem(feed, "i", false), feed));
  }
  void releaseAll() {
    for (newsItem* i : items) db->unloadObject(i);
    items.clear();
    db->unloadObject(feed);
  }
  int32_t at(size_t i) const { return items[i]->infoSoupIndex(); }
  void link(size_t i, size_t older, size_t newest) {
    items[i]->olderDuplicateItemIndex = older == kNone ? 0 : at(older);
    items[i]->newestDuplicateItemIndex = newest == kNone ? 0 : at(newest);
    db->saveChangesToObject(items[i]);
  }
  // The (older, newest) fields of every item, as indexes into items.
  std::vector<std::pair<size_t, size_t>> fields() {
    std::vector<std::pair<size_t, size_t>> out;
    auto position = [&](int32_t index) {
      for (size_t i = 0; i < items.size(); ++i) {
        if (at(i) == index) return i;
      }
      return index == 0 ? kNone : size_t{999};
    };
    for (newsItem* i : items) out.push_back({position(i->olderDuplicateItemIndex), position(i->newestDuplicateItemIndex)});
    return out;
  }

  static constexpr size_t kNone = size_t(-1);
  newsFeed* feed = nullptr;
  std::vector<newsItem*> items;
};

// Runs f, failing the whole program when it does not end in time (a walk
// that loops would otherwise hang the test run).
template <class F>
void withinSeconds(int seconds, F f) {
  auto done = std::async(std::launch::async, f);
  if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
    std::fprintf(stderr, "a chain walk did not end\n");
    std::_Exit(1);
  }
  done.get();
}

TEST_F(DuplicateChainTest, EdgeCases) {
  makeItems(3);
  constexpr size_t A = 0, B = 1, C = 2, N = kNone;
  EXPECT_EQ(items[A]->infoNewestDuplicateOrSelfIndex(*db, true), at(A));
  EXPECT_EQ(items[A]->infoNewestDuplicateOrSelfIndex(*db, false), 0);
  items[A]->addAsNewestDuplicate(*db, items[B]);
  items[A]->addAsNewestDuplicate(*db, items[C]);
  // Chain C, B, A.
  EXPECT_EQ(fields(), (std::vector<std::pair<size_t, size_t>>{{N, C}, {A, N}, {B, N}}));
  EXPECT_TRUE(items[C]->infoIsInDuplicateList(*db, items[A]));
  EXPECT_TRUE(items[A]->infoIsOldestDuplicate() && !items[B]->infoIsOldestDuplicate());
  items[C]->removeFromDuplicateList(*db);  // the newest: B becomes it
  EXPECT_EQ(items[A]->newestDuplicateItemIndex, at(B));
  EXPECT_FALSE(items[B]->infoIsInDuplicateList(*db, items[C]));
  items[B]->removeFromDuplicateList(*db);  // either of two: the chain dissolves
  EXPECT_FALSE(items[A]->infoIsDuplicate());

  link(B, N, N);
  link(C, N, N);
  items[A]->addAsOldestDuplicate(*db, items[B]);  // chain A, B
  DuplicateEnds ends = items[A]->infoOldestDuplicateItemIndex(*db);
  EXPECT_EQ(ends.oldest, at(B));
  EXPECT_EQ(ends.newest, at(A));
  ends = items[B]->infoOldestDuplicateItemIndex(*db);
  EXPECT_EQ(ends.oldest, at(B));
  EXPECT_EQ(ends.newest, at(A));
  items[A]->addAsOldestDuplicate(*db, items[C]);  // chain A, B, C
  items[C]->removeFromDuplicateList(*db);         // the oldest: B takes the newest link
  EXPECT_EQ(fields(), (std::vector<std::pair<size_t, size_t>>{{B, N}, {N, A}, {N, A}}));
  items[A]->removeFromDuplicateList(*db);
  EXPECT_FALSE(items[B]->infoIsDuplicate());
  releaseAll();
}

TEST_F(DuplicateChainTest, SeededOperationsKeepEveryChainSound) {
  constexpr int kItems = 50;
  makeItems(kItems);
  std::vector<std::vector<size_t>> chains;  // the model: newest first
  std::mt19937 rng(102);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  auto chainOf = [&](size_t i) -> std::vector<size_t>* {
    for (auto& c : chains) {
      if (std::find(c.begin(), c.end(), i) != c.end()) return &c;
    }
    return nullptr;
  };
  auto check = [&](int step) {
    std::vector<std::pair<size_t, size_t>> want(kItems, {kNone, kNone});
    for (auto& c : chains) {
      for (size_t k = 0; k + 1 < c.size(); ++k) want[c[k]].first = c[k + 1];
      want[c.back()].second = c.front();
    }
    ASSERT_EQ(fields(), want) << "step " << step;
  };
  for (int step = 0; step < 10000; ++step) {
    size_t x = pick(kItems), y = pick(kItems);
    std::vector<size_t>* cx = chainOf(x);
    int op = static_cast<int>(pick(3));
    if (op < 2 && x != y && !chainOf(y)) {
      if (op == 0) {
        items[x]->addAsNewestDuplicate(*db, items[y]);
        if (cx) cx->insert(cx->begin(), y);
        else chains.push_back({y, x});
      } else {
        items[x]->addAsOldestDuplicate(*db, items[y]);
        if (cx) cx->push_back(y);
        else chains.push_back({x, y});
      }
    } else if (op == 2 && cx) {
      items[x]->removeFromDuplicateList(*db);
      link(x, kNone, kNone);  // as the caller who keeps the item does
      cx->erase(std::find(cx->begin(), cx->end(), x));
      if (cx->size() == 1) chains.erase(chains.begin() + (cx - chains.data()));
    }
    check(step);
    if (HasFatalFailure()) break;
    if (step % 2000 == 1999) {
      std::vector<int32_t> indexes;
      for (size_t i = 0; i < kItems; ++i) indexes.push_back(at(i));
      int32_t feedIndex = feed->infoSoupIndex();
      releaseAll();
      reopen();
      feed = loadObject_newsFeed(*db, feedIndex);
      // Each item alone loaded: its walk reads every other member from the file.
      for (size_t i = 0; i < kItems; ++i) {
        HeldItem alone(*db, loadObject_newsItem2(*db, indexes[i], feed));
        const std::vector<size_t>* c = chainOf(i);
        const DuplicateEnds ends = alone->infoOldestDuplicateItemIndex(*db);
        ASSERT_EQ(ends.oldest, c ? indexes[c->back()] : 0) << "step " << step << " item " << i;
        ASSERT_EQ(ends.newest, c ? indexes[c->front()] : 0) << "step " << step << " item " << i;
      }
      for (int32_t index : indexes) items.push_back(item(index, feed));
      check(step);
    }
  }
  releaseAll();
}

// An item whose stores raise from the armed one on.
struct FailingItem : newsItem {
  int storesLeft = -1;
  void restore(cRestoreStreamBase& stream, bool storing, bool skipHeader) {
    if (storing && storesLeft >= 0 && storesLeft-- == 0) raise("FILE", "test; store failed");
    newsItem::restore(stream, storing, skipHeader);
  }
  void restore(cRestoreStreamBase& stream, bool storing) override { restore(stream, storing, false); }
};

TEST_F(DuplicateChainTest, AChangeThatFailsHalfWayLeavesTheStoredChain) {
  feed = makeFeed();
  std::vector<FailingItem*> made;
  for (int i = 0; i < 3; ++i) {
    auto* f = new FailingItem;
    f->feedIndex = feed->infoSoupIndex();
    f->setFeed(feed);
    db->createdObject(f);
    made.push_back(f);
  }
  made[0]->addAsNewestDuplicate(*db, made[1]);  // chain 1, 0
  int32_t i0 = made[0]->infoSoupIndex(), i1 = made[1]->infoSoupIndex(), i2 = made[2]->infoSoupIndex();
  // Adding 2 saves it, then fails saving the oldest (0): measure, write.
  made[0]->storesLeft = 0;
  expectRaise([&] { made[1]->addAsNewestDuplicate(*db, made[2]); }, "FILE", "test; store failed");
  EXPECT_TRUE(db->infoMustClose());
  int32_t feedIndex = feed->infoSoupIndex();
  reopen();  // frees every loaded object
  feed = loadObject_newsFeed(*db, feedIndex);
  for (int32_t index : {i0, i1, i2}) items.push_back(item(index, feed));
  EXPECT_EQ(fields(), (std::vector<std::pair<size_t, size_t>>{{kNone, 1}, {0, kNone}, {kNone, kNone}}));
  releaseAll();
}

TEST_F(DuplicateChainTest, WalksEndOnChainsThatLoop) {
  for (size_t n : {2, 3, 20}) {  // 20: past the walk's in-place indexes
    SCOPED_TRACE(n);
    makeItems(static_cast<int>(n) + 1);
    // Items 0..n-1 form a loop of older links; the last of them holds the
    // newest link back to 0; item n claims 0 as its older duplicate.
    for (size_t i = 0; i < n; ++i) link(i, (i + 1) % n, i + 1 == n ? 0 : kNone);
    link(n, 0, kNone);
    withinSeconds(20, [&] {
      DuplicateEnds ends = items[0]->infoOldestDuplicateItemIndex(*db);
      EXPECT_EQ(ends.oldest, at(n - 1));
      EXPECT_EQ(ends.newest, at(0));
      EXPECT_FALSE(items[0]->infoIsInDuplicateList(*db, items[n]));
      expectRaise([&] { items[n]->removeFromDuplicateList(*db); }, "BUG",
                  "newsItem.removeFromDuplicateList(); failed to find node in duplicate list");
    });
    link(n - 1, 0, kNone);  // no newest link anywhere
    withinSeconds(20, [&] {
      expectRaise([&] { items[1]->infoOldestDuplicateItemIndex(*db); }, "BUG",
                  "newsItem.infoOldestDuplicateItemIndex(); newestDuplicateIndex=0 (1)");
    });
    items[0]->olderDuplicateItemIndex = 999;  // a link to nothing
    db->saveChangesToObject(items[0]);
    expectRaise([&] { items[0]->infoOldestDuplicateItemIndex(*db); }, "BUG",
                "newsItem.infoOldestDuplicateItemIndex(); prevIndex=0");
    releaseAll();
  }
}

}  // namespace
}  // namespace bw
