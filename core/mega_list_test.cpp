// Tests of the mega lists and cursors: the generic rules and the four typed
// families.
#include "core/mega_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/exception.h"
#include "core/mega_list_family.h"

namespace bw {
namespace {

std::vector<int32_t> values(const cMegaList& list) {
  std::vector<int32_t> out;
  auto c = list.infoStart()->clone(0, 0);
  while (!c->isSameNode(*list.infoPastEnd())) {
    out.push_back(c->getData());
    c->gotoNext();
  }
  return out;
}

void append(cMegaList& list, std::vector<int32_t> items) {
  for (int32_t v : items) list.infoPastEnd()->beforeInsert(list.makeFloating(v));
}

// A cursor on the i-th element.
std::unique_ptr<cMegaCursor> at(const cMegaList& list, int i, int32_t removeMode = 0, int32_t insertMode = 0) {
  auto c = list.infoStart()->clone(removeMode, insertMode);
  while (i-- > 0) c->gotoNext();
  return c;
}

template <class F>
void expectRaise(F f, const char* code, const char* message) {
  try {
    f();
    ADD_FAILURE() << "no exception";
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), code);
    EXPECT_EQ(e.message(), message);
  }
}

TEST(MegaListTest, NewListWrapsOnTheOnePastEndNode) {
  cMegaList list(false);
  EXPECT_TRUE(list.isEmpty());
  EXPECT_TRUE(list.infoStart()->isSameNode(*list.infoPastEnd()));
  EXPECT_EQ(list.infoStart()->infoRemoveMode(), 1);
  EXPECT_EQ(list.infoStart()->infoInsertMode(), 1);
  EXPECT_EQ(list.infoPastEnd()->infoRemoveMode(), 2);
  EXPECT_EQ(list.infoPastEnd()->infoInsertMode(), 2);
  auto c = list.infoPastEnd()->clone(0, 0);
  EXPECT_TRUE(c->gotoNext());
  EXPECT_TRUE(c->isSameNode(*list.infoStart()));
  EXPECT_EQ(c->getData(), 0);
}

TEST(MegaListTest, AppendInEmptyListMovesTheStartCursorOnly) {
  cMegaList list(false);
  MegaNode* pastEnd = list.infoPastEnd()->infoNode();
  MegaNode* node = list.infoPastEnd()->beforeInsert(list.makeFloating(7));
  EXPECT_EQ(list.infoStart()->infoNode(), node);
  EXPECT_EQ(list.infoPastEnd()->infoNode(), pastEnd);
  EXPECT_EQ(values(list), (std::vector<int32_t>{7}));
}

TEST(MegaListTest, AfterInsertAtPastEndMakesOldPastEndAnElement) {
  cMegaList list(false);
  append(list, {1});
  list.infoPastEnd()->setData(42, false);  // the past-end node's own value
  MegaNode* node = list.infoPastEnd()->afterInsert(list.makeFloating(5));
  EXPECT_EQ(list.infoPastEnd()->infoNode(), node);
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 42}));
}

TEST(MegaListTest, DestroyOfFirstElementFollowsTheListDefault) {
  for (bool forward : {true, false}) {
    cMegaList list(forward);
    append(list, {1, 2, 3});
    auto parked = at(list, 0, 0, 0);
    at(list, 0, 1, 0)->destroy();
    EXPECT_EQ(values(list), (std::vector<int32_t>{2, 3}));
    if (forward) {
      EXPECT_TRUE(parked->isSameNode(*list.infoStart()));
    } else {
      EXPECT_TRUE(parked->isSameNode(*list.infoPastEnd()));
    }
  }
}

TEST(MegaListTest, ExtractCarriesModeZeroCursors) {
  cMegaList list(true);
  append(list, {1, 2, 3});
  auto parked = at(list, 1, 0, 0);
  auto other = at(list, 1, 2, 0);
  MegaNode* chain = at(list, 1, 1, 0)->extract();
  EXPECT_EQ(parked->infoNode(), chain);
  EXPECT_EQ(other->getData(), 1);
  // Inserting the node elsewhere carries the cursor along.
  list.infoPastEnd()->beforeInsert(static_cast<cMegaList::Node*>(chain));
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 3, 2}));
  EXPECT_EQ(parked->getData(), 2);
  // Destroying an extracted chain leaves the cursor on no node.
  MegaNode* again = parked->clone(1, 0)->extract();
  list.destroyNodes(again);
  EXPECT_EQ(parked->infoNode(), nullptr);
  expectRaise([&] { parked->gotoNext(); }, "EMU", "cMegaCursorGeneric.gotoNext(); cursor is on no node");
}

