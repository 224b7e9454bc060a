// database/object_soup_arrays.cpp - raw arrays of 32-bit elements kept under
// an index: element k at data position + 4 x k, big-endian.
//
// Every element access is checked against the block's data capacity, so an
// element past the array can neither read nor overwrite the next block.
#include <string>

#include "core/exception.h"
#include "database/object_soup.h"

namespace bw {

namespace {

// The data position of an array, or "EMU" with the method's own message.
int64_t arrayPosition(SoupBlockFile& file, int32_t index, const char* method) {
  int64_t dataPosition = file.infoBlockOfIndex(index, true);
  if (dataPosition == 0) {
    raise("EMU", std::string("cJournaledIndexedObjectSoup.") + method + "(); no array matches provided index");
  }
  return dataPosition;
}

void checkElement(SoupBlockFile& file, int64_t dataPosition, int32_t element, const char* method) {
  if (element < 0 || element >= file.infoSizeOfIndexBlock(dataPosition) / 4) {
    raise("EMU", std::string("cJournaledIndexedObjectSoup.") + method + "(); element out of range");
  }
}

}  // namespace

int32_t cJournaledIndexedObjectSoup::allocArray(int32_t count, bool clear) {
  requireChangeable("allocArray");
  SoupTransaction transaction(*file_);
  SoupIndexedBlock block = file_->allocateIndexArray(count, clear);
  setUsedBytes(usedBytes_ + file_->infoSizeOfIndexBlock(block.dataPosition) + perBlockOverhead_);
  transaction.finish();
  return block.index;
}

void cJournaledIndexedObjectSoup::deallocArray(int32_t index) {
  requireChangeable("deallocArray");
  int64_t dataPosition = arrayPosition(*file_, index, "deallocArray");
  freeIndexBlock(index, dataPosition);
}

int32_t cJournaledIndexedObjectSoup::readArray(int32_t index, int32_t element) {
  requireOpen("readArray");
  int64_t dataPosition = file_->infoBlockOfIndex(index, false);
  checkElement(*file_, dataPosition, element, "readArray");
  return static_cast<int32_t>(file_->readIndexArrayElement(dataPosition, element));
}

void cJournaledIndexedObjectSoup::writeArray(int32_t index, int32_t element, int32_t value) {
  requireChangeable("writeArray");
  int64_t dataPosition = file_->infoBlockOfIndex(index, false);
  checkElement(*file_, dataPosition, element, "writeArray");
  SoupTransaction transaction(*file_);
  file_->writeIndexArrayElement(dataPosition, element, static_cast<uint32_t>(value));
  transaction.finish();
}

void cJournaledIndexedObjectSoup::resizeArray(int32_t index, int32_t newCount, int32_t oldCount, bool clear) {
  requireChangeable("resizeArray");
  int64_t dataPosition = arrayPosition(*file_, index, "resizeArray");
  SoupTransaction transaction(*file_);
  int32_t oldCapacity = file_->infoSizeOfIndexBlock(dataPosition);
  moveCompactionPositionsOff(dataPosition - 4);
  int64_t newPosition = file_->reallocateIndexArray(index, newCount, oldCount, clear);
  setUsedBytes(usedBytes_ + file_->infoSizeOfIndexBlock(newPosition) - oldCapacity);
  if (autoCompact_) compactStep(false);
  transaction.finish();
}

}  // namespace bw
