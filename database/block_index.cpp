// database/block_index.cpp - the index array of an indexed block file.
#include "database/block_index.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/exception.h"

namespace bw {

namespace {
constexpr int64_t kMaxEntries = INT32_MAX;
}  // namespace

// --- the array header ---------------------------------------------------------------------

BlockIndex::Header BlockIndex::readHeader() {
  Header h;
  arrayBlock_ = heap_.getUserValue();
  auto entry = [&](int32_t e) { return heap_.readArrayEntry(arrayBlock_, e); };
  h.version = entry(0);
  if (h.version == 1) {
    h.specialCount = 8;
    h.arraySize = static_cast<int32_t>(entry(1));
    h.arrayFree = static_cast<int32_t>(entry(2));
    h.firstFree = static_cast<int32_t>(entry(3));
    h.dummyBlock = entry(4);
  } else if (h.version == 2) {
    h.specialCount = static_cast<int32_t>(entry(1));
    h.arraySize = static_cast<int32_t>(entry(2));
    h.arrayFree = static_cast<int32_t>(entry(3));
    h.firstFree = static_cast<int32_t>(entry(4));
    h.dummyBlock = entry(5);
  }
  return h;
}

void BlockIndex::takeHeader(const Header& h) {
  specialCount_ = h.specialCount;
  arraySize_ = h.arraySize;
  arrayFree_ = h.arrayFree;
  firstFree_ = h.firstFree;
  dummyBlock_ = h.dummyBlock;
}

void BlockIndex::mirrorHeaderValues() {
  waiting_ = 0;
  valuesMirrored_ = false;
  if (specialCount_ != kIndexSpecialCount || arrayBlock_ <= 0) return;
  uint8_t words[sizeof values_];
  heap_.store().readData(arrayBlock_ + 8 * kFirstHeaderValue, words, sizeof words);
  for (size_t k = 0; k < values_.size(); ++k) values_[k] = getBig64(words + 8 * k);
  valuesMirrored_ = true;
}

void BlockIndex::createIndex() {
  BlockTransaction tx(heap_.store());
  specialCount_ = kIndexSpecialCount;
  arraySize_ = kIndexInitialSize;
  arrayFree_ = kIndexInitialSize - kIndexSpecialCount;
  firstFree_ = kIndexSpecialCount;
  dummyBlock_ = heap_.allocate(1, false);
  arrayBlock_ = heap_.allocArray(kIndexInitialSize, false);
  heap_.setUserValue(arrayBlock_);
  const int64_t header[kIndexSpecialCount] = {kIndexVersion, specialCount_, arraySize_, arrayFree_, firstFree_,
                                              dummyBlock_};
  for (int32_t e = 0; e < kIndexSpecialCount; ++e) writeMirror(e, header[e]);
  values_.fill(0);
  valuesMirrored_ = true;
  writeChainRun(kIndexSpecialCount, kIndexInitialSize - kIndexSpecialCount, 0);
  tx.finish();
  heap_.store().flush();
}

void BlockIndex::openIndex() {
  Header h = readHeader();
  bool known = h.version == 1 || (h.version == 2 && h.specialCount >= 6 && h.specialCount <= kIndexSpecialCount);
  if (!known) raise("EMU", "cJournaledIndexedBlockFile.open(); file version not supported");
  takeHeader(h);
  checkArrayFits();
  if (specialCount_ != kIndexSpecialCount) upgrade(h.version);
  mirrorHeaderValues();
}

// An array size the array block cannot hold would let every entry access
// read and write other blocks' bytes; such a file is refused.
void BlockIndex::checkArrayFits() {
  int64_t payload = heap_.infoSizeOfBlock(arrayBlock_);
  if (arraySize_ <= specialCount_ || int64_t{arraySize_} * 8 > payload ||
      arrayBlock_ + int64_t{arraySize_} * 8 > heap_.store().dataSize()) {
    raise("EMU", "cJournaledIndexedBlockFile.open(); arraySize does not fit the index array");
  }
}

void BlockIndex::upgrade(int64_t version) {
  BlockTransaction tx(heap_.store());
  const int32_t oldSpecial = specialCount_;
  const int64_t shift = version == 1 ? 13 : kIndexSpecialCount - oldSpecial;

  // a. the header values of the layer above, as new entries 6..13
  std::array<int64_t, 8> values{};
  if (version == 1) {
    for (int32_t k = 0; k < 3; ++k) values[static_cast<size_t>(k)] = heap_.readArrayEntry(arrayBlock_, 5 + k);
  } else {
    for (int32_t e = 6; e < std::max(oldSpecial, 10); ++e) {
      values[static_cast<size_t>(e - 6)] = heap_.readArrayEntry(arrayBlock_, e);
    }
  }

  // b. the last shift entries drop off the end: they must be free
  bool tailUsed = false;
  for (int64_t e = arraySize_ - shift; e < arraySize_ && !tailUsed; ++e) {
    tailUsed = heap_.readArrayEntry(arrayBlock_, e) > 0;
  }
  if (tailUsed) {
    int32_t oldSize = arraySize_;
    bool chainEmpty = firstFree_ == 0;
    resizeIndexArray(int64_t{arraySize_} * 4);
    if (chainEmpty) firstFree_ = oldSize;
  }

  // c. move entries oldSpecial .. arraySize-1-shift up by shift
  int64_t count = arraySize_ - shift - oldSpecial;
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(count, 0) * 8));
  if (count > 0) {
    heap_.store().readData(arrayBlock_ + int64_t{oldSpecial} * 8, bytes.data(), count * 8);
    int64_t highestFree = -1;
    const int64_t dataSize = heap_.store().dataSize();
    for (int64_t k = count - 1; k >= 0; --k) {
      uint8_t* at = bytes.data() + k * 8;
      int64_t v = getBig64(at);
      int64_t moved = oldSpecial + k + shift;
      if (v <= 0) {
        // The link follows its entry; wrapping keeps a damaged link damaged.
        putBig64(at, static_cast<int64_t>(static_cast<uint64_t>(v) - static_cast<uint64_t>(shift)));
        if (highestFree < 0) highestFree = k;
      } else if (v != dummyBlock_ && v >= FIRST_BLOCK_POS && v <= dataSize - 4) {
        // A block's number follows it. A damaged entry pointing outside the
        // data area is left to the validation: writing there would grow the
        // file to wherever it points.
        heap_.write32(v, static_cast<uint32_t>(moved));
      }
    }
    if (highestFree >= 0) putBig64(bytes.data() + highestFree * 8, 0);
    heap_.store().writeData(arrayBlock_ + (oldSpecial + shift) * 8, bytes.data(), count * 8);
  }

  // d. the counts follow the move
  arrayFree_ = static_cast<int32_t>(arrayFree_ - shift);
  if (firstFree_ != 0) firstFree_ = static_cast<int32_t>(firstFree_ + shift);
  if (firstFree_ >= arraySize_) firstFree_ = 0;  // only the dropped entries were free

  // e. a version-1 index keeps its number: numbers 1..7 become free entries
  if (version == 1) {
    writeChainRun(kIndexSpecialCount, 7, -int64_t{firstFree_});
    arrayFree_ = static_cast<int32_t>(int64_t{arrayFree_} + 7);
    firstFree_ = kIndexSpecialCount;
  }

  // f. the current header
  specialCount_ = kIndexSpecialCount;
  const int64_t header[6] = {kIndexVersion, specialCount_, arraySize_, arrayFree_, firstFree_, dummyBlock_};
  for (int32_t e = 0; e < 6; ++e) writeMirror(e, header[e]);
  for (int32_t e = 6; e < kIndexSpecialCount; ++e) writeMirror(e, values[static_cast<size_t>(e - 6)]);
  tx.finish();
}

