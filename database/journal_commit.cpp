// database/journal_commit.cpp - cJournaledFile's life on disk: open with
// header checks and replay, close and flush, the checksummed raw I/O, saving,
// loading and committing the journal, and copies.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "core/exception.h"
#include "database/chunk_runs.h"
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
  uint8_t bytes[8];
  putBig64(bytes, value);
  cFile::writeThrough(bytes, 8, offset);
}

// ---------------------------------------------------------------------------
// Saving, committing and loading the journal.
// ---------------------------------------------------------------------------

namespace {

// The runs from which a commit bridges the gaps between its writes in place.
constexpr size_t kBridgingRuns = 64;

// Gathers bytes bound for consecutive file offsets and writes each stretch
// straight to the host file with one write: a commit costs one write for the
// journal and one for each stretch of changed bytes. A bridging writer also
// joins bytes that start on the page where its stretch ends, or on the next
// one, to the stretch, with the gap's bytes as the file holds them: the
// write dirties no page the two writes would not have, and what lies between
// goes back as it was. The changes in place of a large commit (list links a
// few hundred bytes apart, mostly) take a write call per page or so, not one
// per change; a commit of a few runs writes each on its own, as the bytes of
// its gaps would cost more than the calls they save. Its first room holds
// the bytes the commit expects to gather, up to a whole stretch: a small
// commit takes no more memory than it needs.
class StretchWriter {
 public:
  enum class Gaps { kCut, kBridge };
  StretchWriter(cFile& file, int64_t expected, Gaps gaps = Gaps::kCut)
      : file_(file),
        gaps_(gaps),
        firstRoom_(static_cast<size_t>(std::clamp<int64_t>(expected, 0, int64_t{kStretch})) + kSlack) {}
  void put(int64_t at, const uint8_t* bytes, int64_t n) {
    std::memcpy(room(at, n), bytes, static_cast<size_t>(n));
    if (used_ >= kStretch) flush();
  }
  void fill(int64_t at, uint8_t byte, int64_t n) {
    for (int64_t k = 0; n > 0; at += k, n -= k) {
      k = std::min<int64_t>(n, kStretch);
      std::memset(room(at, k), byte, static_cast<size_t>(k));
      if (used_ >= kStretch) flush();
    }
  }
  void flush() {
    if (used_ == 0) return;
    file_.writeThrough(bytes_.get(), static_cast<int64_t>(used_), start_);
    used_ = 0;
  }

 private:
  static constexpr size_t kStretch = 1048576;  // bounds the memory a large commit needs
  static constexpr int64_t kHostPage = 4096;   // the unit in which the host writes a file back
  // Beyond a stretch: a run and a bridged gap.
  static constexpr size_t kSlack = kChunkSize + 2 * kHostPage;
  // Where n bytes bound for file offset at go: behind the stretch when it
  // ends there (or bridges to there), else at the start of a new one (the
  // old one written first).
  uint8_t* room(int64_t at, int64_t n) {
    if (used_ != 0 && at != start_ + static_cast<int64_t>(used_) && !bridged(at)) flush();
    if (used_ == 0) start_ = at;
    return grow(n);
  }
  // n more bytes at the stretch's end.
  uint8_t* grow(int64_t n) {
    const size_t need = used_ + static_cast<size_t>(n);
    if (need > capacity_) reserve(need);
    uint8_t* to = bytes_.get() + used_;
    used_ = need;
    return to;
  }
  // Whether the gap from the stretch's end to at joined the stretch
  // (bridging, and the gap on the pages of the stretch's end and of at,
  // within what the file holds). Out of line, as reserve: the journal's
  // save puts thousands of short runs and never bridges.
  [[gnu::noinline]] bool bridged(int64_t at) {
    const int64_t end = start_ + static_cast<int64_t>(used_);
    if (gaps_ != Gaps::kBridge || at < end || at / kHostPage > (end - 1) / kHostPage + 1) return false;
    if (used_ + static_cast<size_t>(at - end) > capacity_) reserve(used_ + static_cast<size_t>(at - end));
    if (!file_.readThroughWithin(bytes_.get() + used_, at - end, end)) return false;
    used_ += static_cast<size_t>(at - end);
    return true;
  }
  [[gnu::noinline]] void reserve(size_t need) {
    // Left unfilled: only the used bytes are ever read. A commit that
    // gathers what it expected never copies its runs into a larger room.
    capacity_ = std::max({need, 2 * capacity_, firstRoom_});
    auto grown = std::make_unique_for_overwrite<uint8_t[]>(capacity_);
    if (used_ > 0) std::memcpy(grown.get(), bytes_.get(), used_);
    bytes_ = std::move(grown);
  }
  cFile& file_;
  Gaps gaps_;
  size_t firstRoom_;
  std::unique_ptr<uint8_t[]> bytes_;  // the stretch is its first used_ bytes
  size_t capacity_ = 0;
  size_t used_ = 0;
  int64_t start_ = 0;
};

}  // namespace

