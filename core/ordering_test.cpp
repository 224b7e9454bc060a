// Tests of the orderings, the list sort, sorted search and insert, and
// mergeSortStrings.
#include "core/ordering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/exception.h"
#include "core/mega_list_family.h"
#include "core/module_registry.h"
#include "core/sort_strings.h"

namespace bw {
namespace {

// The shared orderings live for the whole test program.
class ListModules : public ::testing::Environment {
 public:
  void SetUp() override {
    registry_.add({"megaListBase", initMegaListBaseModule, endMegaListBaseModule});
    registry_.add({"megaListString", initMegaListStringModule, endMegaListStringModule});
    registry_.add({"megaList", initMegaListModule, endMegaListModule});
    registry_.initAll();
  }
  void TearDown() override { registry_.endAll(); }

 private:
  ModuleRegistry registry_;
};
const auto* const kListModules = ::testing::AddGlobalTestEnvironment(new ListModules);

template <class List>
auto values(const List& list) {
  using V = std::decay_t<decltype(list.infoStart()->getData())>;
  std::vector<V> out;
  auto c = list.infoStart()->clone(0, 0);
  while (!c->isSameNode(*list.infoPastEnd())) {
    out.push_back(c->getData());
    c->gotoNext();
  }
  return out;
}

template <class List, class V>
void append(List& list, const std::vector<V>& items) {
  for (const V& v : items) list.infoPastEnd()->beforeInsert(list.makeFloating(v));
}

std::vector<std::string> texts(const cMegaList_STRING& list) {
  std::vector<std::string> out;
  for (const Str& s : values(list)) out.push_back(s.str());
  return out;
}

StrChain chainOf(std::vector<const char*> items) {
  StrChain chain;
  for (const char* s : items) chain.emplace_back(s);
  return chain;
}

std::vector<std::string> textsOf(const StrChain& chain) {
  std::vector<std::string> out;
  for (const Str& s : chain) out.push_back(s.str());
  return out;
}

TEST(OrderingTest, SharedInstancesExistWhileTheModulesRun) {
  ASSERT_NE(gCompareMegaNodes, nullptr);
  EXPECT_STREQ(gCompareMegaNodes_STRING->className(), "fCompareMegaNodes_STRING");
  EXPECT_STREQ(gCompareMegaNodes_STRING_NoCase->className(), "fCompareMegaNodes_STRING_NoCase");
  EXPECT_STREQ(gCompareMegaNodes_match->className(), "fCompareMegaNodes_match");
  EXPECT_TRUE(gMergeSort_Numeric->isOfClass(fMergeSortCompare::kClassName));
  EXPECT_NE(gMergeSortCompare, nullptr);
}

TEST(OrderingTest, NumbersByTheWrappingDifference) {
  EXPECT_EQ(compareWrapping(1, 2), 1);
  EXPECT_EQ(compareWrapping(2, 1), -1);
  EXPECT_EQ(compareWrapping(5, 5), 0);
  // 0x7FFFFFFF - (-1) overflows to a negative number: B goes first.
  EXPECT_EQ(compareWrapping(-1, 0x7FFFFFFF), -1);
  cMegaList list(false);
  append(list, std::vector<int32_t>{-1, 0x7FFFFFFF});
  list.sort();
  EXPECT_EQ(values(list), (std::vector<int32_t>{0x7FFFFFFF, -1}));
}

TEST(OrderingTest, TextOrders) {
  EXPECT_EQ(compareText("B", "a"), 1);
  EXPECT_EQ(compareText("a", "B"), -1);
  EXPECT_EQ(compareTextNoCase("a", "A"), 0);
  EXPECT_EQ(compareTextNoCase("a", "_"), 1);
  EXPECT_EQ(compareText("ab", "abc"), 1);  // a prefix goes first
  EXPECT_EQ(compareText("abc", "ab"), -1);
  EXPECT_EQ(compareText("\xe9", "z"), -1);  // unsigned bytes
  cMegaList_STRING list(false);
  append(list, std::vector<Str>{Str("a"), Str("_"), Str("B"), Str("A")});
  list.sort(gCompareMegaNodes_STRING_NoCase);
  EXPECT_EQ(texts(list), (std::vector<std::string>{"a", "A", "B", "_"}));
  list.sort(nullptr);
  EXPECT_EQ(texts(list), (std::vector<std::string>{"A", "B", "_", "a"}));
}

TEST(OrderingTest, LeadingNumbers) {
  EXPECT_EQ(leadingNumber("  \t42abc"), 42);
  EXPECT_EQ(leadingNumber("-17"), -17);
  EXPECT_EQ(leadingNumber("+$ff"), 255);
  EXPECT_EQ(leadingNumber("$A"), 10);
  EXPECT_EQ(leadingNumber("%101"), 5);
  EXPECT_EQ(leadingNumber("x"), 0);
  EXPECT_EQ(leadingNumber("4294967297"), 1);  // wraps
}

TEST(OrderingTest, MatchRecords) {
  matchList list(false);
  list.add(5, 0, 1, 1, Str());
  list.add(2, 1, 1, 1, Str());
  list.add(-1, 0, 1, 1, Str());
  list.add(2, 0, 1, 1, Str());
  list.sort();
  std::vector<std::pair<int32_t, int32_t>> got;
  for (auto c = list.infoStart()->clone(0, 0); !c->isSameNode(*list.infoPastEnd()); c->gotoNext()) {
    got.emplace_back(c->infoNode()->position, c->infoNode()->entryIndex);
  }
  EXPECT_EQ(got, (std::vector<std::pair<int32_t, int32_t>>{{2, 0}, {2, 1}, {5, 0}, {-1, 0}}));
  matchNode a, b;
  a.position = b.position = -1;
  a.entryIndex = 3;
  EXPECT_EQ(gCompareMegaNodes_match->call(nullptr, &a, &b), 0);
}

TEST(ListSortTest, DefaultOrderIsStable) {
  cMegaList list(false);
  append(list, std::vector<int32_t>{3, 1, 2, 1});
  auto firstOne = list.infoStart()->clone(0, 0);
  firstOne->gotoNext();
  MegaNode* one = firstOne->infoNode();
  firstOne.reset();
  list.sort();
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 1, 2, 3}));
  EXPECT_EQ(list.infoStart()->infoNode(), one);  // the first 1 stays first
  cMegaList empty(false);
  empty.sort();
  EXPECT_TRUE(empty.isEmpty());
  cMegaList single(false);
  append(single, std::vector<int32_t>{9});
  single.sort();
  EXPECT_EQ(values(single), (std::vector<int32_t>{9}));
}

