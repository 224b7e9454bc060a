// core/mini_list.h - node rings shared by list views (cMiniListGeneric,
// cMiniList).
//
// A mini list is a node store: nodes linked into one circular, doubly linked
// ring, seen through one or more views. A view covers the half-open range
// [start, pastEnd) of the ring; its past-end node is a real node that carries
// no element of the view. Views of one ring are tied together by a root
// (cMiniRoot) which destroys every node of the ring when the last view ends.
//
// Invariants:
//   1. A view is empty exactly when its start node is its past-end node.
//   2. Walking next links from a view's start node reaches its past-end node.
//   3. Every node belongs to exactly one ring or floating chain. A floating
//      chain is a ring of its own (first->prev is the last node, last->next
//      the first); a fresh node is a floating chain of one.
//   4. Views sharing a ring see the same node objects; each view is in its
//      root's circular chain of views exactly once.
//
// Derived node stores lay out their own nodes (deriving from MiniNode) and
// fill in the hooks and factories (makeNode, makeList, initNode, node_end,
// destroyNode, makeInitNode); the ring operations themselves (removeRange,
// destroyRange, the inserts, destroyFloating) are fixed. Ranges are not validated: the caller guarantees
// that a past-end bound follows the first node in the ring.
//
// Teardown: a view's destructor runs end(), which unregisters the view and,
// for the last view of a ring, destroys every node through that view's hooks.
// A class that overrides a node hook must end the view in its own destructor
// (`~X() override { endView(); }`) so the hooks still dispatch to it.
#pragma once

#include <cstdint>
#include <memory>

#include "core/object.h"

namespace bw {

// The two ring links every node starts with. Nodes are released with delete.
struct MiniNode {
  MiniNode* prev = this;
  MiniNode* next = this;

  MiniNode() = default;
  MiniNode(const MiniNode&) = delete;
  MiniNode& operator=(const MiniNode&) = delete;
  virtual ~MiniNode() = default;
};

// A neighbouring node and whether it is the view's past-end node.
struct NodeStep {
  MiniNode* node;
  bool pastEnd;
};

class cMiniListGeneric;

// Ties the views of one ring together and destroys the ring with the last.
class cMiniRoot : public class_base {
  BW_CLASS(cMiniRoot, class_base)
 public:
  cMiniRoot(MiniNode* anchor, cMiniListGeneric* view) : anchor_(anchor), view_(view) {}
  // Destroys the whole ring from the anchor through the registered view.
  ~cMiniRoot() override;

  // Links view into the chain of views right after the registered view.
  void addView(cMiniListGeneric* view);
  // Unlinks view; true when it was the last view of the ring.
  bool removeView(cMiniListGeneric* view);
  bool hasOneView() const;

  MiniNode* anchor() const { return anchor_; }
  void setAnchor(MiniNode* node) { anchor_ = node; }

 private:
  MiniNode* anchor_;
  cMiniListGeneric* view_;
};

class cMiniListGeneric : public class_base {
  BW_CLASS(cMiniListGeneric, class_base)
 public:
  // An uninitialised view (what makeList gives); init() or shareRange fills it.
  cMiniListGeneric() = default;
  cMiniListGeneric(const cMiniListGeneric&) = delete;
  cMiniListGeneric& operator=(const cMiniListGeneric&) = delete;
  ~cMiniListGeneric() override { endView(); }

  // Makes this the first view of a ring: the past-end node is the given one,
  // the start is the node after it (so a floating chain of one gives an empty
  // list, a longer chain a list of its other nodes in ring order).
  void init(MiniNode* pastEndNode);

  // A new view of the same class over [start, pastEnd) of this ring; a null
  // bound stands for this view's own. No node is copied.
  std::unique_ptr<cMiniListGeneric> shareRange(MiniNode* start, MiniNode* pastEnd);
  std::unique_ptr<cMiniListGeneric> share() { return shareRange(nullptr, nullptr); }
  // share(), then isolateFromSharing() of the new view.
  std::unique_ptr<cMiniListGeneric> clone();
  // Gives this view a private copy of its nodes start..pastEnd (inclusive),
  // made with makeInitNode, unless it is the only view of its ring.
  virtual void isolateFromSharing();

