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

constexpr std::size_t kAlign = 16;
constexpr std::size_t kChunkBytes = 64 * 1024;
static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= kAlign, "the heap's alignment serves the slab");

std::atomic<long> gLiveChunks{0};

struct Chunk {
  std::atomic<int64_t> uses{1};  // live objects, plus one while current
  std::size_t used = 0;          // carved bytes of the area
  unsigned char* area() { return reinterpret_cast<unsigned char*>(this) + kHeadBytes; }
  static constexpr std::size_t kHeadBytes = 32;
};
static_assert(sizeof(Chunk) <= Chunk::kHeadBytes);

// Before each object: its chunk (NIL for a heap object) and its size with
// the header.
struct Header {
  Chunk* chunk;
  std::size_t bytes;
};
static_assert(sizeof(Header) <= kAlign);

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

void dropUse(Chunk* chunk) noexcept {
  if (chunk->uses.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  unpoison(chunk->area(), kChunkBytes);
  chunk->~Chunk();
  ::operator delete(chunk);
  gLiveChunks.fetch_sub(1, std::memory_order_relaxed);
}

// The calling thread's current chunk; its use goes back when the thread ends.
struct Current {
  Chunk* chunk = nullptr;
  ~Current() {
    if (chunk) dropUse(chunk);
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
      if (chunk) dropUse(chunk);
      gCurrent.chunk = chunk = fresh;
    }
    slot = chunk->area() + chunk->used;
    chunk->used += bytes;
    chunk->uses.fetch_add(1, std::memory_order_relaxed);
    unpoison(slot, bytes);
  }
  *reinterpret_cast<Header*>(slot) = {chunk, bytes};
  return slot + kAlign;
}

void release(void* object) noexcept {
  if (!object) return;
  unsigned char* slot = static_cast<unsigned char*>(object) - kAlign;
  const Header header = *reinterpret_cast<Header*>(slot);
  if (!header.chunk) {
    ::operator delete(slot);
    return;
  }
  poison(slot, header.bytes);
  dropUse(header.chunk);
}

long infoLiveChunks() { return gLiveChunks.load(std::memory_order_relaxed); }

}  // namespace bw::nodeSlab
