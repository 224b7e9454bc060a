// core/unicode.h - pUnicode: string conversion between encodings.
//
// Whole strings move between single-byte charsets and UTF-8 through the
// translate engine: each conversion is a one-entry table whose matcher is one
// of the three below (plus, optionally, the caller's extra table, whose
// entries come after it and lose ties). Text that needs no change is copied
// by the engine in one piece. Without an extra table the two UTF-8 directions
// run a direct loop built from the same per-character steps as the matchers,
// so both roads give the same bytes and capacities.
//
// Invariants:
//   1. Invalid or truncated UTF-8 never raises: such bytes pass unchanged.
//   2. Conversion stops at the first NUL byte at or after start (and at
//      length); what follows up to length is copied unchanged.
//   3. Every result is a new string owned by the caller, of capacity equal
//      to its length when something changed; when nothing changed it is NIL
//      (nilIfUnchanged) or a copy of the whole text.
//   4. No conversion puts a NUL of its own into the text: a code point 0 (a
//      byte mapped to U+0000, or a replacement character 0) becomes nothing.
#pragma once

#include <cstdint>

#include "core/charset.h"
#include "core/translate.h"

namespace bw {

// The record a charset-to-charset entry points to (word 6).
struct convertCharsetParams {
  const cCharset* fromCharset;
  const cCharset* toCharset;
  const char* replacementText;
  bool skipUTF8;
};

// Charset to charset: every byte (ASCII included) is looked up in both.
class fConvertCharsetTranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fConvertCharsetTranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry) override;
};

// UTF-8 to charset: word 5 the replacement text (null: leave unmappable
// characters as they are), word 6 the target cCharset.
class fUTF8ToCharsetTranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fUTF8ToCharsetTranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry) override;
};

// Charset to UTF-8: word 4 the replacement character, word 5 non-null to
// leave valid UTF-8 alone, word 6 the source cCharset.
class fCharsetToUTF8TranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fCharsetToUTF8TranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry) override;
};

// The shared instances every conversion table points to.
void initTranslateModule();
void endCharsetModule();

// Charset to charset. length 0: up to the NUL; replacementText NIL: "?".
// Charsets of the same name (ignoring case) copy the text (capacity
// max(length, 1)) or run only the extra table. Raises "EPU" for a charset
// that is not loaded.
Str convertStringCharset(Text text, const cCharset& fromCharset, const cCharset& toCharset, int32_t length,
                         Text replacementText, bool nilIfUnchanged, bool skipUTF8,
                         const TranslateEntry* extraTable, int32_t start);

// Any two encodings: loaded cCharsets, or cEncodingUTF named "UTF-8".
// replacementChara is one byte; 0 drops what cannot be converted. Raises
// "BUG" for an encoding of another kind.
Str convertStringEncoding(Text text, const cEncoding& fromEncoding, const cEncoding& toEncoding, int32_t length,
                          uint8_t replacementChara, bool nilIfUnchanged, bool skipUTF8,
                          const TranslateEntry* extraTable, int32_t start);

// Charset to UTF-8; with skipUTF8 valid UTF-8 in the text passes unchanged.
Str convertCharsetToUTF8(Text text, const cCharset& fromCharset, int32_t length, uint8_t replacementChara,
                         bool nilIfUnchanged, bool skipUTF8, const TranslateEntry* extraTable, int32_t start);

// UTF-8 to charset; with skipUTF8 characters the charset cannot show stay
// as they are (no replacement, no approximation).
Str convertUTF8ToCharset(Text text, const cCharset& toCharset, int32_t length, Text replacementText,
                         bool nilIfUnchanged, bool skipUTF8, const TranslateEntry* extraTable, int32_t start);

}  // namespace bw
