// Randomized model test of the mega lists: inserts, removals, cursor moves,
// sharing and copying over several lists on shared rings, checked step by
// step against a plain reference model (std::list rings and explicit cursor
// positions).
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <list>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <unordered_map>
#include <vector>

#include "core/exception.h"
#include "core/mega_list_family.h"
#include "core/sweep_test_support.h"

namespace bw {
namespace {

constexpr int kNone = -1;

// ---------------------------------------------------------------------------
// The reference model.
// ---------------------------------------------------------------------------
struct Model {
  struct Cursor {
    int node = kNone;
    int list = kNone;
    int32_t removeMode = 0;
    int32_t insertMode = 0;
    bool alive = true;
  };
  struct List {
    int start;    // cursor ids of the list's own cursors
    int pastEnd;
    int root;
    bool moveForward;
    bool alive = true;
  };
  struct Root {
    int anchor;
    std::set<int> views;
  };

  // Rings (a list's ring and floating chains alike), each in next order.
  std::map<int, std::list<int>> rings;
  std::unordered_map<int, int> ringOf;
  std::unordered_map<int, std::list<int>::iterator> pos;
  std::unordered_map<int, int32_t> value;
  std::vector<Cursor> cursors;
  std::vector<List> lists;
  std::vector<Root> roots;
  std::set<int> live;       // ids of the live cursors
  std::set<int> liveLists;  // ids of the live lists
  int nextNode = 0;
  int nextRing = 0;

  int newNode(int32_t v) {
    int id = nextNode++;
    int ring = nextRing++;
    rings[ring].push_back(id);
    ringOf[id] = ring;
    pos[id] = rings[ring].begin();
    value[id] = v;
    return id;
  }
  int next(int n) const {
    auto& ring = rings.at(ringOf.at(n));
    auto it = std::next(pos.at(n));
    return it == ring.end() ? ring.front() : *it;
  }
  int prev(int n) const {
    auto& ring = rings.at(ringOf.at(n));
    auto it = pos.at(n);
    return it == ring.begin() ? ring.back() : *std::prev(it);
  }
  int startNode(int l) const { return cursors[lists[l].start].node; }
  int pastEndNode(int l) const { return cursors[lists[l].pastEnd].node; }
  std::vector<int> elements(int l) const {
    std::vector<int> out;
    for (int n = startNode(l); n != pastEndNode(l); n = next(n)) out.push_back(n);
    return out;
  }
  bool isElement(int l, int node) const {
    if (startNode(l) == pastEndNode(l)) return node == startNode(l);
    for (int n : elements(l)) {
      if (n == node) return true;
    }
    return false;
  }
  std::vector<int> cursorsOn(int node) const {
    std::vector<int> out;
    for (int c : live) {
      if (cursors[static_cast<size_t>(c)].node == node) out.push_back(c);
    }
    return out;
  }
  void kill(int c) {
    cursors[static_cast<size_t>(c)].alive = false;
    live.erase(c);
  }
  // Moves the nodes to a fresh ring, keeping their order.
  int splitOff(const std::vector<int>& nodes) {
    int ring = nextRing++;
    auto& to = rings[ring];
    for (int n : nodes) {
      auto& from = rings[ringOf[n]];
      to.splice(to.end(), from, pos[n]);
      ringOf[n] = ring;
    }
    return ring;
  }
  // Splices the whole chain ring (from its first node) before `at` (or,
  // with after, after it).
  void insertChain(int at, int first, bool after) {
    int chainRing = ringOf[first];
    auto& chain = rings[chainRing];
    // Rotate so that first leads.
    chain.splice(chain.end(), chain, chain.begin(), pos[first]);
    std::vector<int> moved(chain.begin(), chain.end());
    auto& ring = rings[ringOf[at]];
    ring.splice(after ? std::next(pos[at]) : pos[at], chain);
    for (int n : moved) ringOf[n] = ringOf[at];
    rings.erase(chainRing);
  }

