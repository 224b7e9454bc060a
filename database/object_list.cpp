// database/object_list.cpp - the list record and the member operations.
#include "database/object_list.h"

#include <string>

#include "core/exception.h"
#include "database/soup_database.h"
#include "database/soup_stream.h"

namespace bw {

void cIndexedObjectList::init(cJournaledIndexedObjectSoupDatabase* soup) {
  soup_ = soup;
  setLinks({0, 0, 0, 0});
}

void cIndexedObjectList::restore(cRestoreStreamBase& stream, bool doStore) {
  if (!doStore && stream.isOfClass(cRestoreStream_any_cFile_Soup::kClassName)) {
    cJournaledIndexedObjectSoup* soup = static_cast<cRestoreStream_any_cFile_Soup&>(stream).infoSoup();
    if (soup && soup->isOfClass(cJournaledIndexedObjectSoupDatabase::kClassName)) {
      soup_ = static_cast<cJournaledIndexedObjectSoupDatabase*>(soup);
    }
  }
  headIndex_ = transferValue(stream, doStore, headIndex_);
  tailIndex_ = transferValue(stream, doStore, tailIndex_);
  listNextIndex_ = transferValue(stream, doStore, listNextIndex_);
  listPrevIndex_ = transferValue(stream, doStore, listPrevIndex_);
}

cJournaledIndexedObjectSoupDatabase& cIndexedObjectList::database(const char* method) const {
  if (!soup_) raise("EMU", std::string("cIndexedObjectList.") + method + "(); list has no database");
  soup_->requireChangeable(method);
  return *soup_;
}

void cIndexedObjectList::insertAtHead(int32_t objectIndex) {
  cJournaledIndexedObjectSoupDatabase& db = database("insertAtHead");
  Links saved = links();
  SoupTransaction transaction(db.infoBlockFile());
  try {
    if (headIndex_ == 0) {
      headIndex_ = tailIndex_ = objectIndex;
      db.saveListRecord(*this);
      db.writeObjectNodeHeader(objectIndex, 0, 0);
    } else {
      int32_t old = headIndex_;
      headIndex_ = objectIndex;
      db.saveListRecord(*this);
      db.writeObjectNodeHeader(objectIndex, old, 0);
      db.writeObjectNodeHeader(old, db.readObjectNodeHeader(old).nextIndex, objectIndex);
    }
    transaction.finish();
  } catch (...) {
    setLinks(saved);
    throw;
  }
}

void cIndexedObjectList::insertAtTail(int32_t objectIndex) {
  cJournaledIndexedObjectSoupDatabase& db = database("insertAtTail");
  if (headIndex_ == 0) {
    insertAtHead(objectIndex);
    return;
  }
  Links saved = links();
  SoupTransaction transaction(db.infoBlockFile());
  try {
    int32_t old = tailIndex_;
    tailIndex_ = objectIndex;
    db.saveListRecord(*this);
    db.writeObjectNodeHeader(objectIndex, 0, old);
    db.writeObjectNodeHeader(old, objectIndex, db.readObjectNodeHeader(old).prevIndex);
    transaction.finish();
  } catch (...) {
    setLinks(saved);
    throw;
  }
}

void cIndexedObjectList::insertAfter(int32_t objectIndex, int32_t hereIndex) {
  insertAfterNode(objectIndex, hereIndex, nullptr, 0);
}

void cIndexedObjectList::insertAfter(int32_t objectIndex, int32_t hereIndex, const NodeHeader& here,
                                     int32_t afterNext) {
  insertAfterNode(objectIndex, hereIndex, &here, afterNext);
}

void cIndexedObjectList::insertAfterNode(int32_t objectIndex, int32_t hereIndex, const NodeHeader* known,
                                         int32_t knownAfterNext) {
  cJournaledIndexedObjectSoupDatabase& db = database("insertAfter");
  if (hereIndex == 0) raise("EMU", "cIndexedObjectList.insertAfter(); hereIndex=0");
  if (hereIndex == tailIndex_) {
    insertAtTail(objectIndex);
    return;
  }
  SoupTransaction transaction(db.infoBlockFile());
  NodeHeader here = known ? *known : db.readObjectNodeHeader(hereIndex);
  int32_t after = here.nextIndex;
  db.writeObjectNodeHeader(hereIndex, objectIndex, here.prevIndex);
  db.writeObjectNodeHeader(objectIndex, after, hereIndex);
  db.writeObjectNodeHeader(after, known ? knownAfterNext : db.readObjectNodeHeader(after).nextIndex, objectIndex);
  transaction.finish();
}

void cIndexedObjectList::remove(int32_t objectIndex) { removeNode(objectIndex, nullptr, true); }

void cIndexedObjectList::removeLeavingLinks(int32_t objectIndex, const NodeHeader& links) {
  removeNode(objectIndex, &links, false);
}

void cIndexedObjectList::removeNode(int32_t objectIndex, const NodeHeader* known, bool clearLinks) {
  cJournaledIndexedObjectSoupDatabase& db = database("remove");
  NodeHeader n = known ? *known : db.readObjectNodeHeader(objectIndex);
  NodeHeader prev{}, next{};
  if (n.prevIndex != 0 && (prev = db.readObjectNodeHeader(n.prevIndex)).nextIndex != objectIndex) {
    raise("BUG", "cIndexedObjectList.remove(); previous node does not point to (next) object");
  }
  if (n.nextIndex != 0 &&
      (next = db.readObjectNodeHeader(n.nextIndex)).prevIndex != objectIndex) {
    raise("BUG", "cIndexedObjectList.remove(); next node does not point to (previous) object");
  }
  // Checked before anything changes: a node of another list is refused.
  if (n.prevIndex == 0 && headIndex_ != objectIndex) {
    raise("BUG", "cIndexedObjectList.remove(); headIndex<>objectIndex, probably object was not from this list");
  }
  if (n.nextIndex == 0 && tailIndex_ != objectIndex) {
    raise("BUG", "cIndexedObjectList.remove(); tailIndex<>objectIndex, probably object was not from this list");
  }
  Links saved = links();
  SoupTransaction transaction(db.infoBlockFile());
  try {
    db.moveDesiredBlockOff(objectIndex, "cJournaledIndexedObjectSoupDatabase.remove(); objectIndex did not exist");
    // The neighbours' links as checked above: nothing in between writes a
    // node header, except the previous node's when it is also the next.
    if (n.prevIndex == 0) {
      headIndex_ = n.nextIndex;
      db.saveListRecord(*this);
    } else {
      db.writeObjectNodeHeader(n.prevIndex, n.nextIndex, prev.prevIndex);
    }
    if (n.nextIndex == 0) {
      tailIndex_ = n.prevIndex;
      db.saveListRecord(*this);
    } else {
      if (n.nextIndex == n.prevIndex) next = db.readObjectNodeHeader(n.nextIndex);
      db.writeObjectNodeHeader(n.nextIndex, next.nextIndex, n.prevIndex);
    }
    if (clearLinks) db.writeObjectNodeHeader(objectIndex, 0, 0);
    transaction.finish();
  } catch (...) {
    setLinks(saved);
    throw;
  }
}

}  // namespace bw
