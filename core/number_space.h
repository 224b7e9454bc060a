// core/number_space.h - number spaces: hash maps from a pointer-wide number
// key to one data word, with incremental rehashing.
//
// A number space chains its entries over a bucket table whose size is a prime
// from kNumberSpacePrimes, indexed by a power (kNumberSpaceMinPower for a new
// space). Spaces key by plain numbers and by object references alike, so keys
// are intptr_t; a reference cut to 32 bits could make two objects share a key.
//
// Invariants:
//   1. Every entry lies in exactly one of two tables: the current table, or
//      the old table left by the last growth, which is being emptied.
//   2. The bucket of a key in a table is hash(key) modulo that table's bucket
//      count, where hash(key) = key AND $7FFFFFFF for keys that fit in 32
//      signed bits; wider keys first fold their high half into the low one.
//   3. Growth happens only in set() of a new key, only when no old table is
//      left, and only when the current table holds 2 x its bucket count
//      entries: the current table becomes the old one and a table of four
//      times the size (power + 2) becomes current.
//   4. While an old table exists, every set() and get() moves exactly one
//      entry into the current table: the entry it touched when that lay in
//      the old table, else the head of the highest non-empty old bucket. A
//      growth of N entries is therefore drained by N further calls; no call
//      rehashes more than one entry.
//   5. New entries are pushed at the head of their bucket chain.
//   6. Iteration order: the current table by bucket from high to low, each
//      chain from its head, then the old table likewise. Other code shows
//      this order to users, so it must stay exactly this.
//   7. Data is never NIL (0): set() refuses it, so 0 means "absent".
//   8. An owning space (autoDealloc) deletes the data objects it displaces
//      or refuses (keepOld), removes, or still holds when it is destroyed,
//      but never the object that stays stored (a set() of the same object
//      again); data handed back by get(key, remove=true) is the caller's.
//
// Two class families behave alike and differ only in name: cNumberSpace
// (with cNumberSpace_VALUE) and cNumberSpace_cnumberspace (with
// cNumberSpace_VALUE_cnumberspace, numberSpace and numberSpace_VALUE). The
// plain classes store class_base objects; the _VALUE classes store plain
// nonzero values and never own them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/object.h"

namespace bw {

// Bucket counts by power. Powers 0 to 5 are unused; each prime lies between
// 2^(power-1) and 2^power. Fixed at compile time: nothing depends on when
// the table is filled.
inline constexpr std::array<uint32_t, 31> kNumberSpacePrimes = {
    0,        0,        0,        0,        0,         0,         53,        97,
    193,      389,      769,      1543,     3079,      6151,      12289,     24593,
    49157,    98317,    196613,   393241,   786433,    1572869,   3145739,   6291469,
    12582917, 25165843, 50331653, 100663319, 201326611, 402653189, 805306457};
inline constexpr int kNumberSpaceMinPower = 8;
inline constexpr int kNumberSpaceMaxPower = 30;

// What set() hands back: the data that did not end up stored (the previous
// data when replaced, the new data when keepOld kept the previous one, NIL
// for a new key; always NIL in an owning space, which deletes it) and
// whether the key was present.
template <class Data>
struct NumberSpaceSet {
  Data data;
  bool present;
};

// The entry an iteration stands on; data NIL and key 0 when finished.
template <class Data>
struct NumberSpaceEntry {
  Data data;
  intptr_t key;
};

// The one implementation behind every number space class. It has no class
// name of its own; the classes below give it theirs.
class NumberSpace : public class_base {
 public:
  NumberSpace(const NumberSpace&) = delete;
  NumberSpace& operator=(const NumberSpace&) = delete;
  // Deletes the data objects of an owning space, then frees every entry.
  ~NumberSpace() override;

  // Stores data under key. NIL data raises "EMU" "cNumberSpace.set();
  // data=NIL" and changes nothing.
  NumberSpaceSet<class_base*> set(intptr_t key, class_base* data, bool keepOld = false);
  // The data stored under key, NIL when absent. With remove the entry leaves
  // the space and its data goes to the caller, even in an owning space.
  class_base* get(intptr_t key, bool remove = false) { return reinterpret_cast<class_base*>(getWord(key, remove)); }
  // Takes the entry out, deleting its data in an owning space; true when the
  // key was present. Moves no entry between tables.
  bool remove(intptr_t key);

  bool infoAutoDealloc() const { return autoDealloc_; }

  // Iteration (invariant 6); true while positioned on an entry. Removing the
  // current entry first advances the iteration past it. A set() or get()
  // during an iteration may move an entry from the old table to the current
  // one, so the iteration can then miss it or meet it twice.
  bool gotoFirst();
  bool gotoNext();
  NumberSpaceEntry<class_base*> infoCurrent() const;

  // Diagnostics: entries in both tables, the current power and bucket count,
  // and the entries still waiting in the old table (0 when none is left).
  size_t infoCount() const { return count_ + oldCount_; }
  int infoPower() const { return power_; }
  uint32_t infoBucketCount() const { return table_.size; }
  size_t infoOldCount() const { return oldCount_; }

 protected:
  explicit NumberSpace(bool autoDealloc);

