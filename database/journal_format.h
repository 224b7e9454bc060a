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

// Eight bytes of the running checksum at once. Write sext(b) = c ^ (b < 0 ?
// ~0 : 0), c being b with all eight bits flipped when negative: a ~0 passes
// unchanged through every rotation, so those parts count only by the parity
// of the negative bytes, which the caller applies once at the end (signs
// gathers their sign bits); the c parts of eight bytes land without wrapping
// as Z = XOR over k of c_k << (7 - k), which three steps of shifts and masks
// gather from the word. Then h8 = rotl(h, 8) ^ Z.
[[gnu::always_inline]] inline uint32_t journalChecksumEight(uint32_t h, const uint8_t* bytes, uint64_t& signs) {
  uint64_t w;
  std::memcpy(&w, bytes, 8);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  const uint64_t s = w & 0x8080808080808080u;
  signs ^= s;
  w ^= (s >> 7) * 0xFF;
  w = ((w & 0x00FF00FF00FF00FFu) << 1) ^ ((w >> 8) & 0x00FF00FF00FF00FFu);
  w = ((w & 0x0000FFFF0000FFFFu) << 2) ^ ((w >> 16) & 0x0000FFFF0000FFFFu);
  return std::rotl(h, 8) ^ static_cast<uint32_t>(w << 4) ^ static_cast<uint32_t>(w >> 32);
}

// The same checksum without the serial chain: eight bytes at a time, the
// last few byte by byte. Over 32 bytes the rotations come full circle: h32 =
// h0 ^ C(b0..b31), where C(b) is what the running checksum makes of the 32
// bytes from 0. Sign extension, rotation and XOR are all linear over the
// bits, so C of several blocks XORed together is the XOR of their Cs: the
// whole blocks are folded into one 32-byte block with wide XORs first.
inline uint32_t journalChecksum(uint32_t h, const uint8_t* bytes, size_t n) {
  uint64_t signs = 0;
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
    uint32_t c = 0;
    for (size_t k = 0; k < 32; k += 8) c = journalChecksumEight(c, block + k, signs);
    h ^= c;
  }
  size_t i = whole;
  for (; i + 8 <= n; i += 8) h = journalChecksumEight(h, bytes + i, signs);
  h = journalChecksumBytewise(h, bytes + i, n - i);
  // The parity of the sign bits: their count, summed into the top byte.
  const auto odd = static_cast<uint32_t>(((signs >> 7) * 0x0101010101010101u) >> 56) & 1u;
  return h ^ (0u - odd);
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
