// web/node_slab.h - the memory of the document tree's objects (nodes, lists,
// attributes and node strings): they are carved in order from chunks of up
// to 64 KiB, either a thread's or a document's own (Arena), so reading a
// document costs no heap call per element and ending it no free per element.
//
// Invariants:
//   1. Each thread carves from its own current chunk; a chunk is freed
//      once it is no thread's current chunk and its last object has ended.
//      An object may end on any thread. Carving takes no atomic step;
//      ending an object takes one.
//   2. An object lives exactly as long as with the heap: a node taken out of
//      its tree stays valid after the tree ends (it keeps its chunk).
//   3. Memory is never reused inside a chunk; under AddressSanitizer an
//      ended object and the uncarved rest of a chunk are poisoned, so a use
//      after the end or past an object is still reported.
//   4. An object larger than a quarter chunk comes from the heap.
//   5. An arena's objects live as long as the arena, unless adopted: an
//      adopted one lives until it is released, as any other.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Memory for one object of size bytes, 8-byte aligned.
void* allocate(std::size_t size);
// Gives back memory from allocate; NIL is ignored. An arena's object that
// was never adopted is only marked dead: its arena holds the memory.
void release(void* object) noexcept;

struct Chunk;

// Before each object, 8 bytes: its size with the header (kUncounted set for
// an arena's object not adopted) and its distance from the start of its
// chunk (0 for an object from the heap).
struct Header {
  uint32_t bytes;
  uint32_t offset;
};
constexpr uint32_t kUncounted = 0x80000000u;

inline const Header& headerOf(const void* object) {
  return *reinterpret_cast<const Header*>(static_cast<const unsigned char*>(object) - sizeof(Header));
}
// True for an arena's object that was not adopted.
inline bool isUncounted(const void* object) { return (headerOf(object).bytes & kUncounted) != 0; }

// The chunks of one document: its objects are carved without being counted
// one by one, and the arena keeps all its chunks until it ends, so a whole
// document goes in one step per chunk. Carving starts with small chunks and
// doubles their size, so a small document takes little memory.
class Arena {
 public:
  Arena() = default;
  ~Arena();
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // Memory for one object of size bytes, 8-byte aligned, uncounted.
  void* allocate(std::size_t size) {
    // Carving in the current chunk, inline; a new chunk out of line.
    const std::size_t bytes = sizeof(Header) + (size + 7) / 8 * 8;
    if (bytes <= static_cast<std::size_t>(end_ - next_)) {
      unsigned char* slot = next_;
      next_ += bytes;
#ifdef BW_NODE_SLAB_ASAN
      ASAN_UNPOISON_MEMORY_REGION(slot, bytes);
#endif
      *reinterpret_cast<Header*>(slot) = {static_cast<uint32_t>(bytes) | kUncounted,
                                          static_cast<uint32_t>(slot - start_)};
      return slot + sizeof(Header);
    }
    return allocateInNewChunk(size);
  }
  // True when object was carved from this arena and not adopted since.
  bool holds(const void* object) const noexcept { return isUncounted(object) && holdsUncounted(object); }

 private:
  void* allocateInNewChunk(std::size_t size);
  bool holdsUncounted(const void* object) const noexcept;
  Chunk* oldest_ = nullptr;  // the chunks in the order they were made
  Chunk* newest_ = nullptr;
  Chunk* current_ = nullptr;  // the one carving goes on in
  // Of current_: its start (header offsets count from it), the next byte to
  // carve and the end of its area.
  unsigned char* start_ = nullptr;
  unsigned char* next_ = nullptr;
  unsigned char* end_ = nullptr;
  std::size_t nextBytes_ = 0;
};

// While one is open on a thread, the releases it makes are counted per chunk
// and settled in one atomic step for each run of objects of one chunk: a
// tree's teardown frees its objects in about the order they were carved.
class ReleaseBatch {
 public:
  ReleaseBatch() noexcept;
  ~ReleaseBatch();
  ReleaseBatch(const ReleaseBatch&) = delete;
  ReleaseBatch& operator=(const ReleaseBatch&) = delete;
};

// Lets an arena's object outlive its arena: from now on it is counted and
// keeps its chunk until release(). Other objects are left as they are.
void adopt(void* object) noexcept;

// The chunks alive now, for tests.
long infoLiveChunks();

}  // namespace bw::nodeSlab