TEST(MegaListTest, ModeArgumentOverridesOnlyForTheCall) {
  cMegaList list(false);
  append(list, {1, 2, 3});
  auto c = at(list, 1, 2, 0);
  auto bystander = at(list, 1, 2, 0);
  list.destroyNodes(c->remove(nullptr, 1, false));
  EXPECT_EQ(c->getData(), 3);          // mode 1 given: after the range
  EXPECT_EQ(c->infoRemoveMode(), 2);   // its own mode again
  EXPECT_EQ(bystander->getData(), 1);  // its own mode 2: before
  auto d = at(list, 1, 1, 0);
  list.destroyNodes(d->remove(nullptr, kKeepRemoveMode, false));
  EXPECT_EQ(d->infoNode(), list.infoPastEnd()->infoNode());
}

TEST(MegaListTest, RemoveRangeToCursor) {
  cMegaList list(false);
  append(list, {1, 2, 3, 4});
  auto from = at(list, 1, 1, 0);
  auto to = at(list, 3);
  auto inside = at(list, 2, 2, 0);
  MegaNode* chain = from->extract(to.get());
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 4}));
  EXPECT_EQ(from->getData(), 4);
  EXPECT_EQ(inside->getData(), 1);
  EXPECT_EQ(cMegaMiniList::getData(chain), 2);
  EXPECT_EQ(cMegaMiniList::getData(chain->nextNode()), 3);
  list.destroyNodes(chain);
  cMegaList other(false);
  expectRaise([&] { from->extract(other.infoPastEnd()); }, "EMU",
              "cMegaCursorGeneric.remove(); toPastEnd Cursor is not in same List");
}

TEST(MegaListTest, GotoPrevWrapsOnlyFromTheStart) {
  cMegaList list(false);
  append(list, {1, 2});
  auto c = at(list, 0);
  EXPECT_TRUE(c->gotoPrev());
  EXPECT_TRUE(c->isSameNode(*list.infoPastEnd()));
  auto d = at(list, 1);
  EXPECT_FALSE(d->gotoPrev());
  EXPECT_EQ(d->getData(), 1);
  EXPECT_FALSE(d->gotoNext());
  EXPECT_TRUE(d->gotoNext());
}

TEST(MegaListTest, GotoAndChangeListAcrossSharedLists) {
  cMegaList list(false);
  append(list, {1, 2, 3, 4});
  auto second = at(list, 1);
  auto fourth = at(list, 3);
  auto part = list.shareRange(second.get(), fourth.get());  // {2, 3}
  EXPECT_EQ(values(*part), (std::vector<int32_t>{2, 3}));
  auto c = part->infoStart()->clone(0, 0);
  c->gotoCursor(*at(list, 2));
  EXPECT_EQ(c->getData(), 3);
  EXPECT_EQ(c->infoList(), part.get());
  expectRaise([&] { c->gotoCursor(*at(list, 0)); }, "EMU", "cMegaCursorGeneric.goto(); cursor is not in same List");
  // The other list's past-end node is not an element of a non-empty list.
  expectRaise([&] { c->gotoCursor(*list.infoPastEnd()); }, "EMU",
              "cMegaCursorGeneric.goto(); cursor is not in same List");
  auto e = at(list, 0);
  EXPECT_FALSE(e->changeList(part.get()));
  EXPECT_EQ(e->infoList(), &list);
  auto f = at(list, 1);
  EXPECT_TRUE(f->changeList(part.get()));
  EXPECT_EQ(f->infoList(), part.get());
  EXPECT_TRUE(f->isSameNode(*second));
  EXPECT_FALSE(f->isSamePosition(*second));
}

TEST(MegaListTest, ShareSeesTheSameNodesAndCloneCopies) {
  cMegaList list(false);
  append(list, {1, 2, 3});
  auto shared = list.share();
  EXPECT_EQ(shared->infoStart()->infoNode(), list.infoStart()->infoNode());
  auto copy = list.clone();
  EXPECT_NE(copy->infoStart()->infoNode(), list.infoStart()->infoNode());
  copy->infoStart()->setData(10, false);
  EXPECT_EQ(values(*copy), (std::vector<int32_t>{10, 2, 3}));
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_STREQ(copy->className(), "cMegaList");
  EXPECT_STREQ(copy->infoStart()->className(), "cMegaCursor");
  EXPECT_STREQ(copy->infoMiniList()->className(), "cMegaMiniList");
  EXPECT_TRUE(copy->isOfClass(cMegaListGeneric::kClassName));
}

