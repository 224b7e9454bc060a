// social/random_token.cpp - randomToken over getrandom(2).
#include "social/random_token.h"

#include <sys/random.h>

#include <cerrno>
#include <string>
#include <utility>

#include "core/exception.h"

namespace bw {
namespace {

constexpr char kTokenChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr unsigned kTokenCharCount = sizeof kTokenChars - 1;
// Bytes at or above this would favour the first characters.
constexpr unsigned kAcceptBelow = 256 / kTokenCharCount * kTokenCharCount;

std::function<Str(int32_t)> gSource;

Str kernelToken(int32_t n) {
  std::string token;
  token.reserve(n > 0 ? static_cast<size_t>(n) : 0);
  unsigned char bytes[64];
  while (static_cast<int32_t>(token.size()) < n) {
    ssize_t got = ::getrandom(bytes, sizeof bytes, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      raise("DEV", "randomToken(); getrandom failed");
    }
    for (ssize_t i = 0; i < got && static_cast<int32_t>(token.size()) < n; ++i) {
      if (bytes[i] < kAcceptBelow) token += kTokenChars[bytes[i] % kTokenCharCount];
    }
  }
  return Str(token);
}

}  // namespace

Str randomToken(int32_t n) { return gSource ? gSource(n) : kernelToken(n); }

void setRandomTokenSource(std::function<Str(int32_t)> source) { gSource = std::move(source); }

}  // namespace bw
