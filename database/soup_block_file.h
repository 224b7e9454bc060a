// database/soup_block_file.h - what the object soup needs of the indexed
// block file beneath it, as one narrow interface.
//
// The soup owns exactly one SoupBlockFile. In the product it is the
// journaled indexed block file on "database.soup" (JournaledSoupBlockFile);
// the soup's unit tests use an in-memory fake. Names and meanings follow the
// indexed block file's own operations.
//
// Contract:
//   1. Positions are data-area positions of the block file. An index's data
//      position is its block's handle + 4; its data capacity is the block's
//      payload size - 4 (the index word comes first).
//   2. readBytes/writeBytes move no position; writeBytes needs a transaction.
//   3. discardChanges empties the transaction stack and returns the file to
//      its last commit. Every discard, whoever starts it (a transaction guard,
//      a "TRAN" of finishTransaction or close), ends by calling the discard
//      listener once the file's own mirrors are rebuilt. The listener must
//      not throw.
//   4. Header values 6..13 belong to the layer above; 7..13 are 64-bit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>
#include <functional>

#include "core/str.h"
#include "database/block_move.h"
#include "database/block_validate.h"

namespace bw {

// An index with the data position of its new block and the block's
// capacity (what infoSizeOfIndexBlock answers for it).
struct SoupIndexedBlock {
  int32_t index = 0;
  int64_t dataPosition = 0;
  int32_t capacity = 0;
};

// The first bytes of an index's record, as readBytes answers them;
// dataPosition 0 when the index has no block.
struct RecordHead {
  int64_t dataPosition = 0;
  uint8_t bytes[8] = {};
};

// The indexed block file's overhead figures: the fixed bytes of the header
// area and the index array, and the bytes each block costs beyond its data.
struct SoupOverhead {
  int64_t fixedBytes = 0;
  int32_t perBlock = 0;
};

class SoupBlockFile {
 public:
  virtual ~SoupBlockFile() = default;

  // --- the file -----------------------------------------------------------------
  // The indexed block file's open (path, readOnly FALSE, flag, atEnd FALSE).
  virtual bool open(Text path, bool flag) = 0;
  // The same for reading an existing file only: it is never written (every
  // change stays in memory until the close drops it).
  virtual bool openForReading(Text path) = 0;
  virtual bool isOpen() = 0;
  // Commits what waits and closes. With a transaction open: discards,
  // raises "TRAN" and stays open.
  virtual void close() = 0;
  // Discards open transactions, then closes; writes nothing more when the
  // file has failed.
  virtual void closeDiscarding() = 0;
  // Commits what waits unless a transaction is open.
  virtual void flush() = 0;
  // True once a commit failed; the file then refuses every change.
  virtual bool infoFailed() = 0;
  virtual Str infoErrorSource() = 0;
  virtual Str infoError() = 0;
  // The file's time (seconds since 2000); setTime applies at the next flush
  // or close.
  virtual int64_t getTime() = 0;
  virtual void setTime(int64_t time) = 0;
  // The data area's logical size.
  virtual int64_t getSize() = 0;
  // Whether something exists at path, and deleting it (openNew).
  virtual bool pathExists(Text path) = 0;
  virtual void deletePath(Text path) = 0;
  // Where a new file for path is made before it takes its name: a name that
  // did not exist, "<file name>_New_<process id><number>" in the same folder,
  // which no other process makes; path itself where files cannot be renamed
  // (files on a test backend). Such files that killed runs left behind, that
  // no run holds open and whose process is gone, are removed first.
  virtual Str newFilePath(Text path) = 0;
  // Gives a closed new file the name path: renames, never replacing what
  // exists at path, and makes the new name durable (the folder's sync).
  // FALSE when path exists or the rename failed; from then stays.
  virtual bool renameNewFile(Text from, Text path) = 0;

  // --- transactions ---------------------------------------------------------------
  virtual int32_t beginTransaction() = 0;
  virtual void finishTransaction(int32_t id) = 0;
  virtual void discardChanges() = 0;
  virtual int32_t infoTransactionDepth() = 0;
  virtual void setDiscardListener(std::function<void()> listener) = 0;

  // --- bytes --------------------------------------------------------------------
  virtual void readBytes(int64_t position, void* out, int64_t length) = 0;
  virtual void writeBytes(int64_t position, const void* in, int64_t length) = 0;
  // A write of length bytes left out because a later one in the same
  // transaction writes them again: counted as the write would have been
  // where the count decides a commit (the journaled file's forced commit).
  virtual void countSkippedWrite(int64_t length) { (void)length; }
  // A number that stays the same exactly as long as every byte readBytes
  // answers stays the same (any change, discard, open or close moves it on;
  // it never comes back to an earlier value and is never 0). What the soup
  // read while it stays may be answered again without reading.
  virtual uint64_t infoChangeCount() = 0;

