// database/index_entry_windows.h - windows of an index array's entries kept
// in memory, as stored (big-endian). A walk along an object list visits
// entries all over the array, one at a time; a miss reads the 64 entries of
// its window at once, and the walk's later visits there are memory reads.
//
// Invariants:
//   1. A window held for entry e holds the stored bytes of every entry of
//      its window below the array size it was read at: the owner notes
//      every write of an entry (note, noteRun) and clears the windows when
//      the array changes under them otherwise (resize, upgrade, discard).
//   2. Windows are direct-mapped: one slot per window up to kMaxSlots,
//      each slot's bytes allocated when first used.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "database/journal_format.h"  // the big-endian codec

namespace bw {

class IndexEntryWindows {
 public:
  static constexpr int64_t kEntries = 64;
  static constexpr uint64_t kMaxSlots = 4096;

  // The stored bytes of entry (>= 0), NIL when its window is not held.
  const uint8_t* find(int64_t entry) const { return at(entry); }

  // Room for the window of entry, its slot emptied; the caller reads count
  // entries into it and then calls hold. arraySize sizes the table.
  uint8_t* room(int64_t entry, int64_t arraySize) {
    uint64_t wanted = 1;
    while (wanted < kMaxSlots && static_cast<int64_t>(wanted) * kEntries < arraySize) wanted *= 2;
    if (!slots_ || mask_ + 1 != wanted) {
      slots_ = std::make_unique<Slot[]>(wanted);
      mask_ = wanted - 1;
    }
    Slot& s = slot(window(entry));
    s.window = kNone;
    if (!s.bytes) s.bytes = std::make_unique<uint8_t[]>(kEntries * 8);
    return s.bytes.get();
  }
  void hold(int64_t entry, int64_t count) {
    Slot& s = slot(window(entry));
    s.window = window(entry);
    s.count = static_cast<uint64_t>(count);
  }

  void note(int64_t entry, int64_t value) {
    if (uint8_t* bytes = at(entry)) putBig64(bytes, value);
  }
  // Entries first .. first + n - 1 were written with bytes.
  void noteRun(int64_t first, const uint8_t* bytes, int64_t n) {
    if (!slots_) return;
    for (int64_t e = first; e < first + n;) {
      const int64_t end = std::min(static_cast<int64_t>(window(e) + 1) * kEntries, first + n);
      if (uint8_t* held = at(e)) {
        const int64_t heldEnd = std::min(end, static_cast<int64_t>(window(e) * kEntries + slot(window(e)).count));
        std::memcpy(held, bytes + (e - first) * 8, static_cast<size_t>((heldEnd - e) * 8));
      }
      e = end;
    }
  }
  void clear() {
    slots_.reset();
    mask_ = 0;
  }

 private:
  static constexpr uint64_t kNone = ~uint64_t{0};
  struct Slot {
    uint64_t window = kNone;
    uint64_t count = 0;
    std::unique_ptr<uint8_t[]> bytes;
  };
  static uint64_t window(int64_t entry) { return static_cast<uint64_t>(entry) / kEntries; }
  Slot& slot(uint64_t w) const { return slots_[w & mask_]; }
  uint8_t* at(int64_t entry) const {
    if (!slots_) return nullptr;
    const uint64_t w = window(entry);
    const Slot& s = slot(w);
    const uint64_t k = static_cast<uint64_t>(entry) % kEntries;
    return s.window == w && k < s.count ? s.bytes.get() + k * 8 : nullptr;
  }

  std::unique_ptr<Slot[]> slots_;
  uint64_t mask_ = 0;
};

}  // namespace bw
