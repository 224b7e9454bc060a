// database/block_heap.cpp - header area, block headers and the two-level
// segregated-fit allocator of a block file.
#include "database/block_heap.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "core/exception.h"

namespace bw {

namespace {

constexpr char kRead[] = "cJournaledBlockFile.readBlockHeader(); ";
constexpr char kWrite[] = "cJournaledBlockFile.writeBlockHeader(); ";

[[noreturn]] void bug(const char* prefix, const char* problem) { raise("BUG", std::string(prefix) + problem); }

// The runtime's bit-value routine: the single bit at a position 0..31.
uint32_t bitPositionValue(int32_t position) {
  if (position < 0 || position > 31) raise("EPU", "General; bitPositionValue(); position<0 or position>31");
  return uint32_t{1} << position;
}

// The first non-empty class at or above (f, s) in the bitmaps' order: the
// same f with s and up, then the lowest s of the next non-empty f.
bool firstNonEmptyFrom(uint32_t flBitmap, const std::array<SecondLevel, FL_COUNT>& sl, int32_t& f, int32_t& s) {
  uint32_t bits = s < 32 ? sl[static_cast<size_t>(f)].freeBitmap & (~uint32_t{0} << s) : 0;
  if (bits != 0) {
    s = std::countr_zero(bits);
    return true;
  }
  bits = f + 1 < 32 ? flBitmap & (~uint32_t{0} << (f + 1)) : 0;
  if (bits == 0) return false;
  f = std::countr_zero(bits);
  s = std::countr_zero(sl[static_cast<size_t>(f)].freeBitmap);
  return true;
}

// The buffer that copy and clear pass bytes through: on the stack for the
// small blocks that compaction moves by the hundred thousand, else up to
// kBlockCopyBuffer bytes on the heap.
class CopyBuffer {
 public:
  explicit CopyBuffer(int64_t bytes) : size_(std::min(bytes, kBlockCopyBuffer)) {
    // Left unfilled: every byte is read into before it is written out.
    if (size_ > static_cast<int64_t>(sizeof small_))
      large_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size_));
  }
  uint8_t* data() { return large_ ? large_.get() : small_; }
  int64_t size() const { return size_; }

 private:
  int64_t size_;
  uint8_t small_[4096];
  std::unique_ptr<uint8_t[]> large_;
};

}  // namespace

blockRecord asFreeRecord(const blockRecord& r) {
  return {r.position, r.size, true, r.nextBlock, r.prevBlock, 0, 0};
}
blockRecord asUsedRecord(const blockRecord& r) {
  return {r.position, r.size, false, r.nextBlock, r.prevBlock, 0, 0};
}

// --- raw access ------------------------------------------------------------------

int64_t BlockHeap::readWord(int64_t position) {
  uint8_t b[8];
  store_.readData(position, b, 8);
  return getBig64(b);
}
void BlockHeap::writeWord(int64_t position, int64_t value) {
  uint8_t b[8];
  putBig64(b, value);
  noteBytesWritten(position, position + 8);
  store_.writeData(position, b, 8);
}
uint32_t BlockHeap::read32(int64_t position) {
  uint8_t b[4];
  store_.readData(position, b, 4);
  return getBig32(b);
}
void BlockHeap::write32(int64_t position, uint32_t value) {
  uint8_t b[4];
  putBig32(b, value);
  noteBytesWritten(position, position + 4);
  store_.writeData(position, b, 4);
}

// --- header area -------------------------------------------------------------------

void BlockHeap::clearMirrors() {
  knownTail_ = {};
  firstBlockPos_ = FIRST_BLOCK_POS;
  tailPos_ = 0;
  flFreeBitmap_ = 0;
  secondLevel_ = {};
  allocateAbovePos_ = 0;
}

void BlockHeap::createHeader() {
  BlockTransaction tx(store_);
  clearMirrors();
  std::vector<uint8_t> area(FIRST_BLOCK_POS, 0);
  int32_t word = 0;
  auto put = [&](int64_t v) { putBig64(area.data() + 8 * word++, v); };
  put(kBlockFileVersion);
  put(0);
  put(tailPos_);
  put(signExtend32(static_cast<uint32_t>(firstBlockPos_)));
  put(SL_SIZE);
  put(signExtend32(flFreeBitmap_));
  for (const SecondLevel& sl : secondLevel_) {
    put(signExtend32(sl.freeBitmap));
    for (int64_t head : sl.freeLists) put(head);
  }
  if (word != FHEADER_SIZE) raise("BUG", "cJournaledBlockFile.open(); index<>FHEADER_SIZE (1)");
  store_.writeData(0, area.data(), FIRST_BLOCK_POS);
  tx.finish();
  store_.flush();
}