  bool isEmpty() const { return start_ == pastEnd_; }
  NodeStep infoNext(MiniNode* node) const { return {node->next, node->next == pastEnd_}; }
  NodeStep infoPrev(MiniNode* node) const { return {node->prev, node->prev == pastEnd_}; }
  MiniNode* infoStart() const { return start_; }
  MiniNode* infoPastEnd() const { return pastEnd_; }
  cMiniRoot* infoRoot() const { return root_; }
  // Re-aims the view's bounds (the mega lists keep them in line with their
  // cursors before isolating).
  void setBounds(MiniNode* start, MiniNode* pastEnd) {
    start_ = start;
    pastEnd_ = pastEnd;
  }

  // Unlinks [first, pastEnd) (just `first` when pastEnd is null) into a
  // floating chain and returns its first node; null when first == pastEnd.
  // Only this view's bounds and the root's anchor follow the removal.
  MiniNode* removeRange(MiniNode* first, MiniNode* pastEnd);
  // removeRange, then destroys the removed nodes; null first does nothing.
  void destroyRange(MiniNode* first, MiniNode* pastEnd);
  // Link a closed floating chain before / after node and return its first
  // node (null floating: nothing, null). An unclosed chain raises "BUG" and
  // nothing changes. Inserting before the start node makes the chain the new
  // start; inserting after the past-end node makes the old past-end node an
  // element and the chain's last node the new past-end node.
  MiniNode* node_beforeInsert(MiniNode* node, MiniNode* floating);
  MiniNode* node_afterInsert(MiniNode* node, MiniNode* floating);
  // Destroys every node of a floating chain (chain itself last); null.
  MiniNode* destroyFloating(MiniNode* chain);

  // Hooks and factories.
  virtual MiniNode* makeInitNode(MiniNode* source);  // makeNode + initNode
  virtual void initNode(MiniNode* node);              // links node to itself
  virtual void node_end(MiniNode* node);              // ends the node's value
  virtual void destroyNode(MiniNode* node);           // node_end, then delete
  virtual MiniNode* makeNode() { return nullptr; }
  virtual std::unique_ptr<cMiniListGeneric> makeList() { return nullptr; }

 protected:
  // The view's end: unregisters it; the last view destroys the ring.
  // Runs once; every class overriding a node hook calls it in its destructor.
  void endView();

 private:
  friend class cMiniRoot;

  MiniNode* start_ = nullptr;
  MiniNode* pastEnd_ = nullptr;
  cMiniRoot* root_ = nullptr;
  cMiniListGeneric* nextView_ = this;
};

// A node of the plain mini list: the links and one value.
struct MiniValueNode : MiniNode {
  int32_t value = 0;
};

// The plain node store: each node carries one 32-bit value.
class cMiniList : public cMiniListGeneric {
  BW_CLASS(cMiniList, cMiniListGeneric)
 public:
  cMiniList() = default;
  ~cMiniList() override { endView(); }

  // A null past-end node is made first, holding 0.
  void init(MiniNode* pastEndNode);

  std::unique_ptr<cMiniList> clone();
  std::unique_ptr<cMiniList> share();
  std::unique_ptr<cMiniList> shareRange(MiniNode* start, MiniNode* pastEnd);

  // A new floating chain of one holding value.
  MiniValueNode* makeFloating(int32_t value);
  int32_t getData(MiniNode* node) const { return static_cast<MiniValueNode*>(node)->value; }
  // Stores value; returns the old value when returnOld, else ends it and 0.
  int32_t setData(MiniNode* node, int32_t value, bool returnOld);
  MiniValueNode* copyNode(MiniNode* source);

  MiniNode* makeInitNode(MiniNode* source) override { return copyNode(source); }
  void node_end(MiniNode* node) override { static_cast<MiniValueNode*>(node)->value = 0; }
  MiniNode* makeNode() override { return new MiniValueNode; }
  std::unique_ptr<cMiniListGeneric> makeList() override { return std::make_unique<cMiniList>(); }
};

}  // namespace bw
