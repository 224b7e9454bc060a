// database/block_format.h - the on-disk layout of a block file: the 8,496-byte
// header area with the free-list heads, the block header, and the size
// classes of the two-level segregated-fit allocator.
//
// Header area (words of 8 bytes, big-endian, at data position 0):
//   0            file version, always 3
//   1            user value (the indexed file keeps its index array here)
//   2            position of the last block, 0 while there is none
//   3            position of the first block, 8496, stored sign-extended
//   4            second-level classes per first-level class, 32
//   5            first-level free bitmap, sign-extended
//   6 + 33f      second-level free bitmap of first-level class f
//   7 + 33f + s  head of free list (f, s), 0 when empty
//
// Block header at a block's position:
//   u32 size | 2 (free) | 1 (last); i32 previous block - this block (0 first);
//   free blocks only: i64 next free, i64 previous free in the same list.
// A used block's payload starts at position + 8: that is its handle.
#pragma once

#include <bit>
#include <cstdint>

#include "database/journal_format.h"  // the big-endian codec

namespace bw {

inline constexpr int32_t kBlockFileVersion = 3;
inline constexpr int32_t FHEADER_SIZE = 1062;  // words
inline constexpr int32_t FIRST_BLOCK_POS = FHEADER_SIZE * 8;
inline constexpr int32_t FHINDEX_USER = 1;
inline constexpr int32_t FHINDEX_TAIL = 2;
inline constexpr int32_t FHINDEX_HSIZE = 3;
inline constexpr int32_t FHINDEX_SLSIZE = 4;
inline constexpr int32_t FHINDEX_FLBITMAP = 5;
inline constexpr int32_t FL_COUNT = 32;
inline constexpr int32_t SL_SIZE = 32;
inline constexpr int32_t kBlockHeaderBytes = 8;
inline constexpr int32_t kFreeLinkBytes = 16;
// Blocks of 24 bytes or less are refused: a free block needs room for links.
inline constexpr int32_t kMinimumBlockSize = 25;
// A free block more than this larger than a request is split.
inline constexpr int32_t kSplitSlack = 24;
// The data area never grows beyond 2^32 - 1 bytes, so positions and handles
// fit the 32-bit sets that validation collects.
inline constexpr int64_t kBlockFileDataLimit = 0xFFFFFFFFLL;
// copy and clear move at most this many bytes per round.
inline constexpr int64_t kBlockCopyBuffer = 4194304;

inline constexpr uint32_t kBlockFreeFlag = 2;
inline constexpr uint32_t kBlockLastFlag = 1;

// Data position of header word w.
inline constexpr int64_t headerWordPos(int32_t word) { return int64_t{word} * 8; }
inline constexpr int32_t slBitmapWord(int32_t f) { return 6 + 33 * f; }
inline constexpr int32_t slListWord(int32_t f, int32_t s) { return 7 + 33 * f + s; }

// A 32-bit value kept in a 64-bit word is sign-extended.
inline int64_t signExtend32(uint32_t v) { return static_cast<int32_t>(v); }
inline uint32_t low32(int64_t v) { return static_cast<uint32_t>(static_cast<uint64_t>(v)); }

// --- size classes -------------------------------------------------------------
struct FreeClass {
  int32_t f;
  int32_t s;
  bool operator==(const FreeClass&) const = default;
};

// The class whose list holds free blocks of exactly this size (size >= 1).
inline FreeClass mapSizeToFreeClass(uint32_t size) {
  int32_t f = 31 - std::countl_zero(size);
  uint32_t s = f >= 5 ? size >> (f - 5) : size << (5 - f);
  return {f, static_cast<int32_t>(s & 31)};
}
// The lowest class all of whose blocks are at least this large.
inline FreeClass mapSizeToFreeClassRoundUp(uint32_t size) {
  int32_t f = 31 - std::countl_zero(size);
  uint32_t increment = f >= 5 ? uint32_t{1} << (f - 5) : 0;
  return mapSizeToFreeClass(size + increment - 1);
}

// Block size for a payload: header added, at least 25, rounded up to 4.
inline int64_t blockSizeForPayload(int64_t payload) {
  int64_t size = payload + kBlockHeaderBytes;
  if (size < kMinimumBlockSize) size = kMinimumBlockSize;
  return (size + 3) & ~int64_t{3};
}

}  // namespace bw