TEST(MegaListTest, IsolateMovesOnlyTheListsOwnCursors) {
  cMegaList list(false);
  append(list, {1, 2, 3});
  auto shared = list.share();
  auto mine = at(*shared, 1);
  auto theirs = at(list, 1);
  MegaNode* node = theirs->infoNode();
  shared->isolateFromSharing();
  EXPECT_EQ(theirs->infoNode(), node);
  EXPECT_NE(mine->infoNode(), node);
  EXPECT_EQ(mine->getData(), 2);
  mine->setData(20, false);
  EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(values(*shared), (std::vector<int32_t>{1, 20, 3}));
}

TEST(MegaListTest, BugAndEmuMessages) {
  cMegaListGeneric generic;
  expectRaise([&] { generic.init(false); }, "BUG", "cMegaListGeneric.new(); self.miniList=NIL");
  cMegaList plain(false);
  auto* n1 = plain.makeFloating(0);
  expectRaise([&] { plain.init(false, n1); }, "BUG", "cMegaList.new(); pastEndFloatingNode supplied when miniList exists");
  plain.destroyNodes(n1);
  cMegaList_STRING strings(false);
  auto* n2 = strings.makeFloating(Str("x"));
  expectRaise([&] { strings.init(false, n2); }, "BUG",
              "cMegaList_STRING.new(); pastEndFloatingNode supplied when miniList exists");
  strings.destroyNodes(n2);
  cMegaList_class objects(false, nullptr, false);
  auto* n3 = objects.makeFloating(nullptr);
  expectRaise([&] { objects.init(false, n3, false); }, "BUG",
              "cMegaList_class.new(); pastEndFloatingNode supplied when miniList exists");
  objects.destroyNodes(n3);
  matchList matches(false);
  auto* n4 = matches.makeFloating({});
  expectRaise([&] { matches.init(false, n4); }, "BUG",
              "matchList.new(); pastEndFloatingNode supplied when miniList exists");
  matches.destroyNodes(n4);
}

TEST(MegaListTest, StringListCloneCopiesShareShares) {
  cMegaList_STRING list(false);
  list.infoPastEnd()->beforeInsert(list.makeFloating(Str::withCapacity(10, "abc")));
  auto copy = list.clone();
  const Str& copied = copy->infoStart()->getData();
  EXPECT_EQ(copied, "abc");
  EXPECT_EQ(copied.capacity(), 10);
  copy->infoStart()->setData(Str("xyz"), false);
  EXPECT_EQ(list.infoStart()->getData(), "abc");
  auto shared = list.share();
  shared->infoStart()->setData(Str("new"), false);
  EXPECT_EQ(list.infoStart()->getData(), "new");
  Str old = list.infoStart()->setData(Str("z"), true);
  EXPECT_EQ(old, "new");
  EXPECT_TRUE(list.infoPastEnd()->getData().isNil());
}

// Objects that count their deletions.
int alive = 0;
class Counted : public class_base {
 public:
  Counted() { ++alive; }
  ~Counted() override { --alive; }
};

TEST(MegaListTest, OwningObjectListsDeleteTheirObjects) {
  alive = 0;
  {
    cMegaList_class owning(false, nullptr, true);
    cMegaList_class borrowing(false, nullptr, false);
    Counted kept;
    for (int i = 0; i < 3; ++i) owning.infoPastEnd()->beforeInsert(owning.makeFloating(new Counted));
    borrowing.infoPastEnd()->beforeInsert(borrowing.makeFloating(&kept));
    EXPECT_EQ(alive, 4);
    owning.infoStart()->clone(1, 0)->destroy();
    EXPECT_EQ(alive, 3);
    owning.infoStart()->setData(new Counted, false);  // the old one is deleted
    EXPECT_EQ(alive, 3);
    class_base* taken = owning.infoStart()->setData(nullptr, true);
    delete taken;
    EXPECT_EQ(alive, 2);
  }
  EXPECT_EQ(alive, 0);
}

