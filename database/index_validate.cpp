// database/index_validate.cpp - checking and repairing the index array.
#include "database/index_validate.h"

#include <optional>
#include <unordered_map>
#include <vector>

#include "database/validation_report.h"

namespace bw {

namespace {

// Minus a stored value, wrapping for the one value that has no opposite.
int64_t negate(int64_t v) { return static_cast<int64_t>(uint64_t{0} - static_cast<uint64_t>(v)); }

constexpr intptr_t kUnaccounted = 1;
constexpr intptr_t kAccounted = 2;
constexpr intptr_t kInUse = 1;

class IndexValidator {
 public:
  IndexValidator(BlockHeap& heap, BlockIndex& index, bool verbose, bool repair, bool keepSets)
      : heap_(heap), index_(index), verbose_(verbose), keepSets_(keepSets) {
    tally_.repair = repair;
  }

  ValidationResult run() {
    std::optional<BlockTransaction> tx;
    bool ended = runValidationSteps(verbose_, [&] {
      ValidationResult blocks = validateBlockHeap(heap_, verbose_, tally_.repair, true);
      tally_.repaired = blocks.repaired;
      tally_.valid = blocks.valid;
      if (!tally_.valid) return;  // nothing of the index is examined
      blocks_ = std::move(blocks.blocks);
      if (tally_.repair) tx.emplace(heap_.store());
      checkSpecialBlocks();
      checkArraySize();
      if (keepSets_) indices_ = std::make_unique<ValidationSet>();
      findStrays();
      walkEntries();
      checkChainCount();
      freeUnaccounted();
      if (tx) tx->finish();
    });
    if (!ended) {
      tx.reset();  // discards the repairs of an aborted run
      return {};
    }
    return finishResult();
  }

 private:
  ValidationResult finishResult() {
    if (tally_.repaired) index_.reloadMirrors();
    ValidationResult result;
    result.valid = tally_.valid;
    result.repaired = tally_.repaired;
    if (tally_.valid && keepSets_) {
      result.indices = std::move(indices_);
      result.blocks = std::move(blocks_);
    }
    return result;
  }

  intptr_t stateOf(int64_t handle) { return valueInSet(*blocks_, handle); }
  void account(int64_t handle) { blocks_->set(setKey(handle), kAccounted); }

  void checkSpecialBlocks() {
    int64_t array = index_.arrayBlock();
    if (stateOf(array) == 0) {
      printFinding(verbose_, "The special Index arrayBlock=%ld does not exist!\n", static_cast<long>(array));
      throw ValidationAbort{};
    }
    account(array);
    int64_t dummy = index_.infoDummyBlock();
    if (stateOf(dummy) != 0) {
      account(dummy);
    } else {
      printFinding(verbose_, "The special Index dummyBlock=%ld does not exist!\n", static_cast<long>(dummy));
      tally_.valid = false;
    }
  }

  void checkArraySize() {
    int64_t capacity = heap_.infoSizeOfBlock(index_.arrayBlock()) / 8;
    int64_t size = heap_.readArrayEntry(index_.arrayBlock(), 2);  // all 64 bits, not the mirror's 32
    if (capacity < size || capacity - 4 > size) {
      printFinding(verbose_, "Index's arraySize=%ld but expected about %ld\n", static_cast<long>(size),
                   static_cast<long>(capacity));
      throw ValidationAbort{};
    }
  }

  void writeEntry(int64_t entry, int64_t value) { index_.writeEntry(entry, value); }

  // The free chain must run through the free entries in ascending order:
  // prev is the free entry met last (0 for none), expected the entry the
  // chain names next.
  void linkFree(int64_t entry) {
    if (entry == expected_) return;
    printFinding(verbose_, "For empty index=%ld, value=%ld expected %ld\n", static_cast<long>(prev_),
                 static_cast<long>(negate(expected_)), static_cast<long>(-entry));
    tally_.mendOr([&] { writeEntry(prev_ == 0 ? 4 : prev_, prev_ == 0 ? entry : -entry); });
  }

  // The used blocks no entry names whose index word names an entry alone
  // (a zeroed stretch of the array loses entries, not their blocks):
  // strays_ maps that entry to its block.
  void findStrays() {
    int64_t array = index_.arrayBlock();
    int64_t dummy = index_.infoDummyBlock();
    std::unordered_map<int64_t, int64_t> namedHandles;
    for (int64_t e = BLOCKINDEX_MIN; e < index_.arraySize(); ++e) {
      int64_t v = heap_.readArrayEntry(array, e);
      if (v > 0 && stateOf(v) != 0) namedHandles.emplace(v, e);
    }
    std::unordered_map<int64_t, int> claims;
    for (bool more = blocks_->gotoFirst(); more; more = blocks_->gotoNext()) {
      int64_t handle = fromSetKey(blocks_->infoCurrent().key);
      if (handle == array || handle == dummy || namedHandles.contains(handle)) continue;
      int64_t word = heap_.read32(handle);
      if (word < BLOCKINDEX_MIN || word >= index_.arraySize()) continue;
      if (++claims[word] == 1) strays_[word] = handle;
    }
    for (auto& [entry, count] : claims) {
      if (count > 1) strays_.erase(entry);  // two blocks claim it: neither is taken
    }
  }

