// Tests of the node rings and their shared views.
#include "core/mini_list.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/exception.h"

namespace bw {
namespace {

std::vector<int32_t> values(const cMiniList& list) {
  std::vector<int32_t> out;
  for (MiniNode* n = list.infoStart(); n != list.infoPastEnd(); n = n->next) out.push_back(list.getData(n));
  return out;
}

// A list of the given values, appended in order.
void fill(cMiniList& list, std::vector<int32_t> items) {
  for (int32_t v : items) list.node_beforeInsert(list.infoPastEnd(), list.makeFloating(v));
}

// Counts the nodes destroyed by its views.
int destroyed = 0;
class CountingList : public cMiniList {
 public:
  ~CountingList() override { endView(); }
  void destroyNode(MiniNode* node) override {
    ++destroyed;
    cMiniList::destroyNode(node);
  }
  std::unique_ptr<cMiniListGeneric> makeList() override { return std::make_unique<CountingList>(); }
};

TEST(MiniListTest, NewListAndSteps) {
  cMiniList list;
  list.init(nullptr);
  EXPECT_TRUE(list.isEmpty());
  EXPECT_EQ(list.getData(list.infoPastEnd()), 0);
  fill(list, {1, 2, 3});
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3}));
  MiniNode* last = list.infoPastEnd()->prev;
  NodeStep step = list.infoNext(last);
  EXPECT_EQ(step.node, list.infoPastEnd());
  EXPECT_TRUE(step.pastEnd);
  EXPECT_FALSE(list.infoNext(list.infoStart()).pastEnd);
  EXPECT_TRUE(list.infoPrev(list.infoStart()).pastEnd);
}

TEST(MiniListTest, InitWithLongerChainHoldsTheOtherNodes) {
  cMiniList list;
  MiniValueNode* pastEnd = list.makeFloating(9);
  list.node_afterInsert(pastEnd, list.makeFloating(1));  // before init: plain relink
  list.node_afterInsert(pastEnd->next, list.makeFloating(2));
  list.init(pastEnd);
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2}));
}

TEST(MiniListTest, RemoveRange) {
  cMiniList list;
  list.init(nullptr);
  fill(list, {1, 2, 3, 4});
  MiniNode* first = list.infoStart();
  MiniNode* second = first->next;
  // Nothing for an empty range.
  EXPECT_EQ(list.removeRange(second, second), nullptr);
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3, 4}));
  // One node, as a floating chain of one; the start moves on; the anchor
  // (the past-end node) is untouched.
  MiniNode* one = list.removeRange(first, nullptr);
  EXPECT_EQ(one, first);
  EXPECT_EQ(one->next, one);
  EXPECT_EQ(one->prev, one);
  EXPECT_EQ(list.infoStart(), second);
  EXPECT_EQ(values(list), (std::vector<int32_t>{2, 3, 4}));
  list.destroyFloating(one);
  // A range of two closes into a chain of two.
  MiniNode* chain = list.removeRange(second, list.infoPastEnd()->prev);
  EXPECT_EQ(list.getData(chain), 2);
  EXPECT_EQ(list.getData(chain->next), 3);
  EXPECT_EQ(chain->next->next, chain);
  EXPECT_EQ(values(list), (std::vector<int32_t>{4}));
  list.destroyFloating(chain);
  // An empty range destroys nothing; null first does nothing.
  list.destroyRange(list.infoStart(), list.infoStart());
  list.destroyRange(nullptr, nullptr);
  EXPECT_EQ(values(list), (std::vector<int32_t>{4}));
}

TEST(MiniListTest, RemovingTheAnchorMovesIt) {
  cMiniList list;
  list.init(nullptr);
  fill(list, {1, 2});
  MiniNode* anchor = list.infoRoot()->anchor();
  ASSERT_EQ(anchor, list.infoPastEnd());
  auto view = list.shareRange(list.infoStart(), list.infoStart()->next);
  MiniNode* after = anchor->next;
  view->destroyFloating(view->removeRange(anchor, nullptr));  // the other view's past-end
  EXPECT_EQ(list.infoRoot()->anchor(), after);
}