TEST(ListSortTest, CursorsOfModeZeroTravelWithTheirNodes) {
  cMegaList list(false);
  append(list, std::vector<int32_t>{4, 3, 2, 1});
  auto onThree = list.infoStart()->clone(0, 0);
  onThree->gotoNext();
  list.sort();
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(onThree->getData(), 3);
}

TEST(ListSortTest, ObjectListNeedsAnOrdering) {
  cMegaList_class list(false, nullptr, false);
  try {
    list.sort(nullptr);
    FAIL();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "EMU");
    EXPECT_EQ(e.message(), "cMegaListGeneric.sort(); compareFunction=NIL");
  }
}

TEST(SortedFindTest, FromBothSides) {
  cMegaList list(false);
  append(list, std::vector<int32_t>{1, 3, 3, 5});
  auto c = list.infoStart()->clone(0, 0);
  EXPECT_TRUE(c->sortedFindValue(3));
  EXPECT_EQ(c->getData(), 3);
  EXPECT_TRUE(c->isSameNode(*list.infoStart()->clone(0, 0)) == false);
  auto firstThree = list.infoStart()->clone(0, 0);
  firstThree->gotoNext();
  EXPECT_TRUE(c->isSameNode(*firstThree));
  auto fromFive = list.infoPastEnd()->clone(0, 0);
  fromFive->gotoPrev();
  EXPECT_TRUE(fromFive->sortedFindValue(3));
  EXPECT_EQ(fromFive->getData(), 5);  // after the last 3
  auto fromOne = list.infoStart()->clone(0, 0);
  EXPECT_FALSE(fromOne->sortedFindValue(4));
  EXPECT_EQ(fromOne->getData(), 5);
  // From the past-end node the search starts at the last element.
  auto fromEnd = list.infoPastEnd()->clone(0, 0);
  EXPECT_FALSE(fromEnd->sortedFindValue(9));
  EXPECT_TRUE(fromEnd->isSameNode(*list.infoPastEnd()));
  EXPECT_FALSE(fromEnd->sortedFindValue(0));
  EXPECT_TRUE(fromEnd->isSameNode(*list.infoStart()));
  // An empty list: FALSE, the cursor stays.
  cMegaList empty(false);
  auto e = empty.infoStart()->clone(0, 0);
  EXPECT_FALSE(e->sortedFindValue(1));
  EXPECT_TRUE(e->isSameNode(*empty.infoPastEnd()));
}

