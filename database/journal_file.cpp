// database/journal_file.cpp - cJournaledFile: transactions, the cached read
// and write paths, open, close and flush, and the commit policy.
#include "database/journal_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/exception.h"
#include "database/transaction_stack.h"
#include "platform/time.h"

namespace bw {

// The database reads the same few areas again and again (the header area,
// the index array, the list records, the newest blocks) and walks lists over
// node headers spread across the file: a read cache of up to 8 MiB below
// the file cache serves what its two chunks cannot hold.
cJournaledFile::cJournaledFile() {
  setReadCachePages(2048);
  forgetChunkNodes();
  forgetCommittedPages();
}

cJournaledFile::~cJournaledFile() {
  if (!isOpen()) {
    releaseState();
    return;
  }
  try {
    if (failed_) {
      abandonFile();
    } else {
      if (!stack_.empty()) discardChanges();
      close();
    }
  } catch (const eException& e) {
    std::printf("WARNING: cJournaledFile; %s: %s\n", e.code().c_str(), e.message().c_str());
    abandonFile();
  } catch (const std::exception& e) {
    std::printf("WARNING: cJournaledFile; %s\n", e.what());
    abandonFile();
  }
  releaseState();
}

void cJournaledFile::newFile(uint8_t padByte, int32_t commitDelay) {
  cFile::initialise(padByte);
  commitDelay_ = commitDelay;
  nextTransactionId_ = 1;
  stack_.clear();
  forgetChunkNodes();
  cache_.reset();
}

void cJournaledFile::initialise(uint8_t padByte) { newFile(padByte, 2); }

int64_t cJournaledFile::now() const { return pTime::CurrentTime(2); }

void cJournaledFile::raiseFailed(const char* method) const {
  raise("FILE", std::string("cJournaledFile.") + method + "(); an earlier commit failed");
}

// ---------------------------------------------------------------------------
// Transactions and the commit policy.
// ---------------------------------------------------------------------------

int32_t cJournaledFile::beginTransaction() {
  int32_t id = nextTransactionId_++;
  stack_.push_back(id);
  return id;
}

void cJournaledFile::finishTransaction(int32_t id) {
  popTransaction(stack_, id, [this] { discardChanges(); });
  if (!stack_.empty() || !cache_) return;
  bool due = bytesWritten_ >= kJournalForceCommitBytes || commitDelay_ == 0 ||
             (commitDelay_ > 0 && now() - lastCommitTime_ > commitDelay_);
  if (due) commit();
}

void cJournaledFile::commit() {
  if (failed_) raiseFailed("commit");
  try {
    saveJournal();
    if (afterSave_) afterSave_();
    commitTransactions();
  } catch (...) {
    failed_ = true;
    throw;
  }
}

void cJournaledFile::dropCache() {
  ++changeCount_;
  forgetChunkNodes();
  forgetCommittedPages();
  if (cache_) cache_->clear();
  logicalSize_ = committedSize_;
}

void cJournaledFile::discardChanges() {
  stack_.clear();
  if (!cache_) return;  // unopened: nothing to discard
  dropCache();
  dropReadCache();
  changesDiscarded();
}

JournalTransaction::~JournalTransaction() noexcept(false) {
  if (done_) return;
  done_ = true;
  if (std::uncaught_exceptions() > uncaught_) {
    // An inner guard or a misuse may have discarded already.
    if (file_.infoTransactionDepth() < depth_) return;
    try {
      file_.discardChanges();
    } catch (...) {
      // The exception already unwinding is the one the caller must see.
    }
    return;
  }
  file_.finishTransaction(id_);
}

void JournalTransaction::finish() {
  done_ = true;
  file_.finishTransaction(id_);
}

// ---------------------------------------------------------------------------
// Position and size.
// ---------------------------------------------------------------------------

void cJournaledFile::setPosition(int64_t position) {
  if (position < 0) position = logicalSize_ + position + 1;
  if (position < 0) raise("EMU", "cJournaledFile.setPosition(); position before start of file is illegal");
  position_ = position;
}

int64_t cJournaledFile::getPosition(bool fromEnd) { return fromEnd ? position_ - logicalSize_ - 1 : position_; }

void cJournaledFile::requireUsable(const char* method) const {
  if (failed_) raiseFailed(method);
  requireTransaction(stack_, method);
}

void cJournaledFile::setSize(int64_t sizeInBytes) {
  if (sizeInBytes < 0) raise("EMU", "cJournaledFile.setSize(); sizeInBytes<0");
  requireUsable("setSize");
  if (sizeInBytes > kJournalDataLimit) raise("EMU", "cJournaledFile.setSize(); sizeInBytes too large");
  ++changeCount_;
  logicalSize_ = sizeInBytes;
}

// ---------------------------------------------------------------------------
// Write and read.
// ---------------------------------------------------------------------------

void cJournaledFile::forgetChunkNodes() {
  lastChunkNumber_ = -1;
  lastChunkNode_ = nullptr;
  ordered_.clear();
  memoChunks_.fill(-1);
  memoNodes_.fill(nullptr);
}

transactionCacheChunkNode* cJournaledFile::rememberChunk(uint32_t slot, int32_t chunkNumber, bool make) {
  memoChunks_[slot] = chunkNumber;
  memoNodes_[slot] = make ? cache_->obtain(chunkNumber) : cache_->lookup(chunkNumber);
  return memoNodes_[slot];
}


namespace {

// Copies the first and the last sizeof(Word) bytes of n (Word <= n <= 2
// Words), which together cover all n.
template <class Word>
inline void copyEnds(uint8_t* to, const uint8_t* from, size_t n) {
  Word head, tail;
  std::memcpy(&head, from, sizeof head);
  std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
  std::memcpy(to, &head, sizeof head);
  std::memcpy(to + n - sizeof tail, &tail, sizeof tail);
}

// Copies n bytes between buffers that do not overlap. The block layers move
// a few bytes at a time (a header word, a link, an index entry): up to 16
// bytes take two loads and two stores instead of a call.
inline void copyBytes(uint8_t* to, const uint8_t* from, size_t n) {
  if (n > 16) {
    std::memcpy(to, from, n);
  } else if (n >= 8) {
    copyEnds<uint64_t>(to, from, n);
  } else if (n >= 4) {
    copyEnds<uint32_t>(to, from, n);
  } else if (n > 0) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
}

// The bitmap bits of bytes offset .. offset + length - 1 of a chunk when
// they lie in one bitmap word (most reads and writes: a header, a link, an
// index entry); word -1 when they do not.
struct WordBits {
  int32_t word;
  uint32_t mask;
};
WordBits oneWordBits(int32_t offset, int32_t length) {
  const auto first = static_cast<uint32_t>(offset);
  const auto last = static_cast<uint32_t>(offset + length - 1);
  if (first / 32 != last / 32) return {-1, 0};
  return {static_cast<int32_t>(first / 32), bitRangeMask(1u << (first % 32), 1u << (last % 32))};
}

void markBits(ChunkPayload& node, int32_t offset, int32_t length) {
  WordBits bits = oneWordBits(offset, length);
  if (bits.word < 0) {
    markCached(node, offset, length);
  } else {
    node.bitmap[static_cast<size_t>(bits.word)] |= bits.mask;
  }
}

enum class Cached { none, some, all };

// How many of the bytes offset .. offset + length - 1 of a node are cached.
Cached cachedState(const ChunkPayload& node, int32_t offset, int32_t length) {
  WordBits bits = oneWordBits(offset, length);
  if (bits.word >= 0) {
    uint32_t got = node.bitmap[static_cast<size_t>(bits.word)] & bits.mask;
    return got == bits.mask ? Cached::all : (got != 0 ? Cached::some : Cached::none);
  }
  ChunkBit first = chunkBitOf(offset);
  ChunkBit last = chunkBitOf(offset + length - 1);
  bool any = false;
  bool every = true;
  for (int32_t w = first.word; w <= last.word; ++w) {
    uint32_t want = bitRangeMask(w == first.word ? first.mask : 1u, w == last.word ? last.mask : 0x80000000u);
    uint32_t got = node.bitmap[static_cast<size_t>(w)] & want;
    any = any || got != 0;
    every = every && got == want;
  }
  return every ? Cached::all : (any ? Cached::some : Cached::none);
}

}  // namespace

WriteResult cJournaledFile::write(const void* buffer, int64_t lengthInBytes, int64_t offsetInBytes, bool noGrow) {
  if (!isOpen() || !cache_) raise("EMU", "cJournaledFile.write(); file not open");
  if (failed_) raiseFailed("write");
  if (lengthInBytes < 0) raise("EMU", "cJournaledFile.write(); lengthInBytes<0");
  if (!buffer) raise("EMU", "cJournaledFile.write(); buffer=NILA");
  if (offsetInBytes < 0) raise("EMU", "cJournaledFile.write(); offsetInBytes<0");
  requireUsable("write");
  if (position_ > kJournalDataLimit - lengthInBytes) {
    raise("EMU", "cJournaledFile.write(); position beyond the largest data area");
  }
  bytesWritten_ += lengthInBytes;
  ++changeCount_;
  int64_t notWritten = 0;
  if (!noGrow) {
    if (position_ + lengthInBytes > logicalSize_) setSize(position_ + lengthInBytes);
  } else {
    int64_t room = std::max<int64_t>(0, logicalSize_ - position_);
    notWritten = std::max<int64_t>(0, lengthInBytes - room);
    lengthInBytes -= notWritten;
  }
  const auto* from = static_cast<const uint8_t*>(buffer) + offsetInBytes;
  for (int64_t p = position_, end = position_ + lengthInBytes; p < end;) {
    ChunkPosition at = chunkOfPosition(p);
    auto* node = obtainChunk(at.chunkNumber);
    auto n = static_cast<int32_t>(std::min<int64_t>(kChunkSize - at.offset, end - p));
    std::memcpy(node->data.data() + at.offset, from + (p - position_), static_cast<size_t>(n));
    markBits(*node, at.offset, n);
    p += n;
  }
  return {position_ + lengthInBytes, notWritten};
}

int64_t cJournaledFile::committedEnd() {
  return std::min({logicalSize_, committedSize_, cFile::getSize() - kJournalHeaderSize});
}

void cJournaledFile::readCommitted(uint8_t* out, int64_t at, int64_t length) {
  if (length > kPageBytes) {
    cFile::readThrough(out, length, at + kJournalHeaderSize);
    return;
  }
  // Left unfilled: a page is read into before it is used, and zeroing 1 MiB
  // would cost every first read after an open.
  if (!pageBytes_) pageBytes_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(kPageBytes) * kPages);
  for (int64_t p = at, end = at + length; p < end;) {
    const int64_t number = p / kPageBytes;
    const uint32_t slot = static_cast<uint32_t>(number) % kPages;
    uint8_t* page = pageBytes_.get() + static_cast<size_t>(slot) * kPageBytes;
    const int64_t from = p - number * kPageBytes;
    const int64_t n = std::min(end - p, kPageBytes - from);
    if (pageNumbers_[slot] != number) {
      if (seenPageNumbers_[slot] != number) {
        seenPageNumbers_[slot] = number;
        seenPageReads_[slot] = 0;
      }
      if (seenPageReads_[slot] < kReadsBeforeKeeping) {
        ++seenPageReads_[slot];
        cFile::readThrough(out + (p - at), n, p + kJournalHeaderSize);
        p += n;
        continue;
      }
      cFile::readThrough(page, kPageBytes, number * kPageBytes + kJournalHeaderSize);
      pageNumbers_[slot] = number;
    }
    copyBytes(out + (p - at), page + from, static_cast<size_t>(n));
    p += n;
  }
}

