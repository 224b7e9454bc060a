// core/unicode.cpp - pUnicode's string conversions: the three conversion
// matchers, their per-character steps, and the direct loops that share them.
#include "core/unicode.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "core/exception.h"
#include "core/unicode_to_text.h"
#include "core/utf8.h"

namespace bw {
namespace {

struct SharedMatchers {
  fConvertCharsetTranslateMatcher convertCharset;
  fUTF8ToCharsetTranslateMatcher utf8ToCharset;
  fCharsetToUTF8TranslateMatcher charsetToUTF8;
};
std::unique_ptr<SharedMatchers> gMatchers;

SharedMatchers& matchers() {
  if (!gMatchers) raise("BUG", "pUnicode; conversion used before initTranslateModule()");
  return *gMatchers;
}

constexpr const char kSkipUTF8[] = "skipUTF8";

// What one conversion step does at a position: pass `size` bytes unchanged,
// or replace `size` bytes by `text`.
struct Step {
  int32_t size;
  bool match;
  CharaText text;
};

Step pass(int32_t size) { return {size, false, CharaText::nil()}; }

// The first position at or after p (below end) whose byte is 0 or above
// 0x7F: the bytes a UTF-8 direction leaves alone are skipped eight at a time.
int32_t skipPlainAscii(const char* text, int32_t p, int32_t end) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  while (p + 8 <= end) {
    uint64_t v;
    std::memcpy(&v, s + p, 8);
    // A byte is flagged when it is 0 (the subtraction borrows) or has its
    // high bit set; a borrow only spreads from a byte that is 0 itself.
    if (((v - 0x0101010101010101ULL) | v) & 0x8080808080808080ULL) break;
    p += 8;
  }
  while (p < end && s[p] != 0 && s[p] < 0x80) ++p;
  return p;
}

// UTF-8 to charset at a byte above 0x7F. A NIL replacement turns the
// approximations off and leaves unmappable characters as they are.
Step utf8ToCharsetStep(const char* text, int32_t p, int32_t end, const cCharset& to, Text replacement) {
  DecodedChara d = convertUTF8charaToUnicode(text, p, end, -1);
  if (d.codePoint == -1) return pass(1);  // not UTF-8: the byte stays
  CharaText t = unicodeToCharsetText(d.codePoint, to, replacement, replacement.isNil());
  // Unmapped and left alone: only the lead byte is passed; the continuation
  // bytes that follow are invalid lead bytes and pass as well.
  if (t.isNil()) return pass(1);
  return {d.size, true, t};
}

// Charset to UTF-8 at a byte above 0x7F.
Step charsetToUTF8Step(const char* text, int32_t p, int32_t end, const cCharset& from, uint8_t replacementChara,
                       bool skipUTF8) {
  if (skipUTF8) {
    DecodedChara d = convertUTF8charaToUnicode(text, p, end, -1);
    if (d.codePoint != -1) return pass(d.size);
  }
  int32_t cp = from.charaToUnicode(static_cast<uint8_t>(text[p]), replacementChara);
  if (cp == 0) return {1, true, CharaText::bytes("")};  // never a NUL in the text
  char buffer[4];
  int32_t n = convertUnicodeCharaToUTF8(cp, buffer);
  return {1, true, CharaText::bytes(std::string_view(buffer, static_cast<size_t>(n)))};
}

// Charset to charset at any byte but 0.
Step charsetToCharsetStep(const char* text, int32_t p, int32_t end, const convertCharsetParams& params) {
  const auto c = static_cast<uint8_t>(text[p]);
  if (params.skipUTF8 && c > 0x7F) {
    DecodedChara d = convertUTF8charaToUnicode(text, p, end, -1);
    if (d.codePoint != -1) return pass(d.size);
  }
  int32_t cp = params.fromCharset->charaToUnicode(c, -1);
  if (cp == -1) return {1, true, CharaText::of(params.replacementText)};
  CharaText t = unicodeToCharsetText(cp, *params.toCharset, params.replacementText, false);
  if (t.isCharsetByte() && static_cast<uint8_t>(t.view()[0]) == c) return pass(1);
  return {1, true, t};
}

TranslateMatch toMatch(int32_t position, const Step& step) {
  Str replacement = step.text.toStr();
  if (replacement.isNil()) replacement = Str::withCapacity(0);
  return {position, step.size, replacement.length(), std::move(replacement)};
}

// The length to work to (0: up to the NUL), checked against the text.
int32_t workLength(Text text, int32_t length, const char* procedure) {
  if (text.isNil()) raise("EPU", std::string("pUnicode; ") + procedure + "(); text=NIL");
  if (length == 0) return text.nulLength();
  if (length < 0 || length > text.length()) {
    raise("EPU", std::string("pUnicode; ") + procedure + "(); length outside the text");
  }
  return length;
}

// The output of a direct loop. It keeps room for `perByte` output bytes for
// every input byte still to come (plus a little), so the loop writes
// unchanged bytes and the common characters without checks; only the
// general step, whose text may be longer, makes room again.
class DirectOutput {
 public:
  DirectOutput(size_t remaining, size_t perByte) : perByte_(perByte) { grow(remaining); }
  char* cursor() const { return buffer_.get() + used_; }
  void setCursor(char* w) { used_ = static_cast<size_t>(w - buffer_.get()); }
  // Appends bytes, then makes room for the input still to come.
  void append(std::string_view bytes, size_t remaining) {
    if (used_ + bytes.size() > size_) grow(remaining + bytes.size());
    std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
    if (size_ - used_ < remaining * perByte_ + kSlack) grow(remaining);
  }
  Str take() const { return Str::withCapacity(static_cast<int32_t>(used_), std::string_view(buffer_.get(), used_)); }

