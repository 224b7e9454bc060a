// database/memory_block_store.h - a BlockStore held in memory, for the tests,
// fuzzers and benchmarks of the block heap and the index. Writes go straight
// to the data vector; an undo log of the bytes they replaced lets a discard
// return to the last commit, and a commit (the end of the outermost
// transaction, or a flush) just drops the log.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "database/block_store.h"

namespace bw {

class MemoryBlockStore : public BlockStore {
 public:
  explicit MemoryBlockStore(uint8_t padByte = 0) : pad_(padByte) {}

  int64_t dataSize() override { return static_cast<int64_t>(data_.size()); }
  void setDataSize(int64_t size) override;
  uint8_t dataPadByte() override { return pad_; }
  uint64_t changeCount() override { return changes_; }
  void discardChanges() override;
  void flush() override;
  void closeDiscarding() override;
  std::string storePath() override { return path_; }

  // --- for tests ---------------------------------------------------------------
  void setPath(std::string path) { path_ = std::move(path); }
  void setDiscardHook(std::function<void()> hook) { discardHook_ = std::move(hook); }
  // The committed image (what a crash would leave) and the current one.
  const std::vector<uint8_t>& committed();
  const std::vector<uint8_t>& current() const { return data_; }
  // Makes image the committed and current contents (a reopen after a crash).
  void replaceCommitted(std::vector<uint8_t> image);
  int64_t readCalls() const { return readCalls_; }
  int64_t writeCalls() const { return writeCalls_; }
  int64_t largestWrite() const { return largestWrite_; }
  int32_t transactionsBegun() const { return nextId_ - 1; }
  int openTransactions() const { return static_cast<int>(stack_.size()); }
  bool closed() const { return closed_; }

 protected:
  void doReadData(int64_t position, uint8_t* out, int64_t length) override;
  void doWriteData(int64_t position, const uint8_t* in, int64_t length) override;
  int32_t doBeginTransaction() override;
  void doFinishTransaction(int32_t id) override;

 private:
  // One step back: the bytes at position before a write, or the size (and
  // the bytes cut off) before a size change.
  struct Undo {
    bool resize;
    int64_t position;  // write position, or the size before the change
    std::vector<uint8_t> bytes;
  };
  static void applyUndo(std::vector<uint8_t>& data, const std::vector<Undo>& log);

  uint8_t pad_;
  std::vector<uint8_t> data_;
  std::vector<Undo> undo_;
  std::vector<uint8_t> snapshot_;
  std::vector<int32_t> stack_;
  int32_t nextId_ = 1;
  int64_t readCalls_ = 0;
  int64_t writeCalls_ = 0;
  int64_t largestWrite_ = 0;
  uint64_t changes_ = 1;
  bool closed_ = false;
  std::string path_ = "memory";
  std::function<void()> discardHook_;
};

}  // namespace bw
