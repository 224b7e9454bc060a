// database/journal_open.cpp - cJournaledFile's open (header checks, replay,
// new files), close, flush, the abandoning close of a failed file, and copies.
#include <array>
#include <cstring>
#include <vector>

#include "core/exception.h"
#include "database/journal_file.h"
#include "platform/path.h"
#include "platform/time.h"

namespace bw {

namespace {
constexpr const char* kOpenSource = "cJournaledFile.open()";
}  // namespace

bool cJournaledFile::open(Text path, bool readOnly, bool force, bool atEnd) {
  if (isOpen()) raise("EMU", "cJournaledFile.open(); a file is already open");
  if (!stack_.empty()) raise("BUG", "cJournaledFile.open(); transactionStack<>NIL");
  if (cache_) raise("BUG", "cJournaledFile.open(); transactionCache<>NIL");
  bool existed = cPath::ExistsPath(path, false);
  if (!cFile::open(path, readOnly, force, false)) {
    setErrorSource(kOpenSource);
    return false;
  }
  // A backend other than the disk may hold files the path procedures cannot
  // see: a file with bytes in it existed.
  existed = existed || cFile::getSize() > 0;
  cache_ = std::make_unique<cMegaList_transactionCacheChunk>();
  ++changeCount_;
  forgetChunkNodes();
  bytesWritten_ = 0;
  failed_ = false;
  journalKept_ = false;
  keptTime_ = cFile::getTime();
  try {
    if (existed || readOnly) {
      if (!openExisting()) {
        abandonFile();
        releaseState();
        return false;
      }
    } else {
      committedSize_ = logicalSize_ = 0;
      journalPosition_ = kJournalHeaderSize;
      std::array<uint8_t, kJournalHeaderSize> header{};
      std::memcpy(header.data(), journalMagic.data(), journalMagic.size());
      putBig32(header.data() + kHeaderVersionOffset, kJournalVersion);
      putBig64(header.data() + kHeaderDataSizeOffset, 0);
      putBig64(header.data() + kHeaderJournalPositionOffset, kJournalHeaderSize);
      cFile::setPosition(0);
      writeChecked(header.data(), kJournalHeaderSize, false, journalSeed, 0);
      cFile::flush();
    }
    lastCommitTime_ = now();
  } catch (...) {
    abandonFile();
    releaseState();
    throw;
  }
  position_ = atEnd ? logicalSize_ : 0;
  return true;
}

// Header checks, then a pending journal is replayed or dropped. False with the
// error text set when the file must stay untouched.
bool cJournaledFile::openExisting() {
  const int64_t fileSize = cFile::getSize();
  std::array<uint8_t, kJournalHeaderSize> header{};
  cFile::setPosition(0);
  readChecked(header.data(), kJournalHeaderSize, false, journalSeed, 0);
  const char* problem = nullptr;
  int64_t dataSize = getBig64(header.data() + kHeaderDataSizeOffset);
  int64_t journalPosition = getBig64(header.data() + kHeaderJournalPositionOffset);
  if (fileSize < kJournalHeaderSize || std::memcmp(header.data(), journalMagic.data(), journalMagic.size()) != 0) {
    problem = "not a journaled file";
  } else if (getBig32(header.data() + kHeaderVersionOffset) != kJournalVersion) {
    problem = "unknown journaled file versions";
  } else if (dataSize < 0 || dataSize > fileSize - kJournalHeaderSize) {
    problem = "corrupt journal header (1)";
  } else if (journalPosition < 0) {
    problem = "corrupt journal header (2)";
  }
  if (problem) {
    setError(kOpenSource, problem);
    return false;
  }
  committedSize_ = logicalSize_ = dataSize;
  journalPosition_ = journalPosition;
  if (journalPosition_ < fileSize && loadJournal()) {
    // The journal a crash between commits leaves behind was applied by its
    // own commit (so was one whose changes all reached the file before a
    // crash): it is cut without writing anything again, and the file keeps
    // its time, as it would have without the journal.
    if (journalApplied()) dropCache();
    // Opened for reading, a journal still to apply stays in the cache.
    if (infoReadOnly()) {
      journalKept_ = infoCommitPending();
      return true;
    }
    if (infoCommitPending()) commitTransactions();
    cutAppliedJournal();
  }
  return true;
}

bool cJournaledFile::journalApplied() {
  if (logicalSize_ != committedSize_) return false;
  std::vector<uint8_t> held;
  for (transactionCacheChunkNode* node : nodesInOrder()) {
    const int64_t base = int64_t{node->chunkNumber} * kChunkSize;
    chunkReader reader;
    initReadChunk(reader, node, 0, kChunkSize);
    for (ChunkRun run = doReadChunk(reader, true); !run.finished; run = doReadChunk(reader, true)) {
      const int64_t at = base + run.chunkOffset;
      if (at + run.length > committedSize_) return false;
      held.resize(static_cast<size_t>(run.length));
      cFile::readThrough(held.data(), run.length, at + kJournalHeaderSize);
      if (std::memcmp(held.data(), node->data.data() + run.chunkOffset, static_cast<size_t>(run.length)) != 0) {
        return false;
      }
    }
  }
  return true;
}

void cJournaledFile::cutAppliedJournal() {
  const int64_t end = committedSize_ + kJournalHeaderSize;
  if (cFile::getSize() <= end) return;
  try {
    // The cut changes no byte of the data area: the file keeps its time.
    const bigTime kept = cFile::getTime();
    cFile::cutAfterSync(end);
    if (cFile::getTime() != kept) cFile::setTime(kept);
  } catch (...) {
    failed_ = true;  // as for a failing commit: the journal on disk decides
    throw;
  }
}

void cJournaledFile::releaseState() noexcept {
  ++changeCount_;
  stack_.clear();
  forgetChunkNodes();
  cache_.reset();
}

void cJournaledFile::abandonFile() noexcept {
  if (isOpen()) cFile::closeAbandoning();
}

void cJournaledFile::close() {
  if (!isOpen() || !cache_) {
    if (isOpen()) cFile::close();
    return;
  }
  if (failed_ || infoReadOnly()) {
    abandonFile();
    releaseState();
    return;
  }
  if (!stack_.empty()) {
    discardChanges();
    raise("TRAN", "cJournaledFile.close(); there were outstanding transactions");
  }
  try {
    if (infoCommitPending()) commit();
    cutAppliedJournal();
    cFile::close();
  } catch (...) {
    abandonFile();
    releaseState();
    throw;
  }
  releaseState();
}

bool cJournaledFile::setTime(bigTime time) {
  if (!infoReadOnly()) return cFile::setTime(time);
  keptTime_ = time;
  return true;
}

void cJournaledFile::closeDiscarding() {
  if (!stack_.empty()) discardChanges();
  close();
}

void cJournaledFile::flush() {
  if (!isOpen() || !cache_ || infoReadOnly()) return;
  if (failed_) raiseFailed("flush");
  if (stack_.empty() && infoCommitPending()) {
    // The commit flushed the file layer after its last write in place, so
    // there is nothing more to flush.
    commit();
    return;
  }
  try {
    cFile::flush();
  } catch (...) {
    failed_ = true;  // an fsync that failed is never retried
    throw;
  }
}

// ---------------------------------------------------------------------------
// Copies.
// ---------------------------------------------------------------------------

void cJournaledFile::copyHook(cBaseFile* copy) {
  auto* journaled = static_cast<cJournaledFile*>(copy);
  nextTransactionId_ = journaled->beginTransaction();
  journaled->setSize(0);
}

std::unique_ptr<cBaseFile> cJournaledFile::makeCopy(Text path) {
  if (!stack_.empty()) raise("EMU", "cJournaledFile.makeCopy(); there are outstanding transactions");
  int32_t keep = nextTransactionId_;
  std::unique_ptr<cBaseFile> copy;
  try {
    copy = cFile::makeCopy(path);
    if (copy) {
      auto* journaled = static_cast<cJournaledFile*>(copy.get());
      journaled->finishTransaction(nextTransactionId_);
      journaled->flush();
    }
  } catch (...) {
    nextTransactionId_ = keep;
    throw;
  }
  nextTransactionId_ = keep;
  return copy;
}

}  // namespace bw
