// web/node_slab.cpp - the chunk carver of the document tree's objects.
#include "web/node_slab.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace bw::nodeSlab {
namespace {

constexpr std::size_t kAlign = 8;
constexpr std::size_t kChunkBytes = 64 * 1024;
static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= kAlign, "the heap's alignment serves the slab");

std::atomic<long> gLiveChunks{0};

// While a chunk is current its count holds kCurrentBias less the objects
// released so far; the carving thread counts its objects in `carved` without
// an atomic step and settles both when the chunk stops being current. The
// bias exceeds any number of objects a chunk holds, so the count cannot
// reach 0 before that.
constexpr int64_t kCurrentBias = int64_t{1} << 40;

// An arena's first chunk; each next one doubles, up to kChunkBytes.
constexpr std::size_t kFirstArenaBytes = 4 * 1024;

}  // namespace

struct Chunk {
  std::atomic<int64_t> uses{kCurrentBias};  // see kCurrentBias; live objects once retired
  std::size_t used = 0;                     // carved bytes of the area
  int64_t carved = 0;                       // objects carved, known to the carving thread
  std::size_t capacity = kChunkBytes;       // bytes of the area
  Chunk* nextInArena = nullptr;
  const Arena* arena = nullptr;             // NIL for a thread's chunk
  unsigned char* area() { return reinterpret_cast<unsigned char*>(this) + kHeadBytes; }
  static constexpr std::size_t kHeadBytes = 64;
};
static_assert(sizeof(Chunk) <= Chunk::kHeadBytes);

namespace {

static_assert(sizeof(Header) <= kAlign);

Header& headerOf(void* object) { return *reinterpret_cast<Header*>(static_cast<unsigned char*>(object) - kAlign); }

Chunk* chunkOf(const void* object, const Header& header) {
  return reinterpret_cast<Chunk*>(const_cast<unsigned char*>(static_cast<const unsigned char*>(object)) - kAlign -
                                  header.offset);
}

// The bytes an object of size takes with its header.
std::size_t slotBytes(std::size_t size) { return kAlign + (size + kAlign - 1) / kAlign * kAlign; }

// Writes the header of an object carved at slot and returns the object.
void* carved(Chunk* chunk, unsigned char* slot, std::size_t bytes, uint32_t flags) {
  const std::size_t offset = static_cast<std::size_t>(slot - reinterpret_cast<unsigned char*>(chunk));
  if (offset + bytes > UINT32_MAX) throw std::bad_alloc();
  *reinterpret_cast<Header*>(slot) = {static_cast<uint32_t>(bytes) | flags, static_cast<uint32_t>(offset)};
  return slot + kAlign;
}

void poison(void* at, std::size_t bytes) {
#ifdef BW_NODE_SLAB_ASAN
  ASAN_POISON_MEMORY_REGION(at, bytes);
#else
  (void)at, (void)bytes;
#endif
}

void unpoison(void* at, std::size_t bytes) {
#ifdef BW_NODE_SLAB_ASAN
  ASAN_UNPOISON_MEMORY_REGION(at, bytes);
#else
  (void)at, (void)bytes;
#endif
}

Chunk* newChunk(std::size_t capacity = kChunkBytes) {
  void* raw = ::operator new(Chunk::kHeadBytes + capacity);
  auto* chunk = new (raw) Chunk();
  chunk->capacity = capacity;
  poison(chunk->area(), capacity);
  gLiveChunks.fetch_add(1, std::memory_order_relaxed);
  return chunk;
}

// Takes `count` from a chunk's uses; the last one frees it.
void dropUses(Chunk* chunk, int64_t count) noexcept {
  if (chunk->uses.fetch_sub(count, std::memory_order_acq_rel) != count) return;
  unpoison(chunk->area(), chunk->capacity);
  chunk->~Chunk();
  ::operator delete(chunk);
  gLiveChunks.fetch_sub(1, std::memory_order_relaxed);
}

// The calling thread's current chunk; its use goes back when the thread ends.
// A chunk stops being current: its bias goes and its carved objects count.
void retire(Chunk* chunk) noexcept { dropUses(chunk, kCurrentBias - chunk->carved); }

struct Current {
  Chunk* chunk = nullptr;
  // A full-size chunk whose arena ended, kept for the next one: freeing the
  // heap's topmost block would hand its pages back to the system, and the
  // next document would fault them in again.
  Chunk* spare = nullptr;
  ~Current() {
    if (chunk) retire(chunk);
    if (spare) {
      unpoison(spare->area(), kChunkBytes);
      spare->~Chunk();
      ::operator delete(spare);
    }
  }
};
thread_local Current gCurrent;

// The open batches of this thread and the releases they hold back.
struct Batch {
  int depth = 0;
  Chunk* chunk = nullptr;
  int64_t count = 0;
  void settle() noexcept {
    if (chunk) dropUses(chunk, count);
    chunk = nullptr;
    count = 0;
  }
};
thread_local Batch gBatch;

// A new full-size chunk, the spare one when there is one.
Chunk* newFullChunk() {
  Chunk* chunk = gCurrent.spare;
  if (!chunk) return newChunk();
  gCurrent.spare = nullptr;
  new (chunk) Chunk();
  poison(chunk->area(), kChunkBytes);
  gLiveChunks.fetch_add(1, std::memory_order_relaxed);
  return chunk;
}

// Ends an arena's hold on a chunk; the spare keeps a full-size chunk that
// nothing else holds.
void endArenaHold(Chunk* chunk) noexcept {
  if (!gCurrent.spare && chunk->capacity == kChunkBytes && chunk->uses.load(std::memory_order_acquire) == 1) {
    poison(chunk->area(), kChunkBytes);
    gCurrent.spare = chunk;
    gLiveChunks.fetch_sub(1, std::memory_order_relaxed);
    return;
  }
  dropUses(chunk, 1);
}

}  // namespace

