// core/utf8.h - one code point to UTF-8 bytes and back.
//
// The encoder and the decoder of the program's UTF-8 (module pUnicode).
// They are deliberately asymmetric:
//   1. The encoder writes every code point 0..0x23FFFF (surrogates and values
//      above 0x10FFFF included, the latter with lead bytes 0xF4..0xF8) and
//      raises "EPU" for anything else.
//   2. The decoder accepts code points up to 0x10FFFF only; it never raises
//      for bad input but answers the caller's replacement and a size.
//   3. The size is how far the caller advances, always >= 1: a truncated
//      sequence consumes the rest of the text, a bad continuation byte stops
//      the sequence before it so that byte is looked at again as a lead byte.
//   4. C0 80 decodes to U+0000 (size 2); encoded surrogates decode as they
//      are.
#pragma once

#include <cstdint>

namespace bw {

// Writes codePoint as UTF-8 into buffer (at least 4 writable bytes, no
// terminator written) and returns the number of bytes written (1..4).
// Raises "EPU" for a negative code point or one above 0x23FFFF.
int32_t convertUnicodeCharaToUTF8(int32_t codePoint, char* buffer);

struct DecodedChara {
  int32_t codePoint;  // or the replacement
  int32_t size;       // bytes consumed, >= 1
};

// Decodes the character that starts at text[offset]. length is the index
// bound of text; 0 means unknown: offset + 4 is taken as the bound and the
// text must be NUL-terminated. With a length, offset >= length raises "EPU".
DecodedChara convertUTF8charaToUnicode(const char* text, int32_t offset, int32_t length,
                                       int32_t replacement);

}  // namespace bw
