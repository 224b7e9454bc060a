// database/soup_database.h - cJournaledIndexedObjectSoupDatabase: the object
// soup with object lists, the database object the application creates once.
//
// Header values it keeps (through the soup's own extra values):
//   11 headListIndex (the first list of the chain, 0 = no lists)
//   12 defragListIndex (where the list-order compaction walk stands)
//   13 flags word (bit 0: list order flag)
// Its own writeExtra/readExtra refuse callers, since it uses those values.
//
// Node headers: readObjectNodeHeader and writeObjectNodeHeader work on the
// file; a loaded node answers from its fields, and a change goes to both its
// fields and its record in the same transaction, so that every commit holds
// the links of loaded members too.
//
// The links read from the file are remembered by index with the block
// file's change count of that moment, and answered again while the count
// stays: walking a list a second time reads nothing until something changes.
// A walk (reads that follow the links answered, nothing changed between)
// reads the links of 64 neighbouring indices at a time, in file order.
//
// Invariants (kept by every operation that finishes):
//   1. The lists form one circle through listNextIndex / listPrevIndex that
//      contains headListIndex; headListIndex is 0 exactly when no list exists.
//   2. The nodes of a list run from headIndex to tailIndex through nextIndex
//      with consistent prevIndex; a node is in at most one list.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <unordered_set>
#include <vector>

#include "database/object_list.h"
#include "database/object_soup.h"

namespace bw {

struct NodeHeader {
  int32_t nextIndex = 0;
  int32_t prevIndex = 0;
};

struct CreatedList {
  cIndexedObjectList* list = nullptr;  // loaded, one use
  int32_t index = 0;
};

class cJournaledIndexedObjectSoupDatabase : public cJournaledIndexedObjectSoup {
  BW_CLASS(cJournaledIndexedObjectSoupDatabase, cJournaledIndexedObjectSoup)

 public:
  // The database's `new` (commitDelay) on "database.soup"; the application
  // passes 2.
  explicit cJournaledIndexedObjectSoupDatabase(int32_t commitDelay);
  explicit cJournaledIndexedObjectSoupDatabase(std::unique_ptr<SoupBlockFile> file);

  // Refuses a node still linked and any list (use destroyObjectList).
  void unloadAndDestroyObject(cIndexedObject* object) override;
  void writeExtra1(int64_t value) override;
  void writeExtra2(int64_t value) override;
  void writeExtra3(int64_t value) override;
  int64_t readExtra1() override;
  int64_t readExtra2() override;
  int64_t readExtra3() override;

  // --- lists -------------------------------------------------------------------------
  int32_t infoHeadListIndex();
  // Stores a new empty list as the first of the chain; loaded with one use.
  CreatedList createObjectList();
  // A fresh, unstored list (its init is the caller's).
  virtual std::unique_ptr<cIndexedObjectList> newObjectList();
  // Loads the list at index and destroys it (see unloadAndDestroyObjectList).
  void destroyObjectList(int32_t index);
  // An empty list only: unlinks it from the chain, releases and destroys it.
  void unloadAndDestroyObjectList(cIndexedObjectList* list);

  // --- node headers ----------------------------------------------------------------------
  NodeHeader readObjectNodeHeader(int32_t index);
  void writeObjectNodeHeader(int32_t index, int32_t nextIndex, int32_t prevIndex);
  // Writes a loaded node's links into its record's first 8 bytes.
  void writeLoadedObjectNodeHeader(cIndexedObjectNode* node);
  // Unlinks a node that has both neighbours, without its list record.
  void removeObjectNode(int32_t index);

  // --- compaction state ----------------------------------------------------------------------
  CompactionBlocks firstCompactionBlocks() override;
  // The list order: the oldest list's record, its nodes (head to tail, or
  // tail to head with the list flag), then the list before it in the chain,
  // back to the first list (database/soup_compact.cpp).
  int64_t decideNextDesiredBlock(int64_t lastDesired) override;
  int64_t infoDefragListIndex();
  void setDefragListIndex(int64_t value);
  bool infoListFlag() const { return (flags_ & 1) != 0; }
  // Stores the flags word and restarts the compaction walk when it changes.
  void setListFlag(bool on);

  // --- validation (database/soup_validate.cpp) ------------------------------------------
  // Empties and destroys the lists the set names (destroying their nodes
  // that it names too), then destroys what is left of the set.
  int64_t destroyUnusedObjects(ValidationSet& set, bool verbose) override;

  // The chain walk of a check-only pass alone, with the block index telling
  // which indices exist: true when the lists form their circle and every
  // list runs head to tail with consistent links, no loop and no node
  // shared, and the compaction walk stands at one of them or nowhere.
  // Reads the header, the list records and every node's header, nothing else;
  // never raises (a read that fails answers false). Findings are printed
  // when verbose.
  bool listsAgree(bool verbose);
  // The same walk with each list and node it takes shown to nodeCheck: a
  // list as (list, 0, no bytes) when the walk comes to it, then each of its
  // nodes as its list, its index and the first bytes of its record (up to
  // kCheckedRecordBytes, fewer where the record is shorter), read with its
  // header. A FALSE answer, or a raise other than the validation poll's
  // stop, answers false. What the caller checks of a list's items so costs
  // no second walk.
  static constexpr int32_t kCheckedRecordBytes = 512;
  using NodeRecordCheck = std::function<bool(int32_t list, int32_t node, std::span<const uint8_t> record)>;
  bool listsAgree(bool verbose, const NodeRecordCheck& nodeCheck);

