// core/mega_list_sort.cpp - the list sort, and the cursors' sorted search and
// sorted insert.
//
// The list sort is a stable bottom-up merge of runs. When no cursor but the
// list's own start cursor stands on the elements, the merge runs over an
// array of the nodes and the ring is relinked once at the end: the same runs
// and comparisons as the pass-by-pass merge, so the same order, without
// moving cursors node by node. Otherwise each pass extracts the elements with
// two work cursors and appends them before the past-end node, and cursors of
// remove mode 0 travel with their nodes.
//
// Either way, an ordering that raises leaves every element in the list: the
// array form has not touched the ring yet, and the pass form puts the start
// cursor back on the first node after the list's predecessor, so the merged
// and the not yet merged elements are all between the start and past-end
// cursors again.
#include <cstdint>
#include <vector>

#include "core/exception.h"
#include "core/mega_list.h"
#include "core/mega_list_family.h"
#include "core/merge_sort.h"
#include "core/ordering.h"

namespace bw {

namespace {

struct KeyedNode {
  int32_t key;
  MegaNode* node;
};

// Relinks nodes, in order, between before and pastEnd.
void relink(MegaNode* before, const std::vector<MegaNode*>& nodes, MegaNode* pastEnd) {
  MegaNode* prev = before;
  for (MegaNode* n : nodes) {
    prev->next = n;
    n->prev = prev;
    prev = n;
  }
  prev->next = pastEnd;
  pastEnd->prev = prev;
}

}  // namespace

void cMegaListGeneric::sort(fCompareMegaNodes* compareFunction) {
  if (!compareFunction) raise("EMU", "cMegaListGeneric.sort(); compareFunction=NIL");
  if (isEmpty()) return;
  cMegaMiniListGeneric* store = store_.get();
  MegaNode* first = start_->node_;
  MegaNode* pastEndNode = pastEnd_->node_;
  MegaNode* before = first->prevNode();

  // The array form, when only the start cursor stands on the elements.
  std::vector<MegaNode*> nodes;
  bool onlyOwnCursors = true;
  for (MegaNode* n = first; n != pastEndNode; n = n->nextNode()) {
    cMegaCursorGeneric* k = n->firstCursor;
    if (k && (k != start_.get() || k->nextCursor_)) {
      onlyOwnCursors = false;
      break;
    }
    nodes.push_back(n);
  }
  if (onlyOwnCursors) {
    if (compareFunction == gCompareMegaNodes && gCompareMegaNodes) {
      // The shared default ordering, compared inline.
      std::vector<KeyedNode> keyed;
      keyed.reserve(nodes.size());
      for (MegaNode* n : nodes) keyed.push_back({cMegaMiniList::getData(n), n});
      mergeSortRuns(keyed, [](const KeyedNode& a, const KeyedNode& b) { return compareWrapping(a.key, b.key) < 0; });
      for (size_t i = 0; i < keyed.size(); ++i) nodes[i] = keyed[i].node;
    } else {
      mergeSortRuns(nodes, [&](MegaNode* a, MegaNode* b) { return compareFunction->call(store, a, b) < 0; });
    }
    relink(before, nodes, pastEndNode);
    if (store->infoStart() == first) store->setBounds(nodes.front(), store->infoPastEnd());
    start_->moveTo(nodes.front());
    return;
  }

  // The pass form.
  std::unique_ptr<cMegaCursorGeneric> a = start_->clone(1, 0);
  std::unique_ptr<cMegaCursorGeneric> b = start_->clone(1, 0);
  cMegaCursorGeneric* start = start_.get();
  cMegaCursorGeneric* pastEnd = pastEnd_.get();
  try {
    for (int64_t k = 1;; k *= 2) {
      start->moveTo(pastEndNode);
      bool single = true;
      for (;;) {
        int64_t psize = 0;
        bool qEnd = false;
        do {
          ++psize;
          b->gotoNext();
          qEnd = b->node_ == start->node_;
        } while (psize != k && !qEnd);
        int64_t qsize = k;
        while (psize > 0 || (qsize > 0 && !qEnd)) {
          bool takeB;
          if (psize == 0) {
            takeB = true;
          } else if (qsize == 0 || qEnd) {
            takeB = false;
          } else {
            takeB = compareFunction->call(store, a->node_, b->node_) < 0;
          }
          MegaNode* taken;
          if (takeB) {
            taken = b->extract(nullptr, kKeepRemoveMode);
            --qsize;
            qEnd = b->node_ == start->node_;
          } else {
            taken = a->extract(nullptr, kKeepRemoveMode);
            --psize;
          }
          pastEnd->beforeInsert(taken);
        }
        if (qEnd) break;
        single = false;
      }
      if (single) break;
    }
  } catch (...) {
    // Every node between the list's predecessor and the past-end node is an
    // element again.
    start->moveTo(before->nextNode());
    throw;
  }
}

bool cMegaCursorGeneric::sortedFind(MegaNode* match, fCompareMegaNodes* compareFunction) {
  if (!match) raise("EMU", "cMegaListGeneric.sortedFind(); match=NIL");
  if (!compareFunction) raise("EMU", "cMegaListGeneric.sortedFind(); compareFunction=NIL");
  requireNode("sortedFind");
  if (list_->isEmpty()) return false;
  cMegaMiniListGeneric* store = infoMiniList();
  if (node_ == list_->infoPastEnd()->node_) gotoPrev();
  int32_t r = compareFunction->call(store, match, node_);
  if (r < 0) {
    do {
      if (gotoNext()) {
        r = 1;
        break;
      }
      r = compareFunction->call(store, match, node_);
    } while (r < 0);
  } else if (r > 0) {
    do {
      if (gotoPrev()) break;
      r = compareFunction->call(store, match, node_);
    } while (r > 0);
    gotoNext();
  }
  return r == 0;
}

MegaNode* cMegaCursorGeneric::sortedInsert(MegaNode* floating, fCompareMegaNodes* compareFunction) {
  if (!floating) raise("EMU", "cMegaListGeneric.sortedInsert(); floating=NIL");
  if (!compareFunction) raise("EMU", "cMegaListGeneric.sortedInsert(); compareFunction=NIL");
  sortedFind(floating, compareFunction);
  return beforeInsert(floating);
}

}  // namespace bw