 private:
  static constexpr size_t kSlack = 16;
  void grow(size_t remaining) {
    size_t size = std::max(size_ * 2, used_ + remaining * perByte_ + kSlack);
    std::unique_ptr<char[]> bigger(new char[size]);  // not cleared: only used bytes count
    if (used_) std::memcpy(bigger.get(), buffer_.get(), used_);
    buffer_ = std::move(bigger);
    size_ = size;
  }

  std::unique_ptr<char[]> buffer_;
  size_t size_ = 0;
  size_t used_ = 0;
  size_t perByte_;
};

bool plainAsciiWord(uint64_t v) { return (((v - 0x0101010101010101ULL) | v) & 0x8080808080808080ULL) == 0; }

// The engine's road without an extra table, in one direct pass: the same
// steps at the same places, so the same bytes and the same capacity.
// fastStep handles the common characters inline: it writes at most perByte
// bytes for every byte it covers and answers (written << 8) | covered, or 0
// to leave the place to the general step.
template <typename FastStep, typename StepAt>
Str convertDirect(Text text, int32_t length, int32_t start, bool nilIfUnchanged, size_t perByte, FastStep fastStep,
                  StepAt stepAt) {
  if (start < 0 || start > length) raise("EPU", "dynamicTranslateStr(); start outside the text");
  const char* s = text.view().data();
  auto remaining = [&](int32_t p) { return static_cast<size_t>(length - p); };

  // Until the first change nothing is written (an unchanged text costs no
  // allocation).
  std::optional<DirectOutput> out;
  int32_t p = start;
  for (;;) {
    p = skipPlainAscii(s, p, length);
    if (p >= length || s[p] == 0) break;
    char scratch[4];
    const int32_t covered = fastStep(s, p, length, scratch);
    Step step = covered > 0 ? Step{covered & 0xFF, true, CharaText::nil()} : stepAt(s, p, length);
    if (step.match) {
      out.emplace(remaining(start), perByte);
      out->append(std::string_view(s + start, static_cast<size_t>(p - start)), remaining(p));
      std::string_view replacement =
          covered > 0 ? std::string_view(scratch, static_cast<size_t>(covered >> 8)) : step.text.view();
      p += step.size;
      out->append(replacement, remaining(p));
      break;
    }
    p += step.size;
  }
  if (!out) return nilIfUnchanged ? Str() : Str::withCapacity(length, std::string_view(s, static_cast<size_t>(length)));

  char* w = out->cursor();
  while (p < length) {
    uint64_t v;
    while (p + 8 <= length && (std::memcpy(&v, s + p, 8), plainAsciiWord(v))) {
      std::memcpy(w, &v, 8);
      w += 8;
      p += 8;
    }
    // The word held a byte to look at: copy up to it one by one.
    while (p < length && static_cast<unsigned char>(s[p] - 1) < 0x7F) *w++ = s[p++];
    if (p >= length || s[p] == 0) break;  // at a NUL conversion stops; the rest is copied below
    if (int32_t covered = fastStep(s, p, length, w); covered > 0) {
      w += covered >> 8;
      p += covered & 0xFF;
      continue;
    }
    Step step = stepAt(s, p, length);
    if (step.match) {
      out->setCursor(w);
      p += step.size;
      out->append(step.text.view(), remaining(p));
      w = out->cursor();
    } else {
      std::memcpy(w, s + p, static_cast<size_t>(step.size));
      w += step.size;
      p += step.size;
    }
  }
  out->setCursor(w);
  out->append(std::string_view(s + p, remaining(p)), 0);
  return out->take();
}

// Fast steps answer (bytes written << 8) | bytes covered, or 0.

// A two-byte sequence whose character the charset has as a byte below 256.
int32_t fastUtf8ToCharset(const char* text, int32_t p, int32_t end, const cCharset& to, char* w) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  const unsigned b0 = s[p];
  if (b0 < 0xC2 || b0 > 0xDF || p + 1 >= end || (s[p + 1] & 0xC0) != 0x80) return 0;
  const auto cp = static_cast<int32_t>(((b0 & 0x1F) << 6) | (s[p + 1] & 0x3F));
  if (cp >= 256) return 0;
  const int32_t b = to.unicodeToChara(cp, 0);
  if (b == 0) return 0;
  *w = static_cast<char>(b);
  return (1 << 8) | 2;
}

