// Tests of pUnicode's string conversions, including the identity of the
// direct loops with the translate engine's road.
#include "core/unicode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "core/charset_files.h"
#include "core/exception.h"
#include "core/ordering.h"
#include "core/raise_test_support.h"
#include "core/utf8.h"

namespace bw {
namespace {

namespace fs = std::filesystem;

class UnicodeTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    initMegaListModule();
    initTranslateEngine();
    initTranslateModule();
  }
  static void TearDownTestSuite() {
    endCharsetModule();
    endTranslateEngine();
    endMegaListModule();
  }
  static std::unique_ptr<cCharset> charset(const char* name) {
    auto c = std::make_unique<cCharset>();
    c->newCharset();
    EXPECT_TRUE(c->load(name, false));
    return c;
  }
};

std::string bytes(const Str& s) { return s.isNil() ? "<NIL>" : s.str(); }

// A table whose one entry never matches: passing it sends a conversion down
// the translate engine's road instead of the direct loop.
TranslateEntry* neverMatches() {
  static TranslateEntry table[2];
  table[0] = {&sharedDummyTranslateMatcher(), nullptr, nullptr, 0, nullptr, nullptr};
  return table;
}

TEST_F(UnicodeTest, DocumentedConversions) {
  auto latin1 = charset("ISO-8859-1");
  auto ascii = charset("ASCII");
  auto cp1252 = charset("Windows-1252");
  cEncodingUTF utf;
  ASSERT_TRUE(utf.load("UTF-8"));
  EXPECT_EQ(bytes(convertStringEncoding("caf\xC3\xA9", utf, *latin1, 0, '?', false, false, nullptr, 0)), "caf\xE9");
  EXPECT_EQ(bytes(convertStringEncoding("caf\xC3\xA9", utf, *ascii, 0, '?', false, false, nullptr, 0)), "caf?");
  EXPECT_EQ(bytes(convertStringEncoding("\xE9", *latin1, utf, 0, '?', false, false, nullptr, 0)), "\xC3\xA9");
  EXPECT_EQ(bytes(convertCharsetToUTF8("caf\xC3\xA9 \xE9", *latin1, 0, '?', false, true, nullptr, 0)),
            "caf\xC3\xA9 \xC3\xA9");
  EXPECT_TRUE(convertCharsetToUTF8("caf\xC3\xA9", *latin1, 0, '?', true, true, nullptr, 0).isNil());
  // A stray byte that is not UTF-8 stays.
  EXPECT_EQ(bytes(convertUTF8ToCharset("a\xE9" "b\xC3\xA9", *latin1, 0, "?", false, false, nullptr, 0)),
            "a\xE9" "b\xE9");
  // Same names: NIL or a copy, without looking at the text.
  auto latin1b = charset("iso-8859-1");
  EXPECT_TRUE(convertStringCharset("\xFF\xFE", *latin1, *latin1b, 0, nullptr, true, false, nullptr, 0).isNil());
  Str copy = convertStringCharset("", *latin1, *latin1b, 0, nullptr, false, false, nullptr, 0);
  EXPECT_EQ(bytes(copy), "");
  EXPECT_EQ(copy.capacity(), 1);
  EXPECT_TRUE(convertStringEncoding("\xC3\xA9", utf, utf, 0, '?', true, false, nullptr, 0).isNil());
  // Windows-1252 to ISO-8859-1: approximation and replacement.
  EXPECT_EQ(bytes(convertStringCharset("\x93x\x94\x80\x85", *cp1252, *latin1, 0, nullptr, false, false, nullptr, 0)),
            "\"x\"?...");
  // Conversion stops at the first NUL; the rest up to length is copied.
  Str withNul = Str::withCapacity(5, std::string_view("\xE9\0\xE9", 3));
  EXPECT_EQ(bytes(convertCharsetToUTF8(withNul, *latin1, 3, '?', false, false, nullptr, 0)),
            std::string("\xC3\xA9\0\xE9", 4));
  EXPECT_EQ(bytes(convertCharsetToUTF8(withNul, *latin1, 0, '?', false, false, nullptr, 0)), "\xC3\xA9");
  // From start on when something changed, the whole text when nothing did.
  EXPECT_EQ(bytes(convertCharsetToUTF8("\xE9xy\xE9", *latin1, 0, '?', false, false, nullptr, 2)), "y\xC3\xA9");
  EXPECT_EQ(bytes(convertCharsetToUTF8("\xE9xyz", *latin1, 0, '?', false, false, nullptr, 2)), "\xE9xyz");
}