TEST(MiniListTest, RemovingARangeAroundTheAnchorKeepsItInTheRing) {
  destroyed = 0;
  {
    CountingList list;
    list.init(nullptr);
    fill(list, {1, 2});
    MiniNode* anchor = list.infoRoot()->anchor();
    // The anchor (the first past-end node) becomes an element.
    MiniValueNode* chain = list.makeFloating(3);
    list.node_afterInsert(chain, list.makeFloating(4));
    list.node_afterInsert(anchor, chain);
    EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 0, 3}));
    // Remove [2, 3): the anchor stands inside the range, not first.
    MiniNode* two = list.infoStart()->next;
    list.destroyRange(two, chain);
    EXPECT_EQ(list.infoRoot()->anchor(), chain);
    EXPECT_EQ(values(list), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(destroyed, 2);
  }
  EXPECT_EQ(destroyed, 5);  // the rest of the ring, once each
}

TEST(MiniListTest, InsertsBeforeStartAndAfterPastEnd) {
  cMiniList list;
  list.init(nullptr);
  fill(list, {5});
  list.node_beforeInsert(list.infoStart(), list.makeFloating(4));
  EXPECT_EQ(values(list), (std::vector<int32_t>{4, 5}));
  // A chain of three after the past-end node: the old past-end node (0) and
  // the first two become elements, the third the new past-end node.
  MiniValueNode* chain = list.makeFloating(7);
  list.node_afterInsert(chain, list.makeFloating(8));
  list.node_afterInsert(chain->next, list.makeFloating(9));
  MiniNode* oldPastEnd = list.infoPastEnd();
  EXPECT_EQ(list.node_afterInsert(oldPastEnd, chain), chain);
  EXPECT_EQ(values(list), (std::vector<int32_t>{4, 5, 0, 7, 8}));
  EXPECT_EQ(list.getData(list.infoPastEnd()), 9);
  EXPECT_EQ(list.node_beforeInsert(list.infoStart(), nullptr), nullptr);
}

TEST(MiniListTest, UnclosedChainRaisesAndChangesNothing) {
  cMiniList list;
  list.init(nullptr);
  fill(list, {1});
  MiniValueNode* a = list.makeFloating(2);
  MiniValueNode* b = list.makeFloating(3);
  a->prev = b;  // b->next is b, not a
  try {
    list.node_beforeInsert(list.infoStart(), a);
    FAIL();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "BUG");
    EXPECT_EQ(e.message(), "cMiniListGeneric.node_beforeInsert(); ownedStart<>start");
  }
  try {
    list.node_afterInsert(list.infoStart(), a);
    FAIL();
  } catch (const eException& e) {
    EXPECT_EQ(e.message(), "cMiniListGeneric.node_afterInsert(); ownedStart<>start");
  }
  EXPECT_EQ(values(list), (std::vector<int32_t>{1}));
  a->prev = a;
  list.destroyFloating(a);
  list.destroyFloating(b);
}

TEST(MiniListTest, SharingViewsAndTheLastViewDestroysAll) {
  destroyed = 0;
  {
    auto list = std::make_unique<CountingList>();
    list->init(nullptr);
    fill(*list, {1, 2, 3});
    auto shared = list->share();
    EXPECT_FALSE(list->infoRoot()->hasOneView());
    list.reset();
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(values(*shared), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_TRUE(shared->infoRoot()->hasOneView());
  }
  EXPECT_EQ(destroyed, 4);  // the past-end node too
}

TEST(MiniListTest, CloneOfPartCopiesThatPart) {
  cMiniList list;
  list.init(nullptr);
  fill(list, {1, 2, 3, 4});
  MiniNode* second = list.infoStart()->next;
  auto part = list.shareRange(second, second->next->next);  // [2, 3) past-end 4
  EXPECT_EQ(values(*part), (std::vector<int32_t>{2, 3}));
  auto copy = part->clone();
  EXPECT_EQ(values(*copy), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(copy->getData(copy->infoPastEnd()), 4);
  EXPECT_NE(copy->infoStart(), second);
  EXPECT_EQ(copy->infoPastEnd()->next, copy->infoStart());  // a ring of its own
  copy->setData(copy->infoStart(), 20, false);
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_TRUE(copy->infoRoot()->hasOneView());
  // Isolating the only view of a ring does nothing.
  MiniNode* start = copy->infoStart();
  copy->isolateFromSharing();
  EXPECT_EQ(copy->infoStart(), start);
}

TEST(MiniListTest, SetDataReturnsOldOnlyWhenAsked) {
  cMiniList list;
  list.init(nullptr);
  fill(list, {1});
  EXPECT_EQ(list.setData(list.infoStart(), 2, true), 1);
  EXPECT_EQ(list.setData(list.infoStart(), 3, false), 0);
  EXPECT_EQ(list.getData(list.infoStart()), 3);
}

}  // namespace
}  // namespace bw