// A byte whose character takes two or three bytes of UTF-8.
int32_t fastCharsetToUtf8(const char* text, int32_t p, const cCharset& from, uint8_t replacementChara, char* w) {
  const int32_t cp = from.charaToUnicode(static_cast<uint8_t>(text[p]), replacementChara);
  if (cp < 0x80 || cp > 0xFFFF) return 0;  // 0 and the rare cases take the general step
  if (cp <= 0x7FF) {
    w[0] = static_cast<char>(0xC0 + (cp >> 6));
    w[1] = static_cast<char>(0x80 + (cp & 0x3F));
    return (2 << 8) | 1;
  }
  w[0] = static_cast<char>(0xE0 + (cp >> 12));
  w[1] = static_cast<char>(0x80 + ((cp >> 6) & 0x3F));
  w[2] = static_cast<char>(0x80 + (cp & 0x3F));
  return (3 << 8) | 1;
}

// Runs the conversion entry, joined with the extra table when there is one.
Str runConversion(Text text, const TranslateEntry& conversion, int32_t length, bool nilIfUnchanged,
                  const TranslateEntry* extraTable, int32_t start) {
  TranslateEntry table[2] = {conversion, {}};
  if (!extraTable) return dynamicTranslateStr(text, table, length, nilIfUnchanged, start);
  TranslateTable joined = joinTranslateTables(table, extraTable);
  return dynamicTranslateStr(text, joined.data(), length, nilIfUnchanged, start);
}

// Same encoding on both sides: a copy, NIL, or the extra table alone.
Str convertSame(Text text, int32_t length, bool nilIfUnchanged, const TranslateEntry* extraTable, int32_t start) {
  if (extraTable) return dynamicTranslateStr(text, extraTable, length, nilIfUnchanged, start);
  if (nilIfUnchanged) return Str();
  return Str::withCapacity(length > 1 ? length : 1, text.view().substr(0, static_cast<size_t>(length)));
}