void* allocate(std::size_t size) {
  const std::size_t bytes = slotBytes(size);
  if (bytes > kChunkBytes / 4) {
    auto* slot = static_cast<unsigned char*>(::operator new(bytes));
    *reinterpret_cast<Header*>(slot) = {0, 0};
    return slot + kAlign;
  }
  Chunk* chunk = gCurrent.chunk;
  if (!chunk || chunk->used + bytes > chunk->capacity) {
    Chunk* fresh = newFullChunk();
    if (chunk) retire(chunk);
    gCurrent.chunk = chunk = fresh;
  }
  unsigned char* slot = chunk->area() + chunk->used;
  chunk->used += bytes;
  ++chunk->carved;
  unpoison(slot, bytes);
  return carved(chunk, slot, bytes, 0);
}

namespace {

// Drops an object's use of its chunk, through the open batch if any.
void releaseIn(Chunk* chunk) noexcept {
  Batch& batch = gBatch;
  if (batch.depth == 0) return dropUses(chunk, 1);
  if (chunk != batch.chunk) {
    batch.settle();
    batch.chunk = chunk;
  }
  ++batch.count;
}

}  // namespace

void release(void* object) noexcept {
  if (!object) return;
  const Header header = headerOf(object);
  unsigned char* slot = static_cast<unsigned char*>(object) - kAlign;
  if (header.offset == 0) {
    ::operator delete(slot);
    return;
  }
  poison(slot, header.bytes & ~kUncounted);
  if (header.bytes & kUncounted) return;
  releaseIn(chunkOf(object, header));
}

ReleaseBatch::ReleaseBatch() noexcept { ++gBatch.depth; }

ReleaseBatch::~ReleaseBatch() {
  if (--gBatch.depth == 0) gBatch.settle();
}

#ifdef BW_NODE_SLAB_ASAN
namespace {

// Poisons every object of the chunk's carved area that is still the
// arena's (not adopted): it ends with the arena, so a part of a node that
// should have been adopted with it is reported at its first use. Reads the
// headers of ended (poisoned) objects too.
__attribute__((no_sanitize("address"))) void poisonUnadopted(Chunk* chunk) {
  for (std::size_t at = 0; at < chunk->used;) {
    const Header header = *reinterpret_cast<const Header*>(chunk->area() + at);
    const std::size_t bytes = header.bytes & ~kUncounted;
    if (header.bytes & kUncounted) poison(chunk->area() + at, bytes);
    at += bytes;
  }
}

}  // namespace
#endif

Arena::~Arena() {
#ifdef BW_NODE_SLAB_ASAN
  if (current_) current_->used = static_cast<std::size_t>(next_ - current_->area());
  for (Chunk* chunk = oldest_; chunk; chunk = chunk->nextInArena) poisonUnadopted(chunk);
#endif
  // Oldest first, the order in which a walk of the tree would free them.
  for (Chunk* chunk = oldest_; chunk;) {
    Chunk* next = chunk->nextInArena;
    if (next) {
      dropUses(chunk, 1);
    } else {
      endArenaHold(chunk);  // the newest, topmost one
    }
    chunk = next;
  }
}

void* Arena::allocateInNewChunk(std::size_t size) {
  const std::size_t bytes = slotBytes(size);
  Chunk* chunk = current_;
  if (chunk) chunk->used = static_cast<std::size_t>(next_ - chunk->area());
  if (!chunk || chunk->used + bytes > chunk->capacity) {
    // A large object takes a chunk of its own; carving goes on in the
    // current one.
    const bool large = bytes > kChunkBytes / 4;
    if (!large) nextBytes_ = nextBytes_ ? std::min(2 * nextBytes_, kChunkBytes) : kFirstArenaBytes;
    // The chunk holds the object: an early, small chunk may not.
    while (!large && nextBytes_ < bytes) nextBytes_ *= 2;
    chunk = large || nextBytes_ < kChunkBytes ? newChunk(large ? bytes : nextBytes_) : newFullChunk();
    chunk->uses.store(1, std::memory_order_relaxed);  // the arena's hold
    chunk->arena = this;
    (newest_ ? newest_->nextInArena : oldest_) = chunk;
    newest_ = chunk;
    if (!large || !current_) current_ = chunk;
  }
  unsigned char* slot = chunk->area() + chunk->used;
  chunk->used += bytes;
  unpoison(slot, bytes);
  void* object = carved(chunk, slot, bytes, kUncounted);
  start_ = reinterpret_cast<unsigned char*>(current_);
  next_ = current_->area() + current_->used;
  end_ = current_->area() + current_->capacity;
  return object;
}

bool Arena::holdsUncounted(const void* object) const noexcept {
  return chunkOf(object, headerOf(object))->arena == this;
}

void adopt(void* object) noexcept {
  Header& header = headerOf(object);
  if (!(header.bytes & kUncounted)) return;
  header.bytes &= ~kUncounted;
  chunkOf(object, header)->uses.fetch_add(1, std::memory_order_relaxed);
}

long infoLiveChunks() { return gLiveChunks.load(std::memory_order_relaxed); }

}  // namespace bw::nodeSlab