TEST_F(UnicodeTest, ReplacementsAndSkipping) {
  auto latin1 = charset("ISO-8859-1");
  auto ascii = charset("ASCII");
  cEncodingUTF utf;
  ASSERT_TRUE(utf.load("utf-8"));
  const char* text = "\xE2\x80\x9C" "x\xE2\x82\xAC" "\xC3\xA9";  // “x€é
  EXPECT_EQ(bytes(convertUTF8ToCharset(text, *latin1, 0, nullptr, false, false, nullptr, 0)), "\"x?\xE9");
  EXPECT_EQ(bytes(convertUTF8ToCharset(text, *latin1, 0, "<?>", false, false, nullptr, 0)), "\"x<?>\xE9");
  // skipUTF8: what the charset cannot show stays as it was.
  EXPECT_EQ(bytes(convertUTF8ToCharset(text, *latin1, 0, nullptr, false, true, nullptr, 0)),
            "\xE2\x80\x9C" "x\xE2\x82\xAC\xE9");
  // A replacement character 0 drops what cannot be converted, in every
  // direction, and never writes a NUL.
  EXPECT_EQ(bytes(convertStringEncoding(text, utf, *ascii, 0, 0, false, false, nullptr, 0)), "\"x");
  EXPECT_EQ(bytes(convertStringEncoding("a\xE9", *ascii, utf, 0, 0, false, false, nullptr, 0)), "a");
  EXPECT_EQ(bytes(convertStringEncoding("a\xE9", *ascii, *latin1, 0, 0, false, false, nullptr, 0)), "a");
  EXPECT_EQ(bytes(convertStringEncoding("a\xE9", *ascii, utf, 0, '#', false, false, nullptr, 0)), "a#");
  // C0 80 (the encoded NUL) becomes the replacement, never a NUL byte.
  EXPECT_EQ(bytes(convertUTF8ToCharset("a\xC0\x80" "b", *latin1, 0, "?", false, false, nullptr, 0)), "a?b");
  // Charset to charset with skipUTF8 leaves valid UTF-8 alone.
  auto latin9 = charset("ISO-8859-15");
  EXPECT_EQ(bytes(convertStringCharset("\xC3\xA9\xA4", *latin9, *latin1, 0, nullptr, false, true, nullptr, 0)),
            "\xC3\xA9?");
  EXPECT_EQ(bytes(convertStringCharset("\xA4", *latin1, *latin9, 0, nullptr, false, false, nullptr, 0)), "?");
  EXPECT_TRUE(convertStringCharset("abc\xE9", *latin1, *latin9, 0, nullptr, true, false, nullptr, 0).isNil());
}

TEST_F(UnicodeTest, ExtraTablesRunInTheSamePass) {
  auto latin1 = charset("ISO-8859-1");
  cEncodingUTF utf;
  ASSERT_TRUE(utf.load("UTF-8"));
  TranslateEntry amp[] = {{&sharedSimpleTranslateMatcher(), "&amp;", nullptr, 0, "&", nullptr},
                          {&sharedSimpleTranslateMatcher(), "\xE9", nullptr, 0, "E", nullptr},
                          {}};
  // The conversion entry wins the tie at the same position.
  EXPECT_EQ(bytes(convertCharsetToUTF8("a&amp;\xE9", *latin1, 0, '?', false, false, amp, 0)), "a&\xC3\xA9");
  EXPECT_EQ(bytes(convertStringEncoding("x&amp;", utf, utf, 0, '?', false, false, amp, 0)), "x&");
  EXPECT_EQ(bytes(convertStringCharset("x&amp;", *latin1, *latin1, 0, nullptr, false, false, amp, 0)), "x&");
  EXPECT_EQ(bytes(convertUTF8ToCharset("&amp;\xC3\xA9", *latin1, 0, nullptr, false, false, amp, 0)), "&\xE9");
}

