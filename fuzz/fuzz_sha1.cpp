// fuzz/fuzz_sha1.cpp - SHA-1 updates cut where the fuzzer says give the
// one-shot digest; HMAC-SHA1 is deterministic; base64 decodes back.
//
// Input: the first byte gives the number of cuts (mod 8), the next bytes
// their places; the rest is the message.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/base64.h"
#include "social/oauth_verifier_test_support.h"
#include "social/sha1.h"

namespace {

void digestOf(const uint8_t* p, const std::vector<size_t>& cuts, size_t n, uint8_t out[20]) {
  bw::sha1Context c;
  bw::sha1Init(c);
  size_t at = 0;
  for (size_t cut : cuts) {
    bw::sha1Update(c, p + at, static_cast<int32_t>(cut - at));
    at = cut;
  }
  bw::sha1Update(c, p + at, static_cast<int32_t>(n - at));
  bw::sha1Final(c, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t cutCount = std::min<size_t>(data[0] % 8, size - 1);
  const uint8_t* message = data + 1 + cutCount;
  size_t n = size - 1 - cutCount;
  std::vector<size_t> cuts;
  size_t at = 0;
  for (size_t i = 0; i < cutCount; ++i) {
    at = n == 0 ? 0 : std::min(n, at + data[1 + i] * (n / 64 + 1) % (n + 1));
    cuts.push_back(at);
  }
  uint8_t whole[20], pieces[20];
  digestOf(message, {}, n, whole);
  digestOf(message, cuts, n, pieces);
  if (std::memcmp(whole, pieces, 20) != 0) std::abort();

  uint8_t mac1[20], mac2[20];
  int32_t keyLength = static_cast<int32_t>(n / 2);
  bw::hmacSha1(message, keyLength, message + keyLength, static_cast<int32_t>(n) - keyLength, mac1);
  bw::hmacSha1(message, keyLength, message + keyLength, static_cast<int32_t>(n) - keyLength, mac2);
  if (std::memcmp(mac1, mac2, 20) != 0) std::abort();

  bw::Str text = bw::base64encode(message, static_cast<int32_t>(n));
  std::string back;
  if (text.length() != static_cast<int32_t>((n + 2) / 3 * 4)) std::abort();
  if (!bw::test::base64Decode(text.str(), &back) || back != std::string(reinterpret_cast<const char*>(message), n))
    std::abort();
  return 0;
}