void requireLoaded(const cCharset& charset, const char* message) {
  if (charset.infoCharsetName().isNil()) raise("EPU", message);
}

enum class Kind { kCharset, kUTF8 };

Kind classify(const cEncoding& encoding, const char* unsupported1, const char* unsupported2) {
  if (encoding.isOfClass(cCharset::kClassName)) return Kind::kCharset;
  if (encoding.isOfClass(cEncodingUTF::kClassName)) {
    const Str& name = encoding.infoName();
    // The usual spelling before the compare that ignores case: every text
    // a document getter reads is classified twice.
    if (name == std::string_view("UTF-8") || (!name.isNil() && charsetNamesEqual(name.view(), "UTF-8"))) {
      return Kind::kUTF8;
    }
    raise("BUG", unsupported1);
  }
  raise("BUG", unsupported2);
}

}  // namespace

TranslateMatch fConvertCharsetTranslateMatcher::call(Text text, int32_t position, const TranslateEntry& entry) {
  const auto& params = *static_cast<const convertCharsetParams*>(entry.word6);
  const char* s = text.view().data();
  const int32_t end = text.length();
  for (int32_t p = position; p < end && s[p] != 0;) {
    Step step = charsetToCharsetStep(s, p, end, params);
    if (step.match) return toMatch(p, step);
    p += step.size;
  }
  return {};
}

TranslateMatch fUTF8ToCharsetTranslateMatcher::call(Text text, int32_t position, const TranslateEntry& entry) {
  const auto& to = *static_cast<const cCharset*>(entry.word6);
  const char* s = text.view().data();
  const int32_t end = text.length();
  for (int32_t p = position;;) {
    p = skipPlainAscii(s, p, end);
    if (p >= end || s[p] == 0) return {};
    Step step = utf8ToCharsetStep(s, p, end, to, entry.replacementText);
    if (step.match) return toMatch(p, step);
    p += step.size;
  }
}

TranslateMatch fCharsetToUTF8TranslateMatcher::call(Text text, int32_t position, const TranslateEntry& entry) {
  const auto& from = *static_cast<const cCharset*>(entry.word6);
  const auto replacementChara = static_cast<uint8_t>(entry.word4);
  const bool skipUTF8 = entry.replacementText != nullptr;
  const char* s = text.view().data();
  const int32_t end = text.length();
  for (int32_t p = position;;) {
    p = skipPlainAscii(s, p, end);
    if (p >= end || s[p] == 0) return {};
    Step step = charsetToUTF8Step(s, p, end, from, replacementChara, skipUTF8);
    if (step.match) return toMatch(p, step);
    p += step.size;
  }
}

void initTranslateModule() {
  if (!gMatchers) gMatchers = std::make_unique<SharedMatchers>();
}

void endCharsetModule() { gMatchers.reset(); }

Str convertStringCharset(Text text, const cCharset& fromCharset, const cCharset& toCharset, int32_t length,
                         Text replacementText, bool nilIfUnchanged, bool skipUTF8,
                         const TranslateEntry* extraTable, int32_t start) {
  requireLoaded(fromCharset, "pUnicode; convertStringCharset(); fromCharset not loaded");
  requireLoaded(toCharset, "pUnicode; convertStringCharset(); toCharset not loaded");
  length = workLength(text, length, "convertStringCharset");
  std::string replacement(replacementText.isNil() ? std::string_view("?") : replacementText.nulView());
  if (charsetNamesEqual(fromCharset.infoCharsetName().view(), toCharset.infoCharsetName().view())) {
    return convertSame(text, length, nilIfUnchanged, extraTable, start);
  }
  convertCharsetParams params{&fromCharset, &toCharset, replacement.c_str(), skipUTF8};
  TranslateEntry entry{&matchers().convertCharset, nullptr, nullptr, 0, nullptr, &params};
  return runConversion(text, entry, length, nilIfUnchanged, extraTable, start);
}