  // Takes the stray block of entry back into the index, when there is one.
  bool adoptStray(int64_t entry) {
    auto stray = strays_.find(entry);
    if (stray == strays_.end()) return false;
    int64_t handle = stray->second;
    printFinding(verbose_, "For index=%ld, block %ld holds it but the entry does not name it\n",
                 static_cast<long>(entry), static_cast<long>(handle));
    tally_.mendOr([&] { writeEntry(entry, handle); });
    account(handle);
    if (tally_.valid && indices_) indices_->set(entry - (BLOCKINDEX_MIN - 1), kInUse);
    return true;
  }

  void walkEntries() {
    int64_t array = index_.arrayBlock();
    int64_t dummy = index_.infoDummyBlock();
    // The stored entries, all 64 bits of them: the mirrors keep only 32.
    arrayFree_ = heap_.readArrayEntry(array, 3);
    expected_ = heap_.readArrayEntry(array, 4);
    for (int64_t e = BLOCKINDEX_MIN; e < index_.arraySize(); ++e) {
      int64_t v = heap_.readArrayEntry(array, e);
      if (v <= 0) {
        if (adoptStray(e)) continue;  // the free chain is mended around it
        ++count_;
        linkFree(e);
        prev_ = e;
        expected_ = negate(v);
        continue;
      }
      intptr_t state = stateOf(v);
      bool exists = v == dummy ? state != 0 : state == kUnaccounted;
      if (!exists) {
        printFinding(verbose_, "For index=%ld, block %ld does not exist!\n", static_cast<long>(e), static_cast<long>(v));
        if (!adoptStray(e)) tally_.mendOr([&] { freeEntryOnly(e); });
        continue;
      }
      account(v);
      if (tally_.valid && indices_) indices_->set(e - (BLOCKINDEX_MIN - 1), kInUse);
      if (v == dummy) continue;  // preallocated: the dummy block has no index word
      int64_t word = heap_.read32(v);
      if (word != e) {
        printFinding(verbose_, "For block %ld, index=%ld expected %ld\n", static_cast<long>(v), static_cast<long>(word),
                     static_cast<long>(e));
        tally_.mendOr([&] { heap_.write32(v, static_cast<uint32_t>(e)); });
      }
    }
  }

  // The entry joins the free chain where the walk stands; its block, which
  // the heap does not know as a used block of this entry, is left alone.
  void freeEntryOnly(int64_t entry) {
    writeEntry(prev_ == 0 ? 4 : prev_, prev_ == 0 ? entry : -entry);
    writeEntry(entry, negate(expected_));
    ++arrayFree_;
    writeEntry(3, arrayFree_);
    ++count_;
    prev_ = entry;
  }

  void checkChainCount() {
    if (expected_ != 0) {
      printFinding(verbose_, "For empty index=%ld, value=%ld expected %ld\n", static_cast<long>(prev_),
                   static_cast<long>(negate(expected_)), 0L);
      tally_.mendOr([&] { writeEntry(prev_ == 0 ? 4 : prev_, 0); });
    }
    if (arrayFree_ != count_) {
      printFinding(verbose_, "Index's arrayFree=%ld expected %ld\n", static_cast<long>(arrayFree_), static_cast<long>(count_));
      tally_.mendOr([&] { writeEntry(3, count_); });
    }
  }

  void freeUnaccounted() {
    std::vector<intptr_t> unused;
    for (bool more = blocks_->gotoFirst(); more; more = blocks_->gotoNext()) {
      if (blocks_->infoCurrent().data != kAccounted) unused.push_back(blocks_->infoCurrent().key);
    }
    for (intptr_t key : unused) {
      int64_t handle = fromSetKey(key);
      printFinding(verbose_, "Block %ld is allocated but not used (indexed)\n", static_cast<long>(handle));
      tally_.mendOr([&] { heap_.deallocate(handle); });
      blocks_->get(key, true);
    }
  }

  BlockHeap& heap_;
  BlockIndex& index_;
  bool verbose_;
  bool keepSets_;
  FindingTally tally_;
  std::unique_ptr<ValidationSet> blocks_;
  std::unique_ptr<ValidationSet> indices_;
  std::unordered_map<int64_t, int64_t> strays_;  // entry -> block
  int64_t prev_ = 0;
  int64_t expected_ = 0;
  int64_t count_ = 0;
  int64_t arrayFree_ = 0;
};

}  // namespace

ValidationResult validateIndexedHeap(BlockHeap& heap, BlockIndex& index, bool verbose, bool repair, bool keepSets) {
  return IndexValidator(heap, index, verbose, repair, keepSets).run();
}

}  // namespace bw
