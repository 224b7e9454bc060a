// core/utf8.cpp - the UTF-8 encoder and decoder of pUnicode.
#include "core/utf8.h"

#include "core/exception.h"

namespace bw {

int32_t convertUnicodeCharaToUTF8(int32_t cp, char* buffer) {
  auto* out = reinterpret_cast<unsigned char*>(buffer);
  if (cp < 0) raise("EPU", "pUnicode; convertUnicodeCharaToUTF8(); codePoint<0 (nonsensical)");
  if (cp <= 0x7F) {
    out[0] = static_cast<unsigned char>(cp);
    return 1;
  }
  if (cp <= 0x7FF) {
    out[0] = static_cast<unsigned char>(0xC0 + (cp >> 6));
    out[1] = static_cast<unsigned char>(0x80 + (cp & 0x3F));
    return 2;
  }
  if (cp <= 0xFFFF) {
    out[0] = static_cast<unsigned char>(0xE0 + (cp >> 12));
    out[1] = static_cast<unsigned char>(0x80 + ((cp >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 + (cp & 0x3F));
    return 3;
  }
  if (cp <= 0x23FFFF) {
    out[0] = static_cast<unsigned char>((0xF0 + (cp >> 18)) & 0xFF);
    out[1] = static_cast<unsigned char>(0x80 + ((cp >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 + ((cp >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 + (cp & 0x3F));
    return 4;
  }
  raise("EPU", "pUnicode; convertUnicodeCharaToUTF8(); codePoint>$23FFFF (4 bytes)");
}

DecodedChara convertUTF8charaToUnicode(const char* text, int32_t offset, int32_t length,
                                       int32_t replacement) {
  if (length == 0) {
    length = offset + 4;
  } else if (offset >= length) {
    raise("EPU", "pUnicode; convertUTF8charaToUnicode(); offset>=length");
  }
  const auto* s = reinterpret_cast<const unsigned char*>(text) + offset;
  const int32_t b0 = s[0];
  if (b0 < 0x80) return {b0, 1};

  int32_t need;
  int32_t value;
  if (b0 < 0xC0 || b0 == 0xC1 || b0 > 0xF8) return {replacement, 1};
  if (b0 < 0xE0) {
    need = 2;
    value = b0 & 0x1F;
  } else if (b0 < 0xF0) {
    need = 3;
    value = b0 & 0x0F;
  } else {
    need = 4;
    value = b0 - 0xF0;
  }
  if (offset + need - 1 >= length) return {replacement, length - offset};
  for (int32_t i = 1; i < need; ++i) {
    const int32_t b = s[i];
    if ((b & 0xC0) != 0x80) return {replacement, i};
    value = (value << 6) | (b & 0x3F);
  }
  switch (need) {
    case 2:
      // C0 80 is the one overlong form that is accepted: it stands for NUL.
      if (b0 == 0xC0) return s[1] == 0x80 ? DecodedChara{0, 2} : DecodedChara{replacement, 1};
      return {value, 2};
    case 3:
      return value <= 0x7FF ? DecodedChara{replacement, 3} : DecodedChara{value, 3};
    default:
      return (value <= 0xFFFF || value > 0x10FFFF) ? DecodedChara{replacement, 4}
                                                   : DecodedChara{value, 4};
  }
}

}  // namespace bw
