// database/block_validate.cpp - checking and repairing a block heap.
#include "database/block_validate.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "database/validation_report.h"

namespace bw {

namespace {

constexpr intptr_t kInSet = 1;

class BlockValidator {
 public:
  BlockValidator(BlockHeap& heap, bool verbose, bool repair, bool collectUsed)
      : heap_(heap), verbose_(verbose), free_(std::make_unique<ValidationSet>()) {
    tally_.repair = repair;
    if (collectUsed) used_ = std::make_unique<ValidationSet>();
  }

  ValidationResult run() {
    std::optional<BlockTransaction> tx;
    bool ended = runValidationSteps(verbose_, [&] {
      if (tally_.repair) tx.emplace(heap_.store());
      checkHeaderSize();
      checkFileSize();
      walkForwards();
      checkChainEnd();
      walkBackwards();
      if (tally_.valid) {
        checkFreeLists();
        relinkUnreached();
      }
      if (tx) tx->finish();
    });
    ValidationResult result;
    if (!ended) {
      tx.reset();  // discards the repairs of an aborted run
      return result;
    }
    result.valid = tally_.valid;
    result.repaired = tally_.repaired;
    if (tally_.valid) result.blocks = std::move(used_);
    return result;
  }

 private:
  bool readQuietly(blockRecord& r, int64_t position) { return heap_.readBlockHeader(r, position, true); }

  // (1): nothing else can be trusted when the first block is elsewhere.
  void checkHeaderSize() {
    // The stored word, all 64 bits of it: the mirror keeps only the low 32.
    int64_t stored = heap_.readWord(headerWordPos(FHINDEX_HSIZE));
    if (heap_.firstBlockPos() == FIRST_BLOCK_POS && stored == FIRST_BLOCK_POS) return;
    printFinding(verbose_, "In Block File's header, [FHINDEX_HSIZE]=%ld expected %ld. (1)\n", static_cast<long>(stored),
                 static_cast<long>(FIRST_BLOCK_POS));
    throw ValidationAbort{};
  }

  // (2): bytes after a tail block that is marked last. The expected size is
  // the one used from here on, so check-only runs report the tail once.
  void checkFileSize() {
    size_ = heap_.store().dataSize();
    int64_t tail = heap_.tailPos();
    if (tail <= 0 || tail + kBlockHeaderBytes > size_) return;
    blockRecord r;
    if (!readQuietly(r, tail) || r.nextBlock != 0 || tail + r.size >= size_) return;
    int64_t expected = tail + r.size;
    printFinding(verbose_, "In Block File's header, [FHINDEX_TAIL]=%ld so expected file size=%ld but was actually %ld. (2)\n",
                 static_cast<long>(tail), static_cast<long>(expected), static_cast<long>(size_));
    tally_.mendOr([&] { heap_.store().setDataSize(expected); });
    size_ = expected;
  }

  // (3), (4): the chain by sizes from the first block.
  void walkForwards() {
    int64_t previous = 0;
    for (int64_t position = heap_.firstBlockPos(); position + 24 <= size_;) {
      blockRecord r;
      readQuietly(r, position);
      // A size that runs past the end is as bad as one too small, unless
      // this is the tail: taking it at its word would swallow every block
      // after it, which the backward walk from the tail can still reach.
      if (r.size < kMinimumBlockSize || (position + r.size > size_ && position != heap_.tailPos())) {
        printFinding(verbose_, "For block %ld, size=%ld. (3)\n", static_cast<long>(position), static_cast<long>(r.size));
        // With repair the walk back from the tail decides: it mends the
        // headers it can and covers a stretch whose headers are lost with
        // one free block; it fails the run when it cannot get through.
        if (!tally_.repair) tally_.valid = false;
        badBlock_ = position;
        lastGood_ = previous;
        return;
      }
      if (r.prevBlock != previous) {
        printFinding(verbose_, "For block %ld, prevBlock=%ld expected %ld. (4)\n", static_cast<long>(position),
                     static_cast<long>(r.prevBlock), static_cast<long>(previous));
        tally_.mendOr([&] {
          r.prevBlock = previous;
          heap_.writeBlockHeader(r);
        });
      }
      current_ = r;
      previous = position;
      position += r.size;
    }
  }