void cJournaledFile::saveJournal() {
  if (!infoCommitPending()) return;
  int64_t p = std::max(committedSize_, logicalSize_) + kJournalHeaderSize;
  if (p != journalPosition_) {
    journalPosition_ = p;
    writeHeaderWord(kHeaderJournalPositionOffset, p);
  }
  // The journal goes over whatever lies past the data area (the last
  // commit's journal, left in place, or what a crash left there): writing
  // into blocks the file already has is cheaper than cutting them off and
  // growing the file again.
  collectCachedRuns();
  padOverHeldBytes();
  int64_t journalBytes = kJournalSizeBytes + kJournalEndBytes;
  for (const CachedRun& run : runs_) journalBytes += kJournalRecordHead + run.length;
  StretchWriter out(*this, journalBytes);
  int64_t at = journalPosition_;
  auto put = [&](const uint8_t* bytes, int64_t n) {
    out.put(at, bytes, n);
    at += n;
  };
  uint8_t head[kJournalRecordHead];
  putBig64(head, logicalSize_);
  uint32_t h = journalChecksum(journalSeed, head, 8);
  putBig32(head + 8, h);
  put(head, kJournalSizeBytes);

  putBig32(head, kJournalRecordMarker);
  for (const CachedRun& run : runs_) {
    putBig64(head + 4, run.at);
    putBig32(head + 12, static_cast<uint32_t>(run.length));
    h = journalChecksum(h, head + 4, 12);
    putBig32(head + 16, h);
    put(head, kJournalRecordHead);
    h = journalChecksum(h, run.bytes, static_cast<size_t>(run.length));
    put(run.bytes, run.length);
  }
  putBig32(head, kJournalEndMarker);
  putBig64(head + 4, at + 4);  // the offset of this very field
  h = journalChecksum(h, head + 4, 8);
  putBig32(head + 12, h);
  put(head, kJournalEndBytes);
  out.flush();
  // Older bytes must not trail the new journal: it is complete only where the
  // file ends right behind it. The cut waits for the flush below.
  if (cFile::getSize() > at) cFile::setSize(at);
  if (cFile::getSize() != at) raise("BUG", "cJournaledFile.saveJournal(); end of journal is not end of file");
  // Here only the journal must reach the disk. The file's time (and any
  // attributes or extras waiting) is set by the flush after the writes in
  // place; a crash before that one leaves the journal, whose replay or cut at
  // the next open stamps the file anew. Should the file layer hold anything
  // of its own, it flushes as a whole.
  bool onlyJournal = (infoPendingChanges() & ~kPendingTime) == 0 && hostSize() == at &&
                     infoChunk(0).dirtyLen == 0 && infoChunk(1).dirtyLen == 0;
  if (onlyJournal) {
    cHostFile::flush();
  } else {
    cFile::flush();
  }
}

std::vector<transactionCacheChunkNode*> cJournaledFile::nodesInOrder() const {
  std::vector<transactionCacheChunkNode*> nodes;
  nodes.reserve(cache_->infoChunkCount());
  if (!cache_->isEmpty()) {
    auto cursor = cache_->infoStart()->clone(0, 0);
    do {
      nodes.push_back(cursor->infoNode());
    } while (!cursor->gotoNext());
  }
  std::sort(nodes.begin(), nodes.end(), [](const auto* a, const auto* b) { return a->chunkNumber < b->chunkNumber; });
  return nodes;
}

void cJournaledFile::collectCachedRuns() {
  runs_.clear();
  const std::vector<transactionCacheChunkNode*> nodes = nodesInOrder();
  // A chunk of a large commit holds three runs or so (a Twitter page's:
  // 6,903 in 2,251 chunks): room for four a chunk spares the list its
  // growth by copies.
  runs_.reserve(4 * nodes.size());
  for (transactionCacheChunkNode* node : nodes) {
    const int64_t base = int64_t{node->chunkNumber} * kChunkSize;
    const uint8_t* bytes = node->data.data();
    forEachCachedRunOfChunk(*node, [&](int32_t offset, int32_t length) {
      runs_.push_back({base + offset, bytes + offset, length});
    });
  }
  runsCollected_ = true;
}

