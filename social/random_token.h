// social/random_token.h - random tokens for OAuth nonces and the sign-in
// state: letters and digits from the kernel's random source.
//
// Invariants:
//   1. randomToken(n) has exactly n characters of [A-Za-z0-9], each equally
//      likely (rejection sampling of getrandom(2) bytes).
//   2. Tests replace the source with setRandomTokenSource; an empty
//      function restores the kernel's.
//   3. A failing random source raises "DEV" "randomToken(); getrandom
//      failed" rather than give a guessable token.
#pragma once

#include <cstdint>
#include <functional>

#include "core/str.h"

namespace bw {

Str randomToken(int32_t n);
void setRandomTokenSource(std::function<Str(int32_t)> source);

}  // namespace bw
