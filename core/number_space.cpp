// core/number_space.cpp - the number space engine: chained buckets, growth
// by four with incremental rehashing, and the fixed iteration order.
#include "core/number_space.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>

#include "core/exception.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define BW_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define BW_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define BW_POISON(p, n) ((void)(p), (void)(n))
#define BW_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace bw {
namespace {

inline class_base* asObject(intptr_t word) { return reinterpret_cast<class_base*>(word); }
inline intptr_t asWord(class_base* object) { return reinterpret_cast<intptr_t>(object); }

}  // namespace

// Tables of a megabyte and more (power 18 up) are mapped straight from the
// system: their zero pages arrive one at a time as buckets are first used.
// Taken from a reused heap they would be cleared all at once, a pause of
// milliseconds inside the one set() that grows the space.
constexpr size_t kMappedTableBytes = size_t{1} << 20;

// Free nodes stay poisoned under AddressSanitizer, so a use after removal is
// still caught although the memory is not returned.
NumberSpace::Node* NumberSpace::newNode(intptr_t key) {
  if (!freeNodes_) {
    size_t size = slabs_.empty() ? 16 : std::min<size_t>(slabs_.back().size * 2, 4096);
    slabs_.push_back({std::make_unique<Node[]>(size), size});
    Node* nodes = slabs_.back().nodes.get();
    for (size_t i = size; i-- > 0;) freeNode(&nodes[i]);
  }
  Node* node = freeNodes_;
  BW_UNPOISON(node, sizeof(Node));
  freeNodes_ = node->next;
  *node = Node{nullptr, key, 0};
  return node;
}

void NumberSpace::freeNode(Node* node) {
  node->next = freeNodes_;
  freeNodes_ = node;
  BW_POISON(&node->key, sizeof(Node) - sizeof(Node*));
}

NumberSpace::Table NumberSpace::newTable(uint32_t size) {
  Table t;
  size_t bytes = size * sizeof(Node*);
  if (bytes >= kMappedTableBytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    t.slots = p == MAP_FAILED ? nullptr : static_cast<Node**>(p);
  } else {
    t.slots = static_cast<Node**>(std::calloc(size, sizeof(Node*)));
  }
  if (!t.slots) raise("MEM", "cNumberSpace.new(); out of memory");
  t.size = size;
  return t;
}

// Frees the table, after deleting the data of its `nodes` nodes in an owning
// space (the nodes themselves go with their slabs). The scan stops at the
// last node, so an emptied table is released without reading it.
void NumberSpace::freeTable(Table& table, size_t nodes) {
  if (!autoDealloc_) nodes = 0;
  for (uint32_t b = 0; b < table.size && nodes > 0; ++b) {
    for (Node* n = table.slots[b]; n; n = n->next, --nodes) deleteData(n->data);
  }
  size_t bytes = table.size * sizeof(Node*);
  if (bytes >= kMappedTableBytes) {
    munmap(table.slots, bytes);
  } else {
    std::free(table.slots);
  }
  table = Table{};
}

NumberSpace::NumberSpace(bool autoDealloc)
    : autoDealloc_(autoDealloc), table_(newTable(kNumberSpacePrimes[kNumberSpaceMinPower])) {}

NumberSpace::~NumberSpace() {
  freeTable(table_, count_);
  freeTable(oldTable_, oldCount_);
  for (Slab& slab : slabs_) BW_UNPOISON(slab.nodes.get(), slab.size * sizeof(Node));
}

void NumberSpace::deleteData(intptr_t data) const { delete asObject(data); }

// Searches the key's chain in one table; fills node, prev and bucket.
bool NumberSpace::searchChain(Found& f, Where where, uint32_t hash, intptr_t key) const {
  const Table& table = where == Where::kCurrent ? table_ : oldTable_;
  f.where = where;
  f.bucket = hash % table.size;
  f.prev = nullptr;
  for (Node* n = table.slots[f.bucket]; n; f.prev = n, n = n->next) {
    if (n->key == key) {
      f.node = n;
      return true;
    }
  }
  return false;
}

NumberSpace::Found NumberSpace::find(intptr_t key, bool remove) {
  Found f;
  uint32_t hash = keyHash(key);
  if (!searchChain(f, Where::kCurrent, hash, key) && !(oldTable_ && searchChain(f, Where::kOld, hash, key)))
    return Found{};
  f.data = f.node->data;
  if (remove) {
    if (iterNode_ == f.node) gotoNext();
    Table& table = f.where == Where::kCurrent ? table_ : oldTable_;
    (f.prev ? f.prev->next : table.slots[f.bucket]) = f.node->next;
    --(f.where == Where::kCurrent ? count_ : oldCount_);
    freeNode(f.node);
    f.node = nullptr;
    f.prev = nullptr;
  }
  return f;
}

void NumberSpace::pushCurrent(Node* node) {
  uint32_t bucket = keyHash(node->key) % table_.size;
  node->next = table_.slots[bucket];
  table_.slots[bucket] = node;
  ++count_;
}