TEST(MegaListTest, OwningObjectListRefusesCopies) {
  alive = 0;
  cMegaList_class owning(false, nullptr, true);
  owning.infoPastEnd()->beforeInsert(owning.makeFloating(new Counted));
  expectRaise([&] { owning.clone(); }, "EMU", "cMegaList_class.clone(); this method is not supported when autoDealloc=TRUE");
  expectRaise([&] { owning.clone(false); }, "EMU",
              "cMegaList_class.clone(); this method is not supported when autoDealloc=TRUE");
  expectRaise([&] { owning.isolateFromSharing(); }, "EMU",
              "cMegaList_class.isolateFromSharing(); this method is not supported when autoDealloc=TRUE");
  expectRaise([&] { owning.node_clone(nullptr, nullptr); }, "BUG", "cMegaList_class.node_clone(); autoDealloc=TRUE");
  {
    auto clone = owning.clone(true);
    EXPECT_FALSE(clone->infoAutoDealloc());
    EXPECT_TRUE(owning.infoAutoDealloc());
    EXPECT_EQ(clone->infoStart()->getData(), owning.infoStart()->getData());
    auto shared = owning.share();
    EXPECT_FALSE(shared->infoAutoDealloc());
  }
  EXPECT_EQ(alive, 1);
}

TEST(MegaListTest, LastSharedListToEndDecidesOwnership) {
  alive = 0;
  auto* object = new Counted;
  {
    auto owning = std::make_unique<cMegaList_class>(false, nullptr, true);
    owning->infoPastEnd()->beforeInsert(owning->makeFloating(object));
    auto shared = owning->share();
    owning.reset();
    EXPECT_EQ(alive, 1);  // the non-owning view still holds the nodes
  }
  EXPECT_EQ(alive, 1);  // ... and ended last, without deleting
  delete object;
}

// A list whose nodes carry a field of their own.
struct TaggedNode : MegaValueNode<int32_t> {
  int32_t tag = 7;
};
class cTaggedList : public cMegaList {
 public:
  ~cTaggedList() override { endList(); }
  MegaNode* makeNode() override { return new TaggedNode; }
  std::unique_ptr<cMegaListGeneric> makeList() override { return std::make_unique<cTaggedList>(); }
};

TEST(MegaListTest, DestroyedNodesAreReusedOnlyWithTheSameLayout) {
  // A plain list may hand a destroyed node out again: it comes back clean.
  cMegaList plain(false);
  append(plain, {1, 2});
  auto parked = at(plain, 0, 0, 0);
  at(plain, 0, 1, 0)->destroy();
  EXPECT_EQ(parked->infoNode(), plain.infoPastEnd()->infoNode());  // list default: backward
  MegaNode* fresh = plain.makeFloating(3);
  EXPECT_EQ(fresh->firstCursor, nullptr);
  EXPECT_EQ(fresh->next, fresh);
  plain.infoPastEnd()->beforeInsert(static_cast<cMegaList::Node*>(fresh));
  EXPECT_EQ(values(plain), (std::vector<int32_t>{2, 3}));
  // A list with nodes of its own never gets a reused (or foreign) node.
  cTaggedList tagged;
  tagged.init(false);
  tagged.infoPastEnd()->beforeInsert(tagged.makeFloating(1));
  static_cast<TaggedNode*>(tagged.infoStart()->infoNode())->tag = 9;
  tagged.infoStart()->clone(1, 0)->destroy();
  tagged.destroyNodes(plain.makeFloating(5));  // a plain node destroyed through it
  for (int i = 0; i < 3; ++i) {
    auto* node = static_cast<TaggedNode*>(static_cast<MegaNode*>(tagged.makeFloating(i)));
    EXPECT_EQ(node->tag, 7);
    tagged.infoPastEnd()->beforeInsert(static_cast<cMegaList::Node*>(static_cast<MegaNode*>(node)));
  }
}

TEST(MegaListTest, MatchListAddAndCopy) {
  matchList list(false);
  matchNode* n = list.add(5, 1, 2, 3, Str("rep"));
  EXPECT_EQ(list.infoStart()->infoNode(), n);
  EXPECT_EQ(n->position, 5);
  EXPECT_EQ(n->entryIndex, 1);
  EXPECT_EQ(n->matchLength, 2);
  EXPECT_EQ(n->replacementLength, 3);
  EXPECT_EQ(n->replacement, "rep");
  auto copy = list.clone();
  matchNode* c = copy->infoStart()->infoNode();
  EXPECT_NE(c, n);
  EXPECT_EQ(c->position, 5);
  EXPECT_EQ(c->replacement, "rep");
  EXPECT_STREQ(copy->className(), "matchList");
  EXPECT_STREQ(copy->infoStart()->className(), "matchCursor");
}

}  // namespace
}  // namespace bw