void BlockHeap::readHeaderWords(uint8_t* area) {
  knownTail_ = {};
  int32_t word = 5;
  auto next = [&] { return getBig64(area + 8 * word++); };
  tailPos_ = getBig64(area + 8 * FHINDEX_TAIL);
  firstBlockPos_ = static_cast<int32_t>(low32(getBig64(area + 8 * FHINDEX_HSIZE)));
  flFreeBitmap_ = low32(next());
  for (SecondLevel& sl : secondLevel_) {
    sl.freeBitmap = low32(next());
    for (int64_t& head : sl.freeLists) head = next();
  }
  if (word != FHEADER_SIZE) raise("BUG", "cJournaledBlockFile.open(); index<>FHEADER_SIZE (2)");
}

void BlockHeap::loadHeader() {
  allocateAbovePos_ = 0;
  std::vector<uint8_t> area(FIRST_BLOCK_POS);
  store_.readData(0, area.data(), FIRST_BLOCK_POS);
  if (getBig64(area.data()) != kBlockFileVersion) {
    raise("EMU", "cJournaledBlockFile.open(); file version not supported");
  }
  if (getBig64(area.data() + 8 * FHINDEX_SLSIZE) != SL_SIZE) {
    raise("BUG", "cJournaledBlockFile.open(); file has unsupported SL_SIZE");
  }
  readHeaderWords(area.data());
}

void BlockHeap::reloadMirrors() {
  clearMirrors();
  if (store_.dataSize() < FIRST_BLOCK_POS) return;
  std::vector<uint8_t> area(FIRST_BLOCK_POS);
  store_.readData(0, area.data(), FIRST_BLOCK_POS);
  readHeaderWords(area.data());
}

void BlockHeap::checkHeader() {
  if (readWord(0) == kBlockFileVersion) {
    BlockTransaction tx(store_);
    tx.finish();
    store_.flush();
  }
  reloadMirrors();
  if (firstBlockPos_ != FIRST_BLOCK_POS) raise("BUG", "cJournaledBlockFile.open(); firstBlockPos<>FIRST_BLOCK_POS");
}

int64_t BlockHeap::getUserValue() { return readWord(headerWordPos(FHINDEX_USER)); }

void BlockHeap::setUserValue(int64_t value) {
  BlockTransaction tx(store_);
  writeWord(headerWordPos(FHINDEX_USER), value);
  tx.finish();
}

bool BlockHeap::knownTail(blockRecord& out) const {
  if (knownTail_.position == 0 || knownTail_.position != tailPos_) return false;
  out = {knownTail_.position, knownTail_.size, false, 0, knownTail_.prevBlock, 0, 0};
  return true;
}

void BlockHeap::setTailPos(int64_t position) {
  tailPos_ = position;
  writeWord(headerWordPos(FHINDEX_TAIL), position);
}

void BlockHeap::set_fl_freeBitmap(uint32_t bitmap) {
  flFreeBitmap_ = bitmap;
  writeWord(headerWordPos(FHINDEX_FLBITMAP), signExtend32(bitmap));
}

void BlockHeap::checkEntry(int32_t f, const SecondLevel& entry, const char* message) const {
  if (f < 0 || f >= FL_COUNT || &entry != &secondLevel_[static_cast<size_t>(f)]) raise("BUG", message);
}

void BlockHeap::set_sl_freeBitmap(int32_t f, const SecondLevel& entry, uint32_t bitmap) {
  checkEntry(f, entry, "cJournaledBlockFile.set_sl_freeBitmap(); sl does not match firstIndex");
  secondLevel_[static_cast<size_t>(f)].freeBitmap = bitmap;
  writeWord(headerWordPos(slBitmapWord(f)), signExtend32(bitmap));
}

void BlockHeap::set_sl_freeList(int32_t f, const SecondLevel& entry, int32_t s, int64_t position) {
  checkEntry(f, entry, "cJournaledBlockFile.set_sl_freeList(); sl does not match firstIndex");
  secondLevel_[static_cast<size_t>(f)].freeLists[static_cast<size_t>(s)] = position;
  writeWord(headerWordPos(slListWord(f, s)), position);
}

// --- block headers --------------------------------------------------------------------

bool BlockHeap::readBlockHeader(blockRecord& r, int64_t position, bool quiet) {
  if (outOfRange(r, position, quiet)) return false;
  uint8_t b[kBlockHeaderBytes + kFreeLinkBytes];
  store_.readData(position, b, sizeof b);
  return decodeBlockHeader(r, position, b, quiet);
}

bool BlockHeap::outOfRange(blockRecord& r, int64_t position, bool quiet) {
  // Links of a damaged file may point anywhere; no block lies outside this.
  if (position >= FIRST_BLOCK_POS && position <= kBlockFileDataLimit) return false;
  r = blockRecord{position};
  if (!quiet) bug(kRead, "position out of range");
  return true;
}

