// database/soup_compact.cpp - the object soup's fragmentation figure and its
// compaction: one step after each change that frees or moves a block, or a
// whole pass (defragment), and the Database's list order of desired blocks.
//
// The walk (autoBlockToCompact, B) goes through the used blocks in file
// order; the desired block (autoDesiredBlock, D) is what should be placed in
// front of it next. Both live in the index header, so a pass survives
// restarts. Invariants:
//   1. B and D are 0 or handles of used blocks; every step leaves them so.
//   2. A full pass runs in one transaction and ends with both at 0.
//   3. A full pass ends: the list-order loop stops when a desired block was
//      already placed in this pass (a cycle in damaged links) and, as a last
//      guard, after 8 moves per used block plus 16.
#include <algorithm>
#include <set>

#include "core/exception.h"

#include "database/soup_block_file.h"
#include "database/soup_database.h"

namespace bw {

namespace {

// The block of an index: its data position - 4, 0 for none.
int64_t blockOfIndex(SoupBlockFile& file, int32_t index) {
  int64_t data = index == 0 ? 0 : file.infoBlockOfIndex(index, true);
  return data == 0 ? 0 : data - 4;
}

// The candidate for the next desired block after a move, and whether it has
// to be decided anew (a placed block, or nothing moved).
struct NextDesired {
  int64_t candidate;
  bool decide;
};
NextDesired afterMove(int64_t block, int64_t desired, const MovedBlock& m) {
  bool same = block == desired;
  int64_t candidate = ((m.handle != 0 && same) || m.placed) ? m.handle : desired;
  return {candidate, m.placed || m.handle == 0};
}

}  // namespace

int32_t cJournaledIndexedObjectSoup::infoFragmentation() {
  requireOpen("infoFragmentation");
  int64_t size = file_->getSize();
  if (size <= 0) return 0;
  int64_t used = usedBytes_ + file_->infoOverhead().fixedBytes;
  return static_cast<int32_t>(1000 - used * 1000 / size);
}

int64_t cJournaledIndexedObjectSoup::decideNextBlockToCompact(int64_t block) {
  return block == 0 ? 0 : file_->infoNextUsedBlock(block);
}

int64_t cJournaledIndexedObjectSoup::decideNextDesiredBlock(int64_t /*block*/) { return 0; }

void cJournaledIndexedObjectSoup::noteMovedHead(const MovedBlock& m) {
  if (!m.placed || !m.copied) return;
  movedHead_.block = m.handle;
  movedHead_.changeCount = file_->infoChangeCount();
  std::copy(m.head.begin() + 4, m.head.end(), movedHead_.data.begin());
}

bool cJournaledIndexedObjectSoup::movedDataHead(int64_t block, uint8_t* out) {
  const uint64_t count = file_->infoChangeCount();
  if (block == 0 || block != movedHead_.block || count == 0 || count != movedHead_.changeCount) return false;
  std::copy(movedHead_.data.begin(), movedHead_.data.end(), out);
  return true;
}

int64_t cJournaledIndexedObjectSoup::nextAfterMove(int64_t block, const MovedBlock& m) {
  return m.nextUsed >= 0 ? m.nextUsed : decideNextBlockToCompact(block);
}

void cJournaledIndexedObjectSoup::compactStep(bool restart) {
  requireChangeable("compactStep");
  int64_t block = autoBlockToCompact_;
  int64_t desired = autoDesiredBlock_;
  if (block == 0 || restart) {
    CompactionBlocks first = firstCompactionBlocks();
    setAutoBlockToCompact(first.blockToCompact);
    setAutoDesiredBlock(first.desiredBlock);
    return;
  }
  SoupTransaction tx(*file_);
  if (desired == 0) {
    setAutoBlockToCompact(nextAfterMove(block, moveBlock(block, 0)));
    tx.finish();
    return;
  }
  MovedBlock m = moveBlock(block, desired);
  noteMovedHead(m);
  NextDesired d = afterMove(block, desired, m);
  int64_t newBlock = (!m.placed || block == desired) ? nextAfterMove(block, m) : block;
  int64_t newDesired = d.decide ? decideNextDesiredBlock(d.candidate) : d.candidate;
  if (newBlock != autoBlockToCompact_) setAutoBlockToCompact(newBlock);
  if (newDesired != autoDesiredBlock_) setAutoDesiredBlock(newDesired);
  tx.finish();
}

void cJournaledIndexedObjectSoup::defragment(bool stepOnly) {
  requireChangeable("defragment");
  SoupTransaction tx(*file_);
  if (stepOnly) {
    compactStep(false);
    tx.finish();
    if (autoBlockToCompact_ == 0) flush();
    return;
  }
  int64_t usedBlocks = 0;
  for (int64_t h = file_->infoFirstBlock(); h != 0; h = file_->infoNextUsedBlock(h)) ++usedBlocks;
  int64_t moves = 8 * usedBlocks + 16;

  CompactionBlocks first = firstCompactionBlocks();
  int64_t block = first.blockToCompact;
  int64_t desired = first.desiredBlock;
  int64_t next = decideNextBlockToCompact(block);
  std::set<int64_t> placed;
  while (block != 0 && desired != 0 && moves-- > 0) {
    MovedBlock m = moveBlock(block, desired);
    noteMovedHead(m);
    if (m.placed) placed.insert(m.handle);
    if (m.placed && next == desired) next = decideNextBlockToCompact(block);
    NextDesired d = afterMove(block, desired, m);
    if (!m.placed || block == desired) {
      block = next;
      next = decideNextBlockToCompact(next);
    }
    desired = d.decide ? decideNextDesiredBlock(d.candidate) : d.candidate;
    if (d.decide && placed.count(desired)) desired = 0;  // the order ran into a cycle
  }
  moves = 8 * usedBlocks + 16;
  while (block != 0 && moves-- > 0) {
    block = nextAfterMove(block, moveBlock(block, 0));
  }
  setAutoBlockToCompact(0);
  setAutoDesiredBlock(0);
  tx.finish();
  flush();
}

// --- the Database's list order ----------------------------------------------------------

int64_t cJournaledIndexedObjectSoupDatabase::decideNextDesiredBlock(int64_t last) {
  SoupBlockFile& file = infoBlockFile();
  int64_t d = infoDefragListIndex();
  bool recordDone = d < -1;
  if (recordDone) d = ~d;
  int32_t next = 0;
  if (d == -1) {
    int32_t head = infoHeadListIndex();
    if (head == 0) {
      setDefragListIndex(0);
      return 0;
    }
    cIndexedObjectList* headList = loadObject_cIndexedObjectList(*this, head);
    LoadedUse use(*this, headList);
    int32_t oldest = headList->infoListPrevIndex();
    int64_t block = blockOfIndex(file, oldest);
    if (block == 0) {
      raise("BUG", "cJournaledIndexedObjectSoupDatabase.decideNextDesiredBlock(); first list's headListIndex did not exist");
    }
    setDefragListIndex(~int64_t{oldest});
    return block;
  }
  if (d == 0) return 0;
  auto list = static_cast<int32_t>(d);
  if (recordDone) {
    cIndexedObjectList* l = loadObject_cIndexedObjectList(*this, list);
    LoadedUse use(*this, l);
    next = infoListFlag() ? l->infoTailIndex() : l->infoHeadIndex();
    setDefragListIndex(list);
  } else {
    if (last == 0) raise("BUG", "cJournaledIndexedObjectSoupDatabase.decideNextDesiredBlock(); lastDesiredBlock=0");
    uint8_t bytes[8];
    if (!movedDataHead(last, bytes)) file.readBytes(last + 4, bytes, 8);
    auto field = [&](int at) {
      return static_cast<int32_t>(uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 |
                                  bytes[at + 3]);
    };
    next = infoListFlag() ? field(4) : field(0);
    if (next == 0) {
      // The end of list L: the list before it in the chain comes next,
      // until the walk is back at the first list.
      if (list == infoHeadListIndex()) {
        list = 0;
      } else {
        cIndexedObjectList* l = loadObject_cIndexedObjectList(*this, list);
        LoadedUse use(*this, l);
        list = l->infoListPrevIndex();
      }
      if (list == 0) {
        setDefragListIndex(0);
        return 0;
      }
      next = list;
      setDefragListIndex(~int64_t{list});
    }
  }
  if (next == 0) return 0;
  int64_t block = blockOfIndex(file, next);
  if (block == 0) raise("BUG", "cJournaledIndexedObjectSoupDatabase.decideNextDesiredBlock(); a list's headIndex did not exist");
  return block;
}

}  // namespace bw