  // (5) to (8): the end of the chain against the header's tail.
  void checkChainEnd() {
    if (badBlock_ != 0) {
      // The chain is broken: the header's tail takes over.
      int64_t tail = heap_.tailPos();
      blockRecord r;
      readQuietly(r, tail);
      if (tail + 24 > size_) {
        printFinding(verbose_, "In Block File's header, [FHINDEX_TAIL] is after end of file, so forced to abort validation. (5)\n");
        throw ValidationAbort{};
      }
      if (tail + r.size < size_) {
        printFinding(verbose_, "In Block File's header, [FHINDEX_TAIL] is not last block, so forced to abort validation. (6)\n");
        throw ValidationAbort{};
      }
      current_ = r;
    }
    if (heap_.tailPos() != 0 && current_.position != 0) {
      if (current_.position + current_.size != size_) {
        int64_t expected = size_ - current_.position;
        printFinding(verbose_, "For block %ld, size=%ld expected %ld. (7a)\n", static_cast<long>(current_.position),
                     static_cast<long>(current_.size), static_cast<long>(expected));
        tally_.mendOr([&] {
          current_.size = static_cast<int32_t>(expected);
          if (current_.nextBlock != 0) current_.nextBlock = current_.position + current_.size;
          heap_.writeBlockHeader(current_);
        });
      }
      if (current_.nextBlock != 0) {
        printFinding(verbose_, "For block %ld, nextBlock=%ld expected 0. (7b)\n", static_cast<long>(current_.position),
                     static_cast<long>(current_.nextBlock));
        tally_.mendOr([&] {
          current_.nextBlock = 0;
          heap_.writeBlockHeader(current_);
        });
      }
    }
    if (current_.position != heap_.tailPos()) {
      printFinding(verbose_, "In Block File's header, [FHINDEX_TAIL]=%ld expected %ld. (8)\n",
                   static_cast<long>(heap_.tailPos()), static_cast<long>(current_.position));
      tally_.mendOr([&] { heap_.setTailPos(current_.position); });
    }
  }

  // (9) to (11): back from the last block through the prevBlock links,
  // collecting the used and the free blocks. A link must lead strictly
  // backwards into the block area, so the walk always ends.
  void walkBackwards() {
    int64_t after = size_;
    int64_t steps = (size_ - FIRST_BLOCK_POS) / 28 + 1;
    int64_t last = 0;
    blockRecord later;  // the block at after, as mended
    for (int64_t position = current_.position; position != 0;) {
      blockRecord r;
      readQuietly(r, position);
      if (badBlock_ != 0 && tally_.repair && after != size_ && position >= badBlock_ && lostHeader(r)) {
        r = coverLostStretch(later);
        position = r.position;
      }
      if (after != size_ && r.nextBlock == 0) {
        printFinding(verbose_, "For block %ld, nextBlock=%ld expected %ld. (9)\n", static_cast<long>(position),
                     static_cast<long>(r.nextBlock), static_cast<long>(after));
        tally_.mendOr([&] {
          r.nextBlock = after;
          heap_.writeBlockHeader(r);
        });
      }
      if (tally_.valid) {
        if (!r.isFree) {
          if (used_) used_->set(setKey(position + kBlockHeaderBytes), kInSet);
        } else {
          free_->set(setKey(position), kInSet);
        }
      }
      if ((r.prevBlock != 0 && (r.prevBlock >= position || r.prevBlock < FIRST_BLOCK_POS)) || --steps < 0) {
        printFinding(verbose_, "For block %ld, prevBlock=%ld. (10)\n", static_cast<long>(position),
                     static_cast<long>(r.prevBlock));
        throw ValidationAbort{};
      }
      if (r.size != after - position) {
        printFinding(verbose_, "For block %ld, size=%ld expected %ld. (11)\n", static_cast<long>(position),
                     static_cast<long>(r.size), static_cast<long>(after - position));
        tally_.mendOr([&] {
          r.size = static_cast<int32_t>(after - position);
          if (r.nextBlock != 0) r.nextBlock = after;
          heap_.writeBlockHeader(r);
        });
      }
      after = position;
      last = position;
      later = r;
      position = r.prevBlock;
    }
    // A broken forward walk counts as mended only when the walk back got
    // through to the first block.
    if (badBlock_ != 0 && tally_.repair) {
      if (last == heap_.firstBlockPos()) {
        tally_.repaired = true;
      } else {
        tally_.valid = false;
      }
    }
  }

