// fuzz/fuzz_utf8_decode.cpp - the UTF-8 decoder walked over arbitrary bytes
// with their length as bound: every size is at least 1, the sizes add up to
// the length, and every character it accepts encodes back to the same bytes
// (C0 80, the encoded NUL, being the one exception).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  const char* text = reinterpret_cast<const char*>(data);
  const auto length = static_cast<int32_t>(size);
  int32_t pos = 0;
  while (pos < length) {
    bw::DecodedChara d = bw::convertUTF8charaToUnicode(text, pos, length, -1);
    if (d.size < 1 || pos + d.size > length) std::abort();
    if (d.codePoint != -1) {
      if (d.codePoint > 0x10FFFF) std::abort();
      char buffer[4];
      int32_t n = bw::convertUnicodeCharaToUTF8(d.codePoint, buffer);
      bool encodedNul = d.codePoint == 0 && d.size == 2;
      if (!encodedNul && (n != d.size || std::memcmp(buffer, text + pos, static_cast<size_t>(n)) != 0)) std::abort();
    }
    pos += d.size;
  }
  if (pos != length) std::abort();
  return 0;
}
