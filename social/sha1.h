// social/sha1.h - SHA-1 (FIPS 180-1) and HMAC-SHA1 (RFC 2104), the digests
// behind OAuth request signatures.
//
// Invariants:
//   1. Results equal the standards' for every input and every way of cutting
//      it into updates (a length-0 update changes nothing).
//   2. sha1Final leaves the whole context zero; the caller's data and blocks
//      are never written.
//   3. Nothing raises: lengths are trusted (0 allowed).
#pragma once

#include <cstdint>

namespace bw {

inline constexpr int32_t kSha1DigestLength = 20;
inline constexpr int32_t kSha1BlockLength = 64;

// The working record of one SHA-1 computation, owned by its caller.
struct sha1Context {
  uint32_t state[5];   // chaining values H0..H4
  uint32_t count[2];   // message bits so far: [0] low word, [1] high word
  uint8_t buffer[64];  // the untransformed tail: (count[0] / 8) % 64 bytes
};

// Sets the initial chaining values and zero counts; the buffer is left.
void sha1Init(sha1Context& context);
// Absorbs length bytes; whole blocks are transformed straight from data.
void sha1Update(sha1Context& context, const void* data, int32_t length);
// Pads, writes the 20-byte digest and wipes the context to zero bytes.
void sha1Final(sha1Context& context, uint8_t digest[20]);
// The compression function on one 64-byte block (block is not changed).
void sha1Transform(uint32_t state[5], const uint8_t block[64]);

// HMAC-SHA1 of text under key; a key longer than 64 bytes is hashed first.
void hmacSha1(const void* key, int32_t keyLength, const void* text, int32_t textLength, uint8_t digest[20]);

}  // namespace bw