  // A header that no block can have: too small, or a block without a
  // previous one that is not the first.
  bool lostHeader(const blockRecord& r) const {
    if (r.prevBlock == 0 && r.position != heap_.firstBlockPos()) return true;
    // The bad block itself, still linked to the block before it, has lost
    // only its size: finding 11 mends it.
    bool linked = r.position == badBlock_ && r.prevBlock == lastGood_;
    return r.size < kMinimumBlockSize && !linked;
  }

  // The stretch between the last block the forward walk trusted and the
  // block later, whose link back leads to a lost header. When the blocks of
  // the stretch still name each other (the bad block lost only its size,
  // later only its link), the bad block gets its header back and later its
  // link, and the walk goes on back through them. Otherwise one used block
  // covers the stretch: the records it held are gone; the index validation
  // finds their entries and frees the block, which no entry names (merging
  // it with free neighbours).
  blockRecord coverLostStretch(blockRecord& later) {
    if (std::optional<blockRecord> last = chainThrough(later)) return *last;
    int64_t size = later.position - badBlock_;
    printFinding(verbose_, "Blocks %ld to %ld have lost their headers. (3b)\n", static_cast<long>(badBlock_),
                 static_cast<long>(later.position));
    if (size < kMinimumBlockSize || size % 4 != 0) throw ValidationAbort{};
    blockRecord gap{badBlock_, static_cast<int32_t>(size), false, later.position, lastGood_, 0, 0};
    heap_.writeBlockHeader(gap);
    later.prevBlock = badBlock_;
    heap_.writeBlockHeader(later);
    return gap;
  }

  // The block after p in a stretch that ends at end: where p's size leads
  // when the header there names p as the block before it, else the first
  // header after p that does; end when none does before it. 0 when p's
  // size leads nowhere in the stretch and no header names p.
  int64_t successorOf(int64_t p, int64_t end) {
    blockRecord r, next;
    if (readQuietly(r, p) && r.size >= kMinimumBlockSize && p + r.size <= end &&
        (p + r.size == end || (readQuietly(next, p + r.size) && next.prevBlock == p))) {
      return p + r.size;
    }
    // A sound header's link back is the negative distance to p, as four
    // big-endian bytes after its size word.
    constexpr int64_t kChunk = 64 * 1024;
    std::vector<uint8_t> bytes;
    for (int64_t from = p + 4 * ((kMinimumBlockSize + 3) / 4); from < end; from += kChunk) {
      const int64_t length = std::min(kChunk, end - from) + kBlockHeaderBytes;
      bytes.resize(static_cast<size_t>(length));
      heap_.store().readData(from, bytes.data(), length);
      for (int64_t q = from; q < std::min(from + kChunk, end); q += 4) {
        const auto link = static_cast<int32_t>(getBig32(bytes.data() + (q - from) + 4));
        if (link == p - q && readQuietly(next, q) && next.prevBlock == p) return q;
      }
    }
    return end;
  }

  // The last block of a chain from the bad block to later, each block named
  // by the next, with the bad block's header and later's link mended; none
  // when the headers of the stretch do not chain.
  std::optional<blockRecord> chainThrough(blockRecord& later) {
    std::vector<int64_t> chain{badBlock_};
    while (chain.back() != later.position) {
      const int64_t next = successorOf(chain.back(), later.position);
      // The bad block's header may be lost whole: a chain needs one block
      // after it whose header is sound.
      if (next == 0 || (next == later.position && chain.size() == 1)) return std::nullopt;
      chain.push_back(next);
    }
    chain.pop_back();
    printFinding(verbose_, "Block %ld lost its size; the blocks after it still name it. (3c)\n", static_cast<long>(badBlock_));
    blockRecord bad{badBlock_, static_cast<int32_t>(chain[1] - badBlock_), false, chain[1], lastGood_, 0, 0};
    heap_.writeBlockHeader(bad);
    blockRecord last;
    if (!readQuietly(last, chain.back())) throw ValidationAbort{};
    printFinding(verbose_, "For block %ld, prevBlock=%ld expected %ld. (4)\n", static_cast<long>(later.position),
                 static_cast<long>(later.prevBlock), static_cast<long>(last.position));
    later.prevBlock = last.position;
    heap_.writeBlockHeader(later);
    return last;
  }

