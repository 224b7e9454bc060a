// database/object_list.h - cIndexedObjectList: a stored, doubly linked list
// of soup objects whose links are indices.
//
// Record: 16 bytes, four 32-bit big-endian values: headIndex, tailIndex,
// listNextIndex, listPrevIndex. Members are cIndexedObjectNode records whose
// first 8 bytes (the node header) hold nextIndex and prevIndex; the head has
// prevIndex 0, the tail nextIndex 0. A list is empty when headIndex is 0.
//
// All lists of a database form one circular chain through listNextIndex and
// listPrevIndex (a single list points to itself both ways); the database's
// headListIndex names the first. Lists come into being only through
// createObjectList and leave only through (unloadAnd)destroyObjectList.
//
// Every member operation runs in one transaction of the soup. The node to
// insert is already stored and in no list.
#pragma once

#include <cstdint>

#include "database/indexed_object.h"

namespace bw {

struct NodeHeader;

class cIndexedObjectList : public cIndexedObject {
  BW_CLASS(cIndexedObjectList, cIndexedObject)

 public:
  // The list's `new` (soup): clears head, tail and both chain links.
  void init(cJournaledIndexedObjectSoupDatabase* soup);

  cJournaledIndexedObjectSoupDatabase* infoSoup() const { return soup_; }
  int32_t infoExtraValue() const { return 0; }
  int32_t infoHeadIndex() const { return headIndex_; }
  int32_t infoTailIndex() const { return tailIndex_; }
  int32_t infoListNextIndex() const { return listNextIndex_; }
  int32_t infoListPrevIndex() const { return listPrevIndex_; }

  void insertAtHead(int32_t objectIndex);
  void insertAtTail(int32_t objectIndex);
  // Inserts after hereIndex; after the tail this is insertAtTail.
  void insertAfter(int32_t objectIndex, int32_t hereIndex);
  // insertAfter by a caller that holds the links of hereIndex's node as they
  // stand (here) and the next link of the node after it (afterNext): the
  // same writes, without reading those headers again.
  void insertAfter(int32_t objectIndex, int32_t hereIndex, const NodeHeader& here, int32_t afterNext);
  void remove(int32_t objectIndex);
  // remove of a node that is not loaded, whose links the caller has just
  // read from its record, except that the record keeps them: the caller
  // clears them (writeObjectNodeHeader(objectIndex, 0, 0)) before the node
  // is destroyed, where unloading a loaded node would write them.
  void removeLeavingLinks(int32_t objectIndex, const NodeHeader& links);

  // The 16-byte record. Reading through the soup's stream takes the
  // database from the stream.
  void restore(cRestoreStreamBase& stream, bool doStore) override;

 private:
  friend class cJournaledIndexedObjectSoupDatabase;
  friend class ListChainCheck;
  struct Links {
    int32_t head, tail, listNext, listPrev;
  };
  Links links() const { return {headIndex_, tailIndex_, listNextIndex_, listPrevIndex_}; }
  void setLinks(const Links& l) {
    headIndex_ = l.head;
    tailIndex_ = l.tail;
    listNextIndex_ = l.listNext;
    listPrevIndex_ = l.listPrev;
  }
  cJournaledIndexedObjectSoupDatabase& database(const char* method) const;
  // The node's links are read unless known is given, the next node's
  // unless knownNext is.
  void removeNode(int32_t objectIndex, const NodeHeader* known, bool clearLinks);
  // insertAfter; here's links are read unless known is given, and the next
  // node's next link with them.
  void insertAfterNode(int32_t objectIndex, int32_t hereIndex, const NodeHeader* known, int32_t knownAfterNext);

  cJournaledIndexedObjectSoupDatabase* soup_ = nullptr;
  int32_t headIndex_ = 0;
  int32_t tailIndex_ = 0;
  int32_t listNextIndex_ = 0;
  int32_t listPrevIndex_ = 0;
};

}  // namespace bw
