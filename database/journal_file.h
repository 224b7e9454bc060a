// database/journal_file.h - cJournaledFile: a cFile with a 28-byte header,
// nested transactions, a write cache of 960-byte chunks and a checksummed
// journal, so that every commit is all-or-nothing across process crashes and
// power loss. The bottom layer of the database ("database.soup").
//
// Invariants:
//   1. Data-area position p is file offset 28 + p. The class's own position,
//      read, write and size address the data area; physical I/O goes through
//      the cFile operations called by qualified name.
//   2. A transaction is open exactly when the stack is not empty. write and
//      setSize need one; read never does.
//   3. Right after every commit and every discard the cache is empty and
//      logicalSize == committedSize.
//   4. A commit is saveJournal then commitTransactions. No data-area byte is
//      written in place before the flush (fsync) that completes the journal,
//      so the next open finds the old contents, or a complete journal that it
//      replays to the new contents. Replaying is idempotent: the applied
//      journal stays behind the data area until close or the next open cuts
//      it, and the next commit writes its own over it (cutting what trails).
//   5. Uncommitted bytes of the data area beyond committedSize that no write
//      covered read as the pad byte, and a commit writes them as the pad byte;
//      what the file holds past its committed end never shows.
//   6. Any exception inside saveJournal or commitTransactions leaves the file
//      failed: write, setSize, commits and flush raise "FILE" "...; an earlier
//      commit failed"; close, closeDiscarding and the destructor drop the
//      file layer's unwritten chunks and close without writing. The journal
//      on disk then decides what the next open shows. A failed fsync is never
//      retried.
//   7. Every discardChanges ends with changesDiscarded(), which layers above
//      override to reload what they mirror from the file.
//   8. Opened for reading (readOnly TRUE), the file is never written, cut,
//      synced or stamped: every change stays in the cache, nothing commits,
//      and setTime keeps the time in memory. A journal an interrupted commit
//      left is replayed into the cache instead of onto the file; a discard
//      goes back to that replayed state. Close drops it all.
//
// Transactions: use JournalTransaction (below) wherever an operation opens
// its own: leaving the scope normally finishes it, an exception discards
// every uncommitted change and passes on.
//
// The commit policy reads pTime.CurrentTime form 2 (initTimerDevice must have
// run; tests stand the clock with setClockSource). The cache's default
// ordering needs journalModuleInit().
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "database/journal_format.h"
#include "database/transaction_cache.h"
#include "database/transaction_stack.h"
#include "platform/file.h"
#include "platform/file_mapping.h"

namespace bw {

// Bytes written since the last commit that force a commit at the end of the
// outermost transaction, whatever the delay.
inline constexpr int64_t kJournalForceCommitBytes = 2097152;

class cJournaledFile : public cFile {
  BW_CLASS(cJournaledFile, cFile)

 public:
  // An unopened file; initialise() or newFile() gives it its pad byte.
  cJournaledFile();
  // Ends an open file: open transactions are discarded, finished changes
  // committed, the file closed. Never throws: failures become a "WARNING: "
  // line and an abandoning close.
  ~cJournaledFile() override;

  // The class's own `new`: pad byte and commit delay (seconds; 0 commits at
  // every outermost finish, > 0 when more than that many seconds passed since
  // the last commit, < 0 only at flush and close).
  void newFile(uint8_t padByte, int32_t commitDelay);
  // newFile(padByte, 2).
  void initialise(uint8_t padByte) override;

  // Opens or creates the file (readOnly TRUE: opens an existing one for
  // reading, invariant 8); replays or drops a journal left by an
  // interrupted commit. FALSE with the error text "not a journaled file",
  // "unknown journaled file versions", "corrupt journal header (1)" or "(2)"
  // leaves the file untouched.
  using cFile::open;
  bool open(Text path, bool readOnly, bool force, bool atEnd) override;
  // Commits what waits and closes. With a transaction open: discards, raises
  // "TRAN" and stays open. Unopened: nothing.
  void close() override;
  // The close of error paths: discards open transactions, then close.
  void closeDiscarding();
  // Commits what waits unless a transaction is open, then the cFile flush.
  void flush() override;

  WriteResult write(const void* buffer, int64_t lengthInBytes, int64_t offsetInBytes, bool noGrow) override;
  ReadResult read(void* buffer, int64_t lengthInBytes, int64_t offsetInBytes, int32_t terminator) override;
  void setPosition(int64_t position) override;
  int64_t getPosition(bool fromEnd) override;
  void setSize(int64_t sizeInBytes) override;
  int64_t getSize() override { return logicalSize_; }
  // Opened for reading, the time lives in memory only (invariant 8).
  bool setTime(bigTime time) override;
  bigTime getTime() override { return infoReadOnly() ? keptTime_ : cFile::getTime(); }