bool BlockIndex::admitAtOpen(const std::string& path) {
  int64_t n = firstFree_ != 0 ? firstFree_ : arraySize_;
  if (n > kIndexLimitEntry) {
    std::printf("ERROR: The JIBF \"%s\" has reached the 2^31 index limit, and cannot be opened.\n", path.c_str());
    std::fflush(stdout);
    return false;
  }
  if (n > kIndexWarnEntry) {
    std::printf("WARNING: The JIBF \"%s\" is %ld%% of the way to the 2^31 index limit.\n", path.c_str(),
                static_cast<long>(n * 100 / 2147483647));
    std::fflush(stdout);
  }
  return true;
}

void BlockIndex::reloadMirrors() {
  // Waiting values reach the array before it is reread; after a discard no
  // transaction is open, and they went with the writes they stand for.
  if (waiting_ != 0) {
    if (heap_.store().insideTransaction()) {
      writeWaitingValues();
    } else {
      heap_.store().countSkippedWrite(8 * std::popcount(waiting_));
      waiting_ = 0;
    }
  }
  Header h;
  if (heap_.store().dataSize() >= FIRST_BLOCK_POS) {
    int64_t word1 = heap_.getUserValue();
    if (word1 > 0) h = readHeader();
  }
  if (h.version != 1 && h.version != 2) h = Header{};
  takeHeader(h);
  mirrorHeaderValues();
}

