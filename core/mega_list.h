// core/mega_list.h - the generic mega list trio: node store
// (cMegaMiniListGeneric), list (cMegaListGeneric) and cursor
// (cMegaCursorGeneric).
//
// A mega list owns a node store (a mini list view) and two cursors of its
// own, the start cursor and the past-end cursor. Cursors are the way to walk,
// insert and remove; every node keeps a chain of the cursors standing on it,
// and removals and insertions move the affected cursors by each cursor's
// remove mode and insert mode, so cursors stay valid across both.
//
// Invariants:
//   1. The start cursor has remove mode 1 and insert mode 1, the past-end
//      cursor remove mode 2 and insert mode 2.
//   2. The list's elements are the nodes from the start cursor's node up to,
//      not including, the past-end cursor's node. The cursors are
//      authoritative; the store's own bounds are brought in line with them
//      before isolating.
//   3. A cursor on a node is in that node's cursor chain exactly once; a
//      cursor on no node is in no chain.
//
// Remove modes: 0 stays on a removed node (or follows the list default when a
// removal asks for it: 1 when the cursor's list has cursorsMoveForward, else
// 2); 1 moves to the node after the removed range; any other value moves to
// the node before it. Insert modes: 1 moves onto nodes inserted before the
// cursor's node, 2 onto nodes inserted after it, 0 never moves.
//
// The caller's duties (not validated): a toPastEnd cursor stands after the
// acting cursor; the past-end node is never removed; a list outlives its
// cursors. Cursors made by clone() belong to the caller.
//
// Deriving a node store with its own node layout: derive the node from
// MegaNode, the store from cMegaMiniListGeneric (makeList), the list from
// cMegaListGeneric (makeList, makeNode, makeCursor and the node_* hooks) and
// the cursor from cMegaCursorGeneric. A list class that overrides a node_*
// hook calls endList() in its destructor so the hooks dispatch to it while
// the nodes are destroyed; a store class that overrides a node hook calls
// endView() likewise.
#pragma once

#include <cstdint>
#include <memory>

#include "core/mini_list.h"
#include "core/object.h"

namespace bw {

class cMegaCursorGeneric;
class cMegaListGeneric;
class fCompareMegaNodes;

// The mode argument of remove/extract/destroy that keeps the acting cursor's
// own remove mode.
inline constexpr int32_t kKeepRemoveMode = INT32_MIN;

// Links, then the head of the chain of cursors standing on the node.
struct MegaNode : MiniNode {
  cMegaCursorGeneric* firstCursor = nullptr;

  MegaNode* nextNode() const { return static_cast<MegaNode*>(next); }
  MegaNode* prevNode() const { return static_cast<MegaNode*>(prev); }
};

// ---------------------------------------------------------------------------
// cMegaMiniListGeneric: the node store of a mega list.
// ---------------------------------------------------------------------------
class cMegaMiniListGeneric : public cMiniListGeneric {
  BW_CLASS(cMegaMiniListGeneric, cMiniListGeneric)
 public:
  cMegaMiniListGeneric() = default;
  ~cMegaMiniListGeneric() override { endView(); }

  cMegaListGeneric* owner() const { return owner_; }
  void setOwner(cMegaListGeneric* owner) { owner_ = owner; }

  // A new node (makeOwnedNode + initNode); the owner list's cursors on the
  // source move onto it; then the owner's node_clone(copy, source). Typed
  // stores also copy the value.
  virtual MegaNode* copyNode(MegaNode* source);
  // The owner list's makeNode.
  MegaNode* makeOwnedNode();

  MiniNode* makeInitNode(MiniNode* source) override { return copyNode(static_cast<MegaNode*>(source)); }
  // Links the node to itself, then the owner's node_init.
  void initNode(MiniNode* node) override;
  // The owner's node_end.
  void node_end(MiniNode* node) override;
  // The owner's node_destroy; every cursor on the node is left on no node;
  // node_end; release.
  void destroyNode(MiniNode* node) override;
  MiniNode* makeNode() override { return makeOwnedNode(); }