  // The block layers' positioned access: setPosition(position), then read
  // (no terminator) or write (growing) of length bytes. A range inside one
  // chunk takes a short road with the general road's outcome.
  void readAt(int64_t position, void* out, int64_t length);
  // The pieces (offsets from position) of what readAt of the range would
  // read, when that read would go straight to the file: nothing written
  // since the last commit, and the range longer than a page and below the
  // committed end. False, with nothing read, otherwise.
  bool readCommittedPieces(int64_t position, int64_t length, const IoPiece* pieces, int32_t count);
  void writeAt(int64_t position, const void* in, int64_t length);

  inline int32_t beginTransaction();
  inline void finishTransaction(int32_t id);
  // Back to the last commit: stack emptied, cache cleared, logicalSize =
  // committedSize; then changesDiscarded(). Position and bytesWritten stay.
  void discardChanges();

  // Copies: a new cJournaledFile at path with this file's bytes (cached
  // changes included), committed; null when it could not be made. "EMU" with
  // a transaction open.
  std::unique_ptr<cBaseFile> makeCopy(Text path) override;
  std::unique_ptr<cBaseFile> makeFile() override { return std::make_unique<cJournaledFile>(); }
  // The copy hook: begins a transaction on the (emptied) copy and parks its
  // id in this file's nextTransactionId.
  void copyHook(cBaseFile* copy) override;

  // Checksummed raw I/O at the file's own position (header included); each
  // moves the position past its bytes and returns the checksum continued from
  // seed (0 without doChecksum).
  uint32_t writeChecked(const void* buffer, int64_t lengthInBytes, bool doChecksum, uint32_t seed,
                        int64_t offsetInBytes);
  uint32_t readChecked(void* buffer, int64_t lengthInBytes, bool doChecksum, uint32_t seed, int64_t offsetInBytes);
  uint32_t writeCheckedValue(uint32_t value, bool doChecksum, uint32_t seed);
  uint32_t writeCheckedBigValue(int64_t value, bool doChecksum, uint32_t seed);
  struct CheckedValue {
    uint32_t value;
    uint32_t checksum;
  };
  struct CheckedBigValue {
    int64_t value;
    uint32_t checksum;
  };
  CheckedValue readCheckedValue(bool doChecksum, uint32_t seed);
  CheckedBigValue readCheckedBigValue(bool doChecksum, uint32_t seed);

  void saveJournal();
  bool loadJournal();
  void commitTransactions();

  int32_t infoCommitDelay() const { return commitDelay_; }
  void setCommitDelay(int32_t seconds) { commitDelay_ = seconds; }
  int32_t infoTransactionDepth() const { return static_cast<int32_t>(stack_.size()); }
  int64_t infoCommittedSize() const { return committedSize_; }
  int64_t infoJournalPosition() const { return journalPosition_; }
  int64_t infoBytesWritten() const { return bytesWritten_; }
  // Counts length bytes toward the forced commit as a write of them would:
  // for a write its caller left out because a later one in the same
  // transaction writes the same bytes again.
  void countSkippedWrite(int64_t length) { bytesWritten_ += length; }
  // A number that moves on whenever what the data area reads may change:
  // every write and setSize, every drop of the cache (commit, discard), open
  // and close. Never 0, never back to an earlier value for this object, so
  // a layer above may keep what it read while the number stays.
  uint64_t infoChangeCount() const { return changeCount_; }
  bool infoFailed() const { return failed_; }
  bool infoCommitPending() const { return cache_ && (!cache_->isEmpty() || logicalSize_ != committedSize_); }
  const cMegaList_transactionCacheChunk* infoCache() const { return cache_.get(); }

  // Test seam: called after saveJournal and before commitTransactions; an
  // exception from it leaves the file failed like a failing commit.
  void setAfterSaveJournalHook(std::function<void()> hook) { afterSave_ = std::move(hook); }

 protected:
  // Runs at the end of every discardChanges; layers above reload their
  // mirrors of the file here. Must not throw.
  virtual void changesDiscarded() {}
  // Runs when the outermost transaction is about to finish, before it
  // leaves the stack and before its commit: layers above write here what
  // they let wait inside it.
  virtual void outerTransactionFinishing() {}