// --- entries ----------------------------------------------------------------------------------

void BlockIndex::writeTwoEntries(int64_t entry, int64_t first, int64_t second) {
  uint8_t bytes[16];
  putBig64(bytes, first);
  putBig64(bytes + 8, second);
  heap_.store().writeData(arrayBlock_ + entry * 8, bytes, sizeof bytes);
}

void BlockIndex::writeChainRun(int64_t first, int64_t n, int64_t last) {
  if (n <= 0) return;
  std::vector<uint8_t> bytes(static_cast<size_t>(n * 8));
  for (int64_t k = 0; k < n; ++k) putBig64(bytes.data() + k * 8, k == n - 1 ? last : -(first + k + 1));
  heap_.store().writeData(arrayBlock_ + first * 8, bytes.data(), n * 8);
}

// --- indices ------------------------------------------------------------------------------------

int32_t BlockIndex::privateAllocateIndex() {
  if (firstFree_ == 0) {
    if (arrayFree_ != 0) raise("BUG", "cJournaledIndexedBlockFile.privateAllocateIndex(); arrayFree<>0");
    int32_t oldSize = arraySize_;
    resizeIndexArray(int64_t{arraySize_} * 4);
    firstFree_ = oldSize;
    writeMirror(4, firstFree_);
  }
  int64_t e = firstFree_;
  if (e > kIndexLimitEntry) {
    std::printf("ERROR: The JIBF \"%s\" has reached the 2^31 index limit.\n", heap_.store().storePath().c_str());
    std::fflush(stdout);
    heap_.store().closeDiscarding();
    raise("BUG", "cJournaledIndexedBlockFile.privateAllocateIndex(); Reached the 2^31 index limit");
  }
  int64_t link = readEntry(e);
  if (link > 0 || link < -kMaxEntries) raise("BUG", "cJournaledIndexedBlockFile.privateAllocateIndex(); firstFree<0");
  firstFree_ = static_cast<int32_t>(-link);
  // Checked before the count moves: a damaged count must not wrap.
  if (arrayFree_ <= 0) {
    writeMirror(4, firstFree_);
    raise("BUG", "cJournaledBlockFile.privateAllocateIndex(); arrayFree<0");
  }
  arrayFree_ -= 1;
  // The two neighbouring mirrors go in one write.
  uint8_t mirrors[16];
  putBig64(mirrors, arrayFree_);
  putBig64(mirrors + 8, firstFree_);
  heap_.store().writeData(arrayBlock_ + 3 * 8, mirrors, sizeof mirrors);
  return static_cast<int32_t>(e);
}