bool BlockHeap::decodeBlockHeader(blockRecord& r, int64_t position, const uint8_t* b, bool quiet) {
  uint32_t word = getBig32(b);
  auto prevOffset = static_cast<int32_t>(getBig32(b + 4));
  r.position = position;
  r.size = static_cast<int32_t>(word & ~uint32_t{3});
  r.isFree = (word & kBlockFreeFlag) != 0;
  r.nextFree = r.isFree ? getBig64(b + 8) : 0;
  r.prevFree = r.isFree ? getBig64(b + 16) : 0;
  r.nextBlock = (word & kBlockLastFlag) ? 0 : position + r.size;
  r.prevBlock = prevOffset == 0 ? 0 : position + prevOffset;

  // A sound header passes every check below at once: a size word above 24
  // gives nextBlock > position, and an offset <= 0 prevBlock < position.
  const bool linksSound = !r.isFree || ((r.nextFree == 0 || r.nextFree >= FIRST_BLOCK_POS) &&
                                        (r.prevFree == 0 || r.prevFree >= FIRST_BLOCK_POS));
  if (static_cast<int32_t>(word) > 24 && prevOffset <= 0 && (prevOffset == 0 || r.prevBlock >= FIRST_BLOCK_POS) &&
      linksSound) {
    return true;
  }
  return checkBlockHeader(r, word, prevOffset, quiet);
}

bool BlockHeap::checkBlockHeader(const blockRecord& r, uint32_t word, int32_t prevOffset, bool quiet) {
  bool ok = true;
  auto check = [&](bool failed, const char* problem) {
    if (!failed) return;
    if (!quiet) bug(kRead, problem);
    ok = false;
  };
  check(static_cast<int32_t>(word) <= 24, "size < minimumBlockSize");
  check(prevOffset > 0, "prevBlockOffset > 0");
  check(r.nextFree != 0 && r.nextFree < FIRST_BLOCK_POS, "nextFree < FIRST_BLOCK_POS");
  check(r.prevFree != 0 && r.prevFree < FIRST_BLOCK_POS, "prevFree < FIRST_BLOCK_POS");
  check(r.nextBlock != 0 && r.nextBlock <= r.position, "nextBlock <= position");
  check(r.prevBlock != 0 && r.prevBlock >= r.position, "prevBlock >= position");
  check(r.prevBlock != 0 && r.prevBlock < FIRST_BLOCK_POS, "prevBlock < FIRST_BLOCK_POS");
  return ok;
}

void BlockHeap::writeBlockHeader(const blockRecord& r) {
  uint8_t b[kBlockHeaderBytes + kFreeLinkBytes];
  const int64_t n = encodeBlockHeader(r, b);
  noteHeaderWritten(r);
  if (gather_ && r.position >= gatherBegin_ && r.position + n <= gatherEnd_) [[unlikely]] {
    std::memcpy(gather_ + (r.position - gatherBegin_), b, static_cast<size_t>(n));
    gathered_ += n;
    return;
  }
  store_.writeData(r.position, b, n);
}

int64_t BlockHeap::encodeBlockHeader(const blockRecord& r, uint8_t* b) {
  if (r.position == 0) bug(kWrite, "block.position=0");
  if (r.size <= 24) bug(kWrite, "block.size < minimumBlockSize");
  if (r.size % 4 != 0) bug(kWrite, "block.size is not rounded up");
  if (r.prevBlock != 0 && r.prevBlock >= r.position) bug(kWrite, "block.prevBlock >= block.position");
  if (r.isFree) {
    if (r.nextFree != 0 && r.nextFree < FIRST_BLOCK_POS) bug(kWrite, "block.nextFree < FIRST_BLOCK_POS");
    if (r.prevFree != 0 && r.prevFree < FIRST_BLOCK_POS) bug(kWrite, "block.prevFree < FIRST_BLOCK_POS");
  }
  int32_t prevOffset =
      r.prevBlock == 0 ? 0 : static_cast<int32_t>(low32(r.prevBlock) - low32(r.position));
  if (prevOffset > 0) bug(kWrite, "prevBlockOffset > 0");
  uint32_t word = static_cast<uint32_t>(r.size) | (r.isFree ? kBlockFreeFlag : 0) | (r.nextBlock == 0 ? kBlockLastFlag : 0);
  putBig32(b, word);
  putBig32(b + 4, static_cast<uint32_t>(prevOffset));
  if (!r.isFree) return kBlockHeaderBytes;
  putBig64(b + 8, r.nextFree);
  putBig64(b + 16, r.prevFree);
  return kBlockHeaderBytes + kFreeLinkBytes;
}

void BlockHeap::checkNeighbour(int64_t position) const {
  if (position < firstBlockPos_ || position > tailPos_) bug(kWrite, "neighbour out of range");
}

void BlockHeap::writeNextFree(int64_t position, int64_t nextFree) {
  checkNeighbour(position);
  if (nextFree != 0 && nextFree < FIRST_BLOCK_POS) bug(kWrite, "block.nextFree < FIRST_BLOCK_POS");
  writeWord(position + kBlockHeaderBytes, nextFree);
}

void BlockHeap::writePrevFree(int64_t position, int64_t prevFree) {
  checkNeighbour(position);
  if (prevFree != 0 && prevFree < FIRST_BLOCK_POS) bug(kWrite, "block.prevFree < FIRST_BLOCK_POS");
  writeWord(position + kBlockHeaderBytes + 8, prevFree);
}