  // The same operations on raw data words; the _VALUE classes publish these.
  NumberSpaceSet<intptr_t> setWord(intptr_t key, intptr_t data, bool keepOld);
  intptr_t getWord(intptr_t key, bool remove) {
    if (!remove && !oldTable_) {  // the common case: one table, just look
      for (Node* n = table_.slots[keyHash(key) % table_.size]; n; n = n->next) {
        if (n->key == key) return n->data;
      }
      return 0;
    }
    return getAndMigrate(key, remove);
  }
  NumberSpaceEntry<intptr_t> currentWord() const;

 private:
  struct Node {
    Node* next;
    intptr_t key;
    intptr_t data;
  };
  enum class Where : uint8_t { kNone, kCurrent, kOld, kChainOnly };
  // A cleared block of bucket heads (see newTable for how it is taken).
  struct Table {
    Node** slots = nullptr;  // NIL when there is no table
    uint32_t size = 0;
    explicit operator bool() const { return slots != nullptr; }
  };
  struct Found {
    Node* node = nullptr;  // NIL when absent (or removed)
    Node* prev = nullptr;  // the node before it in its chain
    uint32_t bucket = 0;
    Where where = Where::kNone;
    intptr_t data = 0;
  };

  // Nodes come from slabs that the space owns (doubling in size); freed
  // nodes wait on a free list for reuse and are released with the space.
  struct Slab {
    std::unique_ptr<Node[]> nodes;
    size_t size;
  };
  Node* newNode(intptr_t key);
  void freeNode(Node* node);

  static Table newTable(uint32_t size);
  void freeTable(Table& table, size_t nodes);
  // Invariant 2: a key that fits in 32 signed bits hashes to its low 31
  // bits; a wider key (an object reference) folds its high half in first.
  static uint32_t keyHash(intptr_t key) {
    if (key == static_cast<int32_t>(key)) return static_cast<uint32_t>(key) & 0x7FFFFFFFu;
    auto u = static_cast<uint64_t>(key);
    return static_cast<uint32_t>(u ^ (u >> 32)) & 0x7FFFFFFFu;
  }
  intptr_t getAndMigrate(intptr_t key, bool remove);
  bool searchChain(Found& f, Where where, uint32_t hash, intptr_t key) const;
  Found find(intptr_t key, bool remove);
  void migrateNode(const Found& found);
  void grow();
  void pushCurrent(Node* node);
  void freeOldTable();
  void deleteData(intptr_t data) const;
  bool scanDown(Where where, uint32_t from);

  std::vector<Slab> slabs_;
  Node* freeNodes_ = nullptr;
  bool autoDealloc_;
  int power_ = kNumberSpaceMinPower;
  Table table_;
  size_t count_ = 0;
  Table oldTable_;  // NIL when no old table exists
  size_t oldCount_ = 0;
  uint32_t migrationIndex_ = 0;
  Where iterWhere_ = Where::kNone;
  uint32_t iterBucket_ = 0;
  Node* iterNode_ = nullptr;
};

// Publishes the plain-value forms of a number space class: data words are
// nonzero numbers, never owned.
template <class Space>
class NumberSpaceValues : public Space {
 public:
  NumberSpaceValues() : Space(false) {}

  NumberSpaceSet<intptr_t> set(intptr_t key, intptr_t value, bool keepOld = false) {
    return this->setWord(key, value, keepOld);
  }
  intptr_t get(intptr_t key, bool remove = false) { return this->getWord(key, remove); }
  NumberSpaceEntry<intptr_t> infoCurrent() const { return this->currentWord(); }
};

// The GUI layer's family.
class cNumberSpace : public NumberSpace {
  BW_CLASS(cNumberSpace, NumberSpace)
 public:
  explicit cNumberSpace(bool autoDealloc) : NumberSpace(autoDealloc) {}
};

class cNumberSpace_VALUE : public NumberSpaceValues<cNumberSpace> {
  BW_CLASS(cNumberSpace_VALUE, cNumberSpace)
};

// The family of the string space, the database, the feed updater and the
// store/restore streams.
class cNumberSpace_cnumberspace : public NumberSpace {
  BW_CLASS(cNumberSpace_cnumberspace, NumberSpace)
 public:
  explicit cNumberSpace_cnumberspace(bool autoDealloc) : NumberSpace(autoDealloc) {}
};

class cNumberSpace_VALUE_cnumberspace : public NumberSpaceValues<cNumberSpace_cnumberspace> {
  BW_CLASS(cNumberSpace_VALUE_cnumberspace, cNumberSpace_cnumberspace)
};

// Number to object (store/restore streams).
class numberSpace : public cNumberSpace_cnumberspace {
  BW_CLASS(numberSpace, cNumberSpace_cnumberspace)
 public:
  explicit numberSpace(bool autoDealloc) : cNumberSpace_cnumberspace(autoDealloc) {}
};

// Object to number (store/restore streams).
class numberSpace_VALUE : public cNumberSpace_VALUE_cnumberspace {
  BW_CLASS(numberSpace_VALUE, cNumberSpace_VALUE_cnumberspace)
};

}  // namespace bw
