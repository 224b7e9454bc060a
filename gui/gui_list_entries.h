// gui/gui_list_entries.h - the row record `entry` with its owning typed list
// and cursor, the row source over such a list, and the node order that sorts
// one in a list's row order.
//
// Invariants:
//   1. An entry owns its label and box; a cMegaList_entry owns its entries
//      (autoDealloc) and refuses whatever would share them: isolateFromSharing
//      and clone raise "EMU", node_clone raises "BUG".
//   2. fEntriesFromMegaList hands each entry's label and box over (the entry
//      keeps NIL and none) and steps on; at the past-end node it yields NIL.
//   3. fGuiListSortWrapper answers the row order's sign for the two nodes'
//      entries, so a sorted cMegaList_entry is in the list's order.
#pragma once

#include <cstdint>
#include <memory>

#include "core/gui_list_functions.h"
#include "core/mega_list_family.h"
#include "core/ordering.h"

namespace bw {

class entry : public class_base {
  BW_CLASS(entry, class_base)

 public:
  entry(Str label, int32_t style, bool marked, int32_t data, std::unique_ptr<box> dataBox)
      : label(std::move(label)), style(style), marked(marked), data(data), dataBox(std::move(dataBox)) {}

  Str label;
  int32_t style;
  bool marked;
  int32_t data;
  std::unique_ptr<box> dataBox;
};

class cMegaCursor_entry : public cMegaCursor_class {
 public:
  static constexpr const char* kClassName = "cMegaCursor_entry";
  const char* className() const override { return kClassName; }
  bool isOfClass(const char* name) const override {
    return name == kClassName || cMegaCursor_class::isOfClass(name);
  }
  // The entry under the cursor, nullptr on the past-end node.
  entry* getEntry() const { return static_cast<entry*>(infoNode()->value); }
};

class cMegaList_entry : public cMegaList_class {
 public:
  static constexpr const char* kClassName = "cMegaList_entry";
  const char* className() const override { return kClassName; }
  bool isOfClass(const char* name) const override {
    return name == kClassName || cMegaList_class::isOfClass(name);
  }

  cMegaList_entry() = default;
  // The typed new: a list that owns its entries.
  explicit cMegaList_entry(bool cursorsMoveForward, Node* pastEndFloatingNode = nullptr) {
    init(cursorsMoveForward, pastEndFloatingNode, true);
  }
  // Appends an entry before the past-end node.
  void append(std::unique_ptr<entry> row) { infoPastEnd()->beforeInsert(makeFloating(row.release())); }
  // A new cursor on the first entry (the past-end node when empty).
  std::unique_ptr<cMegaCursor_entry> cursorAtStart() const {
    return std::unique_ptr<cMegaCursor_entry>(
        static_cast<cMegaCursor_entry*>(cMegaList_class::infoStart()->clone(0, 0).release()));
  }

  std::unique_ptr<cMegaListGeneric> cloneGeneric() override;
  void isolateFromSharing() override;
  void node_clone(MegaNode* copy, MegaNode* source) override;
  std::unique_ptr<cMegaListGeneric> makeList() override { return std::make_unique<cMegaList_entry>(); }
  std::unique_ptr<cMegaCursorGeneric> makeCursor() override { return std::make_unique<cMegaCursor_entry>(); }
};

// Yields the entries from a cursor on: each one's label and box go to the
// caller.
class fEntriesFromMegaList : public fGuiListEntries {
  BW_CLASS(fEntriesFromMegaList, fGuiListEntries)

 public:
  fEntriesFromMegaList* set(cMegaCursor_entry* cursor) {
    cursor_ = cursor;
    return this;
  }
  GuiListRow call() override;

 private:
  cMegaCursor_entry* cursor_ = nullptr;
};

// Orders nodes of a cMegaList_entry by a list's row order.
class fGuiListSortWrapper : public fCompareMegaNodes {
  BW_CLASS(fGuiListSortWrapper, fCompareMegaNodes)

 public:
  fGuiListSortWrapper* set(fGuiListSort* sorter) {
    sorter_ = sorter;
    return this;
  }
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override;

 private:
  fGuiListSort* sorter_ = nullptr;
};

}  // namespace bw