  // The operations, by the rules of the list.
  int insert(int cursor, int first, bool after) {
    int at = cursors[cursor].node;
    std::vector<int> onTarget = cursorsOn(at);
    insertChain(at, first, after);
    for (int k : onTarget) {
      if (cursors[k].insertMode == (after ? 2 : 1)) cursors[k].node = first;
    }
    return first;
  }
  // Returns the removed chain's first node, or kNone.
  int remove(int cursor, int toPastEnd, int32_t mode, bool useListDefault) {
    int32_t own = cursors[cursor].removeMode;
    if (mode != kKeepRemoveMode) cursors[cursor].removeMode = mode;
    int first = cursors[cursor].node;
    int after = toPastEnd != kNone ? cursors[toPastEnd].node : next(first);
    int before = prev(first);
    std::vector<int> range;
    for (int n = first; n != after; n = next(n)) range.push_back(n);
    for (int n : range) {
      for (int k : cursorsOn(n)) {
        int32_t m = cursors[k].removeMode;
        if (useListDefault && m == 0) m = lists[cursors[k].list].moveForward ? 1 : 2;
        if (m == 1) {
          cursors[k].node = after;
        } else if (m != 0) {
          cursors[k].node = before;
        }
      }
    }
    cursors[cursor].removeMode = own;
    if (range.empty()) return kNone;
    // The root's anchor never leaves the ring.
    Root& root = roots[lists[cursors[cursor].list].root];
    for (int n : range) {
      if (n == root.anchor) root.anchor = after;
    }
    splitOff(range);
    return first;
  }
  void destroyChain(int first) {
    int ring = ringOf[first];
    for (int n : rings[ring]) {
      for (int k : cursorsOn(n)) cursors[k].node = kNone;
      ringOf.erase(n);
      pos.erase(n);
      value.erase(n);
    }
    rings.erase(ring);
  }
  // Copies start..pastEnd of list l into a new ring; returns the copies.
  std::vector<int> copyRange(int l) {
    std::vector<int> sources = elements(l);
    sources.push_back(pastEndNode(l));
    std::vector<int> copies;
    for (int n : sources) copies.push_back(newNode(value[n]));
    for (size_t i = 1; i < copies.size(); ++i) insertChain(copies[0], copies[i], false);
    // copies[0]'s ring now holds copies[1..] before copies[0]; rotate.
    auto& ring = rings[ringOf[copies[0]]];
    ring.splice(ring.end(), ring, ring.begin(), pos[copies[0]]);
    // The list's own cursors move onto the copies.
    for (size_t i = 0; i < sources.size(); ++i) {
      for (int k : cursorsOn(sources[i])) {
        if (cursors[k].list == l) cursors[k].node = copies[i];
      }
    }
    return copies;
  }
  void isolate(int l) {
    Root& old = roots[lists[l].root];
    if (old.views.size() == 1) return;
    std::vector<int> copies = copyRange(l);
    old.views.erase(l);
    roots.push_back({copies.back(), {l}});
    lists[l].root = static_cast<int>(roots.size()) - 1;
  }
  int newCursor(int node, int list, int32_t rm, int32_t im) {
    cursors.push_back({node, list, rm, im, true});
    live.insert(static_cast<int>(cursors.size()) - 1);
    return static_cast<int>(cursors.size()) - 1;
  }
  int addList(int startNode, int pastEndNode, int root, bool moveForward) {
    int l = static_cast<int>(lists.size());
    int s = newCursor(startNode, l, 1, 1);
    int p = newCursor(pastEndNode, l, 2, 2);
    lists.push_back({s, p, root, moveForward, true});
    liveLists.insert(l);
    roots[root].views.insert(l);
    return l;
  }
  void endList(int l) {
    lists[l].alive = false;
    liveLists.erase(l);
    kill(lists[l].start);
    kill(lists[l].pastEnd);
    Root& root = roots[lists[l].root];
    root.views.erase(l);
    if (root.views.empty()) destroyChain(root.anchor);
  }
};

// ---------------------------------------------------------------------------
// The driver: the same steps on the model and on the real lists.
// ---------------------------------------------------------------------------
class Driver {
 public:
  explicit Driver(uint32_t seed) : rng_(seed) { newList(); }

  ~Driver() {
    // Floating chains go through a live list.
    if (liveLists().empty()) newList();
    cMegaList* any = realLists_[static_cast<size_t>(liveLists()[0])].get();
    for (int first : pool_) any->destroyNodes(realNode_[first]);
    pool_.clear();
    realCursors_.clear();
    realLists_.clear();
  }