 private:
  [[noreturn]] void raiseFailed(const char* method) const;
  void requireUsable(const char* method) const;
  // saveJournal + commitTransactions; any exception marks the file failed.
  void commit();
  // Drops the cache, logicalSize back to committedSize (no hook).
  void dropCache();
  // Closes without writing anything more (failed file, failed open).
  void abandonFile() noexcept;
  void releaseState() noexcept;
  bool openExisting();
  void writeHeaderWord(int64_t offset, int64_t value);
  // A cached run of the cache: data positions at .. at + length - 1, whose
  // bytes lie in a node.
  struct CachedRun {
    int64_t at;
    const uint8_t* bytes;
    int64_t length;
  };
  // Finds every cached run of the cache (runs_), in ascending order and
  // each within one chunk, as the journal records them: the commit's walks
  // (the journal, the growth over held bytes, the writes in place) take
  // them from there instead of each walking the nodes' bitmaps again.
  void collectCachedRuns();
  // Every byte a commit writes in place at data positions from .. to - 1,
  // in ascending order: the cached runs inside the new size (data(at,
  // bytes, n)) and pad bytes wherever the area grows beyond the committed
  // size without a write (pad(at, n)). Only the runs that reach into the
  // range are visited.
  template <class Data, class Pad>
  void forEachWriteInPlace(int64_t from, int64_t to, Data&& data, Pad&& pad);
  // Writes the area's growth where it falls on bytes the file holds already
  // (the last journal, or what a crash left there), runs and pad bytes in the
  // same stretches, before the journal is synced: once the header takes the
  // new size, replaying the journal pads only beyond it, so the pads must be
  // in place by then. Without held bytes the growth lies past the end of the
  // file and reads as pad.
  void padOverHeldBytes();
  // Whether the journal loaded at open changes nothing: the size stays and
  // every record holds what the file holds already.
  bool journalApplied();
  // Cuts the journal left behind the data area by the last commit; without a
  // sync of its own, since a crash that loses the cut replays an applied
  // journal, which changes nothing.
  void cutAppliedJournal();
  // The cache's nodes in ascending chunk order (the order in which the
  // journal saves them and the commit writes them).
  std::vector<transactionCacheChunkNode*> nodesInOrder() const;
  // The end of the bytes a read takes from the file: uncached bytes from
  // here on read as the pad byte.
  int64_t committedEnd() {
    return std::min({logicalSize_, committedSize_, cFile::getSize() - kJournalHeaderSize});
  }
  // finishTransaction beyond an inner transaction's finish.
  void finishOuterTransaction(int32_t id);
  // A read that lies inside one chunk and below committedEnd (or all
  // cached): the cached bytes from the chunk's node, the rest from the file.
  // False, with nothing done, for any other read.
  bool readInOneChunk(uint8_t* out, int64_t length);
  // Every other read: chunk by chunk in runs of cached and uncached bytes.
  void readAcrossChunks(uint8_t* out, int64_t length);
  // Committed bytes at data positions at .. at + length - 1 (below
  // committedEnd), from the file.
  void readCommitted(uint8_t* out, int64_t at, int64_t length) {
    cFile::readThrough(out, length, at + kJournalHeaderSize);
  }
  // The node of a chunk: null when the chunk holds nothing (lookup), made
  // when absent (obtain).
  transactionCacheChunkNode* lookupChunk(int32_t chunkNumber) { return cache_->lookup(chunkNumber); }
  transactionCacheChunkNode* obtainChunk(int32_t chunkNumber) { return cache_->obtain(chunkNumber); }
  // Forgets every node pointer kept outside the cache (the collected runs);
  // before the cache drops or reorders its nodes.
  void forgetChunkNodes() {
    runs_.clear();
    runsCollected_ = false;
  }
  int64_t now() const;

  int32_t commitDelay_ = 2;
  int64_t lastCommitTime_ = 0;
  int32_t nextTransactionId_ = 1;
  TransactionStack stack_;
  std::unique_ptr<cMegaList_transactionCacheChunk> cache_;
  // collectCachedRuns' answer, from the journal's save to the end of the
  // commit (the replay at open, which saves no journal, collects its own).
  std::vector<CachedRun> runs_;
  bool runsCollected_ = false;
  int64_t bytesWritten_ = 0;
  uint64_t changeCount_ = 1;
  int64_t journalPosition_ = kJournalHeaderSize;
  int64_t committedSize_ = 0;
  int64_t paddedBelow_ = 0;  // padOverHeldBytes wrote the grown bytes below here
  int64_t logicalSize_ = 0;
  int64_t position_ = 0;
  bool failed_ = false;
  // Opened for reading: the replayed journal the cache goes back to at a
  // discard, and the file's time as the layers above set it.
  bool journalKept_ = false;
  bigTime keptTime_ = 0;
  std::function<void()> afterSave_;
};

// A transaction of a cJournaledFile for one scope: begun by the constructor;
// the destructor finishes it on a normal exit and, when an exception unwinds
// through it, discards every uncommitted change (discardChanges) and lets
// the exception pass on. finish() ends it early (and may raise).
class JournalTransaction {
 public:
  explicit JournalTransaction(cJournaledFile& file)
      : file_(file),
        id_(file.beginTransaction()),
        depth_(file.infoTransactionDepth()),
        uncaught_(std::uncaught_exceptions()) {}
  JournalTransaction(const JournalTransaction&) = delete;
  JournalTransaction& operator=(const JournalTransaction&) = delete;
  ~JournalTransaction() noexcept(false);

  void finish();
  int32_t id() const { return id_; }

 private:
  cJournaledFile& file_;
  int32_t id_;
  int32_t depth_;  // the stack's depth with this transaction on it
  int uncaught_;
  bool done_ = false;
};

inline int32_t cJournaledFile::beginTransaction() { return stack_.push_back(nextTransactionId_++); }

inline void cJournaledFile::finishTransaction(int32_t id) {
  // An inner transaction's finish only takes it off the stack.
  if (stack_.size() > 1 && stack_.back() == id) {
    stack_.pop_back();
    return;
  }
  finishOuterTransaction(id);
}

}  // namespace bw