void BlockHeap::writePrevBlock(int64_t position, int64_t prevBlock) {
  checkNeighbour(position);
  if (prevBlock != 0 && prevBlock >= position) bug(kWrite, "block.prevBlock >= block.position");
  write32(position + 4, prevBlock == 0 ? 0 : low32(prevBlock) - low32(position));
}

// --- allocator steps ----------------------------------------------------------------------

FreeFind BlockHeap::findFreeInArena(int32_t size) {
  FreeClass c = mapSizeToFreeClassRoundUp(static_cast<uint32_t>(size));
  int32_t f = c.f, s = c.s;
  if (!firstNonEmptyFrom(flFreeBitmap_, secondLevel_, f, s)) return {};
  int64_t position = secondLevel_[static_cast<size_t>(f)].freeLists[static_cast<size_t>(s)];
  if (position == 0) raise("BUG", "cJournaledBlockFile.findFreeInArena(); freeBlockPos=0 (1)");
  // During a block move only blocks after allocateAbovePos qualify.
  while (allocateAbovePos_ > 0 && position <= allocateAbovePos_) {
    blockRecord r;
    readBlockHeader(r, position, false);
    position = r.nextFree;
    if (position != 0) continue;
    ++s;
    if (!firstNonEmptyFrom(flFreeBitmap_, secondLevel_, f, s)) return {};
    position = secondLevel_[static_cast<size_t>(f)].freeLists[static_cast<size_t>(s)];
    if (position == 0) raise("BUG", "cJournaledBlockFile.findFreeInArena(); freeBlockPos=0 (2)");
  }
  return {position, f, s};
}

blockRecord BlockHeap::removeFreeFromArena(const blockRecord& freeBlock, int32_t f, int32_t s,
                                           const SecondLevel& entry, bool writeHeader) {
  static constexpr char kPrefix[] = "cJournaledBlockFile.removeFreeFromArena(); ";
  if (!freeBlock.isFree) bug(kPrefix, "freeBlock is actually used");
  FreeClass exact = mapSizeToFreeClass(static_cast<uint32_t>(freeBlock.size));
  if (f != exact.f || s != exact.s) {
    std::printf("# freeBlock.size=%ld=$%lx, freeFI=%ld, freeSI=%ld, debugFI=%ld, debugSI=%ld\n",
                static_cast<long>(freeBlock.size), static_cast<unsigned long>(static_cast<uint32_t>(freeBlock.size)),
                static_cast<long>(f), static_cast<long>(exact.f), static_cast<long>(s), static_cast<long>(exact.s));
    std::fflush(stdout);
    bug(kPrefix, f != exact.f ? "incorrect freeFI" : "incorrect freeSI");
  }
  if (&entry != &secondLevel_[static_cast<size_t>(f)]) bug(kPrefix, "incorrect sl");
  SecondLevel& sl = secondLevel_[static_cast<size_t>(f)];

  if (freeBlock.nextFree != 0) writePrevFree(freeBlock.nextFree, freeBlock.prevFree);
  bool emptied = false;
  if (freeBlock.prevFree == 0) {
    if (sl.freeLists[static_cast<size_t>(s)] != freeBlock.position) bug(kPrefix, "freeBlock.prevFree=0");
    set_sl_freeList(f, sl, s, freeBlock.nextFree);
    emptied = freeBlock.nextFree == 0;
  } else {
    writeNextFree(freeBlock.prevFree, freeBlock.nextFree);
  }
  blockRecord used = asUsedRecord(freeBlock);
  if (writeHeader) writeBlockHeader(used);
  if (emptied) {
    set_sl_freeBitmap(f, sl, sl.freeBitmap & ~bitPositionValue(s));
    if (sl.freeBitmap == 0) set_fl_freeBitmap(flFreeBitmap_ & ~bitPositionValue(f));
  }
  return used;
}

blockRecord BlockHeap::removeFreeBlock(const blockRecord& freeBlock, bool writeHeader) {
  FreeClass c = mapSizeToFreeClass(static_cast<uint32_t>(freeBlock.size));
  return removeFreeFromArena(freeBlock, c.f, c.s, secondLevel_[static_cast<size_t>(c.f)], writeHeader);
}

void BlockHeap::addFreeToArena(const blockRecord& usedBlock) {
  if (usedBlock.isFree) raise("BUG", "cJournaledBlockFile.addFreeToArena(); usedBlock is actually free");
  blockRecord fr = asFreeRecord(usedBlock);
  FreeClass c = mapSizeToFreeClass(static_cast<uint32_t>(fr.size));
  uint32_t fBit = bitPositionValue(c.f);
  uint32_t sBit = bitPositionValue(c.s);
  SecondLevel& sl = secondLevel_[static_cast<size_t>(c.f)];
  int64_t oldHead = sl.freeLists[static_cast<size_t>(c.s)];
  fr.nextFree = oldHead;
  writeBlockHeader(fr);
  if (oldHead != 0) writePrevFree(oldHead, fr.position);
  set_sl_freeList(c.f, sl, c.s, fr.position);
  if (!(sl.freeBitmap & sBit)) set_sl_freeBitmap(c.f, sl, sl.freeBitmap | sBit);
  if (!(flFreeBitmap_ & fBit)) set_fl_freeBitmap(flFreeBitmap_ | fBit);
}

