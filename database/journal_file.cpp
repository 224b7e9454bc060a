// database/journal_file.cpp - cJournaledFile: transactions, the cached read
// and write paths, open, close and flush, and the commit policy.
#include "database/journal_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/exception.h"
#include "database/chunk_runs.h"
#include "platform/time.h"

namespace bw {

// The database reads the same few areas again and again (the header area,
// the index array, the list records, the newest blocks) and walks lists over
// node headers spread across the file: the read cache below the file (its
// mapping, or up to 8 MiB of pages where it cannot be mapped) serves them.
cJournaledFile::cJournaledFile() {
  setReadCachePages(2048);
  forgetChunkNodes();
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

void cJournaledFile::finishOuterTransaction(int32_t id) {
  if (stack_.size() == 1 && stack_.back() == id) outerTransactionFinishing();
  popTransaction(stack_, id, [this] { discardChanges(); });
  if (!stack_.empty() || !cache_) return;
  bool due = bytesWritten_ >= kJournalForceCommitBytes || commitDelay_ == 0 ||
             (commitDelay_ > 0 && now() - lastCommitTime_ > commitDelay_);
  if (due && !infoReadOnly()) commit();
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
  if (cache_) cache_->clear();
  logicalSize_ = committedSize_;
}

void cJournaledFile::discardChanges() {
  stack_.clear();
  if (!cache_) return;  // unopened: nothing to discard
  dropCache();
  dropReadCache();
  // Opened for reading, the journal replayed at open is the last commit.
  if (journalKept_ && !loadJournal()) raise("BUG", "cJournaledFile.discardChanges(); the kept journal no longer loads");
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


namespace {

// A gathered read (readCommittedPieces) pays for ranges longer than a page.
constexpr int64_t kGatherAbove = 4096;

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
  // The first and the last pair of words in part, the pairs between whole:
  // what every pair has (with the bits outside the range set) and what any
  // has. A chunk is 15 pairs.
  const auto first = static_cast<uint32_t>(offset);
  const auto last = static_cast<uint32_t>(offset + length - 1);
  const uint64_t firstMask = ~uint64_t{0} << (first % 64);
  const uint64_t lastMask = ~uint64_t{0} >> (63 - last % 64);
  const uint64_t firstBits = bitmapPair(node, first / 64);
  const uint64_t lastBits = bitmapPair(node, last / 64);
  uint64_t every, any;
  if (first / 64 == last / 64) {
    every = firstBits | ~(firstMask & lastMask);
    any = firstBits & firstMask & lastMask;
  } else {
    every = (firstBits | ~firstMask) & (lastBits | ~lastMask);
    any = (firstBits & firstMask) | (lastBits & lastMask);
  }
  for (uint32_t p = first / 64 + 1; p < last / 64; ++p) {
    const uint64_t pair = bitmapPair(node, p);
    every &= pair;
    any |= pair;
  }
  return every == ~uint64_t{0} ? Cached::all : (any != 0 ? Cached::some : Cached::none);
}

// Copies the cached bytes of offset .. offset + length - 1 of a node over
// out (which holds the range's other bytes already).
void overlayCachedRuns(uint8_t* out, const ChunkPayload& node, int32_t offset, int32_t length) {
  forEachRun<true>(&node, offset, offset + length, [&](int32_t at, int32_t n, bool) {
    std::memcpy(out + (at - offset), node.data.data() + at, static_cast<size_t>(n));
  });
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
    std::memcpy(out, node->data.data() + at.offset, static_cast<size_t>(n));
  } else if (cached == Cached::some) {
    overlayCachedRuns(out, *node, at.offset, n);
  }
  return true;
}

void cJournaledFile::readAcrossChunks(uint8_t* out, int64_t length) {
  const uint8_t pad = infoFillByte();
  const int64_t e = committedEnd();
  const int64_t start = position_;
  const int64_t end = start + length;
  // The bytes at q .. q + n - 1 that no write covered: the file's up to e,
  // pad bytes beyond.
  auto uncached = [&](int64_t q, int64_t n) {
    uint8_t* to = out + (q - start);
    const int64_t k = std::clamp<int64_t>(e - q, 0, n);
    if (k > 0) readCommitted(to, q, k);
    std::memset(to + k, pad, static_cast<size_t>(n - k));
  };
  // Chunks that hold nothing join one stretch read from the file; with
  // nothing written since the last commit, that is the whole range.
  const bool anyCached = !cache_->isEmpty();
  int64_t stretch = start;
  for (int64_t p = start; p < end && p < kJournalDataLimit;) {
    const ChunkPosition at = chunkOfPosition(p);
    const auto n = static_cast<int32_t>(std::min<int64_t>(kChunkSize - at.offset, end - p));
    const transactionCacheChunkNode* node = anyCached ? lookupChunk(at.chunkNumber) : nullptr;
    if (node) {
      // A chunk in part cached ends a stretch that takes its bytes too, and
      // its cached bytes go over them: one read from the file, not one a run.
      const Cached cached = cachedState(*node, at.offset, n);
      if (cached == Cached::all) {
        if (p > stretch) uncached(stretch, p - stretch);
        std::memcpy(out + (p - start), node->data.data() + at.offset, static_cast<size_t>(n));
        stretch = p + n;
      } else if (cached == Cached::some) {
        uncached(stretch, p + n - stretch);
        overlayCachedRuns(out + (p - start), *node, at.offset, n);
        stretch = p + n;
      }
    }
    p += n;
  }
  // Beyond the largest data area no chunk holds anything: pad bytes.
  if (end > stretch) uncached(stretch, end - stretch);
}

void cJournaledFile::readAt(int64_t position, void* out, int64_t length) {
  cJournaledFile::setPosition(position);
  if (length > 0 && out && cache_ && cHostFile::isOpen()) {
    auto* bytes = static_cast<uint8_t*>(out);
    if (readInOneChunk(bytes, length)) return;
    // Within the size read() comes to the same: its chunk walk, with no
    // pad bytes beyond and no terminator.
    if (length <= logicalSize_ - position_) {
      readAcrossChunks(bytes, length);
      return;
    }
  }
  cJournaledFile::read(out, length, 0, kNoStop);
}

bool cJournaledFile::readCommittedPieces(int64_t position, int64_t length, const IoPiece* pieces, int32_t count) {
  if (!cache_ || !cache_->isEmpty() || !cHostFile::isOpen() || length <= kGatherAbove || position < 0 ||
      position + length > committedEnd()) {
    return false;
  }
  // What readAt leaves behind it: the position set.
  cJournaledFile::setPosition(position);
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
      std::memcpy(node->data.data() + at.offset, in, static_cast<size_t>(n));
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
