// core/mega_list.cpp - the generic mega list trio: store, list and cursor.
#include "core/mega_list.h"

#include <string>

#include "core/exception.h"

namespace bw {

// ---------------------------------------------------------------------------
// cMegaMiniListGeneric
// ---------------------------------------------------------------------------

MegaNode* cMegaMiniListGeneric::makeOwnedNode() { return owner_->makeNode(); }

MegaNode* cMegaMiniListGeneric::copyNode(MegaNode* source) {
  std::unique_ptr<MegaNode> copy(makeOwnedNode());
  initNode(copy.get());
  // The clone hook first, so that a refusing hook leaves every cursor where it
  // was.
  owner_->node_clone(copy.get(), source);
  for (cMegaCursorGeneric* k = source->firstCursor; k;) {
    cMegaCursorGeneric* next = k->nextCursor_;
    if (k->list_ == owner_) k->moveTo(copy.get());
    k = next;
  }
  return copy.release();
}

void cMegaMiniListGeneric::initNode(MiniNode* node) {
  cMiniListGeneric::initNode(node);
  owner_->node_init(static_cast<MegaNode*>(node));
}

void cMegaMiniListGeneric::node_end(MiniNode* node) { owner_->node_end(static_cast<MegaNode*>(node)); }

void cMegaMiniListGeneric::destroyNode(MiniNode* node) {
  if (!node) return;
  auto* n = static_cast<MegaNode*>(node);
  owner_->node_destroy(n);
  for (cMegaCursorGeneric* k = n->firstCursor; k;) {
    cMegaCursorGeneric* next = k->nextCursor_;
    k->prevCursor_ = nullptr;
    k->nextCursor_ = nullptr;
    k->node_ = nullptr;
    k = next;
  }
  n->firstCursor = nullptr;
  node_end(n);
  releaseNode(n);
}

// ---------------------------------------------------------------------------
// cMegaListGeneric
// ---------------------------------------------------------------------------

void cMegaListGeneric::init(bool cursorsMoveForward) {
  if (!store_) raise("BUG", "cMegaListGeneric.new(); self.miniList=NIL");
  start_ = makeCursor();
  start_->init(static_cast<MegaNode*>(store_->infoStart()), this, 1, 1);
  pastEnd_ = makeCursor();
  pastEnd_->init(static_cast<MegaNode*>(store_->infoPastEnd()), this, 2, 2);
  cursorsMoveForward_ = cursorsMoveForward;
}

void cMegaListGeneric::setMiniList(std::unique_ptr<cMegaMiniListGeneric> store) { store_ = std::move(store); }

void cMegaListGeneric::endList() {
  if (!takeEndPending()) return;
  store_.reset();
  start_.reset();
  pastEnd_.reset();
}

bool cMegaListGeneric::isEmpty() const { return start_->node_ == pastEnd_->node_; }

MegaNode* cMegaListGeneric::destroyNodes(MegaNode* chain) {
  store_->destroyFloating(chain);
  return nullptr;
}

std::unique_ptr<cMegaListGeneric> cMegaListGeneric::shareRange(cMegaCursorGeneric* startCursor,
                                                               cMegaCursorGeneric* pastEndCursor) {
  MegaNode* from = (startCursor ? startCursor : start_.get())->node_;
  MegaNode* to = (pastEndCursor ? pastEndCursor : pastEnd_.get())->node_;
  std::unique_ptr<cMegaListGeneric> list = makeList();
  std::unique_ptr<cMiniListGeneric> view = store_->shareRange(from, to);
  auto* store = static_cast<cMegaMiniListGeneric*>(view.release());
  store->setOwner(list.get());
  list->store_.reset(store);
  list->init(cursorsMoveForward_);
  return list;
}

std::unique_ptr<cMegaListGeneric> cMegaListGeneric::cloneGeneric() {
  std::unique_ptr<cMegaListGeneric> list = share();
  list->isolateFromSharing();
  return list;
}

void cMegaListGeneric::isolateFromSharing() {
  store_->setBounds(start_->node_, pastEnd_->node_);
  store_->isolateFromSharing();
}

void cMegaListGeneric::node_clone(MegaNode*, MegaNode*) {}
void cMegaListGeneric::node_init(MegaNode*) {}
void cMegaListGeneric::node_end(MegaNode*) {}
void cMegaListGeneric::node_destroy(MegaNode*) {}

std::unique_ptr<cMegaCursorGeneric> cMegaListGeneric::makeCursor() { return std::make_unique<cMegaCursorGeneric>(); }

// ---------------------------------------------------------------------------
// cMegaCursorGeneric
// ---------------------------------------------------------------------------

namespace {

// Membership walk: is node an element of list? The past-end node counts only
// when the list is empty (it is then the start node).
bool isElementOf(const cMegaListGeneric* list, const MegaNode* node) {
  const MegaNode* n = list->infoStart()->infoNode();
  const MegaNode* pastEnd = list->infoPastEnd()->infoNode();
  if (n == pastEnd) return n == node;
  for (; n != pastEnd; n = n->nextNode()) {
    if (n == node) return true;
  }
  return false;
}

}  // namespace

void cMegaCursorGeneric::init(MegaNode* node, cMegaListGeneric* list, int32_t removeMode, int32_t insertMode) {
  detach();
  node_ = node;
  list_ = list;
  removeMode_ = removeMode;
  insertMode_ = insertMode;
  if (node_) attach();
}

void cMegaCursorGeneric::attach() {
  prevCursor_ = nullptr;
  nextCursor_ = node_->firstCursor;
  if (nextCursor_) nextCursor_->prevCursor_ = this;
  node_->firstCursor = this;
}

void cMegaCursorGeneric::detach() {
  if (!node_) return;
  if (prevCursor_) {
    prevCursor_->nextCursor_ = nextCursor_;
  } else if (node_->firstCursor == this) {
    node_->firstCursor = nextCursor_;
  }
  if (nextCursor_) nextCursor_->prevCursor_ = prevCursor_;
  prevCursor_ = nullptr;
  nextCursor_ = nullptr;
}

void cMegaCursorGeneric::raiseOnNoNode(const char* method) {
  raise("EMU", std::string("cMegaCursorGeneric.") + method + "(); cursor is on no node");
}

bool cMegaCursorGeneric::gotoNext() {
  requireNode("gotoNext");
  MegaNode* pastEnd = list_->infoPastEnd()->node_;
  moveTo(node_ == pastEnd ? list_->infoStart()->node_ : node_->nextNode());
  return node_ == pastEnd;
}

bool cMegaCursorGeneric::gotoPrev() {
  requireNode("gotoPrev");
  bool wrapped = node_ == list_->infoStart()->node_;
  moveTo(wrapped ? list_->infoPastEnd()->node_ : node_->prevNode());
  return wrapped;
}

void cMegaCursorGeneric::gotoCursor(const cMegaCursorGeneric& cursor) {
  if (cursor.list_ != list_ && !isElementOf(list_, cursor.node_)) {
    raise("EMU", "cMegaCursorGeneric.goto(); cursor is not in same List");
  }
  moveTo(cursor.node_);
}

bool cMegaCursorGeneric::changeList(cMegaListGeneric* list) {
  if (!isElementOf(list, node_)) return false;
  list_ = list;
  return true;
}

std::unique_ptr<cMegaCursorGeneric> cMegaCursorGeneric::clone(int32_t removeMode, int32_t insertMode) const {
  std::unique_ptr<cMegaCursorGeneric> cursor = list_->makeCursor();
  cursor->init(node_, list_, removeMode, insertMode);
  return cursor;
}

cMegaMiniListGeneric* cMegaCursorGeneric::infoMiniList() const { return list_->infoMiniList(); }

MegaNode* cMegaCursorGeneric::remove(cMegaCursorGeneric* toPastEnd, int32_t mode, bool useListDefault) {
  if (toPastEnd && toPastEnd->list_ != list_) {
    raise("EMU", "cMegaCursorGeneric.remove(); toPastEnd Cursor is not in same List");
  }
  requireNode("remove");
  int32_t ownMode = removeMode_;
  if (mode != kKeepRemoveMode) removeMode_ = mode;
  MegaNode* first = node_;
  MegaNode* after = toPastEnd ? toPastEnd->node_ : first->nextNode();
  MegaNode* before = first->prevNode();
  for (MegaNode* n = first; n != after; n = n->nextNode()) {
    for (cMegaCursorGeneric* k = n->firstCursor; k;) {
      cMegaCursorGeneric* next = k->nextCursor_;
      int32_t m = k->removeMode_;
      if (useListDefault && m == 0) m = k->list_->infoCursorsMoveForward() ? 1 : 2;
      if (m == 1) {
        k->moveTo(after);
      } else if (m != 0) {
        k->moveTo(before);
      }
      k = next;
    }
  }
  removeMode_ = ownMode;
  return static_cast<MegaNode*>(infoMiniList()->removeRange(first, toPastEnd ? toPastEnd->node_ : nullptr));
}

void cMegaCursorGeneric::destroy(cMegaCursorGeneric* toPastEnd, int32_t mode) {
  MegaNode* chain = remove(toPastEnd, mode, true);
  if (chain && chain->next == chain) {
    infoMiniList()->destroyNode(chain);  // the common single node
  } else {
    infoMiniList()->destroyFloating(chain);
  }
}

MegaNode* cMegaCursorGeneric::beforeInsert(MegaNode* floating) {
  if (!floating) return nullptr;
  requireNode("beforeInsert");
  MegaNode* target = node_;
  infoMiniList()->node_beforeInsert(target, floating);
  for (cMegaCursorGeneric* k = target->firstCursor; k;) {
    cMegaCursorGeneric* next = k->nextCursor_;
    if (k->insertMode_ == 1) k->moveTo(floating);
    k = next;
  }
  return floating;
}

MegaNode* cMegaCursorGeneric::afterInsert(MegaNode* floating) {
  if (!floating) return nullptr;
  requireNode("afterInsert");
  MegaNode* target = node_;
  infoMiniList()->node_afterInsert(target, floating);
  for (cMegaCursorGeneric* k = target->firstCursor; k;) {
    cMegaCursorGeneric* next = k->nextCursor_;
    if (k->insertMode_ == 2) k->moveTo(floating);
    k = next;
  }
  return floating;
}

}  // namespace bw
