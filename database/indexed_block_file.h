// database/indexed_block_file.h - cJournaledIndexedBlockFile: a block file
// whose blocks callers know by a small, stable 1-based index instead of a
// file position. An index keeps its number while its block is reallocated or
// moved; the mapping is the index array (database/block_index.h, where the
// layout and invariants are listed), and each indexed block carries its
// entry number in its first 4 bytes.
//
// The object soup names everything it stores by index on top of this.
// Header values 6..13 of the array are that layer's persistent scalars; the
// user value of this class is header value 6 (the block file's own header
// word 1 holds the array's handle).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "database/block_file.h"
#include "database/block_index.h"
#include "database/index_validate.h"

namespace bw {

class cJournaledIndexedBlockFile : public cJournaledBlockFile {
  BW_CLASS(cJournaledIndexedBlockFile, cJournaledBlockFile)

 public:
  cJournaledIndexedBlockFile() = default;
  ~cJournaledIndexedBlockFile() override = default;

  // Opens the file, creating it with its index array (each step committed)
  // when it is new; a file left with a header area but neither blocks nor an
  // index array is completed the same way. An older array layout is
  // upgraded. FALSE when the journaled file cannot be opened or the index
  // limit is reached (the file is then closed).
  using cJournaledBlockFile::open;
  bool open(Text path, bool readOnly, bool force, bool atEnd) override;
  // The current size of the data area: openNew never cuts an indexed file
  // that open has just set up.
  int32_t infoHeaderSize() override { return static_cast<int32_t>(low32(getSize())); }

  // Header value 6 (own transaction for the write).
  void setUserValue(int64_t value) override { index_.setHeaderValue(6, value); }
  int64_t getUserValue() override { return index_.getHeaderValue(6); }

  void openIndex() { index_.openIndex(); }
  int32_t privateAllocateIndex() { return index_.privateAllocateIndex(); }
  // A new index with a block of sizeInBytes data (zeroed when clear); its
  // index and data position.
  IndexedBlock allocateIndexBlock(int32_t sizeInBytes, bool clear) { return index_.allocateIndexBlock(sizeInBytes, clear); }
  IndexedBlock allocateIndexBlockHolding(std::span<const uint8_t> record) {
    return index_.allocateIndexBlockHolding(record);
  }
  // A new index with count 32-bit elements.
  IndexedBlock allocateIndexArray(int32_t count, bool clear) { return index_.allocateIndexArray(count, clear); }
  void deallocateIndex(int32_t index) { index_.deallocateIndex(index); }
  int32_t preallocateIndex() { return index_.preallocateIndex(); }
  // A new block of newSize data bytes for the index, the first bytesToKeep
  // (at most newSize) copied; its new data position (capacity, when given,
  // receives what infoSizeOfIndexBlock answers for it).
  int64_t reallocateIndex(int32_t index, int32_t newSize, bool clear, int32_t bytesToKeep,
                          int32_t* capacity = nullptr) {
    return index_.reallocateIndex(index, newSize, clear, bytesToKeep, capacity);
  }
  int64_t reallocateIndexArray(int32_t index, int32_t newCount, int32_t oldCount, bool clear) {
    return index_.reallocateIndexArray(index, newCount, oldCount, clear);
  }
  void resizeIndexArray(int64_t newSize) { index_.resizeIndexArray(newSize); }

  int64_t infoBlockOfIndex(int32_t index, bool quiet) { return index_.infoBlockOfIndex(index, quiet); }
  void infoBlocksOfIndices(int32_t first, int32_t count, int64_t* out) {
    index_.infoBlocksOfIndices(first, count, out);
  }
  int32_t infoIndexOfBlock(int64_t dataPosition) { return index_.infoIndexOfBlock(dataPosition); }
  bool infoIsPreallocated(int32_t index) { return index_.infoIsPreallocated(index); }
  int32_t infoIndexLimit() const { return std::max(index_.arraySize() - kIndexSpecialCount, 0); }
  int32_t infoSizeOfIndexBlock(int64_t dataPosition, const uint8_t* header = nullptr) {
    return index_.infoSizeOfIndexBlock(dataPosition, header);
  }
  int64_t infoDummyBlock() const { return index_.infoDummyBlock(); }

  void setHeaderValue6(int32_t value) { setUserValue(value); }
  int32_t getHeaderValue6() { return static_cast<int32_t>(low32(getUserValue())); }
  void setHeaderValue7(int64_t value) { index_.setHeaderValue(7, value); }
  void setHeaderValue8(int64_t value) { index_.setHeaderValue(8, value); }
  void setHeaderValue9(int64_t value) { index_.setHeaderValue(9, value); }
  void setHeaderValue10(int64_t value) { index_.setHeaderValue(10, value); }
  void setHeaderValue11(int64_t value) { index_.setHeaderValue(11, value); }
  void setHeaderValue12(int64_t value) { index_.setHeaderValue(12, value); }
  void setHeaderValue13(int64_t value) { index_.setHeaderValue(13, value); }
  int64_t getHeaderValue7() { return index_.getHeaderValue(7); }
  int64_t getHeaderValue8() { return index_.getHeaderValue(8); }
  int64_t getHeaderValue9() { return index_.getHeaderValue(9); }
  int64_t getHeaderValue10() { return index_.getHeaderValue(10); }
  int64_t getHeaderValue11() { return index_.getHeaderValue(11); }
  int64_t getHeaderValue12() { return index_.getHeaderValue(12); }
  int64_t getHeaderValue13() { return index_.getHeaderValue(13); }

  uint32_t readIndexArrayElement(int64_t dataPosition, int32_t element) {
    return index_.readIndexArrayElement(dataPosition, element);
  }
  void writeIndexArrayElement(int64_t dataPosition, int32_t element, uint32_t value) {
    index_.writeIndexArrayElement(dataPosition, element, value);
  }

  int64_t readEntry(int64_t entry) { return index_.readEntry(entry); }
  void writeEntry(int64_t entry, int64_t value) { index_.writeEntry(entry, value); }

  // The index array and the index word count as overhead; a moved block's
  // entry (or the array, or the dummy block) follows it; validation checks
  // the index after the heap.
  HeapOverhead infoOverhead() override { return infoIndexedOverhead(index_); }
  MovedBlock moveBlock(int64_t handle, int64_t desiredHandle) override {
    return moveIndexedBlock(heap_, index_, handle, desiredHandle);
  }
  ValidationResult validate(bool verbose, bool repair, bool keepSets) override {
    return validateIndexedHeap(heap_, index_, verbose, repair, keepSets);
  }
  IndexOfBlock checkIndexOfBlock(int64_t handle) { return bw::checkIndexOfBlock(heap_, index_, handle); }

  std::unique_ptr<cBaseFile> makeFile() override { return std::make_unique<cJournaledIndexedBlockFile>(); }
  BlockIndex& index() { return index_; }

 protected:
  void reloadAfterCopy() override;
  void changesDiscarded() override;
  void outerTransactionFinishing() override { index_.writeWaitingValues(); }

  BlockIndex index_{heap_};
};

}  // namespace bw