Str convertUTF8ToCharset(Text text, const cCharset& toCharset, int32_t length, Text replacementText,
                         bool nilIfUnchanged, bool skipUTF8, const TranslateEntry* extraTable, int32_t start) {
  requireLoaded(toCharset, "pUnicode; convertUTF8ToCharset(); toCharset not loaded");
  length = workLength(text, length, "convertUTF8ToCharset");
  std::string replacement(replacementText.isNil() ? std::string_view("?") : replacementText.nulView());
  const char* r = skipUTF8 ? nullptr : replacement.c_str();
  if (!extraTable) {
    return convertDirect(
        text, length, start, nilIfUnchanged, 1,
        [&](const char* s, int32_t p, int32_t end, char* w) { return fastUtf8ToCharset(s, p, end, toCharset, w); },
        [&](const char* s, int32_t p, int32_t end) { return utf8ToCharsetStep(s, p, end, toCharset, r); });
  }
  TranslateEntry entry{&matchers().utf8ToCharset, nullptr, nullptr, 0, r, &toCharset};
  return runConversion(text, entry, length, nilIfUnchanged, extraTable, start);
}

Str convertCharsetToUTF8(Text text, const cCharset& fromCharset, int32_t length, uint8_t replacementChara,
                         bool nilIfUnchanged, bool skipUTF8, const TranslateEntry* extraTable, int32_t start) {
  requireLoaded(fromCharset, "pUnicode; convertCharsetToUTF8(); fromCharset not loaded");
  length = workLength(text, length, "convertCharsetToUTF8");
  if (!extraTable) {
    return convertDirect(
        text, length, start, nilIfUnchanged, 3,
        [&](const char* s, int32_t p, int32_t, char* w) {
          return skipUTF8 ? 0 : fastCharsetToUtf8(s, p, fromCharset, replacementChara, w);
        },
        [&](const char* s, int32_t p, int32_t end) {
          return charsetToUTF8Step(s, p, end, fromCharset, replacementChara, skipUTF8);
        });
  }
  TranslateEntry entry{&matchers().charsetToUTF8, nullptr, nullptr, replacementChara,
                       skipUTF8 ? kSkipUTF8 : nullptr, &fromCharset};
  return runConversion(text, entry, length, nilIfUnchanged, extraTable, start);
}

Str convertStringEncoding(Text text, const cEncoding& fromEncoding, const cEncoding& toEncoding, int32_t length,
                          uint8_t replacementChara, bool nilIfUnchanged, bool skipUTF8,
                          const TranslateEntry* extraTable, int32_t start) {
  length = workLength(text, length, "convertStringEncoding");
  Kind from = classify(fromEncoding, "pUnicode; convertStringEncoding(); fromEncoding is unsupported (1)",
                       "pUnicode; convertStringEncoding(); fromEncoding is unsupported (2)");
  Kind to = classify(toEncoding, "pUnicode; convertStringEncoding(); toEncoding is unsupported (1)",
                     "pUnicode; convertStringEncoding(); toEncoding is unsupported (2)");
  const char one[2] = {static_cast<char>(replacementChara), '\0'};
  if (from == Kind::kUTF8 && to == Kind::kUTF8) return convertSame(text, length, nilIfUnchanged, extraTable, start);
  if (from == Kind::kUTF8) {
    return convertUTF8ToCharset(text, static_cast<const cCharset&>(toEncoding), length, one, nilIfUnchanged,
                                skipUTF8, extraTable, start);
  }
  if (to == Kind::kUTF8) {
    return convertCharsetToUTF8(text, static_cast<const cCharset&>(fromEncoding), length, replacementChara,
                                nilIfUnchanged, skipUTF8, extraTable, start);
  }
  return convertStringCharset(text, static_cast<const cCharset&>(fromEncoding),
                              static_cast<const cCharset&>(toEncoding), length, one, nilIfUnchanged, skipUTF8,
                              extraTable, start);
}

}  // namespace bw