IndexedBlock BlockIndex::allocateIndexBlock(int32_t sizeInBytes, bool clear) {
  if (int64_t{sizeInBytes} + 4 <= 0) raise("EMU", "cJournaledBlockFile.allocate(); sizeInBytes<=0");
  BlockTransaction tx(heap_.store());
  int32_t e = privateAllocateIndex();
  int32_t payload = 0;
  int64_t handle = heap_.allocate(int64_t{sizeInBytes} + 4, clear, &payload);
  writeEntry(e, handle);
  heap_.write32(handle, static_cast<uint32_t>(e));
  tx.finish();
  return {e - (kIndexSpecialCount - 1), handle + 4, payload - 4};
}

IndexedBlock BlockIndex::allocateIndexBlockHolding(std::span<const uint8_t> record) {
  const auto sizeInBytes = static_cast<int64_t>(record.size());
  BlockTransaction tx(heap_.store());
  int32_t e = privateAllocateIndex();
  constexpr size_t kRecordAt = kBlockHeaderBytes + 4;
  if (framed_.size() < kRecordAt + record.size()) framed_.resize(kRecordAt + record.size());
  putBig32(framed_.data() + kBlockHeaderBytes, static_cast<uint32_t>(e));
  if (!record.empty()) std::memcpy(framed_.data() + kRecordAt, record.data(), record.size());
  int32_t payload = 0;
  int64_t handle = heap_.allocateHolding(sizeInBytes + 4, {framed_.data(), kRecordAt + record.size()}, &payload);
  writeEntry(e, handle);
  tx.finish();
  // A record grown very large gives its room back.
  if (framed_.size() > (size_t{1} << 20)) framed_ = std::vector<uint8_t>();
  return {e - (kIndexSpecialCount - 1), handle + 4, payload - 4};
}

IndexedBlock BlockIndex::allocateIndexArray(int32_t count, bool clear) {
  if (count < 0) raise("EMU", "cJournaledBlockFile.allocate(); sizeInBytes<=0");
  return allocateIndexBlock(count * 4, clear);
}

int32_t BlockIndex::preallocateIndex() {
  BlockTransaction tx(heap_.store());
  int32_t e = privateAllocateIndex();
  writeEntry(e, dummyBlock_);
  tx.finish();
  return e - (kIndexSpecialCount - 1);
}

void BlockIndex::deallocateIndex(int32_t index) {
  int64_t e = int64_t{index} + (kIndexSpecialCount - 1);
  if (e < BLOCKINDEX_MIN || e >= arraySize_) raise("EMU", "cJournaledBlockFile.deallocateIndex(); index is out of bounds");
  int64_t value = readEntry(e);
  if (value <= 0) raise("EMU", "cJournaledBlockFile.deallocateIndex(); index is not allocated");

  BlockTransaction tx(heap_.store());
  if (value != dummyBlock_) heap_.deallocate(value);
  if (arrayFree_ >= arraySize_ - kIndexSpecialCount) raise("BUG", "cJournaledBlockFile.deallocateIndex(); arrayFree>max");
  arrayFree_ += 1;

  // Neighbouring words written together: arrayFree with firstFree, a free
  // entry with the one after it.
  if (firstFree_ == 0 || e < firstFree_) {
    writeEntry(e, -int64_t{firstFree_});
    firstFree_ = static_cast<int32_t>(e);
    writeTwoEntries(3, arrayFree_, firstFree_);
  } else {
    writeMirror(3, arrayFree_);
    int64_t p = e - 1;
    int64_t link = 0;
    for (;; --p) {
      if (p < BLOCKINDEX_MIN) raise("BUG", "cJournaledIndexedBlockFile.deallocateIndex(); value>0");
      link = readEntry(p);
      if (link <= 0) break;
    }
    if (p == e - 1) {
      writeTwoEntries(p, -e, link);
    } else {
      writeEntry(p, -e);
      writeEntry(e, link);
    }
  }

  if (arraySize_ > kIndexInitialSize && arrayFree_ >= arraySize_ - kIndexSpecialCount) {
    resizeIndexArray(kIndexInitialSize);
    writeEntry(kIndexInitialSize - 1, 0);
  }
  tx.finish();
}