  void dropList(int32_t f, int32_t s) {
    const SecondLevel& entry = heap_.secondLevel(f);
    heap_.set_sl_freeList(f, entry, s, 0);
    // A dropped list leaves no set bit behind: the allocator trusts the
    // bitmaps and would take a head of 0.
    uint32_t bits = entry.freeBitmap & ~(uint32_t{1} << s);
    if (bits != entry.freeBitmap) heap_.set_sl_freeBitmap(f, entry, bits);
    if (bits == 0 && (heap_.flFreeBitmap() & (uint32_t{1} << f))) {
      heap_.set_fl_freeBitmap(heap_.flFreeBitmap() & ~(uint32_t{1} << f));
    }
  }

  // Takes a free block out of list (f, s), which is not its own class.
  void unlink(const blockRecord& r, int32_t f, int32_t s, int64_t previous) {
    if (r.nextFree != 0) {
      blockRecord next;
      heap_.readBlockHeader(next, r.nextFree, false);
      next.prevFree = previous;
      heap_.writeBlockHeader(next);
    }
    if (previous == 0) {
      if (r.nextFree == 0) {
        dropList(f, s);
      } else {
        heap_.set_sl_freeList(f, heap_.secondLevel(f), s, r.nextFree);
      }
    } else {
      blockRecord prev;
      heap_.readBlockHeader(prev, previous, false);
      prev.nextFree = r.nextFree;
      heap_.writeBlockHeader(prev);
    }
    heap_.writeBlockHeader(asUsedRecord(r));
  }

  // (12) to (19): the bitmaps and every free list. A list is followed only
  // over blocks of the free-block set, each taken out when visited.
  void checkFreeLists() {
    for (int32_t f = 0; f < FL_COUNT; ++f) {
      uint32_t fBit = uint32_t{1} << f;
      for (int32_t s = 0; s < SL_SIZE; ++s) {
        const SecondLevel& entry = heap_.secondLevel(f);
        uint32_t sBit = uint32_t{1} << s;
        int64_t head = entry.freeLists[static_cast<size_t>(s)];
        if (!(heap_.flFreeBitmap() & fBit)) {
          if (entry.freeBitmap != 0) {
            printFinding(verbose_, "For FI=%ld SI=%ld, fl_freeBitmap was clear, but secondLevel.freeBitmap was not. (18)\n",
                         static_cast<long>(f), static_cast<long>(s));
            tally_.mendOr([&] { heap_.set_sl_freeBitmap(f, entry, 0); });
          }
          if (head != 0) {
            printFinding(verbose_, "For FI=%ld SI=%ld, fl_freeBitmap was clear, but secondLevel.freeLists was not empty. (19)\n",
                         static_cast<long>(f), static_cast<long>(s));
            tally_.mendOr([&] { heap_.set_sl_freeList(f, entry, s, 0); });
          }
        } else if (!(entry.freeBitmap & sBit)) {
          if (head != 0) {
            printFinding(verbose_,
                         "For FI=%ld SI=%ld, secondLayer.freeBitmap had a clear bit, but the corresponding secondLevel.freeLists was not empty. (12)\n",
                         static_cast<long>(f), static_cast<long>(s));
            tally_.mendOr([&] { heap_.set_sl_freeList(f, entry, s, 0); });
          }
        } else if (head == 0) {
          // The allocator trusts a set bit and would take a head of 0.
          printFinding(verbose_,
                       "For FI=%ld SI=%ld, secondLevel.freeBitmap had a set bit, but the corresponding secondLevel.freeLists was empty. (12b)\n",
                       static_cast<long>(f), static_cast<long>(s));
          tally_.mendOr([&] { dropList(f, s); });
        } else {
          walkFreeList(f, s, head);
        }
      }
      if ((heap_.flFreeBitmap() & fBit) && heap_.secondLevel(f).freeBitmap == 0) {
        printFinding(verbose_, "For FI=%ld, fl_freeBitmap was set, but secondLevel.freeBitmap was clear. (18b)\n",
                     static_cast<long>(f));
        tally_.mendOr([&] { heap_.set_fl_freeBitmap(heap_.flFreeBitmap() & ~fBit); });
      }
    }
    // Blocks found in a list of another class join their own list now, so
    // that no list walked later meets them a second time.
    for (const blockRecord& r : misfiled_) heap_.addFreeToArena(asUsedRecord(r));
  }

