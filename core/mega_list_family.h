// core/mega_list_family.h - the typed mega list families: plain values
// (cMegaList), owned strings (cMegaList_STRING), objects (cMegaList_class)
// and match records (matchList), each a trio of store, list and cursor.
//
// One template trio serves all four; a family description (PlainFamily,
// StringFamily, ObjectFamily, MatchFamily) gives the node layout, the class
// names, how a value is copied and ended, and the default ordering that the
// typed sort, sortedFind and sortedInsert use when given null (the object
// family has none, so null raises there).
//
// Values and ownership:
//   plain   int32_t            ended: set to 0
//   string  Str (owned)        ended: set to NIL; copies keep the capacity
//   object  class_base*        ended: deleted when the list has autoDealloc,
//                              else left alone; copies are the same object
//   match   MatchRecord        ended: replacement set to NIL; copies copy it
//
// Object lists with autoDealloc own their objects and refuse what would give
// two lists the same objects: isolateFromSharing and clone(false) raise
// "EMU", node_clone raises "BUG"; clone(true) makes a non-owning clone.
// share and shareRange are allowed; the list they make does not own. When
// several lists share nodes, the last one to end destroys them through its
// own hooks.
//
// Typed lists are made empty by the default constructor and then init(); the
// convenience constructors call init() for lists of exactly that class (a
// derived list with its own factories must use init(), since a constructor
// cannot reach the derived factories).
#pragma once

#include <cstdint>
#include <memory>
#include <typeinfo>
#include <utility>

#include "core/exception.h"
#include "core/mega_list.h"
#include "core/ordering.h"
#include "core/str.h"

namespace bw {

// A node holding one value.
template <class V>
struct MegaValueNode : MegaNode {
  V value{};
};

// The match record the translate engine keeps in a matchList node.
struct MatchRecord {
  int32_t position = 0;
  int32_t entryIndex = 0;
  int32_t matchLength = 0;
  int32_t replacementLength = 0;
  Str replacement;  // owned by the node
};

// A match-list node: callers read the record's fields directly.
struct matchNode : MegaNode, MatchRecord {};

template <class F>
class MegaListT;
template <class F>
class MegaCursorT;

// ---------------------------------------------------------------------------
// Store
// ---------------------------------------------------------------------------
template <class F>
class MegaMiniListT : public cMegaMiniListGeneric {
 public:
  using Node = typename F::Node;
  using Value = typename F::Value;
  static constexpr const char* kClassName = F::kStoreName;
  const char* className() const override { return kClassName; }
  bool isOfClass(const char* name) const override {
    return name == kClassName || cMegaMiniListGeneric::isOfClass(name);
  }

  MegaMiniListT() = default;
  ~MegaMiniListT() override {
    endView();
    while (spare_) delete static_cast<Node*>(popSpare());
  }

  // The typed new: owner list, and a past-end node (made holding an empty
  // value when null).
  void init(cMegaListGeneric* owner, MegaNode* pastEndNode) {
    setOwner(owner);
    cMiniListGeneric::init(pastEndNode ? pastEndNode : makeFloating(Value{}));
  }

  // A new floating chain of one holding value.
  Node* makeFloating(Value value) {
    Node* node = static_cast<Node*>(spare_ ? popSpare() : makeOwnedNode());
    initNode(node);
    F::valueOf(*node) = std::move(value);
    return node;
  }
  static const Value& getData(MegaNode* node) { return F::valueOf(*static_cast<Node*>(node)); }
  // Stores value; with returnOld the old value goes to the caller, else it is
  // ended and an empty value is returned.
  Value setData(MegaNode* node, Value value, bool returnOld) {
    Value& slot = F::valueOf(*static_cast<Node*>(node));
    Value old{};
    if (returnOld) {
      old = std::exchange(slot, Value{});
    } else {
      node_end(node);
    }
    slot = std::move(value);
    return old;
  }