int64_t BlockIndex::reallocateIndex(int32_t index, int32_t newSize, bool clear, int32_t bytesToKeep,
                                    int32_t* capacity) {
  int64_t e = int64_t{index} + (kIndexSpecialCount - 1);
  if (e < BLOCKINDEX_MIN || e >= arraySize_) raise("EMU", "cJournaledBlockFile.reallocateIndex(); index is out of bounds");
  int64_t value = readEntry(e);
  if (value <= 0) raise("EMU", "cJournaledIndexedBlockFile.reallocateIndex(); index is not allocated");
  if (int64_t{newSize} + 4 <= 0) raise("EMU", "cJournaledBlockFile.allocate(); sizeInBytes<=0");
  int64_t old = value == dummyBlock_ ? 0 : value;
  int64_t keep = old != 0 ? std::clamp<int64_t>(std::min(bytesToKeep, newSize), 0, newSize) : 0;

  BlockTransaction tx(heap_.store());
  if (keep == 0 && old != 0) heap_.deallocate(old);
  int32_t payload = 0;
  int64_t handle = heap_.allocate(int64_t{newSize} + 4, false, &payload);
  writeEntry(e, handle);
  heap_.write32(handle, static_cast<uint32_t>(e));
  int64_t data = handle + 4;
  if (keep > 0) heap_.copy(data, old + 4, keep);
  if (clear) {
    if (keep == 0) {
      heap_.clear(data, newSize);
    } else if (keep < newSize) {
      heap_.clear(data + keep, newSize - keep);
    }
  }
  if (keep > 0) heap_.deallocate(old);
  tx.finish();
  if (capacity) *capacity = payload - 4;
  return data;
}

int64_t BlockIndex::reallocateIndexArray(int32_t index, int32_t newCount, int32_t oldCount, bool clear) {
  BlockTransaction tx(heap_.store());
  int64_t data = reallocateIndex(index, newCount * 4, clear, std::min(newCount, oldCount) * 4);
  tx.finish();
  return data;
}

void BlockIndex::resizeIndexArray(int64_t newSize) {
  if (newSize <= 0 || newSize > kMaxEntries) newSize = kMaxEntries;
  BlockTransaction tx(heap_.store());
  writeWaitingValues();  // before the array is copied
  const int64_t oldSize = arraySize_;
  int64_t fresh = heap_.resizeArray(arrayBlock_, newSize, oldSize, false);
  heap_.deallocate(arrayBlock_);
  arrayFree_ = static_cast<int32_t>(arrayFree_ + newSize - oldSize);
  arraySize_ = static_cast<int32_t>(newSize);
  arrayBlock_ = fresh;
  heap_.setUserValue(fresh);
  writeMirror(2, arraySize_);
  writeMirror(3, arrayFree_);
  if (newSize > oldSize) {
    if (firstFree_ != 0) {
      // The chain's last entry is the highest free one below the old end.
      int64_t last = oldSize - 1;
      while (readEntry(last) > 0) {
        if (--last < specialCount_) raise("BUG", "cJournaledIndexedBlockFile.resizeIndexArray(); i<BLOCKINDEX_MIN");
      }
      writeEntry(last, -oldSize);
    }
    writeChainRun(oldSize, newSize - oldSize, 0);
  }
  tx.finish();
}

// --- look-ups ---------------------------------------------------------------------------------

int64_t BlockIndex::infoBlockOfIndex(int32_t index, bool quiet) {
  int64_t e = int64_t{index} + (kIndexSpecialCount - 1);
  int64_t value = e < BLOCKINDEX_MIN || e >= arraySize_ ? 0 : readEntry(e);
  if (value <= 0) {
    if (quiet) return 0;
    raise("EMU", "cJournaledBlockFile.infoBlockOfIndex(); index is not allocated to a block");
  }
  if (value == dummyBlock_) {
    if (quiet) return 0;
    raise("EMU", "cJournaledBlockFile.infoBlockOfIndex(); index is only preallocated");
  }
  return static_cast<int64_t>(static_cast<uint64_t>(value) + 4);  // a damaged entry may hold anything
}