  // In the set of indices a valid validate keeps, the lists of the chain
  // hold this value (other indices hold their block layer's).
  static constexpr intptr_t kListOfChain = 2;

  // What a caller's object model holds, for the chain walk of validate's
  // repair passes: the soup cannot tell a list's record from another, and a
  // damaged link that leads the walk to a node would have it mend the
  // node's bytes as a list's. The walk takes no index of nonLists as a list;
  // a chain whose first list it refuses starts again at the first of lists
  // that is an index and not refused (else it is dropped).
  // A repair that finds a list broken where two or more neighbouring nodes
  // were lost takes back the runs of nodes cut off between them that
  // listOfNode names as that list's (0: not known; must not raise). A node
  // that listOfNode names as another list's, or as kNoListNode (an object
  // that is no node of any list), is treated as one the list lost.
  struct ListModel {
    static constexpr int32_t kNoListNode = -1;
    std::vector<int32_t> lists;
    std::unordered_set<int32_t> nonLists;
    std::function<int32_t(int32_t node)> listOfNode;
  };
  // Asked once per repair pass whose block layers are sound, with the pass's
  // set of indices; must not raise. An empty function: no model.
  using ListModelSource = std::function<ListModel(ValidationSet& indices)>;
  void setListModelSource(ListModelSource source) { listModelSource_ = std::move(source); }

 protected:
  // The soup's pass, then the chain of lists and every list's nodes.
  ValidationResult validatePass(bool verbose, bool repair, bool keepSet) override;
  void reloadHeaderMirrors() override;

 private:
  friend class cIndexedObjectList;
  friend class ListChainCheck;
  void setHeadListIndex(int32_t index);
  // Moves autoDesiredBlock on when it names the node's block.
  void moveDesiredBlockOff(int32_t index, const char* message);
  // saveChangesToObject of a loaded list: its record is always 16 bytes, so
  // the same bytes are written in place straight from its links.
  void saveListRecord(cIndexedObjectList& list);

  // Node links read from the file, by index, valid while the block file's
  // change count equals their count.
  struct ReadLinks {
    NodeHeader links;
    uint64_t changeCount = 0;
  };
  // Kept in pieces of a fixed number of indices: the table grows with the
  // indices a walk meets without copying or faulting in what it had.
  class LinksTable {
   public:
    // The remembered entry of index (> 0), NIL when none was ever put.
    const ReadLinks* find(int32_t index) const {
      const auto piece = static_cast<size_t>(index) >> kPieceShift;
      if (piece >= pieces_.size() || !pieces_[piece]) return nullptr;
      return &pieces_[piece][static_cast<size_t>(index) & kPieceMask];
    }
    void put(int32_t index, NodeHeader links, uint64_t changeCount) {
      entries(index)[0] = {links, changeCount};
    }
    // The entries from index (> 0) on to the end of its piece, made when
    // new: a window of indices that does not cross a piece is filled
    // through one lookup.
    ReadLinks* entries(int32_t index) {
      const auto piece = static_cast<size_t>(index) >> kPieceShift;
      if (piece >= pieces_.size()) pieces_.resize(piece + 1);
      if (!pieces_[piece]) pieces_[piece] = std::make_unique<ReadLinks[]>(size_t{1} << kPieceShift);
      return &pieces_[piece][static_cast<size_t>(index) & kPieceMask];
    }
    static constexpr int32_t kPieceSize = int32_t{1} << 10;

   private:
    static constexpr unsigned kPieceShift = 10;
    static_assert(kPieceSize == int32_t{1} << kPieceShift);
    static constexpr size_t kPieceMask = (size_t{1} << kPieceShift) - 1;
    std::vector<std::unique_ptr<ReadLinks[]>> pieces_;
  };
  LinksTable readLinks_;
  // The links of index: the loaded node's, remembered ones, or read.
  NodeHeader readLinks(int32_t index, uint64_t changeCount);
  // Reads and remembers the links of the window of kLinksWindow indices
  // that holds index (those with blocks).
  void rememberLinksAround(int32_t index, uint64_t changeCount);
  static constexpr int32_t kLinksWindow = 64;
  // Reads of the node the answer before linked to, with nothing changed in
  // between, before a miss reads a window: a walk, not an unlink's few reads.
  static constexpr int32_t kWalkStepsBeforeWindow = 2;
  struct Walk {
    uint64_t changeCount = 0;
    NodeHeader last;
    int32_t steps = 0;
  };
  Walk walk_;

  uint32_t flags_ = 0;
  ListModelSource listModelSource_;
};

// The list at index with one more use: the loaded one, or a fresh list
// loaded from the file. NIL for index 0.
cIndexedObjectList* loadObject_cIndexedObjectList(cJournaledIndexedObjectSoupDatabase& soup, int32_t index);

// A use of a loaded object, given back (unloadObject) when the holder goes.
class LoadedUse {
 public:
  LoadedUse(cJournaledIndexedObjectSoup& soup, cIndexedObject* object) : soup_(soup), object_(object) {}
  LoadedUse(const LoadedUse&) = delete;
  LoadedUse& operator=(const LoadedUse&) = delete;
  // Never throws.
  ~LoadedUse() {
    try {
      soup_.unloadObject(object_);
    } catch (...) {
    }
  }

 private:
  cJournaledIndexedObjectSoup& soup_;
  cIndexedObject* object_;
};

}  // namespace bw