void BlockHeap::succeedHead(const blockRecord& head, const blockRecord& heir) {
  blockRecord fr = asFreeRecord(heir);
  fr.nextFree = head.nextFree;
  writeBlockHeader(fr);
  if (heir.position == head.position) {
    // The link from the next free block stands; it is checked as writing it
    // would check it.
    if (head.nextFree != 0) checkNeighbour(head.nextFree);
    return;
  }
  if (head.nextFree != 0) writePrevFree(head.nextFree, heir.position);
  FreeClass c = mapSizeToFreeClass(static_cast<uint32_t>(head.size));
  const SecondLevel& sl = secondLevel_[static_cast<size_t>(c.f)];
  set_sl_freeList(c.f, sl, c.s, heir.position);
}

blockRecord BlockHeap::splitBlock(blockRecord& usedBlock, int32_t size, bool writeRest) {
  if (size % 4 != 0) raise("BUG", "cJournaledBlockFile.splitBlock(); sizeInBytes is not a multiple of 4");
  if (usedBlock.isFree) raise("BUG", "cJournaledBlockFile.splitBlock(); usedBlock is actually free");
  blockRecord rest{usedBlock.position + size, usedBlock.size - size, false, usedBlock.nextBlock,
                   usedBlock.position, 0, 0};
  if (writeRest) writeBlockHeader(rest);
  usedBlock.size = size;
  usedBlock.nextBlock = rest.position;
  writeBlockHeader(usedBlock);
  if (rest.nextBlock == 0) {
    if (tailPos_ != usedBlock.position) {
      raise("BUG", "cJournaledBlockFile.splitBlock(); usedBlock was not tailPos despite nothing after it");
    }
    setTailPos(rest.position);
  } else {
    writePrevBlock(rest.nextBlock, rest.position);
  }
  return rest;
}

blockRecord BlockHeap::mergeBothBlocks(const blockRecord& first, const blockRecord& second, bool writeHeader) {
  static constexpr char kPrefix[] = "cJournaledBlockFile.mergeBothBlocks(); ";
  if (second.prevBlock != first.position) bug(kPrefix, "blocks not adjacent");
  if (first.isFree) bug(kPrefix, "firstBlock is actually free");
  if (second.isFree) bug(kPrefix, "secondBlock is actually free");
  blockRecord merged = first;
  merged.size = first.size + second.size;
  merged.nextBlock = second.nextBlock;
  if (writeHeader) writeBlockHeader(merged);
  if (second.nextBlock == 0) {
    if (tailPos_ != second.position) bug(kPrefix, "secondBlock was not tailPos despite nothing after it");
    setTailPos(merged.position);
  } else {
    writePrevBlock(second.nextBlock, merged.position);
  }
  return merged;
}

// --- allocation ------------------------------------------------------------------------------

int64_t BlockHeap::allocateFromFreeBlock(int32_t blockSize, const blockRecord& freeBlock, bool clear) {
  if (freeBlock.size < blockSize) raise("BUG", "cJournaledBlockFile.allocateFromFreeBlock(); freeBlock is too small");
  if (!freeBlock.isFree) raise("BUG", "cJournaledBlockFile.allocateFromFreeBlock(); freeBlock is actually used");
  BlockTransaction tx(store_);
  // A split writes the used block's header itself, and the rest's whole.
  const bool split = freeBlock.size - blockSize > kSplitSlack;
  blockRecord used;
  if (split && headsClassOf(freeBlock, freeBlock.size - blockSize)) {
    used = asUsedRecord(freeBlock);
    succeedHead(freeBlock, splitBlock(used, blockSize, false));
  } else {
    used = removeFreeBlock(freeBlock, !split);
    if (split) addFreeToArena(splitBlock(used, blockSize, false));
  }
  if (clear) this->clear(used.position + kBlockHeaderBytes, blockSize - kBlockHeaderBytes);
  tx.finish();
  return used.position;
}

