// social/sha1.cpp - SHA-1 with a fully unrolled block transform, and
// HMAC-SHA1 over it.
#include "social/sha1.h"

#include <cstring>

namespace bw {
namespace {

inline uint32_t rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

inline uint32_t readBigEndian(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

inline void writeBigEndian(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// The message schedule lives in a 16-word circular buffer; rounds 16..79
// compute their word in place.
#define BW_SHA1_W(i) \
  (w[(i) & 15] = rotl(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i) & 15], 1))
// One round; the caller rotates the names of the five working values.
#define BW_SHA1_R0(v, x, y, z, u, i) \
  u += ((x & (y ^ z)) ^ z) + w[i] + 0x5A827999u + rotl(v, 5); x = rotl(x, 30);
#define BW_SHA1_R1(v, x, y, z, u, i) \
  u += ((x & (y ^ z)) ^ z) + BW_SHA1_W(i) + 0x5A827999u + rotl(v, 5); x = rotl(x, 30);
#define BW_SHA1_R2(v, x, y, z, u, i) \
  u += (x ^ y ^ z) + BW_SHA1_W(i) + 0x6ED9EBA1u + rotl(v, 5); x = rotl(x, 30);
#define BW_SHA1_R3(v, x, y, z, u, i) \
  u += ((x & y) + (z & (x ^ y))) + BW_SHA1_W(i) + 0x8F1BBCDCu + rotl(v, 5); x = rotl(x, 30);
#define BW_SHA1_R4(v, x, y, z, u, i) \
  u += (x ^ y ^ z) + BW_SHA1_W(i) + 0xCA62C1D6u + rotl(v, 5); x = rotl(x, 30);

}  // namespace

void sha1Transform(uint32_t state[5], const uint8_t block[64]) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = readBigEndian(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];

  BW_SHA1_R0(a, b, c, d, e, 0) BW_SHA1_R0(e, a, b, c, d, 1) BW_SHA1_R0(d, e, a, b, c, 2)
  BW_SHA1_R0(c, d, e, a, b, 3) BW_SHA1_R0(b, c, d, e, a, 4) BW_SHA1_R0(a, b, c, d, e, 5)
  BW_SHA1_R0(e, a, b, c, d, 6) BW_SHA1_R0(d, e, a, b, c, 7) BW_SHA1_R0(c, d, e, a, b, 8)
  BW_SHA1_R0(b, c, d, e, a, 9) BW_SHA1_R0(a, b, c, d, e, 10) BW_SHA1_R0(e, a, b, c, d, 11)
  BW_SHA1_R0(d, e, a, b, c, 12) BW_SHA1_R0(c, d, e, a, b, 13) BW_SHA1_R0(b, c, d, e, a, 14)
  BW_SHA1_R0(a, b, c, d, e, 15) BW_SHA1_R1(e, a, b, c, d, 16) BW_SHA1_R1(d, e, a, b, c, 17)
  BW_SHA1_R1(c, d, e, a, b, 18) BW_SHA1_R1(b, c, d, e, a, 19)

  BW_SHA1_R2(a, b, c, d, e, 20) BW_SHA1_R2(e, a, b, c, d, 21) BW_SHA1_R2(d, e, a, b, c, 22)
  BW_SHA1_R2(c, d, e, a, b, 23) BW_SHA1_R2(b, c, d, e, a, 24) BW_SHA1_R2(a, b, c, d, e, 25)
  BW_SHA1_R2(e, a, b, c, d, 26) BW_SHA1_R2(d, e, a, b, c, 27) BW_SHA1_R2(c, d, e, a, b, 28)
  BW_SHA1_R2(b, c, d, e, a, 29) BW_SHA1_R2(a, b, c, d, e, 30) BW_SHA1_R2(e, a, b, c, d, 31)
  BW_SHA1_R2(d, e, a, b, c, 32) BW_SHA1_R2(c, d, e, a, b, 33) BW_SHA1_R2(b, c, d, e, a, 34)
  BW_SHA1_R2(a, b, c, d, e, 35) BW_SHA1_R2(e, a, b, c, d, 36) BW_SHA1_R2(d, e, a, b, c, 37)
  BW_SHA1_R2(c, d, e, a, b, 38) BW_SHA1_R2(b, c, d, e, a, 39)

  BW_SHA1_R3(a, b, c, d, e, 40) BW_SHA1_R3(e, a, b, c, d, 41) BW_SHA1_R3(d, e, a, b, c, 42)
  BW_SHA1_R3(c, d, e, a, b, 43) BW_SHA1_R3(b, c, d, e, a, 44) BW_SHA1_R3(a, b, c, d, e, 45)
  BW_SHA1_R3(e, a, b, c, d, 46) BW_SHA1_R3(d, e, a, b, c, 47) BW_SHA1_R3(c, d, e, a, b, 48)
  BW_SHA1_R3(b, c, d, e, a, 49) BW_SHA1_R3(a, b, c, d, e, 50) BW_SHA1_R3(e, a, b, c, d, 51)
  BW_SHA1_R3(d, e, a, b, c, 52) BW_SHA1_R3(c, d, e, a, b, 53) BW_SHA1_R3(b, c, d, e, a, 54)
  BW_SHA1_R3(a, b, c, d, e, 55) BW_SHA1_R3(e, a, b, c, d, 56) BW_SHA1_R3(d, e, a, b, c, 57)
  BW_SHA1_R3(c, d, e, a, b, 58) BW_SHA1_R3(b, c, d, e, a, 59)

