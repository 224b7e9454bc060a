// database/object_soup_objects.cpp - storing, loading, saving and destroying
// objects, and the loaded-object table with its use counts.
//
// Placement rule of saveChangesToObject: a record whose size changed moves
// to a block of its own size when it no longer fits (capacity < size) or
// would leave a fifth or more of its block empty (size <= capacity / 5 x 4);
// any other size is rewritten in place and storedSize is left as it was. A
// block of capacity 100 thus keeps records of 81 to 100 bytes.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/exception.h"
#include "database/object_soup.h"

namespace bw {

namespace {

const char kNoObject[] = "cJournaledIndexedObjectSoup.loadObject(); no object matches provided index";
const char kOverrun[] = "cJournaledIndexedObjectSoup.loadObject(); record overruns its block";

const char kCreatedMismatch[] = "cJournaledIndexedObjectSoup.createdObject(); written data was not of expected length";
const char kSavedMismatch[] =
    "cJournaledIndexedObjectSoup.saveChangesToObject(); written data was not of expected length";
const char kTooLarge[] = "cJournaledIndexedObjectSoup.measure(); record too large";

}  // namespace

// The record is stored once, into the stream unbound: its size chooses the
// block, and writeRecord puts those same bytes there.
int32_t cJournaledIndexedObjectSoup::measure(cIndexedObject& object) {
  stream_.bindGather(kTooLarge);
  {
    StreamScope scope(stream_);
    object.restore(stream_, true);
  }
  return stream_.keepGathered(&object);
}

void cJournaledIndexedObjectSoup::readRecord(cIndexedObject& object) {
  int64_t dataPosition = file_->infoBlockOfIndex(object.soupIndex_, true);
  if (dataPosition == 0) raise("EMU", kNoObject);
  const int32_t capacity = file_->infoSizeOfIndexBlock(dataPosition);
  stream_.bindRecord(*file_, dataPosition, capacity, kOverrun);
  StreamScope scope(stream_);
  try {
    object.restore(stream_, false);
  } catch (const eRecordDamage&) {
    throw;
  } catch (const eException& e) {
    if (e.code() == "MEM" || e.code() == "BRK" || e.code() == "FULL" || e.code() == "FILE") throw;
    throw eRecordDamage(e.code(), e.message());
  }
  object.storedSize_ = static_cast<int32_t>(stream_.infoPosition() - dataPosition);
  notePlacement(object, dataPosition, capacity);
}

void cJournaledIndexedObjectSoup::forgetPlacements() {
  static std::atomic<uint64_t> epochs{0};
  placementEpoch_ = epochs.fetch_add(1, std::memory_order_relaxed) + 1;
}

int64_t cJournaledIndexedObjectSoup::dataPositionOf(const cIndexedObject& object) {
  return isPlaced(object) ? object.placement_.dataPosition : file_->infoBlockOfIndex(object.soupIndex_, false);
}

MovedBlock cJournaledIndexedObjectSoup::moveBlock(int64_t block, int64_t desired) {
  // A block may land in a free block a little larger than its own: usedBytes
  // follows the moved block's capacity (the index array's and the dummy
  // block's are not counted in it).
  const int32_t blockCapacity = file_->infoSizeOfIndexBlock(block + 4);
  const int32_t desiredCapacity = desired != 0 ? file_->infoSizeOfIndexBlock(desired + 4) : 0;
  MovedBlock m = file_->moveBlock(block, desired);
  if (m.handle == 0) return m;
  if (!m.copied) {
    forgetPlacements();
    return m;
  }
  // The index array and the dummy block have no index word: what their
  // first bytes name loses its placement for nothing.
  const int64_t index = int64_t{m.firstWord()} - (kIndexSpecialCount - 1);
  if (index > 0 && index <= INT32_MAX) {
    if (cIndexedObject* moved = findRegisteredObject(static_cast<int32_t>(index))) moved->placement_.epoch = 0;
    if (file_->infoBlockOfIndex(static_cast<int32_t>(index), true) == m.handle + 4) {
      const int32_t oldCapacity = m.placed ? desiredCapacity : blockCapacity;
      const int32_t newCapacity = file_->infoSizeOfIndexBlock(m.handle + 4);
      if (newCapacity != oldCapacity) setUsedBytes(usedBytes_ + newCapacity - oldCapacity);
    }
  }
  return m;
}

void cJournaledIndexedObjectSoup::writeRecord(cIndexedObject& object, int64_t dataPosition, int32_t capacity,
                                              int32_t size, const char* mismatch) {
  stream_.placeGathered(*file_, dataPosition, capacity, &object, size, mismatch);
}

void cJournaledIndexedObjectSoup::preallocateObject(cIndexedObject* object) {
  requireChangeable("preallocateObject");
  if (!object) raise("EMU", "cJournaledIndexedObjectSoup.preallocateObject(); object=NIL");
  int32_t index = file_->preallocateIndex();
  object->soupIndex_ = index;
  object->useCount_ = -1;
  registerObject(index, object);
}

int32_t cJournaledIndexedObjectSoup::createdObject(cIndexedObject* object) {
  storeCreated(object);
  object->useCount_ += 1;
  registerObject(object->soupIndex_, object);
  return object->soupIndex_;
}

void cJournaledIndexedObjectSoup::storeCreated(cIndexedObject* object) {
  requireChangeable("createdObject");
  if (!object) raise("EMU", "cJournaledIndexedObjectSoup.createdObject(); object=NIL");
  if (object->soupIndex_ != -1) raise("EMU", "cJournaledIndexedObjectSoup.createdObject(); object is already stored");
  try {
    // A store that raises discards the transaction: the soup must close, as
    // for any failure inside one.
    SoupTransaction transaction(*file_);
    int32_t size = measure(*object);
    // The block is chosen with the record in hand: it arrives with the
    // block's first bytes.
    SoupIndexedBlock block;
    stream_.placeGathered(object, size, kCreatedMismatch, [&](std::span<const uint8_t> record) {
      block = file_->allocateIndexBlockHolding(record);
    });
    object->soupIndex_ = block.index;
    object->storedSize_ = size;
    setUsedBytes(usedBytes_ + block.capacity + perBlockOverhead_);
    transaction.finish();
    notePlacement(*object, block.dataPosition, block.capacity);
  } catch (...) {
    object->soupIndex_ = -1;
    object->storedSize_ = 0;
    throw;
  }
}

int32_t cJournaledIndexedObjectSoup::createdAndUnloadObject(cIndexedObject* object) {
  if (!object || object->useCount_ != 0) {
    const int32_t index = createdObject(object);
    unloadObject(object);
    return index;
  }
  // A fresh object let go at once never needs the table: it goes as its
  // only unload would take it out of the table and delete it.
  storeCreated(object);
  const int32_t index = object->soupIndex_;
  delete object;
  return index;
}

void cJournaledIndexedObjectSoup::loadRegisteredObject(cIndexedObject* object) {
  requireOpen("loadRegisteredObject");
  if (!object) return;
  if (object->useCount_ != -1) {
    object->useCount_ += 1;
    return;
  }
  object->useCount_ = 1;
  try {
    readRecord(*object);
  } catch (...) {
    object->useCount_ = -1;
    throw;
  }
}

cIndexedObject* cJournaledIndexedObjectSoup::loadObject(int32_t index, std::unique_ptr<cIndexedObject> object) {
  requireOpen("loadObject");
  if (index == 0) return nullptr;
  if (auto* loaded = findRegisteredObject(index)) {
    object.reset();
    loadRegisteredObject(loaded);
    return loaded;
  }
  if (!object) raise("EMU", "cJournaledIndexedObjectSoup.loadObject(); object=NIL");
  // An index past every one registered so far is looked up before its bit
  // is kept: a damaged link may name any index up to 2^31, whose bit alone
  // would take 256 MB. Refused as the read would refuse it.
  if (!hasRegisteredBitFor(index) && file_->infoBlockOfIndex(index, true) == 0) raise("EMU", kNoObject);
  cIndexedObject* taken = object.get();
  taken->soupIndex_ = index;
  taken->useCount_ = 1;
  registerObject(index, object.release());
  try {
    readRecord(*taken);
  } catch (...) {
    // A record that cannot be read leaves no half-read object behind.
    table_->remove(index);
    throw;
  }
  return taken;
}

void cJournaledIndexedObjectSoup::requireOutsideTable(const cIndexedObject& object) const {
  // A reader's own object keeps the index it read last, which is seldom
  // one ever registered: its bit answers without the table's look-up.
  if (object.useCount_ != 0 ||
      (object.soupIndex_ > 0 && mayBeRegistered(object.soupIndex_) && table_->get(object.soupIndex_) == &object)) {
    raise("EMU", "cJournaledIndexedObjectSoup.readRecordInto(); object is in the table");
  }
}

void cJournaledIndexedObjectSoup::readRecordInto(int32_t index, cIndexedObject& object) {
  requireOpen("loadObject");
  requireOutsideTable(object);
  object.soupIndex_ = index;
  readRecord(object);
}

int32_t cJournaledIndexedObjectSoup::saveChangesToObject(cIndexedObject* object) {
  requireChangeable("saveChangesToObject");
  if (!object) raise("EMU", "cJournaledIndexedObjectSoup.saveChangesToObject(); object=NIL");
  int32_t index = object->soupIndex_;
  const cIndexedObject::Placement known = object->placement_;
  const bool placed = isPlaced(*object);
  int64_t dataPosition = placed ? known.dataPosition : file_->infoBlockOfIndex(index, false);
  int32_t oldStoredSize = object->storedSize_;
  int32_t size = 0;
  try {
    SoupTransaction transaction(*file_);
    size = measure(*object);
    int32_t capacity = placed ? known.capacity : file_->infoSizeOfIndexBlock(dataPosition);
    if (size != object->storedSize_ && (capacity < size || size <= (capacity / 5) * 4)) {
      moveCompactionPositionsOff(dataPosition - 4);
      const SoupIndexedBlock moved = file_->reallocateIndex(index, size, false, 0);
      dataPosition = moved.dataPosition;
      object->storedSize_ = size;
      setUsedBytes(usedBytes_ - capacity + moved.capacity);
      capacity = moved.capacity;
      if (autoCompact_) {
        // A compaction step may move the block it just got. The object's
        // placement tells, where the object is the table's: a move of the
        // block ends the placement of the object its index word names.
        notePlacement(*object, dataPosition, capacity);
        compactStep(false);
        if (!isPlaced(*object) || findRegisteredObject(index) != object) {
          dataPosition = file_->infoBlockOfIndex(index, false);
          capacity = file_->infoSizeOfIndexBlock(dataPosition);
        }
      }
    }
    writeRecord(*object, dataPosition, capacity, size, kSavedMismatch);
    transaction.finish();
    notePlacement(*object, dataPosition, capacity);
  } catch (...) {
    object->storedSize_ = oldStoredSize;
    throw;
  }
  return size;
}

void cJournaledIndexedObjectSoup::unloadObject(cIndexedObject* object) {
  if (!object) return;
  object->useCount_ -= 1;
  if (object->useCount_ > 0 || !table_) return;
  if (table_->get(object->soupIndex_) == object) table_->remove(object->soupIndex_);
}

void cJournaledIndexedObjectSoup::unloadAndDestroyObject(cIndexedObject* object) {
  requireChangeable("unloadAndDestroyObject");
  if (!object) return;
  int32_t index = object->soupIndex_;
  // Refused before anything changes: the object would still be loaded.
  if (object->useCount_ > 1) raise("EMU", "cJournaledIndexedObjectSoup.destroyObject(); specified object is still loaded");
  unloadObject(object);
  destroyObject(index);
}

void cJournaledIndexedObjectSoup::destroyObject(int32_t index) {
  requireChangeable("destroyObject");
  if (table_->get(index)) raise("EMU", "cJournaledIndexedObjectSoup.destroyObject(); specified object is still loaded");
  int64_t dataPosition = file_->infoBlockOfIndex(index, true);
  if (dataPosition == 0) raise("EMU", "cJournaledIndexedObjectSoup.destroyObject(); no object matches provided index");
  freeIndexBlock(index, dataPosition);
}

void cJournaledIndexedObjectSoup::freeIndexBlock(int32_t index, int64_t dataPosition) {
  SoupTransaction transaction(*file_);
  moveCompactionPositionsOff(dataPosition - 4);
  // Read just before the free, which reads the same header again: with no
  // write in between the block file answers that from what it read.
  const int32_t size = file_->infoSizeOfIndexBlock(dataPosition);
  file_->deallocateIndex(index);
  setUsedBytes(usedBytes_ - size - perBlockOverhead_);
  if (autoCompact_) compactStep(false);
  transaction.finish();
}

void cJournaledIndexedObjectSoup::registerObject(int32_t index, cIndexedObject* object) {
  if (index >= 0) {
    const auto word = static_cast<size_t>(index) >> 6;
    if (word >= everRegistered_.size()) everRegistered_.resize(word + 1);
    everRegistered_[word] |= uint64_t{1} << (index & 63);
  }
  table_->set(index, object);
}

}  // namespace bw
