// database/block_file.h - cJournaledBlockFile: a journaled file turned into a
// heap of variable-sized blocks. The data area starts with the 8,496-byte
// header area holding the free lists of a two-level segregated-fit
// allocator; blocks follow back to back to the end of the data area. A
// block's handle is the position of its payload, read and written through
// the file's ordinary positioned read and write.
//
// The heap's logic lives in BlockHeap (database/block_heap.h, where its
// invariants are listed); this class keeps one over its own journaled file
// and rereads the heap's mirrors whenever the file discards uncommitted
// changes. Every operation that changes the file and is meant for callers
// runs in a transaction of its own; an exception inside one discards every
// uncommitted change (the journaled file's rule) and the mirrors follow.
//
// Validation (database/block_validate.h), block moves and the walk over
// used blocks (database/block_move.h, database/block_walk.h) work on the
// same heap.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "database/block_heap.h"
#include "database/block_move.h"
#include "database/block_validate.h"
#include "database/block_walk.h"
#include "database/journal_file.h"

namespace bw {

// A BlockStore over a journaled file: data-area reads and writes at a
// position (BlockStore's inline roads), its size and its transactions.
class JournalBlockStore final : public BlockStore {
 public:
  explicit JournalBlockStore(cJournaledFile& file) : BlockStore(file), file_(file) {}
  int64_t dataSize() override { return file_.getSize(); }
  void setDataSize(int64_t size) override { file_.setSize(size); }
  uint8_t dataPadByte() override { return file_.infoFillByte(); }
  uint64_t changeCount() override { return file_.infoChangeCount(); }
  void discardChanges() override { file_.discardChanges(); }
  void flush() override { file_.flush(); }
  void closeDiscarding() override { file_.closeDiscarding(); }
  std::string storePath() override { return std::string(file_.getPath().nulView()); }

 private:
  // Never called: BlockStore reads, writes and begins and finishes
  // transactions of the file itself.
  void doReadData(int64_t position, uint8_t* out, int64_t length) override { readData(position, out, length); }
  void doWriteData(int64_t position, const uint8_t* in, int64_t length) override {
    writeData(position, in, length);
  }
  int32_t doBeginTransaction() override { return file_.beginTransaction(); }
  void doFinishTransaction(int32_t id) override { file_.finishTransaction(id); }
  cJournaledFile& file_;
};

class cJournaledBlockFile : public cJournaledFile {
  BW_CLASS(cJournaledBlockFile, cJournaledFile)

 public:
  cJournaledBlockFile() = default;
  ~cJournaledBlockFile() override = default;

  // Opens the file, creating it (and its header area, committed at once)
  // when the path does not exist or the data area is empty. FALSE when the
  // journaled file cannot be opened; "EMU" for a version other than 3 and
  // "BUG" for a class count other than 32 (the file is closed first).
  using cJournaledFile::open;
  bool open(Text path, bool readOnly, bool force, bool atEnd) override;
  // openNew: a fresh block file at path. failIfExists TRUE leaves an
  // existing path alone and answers FALSE; otherwise what stood there is
  // deleted first, and a reused file is cut to infoHeaderSize.
  bool create(Text path, bool failIfExists, bool force) override;
  bool openNew(Text path, bool failIfExists, bool force) { return create(path, failIfExists, force); }
  // The size openNew cuts a reused file to: 8496.
  virtual int32_t infoHeaderSize() { return FIRST_BLOCK_POS; }

  // --- block headers and header words (caller's transaction) ---------------------
  bool readBlockHeader(blockRecord& r, int64_t position, bool quiet) { return heap_.readBlockHeader(r, position, quiet); }
  void writeBlockHeader(const blockRecord& r) { heap_.writeBlockHeader(r); }
  void checkHeader() { heap_.checkHeader(); }
  void setTailPos(int64_t position) { heap_.setTailPos(position); }

  // --- allocation (own transaction) ---------------------------------------------
  int64_t allocate(int64_t sizeInBytes, bool clear) { return heap_.allocate(sizeInBytes, clear); }
  void deallocate(int64_t handle) { heap_.deallocate(handle); }
  void copy(int64_t destination, int64_t source, int64_t sizeInBytes) { heap_.copy(destination, source, sizeInBytes); }
  void clear(int64_t handle, int64_t sizeInBytes) { heap_.clear(handle, sizeInBytes); }
  int32_t infoSizeOfBlock(int64_t handle) { return heap_.infoSizeOfBlock(handle); }
  int64_t allocateFromFreeBlock(int32_t blockSize, const blockRecord& freeBlock, bool clear) {
    return heap_.allocateFromFreeBlock(blockSize, freeBlock, clear);
  }

  // --- arrays of 8-byte entries -----------------------------------------------------
  int64_t allocArray(int64_t count, bool clear) { return heap_.allocArray(count, clear); }
  int64_t readArrayEntry(int64_t handle, int64_t index) { return heap_.readArrayEntry(handle, index); }
  void writeArrayEntry(int64_t handle, int64_t index, int64_t value) { heap_.writeArrayEntry(handle, index, value); }
  int64_t resizeArray(int64_t handle, int64_t newCount, int64_t oldCount, bool clear) {
    return heap_.resizeArray(handle, newCount, oldCount, clear);
  }

  // Header word 1 (own transaction for the write).
  virtual void setUserValue(int64_t value) { heap_.setUserValue(value); }
  virtual int64_t getUserValue() { return heap_.getUserValue(); }

  // --- compaction ------------------------------------------------------------------
  int64_t infoFirstBlock() { return bw::infoFirstBlock(heap_); }
  int64_t infoNextUsedBlock(int64_t handle) { return bw::infoNextUsedBlock(heap_, handle); }
  int32_t infoFreeSizeBefore(int64_t handle) { return bw::infoFreeSizeBefore(heap_, handle); }
  virtual HeapOverhead infoOverhead() { return infoHeapOverhead(); }
  // Moves a block, or places the desired one before it (own transaction).
  virtual MovedBlock moveBlock(int64_t handle, int64_t desiredHandle) {
    return moveHeapBlock(heap_, handle, desiredHandle);
  }
  // Checks the file and, with repair, mends it; never raises. keepSets
  // keeps the used-block set of a valid run.
  virtual ValidationResult validate(bool verbose, bool repair, bool keepSets) {
    return validateBlockHeap(heap_, verbose, repair, keepSets);
  }

  // Copies: the file's bytes at path, committed, as an open object of this
  // class whose mirrors are read from the copy; null when it failed.
  std::unique_ptr<cBaseFile> makeCopy(Text path) override;
  std::unique_ptr<cBaseFile> makeFile() override { return std::make_unique<cJournaledBlockFile>(); }

  BlockHeap& heap() { return heap_; }

 protected:
  // Opens the journaled file beneath; isNew when its data area is empty.
  struct JournalOpen {
    bool opened = false;
    bool isNew = false;
  };
  JournalOpen openJournal(Text path, bool readOnly, bool force, bool atEnd);
  // Rereads what the object mirrors of the file (after a copy).
  virtual void reloadAfterCopy() { heap_.loadHeader(); }
  void changesDiscarded() override;

  JournalBlockStore store_{*this};
  BlockHeap heap_{store_};
};

}  // namespace bw
