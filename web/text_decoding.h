// web/text_decoding.h - bytes in a labelled encoding made UTF-8: the labels
// that documents and servers give, read as browsers read them.
//
// Invariants:
//   1. Labels are compared ignoring ASCII case and the white space around
//      them. ISO-8859-1, its aliases and US-ASCII name Windows-1252; every
//      other single-byte label keeps its own table for every byte.
//   2. A label reaches the system's converter (iconv) only when it is a safe
//      charset name (core/charset.h, invariant 3); anything else is unknown.
//   3. decodeToUtf8 gives well-formed UTF-8 or nothing: bytes that do not
//      decode become U+FFFD (or "?" where a single-byte table has no
//      character), never a cut text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace bw {

// True for ISO-8859-1, its aliases (latin1, l1, ISO_8859-1, ISO_8859-1:1987,
// cp819, IBM819, iso-ir-100, csISOLatin1) and US-ASCII with its aliases.
bool isLatin1Label(std::string_view label);
// True for US-ASCII and its aliases (ascii, us, ANSI_X3.4-1968, iso646-us,
// csASCII).
bool isAsciiLabel(std::string_view label);

// The label without the white space around it, or "" for none.
std::string_view trimLabel(std::string_view label);

// The charset parameter of a Content-Type value ("text/xml; charset=utf-8"
// gives "utf-8"), quotes removed; "" when there is none.
std::string contentTypeCharset(std::string_view contentType);

// The length of the well-formed UTF-8 sequence (Unicode Table 3-7) at s[i]
// (1 for ASCII), 0 when the byte starts none within n.
size_t utf8SequenceLength(const unsigned char* s, size_t n, size_t i);

// The text with every well-formed UTF-8 sequence kept and every other byte
// read as Windows-1252 ("?" for the five bytes it leaves undefined).
std::string utf8WithWindows1252Bytes(std::string_view text);

// True when the label names an encoding of more than one byte a character
// that the system's converter knows (Shift_JIS, GBK, UTF-16 ...): such text
// must be converted as a whole before it is read for markup.
bool isMultiByteLabel(std::string_view label);

// The bytes read in the labelled encoding, as UTF-8. An empty label or a
// UTF-8 one reads stray bytes as Windows-1252; nothing when the label names
// no encoding this system knows.
std::optional<std::string> decodeToUtf8(std::string_view bytes, std::string_view label);

}  // namespace bw