int64_t BlockHeap::allocateCopyFromFreeBlock(int32_t blockSize, const blockRecord& freeBlock, CopySource& source,
                                             std::span<uint8_t> head) {
  constexpr int64_t kFreeHeader = kBlockHeaderBytes + kFreeLinkBytes;
  std::array<uint8_t, 2048> bytes;
  const bool wantNext = source.withNext;
  source.withNext = false;
  const int64_t payload = int64_t{blockSize} - kBlockHeaderBytes;
  if (!freeBlock.isFree || freeBlock.size < blockSize || payload <= 0 || payload + kFreeHeader > int64_t{bytes.size()}) {
    return 0;
  }
  const bool split = freeBlock.size - blockSize > kSplitSlack;
  if (split && !headsClassOf(freeBlock, freeBlock.size - blockSize)) return 0;
  // The gathered bytes: the header, the payload and a split rest's header.
  const int64_t begin = freeBlock.position;
  const int64_t end = begin + blockSize + (split ? kFreeHeader : 0);
  auto apart = [&](int64_t at, int64_t n) { return at + n <= begin || at >= end; };
  // What the allocation writes elsewhere (the next block's back link, the
  // list neighbours' links) and what is read must lie apart from them, as
  // in a sound heap they do, so that the order of the writes tells nothing.
  const int64_t nextFreeLink = freeBlock.nextFree + kBlockHeaderBytes + 8;
  if (freeBlock.nextFree != 0 && !apart(nextFreeLink, 8)) return 0;
  if (split) {
    if (freeBlock.nextBlock == 0 || !apart(freeBlock.nextBlock + 4, 4)) return 0;
  } else if (freeBlock.prevFree != 0 && !apart(freeBlock.prevFree + kBlockHeaderBytes, 8)) {
    return 0;
  }
  if (!apart(source.handle, payload)) return 0;
  source.withNext = wantNext && apart(source.handle + payload, kFreeHeader);

  {
    // Headers written inside go to bytes; a raise ends the gathering.
    struct Gather {
      BlockHeap& heap;
      ~Gather() { heap.gather_ = nullptr; }
    } gather{*this};
    gather_ = bytes.data();
    gatherBegin_ = begin;
    gatherEnd_ = end;
    gathered_ = 0;
    if (split) {
      blockRecord used = asUsedRecord(freeBlock);
      succeedHead(freeBlock, splitBlock(used, blockSize, false));
    } else {
      removeFreeBlock(freeBlock);
    }
  }
  if (gathered_ != end - begin - payload) raise("BUG", "cJournaledBlockFile.allocateFromFreeBlock(); headers not gathered");

  uint8_t* data = bytes.data() + kBlockHeaderBytes;
  if (source.withNext) {
    // The rest's header is kept aside while the next header is read into its place.
    std::array<uint8_t, kFreeHeader> rest;
    std::memcpy(rest.data(), data + payload, rest.size());
    store_.readData(source.handle, data, payload + kFreeHeader);
    std::memcpy(source.nextHeader.data(), data + payload, rest.size());
    std::memcpy(data + payload, rest.data(), rest.size());
  } else {
    store_.readData(source.handle, data, payload);
  }
  if (static_cast<int64_t>(head.size()) <= payload) std::memcpy(head.data(), data, head.size());
  noteBytesWritten(begin + kBlockHeaderBytes, begin + kBlockHeaderBytes + payload);
  store_.writeData(begin, bytes.data(), end - begin);
  return begin;
}

int64_t BlockHeap::allocate(int64_t sizeInBytes, bool clear, int32_t* payload) {
  return allocateBlock(sizeInBytes, clear, payload, {});
}

int64_t BlockHeap::allocateHolding(int64_t sizeInBytes, std::span<uint8_t> framed, int32_t* payload) {
  if (framed.size() < kBlockHeaderBytes || static_cast<int64_t>(framed.size()) - kBlockHeaderBytes > sizeInBytes) {
    raise("BUG", "cJournaledBlockFile.allocate(); bytes do not fit the block");
  }
  return allocateBlock(sizeInBytes, false, payload, framed);
}

