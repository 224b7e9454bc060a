// database/journal_format.h - the on-disk layout of a journaled file: the
// 28-byte header, the journal's elements, the running checksum and the limits
// a journal record must keep to be replayed.
//
// File layout (all integers big-endian, 64-bit values signed):
//   0   8  journalMagic      "Journal" and the byte 7
//   8   4  version           always 1
//   12  8  dataSize          committed size of the data area
//   20  8  journalPosition   offset of the last journal written
//   28     data area         data position p is file offset 28 + p
//   journalPosition ..       journal, present while the file reaches past it
//
// Journal: new size (8), size check (4); records, each marker 0xFFFFFFFF (4),
// position (8), length (4, signed), record check (4), data; then the end
// marker 0 (4), end position (8, the offset of this very field) and the end
// check (4). The file ends right after the end check.
//
// The running checksum starts at journalSeed before the new size and runs
// over every element except markers and check words: h = rotl(h, 1) XOR the
// byte sign-extended to 32 bits. Each check word is h at that point.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bw {

inline constexpr std::array<uint8_t, 8> journalMagic = {0x4A, 0x6F, 0x75, 0x72, 0x6E, 0x61, 0x6C, 0x07};
inline constexpr int32_t kJournalVersion = 1;
inline constexpr int64_t kJournalHeaderSize = 28;
inline constexpr int64_t kHeaderVersionOffset = 8;
inline constexpr int64_t kHeaderDataSizeOffset = 12;
inline constexpr int64_t kHeaderJournalPositionOffset = 20;
inline constexpr uint32_t journalSeed = 0xA9876543u;
inline constexpr uint32_t kJournalRecordMarker = 0xFFFFFFFFu;
inline constexpr uint32_t kJournalEndMarker = 0;
// Bytes of a record before its data, and of the end element.
inline constexpr int64_t kJournalRecordHead = 20;
inline constexpr int64_t kJournalEndBytes = 16;
inline constexpr int64_t kJournalSizeBytes = 12;
// No data byte may lie at or beyond this position: chunk numbers are 32-bit.
inline constexpr int64_t kJournalDataLimit = int64_t{960} << 31;

// The running checksum continued from h over n bytes, one byte at a time.
inline uint32_t journalChecksumBytewise(uint32_t h, const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    h = ((h << 1) | (h >> 31)) ^ static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(bytes[i])));
  }
  return h;
}

// The same checksum without the serial chain. Over 32 bytes the rotations
// come full circle: h32 = h0 ^ C(b0..b31), where C(b) = XOR over k of
// rotl(sext(bk), 31 - k) is what the byte-wise road makes of the 32 bytes from
// 0. Sign extension, rotation and XOR are all linear over the bits, so C of
// several blocks XORed together is the XOR of their Cs: the whole blocks are
// folded into one 32-byte block with wide XORs, which takes the byte-wise
// road once, and so does the tail.
inline uint32_t journalChecksum(uint32_t h, const uint8_t* bytes, size_t n) {
  const size_t whole = n & ~size_t{31};
  if (whole > 0) {
    uint64_t folded[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < whole; i += 32) {
      for (size_t w = 0; w < 4; ++w) {
        uint64_t v;
        std::memcpy(&v, bytes + i + 8 * w, 8);
        folded[w] ^= v;
      }
    }
    uint8_t block[32];
    std::memcpy(block, folded, 32);
    h ^= journalChecksumBytewise(0, block, 32);
  }
  return journalChecksumBytewise(h, bytes + whole, n - whole);
}

// Big-endian words. A store is one byte swap and one store (the block
// layers write millions of header words through these); the compiler makes
// the same of the loads' shifts.
inline void putBig32(uint8_t* at, uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  std::memcpy(at, &v, 4);
}
inline void putBig64(uint8_t* at, int64_t value) {
  auto v = static_cast<uint64_t>(value);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  std::memcpy(at, &v, 8);
}
inline uint32_t getBig32(const uint8_t* at) {
  return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}
inline int64_t getBig64(const uint8_t* at) {
  return static_cast<int64_t>(uint64_t{getBig32(at)} << 32 | getBig32(at + 4));
}

// A journal record may be replayed only when it keeps to these limits; a
// damaged journal could otherwise ask for gigabytes of cache or overflow the
// chunk number. bytesLeft is what the file holds after the record's head.
inline bool journalRecordFits(int64_t position, int64_t length, int64_t bytesLeft) {
  return position >= 0 && length >= 0 && position <= kJournalDataLimit - length && length <= bytesLeft;
}
// The new size of a journal at journalPosition: a saved journal always lies
// behind the data area it establishes.
inline bool journalNewSizeFits(int64_t newSize, int64_t journalPosition) {
  return newSize >= 0 && newSize <= journalPosition - kJournalHeaderSize;
}

}  // namespace bw