// One step of the incremental rehash (invariant 4).
void NumberSpace::migrateNode(const Found& found) {
  if (!oldTable_) return;
  if (found.node && found.where == Where::kOld) {
    (found.prev ? found.prev->next : oldTable_.slots[found.bucket]) = found.node->next;
    --oldCount_;
    pushCurrent(found.node);
  } else if (oldCount_ > 0) {
    while (migrationIndex_ > 0 && !oldTable_.slots[migrationIndex_]) --migrationIndex_;
    Node* node = oldTable_.slots[migrationIndex_];
    if (!node) raise("BUG", "cNumberSpace.set(); tempNode=NIL");
    oldTable_.slots[migrationIndex_] = node->next;
    --oldCount_;
    pushCurrent(node);
  }
  if (oldCount_ == 0) freeOldTable();
}

void NumberSpace::freeOldTable() {
  freeTable(oldTable_, 0);
  // An iteration inside the old table keeps following its node's chain (the
  // node now lies in the current table) and then ends.
  if (iterWhere_ == Where::kOld) iterWhere_ = Where::kChainOnly;
}

// Invariant 3. Called only for a new key with no old table left.
void NumberSpace::grow() {
  int power = std::min(power_ + 2, kNumberSpaceMaxPower);
  Table fresh = newTable(kNumberSpacePrimes[static_cast<size_t>(power)]);
  power_ = power;
  oldTable_ = table_;
  oldCount_ = count_;
  migrationIndex_ = oldTable_.size - 1;
  table_ = fresh;
  count_ = 0;
  if (iterWhere_ == Where::kCurrent) iterWhere_ = Where::kOld;
}

NumberSpaceSet<intptr_t> NumberSpace::setWord(intptr_t key, intptr_t data, bool keepOld) {
  if (data == 0) raise("EMU", "cNumberSpace.set(); data=NIL");
  Found found = find(key, false);
  migrateNode(found);
  Node* node = found.node;
  if (!node) {
    if (!oldTable_ && count_ >= 2 * static_cast<size_t>(table_.size)) grow();
    node = newNode(key);
    pushCurrent(node);
  }
  intptr_t result = data;
  if (!found.node || !keepOld) {
    result = node->data;
    node->data = data;
  }
  bool present = result != 0;
  // Handing back the very object that stays stored (set of the same object
  // again) must not delete it.
  if (autoDealloc_ && result != 0) {
    if (result != node->data) deleteData(result);
    result = 0;
  }
  return {result, present};
}

intptr_t NumberSpace::getAndMigrate(intptr_t key, bool remove) {
  Found found = find(key, remove);
  migrateNode(found);
  return found.data;
}

bool NumberSpace::remove(intptr_t key) {
  Found found = find(key, true);
  if (found.data == 0) return false;
  if (autoDealloc_) deleteData(found.data);
  return true;
}

NumberSpaceSet<class_base*> NumberSpace::set(intptr_t key, class_base* data, bool keepOld) {
  NumberSpaceSet<intptr_t> r = setWord(key, asWord(data), keepOld);
  return {asObject(r.data), r.present};
}


// Positions the iteration on the head of the highest non-empty bucket at or
// below `from` in the given table; false when there is none.
bool NumberSpace::scanDown(Where where, uint32_t from) {
  const Table& table = where == Where::kCurrent ? table_ : oldTable_;
  for (uint32_t b = from + 1; b-- > 0;) {
    if (table.slots[b]) {
      iterWhere_ = where;
      iterBucket_ = b;
      iterNode_ = table.slots[b];
      return true;
    }
  }
  return false;
}

bool NumberSpace::gotoFirst() {
  iterNode_ = nullptr;
  iterWhere_ = Where::kNone;
  if (scanDown(Where::kCurrent, table_.size - 1)) return true;
  if (oldTable_ && scanDown(Where::kOld, oldTable_.size - 1)) return true;
  return false;
}

bool NumberSpace::gotoNext() {
  if (!iterNode_) return false;
  iterNode_ = iterNode_->next;
  if (iterNode_) return true;
  if (iterWhere_ == Where::kCurrent) {
    if (iterBucket_ > 0 && scanDown(Where::kCurrent, iterBucket_ - 1)) return true;
    if (oldTable_ && scanDown(Where::kOld, oldTable_.size - 1)) return true;
  } else if (iterWhere_ == Where::kOld) {
    if (iterBucket_ > 0 && scanDown(Where::kOld, iterBucket_ - 1)) return true;
  }
  iterWhere_ = Where::kNone;
  return false;
}

NumberSpaceEntry<intptr_t> NumberSpace::currentWord() const {
  if (!iterNode_) return {0, 0};
  return {iterNode_->data, iterNode_->key};
}

NumberSpaceEntry<class_base*> NumberSpace::infoCurrent() const {
  NumberSpaceEntry<intptr_t> e = currentWord();
  return {asObject(e.data), e.key};
}

}  // namespace bw