TEST(SortedFindTest, InsertAndNilArguments) {
  cMegaList list(false);
  auto c = list.infoStart()->clone(0, 0);
  c->sortedInsert(list.makeFloating(5));
  EXPECT_EQ(values(list), (std::vector<int32_t>{5}));
  auto fromEnd = list.infoPastEnd()->clone(0, 0);
  fromEnd->sortedInsert(list.makeFloating(7));
  auto fromLast = list.infoPastEnd()->clone(0, 0);
  fromLast->gotoPrev();
  MegaNode* node = fromLast->sortedInsert(list.makeFloating(1));
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 5, 7}));
  EXPECT_EQ(list.infoStart()->infoNode(), node);
  auto expectEmu = [](auto f, const char* message) {
    try {
      f();
      ADD_FAILURE();
    } catch (const eException& e) {
      EXPECT_EQ(e.code(), "EMU");
      EXPECT_EQ(e.message(), message);
    }
  };
  cMegaCursorGeneric* g = c.get();
  expectEmu([&] { g->sortedFind(nullptr, gCompareMegaNodes); }, "cMegaListGeneric.sortedFind(); match=NIL");
  cMegaList::Node* n = list.makeFloating(1);
  expectEmu([&] { g->sortedFind(n, nullptr); }, "cMegaListGeneric.sortedFind(); compareFunction=NIL");
  expectEmu([&] { g->sortedInsert(nullptr, gCompareMegaNodes); }, "cMegaListGeneric.sortedInsert(); floating=NIL");
  expectEmu([&] { g->sortedInsert(n, nullptr); }, "cMegaListGeneric.sortedInsert(); compareFunction=NIL");
  cMegaList_class objects(false, nullptr, false);
  auto* o = objects.makeFloating(nullptr);
  expectEmu([&] { objects.infoStart()->sortedInsert(o); }, "cMegaListGeneric.sortedInsert(); compareFunction=NIL");
  objects.destroyNodes(o);
  list.destroyNodes(n);
}

TEST(SortedFindTest, FindValueLeavesTheCallersValueAlone) {
  cMegaList_STRING strings(false);
  append(strings, std::vector<Str>{Str("a"), Str("c")});
  Str sought("b");
  auto c = strings.infoStart()->clone(0, 0);
  EXPECT_FALSE(c->sortedFindValue(sought));
  EXPECT_EQ(sought, "b");
  EXPECT_EQ(c->getData(), "c");

  class Obj : public class_base {};
  class ByAddress : public fCompareMegaNodes {
   public:
    int32_t call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) override {
      auto pa = cMegaMiniList_class::getData(a);
      auto pb = cMegaMiniList_class::getData(b);
      return pa == pb ? 0 : (pa < pb ? 1 : -1);
    }
  } byAddress;
  Obj objects[2];
  cMegaList_class owning(false, nullptr, true);
  owning.infoPastEnd()->beforeInsert(owning.makeFloating(new Obj));
  auto d = owning.infoStart()->clone(0, 0);
  d->sortedFindValue(&objects[1], &byAddress);  // must not delete objects[1]
  matchList matches(false);
  matches.add(4, 0, 1, 1, Str());
  auto m = matches.infoStart()->clone(0, 0);
  EXPECT_TRUE(m->sortedFindValue(4));
  EXPECT_FALSE(m->sortedFindValue(9));
}