TEST_F(UnicodeTest, Failures) {
  auto latin1 = charset("ISO-8859-1");
  cCharset unloaded;
  unloaded.newCharset();
  cEncodingUTF utf16;
  cEncodingUTF utf;
  ASSERT_TRUE(utf.load("UTF-8"));
  cEncoding plain;
  expectRaise([&] { convertStringCharset("a", unloaded, *latin1, 0, nullptr, false, false, nullptr, 0); }, "EPU",
              "pUnicode; convertStringCharset(); fromCharset not loaded");
  expectRaise([&] { convertStringCharset("a", *latin1, unloaded, 0, nullptr, false, false, nullptr, 0); }, "EPU",
              "pUnicode; convertStringCharset(); toCharset not loaded");
  expectRaise([&] { convertUTF8ToCharset("a", unloaded, 0, nullptr, false, false, nullptr, 0); }, "EPU",
              "pUnicode; convertUTF8ToCharset(); toCharset not loaded");
  expectRaise([&] { convertCharsetToUTF8("a", unloaded, 0, '?', false, false, nullptr, 0); }, "EPU",
              "pUnicode; convertCharsetToUTF8(); fromCharset not loaded");
  expectRaise([&] { convertStringEncoding("a", utf16, *latin1, 0, '?', false, false, nullptr, 0); }, "BUG",
              "pUnicode; convertStringEncoding(); fromEncoding is unsupported (1)");
  expectRaise([&] { convertStringEncoding("a", plain, utf16, 0, '?', false, false, nullptr, 0); }, "BUG",
              "pUnicode; convertStringEncoding(); fromEncoding is unsupported (2)");
  expectRaise([&] { convertStringEncoding("a", *latin1, utf16, 0, '?', false, false, nullptr, 0); }, "BUG",
              "pUnicode; convertStringEncoding(); toEncoding is unsupported (1)");
  expectRaise([&] { convertStringEncoding("a", utf, plain, 0, '?', false, false, nullptr, 0); }, "BUG",
              "pUnicode; convertStringEncoding(); toEncoding is unsupported (2)");
  expectRaise([&] { convertCharsetToUTF8("ab", *latin1, 3, '?', false, false, nullptr, 0); }, "EPU",
              "pUnicode; convertCharsetToUTF8(); length outside the text");
}