  void walkFreeList(int32_t f, int32_t s, int64_t head) {
    int64_t previous = 0;
    int64_t position = head;
    while (position != 0 && valueInSet(*free_, position) != 0) {
      blockRecord r;
      // A header damaged in its links ends the list here, like a block that
      // is not free (finding 16 or 17 below).
      if (!readQuietly(r, position) || !r.isFree) break;
      free_->get(setKey(position), true);
      if (r.prevFree != previous) {
        printFinding(verbose_, "For block=%ld, prevFree=%ld expected %ld. (13)\n", static_cast<long>(position),
                     static_cast<long>(r.prevFree), static_cast<long>(previous));
        tally_.mendOr([&] {
          r.prevFree = previous;
          heap_.writeBlockHeader(r);
        });
      }
      if (r.size < 1) {
        printFinding(verbose_, "For block %ld, size=%ld but should have already been fixed. (14)\n",
                     static_cast<long>(position), static_cast<long>(r.size));
        throw ValidationAbort{};
      }
      FreeClass exact = mapSizeToFreeClass(static_cast<uint32_t>(r.size));
      bool stays = true;
      if (exact.f != f || exact.s != s) {
        printFinding(verbose_, "For block=%ld, FI/SI=%ld/%ld expected %ld/%ld. (15)\n", static_cast<long>(position),
                     static_cast<long>(f), static_cast<long>(s), static_cast<long>(exact.f), static_cast<long>(exact.s));
        tally_.mendOr([&] {
          unlink(r, f, s, previous);
          misfiled_.push_back(r);
          stays = false;
        });
      }
      if (stays) previous = position;
      position = r.nextFree;
    }
    if (position == 0) return;
    if (previous == 0) {
      printFinding(verbose_, "For FI=%ld SI=%ld, the corresponding secondLevel.freeLists had an invalid head block. (17)\n",
                   static_cast<long>(f), static_cast<long>(s));
      tally_.mendOr([&] { dropList(f, s); });
    } else {
      printFinding(verbose_, "For FI=%ld SI=%ld, the corresponding secondLevel.freeLists contained an invalid block. (16)\n",
                   static_cast<long>(f), static_cast<long>(s));
      tally_.mendOr([&] {
        blockRecord prev;
        heap_.readBlockHeader(prev, previous, false);
        prev.nextFree = 0;
        heap_.writeBlockHeader(prev);
      });
    }
  }

  // (20): free blocks of the chain that no list reached.
  void relinkUnreached() {
    for (bool more = free_->gotoFirst(); more; more = free_->gotoNext()) {
      int64_t position = fromSetKey(free_->infoCurrent().key);
      blockRecord r;
      readQuietly(r, position);
      if (!r.isFree) continue;  // taken into a list as misfiled meanwhile
      printFinding(verbose_, "Block %ld was not reachable using the TLSF, despite being marked as free. (20)\n",
                   static_cast<long>(position));
      tally_.mendOr([&] { heap_.addFreeToArena(asUsedRecord(r)); });
    }
  }

  BlockHeap& heap_;
  bool verbose_;
  FindingTally tally_;
  int64_t size_ = 0;
  int64_t badBlock_ = 0;   // where the forward walk met a bad header
  int64_t lastGood_ = 0;   // the block before it
  blockRecord current_;
  std::unique_ptr<ValidationSet> used_;
  std::unique_ptr<ValidationSet> free_;
  std::vector<blockRecord> misfiled_;
};

}  // namespace

ValidationResult validateBlockHeap(BlockHeap& heap, bool verbose, bool repair, bool collectUsed) {
  return BlockValidator(heap, verbose, repair, collectUsed).run();
}

}  // namespace bw
