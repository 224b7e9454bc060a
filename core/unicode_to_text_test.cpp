// Tests of code points rendered as charset text with ASCII approximations.
#include "core/unicode_to_text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "core/charset.h"

namespace bw {
namespace {

std::unique_ptr<cCharset> charset(const char* name) {
  auto c = std::make_unique<cCharset>();
  c->newCharset();
  EXPECT_TRUE(c->load(name, false));
  return c;
}

std::string render(int32_t cp, const cCharset& c, Text replacement = "?", bool noApprox = false) {
  CharaText t = unicodeToCharsetText(cp, c, replacement, noApprox);
  return t.isNil() ? std::string("<NIL>") : std::string(t.view());
}

// Every approximation row, written out range by range.
std::map<int32_t, std::string> approximations() {
  std::map<int32_t, std::string> m;
  auto set = [&](std::initializer_list<int32_t> cps, const char* text) {
    for (int32_t cp : cps) m[cp] = text;
  };
  set({0x2000, 0x2002, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x202F}, " ");
  set({0x2001, 0x2003}, "  ");
  set({0x200B, 0x200C, 0x200D}, "");
  set({0x2010, 0x2011, 0x2012, 0x2013, 0x2043}, "-");
  set({0x2014}, "--");
  set({0x2015}, "----");
  set({0x2016}, "||");
  set({0x2017}, "=");
  set({0x2018, 0x201A}, "`");
  set({0x2019, 0x201B, 0x2032, 0x2035}, "'");
  set({0x201C, 0x201D, 0x201E, 0x201F}, "\"");
  set({0x2020}, "+");
  set({0x2021}, "++");
  set({0x2024}, ".");
  set({0x2025}, "..");
  set({0x2026}, "...");
  set({0x2028, 0x2029}, "\n");
  set({0x2033, 0x2036}, "''");
  set({0x2034, 0x2037}, "'''");
  set({0x2038, 0x2041}, "^");
  set({0x2039}, "<");
  set({0x203A}, ">");
  set({0x203C}, "!!");
  set({0x203F}, "_");
  set({0x2042}, "***");
  set({0x2044}, "/");
  set({0x2045}, "[");
  set({0x2046}, "]");
  set({0x2047}, "??");
  set({0x2048}, "?!");
  set({0x2049}, "!?");
  set({0x204E, 0x2055}, "*");
  set({0x204F}, ";");
  set({0x2050}, "( )");
  set({0x2051}, "**");
  set({0x2052}, "%");
  set({0x2053}, "~");
  set({0x2057}, "''''");
  set({0x20D7, 0x2192}, "->");
  set({0x20D6, 0x2190}, "<-");
  set({0x2100}, "a/c");
  set({0x2105}, "c/o");
  set({0x2106}, "c/u");
  set({0x210E}, "h");
  set({0x2117}, "(P)");
  set({0x2120}, "SM");
  set({0x2121}, "TEL");
  set({0x2122}, "TM");
  set({0x2126}, "Ohm");
  set({0x213B}, "FAX");
  const char* fractions[] = {"1/3", "2/3", "1/5", "2/5", "3/5", "4/5", "1/6", "5/6", "1/8", "3/8", "5/8", "7/8"};
  for (int i = 0; i < 12; ++i) m[0x2153 + i] = fractions[i];
  const char* roman[] = {"I", "II", "III", "IV", "V", "VI", "VII", "VIII", "IX", "X", "XI", "XII", "L", "C", "D", "M"};
  const char* small[] = {"i", "ii", "iii", "iv", "v", "vi", "vii", "viii", "ix", "x", "xi", "xii", "l", "c", "d", "m"};
  for (int i = 0; i < 16; ++i) {
    m[0x2160 + i] = roman[i];
    m[0x2170 + i] = small[i];
  }
  set({0x2194}, "<->");
  set({0x21D0, 0x21E6, 0x2264}, "<=");
  set({0x21D2, 0x21E8}, "=>");
  set({0x21D4}, "<=>");
  set({0x2260}, "<>");
  set({0x2261}, "==");
  set({0x2265}, ">=");
  set({0x226A}, "<<");
  set({0x226B}, ">>");
  return m;
}

// Substitutes: the charset's byte for another character, and a suffix.
struct Substitute {
  int32_t cp;
  int32_t substitute;
  const char* suffix;
};
constexpr Substitute kSubstitutes[] = {
    {0x2022, 0xB7, ""}, {0x2023, 0xB7, ""}, {0x2027, 0xB7, ""}, {0x203B, 0xD7, ""},
    {0x203E, 0xAF, ""}, {0x2040, 0xAF, ""}, {0x204B, 0xB6, ""}, {0x20A4, 0xA3, ""},
    {0x20B5, 0xA2, ""}, {0x2103, 0xB0, "C"}, {0x2109, 0xB0, "F"}};

TEST(UnicodeToTextTest, EveryRowOfTheRangeInLatin1AndAscii) {
  auto latin1 = charset("ISO-8859-1");
  auto ascii = charset("ASCII");
  std::map<int32_t, std::string> rows = approximations();
  std::map<int32_t, const Substitute*> subs;
  for (const Substitute& s : kSubstitutes) subs[s.cp] = &s;
  for (int32_t cp = 0x1FFF; cp <= 0x226C; ++cp) {
    std::string inLatin1 = render(cp, *latin1, "#");
    std::string inAscii = render(cp, *ascii, "#");
    if (rows.count(cp)) {
      EXPECT_EQ(inLatin1, rows[cp]) << std::hex << cp;
      EXPECT_EQ(inAscii, rows[cp]) << std::hex << cp;
    } else if (subs.count(cp)) {
      EXPECT_EQ(inLatin1, std::string(1, static_cast<char>(subs[cp]->substitute)) + subs[cp]->suffix)
          << std::hex << cp;
      EXPECT_EQ(inAscii, "#") << std::hex << cp;
    } else {
      EXPECT_EQ(inLatin1, "#") << std::hex << cp;
      EXPECT_EQ(inAscii, "#") << std::hex << cp;
    }
  }
}

TEST(UnicodeToTextTest, EdgeCases) {
  auto latin1 = charset("ISO-8859-1");
  auto latin9 = charset("ISO-8859-15");
  auto cp1252 = charset("Windows-1252");
  auto ascii = charset("ASCII");
  EXPECT_EQ(render(0x2026, *latin1), "...");
  EXPECT_EQ(render(0x2026, *cp1252), "\x85");  // its own byte first
  EXPECT_EQ(render(0x2103, *latin1), "\xB0" "C");
  EXPECT_EQ(render(0x2103, *ascii), "?");
  EXPECT_EQ(render(0x2022, *latin1), "\xB7");
  EXPECT_EQ(render(0x2022, *ascii), "?");
  EXPECT_EQ(render(0x200B, *latin1), "");
  EXPECT_EQ(render(0x20AC, *latin1), "?");
  EXPECT_EQ(render(0x20AC, *latin9), "\xA4");
  EXPECT_EQ(render(0xE9, *ascii), "?");
  EXPECT_EQ(render(0xE9, *latin1), "\xE9");
  EXPECT_EQ(render(0x2026, *latin1, nullptr, true), "<NIL>");
  EXPECT_EQ(render(0x2026, *latin1, "?", true), "?");
  EXPECT_EQ(render(0, *latin1), "?");  // byte 0 counts as unmappable
  EXPECT_EQ(render(-1, *latin1), "?");
  EXPECT_EQ(render(0x7FFFFFFF, *latin1), "?");
  EXPECT_EQ(render(0x41, *latin1, nullptr), "A");
  // The text survives copying (it is held in the object).
  CharaText t = unicodeToCharsetText(0x2103, *latin1, "?", false);
  CharaText copy = t;
  t = CharaText::nil();
  EXPECT_EQ(copy.view(), "\xB0" "C");
  EXPECT_EQ(copy.toStr().capacity(), 2);
  EXPECT_TRUE(CharaText::nil().toStr().isNil());
}

TEST(UnicodeToTextTest, Utf8TargetNeverRaises) {
  auto text = [](int32_t cp) {
    CharaText t = unicodeToUTF8Text(cp, "?");
    return std::string(t.view());
  };
  EXPECT_EQ(text(0x41), "A");
  EXPECT_EQ(text(0xE9), "\xC3\xA9");
  EXPECT_EQ(text(0x10FFFF), "\xF4\x8F\xBF\xBF");
  for (int32_t bad : {0, -1, 0xD800, 0xDFFF, 0x110000, 0x7FFFFFFF, INT32_MIN}) EXPECT_EQ(text(bad), "?") << bad;
  EXPECT_TRUE(unicodeToUTF8Text(0, nullptr).isNil());
  cEncodingUTF utf;
  ASSERT_TRUE(utf.load("UTF-8"));
  auto latin1 = charset("ISO-8859-1");
  EXPECT_EQ(unicodeToEncodingText(0x2026, utf, "?", false).view(), "\xE2\x80\xA6");
  EXPECT_EQ(unicodeToEncodingText(0x2026, *latin1, "?", false).view(), "...");
  cEncoding plain;
  EXPECT_EQ(unicodeToEncodingText(0x41, plain, "?", false).view(), "?");
}

TEST(UnicodeToTextTest, PrependChara) {
  Str s = prependChara('x', "yz");
  EXPECT_EQ(s, "xyz");
  EXPECT_EQ(s.capacity(), 3);
  Str one = prependChara('x', nullptr);
  EXPECT_EQ(one, "x");
  EXPECT_EQ(one.capacity(), 1);
}

}  // namespace
}  // namespace bw