  void step() {
    int what = pick(100);
    if (what < 22) {
      opInsert();
    } else if (what < 44) {
      opRemove();
    } else if (what < 56) {
      opNewCursor();
    } else if (what < 70) {
      opStep();
    } else if (what < 75) {
      opGoto();
    } else if (what < 78) {
      opChangeList();
    } else if (what < 82) {
      opShare();
    } else if (what < 84) {
      opClone();
    } else if (what < 87) {
      opIsolate();
    } else if (what < 89) {
      opEndList();
    } else if (what < 95) {
      opDropCursor();
    } else if (what < 97) {
      opDestroyChain();
    } else {
      opToggleDefault();
    }
  }

  void check() {
    for (int c : m_.live) {
      const Model::Cursor& mc = m_.cursors[static_cast<size_t>(c)];
      cMegaCursorGeneric* rc = realCursor(c);
      ASSERT_NE(rc, nullptr);
      MegaNode* expected = mc.node == kNone ? nullptr : realNode_.at(mc.node);
      ASSERT_EQ(rc->infoNode(), expected) << "cursor " << c;
      ASSERT_EQ(rc->infoList(), realLists_[static_cast<size_t>(mc.list)].get());
      ASSERT_EQ(rc->infoRemoveMode(), mc.removeMode);
    }
    for (int l : liveLists()) {
      std::vector<int> expected = m_.elements(l);
      cMegaList* list = realLists_[static_cast<size_t>(l)].get();
      MegaNode* n = list->infoStart()->infoNode();
      for (int id : expected) {
        ASSERT_EQ(n, realNode_.at(id)) << "list " << l;
        ASSERT_EQ(cMegaMiniList::getData(n), m_.value.at(id));
        n = n->nextNode();
      }
      ASSERT_EQ(n, list->infoPastEnd()->infoNode());
      ASSERT_EQ(list->isEmpty(), expected.empty());
    }
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool coin() { return pick(2) == 0; }
  template <class T>
  T pickFrom(const std::vector<T>& items) {
    return items[static_cast<size_t>(pick(static_cast<int>(items.size())))];
  }

  std::vector<int> liveLists() const {
    return std::vector<int>(m_.liveLists.begin(), m_.liveLists.end());
  }
  // Cursors (own ones included) of live lists standing on a node of their
  // list (an element or the past-end node).
  std::vector<int> placedCursors(bool userOnly, bool elementsOnly) const {
    std::vector<int> out;
    std::map<int, std::set<int>> elements;
    for (int l : liveLists()) {
      std::vector<int> e = m_.elements(l);
      elements[l] = std::set<int>(e.begin(), e.end());
    }
    for (int c : m_.live) {
      const Model::Cursor& mc = m_.cursors[static_cast<size_t>(c)];
      if (mc.node == kNone) continue;
      if (userOnly && !realCursors_.count(c)) continue;
      bool onPastEnd = mc.node == m_.pastEndNode(mc.list);
      if (elementsOnly && onPastEnd) continue;
      if (!onPastEnd && !elements[mc.list].count(mc.node)) continue;
      out.push_back(c);
    }
    return out;
  }
  cMegaCursorGeneric* realCursor(int c) {
    auto it = realCursors_.find(c);
    if (it != realCursors_.end()) return it->second.get();
    const Model::List& ml = m_.lists[static_cast<size_t>(m_.cursors[static_cast<size_t>(c)].list)];
    cMegaList* list = realLists_[static_cast<size_t>(m_.cursors[static_cast<size_t>(c)].list)].get();
    if (ml.start == c) return list->infoStart();
    if (ml.pastEnd == c) return list->infoPastEnd();
    return nullptr;
  }
  int totalNodes() const { return static_cast<int>(m_.value.size()); }

  // Registers the real nodes of a list's start..pastEnd against model ids.
  void mapRange(int l, const std::vector<int>& ids) {
    MegaNode* n = realLists_[static_cast<size_t>(l)]->infoStart()->infoNode();
    for (int id : ids) {
      realNode_[id] = n;
      n = n->nextNode();
    }
  }

  void newList() {
    bool forward = coin();
    auto list = std::make_unique<cMegaList>(forward);
    int pastEnd = m_.newNode(0);
    m_.roots.push_back({pastEnd, {}});
    int l = m_.addList(pastEnd, pastEnd, static_cast<int>(m_.roots.size()) - 1, forward);
    realNode_[pastEnd] = list->infoPastEnd()->infoNode();
    realLists_.resize(static_cast<size_t>(l) + 1);
    realLists_[static_cast<size_t>(l)] = std::move(list);
  }

  void opInsert() {
    std::vector<int> at = placedCursors(false, false);
    if (at.empty()) return;
    int c = pickFrom(at);
    int first;
    MegaNode* chain;
    if (!pool_.empty() && pick(3) == 0) {
      size_t i = static_cast<size_t>(pick(static_cast<int>(pool_.size())));
      first = pool_[i];
      pool_.erase(pool_.begin() + static_cast<long>(i));
      chain = realNode_[first];
    } else {
      if (totalNodes() > 120) return;
      int32_t v = nextValue_++;
      first = m_.newNode(v);
      chain = realLists_[static_cast<size_t>(m_.cursors[static_cast<size_t>(c)].list)]->makeFloating(v);
      realNode_[first] = chain;
    }
    bool after = coin();
    m_.insert(c, first, after);
    MegaNode* got = after ? realCursor(c)->afterInsert(chain) : realCursor(c)->beforeInsert(chain);
    EXPECT_EQ(got, chain);
  }

  void opRemove() {
    std::vector<int> actors = placedCursors(true, true);
    if (actors.empty()) return;
    int c = pickFrom(actors);
    int l = m_.cursors[static_cast<size_t>(c)].list;
    // toPastEnd: none, or a cursor of the same list at or after c.
    int toPastEnd = kNone;
    if (coin()) {
      std::vector<int> elems = m_.elements(l);
      size_t from = 0;
      while (elems[from] != m_.cursors[static_cast<size_t>(c)].node) ++from;
      std::vector<int> later;
      for (int k : placedCursors(false, false)) {
        if (m_.cursors[static_cast<size_t>(k)].list != l) continue;
        int node = m_.cursors[static_cast<size_t>(k)].node;
        for (size_t i = from; i <= elems.size(); ++i) {
          if ((i == elems.size() ? m_.pastEndNode(l) : elems[i]) == node) later.push_back(k);
        }
      }
      if (!later.empty()) toPastEnd = pickFrom(later);
    }
    // The caller's duty: no list's past-end node is removed.
    int first = m_.cursors[static_cast<size_t>(c)].node;
    int after = toPastEnd != kNone ? m_.cursors[static_cast<size_t>(toPastEnd)].node : m_.next(first);
    for (int n = first; n != after; n = m_.next(n)) {
      for (int ol : liveLists()) {
        if (m_.pastEndNode(ol) == n) return;
      }
    }
    static const int32_t modes[] = {0, 1, 2, kKeepRemoveMode};
    int32_t mode = modes[pick(4)];
    cMegaCursorGeneric* rc = realCursor(c);
    cMegaCursorGeneric* rt = toPastEnd == kNone ? nullptr : realCursor(toPastEnd);
    switch (pick(3)) {
      case 0: {  // extract: the chain goes to the pool
        int chain = m_.remove(c, toPastEnd, mode, false);
        MegaNode* real = rc->extract(rt, mode);
        EXPECT_EQ(real, chain == kNone ? nullptr : realNode_[chain]);
        if (chain != kNone) pool_.push_back(chain);
        break;
      }
      case 1: {  // remove with the list default: pooled too
        int chain = m_.remove(c, toPastEnd, mode, true);
        MegaNode* real = rc->remove(rt, mode, true);
        EXPECT_EQ(real, chain == kNone ? nullptr : realNode_[chain]);
        if (chain != kNone) pool_.push_back(chain);
        break;
      }
      default: {
        int chain = m_.remove(c, toPastEnd, mode, true);
        if (chain != kNone) m_.destroyChain(chain);
        rc->destroy(rt, mode);
      }
    }
  }

  void opNewCursor() {
    if (realCursors_.size() > 24) return;
    std::vector<int> from = placedCursors(false, false);
    if (from.empty()) return;
    int c = pickFrom(from);
    int32_t rm = pick(3);
    int32_t im = pick(3);
    const Model::Cursor& mc = m_.cursors[static_cast<size_t>(c)];
    int id = m_.newCursor(mc.node, mc.list, rm, im);
    realCursors_[id] = realCursor(c)->clone(rm, im);
  }

  void opStep() {
    std::vector<int> movers = placedCursors(true, false);
    if (movers.empty()) return;
    int c = pickFrom(movers);
    Model::Cursor& mc = m_.cursors[static_cast<size_t>(c)];
    int s = m_.startNode(mc.list);
    int p = m_.pastEndNode(mc.list);
    if (coin()) {
      mc.node = mc.node == p ? s : m_.next(mc.node);
      EXPECT_EQ(realCursor(c)->gotoNext(), mc.node == p);
    } else {
      bool wrapped = mc.node == s;
      mc.node = wrapped ? p : m_.prev(mc.node);
      EXPECT_EQ(realCursor(c)->gotoPrev(), wrapped);
    }
  }

  void opGoto() {
    std::vector<int> movers = placedCursors(true, false);
    std::vector<int> targets = placedCursors(false, false);
    if (movers.empty() || targets.empty()) return;
    int c = pickFrom(movers);
    int d = pickFrom(targets);
    Model::Cursor& mc = m_.cursors[static_cast<size_t>(c)];
    const Model::Cursor& md = m_.cursors[static_cast<size_t>(d)];
    bool allowed = md.list == mc.list || m_.isElement(mc.list, md.node);
    if (allowed) {
      mc.node = md.node;
      realCursor(c)->gotoCursor(*realCursor(d));
    } else {
      try {
        realCursor(c)->gotoCursor(*realCursor(d));
        ADD_FAILURE() << "goto outside the list";
      } catch (const eException& e) {
        EXPECT_EQ(e.message(), "cMegaCursorGeneric.goto(); cursor is not in same List");
      }
    }
  }

  void opChangeList() {
    std::vector<int> movers = placedCursors(true, false);
    if (movers.empty()) return;
    int c = pickFrom(movers);
    int l = pickFrom(liveLists());
    Model::Cursor& mc = m_.cursors[static_cast<size_t>(c)];
    bool member = m_.isElement(l, mc.node);
    if (member) mc.list = l;
    EXPECT_EQ(realCursor(c)->changeList(realLists_[static_cast<size_t>(l)].get()), member);
  }

  // Two cursors of list l at element indices i <= j (j may be the size).
  std::pair<int, int> rangeCursors(int l) {
    std::vector<int> elems = m_.elements(l);
    int n = static_cast<int>(elems.size());
    int i = pick(n + 1);
    int j = i + pick(n - i + 1);
    auto cursorAt = [&](int index) {
      int node = index == n ? m_.pastEndNode(l) : elems[static_cast<size_t>(index)];
      int id = m_.newCursor(node, l, 0, 0);
      cMegaList* list = realLists_[static_cast<size_t>(l)].get();
      auto rc = list->infoStart()->clone(0, 0);
      if (index == n) {
        rc->gotoCursor(*list->infoPastEnd());
      } else {
        for (int k = 0; k < index; ++k) rc->gotoNext();
      }
      realCursors_[id] = std::move(rc);
      return id;
    };
    return {cursorAt(i), cursorAt(j)};
  }

  void opShare() {
    if (liveLists().size() >= 4) return;
    int l = pickFrom(liveLists());
    const Model::List& ml = m_.lists[static_cast<size_t>(l)];
    int from = ml.start;
    int to = ml.pastEnd;
    std::unique_ptr<cMegaList> list;
    if (coin()) {
      std::tie(from, to) = rangeCursors(l);
      list = realLists_[static_cast<size_t>(l)]->shareRange(static_cast<cMegaCursor*>(realCursor(from)),
                                                             static_cast<cMegaCursor*>(realCursor(to)));
    } else {
      list = realLists_[static_cast<size_t>(l)]->share();
    }
    int nl = m_.addList(m_.cursors[static_cast<size_t>(from)].node, m_.cursors[static_cast<size_t>(to)].node,
                        m_.lists[static_cast<size_t>(l)].root, m_.lists[static_cast<size_t>(l)].moveForward);
    realLists_.resize(static_cast<size_t>(nl) + 1);
    realLists_[static_cast<size_t>(nl)] = std::move(list);
  }

  void opClone() {
    if (liveLists().size() >= 4 || totalNodes() > 120) return;
    int l = pickFrom(liveLists());
    // The clone is a share that isolates itself.
    int nl = m_.addList(m_.startNode(l), m_.pastEndNode(l), m_.lists[static_cast<size_t>(l)].root,
                        m_.lists[static_cast<size_t>(l)].moveForward);
    std::vector<int> copies = m_.copyRange(nl);
    m_.roots[static_cast<size_t>(m_.lists[static_cast<size_t>(l)].root)].views.erase(nl);
    m_.roots.push_back({copies.back(), {nl}});
    m_.lists[static_cast<size_t>(nl)].root = static_cast<int>(m_.roots.size()) - 1;
    realLists_.resize(static_cast<size_t>(nl) + 1);
    realLists_[static_cast<size_t>(nl)] = realLists_[static_cast<size_t>(l)]->clone();
    mapRange(nl, copies);
  }

  void opIsolate() {
    if (totalNodes() > 120) return;
    int l = pickFrom(liveLists());
    bool shared = m_.roots[static_cast<size_t>(m_.lists[static_cast<size_t>(l)].root)].views.size() > 1;
    m_.isolate(l);
    realLists_[static_cast<size_t>(l)]->isolateFromSharing();
    if (shared) {
      std::vector<int> ids = m_.elements(l);
      ids.push_back(m_.pastEndNode(l));
      mapRange(l, ids);
    }
  }

  void opEndList() {
    std::vector<int> live = liveLists();
    int l = pickFrom(live);
    // A list outlives its cursors: drop them first.
    for (auto it = realCursors_.begin(); it != realCursors_.end();) {
      if (m_.cursors[static_cast<size_t>(it->first)].list == l) {
        m_.kill(it->first);
        it = realCursors_.erase(it);
      } else {
        ++it;
      }
    }
    m_.endList(l);
    realLists_[static_cast<size_t>(l)].reset();
    if (live.size() == 1) newList();
  }

  void opDropCursor() {
    if (realCursors_.empty()) return;
    auto it = std::next(realCursors_.begin(), pick(static_cast<int>(realCursors_.size())));
    m_.kill(it->first);
    realCursors_.erase(it);
  }

  void opDestroyChain() {
    if (pool_.empty()) return;
    size_t i = static_cast<size_t>(pick(static_cast<int>(pool_.size())));
    int first = pool_[i];
    pool_.erase(pool_.begin() + static_cast<long>(i));
    m_.destroyChain(first);
    realLists_[static_cast<size_t>(pickFrom(liveLists()))]->destroyNodes(realNode_[first]);
  }

  void opToggleDefault() {
    int l = pickFrom(liveLists());
    bool flag = !m_.lists[static_cast<size_t>(l)].moveForward;
    m_.lists[static_cast<size_t>(l)].moveForward = flag;
    realLists_[static_cast<size_t>(l)]->setCursorsMoveForward(flag);
  }

  std::mt19937 rng_;
  Model m_;
  std::unordered_map<int, MegaNode*> realNode_;
  std::vector<std::unique_ptr<cMegaList>> realLists_;
  std::map<int, std::unique_ptr<cMegaCursorGeneric>> realCursors_;
  std::vector<int> pool_;  // first nodes of floating chains the test owns
  int32_t nextValue_ = 1;
};

TEST(MegaListModelTest, RandomStepsAgreeWithTheModel) {
  // 8,000 steps a seed; 25,000 with BRINDLEWORK_FULL_SWEEPS=1.
  const long long steps = testing::sweepCount(nullptr, 8000, 25000);
  for (uint32_t seed : {1u, 2u, 3u, 4u}) {
    Driver driver(seed);
    for (int i = 0; i < steps; ++i) {
      driver.step();
      driver.check();
      if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure()) {
        FAIL() << "seed " << seed << " step " << i;
      }
    }
  }
}

}  // namespace
}  // namespace bw
