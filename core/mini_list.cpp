// core/mini_list.cpp - node rings shared by list views.
#include "core/mini_list.h"

#include "core/exception.h"

namespace bw {

// ---------------------------------------------------------------------------
// cMiniRoot
// ---------------------------------------------------------------------------

cMiniRoot::~cMiniRoot() {
  if (view_ && anchor_) view_->destroyFloating(anchor_);
}

void cMiniRoot::addView(cMiniListGeneric* view) {
  view->nextView_ = view_->nextView_;
  view_->nextView_ = view;
}

bool cMiniRoot::removeView(cMiniListGeneric* view) {
  cMiniListGeneric* pred = view;
  while (pred->nextView_ != view) pred = pred->nextView_;
  pred->nextView_ = view->nextView_;
  if (view_ == view) view_ = pred;
  view->nextView_ = view;
  return pred == view;
}

bool cMiniRoot::hasOneView() const { return view_->nextView_ == view_; }

// ---------------------------------------------------------------------------
// cMiniListGeneric
// ---------------------------------------------------------------------------

void cMiniListGeneric::init(MiniNode* pastEndNode) {
  start_ = pastEndNode->next;
  pastEnd_ = pastEndNode;
  root_ = new cMiniRoot(pastEndNode, this);
  nextView_ = this;
}

void cMiniListGeneric::endView() {
  if (!takeEndPending() || !root_) return;
  cMiniRoot* root = root_;
  if (root->removeView(this)) {
    delete root;  // destroys the ring through this view's hooks
  }
  root_ = nullptr;
}

std::unique_ptr<cMiniListGeneric> cMiniListGeneric::shareRange(MiniNode* start, MiniNode* pastEnd) {
  std::unique_ptr<cMiniListGeneric> view = makeList();
  view->start_ = start ? start : start_;
  view->pastEnd_ = pastEnd ? pastEnd : pastEnd_;
  view->root_ = root_;
  root_->addView(view.get());
  return view;
}

std::unique_ptr<cMiniListGeneric> cMiniListGeneric::clone() {
  std::unique_ptr<cMiniListGeneric> view = share();
  view->isolateFromSharing();
  return view;
}

void cMiniListGeneric::isolateFromSharing() {
  if (root_->hasOneView()) return;
  // Copy start..pastEnd (inclusive) in ring order into a ring of their own.
  MiniNode* first = nullptr;
  MiniNode* newStart = nullptr;
  MiniNode* newPastEnd = nullptr;
  try {
    for (MiniNode* n = start_;; n = n->next) {
      MiniNode* copy = makeInitNode(n);
      if (!first) {
        first = copy;
      } else {
        MiniNode* last = first->prev;
        copy->prev = last;
        copy->next = first;
        last->next = copy;
        first->prev = copy;
      }
      if (n == start_) newStart = copy;
      if (n == pastEnd_) {
        newPastEnd = copy;
        break;
      }
    }
  } catch (...) {
    // Leave the view as it was; drop the partial copy.
    if (first) destroyFloating(first);
    throw;
  }
  root_->removeView(this);
  start_ = newStart;
  pastEnd_ = newPastEnd;
  root_ = new cMiniRoot(newPastEnd, this);
}

MiniNode* cMiniListGeneric::removeRange(MiniNode* first, MiniNode* pastEnd) {
  if (first == pastEnd) return nullptr;
  MiniNode* last = pastEnd ? pastEnd->prev : first;
  MiniNode* before = first->prev;
  MiniNode* after = last->next;
  before->next = after;
  after->prev = before;
  first->prev = last;
  last->next = first;
  // The anchor must stay in the ring the root destroys: wherever it stood
  // in the removed range, it moves to the node after the range.
  if (root_) {
    for (MiniNode* n = first;; n = n->next) {
      if (n == root_->anchor()) {
        root_->setAnchor(after);
        break;
      }
      if (n == last) break;
    }
  }
  if (start_ == first) start_ = after;
  if (pastEnd_ == last) pastEnd_ = before;
  return first;
}

void cMiniListGeneric::destroyRange(MiniNode* first, MiniNode* pastEnd) {
  if (!first) return;
  MiniNode* chain = removeRange(first, pastEnd);
  if (!chain) return;
  // From the first node onward.
  chain->prev->next = nullptr;
  for (MiniNode* n = chain; n;) {
    MiniNode* next = n->next;
    destroyNode(n);
    n = next;
  }
}

MiniNode* cMiniListGeneric::node_beforeInsert(MiniNode* node, MiniNode* floating) {
  if (!floating) return nullptr;
  MiniNode* last = floating->prev;
  if (last->next != floating) raise("BUG", "cMiniListGeneric.node_beforeInsert(); ownedStart<>start");
  MiniNode* before = node->prev;
  before->next = floating;
  floating->prev = before;
  last->next = node;
  node->prev = last;
  if (node == start_) start_ = floating;
  return floating;
}

MiniNode* cMiniListGeneric::node_afterInsert(MiniNode* node, MiniNode* floating) {
  if (!floating) return nullptr;
  MiniNode* last = floating->prev;
  if (last->next != floating) raise("BUG", "cMiniListGeneric.node_afterInsert(); ownedStart<>start");
  MiniNode* after = node->next;
  node->next = floating;
  floating->prev = node;
  last->next = after;
  after->prev = last;
  if (node == pastEnd_) pastEnd_ = last;
  return floating;
}

MiniNode* cMiniListGeneric::destroyFloating(MiniNode* chain) {
  if (!chain) return nullptr;
  MiniNode* n = chain->next;
  chain->next = nullptr;  // open the ring after chain
  while (n && n != chain) {
    MiniNode* next = n->next;
    destroyNode(n);
    n = next;
  }
  destroyNode(chain);
  return nullptr;
}

MiniNode* cMiniListGeneric::makeInitNode(MiniNode*) {
  MiniNode* node = makeNode();
  initNode(node);
  return node;
}

void cMiniListGeneric::initNode(MiniNode* node) {
  node->prev = node;
  node->next = node;
}

void cMiniListGeneric::node_end(MiniNode*) {}

void cMiniListGeneric::destroyNode(MiniNode* node) {
  if (!node) return;
  node_end(node);
  delete node;
}

// ---------------------------------------------------------------------------
// cMiniList
// ---------------------------------------------------------------------------

void cMiniList::init(MiniNode* pastEndNode) {
  cMiniListGeneric::init(pastEndNode ? pastEndNode : makeFloating(0));
}

std::unique_ptr<cMiniList> cMiniList::shareRange(MiniNode* start, MiniNode* pastEnd) {
  return std::unique_ptr<cMiniList>(static_cast<cMiniList*>(cMiniListGeneric::shareRange(start, pastEnd).release()));
}

std::unique_ptr<cMiniList> cMiniList::share() { return shareRange(nullptr, nullptr); }

std::unique_ptr<cMiniList> cMiniList::clone() {
  std::unique_ptr<cMiniList> view = share();
  view->isolateFromSharing();
  return view;
}

MiniValueNode* cMiniList::makeFloating(int32_t value) {
  auto* node = static_cast<MiniValueNode*>(makeNode());
  initNode(node);
  node->value = value;
  return node;
}

int32_t cMiniList::setData(MiniNode* node, int32_t value, bool returnOld) {
  auto* n = static_cast<MiniValueNode*>(node);
  int32_t old = 0;
  if (returnOld) {
    old = n->value;
  } else {
    node_end(n);
  }
  n->value = value;
  return old;
}

MiniValueNode* cMiniList::copyNode(MiniNode* source) {
  return makeFloating(static_cast<MiniValueNode*>(source)->value);
}

}  // namespace bw