TEST(MergeSortStringsTest, Orders) {
  StrChain numeric = chainOf({"10", "9", "$A"});
  mergeSortStrings(numeric, gMergeSort_Numeric);
  EXPECT_EQ(textsOf(numeric), (std::vector<std::string>{"9", "10", "$A"}));
  StrChain folded = chainOf({"b", "_x", "A", "a"});
  mergeSortStrings(folded, gMergeSort_NoCase);
  EXPECT_EQ(textsOf(folded), (std::vector<std::string>{"A", "a", "b", "_x"}));
  StrChain exact = chainOf({"b", "a", "B"});
  mergeSortStrings(exact, gMergeSort_Case);
  EXPECT_EQ(textsOf(exact), (std::vector<std::string>{"B", "a", "b"}));
  // The same through call(), with instances that are not the shared ones.
  fMergeSort_Numeric numericAgain;
  StrChain viaCall = chainOf({"10", "9", "$A"});
  mergeSortStrings(viaCall, &numericAgain);
  EXPECT_EQ(textsOf(viaCall), (std::vector<std::string>{"9", "10", "$A"}));
  StrChain empty;
  mergeSortStrings(empty, gMergeSort_Case);
  EXPECT_TRUE(empty.empty());
  try {
    mergeSortStrings(exact, nullptr);
    FAIL();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "EMU");
    EXPECT_EQ(e.message(), "mergeSortStrings(); compareFunction=NIL");
  }
}

// ---------------------------------------------------------------------------
// Stability against std::stable_sort on many ties.
// ---------------------------------------------------------------------------

std::vector<int32_t> randomKeys(size_t n, int32_t range, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int32_t> dist(-range, range);
  std::vector<int32_t> keys(n);
  for (int32_t& k : keys) k = dist(rng);
  return keys;
}

// A plain ordering that is not the shared instance (takes the call path).
class fAscending : public fCompareMegaNodes {};

TEST(StabilityTest, ListSortMatchesStableSort) {
  const size_t n = 100000;
  std::vector<int32_t> keys = randomKeys(n, 500, 1);
  // (key, input index) pairs, sorted by key only.
  std::vector<std::pair<int32_t, int32_t>> expected;
  for (size_t i = 0; i < n; ++i) expected.emplace_back(keys[i], static_cast<int32_t>(i));
  std::stable_sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.first < b.first; });

  fAscending ascending;
  for (fCompareMegaNodes* order : {static_cast<fCompareMegaNodes*>(gCompareMegaNodes), static_cast<fCompareMegaNodes*>(&ascending)}) {
    for (bool withCursor : {false, true}) {  // the array form and the pass form
      cMegaList list(false);
      std::vector<MegaNode*> nodes;
      for (int32_t k : keys) nodes.push_back(list.infoPastEnd()->beforeInsert(list.makeFloating(k)));
      auto parked = list.infoStart()->clone(0, 0);
      if (!withCursor) parked.reset();
      list.sort(order);
      size_t i = 0;
      for (auto c = list.infoStart()->clone(0, 0); !c->isSameNode(*list.infoPastEnd()); c->gotoNext(), ++i) {
        ASSERT_EQ(c->infoNode(), nodes[static_cast<size_t>(expected[i].second)]) << "at " << i;
      }
      EXPECT_EQ(i, n);
      if (withCursor) {
        EXPECT_EQ(parked->infoNode(), nodes[0]);
      }
    }
  }
}

TEST(StabilityTest, StringOrderingsMatchStableSort) {
  const size_t n = 100000;
  std::vector<int32_t> keys = randomKeys(n, 300, 2);
  std::vector<std::string> items;
  const char* forms[] = {"%d", "file%d", "FILE%d", "_%d", "$%x"};
  for (size_t i = 0; i < n; ++i) {
    char buf[32];
    snprintf(buf, sizeof buf, forms[i % 5], keys[i] < 0 ? -keys[i] : keys[i]);
    items.push_back(buf);
  }
  struct Case {
    fMergeSortCompare* strings;
    fCompareMegaNodes* nodes;
    int32_t (*order)(const std::string&, const std::string&);
  };
  std::vector<Case> cases = {
      {gMergeSort_Case, gCompareMegaNodes_STRING, [](auto& a, auto& b) { return compareText(a.c_str(), b.c_str()); }},
      {gMergeSort_NoCase, gCompareMegaNodes_STRING_NoCase,
       [](auto& a, auto& b) { return compareTextNoCase(a.c_str(), b.c_str()); }},
      {gMergeSort_Numeric, nullptr, [](auto& a, auto& b) { return compareWrapping(leadingNumber(a), leadingNumber(b)); }},
  };
  for (const Case& c : cases) {
    std::vector<std::string> expected = items;
    std::stable_sort(expected.begin(), expected.end(), [&](auto& a, auto& b) { return c.order(a, b) > 0; });
    StrChain chain;
    for (auto& s : items) chain.emplace_back(std::string_view(s));
    mergeSortStrings(chain, c.strings);
    EXPECT_EQ(textsOf(chain), expected) << c.strings->className();
    if (c.nodes) {
      cMegaList_STRING list(false);
      for (auto& s : items) list.infoPastEnd()->beforeInsert(list.makeFloating(Str(std::string_view(s))));
      list.sort(c.nodes);
      EXPECT_EQ(texts(list), expected) << c.nodes->className();
    }
  }
}