int64_t BlockHeap::allocateBlock(int64_t sizeInBytes, bool clear, int32_t* payload, std::span<uint8_t> framed) {
  if (sizeInBytes <= 0) raise("EMU", "cJournaledBlockFile.allocate(); sizeInBytes<=0");
  int64_t blockSize = blockSizeForPayload(sizeInBytes);
  if (blockSize > INT32_MAX) raise("FULL", "cJournaledBlockFile.allocate(); file size limit reached");
  auto size32 = static_cast<int32_t>(blockSize);

  // Decide where the block goes before anything is written, so that a file
  // at its size limit refuses without touching the caller's transaction.
  FreeFind found = findFreeInArena(size32);
  blockRecord tail;
  int64_t endPosition = firstBlockPos_;
  if (found.position == 0 && tailPos_ != 0) {
    if (!knownTail(tail)) {
      readBlockHeader(tail, tailPos_, false);
      // The tail block is marked last and ends the data area. A damaged one
      // would put the new block over the blocks after it, or grow the file
      // to wherever its size points. (A known tail is the heap's own write.)
      if (tail.nextBlock != 0 || tailPos_ + tail.size > store_.dataSize()) {
        raise("BUG", "cJournaledBlockFile.allocate(); tailPos is not the last block");
      }
    }
    endPosition = tailPos_ + tail.size;
  }
  if (found.position == 0 && endPosition + blockSize > kBlockFileDataLimit) {
    raise("FULL", "cJournaledBlockFile.allocate(); file size limit reached");
  }

  BlockTransaction tx(store_);
  int64_t position;
  int32_t taken = size32;
  if (found.position == 0) {
    if (tailPos_ != 0) {
      tail.nextBlock = endPosition;
      writeBlockHeader(tail);
    }
    store_.setDataSize(endPosition + blockSize);
    const blockRecord fresh{endPosition, size32, false, 0, tailPos_, 0, 0};
    if (framed.empty()) {
      writeBlockHeader(fresh);
    } else {
      encodeBlockHeader(fresh, framed.data());
      noteHeaderWritten(fresh);
      store_.writeData(endPosition, framed.data(), static_cast<int64_t>(framed.size()));
      framed = {};
    }
    setTailPos(endPosition);
    position = endPosition;
  } else {
    blockRecord fr;
    readBlockHeader(fr, found.position, false);
    const bool split = fr.size - size32 > kSplitSlack;
    blockRecord used;
    if (split && FreeClass{found.f, found.s} == mapSizeToFreeClass(static_cast<uint32_t>(fr.size)) &&
        headsClassOf(fr, fr.size - size32)) {
      used = asUsedRecord(fr);
      succeedHead(fr, splitBlock(used, size32, false));
    } else {
      used = removeFreeFromArena(fr, found.f, found.s, secondLevel_[static_cast<size_t>(found.f)], !split);
      if (split) addFreeToArena(splitBlock(used, size32, false));
    }
    position = used.position;
    taken = used.size;
  }
  if (clear) this->clear(position + kBlockHeaderBytes, blockSize - kBlockHeaderBytes);
  if (framed.size() > kBlockHeaderBytes) {
    noteBytesWritten(position + kBlockHeaderBytes, position + static_cast<int64_t>(framed.size()));
    store_.writeData(position + kBlockHeaderBytes, framed.data() + kBlockHeaderBytes,
                     static_cast<int64_t>(framed.size()) - kBlockHeaderBytes);
  }
  tx.finish();
  if (payload) *payload = taken - kBlockHeaderBytes;
  return position + kBlockHeaderBytes;
}

void BlockHeap::deallocate(int64_t handle) {
  int64_t position = handle - kBlockHeaderBytes;
  if (position < firstBlockPos_ || position > tailPos_) {
    raise("EMU", "cJournaledBlockFile.deallocate(); nonsensical block value");
  }
  blockRecord block;
  const uint64_t count = store_.changeCount();
  if (count != 0 && count == sizedCount_ && sized_.position == position) {
    block = sized_;
  } else {
    readBlockHeader(block, position, false);
  }
  releaseBlock(block);
}

void BlockHeap::deallocateRead(const blockRecord& block, bool nextUsed, const uint8_t* nextHeader) {
  if (block.position < firstBlockPos_ || block.position > tailPos_) {
    raise("EMU", "cJournaledBlockFile.deallocate(); nonsensical block value");
  }
  releaseBlock(block, nextUsed, nextHeader);
}

void BlockHeap::releaseBlock(blockRecord block, bool nextUsed, const uint8_t* nextHeader) {
  if (block.isFree) raise("EMU", "cJournaledBlockFile.deallocate(); block already deallocated");

  BlockTransaction tx(store_);
  auto fits = [](const blockRecord& a, const blockRecord& b) { return int64_t{a.size} + b.size <= INT32_MAX; };
  // A block with a block after it ends as a free block whose header
  // addFreeToArena writes whole where the merges end; a header that would
  // be overwritten there is not written first. One that a merge leaves
  // inside the free space keeps what it would have held. (No free block is
  // last, so merging leaves the tail case as it found it.)
  bool staysInside = block.nextBlock != 0;
  bool headerPending = false;
  // A free block after that heads its list, when the merged block stays in
  // its class, leaves its list only if the block before merges too; else the
  // merged block succeeds it. Its header and the check of its next link are
  // written and made as taking it out would, before anything else.
  blockRecord heir;
  bool heirPending = false;
  // A used block after it stays where it is.
  if (block.nextBlock != 0 && !nextUsed) {
    blockRecord next;
    if (nextHeader) {
      if (!outOfRange(next, block.nextBlock, false)) decodeBlockHeader(next, block.nextBlock, nextHeader, false);
    } else {
      readBlockHeader(next, block.nextBlock, false);
    }
    if (next.isFree && fits(block, next)) {
      if (headsClassOf(next, block.size + next.size)) {
        if (next.nextFree != 0) checkNeighbour(next.nextFree);
        writeBlockHeader(asUsedRecord(next));
        heir = next;
        heirPending = true;
        block = mergeBothBlocks(block, asUsedRecord(next), false);
      } else {
        block = mergeBothBlocks(block, removeFreeBlock(next), false);
      }
      headerPending = true;
    }
  }
  if (block.prevBlock != 0) {
    blockRecord prev;
    readBlockHeader(prev, block.prevBlock, false);
    if (prev.isFree && fits(prev, block)) {
      if (heirPending) {
        // Taken out after all; the block before may have been its next.
        removeFreeBlock(heir, false);
        heirPending = false;
        if (prev.position == heir.nextFree) prev.prevFree = heir.prevFree;
      }
      if (headerPending) writeBlockHeader(block);
      if (staysInside && block.nextBlock != 0 && headsClassOf(prev, prev.size + block.size)) {
        // The free block before grows where it stands, still heading its list.
        succeedHead(prev, mergeBothBlocks(asUsedRecord(prev), block, false));
        tx.finish();
        return;
      }
      block = mergeBothBlocks(removeFreeBlock(prev, !staysInside), block, !staysInside);
    }
  }
  if (heirPending) {
    if (block.nextBlock != 0) {
      succeedHead(heir, block);
      tx.finish();
      return;
    }
    removeFreeBlock(heir, false);
  }
  if (block.nextBlock == 0) {
    if (block.prevBlock == 0) {
      setTailPos(0);
    } else {
      blockRecord prev;
      readBlockHeader(prev, block.prevBlock, false);
      prev.nextBlock = 0;
      writeBlockHeader(prev);
      setTailPos(prev.position);
    }
    store_.setDataSize(block.position);
  } else {
    addFreeToArena(block);
  }
  tx.finish();
}