bool cJournaledFile::readInOneChunk(uint8_t* out, int64_t length) {
  const int64_t from = position_;
  if (from + length > logicalSize_) return false;  // also keeps the chunk number in range
  ChunkPosition at = chunkOfPosition(from);
  if (at.offset + length > kChunkSize) return false;
  auto n = static_cast<int32_t>(length);
  transactionCacheChunkNode* node = lookupChunk(at.chunkNumber);
  Cached cached = node ? cachedState(*node, at.offset, n) : Cached::none;
  if (cached != Cached::all) {
    if (from + length > committedEnd()) return false;
    readCommitted(out, from, length);
  }
  if (cached == Cached::all) {
    copyBytes(out, node->data.data() + at.offset, static_cast<size_t>(n));
  } else if (cached == Cached::some) {
    chunkReader reader;
    initReadChunk(reader, node, at.offset, n);
    for (ChunkRun run = doReadChunk(reader, true); !run.finished; run = doReadChunk(reader, true)) {
      std::memcpy(out + run.fromStart, node->data.data() + run.chunkOffset, static_cast<size_t>(run.length));
    }
  }
  lastChunkNumber_ = node ? at.chunkNumber : -1;
  lastChunkNode_ = node;
  return true;
}

void cJournaledFile::readAcrossChunks(uint8_t* out, int64_t length) {
  const uint8_t pad = infoFillByte();
  if (cache_->isEmpty()) {
    // Nothing written since the last commit: the file holds every byte.
    int64_t k = std::clamp<int64_t>(committedEnd() - position_, 0, length);
    if (k > 0) readCommitted(out, position_, k);
    std::memset(out + k, pad, static_cast<size_t>(length - k));
    lastChunkNumber_ = -1;
    lastChunkNode_ = nullptr;
    return;
  }
  const int64_t e = committedEnd();
  transactionCacheChunkNode* node = nullptr;
  int32_t chunkNumber = -1;
  for (int64_t p = position_, end = position_ + length; p < end;) {
    if (p >= kJournalDataLimit) {  // no chunk can hold these: all pad
      std::memset(out + (p - position_), pad, static_cast<size_t>(end - p));
      node = nullptr;
      break;
    }
    ChunkPosition at = chunkOfPosition(p);
    chunkNumber = at.chunkNumber;
    node = lookupChunk(at.chunkNumber);
    chunkReader reader;
    initReadChunk(reader, node, at.offset, end - p);
    for (ChunkRun run = doReadChunk(reader, false); !run.finished; run = doReadChunk(reader, false)) {
      uint8_t* to = out + (p - position_) + run.fromStart;
      if (run.cached) {
        std::memcpy(to, node->data.data() + run.chunkOffset, static_cast<size_t>(run.length));
        continue;
      }
      int64_t q = p + run.fromStart;
      int64_t k = std::clamp<int64_t>(e - q, 0, run.length);
      if (k > 0) readCommitted(to, q, k);
      std::memset(to + k, pad, static_cast<size_t>(run.length - k));
    }
    p += reader.end - reader.start;
  }
  lastChunkNumber_ = node ? chunkNumber : -1;
  lastChunkNode_ = node;
}

