// core/base64.h - base64 encoding (RFC 4648 section 4: the standard
// alphabet with "=" padding), as OAuth signatures and Basic credentials
// are written.
//
// Invariants:
//   1. The text of n bytes has ((n + 2) / 3) * 4 characters, capacity one
//      more; no line breaks are ever inserted.
//   2. Bytes are taken as unsigned values; 0 bytes give the empty text.
#pragma once

#include <cstdint>

#include "core/str.h"

namespace bw {

// A new string with the base64 text of length bytes at data.
Str base64encode(const void* data, int32_t length);

}  // namespace bw