 protected:
  // Gives back the memory of a destroyed node (its value already ended);
  // typed stores keep a few for reuse.
  virtual void releaseNode(MegaNode* node) { delete node; }

 private:
  cMegaListGeneric* owner_ = nullptr;
};

// ---------------------------------------------------------------------------
// cMegaListGeneric
// ---------------------------------------------------------------------------
class cMegaListGeneric : public class_base {
  BW_CLASS(cMegaListGeneric, class_base)
 public:
  // A list without store or cursors (what makeList gives); a typed init()
  // gives it a store, then init(cursorsMoveForward) its cursors.
  cMegaListGeneric() = default;
  cMegaListGeneric(const cMegaListGeneric&) = delete;
  cMegaListGeneric& operator=(const cMegaListGeneric&) = delete;
  ~cMegaListGeneric() override { endList(); }

  // Makes the start and past-end cursors on the store's bounds. Raises "BUG"
  // when the list has no store.
  void init(bool cursorsMoveForward);

  cMegaCursorGeneric* infoStart() const { return start_.get(); }
  cMegaCursorGeneric* infoPastEnd() const { return pastEnd_.get(); }
  cMegaMiniListGeneric* infoMiniList() const { return store_.get(); }
  bool isEmpty() const;
  bool infoCursorsMoveForward() const { return cursorsMoveForward_; }
  void setCursorsMoveForward(bool flag) { cursorsMoveForward_ = flag; }

  // Destroys a floating chain through the store; returns null.
  MegaNode* destroyNodes(MegaNode* chain);

  // A new list of the same class over [start, pastEnd) of the same nodes; a
  // null bound stands for this list's own cursor. No node is copied.
  std::unique_ptr<cMegaListGeneric> shareRange(cMegaCursorGeneric* startCursor, cMegaCursorGeneric* pastEndCursor);
  std::unique_ptr<cMegaListGeneric> share() { return shareRange(nullptr, nullptr); }
  // share(), then isolateFromSharing() of the new list. Classes that refuse
  // copying override cloneGeneric.
  std::unique_ptr<cMegaListGeneric> clone() { return cloneGeneric(); }
  virtual std::unique_ptr<cMegaListGeneric> cloneGeneric();
  // Copies this list's nodes start..past-end; this list's cursors move onto
  // the copies, other lists' cursors stay.
  virtual void isolateFromSharing();

  // Stable sort by the ordering (which must not be null: "EMU"). When the
  // ordering raises, every element stays in the list (order unspecified).
  virtual void sort(fCompareMegaNodes* compareFunction);

  // Hooks, empty here.
  virtual void node_clone(MegaNode* copy, MegaNode* source);
  virtual void node_init(MegaNode* node);
  virtual void node_end(MegaNode* node);
  virtual void node_destroy(MegaNode* node);
  // Factories, null here.
  virtual std::unique_ptr<cMegaListGeneric> makeList() { return nullptr; }
  virtual MegaNode* makeNode() { return nullptr; }
  virtual std::unique_ptr<cMegaCursorGeneric> makeCursor();

 protected:
  void setMiniList(std::unique_ptr<cMegaMiniListGeneric> store);
  // The list's end: deletes the store (the last view of a ring destroys its
  // nodes), then the start and past-end cursors. Runs once.
  void endList();

 private:
  std::unique_ptr<cMegaMiniListGeneric> store_;
  std::unique_ptr<cMegaCursorGeneric> start_;
  std::unique_ptr<cMegaCursorGeneric> pastEnd_;
  bool cursorsMoveForward_ = false;
};

// ---------------------------------------------------------------------------
// cMegaCursorGeneric
// ---------------------------------------------------------------------------
class cMegaCursorGeneric : public class_base {
  BW_CLASS(cMegaCursorGeneric, class_base)
 public:
  // A cursor on no node (what makeCursor gives); init() places it.
  cMegaCursorGeneric() = default;
  cMegaCursorGeneric(const cMegaCursorGeneric&) = delete;
  cMegaCursorGeneric& operator=(const cMegaCursorGeneric&) = delete;
  // Detaches from its node.
  ~cMegaCursorGeneric() override { detach(); }