void BlockIndex::infoBlocksOfIndices(int32_t first, int32_t count, int64_t* out) {
  std::fill(out, out + std::max(count, 0), int64_t{0});
  const int64_t base = int64_t{first} + (kIndexSpecialCount - 1);
  const int64_t from = std::max<int64_t>(base, BLOCKINDEX_MIN);
  const int64_t to = std::min<int64_t>(base + count, arraySize_);
  if (from >= to) return;
  std::vector<uint8_t> words(static_cast<size_t>((to - from) * 8));
  heap_.store().readData(arrayBlock_ + 8 * from, words.data(), static_cast<int64_t>(words.size()));
  for (int64_t e = from; e < to; ++e) {
    int64_t value = getBig64(words.data() + 8 * (e - from));
    if (value > 0 && value != dummyBlock_) out[e - base] = static_cast<int64_t>(static_cast<uint64_t>(value) + 4);
  }
}

int32_t BlockIndex::infoIndexOfBlock(int64_t dataPosition) {
  int64_t word = heap_.read32(dataPosition - 4);
  if (word < BLOCKINDEX_MIN || word >= arraySize_) {
    raise("EMU",
          "cJournaledBlockFile.infoIndexOfBlock(); index is out of bounds, probably due to providing an incorrect "
          "block");
  }
  return static_cast<int32_t>(word - (kIndexSpecialCount - 1));
}

bool BlockIndex::infoIsPreallocated(int32_t index) {
  if (index < 1 || index > arraySize_ - kIndexSpecialCount) return false;
  return readEntry(int64_t{index} + (kIndexSpecialCount - 1)) == dummyBlock_;
}

int32_t BlockIndex::infoSizeOfIndexBlock(int64_t dataPosition, const uint8_t* header) {
  // Wraps as infoBlockOfIndex does: a damaged entry's position may lie anywhere.
  const int64_t handle = dataPosition == 0 ? 0 : static_cast<int64_t>(static_cast<uint64_t>(dataPosition) - 4);
  return heap_.infoSizeOfBlock(handle, header) - 4;
}

void BlockIndex::setHeaderValue(int32_t entry, int64_t value) {
  BlockStore& store = heap_.store();
  const bool mirrored = valuesMirrored_ && entry >= kFirstHeaderValue && entry < kIndexSpecialCount;
  const auto k = static_cast<size_t>(entry - kFirstHeaderValue);
  if (mirrored && letWait_ && store.insideTransaction()) {
    // A value already waiting: this write is left out, the waiting one
    // writes the same bytes later.
    const uint32_t bit = uint32_t{1} << k;
    if (waiting_ & bit) store.countSkippedWrite(8);
    waiting_ |= bit;
    values_[k] = value;
    return;
  }
  if (store.insideTransaction()) {
    writeMirror(entry, value);
  } else {
    BlockTransaction tx(store);
    writeMirror(entry, value);
    tx.finish();
  }
  if (mirrored) values_[k] = value;
}

void BlockIndex::writeWaitingValues() {
  while (waiting_ != 0) {
    const int k = std::countr_zero(waiting_);
    writeMirror(kFirstHeaderValue + k, values_[static_cast<size_t>(k)]);
    waiting_ &= waiting_ - 1;
  }
}

uint32_t BlockIndex::readIndexArrayElement(int64_t dataPosition, int32_t element) {
  return heap_.read32(dataPosition + int64_t{element} * 4);
}

void BlockIndex::writeIndexArrayElement(int64_t dataPosition, int32_t element, uint32_t value) {
  heap_.write32(dataPosition + int64_t{element} * 4, value);
}

}  // namespace bw
