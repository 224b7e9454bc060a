// social/id_index.h - IdIndex: the ids of a feed's items (texts) to the soup
// indexes of the stored items, in one flat table.
//
// The social parsers learn thousands of ids per update and ask for each new
// item whether its id is known: one open-addressed array of slots and one
// buffer of key bytes cost two allocations that grow by doubling, where a
// node-based map costs one per id, and a lookup reads one slot.
//
// Invariants:
//   1. find() answers the index of the last set() of that id (the bytes
//      exactly), or of its setIfAbsent() when there was no set() before,
//      or 0 when there was neither.
//   2. At most half the slots are used, so every probe ends at a free slot.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

class IdIndex {
 public:
  // The index of the last set() of id, 0 when none.
  int32_t find(std::string_view id) const {
    if (slots_.empty()) return 0;
    const Slot& slot = slots_[probe(id, hashOf(id))];
    return slot.offset == kFree ? 0 : slot.index;
  }

  // Stores index for id, replacing the index of an earlier set().
  void set(std::string_view id, int32_t index) { slotOf(id, index).index = index; }

  // The index of an earlier set() of id, left as it is; else stores index
  // for id and answers 0.
  int32_t setIfAbsent(std::string_view id, int32_t index) {
    const size_t used = used_;
    const int32_t known = slotOf(id, index).index;
    return used_ == used ? known : 0;
  }

 private:
  struct Slot {
    uint32_t hash;    // the id's hash, low 32 bits: its first slot, masked
    uint32_t length;  // of the id's bytes in keys_
    uint32_t offset;  // of the id's bytes in keys_; kFree for a free slot
    int32_t index;
  };
  static constexpr uint32_t kFree = UINT32_MAX;

  // Eight bytes at a time, multiplied and folded.
  static uint64_t hashOf(std::string_view id) {
    uint64_t h = 0x9E3779B97F4A7C15u ^ id.size();
    size_t i = 0;
    for (; i + 8 <= id.size(); i += 8) {
      uint64_t word;
      std::memcpy(&word, id.data() + i, 8);
      h = (h ^ word) * 0xFF51AFD7ED558CCDu;
      h ^= h >> 32;
    }
    // The last bytes (as a copy into a zeroed word reads them where bytes
    // go low first): the id's last word shifted, or byte by byte in an id
    // shorter than a word, never a copy of a variable length, whose stores
    // the word's load would wait for.
    const size_t rest = id.size() - i;
    uint64_t tail = 0;
    if (rest > 0 && id.size() >= 8) {
      std::memcpy(&tail, id.data() + id.size() - 8, 8);
      tail >>= 8 * (8 - rest);
    } else {
      for (size_t k = 0; k < rest; ++k) tail |= uint64_t{static_cast<unsigned char>(id[i + k])} << (8 * k);
    }
    // Every byte reaches the low bits, which pick the first slot.
    h = (h ^ tail) * 0xC4CEB9FE1A85EC53u;
    h ^= h >> 32;
    h *= 0xFF51AFD7ED558CCDu;
    return h ^ (h >> 29);
  }

  // The slot holding id, else a new one holding id and index.
  Slot& slotOf(std::string_view id, int32_t index) {
    if (2 * (used_ + 1) > slots_.size()) grow();
    const uint64_t hash = hashOf(id);
    Slot& slot = slots_[probe(id, hash)];
    if (slot.offset == kFree) {
      slot = {static_cast<uint32_t>(hash), static_cast<uint32_t>(id.size()), static_cast<uint32_t>(keys_.size()), index};
      keys_.append(id);
      ++used_;
    }
    return slot;
  }

  // The slot holding id, else the free slot where it goes (the low 32
  // bits of hash pick the first).
  size_t probe(std::string_view id, uint64_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
      const Slot& slot = slots_[at];
      if (slot.offset == kFree) return at;
      if (slot.hash == static_cast<uint32_t>(hash) && slot.length == id.size() &&
          (id.empty() || std::memcmp(keys_.data() + slot.offset, id.data(), id.size()) == 0)) {
        return at;
      }
    }
  }

  void grow() {
    std::vector<Slot> old(slots_.empty() ? 64 : 2 * slots_.size(), Slot{0, 0, kFree, 0});
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.offset == kFree) continue;
      size_t at = slot.hash & mask;
      while (slots_[at].offset != kFree) at = (at + 1) & mask;
      slots_[at] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::string keys_;
  size_t used_ = 0;
};

}  // namespace bw