  MegaNode* copyNode(MegaNode* source) override {
    auto* copy = static_cast<Node*>(cMegaMiniListGeneric::copyNode(source));
    F::valueOf(*copy) = F::copyValue(F::valueOf(*static_cast<Node*>(source)));
    return copy;
  }
  // The owner's hook, then the value is ended.
  void node_end(MiniNode* node) override {
    cMegaMiniListGeneric::node_end(node);
    F::endValue(F::valueOf(*static_cast<Node*>(node)), owner());
  }
  std::unique_ptr<cMiniListGeneric> makeList() override { return std::make_unique<MegaMiniListT>(); }

 protected:
  // Keeps up to kSpareNodes destroyed nodes for makeFloating, which assigns
  // the whole value, so appending after destroying costs no allocation. Only
  // nodes of exactly the family's layout are kept, and only while the owner
  // list makes that layout: a list with nodes of its own never reuses one.
  void releaseNode(MegaNode* node) override {
    const MegaNode& released = *node;
    if (spareCount_ == kSpareNodes || typeid(released) != typeid(Node) || !ownerMakesFamilyNodes()) {
      delete node;
      return;
    }
    node->next = spare_;
    spare_ = node;
    ++spareCount_;
  }

 private:
  static constexpr int kSpareNodes = 16;
  bool ownerMakesFamilyNodes() {
    if (reuse_ == Reuse::kUnknown) {
      std::unique_ptr<MegaNode> probe(owner()->makeNode());
      const MegaNode* made = probe.get();
      reuse_ = made && typeid(*made) == typeid(Node) ? Reuse::kYes : Reuse::kNo;
    }
    return reuse_ == Reuse::kYes;
  }
  MiniNode* popSpare() {
    MiniNode* node = spare_;
    spare_ = node->next;
    --spareCount_;
    return node;
  }

  enum class Reuse : uint8_t { kUnknown, kYes, kNo };
  MiniNode* spare_ = nullptr;
  int spareCount_ = 0;
  Reuse reuse_ = Reuse::kUnknown;
};

// ---------------------------------------------------------------------------
// List
// ---------------------------------------------------------------------------
template <class F>
class MegaListT : public cMegaListGeneric {
 public:
  using Store = MegaMiniListT<F>;
  using Cursor = MegaCursorT<F>;
  using Node = typename F::Node;
  using Value = typename F::Value;
  static constexpr const char* kClassName = F::kListName;
  const char* className() const override { return kClassName; }
  bool isOfClass(const char* name) const override { return name == kClassName || cMegaListGeneric::isOfClass(name); }

  MegaListT() = default;
  explicit MegaListT(bool cursorsMoveForward, Node* pastEndFloatingNode = nullptr)
    requires(!F::kObjects)
  {
    init(cursorsMoveForward, pastEndFloatingNode);
  }
  MegaListT(bool cursorsMoveForward, Node* pastEndFloatingNode, bool autoDealloc)
    requires(F::kObjects)
  {
    init(cursorsMoveForward, pastEndFloatingNode, autoDealloc);
  }
  ~MegaListT() override { endList(); }

  // The typed new. Raises "BUG" when a past-end node is given although the
  // list has a store already.
  void init(bool cursorsMoveForward, Node* pastEndFloatingNode = nullptr)
    requires(!F::kObjects)
  {
    initStore(pastEndFloatingNode);
    cMegaListGeneric::init(cursorsMoveForward);
  }
  void init(bool cursorsMoveForward, Node* pastEndFloatingNode, bool autoDealloc)
    requires(F::kObjects)
  {
    initStore(pastEndFloatingNode);
    autoDealloc_ = autoDealloc;
    cMegaListGeneric::init(cursorsMoveForward);
  }