void cJournaledFile::readAt(int64_t position, void* out, int64_t length) {
  cJournaledFile::setPosition(position);
  if (length > 0 && out && cache_ && cHostFile::isOpen() && readInOneChunk(static_cast<uint8_t*>(out), length)) return;
  cJournaledFile::read(out, length, 0, kNoStop);
}

bool cJournaledFile::readCommittedPieces(int64_t position, int64_t length, const IoPiece* pieces, int32_t count) {
  if (!cache_ || !cache_->isEmpty() || !cHostFile::isOpen() || length <= kPageBytes || position < 0 ||
      position + length > committedEnd()) {
    return false;
  }
  // What readAt leaves behind it: the position set, no chunk remembered.
  cJournaledFile::setPosition(position);
  lastChunkNumber_ = -1;
  lastChunkNode_ = nullptr;
  return cFile::readThroughPieces(position + kJournalHeaderSize, length, pieces, count);
}

void cJournaledFile::writeAt(int64_t position, const void* in, int64_t length) {
  cJournaledFile::setPosition(position);
  if (length > 0 && in && cache_ && !failed_ && !stack_.empty() && position_ + length <= logicalSize_ &&
      cHostFile::isOpen()) {
    ChunkPosition at = chunkOfPosition(position_);
    if (at.offset + length <= kChunkSize) {
      auto n = static_cast<int32_t>(length);
      bytesWritten_ += length;
      ++changeCount_;
      transactionCacheChunkNode* node = obtainChunk(at.chunkNumber);
      copyBytes(node->data.data() + at.offset, static_cast<const uint8_t*>(in), static_cast<size_t>(n));
      markBits(*node, at.offset, n);
      return;
    }
  }
  cJournaledFile::write(in, length, 0, false);
}

