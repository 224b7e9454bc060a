// database/journaled_soup_file.h - JournaledSoupBlockFile, the soup's block
// file in the product: a cJournaledIndexedBlockFile on "database.soup" with
// pad byte 0, seen through the SoupBlockFile interface.
//
// The indexed block file rebuilds its own mirrors whenever the journaled
// file discards uncommitted changes; a private subclass then tells the soup
// (the discard listener), so the soup hears of every discard, whoever
// started it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "database/indexed_block_file.h"
#include "database/soup_block_file.h"

namespace bw {

class JournaledSoupBlockFile final : public SoupBlockFile {
 public:
  // Records larger than this are written apart from their block's first
  // bytes.
  static constexpr size_t kFramedRecordLimit = size_t{1} << 20;

  // The indexed block file's `new` (pad byte 0, commitDelay).
  explicit JournaledSoupBlockFile(int32_t commitDelay);

  // The file itself (tests give it an I/O backend; validation and
  // compaction reach the block layers through it).
  cJournaledIndexedBlockFile& file() { return file_; }
  // Test seam: how pathExists looks (a file on an in-memory I/O backend is
  // not on the disk); an empty function restores cPath::ExistsPath.
  void setPathProbe(std::function<bool(Text)> probe) { probe_ = std::move(probe); }

  bool open(Text path, bool flag) override;
  bool openForReading(Text path) override { return file_.open(path, true, false, false); }
  bool isOpen() override { return file_.isOpen(); }
  void close() override { file_.close(); }
  void closeDiscarding() override { file_.closeDiscarding(); }
  void flush() override { file_.flush(); }
  bool infoFailed() override { return file_.infoFailed(); }
  Str infoErrorSource() override;
  Str infoError() override;
  int64_t getTime() override { return file_.getTime(); }
  void setTime(int64_t time) override { file_.setTime(time); }
  int64_t getSize() override { return file_.getSize(); }
  bool pathExists(Text path) override;
  void deletePath(Text path) override;
  Str newFilePath(Text path) override;
  bool renameNewFile(Text from, Text path) override;

  int32_t beginTransaction() override { return file_.beginTransaction(); }
  void finishTransaction(int32_t id) override { file_.finishTransaction(id); }
  void discardChanges() override { file_.discardChanges(); }
  int32_t infoTransactionDepth() override { return file_.infoTransactionDepth(); }
  void setDiscardListener(std::function<void()> listener) override { file_.listener = std::move(listener); }

  void readBytes(int64_t position, void* out, int64_t length) override { file_.readAt(position, out, length); }
  void writeBytes(int64_t position, const void* in, int64_t length) override { file_.writeAt(position, in, length); }
  void countSkippedWrite(int64_t length) override { file_.countSkippedWrite(length); }
  uint64_t infoChangeCount() override { return file_.infoChangeCount(); }

  SoupIndexedBlock allocateIndexBlock(int32_t sizeInBytes, bool clear) override;
  SoupIndexedBlock allocateIndexBlockHolding(std::span<const uint8_t> record) override {
    // A large record goes in a write of its own, where the one write would
    // hold a second copy of it framed with the block's first bytes.
    if (record.size() > kFramedRecordLimit) return SoupBlockFile::allocateIndexBlockHolding(record);
    IndexedBlock b = file_.allocateIndexBlockHolding(record);
    return {b.index, b.dataPosition, b.capacity};
  }
  SoupIndexedBlock allocateIndexArray(int32_t count, bool clear) override;
  void deallocateIndex(int32_t index) override { file_.deallocateIndex(index); }
  int32_t preallocateIndex() override { return file_.preallocateIndex(); }
  SoupIndexedBlock reallocateIndex(int32_t index, int32_t newSize, bool clear, int32_t bytesToKeep) override {
    int32_t capacity = 0;
    const int64_t data = file_.reallocateIndex(index, newSize, clear, bytesToKeep, &capacity);
    return {index, data, capacity};
  }
  int64_t reallocateIndexArray(int32_t index, int32_t newCount, int32_t oldCount, bool clear) override {
    return file_.reallocateIndexArray(index, newCount, oldCount, clear);
  }
  int64_t infoBlockOfIndex(int32_t index, bool quiet) override { return file_.infoBlockOfIndex(index, quiet); }
  void infoBlocksOfIndices(int32_t first, int32_t count, int64_t* out) override {
    file_.infoBlocksOfIndices(first, count, out);
  }
  void readRecordHeads(int32_t first, int32_t count, RecordHead* out) override;
  int32_t infoIndexLimit() override { return file_.infoIndexLimit(); }
  int32_t infoSizeOfIndexBlock(int64_t dataPosition) override { return file_.infoSizeOfIndexBlock(dataPosition); }
  void readInWindows(bool on) override { file_.readInWindows(on); }
  int32_t readIndexBlockStart(int64_t dataPosition, uint8_t* out, int32_t least, int32_t most) override;
  int64_t infoDummyBlock() override { return file_.infoDummyBlock(); }
  int64_t infoFirstBlock() override { return file_.infoFirstBlock(); }
  SoupOverhead infoOverhead() override;
  int64_t infoNextUsedBlock(int64_t handle) override { return file_.infoNextUsedBlock(handle); }
  int32_t infoFreeSizeBefore(int64_t handle) override { return file_.infoFreeSizeBefore(handle); }
  MovedBlock moveBlock(int64_t handle, int64_t desiredHandle) override { return file_.moveBlock(handle, desiredHandle); }
  ValidationResult validate(bool verbose, bool repair, bool keepSets) override {
    return file_.validate(verbose, repair, keepSets);
  }

  int64_t getHeaderValue(int32_t entry) override;
  void setHeaderValue(int32_t entry, int64_t value) override;

  uint32_t readIndexArrayElement(int64_t dataPosition, int32_t element) override {
    return file_.readIndexArrayElement(dataPosition, element);
  }
  void writeIndexArrayElement(int64_t dataPosition, int32_t element, uint32_t value) override {
    file_.writeIndexArrayElement(dataPosition, element, value);
  }

 private:
  class File : public cJournaledIndexedBlockFile {
   public:
    std::function<void()> listener;

   protected:
    void changesDiscarded() override;
  };

  File file_;
  std::function<bool(Text)> probe_;
  // readRecordHeads' buffers, kept for the next window.
  struct {
    std::vector<int64_t> positions;
    std::vector<int32_t> order;
    std::vector<uint8_t> run;
    std::vector<IoPiece> pieces;
  } heads_;
};

}  // namespace bw
