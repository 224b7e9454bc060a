// database/indexed_object.cpp - the stored-object base classes.
#include "database/indexed_object.h"

#include "core/exception.h"

namespace bw {

int32_t cIndexedObject::infoSoupIndex() const {
  if (soupIndex_ == -1) raise("EMU", "cIndexedObject.infoSoupIndex(); object is not yet stored in the soup");
  return soupIndex_;
}

void cIndexedObject::restore(cRestoreStreamBase& /*stream*/, bool /*doStore*/) {}

void cIndexedObjectNode::restore(cRestoreStreamBase& stream, bool doStore) {
  nextIndex_ = transferValue(stream, doStore, nextIndex_);
  prevIndex_ = transferValue(stream, doStore, prevIndex_);
}

}  // namespace bw