ReadResult cJournaledFile::read(void* buffer, int64_t lengthInBytes, int64_t offsetInBytes, int32_t terminator) {
  if (!isOpen() || !cache_) raise("EMU", "cJournaledFile.read(); file not open");
  if (lengthInBytes < 0) raise("EMU", "cJournaledFile.read(); lengthInBytes<0");
  if (!buffer) raise("EMU", "cJournaledFile.read(); buffer=NILA");
  if (offsetInBytes < 0) raise("EMU", "cJournaledFile.read(); offsetInBytes<0");
  uint8_t* out = static_cast<uint8_t*>(buffer) + offsetInBytes;
  const uint8_t pad = infoFillByte();
  if (lengthInBytes > 0 && !readInOneChunk(out, lengthInBytes)) readAcrossChunks(out, lengthInBytes);

  int64_t beyond = std::max<int64_t>(0, lengthInBytes - std::max<int64_t>(0, logicalSize_ - position_));
  // Past the end there is only the pad byte, even where a write before a
  // shrink is still cached.
  if (beyond > 0) std::memset(out + (lengthInBytes - beyond), pad, static_cast<size_t>(beyond));
  int64_t length = lengthInBytes;
  if (terminator >= 0) {
    for (int64_t i = 0; i < length; ++i) {
      if (static_cast<int8_t>(out[i]) != terminator) continue;
      int64_t realEnd = lengthInBytes - beyond;  // bytes within logicalSize
      if (realEnd > i + 1) std::memset(out + i + 1, pad, static_cast<size_t>(realEnd - (i + 1)));
      beyond = lengthInBytes - (i + 1);
      length = i + 1;
      break;
    }
  }
  return {position_ + length, beyond};
}

}  // namespace bw