  Cursor* infoStart() const { return static_cast<Cursor*>(cMegaListGeneric::infoStart()); }
  Cursor* infoPastEnd() const { return static_cast<Cursor*>(cMegaListGeneric::infoPastEnd()); }
  Store* infoMiniList() const { return static_cast<Store*>(cMegaListGeneric::infoMiniList()); }
  bool infoAutoDealloc() const
    requires(F::kObjects)
  {
    return autoDealloc_;
  }

  Node* makeFloating(Value value) { return infoMiniList()->makeFloating(std::move(value)); }
  // Match family: appends a record before the past-end cursor.
  matchNode* add(int32_t position, int32_t entryIndex, int32_t matchLength, int32_t replacementLength,
                 Str replacement)
    requires(F::kMatch)
  {
    MatchRecord r{position, entryIndex, matchLength, replacementLength, std::move(replacement)};
    return infoPastEnd()->beforeInsert(makeFloating(std::move(r)));
  }

  std::unique_ptr<MegaListT> share() { return downcast(cMegaListGeneric::share()); }
  std::unique_ptr<MegaListT> shareRange(Cursor* startCursor, Cursor* pastEndCursor) {
    return downcast(cMegaListGeneric::shareRange(startCursor, pastEndCursor));
  }
  std::unique_ptr<MegaListT> clone() { return downcast(cloneGeneric()); }
  // Object family: with evenWithAutoDealloc an owning list gives a
  // non-owning clone; this list's flag is held at false meanwhile and
  // restored also when the clone raises.
  std::unique_ptr<MegaListT> clone(bool evenWithAutoDealloc)
    requires(F::kObjects)
  {
    if (!autoDealloc_) return downcast(cMegaListGeneric::cloneGeneric());
    if (!evenWithAutoDealloc) raise("EMU", "cMegaList_class.clone(); this method is not supported when autoDealloc=TRUE");
    autoDealloc_ = false;
    struct Restore {
      bool& flag;
      ~Restore() { flag = true; }
    } restore{autoDealloc_};
    return downcast(cMegaListGeneric::cloneGeneric());
  }
  std::unique_ptr<cMegaListGeneric> cloneGeneric() override {
    if constexpr (F::kObjects) {
      return clone(false);
    } else {
      return cMegaListGeneric::cloneGeneric();
    }
  }
  void isolateFromSharing() override {
    if constexpr (F::kObjects) {
      if (autoDealloc_) {
        raise("EMU", "cMegaList_class.isolateFromSharing(); this method is not supported when autoDealloc=TRUE");
      }
    }
    cMegaListGeneric::isolateFromSharing();
  }
  void node_clone(MegaNode* copy, MegaNode* source) override {
    if constexpr (F::kObjects) {
      if (autoDealloc_) raise("BUG", "cMegaList_class.node_clone(); autoDealloc=TRUE");
    }
    cMegaListGeneric::node_clone(copy, source);
  }

  // Null takes the family's default ordering.
  void sort(fCompareMegaNodes* compareFunction) override {
    cMegaListGeneric::sort(compareFunction ? compareFunction : F::defaultOrdering());
  }
  void sort() { sort(nullptr); }

  std::unique_ptr<cMegaListGeneric> makeList() override { return std::make_unique<MegaListT>(); }
  MegaNode* makeNode() override { return new Node; }
  std::unique_ptr<cMegaCursorGeneric> makeCursor() override { return std::make_unique<Cursor>(); }

 private:
  static std::unique_ptr<MegaListT> downcast(std::unique_ptr<cMegaListGeneric> list) {
    return std::unique_ptr<MegaListT>(static_cast<MegaListT*>(list.release()));
  }
  void initStore(Node* pastEndFloatingNode) {
    if (cMegaListGeneric::infoMiniList()) {
      if (pastEndFloatingNode) raise("BUG", F::kNewBug);
      return;
    }
    auto store = std::make_unique<Store>();
    store->init(this, pastEndFloatingNode);
    setMiniList(std::move(store));
  }

