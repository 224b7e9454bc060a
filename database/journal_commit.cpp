// database/journal_commit.cpp - cJournaledFile's life on disk: open with
// header checks and replay, close and flush, the checksummed raw I/O, saving,
// loading and committing the journal, and copies.
#include <algorithm>
#include <array>
#include <cstring>

#include "core/exception.h"
#include "database/journal_file.h"
#include "platform/path.h"
#include "platform/time.h"

namespace bw {

// ---------------------------------------------------------------------------
// Checksummed raw I/O at the file's own position.
// ---------------------------------------------------------------------------

uint32_t cJournaledFile::writeChecked(const void* buffer, int64_t lengthInBytes, bool doChecksum, uint32_t seed,
                                      int64_t offsetInBytes) {
  cFile::setPosition(cFile::write(buffer, lengthInBytes, offsetInBytes, false).next);
  if (!doChecksum) return 0;
  return journalChecksum(seed, static_cast<const uint8_t*>(buffer) + offsetInBytes, static_cast<size_t>(lengthInBytes));
}

uint32_t cJournaledFile::readChecked(void* buffer, int64_t lengthInBytes, bool doChecksum, uint32_t seed,
                                     int64_t offsetInBytes) {
  cFile::setPosition(cFile::read(buffer, lengthInBytes, offsetInBytes, kNoStop).next);
  if (!doChecksum) return 0;
  return journalChecksum(seed, static_cast<const uint8_t*>(buffer) + offsetInBytes, static_cast<size_t>(lengthInBytes));
}

uint32_t cJournaledFile::writeCheckedValue(uint32_t value, bool doChecksum, uint32_t seed) {
  uint8_t bytes[4];
  putBig32(bytes, value);
  return writeChecked(bytes, 4, doChecksum, seed, 0);
}

uint32_t cJournaledFile::writeCheckedBigValue(int64_t value, bool doChecksum, uint32_t seed) {
  uint8_t bytes[8];
  putBig64(bytes, value);
  return writeChecked(bytes, 8, doChecksum, seed, 0);
}

cJournaledFile::CheckedValue cJournaledFile::readCheckedValue(bool doChecksum, uint32_t seed) {
  uint8_t bytes[4];
  uint32_t sum = readChecked(bytes, 4, doChecksum, seed, 0);
  return {getBig32(bytes), sum};
}

cJournaledFile::CheckedBigValue cJournaledFile::readCheckedBigValue(bool doChecksum, uint32_t seed) {
  uint8_t bytes[8];
  uint32_t sum = readChecked(bytes, 8, doChecksum, seed, 0);
  return {getBig64(bytes), sum};
}

void cJournaledFile::writeHeaderWord(int64_t offset, int64_t value) {
  cFile::setPosition(offset);
  writeCheckedBigValue(value, false, journalSeed);
}

// ---------------------------------------------------------------------------
// Saving, committing and loading the journal.
// ---------------------------------------------------------------------------

void cJournaledFile::saveJournal() {
  if (!infoCommitPending()) return;
  int64_t p = std::max(committedSize_, logicalSize_) + kJournalHeaderSize;
  if (p != journalPosition_) {
    journalPosition_ = p;
    writeHeaderWord(kHeaderJournalPositionOffset, p);
  }
  // Bytes a crash left past the committed end (a gap that was padded, a cut
  // that did not reach the disk) must not trail the new journal.
  if (cFile::getSize() > journalPosition_) cFile::setSize(journalPosition_);
  cFile::setPosition(journalPosition_);
  uint32_t h = writeCheckedBigValue(logicalSize_, true, journalSeed);
  writeCheckedValue(h, false, journalSeed);

  sortCache();
  if (!cache_->isEmpty()) {
    auto cursor = cache_->infoStart()->clone(0, 0);
    do {
      auto* node = cursor->infoNode();
      chunkReader reader;
      initReadChunk(reader, node, 0, kChunkSize);
      for (ChunkRun run = doReadChunk(reader, true); !run.finished; run = doReadChunk(reader, true)) {
        writeCheckedValue(kJournalRecordMarker, false, journalSeed);
        h = writeCheckedBigValue(int64_t{node->chunkNumber} * kChunkSize + run.chunkOffset, true, h);
        h = writeCheckedValue(static_cast<uint32_t>(run.length), true, h);
        writeCheckedValue(h, false, journalSeed);
        h = writeChecked(node->data.data(), run.length, true, h, run.chunkOffset);
      }
    } while (!cursor->gotoNext());
  }
  writeCheckedValue(kJournalEndMarker, false, journalSeed);
  h = writeCheckedBigValue(cFile::getPosition(false), true, h);
  writeCheckedValue(h, false, journalSeed);
  if (cFile::getSize() != cFile::getPosition(false)) {
    raise("BUG", "cJournaledFile.saveJournal(); end of journal is not end of file");
  }
  cFile::flush();
}

void cJournaledFile::sortCache() {
  fCompareMegaNodes_transactionCacheChunk ownOrdering;  // when the module is not set up
  cache_->sort(gCompareMegaNodes_transactionCacheChunk ? gCompareMegaNodes_transactionCacheChunk : &ownOrdering);
}

void cJournaledFile::writePad(int64_t from, int64_t to) {
  static constexpr int64_t kBlock = 65536;
  std::vector<uint8_t> pad(static_cast<size_t>(std::min(kBlock, to - from)), infoFillByte());
  for (int64_t q = from; q < to;) {
    int64_t n = std::min<int64_t>(kBlock, to - q);
    cFile::setPosition(q + kJournalHeaderSize);
    cFile::write(pad.data(), n, 0, false);
    q += n;
  }
}

void cJournaledFile::commitTransactions() {
  if (!infoCommitPending()) return;
  if (logicalSize_ != committedSize_) writeHeaderWord(kHeaderDataSizeOffset, logicalSize_);

  // In ascending order: the cached runs inside the new size, and pad bytes
  // wherever the area grows beyond the committed size without a write. A
  // replayed journal's records may come in any order: sort again.
  sortCache();
  int64_t padFrom = committedSize_;  // grown bytes below padFrom are done
  auto padUpTo = [&](int64_t to) {
    to = std::min(to, logicalSize_);
    if (to > padFrom) writePad(padFrom, to);
    padFrom = std::max(padFrom, to);
  };
  if (logicalSize_ > 0 && !cache_->isEmpty()) {
    const int32_t last = chunkNumberOf(logicalSize_ - 1);
    auto cursor = cache_->infoStart()->clone(0, 0);
    do {
      auto* node = cursor->infoNode();
      if (node->chunkNumber > last) break;
      const int64_t base = int64_t{node->chunkNumber} * kChunkSize;
      padUpTo(base);
      chunkReader reader;
      initReadChunk(reader, node, 0, std::min<int64_t>(kChunkSize, logicalSize_ - base));
      for (ChunkRun run = doReadChunk(reader, false); !run.finished; run = doReadChunk(reader, false)) {
        int64_t q = base + run.chunkOffset;
        if (!run.cached) {
          padUpTo(q + run.length);
          continue;
        }
        padUpTo(q);
        cFile::setPosition(q + kJournalHeaderSize);
        cFile::write(node->data.data(), run.length, run.chunkOffset, false);
        padFrom = std::max(padFrom, q + run.length);
      }
    } while (!cursor->gotoNext());
  }
  padUpTo(logicalSize_);

  cFile::flush();
  // The journal is cut off without a sync of its own: a crash that loses the
  // cut replays the journal again, which changes nothing.
  cFile::cutAfterSync(logicalSize_ + kJournalHeaderSize);
  committedSize_ = logicalSize_;
  dropCache();
  bytesWritten_ = 0;
  lastCommitTime_ = now();
}

bool cJournaledFile::loadJournal() {
  if (infoCommitPending()) raise("BUG", "cJournaledFile.loadJournal(); transactions are still pending");
  const int64_t fileSize = cFile::getSize();
  bool valid = [&] {
    cFile::setPosition(journalPosition_);
    auto newSize = readCheckedBigValue(true, journalSeed);
    uint32_t h = newSize.checksum;
    if (readCheckedValue(false, 0).value != h) return false;
    if (!journalNewSizeFits(newSize.value, journalPosition_)) return false;
    while (true) {
      uint32_t marker = readCheckedValue(false, 0).value;
      if (marker == kJournalEndMarker) break;
      if (marker != kJournalRecordMarker) return false;
      auto position = readCheckedBigValue(true, h);
      auto length = readCheckedValue(true, position.checksum);
      h = length.checksum;
      if (readCheckedValue(false, 0).value != h) return false;
      auto len = static_cast<int64_t>(static_cast<int32_t>(length.value));
      if (!journalRecordFits(position.value, len, fileSize - cFile::getPosition(false))) return false;
      for (int64_t p = position.value, end = position.value + len; p < end;) {
        ChunkPosition at = chunkOfPosition(p);
        auto* node = cache_->obtain(at.chunkNumber);
        auto n = static_cast<int32_t>(std::min<int64_t>(kChunkSize - at.offset, end - p));
        h = readChecked(node->data.data(), n, true, h, at.offset);
        markCached(*node, at.offset, n);
        p += n;
      }
    }
    int64_t endField = cFile::getPosition(false);
    auto endPosition = readCheckedBigValue(true, h);
    if (endPosition.value != endField) return false;
    if (readCheckedValue(false, 0).value != endPosition.checksum) return false;
    if (cFile::getSize() != cFile::getPosition(false)) return false;
    logicalSize_ = newSize.value;
    return true;
  }();
  if (valid) return true;
  dropCache();
  cFile::setSize(committedSize_ + kJournalHeaderSize);
  cFile::flush();
  return false;
}

}  // namespace bw
