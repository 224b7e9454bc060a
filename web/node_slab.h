// web/node_slab.h - the memory of the document tree's objects (nodes, lists
// and attributes): they are carved in order from chunks of 64 KiB, so
// reading a document costs no heap call per element and ending it no free
// per element.
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
#pragma once

#include <cstddef>

namespace bw::nodeSlab {

// Memory for one object of size bytes, 8-byte aligned.
void* allocate(std::size_t size);
// Gives back memory from allocate; NIL is ignored.
void release(void* object) noexcept;

// The chunks alive now, for tests.
long infoLiveChunks();

}  // namespace bw::nodeSlab