  // --- indices (each in a transaction of its own) -----------------------------------
  virtual SoupIndexedBlock allocateIndexBlock(int32_t sizeInBytes, bool clear) = 0;
  // A new index whose block holds record: allocateIndexBlock of its size,
  // then record written at the data position (the journaled file writes
  // the block's first bytes and the record in one write where it can).
  virtual SoupIndexedBlock allocateIndexBlockHolding(std::span<const uint8_t> record) {
    const SoupIndexedBlock block = allocateIndexBlock(static_cast<int32_t>(record.size()), false);
    if (!record.empty()) writeBytes(block.dataPosition, record.data(), static_cast<int64_t>(record.size()));
    return block;
  }
  // A block of (count + 1) x 4 bytes: the index word and count 32-bit
  // elements.
  virtual SoupIndexedBlock allocateIndexArray(int32_t count, bool clear) = 0;
  virtual void deallocateIndex(int32_t index) = 0;
  virtual int32_t preallocateIndex() = 0;
  // The index's new block (its data position and capacity); bytesToKeep of
  // the old data are copied.
  virtual SoupIndexedBlock reallocateIndex(int32_t index, int32_t newSize, bool clear, int32_t bytesToKeep) = 0;
  virtual int64_t reallocateIndexArray(int32_t index, int32_t newCount, int32_t oldCount, bool clear) = 0;
  // The data position of index; 0 when it has no block (quiet), else "EMU".
  virtual int64_t infoBlockOfIndex(int32_t index, bool quiet) = 0;
  // The quiet infoBlockOfIndex of first .. first + count - 1 into out[0 ..
  // count - 1]; the journaled file reads the entries at once.
  virtual void infoBlocksOfIndices(int32_t first, int32_t count, int64_t* out) {
    for (int32_t k = 0; k < count; ++k) out[k] = infoBlockOfIndex(first + k, true);
  }
  // The record heads of first .. first + count - 1 into out[0 .. count - 1];
  // never raises for an index without a block. One by one here; the
  // journaled file reads the entries at once and the records in file order.
  virtual void readRecordHeads(int32_t first, int32_t count, RecordHead* out) {
    for (int32_t k = 0; k < count; ++k) {
      out[k] = RecordHead{};
      out[k].dataPosition = infoBlockOfIndex(first + k, true);
      if (out[k].dataPosition != 0) readBytes(out[k].dataPosition, out[k].bytes, sizeof out[k].bytes);
    }
  }
  // The highest index the index array has room for: every allocated index
  // lies in 1 .. infoIndexLimit(). 0 when not known.
  virtual int32_t infoIndexLimit() { return 0; }
  virtual int32_t infoSizeOfIndexBlock(int64_t dataPosition) = 0;
  // The first bytes of the block at dataPosition into out: as many as its
  // payload size (infoSizeOfIndexBlock, which raises as there) clamped to
  // least .. most; answers how many. The journaled file reads the block's
  // header with them in one read.
  virtual int32_t readIndexBlockStart(int64_t dataPosition, uint8_t* out, int32_t least, int32_t most) {
    const int32_t n = std::clamp(infoSizeOfIndexBlock(dataPosition), least, most);
    readBytes(dataPosition, out, n);
    return n;
  }
  // For a walk that reads once through much of the file (HostIo::
  // readInWindows); nothing here.
  virtual void readInWindows(bool on) { (void)on; }
  virtual int64_t infoDummyBlock() = 0;
  virtual int64_t infoFirstBlock() = 0;
  virtual SoupOverhead infoOverhead() = 0;

  // --- compaction and validation: the indexed block file's own ------------------------
  // The next used block after handle in file order, 0 at the end.
  virtual int64_t infoNextUsedBlock(int64_t handle) = 0;
  // The payload size of the free block just before handle, else 0.
  virtual int32_t infoFreeSizeBefore(int64_t handle) = 0;
  // Moves a block, or places the desired block before it (own transaction);
  // index entries follow the block that moved.
  virtual MovedBlock moveBlock(int64_t handle, int64_t desiredHandle) = 0;
  // The heap's and the index's validation; never raises.
  virtual ValidationResult validate(bool verbose, bool repair, bool keepSets) = 0;

  // --- header values 6..13 (each set in a transaction of its own) ----------------------
  virtual int64_t getHeaderValue(int32_t entry) = 0;
  virtual void setHeaderValue(int32_t entry, int64_t value) = 0;

  // --- 32-bit elements of an index array (unchecked) --------------------------------
  virtual uint32_t readIndexArrayElement(int64_t dataPosition, int32_t element) = 0;
  virtual void writeIndexArrayElement(int64_t dataPosition, int32_t element, uint32_t value) = 0;
};

// One transaction of a SoupBlockFile for one scope. finish() ends it; when
// the scope is left without finish() (an exception unwinding), every
// uncommitted change is discarded unless a discard already emptied the
// stack, so no half-done operation is ever committed later.
class SoupTransaction {
 public:
  explicit SoupTransaction(SoupBlockFile& file)
      : file_(file), id_(file.beginTransaction()), depth_(file.infoTransactionDepth()) {}
  SoupTransaction(const SoupTransaction&) = delete;
  SoupTransaction& operator=(const SoupTransaction&) = delete;
  ~SoupTransaction() {
    if (!finished_ && file_.infoTransactionDepth() >= depth_) file_.discardChanges();
  }
  void finish() {
    finished_ = true;
    file_.finishTransaction(id_);
  }

 private:
  SoupBlockFile& file_;
  int32_t id_;
  int32_t depth_;
  bool finished_ = false;
};

}  // namespace bw
