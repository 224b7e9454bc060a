// core/unicode_to_text.h - one code point as text in a charset, with ASCII
// approximations, and the same for UTF-8.
//
// unicodeToCharsetText gives the charset's own byte when it has one; else,
// for U+2000..U+226B, a plain approximation (curly quotes become straight
// ones, an ellipsis "...", U+2122 "TM", roman numerals spelt out) or a
// substitute character of the charset followed by a suffix (U+2103 "°C");
// else the caller's replacement. unicodeToUTF8Text is its twin for a UTF-8
// target. Neither raises.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/str.h"

namespace bw {

class cCharset;
class cEncoding;

// The text that stands for one code point: NIL, or a view of bytes held
// either in the object itself (up to four) or in a constant or the caller's
// replacement text. Copying it is safe; a view into the replacement lives as
// long as the replacement.
class CharaText {
 public:
  static CharaText nil() { return CharaText(); }
  static CharaText of(Text text);
  static CharaText bytes(std::string_view bytes);  // at most 4 bytes, copied
  // The charset's own byte for the code point (not an approximation).
  static CharaText charsetByte(char byte);

  bool isNil() const { return nil_; }
  bool isCharsetByte() const { return charsetByte_; }
  std::string_view view() const {
    return external_ ? std::string_view(external_, length_) : std::string_view(inline_, length_);
  }
  // A new string of capacity max(length, 1), or NIL.
  Str toStr() const { return nil_ ? Str() : Str(view()); }

 private:
  bool nil_ = true;
  bool charsetByte_ = false;
  const char* external_ = nullptr;
  size_t length_ = 0;
  char inline_[4] = {};
};

// Code point to text in charset (a loaded cCharset). replacement may be NIL.
CharaText unicodeToCharsetText(int32_t codePoint, const cCharset& charset, Text replacement,
                               bool noApproximation);

// Code point to UTF-8: 1..0x10FFFF except surrogates become UTF-8, anything
// else (0, negative, a surrogate, above 0x10FFFF) the replacement.
CharaText unicodeToUTF8Text(int32_t codePoint, Text replacement);

// Dispatches on the target: a cEncodingUTF gives unicodeToUTF8Text, a
// cCharset unicodeToCharsetText, any other object the replacement.
CharaText unicodeToEncodingText(int32_t codePoint, const cEncoding& target, Text replacement,
                                bool noApproximation);

// A new string of capacity length(text) + 1 holding chara followed by text
// (NIL text counts as empty).
Str prependChara(char chara, Text text);

}  // namespace bw