// The direct loops against the engine's road: random texts between every
// pair of the four built-in charsets and UTF-8, with random flags.
TEST_F(UnicodeTest, DirectLoopsEqualTheEngineRoad) {
  std::vector<std::unique_ptr<cEncoding>> encodings;
  for (const char* name : {"ISO-8859-1", "ISO-8859-15", "Windows-1252", "ASCII", "UTF-8"}) {
    encodings.push_back(encodingFromName(name, false));
  }
  const std::string pieces[] = {"a", "b", " ", "\xC3\xA9", "\xE2\x80\x9C", "\xE2\x82\xAC", "\xE2\x84\xA2",
                                "\xF0\x9F\x98\x80", "\xE9", "\x80", "\x93", "\xC0\x80", "\xED\xA0\x80",
                                "\xE2\x82", "\xFF", "\xA4", "\xC2", std::string(1, '\0'), "\xE2\x85\xA7"};
  std::mt19937 rng(7);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    int n = static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
    const cEncoding& from = *encodings[rng() % encodings.size()];
    const cEncoding& to = *encodings[rng() % encodings.size()];
    bool nilIfUnchanged = rng() % 2;
    bool skip = rng() % 2;
    uint8_t replacement = (rng() % 4 == 0) ? 0 : '?';
    int32_t length = static_cast<int32_t>(text.size());
    int32_t start = length ? static_cast<int32_t>(rng() % static_cast<unsigned>(length + 1)) : 0;
    Str text_ = Str::withCapacity(length, text);
    Str direct = length == 0 ? Str() : convertStringEncoding(text_, from, to, length, replacement, nilIfUnchanged,
                                                             skip, nullptr, start);
    if (length == 0) continue;
    if (from.isSameClass(cEncodingUTF::kClassName) == to.isSameClass(cEncodingUTF::kClassName)) continue;
    Str engine = convertStringEncoding(text_, from, to, length, replacement, nilIfUnchanged, skip, neverMatches(),
                                       start);
    ASSERT_EQ(direct.isNil(), engine.isNil()) << testing::PrintToString(text);
    ASSERT_EQ(direct.str(), engine.str()) << testing::PrintToString(text) << " start " << start;
    ASSERT_EQ(direct.capacity(), engine.capacity()) << testing::PrintToString(text);
    ASSERT_EQ(direct.str().find('\0', static_cast<size_t>(0)) == std::string::npos,
              engine.str().find('\0') == std::string::npos);
  }
}

TEST_F(UnicodeTest, Latin1WithSkipOverTheStressFileIsValidUtf8) {
  std::string path = std::string(BRINDLEWORK_TESTDATA_DIR) + "/unicode/UTF-8-test.txt";
  std::ifstream in(path, std::ios::binary);
  if (!in) GTEST_SKIP() << "test corpus not found: " << path;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::erase(data, '\0');  // conversion stops at a NUL; the file has one
  auto latin1 = charset("ISO-8859-1");
  Str out = convertCharsetToUTF8(data, *latin1, static_cast<int32_t>(data.size()), '?', false, true, nullptr, 0);
  const int32_t length = out.length();
  int32_t replacements = 0;
  for (int32_t p = 0; p < length;) {
    DecodedChara d = convertUTF8charaToUnicode(out.data(), p, length, -1);
    if (d.codePoint == -1) ++replacements;
    p += d.size;
  }
  EXPECT_EQ(replacements, 0);
  EXPECT_GT(length, static_cast<int32_t>(data.size()));
}

TEST_F(UnicodeTest, EveryMappedByteOfThePublishedTablesRoundTrips) {
  const std::string dir = std::string(BRINDLEWORK_TESTDATA_DIR) + "/charsets/";
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) GTEST_SKIP() << "test corpus not found: " << dir;
  char pattern[] = "/tmp/bw_roundtrip_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string progdir = pattern;
  fs::create_directories(progdir + "/Charsets");
  setCharsetFileReader(makeNativeCharsetFileReader(progdir));
  cEncodingUTF utf;
  ASSERT_TRUE(utf.load("UTF-8"));
  int tables = 0;
  for (const auto& entry : it) {
    std::string file = entry.path().filename().string();
    if (file.rfind("8859-", 0) != 0 && file.rfind("cp125", 0) != 0) continue;
    fs::copy_file(entry.path(), progdir + "/Charsets/" + file);
    auto c = charset(file.c_str());
    for (int b = 1; b < 256; ++b) {
      if (c->charaToUnicode(static_cast<uint8_t>(b), -1) < 0) continue;
      const char one[2] = {static_cast<char>(b), 0};
      Str utf8 = convertStringEncoding(one, *c, utf, 1, '?', false, false, nullptr, 0);
      Str back = convertStringEncoding(utf8, utf, *c, 0, '?', false, false, nullptr, 0);
      EXPECT_EQ(back.str(), std::string(one)) << file << " byte " << b;
    }
    ++tables;
  }
  setCharsetFileReader(nullptr);
  fs::remove_all(progdir);
  EXPECT_EQ(tables, 24);
}

}  // namespace
}  // namespace bw