void BlockHeap::copy(int64_t destination, int64_t source, int64_t sizeInBytes, std::span<uint8_t> head) {
  if (sizeInBytes < 0) raise("EMU", "cJournaledBlockFile.copy(); sizeInBytes<0");
  if (sizeInBytes == 0) return;
  BlockTransaction tx(store_);
  CopyBuffer buffer(sizeInBytes);
  int64_t remaining = sizeInBytes;
  while (remaining > 0) {
    int64_t n = std::min<int64_t>(remaining, buffer.size());
    store_.readData(source, buffer.data(), n);
    if (!head.empty() && remaining == sizeInBytes && n >= static_cast<int64_t>(head.size())) {
      std::memcpy(head.data(), buffer.data(), head.size());
    }
    noteBytesWritten(destination, destination + n);
    store_.writeData(destination, buffer.data(), n);
    source += n;
    destination += n;
    remaining -= n;
  }
  if (remaining < 0) raise("BUG", "cJournaledBlockFile.copy(); copied too many bytes");
  tx.finish();
}

void BlockHeap::clear(int64_t handle, int64_t sizeInBytes) {
  if (sizeInBytes < 0) raise("EMU", "cJournaledBlockFile.clear(); sizeInBytes<0");
  if (sizeInBytes == 0) return;
  BlockTransaction tx(store_);
  CopyBuffer buffer(sizeInBytes);
  std::memset(buffer.data(), store_.dataPadByte(), static_cast<size_t>(buffer.size()));
  int64_t remaining = sizeInBytes;
  while (remaining > 0) {
    int64_t n = std::min<int64_t>(remaining, buffer.size());
    noteBytesWritten(handle, handle + n);
    store_.writeData(handle, buffer.data(), n);
    handle += n;
    remaining -= n;
  }
  if (remaining < 0) raise("BUG", "cJournaledBlockFile.clear(); cleared too many bytes");
  tx.finish();
}

int32_t BlockHeap::infoSizeOfBlock(int64_t handle, const uint8_t* header) {
  // A handle from a damaged index entry may lie anywhere: the range check refuses it.
  const auto position = static_cast<int64_t>(static_cast<uint64_t>(handle) - kBlockHeaderBytes);
  if (position < firstBlockPos_ || position > tailPos_) {
    raise("EMU", "cJournaledBlockFile.infoSizeOfBlock(); nonsensical block value");
  }
  blockRecord r;
  if (header) {
    decodeBlockHeader(r, position, header, false);
  } else {
    readBlockHeader(r, position, false);
  }
  sized_ = r;
  sizedCount_ = store_.changeCount();
  return r.size - kBlockHeaderBytes;
}

int64_t BlockHeap::resizeArray(int64_t handle, int64_t newCount, int64_t oldCount, bool clear) {
  if (infoSizeOfBlock(handle) < oldCount * 8) {
    raise("EMU", "cJournaledBlockFile.resizeArray(); oldArraySizeInBytes larger than real size");
  }
  BlockTransaction tx(store_);
  int64_t fresh = allocArray(newCount, false);
  if (newCount > oldCount) {
    copy(fresh, handle, oldCount * 8);
    if (clear) this->clear(fresh + oldCount * 8, (newCount - oldCount) * 8);
  } else {
    copy(fresh, handle, newCount * 8);
  }
  tx.finish();
  return fresh;
}

int64_t BlockHeap::readArrayEntry(int64_t handle, int64_t index) { return readWord(handle + 8 * index); }

void BlockHeap::writeArrayEntry(int64_t handle, int64_t index, int64_t value) {
  writeWord(handle + 8 * index, value);
}

}  // namespace bw