  bool autoDealloc_ = false;  // object family only
};

// ---------------------------------------------------------------------------
// Cursor
// ---------------------------------------------------------------------------
template <class F>
class MegaCursorT : public cMegaCursorGeneric {
 public:
  using List = MegaListT<F>;
  using Store = MegaMiniListT<F>;
  using Node = typename F::Node;
  using Value = typename F::Value;
  static constexpr const char* kClassName = F::kCursorName;
  const char* className() const override { return kClassName; }
  bool isOfClass(const char* name) const override {
    return name == kClassName || cMegaCursorGeneric::isOfClass(name);
  }

  List* infoList() const { return static_cast<List*>(cMegaCursorGeneric::infoList()); }
  Node* infoNode() const { return static_cast<Node*>(cMegaCursorGeneric::infoNode()); }
  std::unique_ptr<MegaCursorT> clone(int32_t removeMode, int32_t insertMode) const {
    return std::unique_ptr<MegaCursorT>(
        static_cast<MegaCursorT*>(cMegaCursorGeneric::clone(removeMode, insertMode).release()));
  }

  // The value of the node under the cursor (empty on the past-end node).
  const Value& getData() const
    requires(!F::kMatch)
  {
    requireNode("getData");
    return Store::getData(cMegaCursorGeneric::infoNode());
  }
  Value setData(Value value, bool returnOld)
    requires(!F::kMatch)
  {
    requireNode("setData");
    return infoList()->infoMiniList()->setData(cMegaCursorGeneric::infoNode(), std::move(value), returnOld);
  }

  Node* beforeInsert(Node* floating) { return static_cast<Node*>(cMegaCursorGeneric::beforeInsert(floating)); }
  Node* afterInsert(Node* floating) { return static_cast<Node*>(cMegaCursorGeneric::afterInsert(floating)); }
  // Null takes the family's default ordering (none for objects: raises).
  Node* sortedInsert(Node* floating, fCompareMegaNodes* compareFunction = nullptr) {
    return static_cast<Node*>(cMegaCursorGeneric::sortedInsert(floating, orDefault(compareFunction)));
  }
  bool sortedFind(Node* match, fCompareMegaNodes* compareFunction = nullptr) {
    return cMegaCursorGeneric::sortedFind(match, orDefault(compareFunction));
  }
  // sortedFind for a temporary node holding the key (for matches: a record
  // at that position); the key is taken back out before the node goes, so
  // the caller's string or object is left alone.
  bool sortedFindValue(typename F::Key key, fCompareMegaNodes* compareFunction = nullptr) {
    List* list = infoList();
    std::unique_ptr<Node, NodeDropper> node(list->makeFloating(F::valueForKey(std::move(key))), NodeDropper{list});
    return cMegaCursorGeneric::sortedFind(node.get(), orDefault(compareFunction));
  }

