// core/base64.cpp - base64encode.
#include "core/base64.h"

#include <cstring>
#include <string>

namespace bw {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two characters of every 12-bit value: half a group in one look-up.
struct PairTable {
  char chars[4096][2];
  constexpr PairTable() : chars() {
    for (int v = 0; v < 4096; ++v) {
      chars[v][0] = kAlphabet[v >> 6];
      chars[v][1] = kAlphabet[v & 63];
    }
  }
};
constexpr PairTable kPairs;

}  // namespace

Str base64encode(const void* data, int32_t length) {
  const auto* in = static_cast<const uint8_t*>(data);
  const size_t n = length > 0 ? static_cast<size_t>(length) : 0;
  const size_t outLength = (n + 2) / 3 * 4;
  std::string out(outLength, '=');
  char* o = out.data();
  size_t i = 0;
  for (; i + 3 <= n; i += 3, o += 4) {
    uint32_t group = static_cast<uint32_t>(in[i]) << 16 | static_cast<uint32_t>(in[i + 1]) << 8 | in[i + 2];
    std::memcpy(o, kPairs.chars[group >> 12], 2);
    std::memcpy(o + 2, kPairs.chars[group & 0xFFF], 2);
  }
  // A short last group is filled with zero bits; its missing characters
  // stay "=".
  if (size_t rest = n - i; rest > 0) {
    uint32_t group = static_cast<uint32_t>(in[i]) << 16 | (rest == 2 ? static_cast<uint32_t>(in[i + 1]) << 8 : 0);
    o[0] = kAlphabet[group >> 18];
    o[1] = kAlphabet[(group >> 12) & 63];
    if (rest == 2) o[2] = kAlphabet[(group >> 6) & 63];
  }
  return Str::adopt(std::move(out), static_cast<int32_t>(outLength + 1));
}

}  // namespace bw