template <class Data, class Pad>
void cJournaledFile::forEachWriteInPlace(int64_t from, int64_t to, Data&& data, Pad&& pad) {
  to = std::min(to, logicalSize_);
  int64_t padFrom = std::max(committedSize_, from);  // grown bytes below padFrom are done
  auto padUpTo = [&](int64_t upTo) {
    upTo = std::min(upTo, to);
    if (upTo > padFrom) pad(padFrom, upTo - padFrom);
    padFrom = std::max(padFrom, upTo);
  };
  if (to > from) {
    // The runs are disjoint and ascending: the first one ending past from.
    auto run = std::partition_point(runs_.begin(), runs_.end(),
                                    [&](const CachedRun& r) { return r.at + r.length <= from; });
    for (; run != runs_.end() && run->at < to; ++run) {
      const int64_t q = std::max(run->at, from);
      const int64_t end = std::min(run->at + run->length, to);
      padUpTo(q);
      data(q, run->bytes + (q - run->at), end - q);
      padFrom = std::max(padFrom, end);
    }
  }
  padUpTo(to);
}

void cJournaledFile::padOverHeldBytes() {
  paddedBelow_ = committedSize_;
  const int64_t held = cFile::getSize() - kJournalHeaderSize;
  if (logicalSize_ <= committedSize_ || held <= committedSize_) return;
  paddedBelow_ = std::min(held, logicalSize_);
  // The runs that land there go too, in the same stretches: pads alone would
  // cut every stretch at each run and cost a write call per gap. Bytes past
  // the committed size count for nothing until the journal is applied, and
  // the journal holds every run again.
  StretchWriter out(*this, paddedBelow_ - committedSize_);
  forEachWriteInPlace(
      committedSize_, paddedBelow_,
      [&](int64_t at, const uint8_t* bytes, int64_t n) { out.put(at + kJournalHeaderSize, bytes, n); },
      [&](int64_t at, int64_t n) { out.fill(at + kJournalHeaderSize, infoFillByte(), n); });
  out.flush();
}

void cJournaledFile::commitTransactions() {
  if (!infoCommitPending()) return;
  if (!runsCollected_) collectCachedRuns();

  // In ascending order: the new size in the header, the cached runs inside
  // the new size, and pad bytes wherever the area grows beyond the committed
  // size without a write (but not again where saveJournal wrote them
  // already). Every byte between them the file holds already, as it must
  // stay: the bridged gaps write those back unchanged.
  int64_t runBytes = 8;
  for (const CachedRun& run : runs_) runBytes += run.length;
  StretchWriter out(*this, runBytes,
                    runs_.size() >= kBridgingRuns ? StretchWriter::Gaps::kBridge : StretchWriter::Gaps::kCut);
  if (logicalSize_ != committedSize_) {
    uint8_t size[8];
    putBig64(size, logicalSize_);
    out.put(kHeaderDataSizeOffset, size, 8);
  }
  forEachWriteInPlace(
      0, logicalSize_,
      [&](int64_t at, const uint8_t* bytes, int64_t n) {
        // Skip what saveJournal wrote already: [committedSize_, paddedBelow_).
        const int64_t below = std::min(at + n, committedSize_);
        if (below > at) out.put(at + kJournalHeaderSize, bytes, below - at);
        const int64_t from = std::max(at, std::max(committedSize_, paddedBelow_));
        if (at + n > from) out.put(from + kJournalHeaderSize, bytes + (from - at), at + n - from);
      },
      [&](int64_t at, int64_t n) {
        const int64_t from = std::max(at, paddedBelow_);
        if (from < at + n) out.fill(from + kJournalHeaderSize, infoFillByte(), at + n - from);
      });
  out.flush();

  cFile::flush();
  // The applied journal stays behind the data area until close (or the next
  // open) cuts it: replaying it again changes nothing, and the next commit
  // writes its journal into the same blocks.
  committedSize_ = logicalSize_;
  paddedBelow_ = 0;
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
        auto* node = obtainChunk(at.chunkNumber);
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
  if (infoReadOnly()) return false;
  cFile::setSize(committedSize_ + kJournalHeaderSize);
  cFile::flush();
  return false;
}

}  // namespace bw
