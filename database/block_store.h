// database/block_store.h - what the block heap and the index need of the file
// beneath them: positioned reads and writes of the data area, its size, nested
// transactions with a discard that returns to the last commit, and a flush.
//
// The journaled block files implement it over their journaled file; tests,
// fuzzers and benchmarks use MemoryBlockStore. Over a journaled file, reads,
// writes and the transactions' begin and finish go to the file inline (the
// block layers make millions of accesses of a few bytes each, most in a
// transaction of their own); other stores answer them through doReadData,
// doWriteData, doBeginTransaction and doFinishTransaction.
//
// Contract:
//   1. readData beyond the end delivers the pad byte; writeData grows the data
//      area as needed. Both need a position >= 0.
//   2. writeData and setDataSize are allowed only inside a transaction.
//   3. discardChanges empties the transaction stack and returns the data area
//      to its last committed contents; afterwards the store calls the owner's
//      discard hook so that mirrors of the data are reread.
//   4. changeCount moves on with every change of what readData answers,
//      whoever makes it (a write, a size change, a discard, a reopen), and
//      never comes back to an earlier value; what was read may be answered
//      again while it stands. 0: the store does not count.
#pragma once

#include <cstdint>
#include <string>

#include "database/journal_file.h"

namespace bw {

class BlockStore {
 public:
  virtual ~BlockStore() = default;

  // A negative position would count from the end of a journaled file.
  void readData(int64_t position, uint8_t* out, int64_t length) {
    if (!journal_) return doReadData(position, out, length);
    if (position < 0) refuseNegative("cJournaledBlockFile.read(); position<0");
    if (length > 0) journal_->readAt(position, out, length);
  }
  void writeData(int64_t position, const uint8_t* in, int64_t length) {
    if (!journal_) return doWriteData(position, in, length);
    if (position < 0) refuseNegative("cJournaledBlockFile.write(); position<0");
    if (length > 0) journal_->writeAt(position, in, length);
  }
  virtual int64_t dataSize() = 0;
  virtual void setDataSize(int64_t size) = 0;
  virtual uint8_t dataPadByte() = 0;
  virtual uint64_t changeCount() { return 0; }

  int32_t beginTransaction() { return journal_ ? journal_->beginTransaction() : doBeginTransaction(); }
  // Whether a transaction of a journaled file that has not failed is open: a
  // write of a word that would take a transaction of its own may go into
  // that one instead, or wait for a later point of it, with the same
  // outcome. Always false for other stores.
  bool insideTransaction() const {
    return journal_ && journal_->infoTransactionDepth() > 0 && !journal_->infoFailed();
  }
  // Counts bytes toward a journaled file's forced commit as a write of them
  // would (cJournaledFile::countSkippedWrite); nothing for other stores.
  void countSkippedWrite(int64_t length) {
    if (journal_) journal_->countSkippedWrite(length);
  }
  void finishTransaction(int32_t id) {
    if (!journal_) return doFinishTransaction(id);
    journal_->finishTransaction(id);
  }
  virtual void discardChanges() = 0;
  // Commits what waits (no transaction may be open).
  virtual void flush() = 0;
  // Discards open transactions and closes the file (error paths).
  virtual void closeDiscarding() = 0;
  // The path shown in messages.
  virtual std::string storePath() = 0;

 protected:
  BlockStore() = default;
  // A store over a journaled file: readData and writeData go to it.
  explicit BlockStore(cJournaledFile& journal) : journal_(&journal) {}
  virtual void doReadData(int64_t position, uint8_t* out, int64_t length) = 0;
  virtual void doWriteData(int64_t position, const uint8_t* in, int64_t length) = 0;
  virtual int32_t doBeginTransaction() = 0;
  virtual void doFinishTransaction(int32_t id) = 0;

 private:
  // Raises "EMU" with the message.
  [[noreturn]] static void refuseNegative(const char* message);
  cJournaledFile* const journal_ = nullptr;
};

// One transaction of a store for the length of a scope. finish() ends it
// normally; leaving the scope without finish() (an exception unwinding)
// discards every uncommitted change, so no half-done operation survives in
// the cache to be committed later.
class BlockTransaction {
 public:
  explicit BlockTransaction(BlockStore& store) : store_(store), id_(store.beginTransaction()) {}
  BlockTransaction(const BlockTransaction&) = delete;
  BlockTransaction& operator=(const BlockTransaction&) = delete;
  ~BlockTransaction() {
    if (!finished_) store_.discardChanges();
  }
  void finish() {
    finished_ = true;
    store_.finishTransaction(id_);
  }

 private:
  BlockStore& store_;
  int32_t id_;
  bool finished_ = false;
};

}  // namespace bw