  BW_SHA1_R4(a, b, c, d, e, 60) BW_SHA1_R4(e, a, b, c, d, 61) BW_SHA1_R4(d, e, a, b, c, 62)
  BW_SHA1_R4(c, d, e, a, b, 63) BW_SHA1_R4(b, c, d, e, a, 64) BW_SHA1_R4(a, b, c, d, e, 65)
  BW_SHA1_R4(e, a, b, c, d, 66) BW_SHA1_R4(d, e, a, b, c, 67) BW_SHA1_R4(c, d, e, a, b, 68)
  BW_SHA1_R4(b, c, d, e, a, 69) BW_SHA1_R4(a, b, c, d, e, 70) BW_SHA1_R4(e, a, b, c, d, 71)
  BW_SHA1_R4(d, e, a, b, c, 72) BW_SHA1_R4(c, d, e, a, b, 73) BW_SHA1_R4(b, c, d, e, a, 74)
  BW_SHA1_R4(a, b, c, d, e, 75) BW_SHA1_R4(e, a, b, c, d, 76) BW_SHA1_R4(d, e, a, b, c, 77)
  BW_SHA1_R4(c, d, e, a, b, 78) BW_SHA1_R4(b, c, d, e, a, 79)

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

#undef BW_SHA1_W
#undef BW_SHA1_R0
#undef BW_SHA1_R1
#undef BW_SHA1_R2
#undef BW_SHA1_R3
#undef BW_SHA1_R4

void sha1Init(sha1Context& context) {
  context.state[0] = 0x67452301u;
  context.state[1] = 0xEFCDAB89u;
  context.state[2] = 0x98BADCFEu;
  context.state[3] = 0x10325476u;
  context.state[4] = 0xC3D2E1F0u;
  context.count[0] = 0;
  context.count[1] = 0;
}

void sha1Update(sha1Context& context, const void* data, int32_t length) {
  if (length <= 0) return;
  const auto* input = static_cast<const uint8_t*>(data);
  const auto n = static_cast<uint32_t>(length);
  uint32_t j = (context.count[0] >> 3) & 63;
  context.count[0] += n << 3;
  if (context.count[0] < (n << 3)) ++context.count[1];
  context.count[1] += n >> 29;
  uint32_t i = 0;
  if (j + n > 63) {
    i = 64 - j;
    std::memcpy(context.buffer + j, input, i);
    sha1Transform(context.state, context.buffer);
    for (; i + 63 < n; i += 64) sha1Transform(context.state, input + i);
    j = 0;
  }
  std::memcpy(context.buffer + j, input + i, n - i);
}

void sha1Final(sha1Context& context, uint8_t digest[20]) {
  uint8_t finalCount[8];
  writeBigEndian(finalCount, context.count[1]);
  writeBigEndian(finalCount + 4, context.count[0]);
  static constexpr uint8_t kPadding[64] = {0x80};
  // Pad with 0x80 and zero bytes up to 56 bytes into a block, then the count.
  uint32_t used = (context.count[0] >> 3) & 63;
  uint32_t padLength = used < 56 ? 56 - used : 120 - used;
  sha1Update(context, kPadding, static_cast<int32_t>(padLength));
  sha1Update(context, finalCount, 8);
  for (int i = 0; i < 5; ++i) writeBigEndian(digest + 4 * i, context.state[i]);
  // The context and the count copy held message-derived data.
  volatile uint8_t* wipe = reinterpret_cast<volatile uint8_t*>(&context);
  for (size_t k = 0; k < sizeof context; ++k) wipe[k] = 0;
  volatile uint8_t* wipeCount = finalCount;
  for (size_t k = 0; k < sizeof finalCount; ++k) wipeCount[k] = 0;
}

void hmacSha1(const void* key, int32_t keyLength, const void* text, int32_t textLength, uint8_t digest[20]) {
  uint8_t hashedKey[kSha1DigestLength];
  if (keyLength > kSha1BlockLength) {
    sha1Context keyContext;
    sha1Init(keyContext);
    sha1Update(keyContext, key, keyLength);
    sha1Final(keyContext, hashedKey);
    key = hashedKey;
    keyLength = kSha1DigestLength;
  }
  uint8_t innerPad[kSha1BlockLength] = {};
  uint8_t outerPad[kSha1BlockLength] = {};
  if (keyLength > 0) {
    std::memcpy(innerPad, key, static_cast<size_t>(keyLength));
    std::memcpy(outerPad, key, static_cast<size_t>(keyLength));
  }
  for (int i = 0; i < kSha1BlockLength; ++i) {
    innerPad[i] ^= 0x36;
    outerPad[i] ^= 0x5C;
  }
  sha1Context context;
  sha1Init(context);
  sha1Update(context, innerPad, kSha1BlockLength);
  sha1Update(context, text, textLength);
  sha1Final(context, digest);
  sha1Init(context);
  sha1Update(context, outerPad, kSha1BlockLength);
  sha1Update(context, digest, kSha1DigestLength);
  sha1Final(context, digest);
}

}  // namespace bw
