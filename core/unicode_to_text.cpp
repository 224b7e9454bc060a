// core/unicode_to_text.cpp - code point to charset text and its
// approximation tables.
#include "core/unicode_to_text.h"

#include <array>

#include "core/charset.h"
#include "core/utf8.h"

namespace bw {
namespace {

constexpr int32_t kFirst = 0x2000;
constexpr int32_t kLast = 0x226B;

// One row of the approximation table: a constant text, or (when substitute
// is set) a character of the charset followed by a suffix.
struct Approximation {
  int32_t codePoint;
  const char* text;        // the constant, or the suffix after the substitute
  int32_t substitute = 0;  // 0: none
};

constexpr Approximation kApproximations[] = {
    {0x2000, " "}, {0x2001, "  "}, {0x2002, " "}, {0x2003, "  "}, {0x2004, " "}, {0x2005, " "},
    {0x2006, " "}, {0x2007, " "}, {0x2008, " "}, {0x2009, " "}, {0x200A, " "},
    {0x200B, ""}, {0x200C, ""}, {0x200D, ""},
    {0x2010, "-"}, {0x2011, "-"}, {0x2012, "-"}, {0x2013, "-"}, {0x2014, "--"}, {0x2015, "----"},
    {0x2016, "||"}, {0x2017, "="}, {0x2018, "`"}, {0x2019, "'"}, {0x201A, "`"}, {0x201B, "'"},
    {0x201C, "\""}, {0x201D, "\""}, {0x201E, "\""}, {0x201F, "\""}, {0x2020, "+"}, {0x2021, "++"},
    {0x2022, "", 0x00B7}, {0x2023, "", 0x00B7}, {0x2024, "."}, {0x2025, ".."}, {0x2026, "..."},
    {0x2027, "", 0x00B7}, {0x2028, "\n"}, {0x2029, "\n"}, {0x202F, " "},
    {0x2032, "'"}, {0x2033, "''"}, {0x2034, "'''"}, {0x2035, "'"}, {0x2036, "''"}, {0x2037, "'''"},
    {0x2038, "^"}, {0x2039, "<"}, {0x203A, ">"}, {0x203B, "", 0x00D7}, {0x203C, "!!"},
    {0x203E, "", 0x00AF}, {0x203F, "_"}, {0x2040, "", 0x00AF}, {0x2041, "^"}, {0x2042, "***"},
    {0x2043, "-"}, {0x2044, "/"}, {0x2045, "["}, {0x2046, "]"}, {0x2047, "??"}, {0x2048, "?!"},
    {0x2049, "!?"}, {0x204B, "", 0x00B6}, {0x204E, "*"}, {0x204F, ";"}, {0x2050, "( )"},
    {0x2051, "**"}, {0x2052, "%"}, {0x2053, "~"}, {0x2055, "*"}, {0x2057, "''''"},
    {0x20A4, "", 0x00A3}, {0x20B5, "", 0x00A2}, {0x20D6, "<-"}, {0x20D7, "->"},
    {0x2100, "a/c"}, {0x2103, "C", 0x00B0}, {0x2105, "c/o"}, {0x2106, "c/u"}, {0x2109, "F", 0x00B0},
    {0x210E, "h"}, {0x2117, "(P)"}, {0x2120, "SM"}, {0x2121, "TEL"}, {0x2122, "TM"}, {0x2126, "Ohm"},
    {0x213B, "FAX"},
    {0x2153, "1/3"}, {0x2154, "2/3"}, {0x2155, "1/5"}, {0x2156, "2/5"}, {0x2157, "3/5"},
    {0x2158, "4/5"}, {0x2159, "1/6"}, {0x215A, "5/6"}, {0x215B, "1/8"}, {0x215C, "3/8"},
    {0x215D, "5/8"}, {0x215E, "7/8"},
    {0x2160, "I"}, {0x2161, "II"}, {0x2162, "III"}, {0x2163, "IV"}, {0x2164, "V"}, {0x2165, "VI"},
    {0x2166, "VII"}, {0x2167, "VIII"}, {0x2168, "IX"}, {0x2169, "X"}, {0x216A, "XI"},
    {0x216B, "XII"}, {0x216C, "L"}, {0x216D, "C"}, {0x216E, "D"}, {0x216F, "M"},
    {0x2170, "i"}, {0x2171, "ii"}, {0x2172, "iii"}, {0x2173, "iv"}, {0x2174, "v"}, {0x2175, "vi"},
    {0x2176, "vii"}, {0x2177, "viii"}, {0x2178, "ix"}, {0x2179, "x"}, {0x217A, "xi"},
    {0x217B, "xii"}, {0x217C, "l"}, {0x217D, "c"}, {0x217E, "d"}, {0x217F, "m"},
    {0x2190, "<-"}, {0x2192, "->"}, {0x2194, "<->"}, {0x21D0, "<="}, {0x21D2, "=>"},
    {0x21D4, "<=>"}, {0x21E6, "<="}, {0x21E8, "=>"},
    {0x2260, "<>"}, {0x2261, "=="}, {0x2264, "<="}, {0x2265, ">="}, {0x226A, "<<"}, {0x226B, ">>"},
};

// The table above indexed by code point - kFirst (-1: none), built at
// compile time so lookups are one array read.
constexpr std::array<int16_t, kLast - kFirst + 1> makeIndex() {
  std::array<int16_t, kLast - kFirst + 1> index{};
  for (auto& i : index) i = -1;
  for (size_t r = 0; r < std::size(kApproximations); ++r) {
    index[static_cast<size_t>(kApproximations[r].codePoint - kFirst)] = static_cast<int16_t>(r);
  }
  return index;
}
constexpr auto kIndex = makeIndex();

}  // namespace

CharaText CharaText::of(Text text) {
  CharaText t;
  if (text.isNil()) return t;
  t.nil_ = false;
  std::string_view v = text.nulView();
  t.external_ = v.data();
  t.length_ = v.size();
  return t;
}

CharaText CharaText::bytes(std::string_view bytes) {
  CharaText t;
  t.nil_ = false;
  t.length_ = bytes.size() < 4 ? bytes.size() : 4;
  for (size_t i = 0; i < t.length_; ++i) t.inline_[i] = bytes[i];
  return t;
}

CharaText CharaText::charsetByte(char byte) {
  CharaText t = bytes(std::string_view(&byte, 1));
  t.charsetByte_ = true;
  return t;
}

Str prependChara(char chara, Text text) {
  int32_t length = text.isNil() ? 0 : text.nulLength();
  Str s = Str::withCapacity(length + 1);
  s.append(chara);
  if (!text.isNil()) s.append(text.nulView());
  return s;
}

CharaText unicodeToCharsetText(int32_t codePoint, const cCharset& charset, Text replacement,
                               bool noApproximation) {
  // A code point the charset maps to byte 0 counts as unmappable.
  int32_t b = charset.unicodeToChara(codePoint, 0);
  if (b != 0) return CharaText::charsetByte(static_cast<char>(b));
  if (noApproximation || codePoint < kFirst || codePoint > kLast) return CharaText::of(replacement);
  int16_t row = kIndex[static_cast<size_t>(codePoint - kFirst)];
  if (row < 0) return CharaText::of(replacement);
  const Approximation& a = kApproximations[row];
  if (a.substitute == 0) return CharaText::of(a.text);
  int32_t s = charset.unicodeToChara(a.substitute, 0);
  if (s == 0) return CharaText::of(replacement);
  char bytes[2] = {static_cast<char>(s), a.text[0]};
  return CharaText::bytes(std::string_view(bytes, a.text[0] ? 2 : 1));
}

CharaText unicodeToUTF8Text(int32_t codePoint, Text replacement) {
  if (codePoint < 1 || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    return CharaText::of(replacement);
  }
  char buffer[4];
  int32_t n = convertUnicodeCharaToUTF8(codePoint, buffer);
  return CharaText::bytes(std::string_view(buffer, static_cast<size_t>(n)));
}

CharaText unicodeToEncodingText(int32_t codePoint, const cEncoding& target, Text replacement,
                                bool noApproximation) {
  if (target.isOfClass(cEncodingUTF::kClassName)) return unicodeToUTF8Text(codePoint, replacement);
  if (target.isOfClass(cCharset::kClassName)) {
    return unicodeToCharsetText(codePoint, static_cast<const cCharset&>(target), replacement,
                                noApproximation);
  }
  return CharaText::of(replacement);
}

}  // namespace bw