 private:
  struct NodeDropper {
    List* list;
    void operator()(Node* node) const {
      F::valueOf(*node) = Value{};
      list->destroyNodes(node);
    }
  };
  static fCompareMegaNodes* orDefault(fCompareMegaNodes* compareFunction) {
    return compareFunction ? compareFunction : F::defaultOrdering();
  }
};

// ---------------------------------------------------------------------------
// The four families.
// ---------------------------------------------------------------------------
struct PlainFamily {
  using Value = int32_t;
  using Key = int32_t;
  using Node = MegaValueNode<int32_t>;
  static constexpr bool kObjects = false;
  static constexpr bool kMatch = false;
  static constexpr char kStoreName[] = "cMegaMiniList";
  static constexpr char kListName[] = "cMegaList";
  static constexpr char kCursorName[] = "cMegaCursor";
  static constexpr char kNewBug[] = "cMegaList.new(); pastEndFloatingNode supplied when miniList exists";
  static Value& valueOf(Node& node) { return node.value; }
  static Value copyValue(const Value& value) { return value; }
  static void endValue(Value& value, cMegaListGeneric*) { value = 0; }
  static Value valueForKey(Key key) { return key; }
  static fCompareMegaNodes* defaultOrdering() { return gCompareMegaNodes; }
};

struct StringFamily {
  using Value = Str;
  using Key = Str;
  using Node = MegaValueNode<Str>;
  static constexpr bool kObjects = false;
  static constexpr bool kMatch = false;
  static constexpr char kStoreName[] = "cMegaMiniList_STRING";
  static constexpr char kListName[] = "cMegaList_STRING";
  static constexpr char kCursorName[] = "cMegaCursor_STRING";
  static constexpr char kNewBug[] = "cMegaList_STRING.new(); pastEndFloatingNode supplied when miniList exists";
  static Value& valueOf(Node& node) { return node.value; }
  static Value copyValue(const Value& value) { return value; }  // same capacity
  static void endValue(Value& value, cMegaListGeneric*) { value = Str(); }
  static Value valueForKey(Key key) { return key; }
  static fCompareMegaNodes* defaultOrdering() { return gCompareMegaNodes_STRING; }
};

struct ObjectFamily {
  using Value = class_base*;
  using Key = class_base*;
  using Node = MegaValueNode<class_base*>;
  static constexpr bool kObjects = true;
  static constexpr bool kMatch = false;
  static constexpr char kStoreName[] = "cMegaMiniList_class";
  static constexpr char kListName[] = "cMegaList_class";
  static constexpr char kCursorName[] = "cMegaCursor_class";
  static constexpr char kNewBug[] = "cMegaList_class.new(); pastEndFloatingNode supplied when miniList exists";
  static Value& valueOf(Node& node) { return node.value; }
  static Value copyValue(const Value& value) { return value; }  // not duplicated
  // Deletes the object when the owner list has autoDealloc.
  static void endValue(Value& value, cMegaListGeneric* owner);
  static Value valueForKey(Key key) { return key; }
  static fCompareMegaNodes* defaultOrdering() { return nullptr; }
};

struct MatchFamily {
  using Value = MatchRecord;
  using Key = int32_t;  // a position
  using Node = matchNode;
  static constexpr bool kObjects = false;
  static constexpr bool kMatch = true;
  static constexpr char kStoreName[] = "matchMiniList";
  static constexpr char kListName[] = "matchList";
  static constexpr char kCursorName[] = "matchCursor";
  static constexpr char kNewBug[] = "matchList.new(); pastEndFloatingNode supplied when miniList exists";
  static Value& valueOf(Node& node) { return node; }
  static Value copyValue(const Value& value) { return value; }
  static void endValue(Value& value, cMegaListGeneric*) { value.replacement = Str(); }
  static Value valueForKey(Key position) { return MatchRecord{position, 0, 0, 0, Str()}; }
  static fCompareMegaNodes* defaultOrdering() { return gCompareMegaNodes_match; }
};

using cMegaMiniList = MegaMiniListT<PlainFamily>;
using cMegaList = MegaListT<PlainFamily>;
using cMegaCursor = MegaCursorT<PlainFamily>;
using cMegaMiniList_STRING = MegaMiniListT<StringFamily>;
using cMegaList_STRING = MegaListT<StringFamily>;
using cMegaCursor_STRING = MegaCursorT<StringFamily>;
using cMegaMiniList_class = MegaMiniListT<ObjectFamily>;
using cMegaList_class = MegaListT<ObjectFamily>;
using cMegaCursor_class = MegaCursorT<ObjectFamily>;
using matchMiniList = MegaMiniListT<MatchFamily>;
using matchList = MegaListT<MatchFamily>;
using matchCursor = MegaCursorT<MatchFamily>;

inline void ObjectFamily::endValue(Value& value, cMegaListGeneric* owner) {
  if (static_cast<cMegaList_class*>(owner)->infoAutoDealloc()) {
    delete value;
    value = nullptr;
  }
}

}  // namespace bw
