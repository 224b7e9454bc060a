// database/indexed_object.h - cIndexedObject and cIndexedObjectNode, the
// base classes of everything stored in the object soup.
//
// A stored object's record is exactly what its restore(stream, TRUE) writes;
// restore(stream, FALSE) reads the same values back in the same order. The
// soup adds nothing of its own to a record: the caller knows the class it
// loads, the record's first field is the subclass's version, and its length
// is what restore reads.
//
// Soup bookkeeping (set only by cJournaledIndexedObjectSoup):
//   soupIndex   1-based index in the soup; -1 while not stored (0 is never an
//               index: 0 means "none" everywhere).
//   useCount    loads outstanding; -1 = registered in the loaded-object table
//               but not read yet; 0 for a fresh object.
//   storedSize  byte length of the record when it was last read, created or
//               placed in a block of its own.
//   placement   where the soup last found the record's block (see
//               cJournaledIndexedObjectSoup::notePlacement).
#pragma once

#include <cstdint>

#include "core/object.h"
#include "platform/restore_stream.h"

namespace bw {

class cJournaledIndexedObjectSoup;
class cJournaledIndexedObjectSoupDatabase;

class cIndexedObject : public class_base {
  BW_CLASS(cIndexedObject, class_base)

 public:
  cIndexedObject() = default;
  cIndexedObject(const cIndexedObject&) = delete;
  cIndexedObject& operator=(const cIndexedObject&) = delete;

  // The object's index; raises "EMU" "cIndexedObject.infoSoupIndex(); object
  // is not yet stored in the soup" while it is not stored.
  int32_t infoSoupIndex() const;
  // The index, or -1 while not stored; never raises.
  int32_t soupIndexOrNone() const { return soupIndex_; }
  int32_t infoUseCount() const { return useCount_; }
  int32_t infoStoredSize() const { return storedSize_; }
  // isOfClass(cIndexedObjectNode::kClassName) without the virtual walk.
  bool infoIsNode() const { return isNode_; }

  // Writes (doStore) or reads the object's whole record through the stream.
  // The base record is empty.
  virtual void restore(cRestoreStreamBase& stream, bool doStore);

 protected:
  // Set by cIndexedObjectNode alone.
  explicit cIndexedObject(bool isNode) : isNode_(isNode) {}

 private:
  friend class cJournaledIndexedObjectSoup;
  int32_t soupIndex_ = -1;
  int32_t useCount_ = 0;
  int32_t storedSize_ = 0;
  bool isNode_ = false;
  struct Placement {
    int64_t dataPosition = 0;
    int32_t capacity = 0;
    int32_t index = 0;
    uint64_t epoch = 0;  // 0: none
  };
  Placement placement_;
};

// A member of an object list. Its record begins with the node header:
// nextIndex, prevIndex (32 bits each, big-endian), 0 = none. Subclasses call this
// restore first.
class cIndexedObjectNode : public cIndexedObject {
  BW_CLASS(cIndexedObjectNode, cIndexedObject)

 public:
  cIndexedObjectNode() : cIndexedObject(true) {}
  int32_t infoNextIndex() const { return nextIndex_; }
  int32_t infoPrevIndex() const { return prevIndex_; }
  // Changes the links in memory only; they reach the file when the object is
  // saved (or through writeLoadedObjectNodeHeader).
  void setNodeHeader(int32_t nextIndex, int32_t prevIndex) {
    nextIndex_ = nextIndex;
    prevIndex_ = prevIndex;
  }

  void restore(cRestoreStreamBase& stream, bool doStore) override;

 private:
  friend class cJournaledIndexedObjectSoup;
  friend class cJournaledIndexedObjectSoupDatabase;
  int32_t nextIndex_ = 0;
  int32_t prevIndex_ = 0;
};

}  // namespace bw
