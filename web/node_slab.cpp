// web/node_slab.cpp - the chunk carver of the document tree's objects.
#include "web/node_slab.h"

#include <atomic>
#include <cstdint>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define BW_NODE_SLAB_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BW_NODE_SLAB_ASAN 1
#endif
#endif
#ifdef BW_NODE_SLAB_ASAN
#include <sanitizer/asan_interface.h>
#endif

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

struct Chunk {
  std::atomic<int64_t> uses{kCurrentBias};  // see kCurrentBias; live objects once retired
  std::size_t used = 0;                     // carved bytes of the area
  int64_t carved = 0;                       // objects carved, known to the carving thread
  unsigned char* area() { return reinterpret_cast<unsigned char*>(this) + kHeadBytes; }
  static constexpr std::size_t kHeadBytes = 32;
};
static_assert(sizeof(Chunk) <= Chunk::kHeadBytes);

// Before each object: its size with the header, and its distance from the
// start of its chunk (0 for an object from the heap).
struct Header {
  uint32_t bytes;
  uint32_t offset;
};
static_assert(sizeof(Header) <= kAlign);
static_assert(Chunk::kHeadBytes + kChunkBytes <= UINT32_MAX);

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

Chunk* newChunk() {
  void* raw = ::operator new(Chunk::kHeadBytes + kChunkBytes);
  auto* chunk = new (raw) Chunk();
  poison(chunk->area(), kChunkBytes);
  gLiveChunks.fetch_add(1, std::memory_order_relaxed);
  return chunk;
}

// Takes `count` from a chunk's uses; the last one frees it.
void dropUses(Chunk* chunk, int64_t count) noexcept {
  if (chunk->uses.fetch_sub(count, std::memory_order_acq_rel) != count) return;
  unpoison(chunk->area(), kChunkBytes);
  chunk->~Chunk();
  ::operator delete(chunk);
  gLiveChunks.fetch_sub(1, std::memory_order_relaxed);
}

// The calling thread's current chunk; its use goes back when the thread ends.
// A chunk stops being current: its bias goes and its carved objects count.
void retire(Chunk* chunk) noexcept { dropUses(chunk, kCurrentBias - chunk->carved); }

struct Current {
  Chunk* chunk = nullptr;
  ~Current() {
    if (chunk) retire(chunk);
  }
};
thread_local Current gCurrent;

}  // namespace

void* allocate(std::size_t size) {
  const std::size_t bytes = kAlign + (size + kAlign - 1) / kAlign * kAlign;
  unsigned char* slot;
  Chunk* chunk = nullptr;
  if (bytes > kChunkBytes / 4) {
    slot = static_cast<unsigned char*>(::operator new(bytes));
  } else {
    chunk = gCurrent.chunk;
    if (!chunk || chunk->used + bytes > kChunkBytes) {
      Chunk* fresh = newChunk();
      if (chunk) retire(chunk);
      gCurrent.chunk = chunk = fresh;
    }
    slot = chunk->area() + chunk->used;
    chunk->used += bytes;
    ++chunk->carved;
    unpoison(slot, bytes);
  }
  *reinterpret_cast<Header*>(slot) = {
      static_cast<uint32_t>(chunk ? bytes : 0),
      static_cast<uint32_t>(chunk ? slot - reinterpret_cast<unsigned char*>(chunk) : 0)};
  return slot + kAlign;
}

void release(void* object) noexcept {
  if (!object) return;
  unsigned char* slot = static_cast<unsigned char*>(object) - kAlign;
  const Header header = *reinterpret_cast<Header*>(slot);
  if (header.offset == 0) {
    ::operator delete(slot);
    return;
  }
  poison(slot, header.bytes);
  dropUses(reinterpret_cast<Chunk*>(slot - header.offset), 1);
}

long infoLiveChunks() { return gLiveChunks.load(std::memory_order_relaxed); }

}  // namespace bw::nodeSlab