  // Stores the fields and attaches to node (when not null).
  void init(MegaNode* node, cMegaListGeneric* list, int32_t removeMode, int32_t insertMode);
  void attach();
  void detach();

  // Step to the next node (from the past-end node: to the start node); true
  // when now on the past-end node.
  bool gotoNext();
  // Step to the previous node (from the start node: to the past-end node);
  // true when it wrapped from the start node.
  bool gotoPrev();
  // Moves onto the other cursor's node; the cursor's list stays. Raises "EMU"
  // when the other cursor is of another list and its node is not an element
  // of this cursor's list.
  void gotoCursor(const cMegaCursorGeneric& cursor);
  // When the cursor's node is an element of list, the cursor belongs to list
  // from now on; returns whether it is.
  bool changeList(cMegaListGeneric* list);

  cMegaListGeneric* infoList() const { return list_; }
  // A new cursor of the list's cursor class on the same node and list.
  std::unique_ptr<cMegaCursorGeneric> clone(int32_t removeMode, int32_t insertMode) const;
  bool isSameNode(const cMegaCursorGeneric& cursor) const { return node_ == cursor.node_; }
  bool isSamePosition(const cMegaCursorGeneric& cursor) const {
    return node_ == cursor.node_ && list_ == cursor.list_;
  }
  int32_t infoRemoveMode() const { return removeMode_; }
  int32_t infoInsertMode() const { return insertMode_; }
  MegaNode* infoNode() const { return node_; }
  cMegaMiniListGeneric* infoMiniList() const;

  // Takes the nodes [this cursor's node, toPastEnd's node) (one node when
  // toPastEnd is null) out of the ring and returns them as a floating chain
  // (null when nothing was removed). Cursors on them move by their remove
  // mode; mode replaces this cursor's remove mode for the call unless it is
  // kKeepRemoveMode; with useListDefault, mode-0 cursors follow their list's
  // cursorsMoveForward. Raises "EMU" when toPastEnd is of another list.
  MegaNode* remove(cMegaCursorGeneric* toPastEnd, int32_t mode, bool useListDefault);
  // remove without the list default: mode-0 cursors travel with the chain,
  // which the caller owns.
  MegaNode* extract(cMegaCursorGeneric* toPastEnd = nullptr, int32_t mode = kKeepRemoveMode) {
    return remove(toPastEnd, mode, false);
  }
  // remove with the list default, then destroys the removed nodes.
  void destroy(cMegaCursorGeneric* toPastEnd = nullptr, int32_t mode = kKeepRemoveMode);
  // Link a floating chain before / after the cursor's node; cursors on that
  // node with insert mode 1 (before) / 2 (after) move onto the first inserted
  // node. Null floating does nothing. Returns the first inserted node.
  MegaNode* beforeInsert(MegaNode* floating);
  MegaNode* afterInsert(MegaNode* floating);

  // Sorted search from the cursor's position for a floating node holding the
  // value sought; true when an equal element was met. The cursor ends where
  // inserting the match before it keeps the order. "EMU" on null arguments.
  bool sortedFind(MegaNode* match, fCompareMegaNodes* compareFunction);
  // sortedFind, then beforeInsert at the place found; returns the node.
  MegaNode* sortedInsert(MegaNode* floating, fCompareMegaNodes* compareFunction);

 protected:
  // Raises "EMU" naming the method when the cursor stands on no node.
  void requireNode(const char* method) const {
    if (!node_) [[unlikely]] raiseOnNoNode(method);
  }

 private:
  friend class cMegaListGeneric;
  friend class cMegaMiniListGeneric;
  [[noreturn]] static void raiseOnNoNode(const char* method);
  void moveTo(MegaNode* node) {
    detach();
    node_ = node;
    if (node_) attach();
  }

  MegaNode* node_ = nullptr;
  cMegaListGeneric* list_ = nullptr;
  int32_t removeMode_ = 0;
  int32_t insertMode_ = 0;
  cMegaCursorGeneric* prevCursor_ = nullptr;
  cMegaCursorGeneric* nextCursor_ = nullptr;
};

}  // namespace bw