TEST(StabilityTest, MatchOrderingMatchesStableSort) {
  const size_t n = 100000;
  std::mt19937 rng(4);
  struct Rec {
    int32_t position, entryIndex, serial;
  };
  std::vector<Rec> recs;
  for (size_t i = 0; i < n; ++i) {
    int32_t p = static_cast<int32_t>(rng() % 60) - 1;  // -1 .. 58
    recs.push_back({p, static_cast<int32_t>(rng() % 4), static_cast<int32_t>(i)});
  }
  // Reference: by position, then entry index; records without a position
  // (-1) last and all equal to each other.
  auto key = [](const Rec& r) {
    bool none = r.position == -1;
    return std::make_tuple(none, none ? 0 : r.position, none ? 0 : r.entryIndex);
  };
  std::vector<Rec> expected = recs;
  std::stable_sort(expected.begin(), expected.end(), [&](auto& a, auto& b) { return key(a) < key(b); });
  matchList list(false);
  for (const Rec& r : recs) list.add(r.position, r.entryIndex, r.serial, 0, Str());
  list.sort();
  size_t i = 0;
  for (auto c = list.infoStart()->clone(0, 0); !c->isSameNode(*list.infoPastEnd()); c->gotoNext(), ++i) {
    ASSERT_EQ(c->infoNode()->matchLength, expected[i].serial) << "at " << i;  // serial kept in matchLength
  }
  EXPECT_EQ(i, n);
}

// ---------------------------------------------------------------------------
// An ordering that raises mid-sort leaves every element in the list.
// ---------------------------------------------------------------------------

class fRaisesOnCall : public fCompareMegaNodes {
 public:
  explicit fRaisesOnCall(long k) : k_(k) {}
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override {
    if (++calls_ == k_) raise("BUG", "fRaisesOnCall.call(); planned");
    return fCompareMegaNodes::call(store, a, b);
  }
  long calls() const { return calls_; }

 private:
  long k_;
  long calls_ = 0;
};

TEST(StabilityTest, RaisingOrderingKeepsEveryElement) {
  const size_t n = 37;
  std::vector<int32_t> keys = randomKeys(n, 10, 3);
  fRaisesOnCall counter(-1);
  {
    cMegaList list(false);
    append(list, keys);
    list.sort(&counter);
  }
  std::vector<int32_t> sortedKeys = keys;
  std::sort(sortedKeys.begin(), sortedKeys.end());
  for (bool withCursor : {false, true}) {
    for (long k = 1; k <= counter.calls(); ++k) {
      // A list sharing its ring with a neighbour view, so the recovery must
      // not reach outside the list's own range.
      cMegaList outer(false);
      append(outer, std::vector<int32_t>{-100});
      append(outer, keys);
      append(outer, std::vector<int32_t>{100});
      auto from = outer.infoStart()->clone(0, 0);
      from->gotoNext();
      auto to = outer.infoPastEnd()->clone(0, 0);
      to->gotoPrev();
      auto list = outer.shareRange(from.get(), to.get());
      auto parked = list->infoStart()->clone(0, 0);
      if (!withCursor) parked.reset();
      fRaisesOnCall raising(k);
      EXPECT_THROW(list->sort(&raising), eException);
      std::vector<int32_t> got = values(*list);
      ASSERT_EQ(got.size(), n) << "k=" << k;
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, sortedKeys);
      list->sort();  // still a sound list
      EXPECT_EQ(values(*list), sortedKeys);
      if (withCursor) {
        EXPECT_NE(parked->infoNode(), nullptr);
      }
    }
  }
}

}  // namespace
}  // namespace bw
