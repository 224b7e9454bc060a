// web/xml_entities_test.cpp - the entity map and the XML decoding rules,
// into ISO-8859-1 and into UTF-8.
#include "web/xml_entities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/string_procs.h"
#include "core/unicode_to_text.h"
#include "web/web_corpus_test_support.h"
#include "web/web_test_support.h"

namespace bw {
namespace {

class XmlEntitiesTest : public WebTest {
 protected:
  std::string decode(std::string_view text, const cEncoding& target) {
    XmlDecoder decoder(makeXmlEntityMap());
    return str(decoder.decode(text, utf8_, target, false));
  }
};

TEST_F(XmlEntitiesTest, MapHas254EntitiesInCodePointOrder) {
  auto map = makeXmlEntityMap();
  ASSERT_EQ(map->size(), 254u);
  const auto& keys = map->keys();
  EXPECT_EQ(keys[0], "&quot;");
  EXPECT_EQ(keys[1], "&amp;");
  EXPECT_EQ(keys[2], "&apos;");
  EXPECT_EQ(keys[3], "&lt;");
  EXPECT_EQ(keys[4], "&gt;");
  EXPECT_EQ(keys[5], "&nbsp;");
  EXPECT_EQ(keys.back(), "&diams;");
  int32_t previous = -1;
  for (const std::string& k : keys) {
    int32_t code = map->lookup(k);
    EXPECT_GT(code, previous) << k;
    previous = code;
  }
  auto vellip = std::find(keys.begin(), keys.end(), "&vellip;");
  ASSERT_NE(vellip, keys.end());
  EXPECT_EQ(*(vellip - 1), "&sdot;");
  EXPECT_EQ(*(vellip + 1), "&lceil;");
  EXPECT_EQ(map->lookup("&vellip;"), 8942);
  EXPECT_EQ(map->lookup("&Eta;"), 919);
  EXPECT_EQ(map->lookup("&eta;"), 951);
  EXPECT_EQ(map->lookup("&ETA;"), -1);

  EntityMap replaced;
  registerXmlEntity(replaced, 1, "&x;");
  registerHtmlEntity(replaced, 2, "&x;");
  EXPECT_EQ(replaced.size(), 1u);
  EXPECT_EQ(replaced.lookup("&x;"), 2);

  // Against a model: keys of every length from empty on, many sharing their
  // ends, registered past several growths, some twice; misses on near keys.
  EntityMap map2;
  std::map<std::string, int32_t> model;
  std::vector<std::string> order;
  EXPECT_EQ(map2.lookup("&amp;"), -1);
  for (int32_t i = 0; i < 3000; ++i) {
    std::string key = "&" + std::string(static_cast<size_t>(i % 23), 'a' + static_cast<char>(i % 7)) +
                      std::to_string(i % 1700) + ";";
    if (i % 5 == 0) key = key.substr(0, static_cast<size_t>(i % 4));
    registerHtmlEntity(map2, i, key);
    if (!model.contains(key)) order.push_back(key);
    model[key] = i;
  }
  ASSERT_EQ(map2.size(), model.size());
  EXPECT_EQ(map2.keys(), order);
  for (const auto& [key, code] : model) {
    EXPECT_EQ(map2.lookup(key), code) << key;
    EXPECT_EQ(map2.lookup(key + "x"), model.contains(key + "x") ? model[key + "x"] : -1) << key;
    if (key.size() >= 2 && key.front() == '&' && key.back() == ';') {
      EXPECT_EQ(map2.lookupName(std::string_view(key).substr(1, key.size() - 2)), code) << key;
    }
    EXPECT_EQ(map2.lookupName(key), model.contains("&" + key + ";") ? model["&" + key + ";"] : -1) << key;
  }
}

TEST_F(XmlEntitiesTest, CodePointsAgreeWithTheWhatwgTable) {
  std::string path = std::string(BRINDLEWORK_TESTDATA_DIR) + "/html/entities.json";
  std::optional<std::string> corpus = readCorpusFile(path);
  if (!corpus) GTEST_SKIP() << "test corpus not found: " << path;
  const std::string json = *corpus;
  auto map = makeXmlEntityMap();
  for (const std::string& key : map->keys()) {
    size_t at = json.find("\"" + key + "\"");
    ASSERT_NE(at, std::string::npos) << key;
    size_t list = json.find("\"codepoints\"", at);
    size_t bracket = json.find('[', list);
    int32_t expected = std::stoi(json.substr(bracket + 1));
    if (key == "&lang;") expected = 9001;  // HTML 4.01 value; WHATWG has 10216
    if (key == "&rang;") expected = 9002;  // HTML 4.01 value; WHATWG has 10217
    EXPECT_EQ(map->lookup(key), expected) << key;
  }
}

struct DecodeCase {
  const char* in;
  const char* latin1;
  const char* utf8;
};

TEST_F(XmlEntitiesTest, DecodingIntoLatin1AndUtf8) {
  const DecodeCase cases[] = {
      {"&lt;b&gt;", "<b>", "<b>"},
      {"&amp;lt;b&amp;gt;", "<b>", "<b>"},
      // The escape rule wins the tie with "&amp;amp;" at the same "&", so
      // any number of "amp;" reduce to the escape after them.
      {"&amp;amp;lt;", "<", "<"},
      {"&amp;amp;amp;", "&", "&"},
      {"&amp;amp;", "&", "&"},
      {"x&amp;amp;amp;lt;", "x<", "x<"},
      {"&amp;quot;", "\"", "\""},
      {"&#65;&#x41;", "AA", "AA"},
      {"&#X41;", "&#X41;", "&#X41;"},
      {"&#65 ;", "&#65 ;", "&#65 ;"},
      {"&eacute;&Eacute;", "\xE9\xC9", "\xC3\xA9\xC3\x89"},
      {"&EACUTE;", "&EACUTE;", "&EACUTE;"},
      {"&apos;", "'", "'"},
      {"&vellip;", "?", "\xE2\x8B\xAE"},
      {"&unknown;", "&unknown;", "&unknown;"},
      {"&amp;unknown;", "&unknown;", "&unknown;"},
      {"& is not followed by a semicolon", "& is not followed by a semicolon",
       "& is not followed by a semicolon"},
      {"&amp; is not followed by a semicolon", "& is not followed by a semicolon",
       "& is not followed by a semicolon"},
      // An "&" that cannot be decoded does not stop the escapes after it.
      {"a & b &lt;", "a & b <", "a & b <"},
      {"Q&A &eacute;t&eacute;", "Q&A \xE9t\xE9", "Q&A \xC3\xA9t\xC3\xA9"},
      {"?q=a&page=2&amp;lang=en", "?q=a&page=2&lang=en", "?q=a&page=2&lang=en"},
      {"AT&T &#65;", "AT&T A", "AT&T A"},
      {"a &lt;", "a <", "a <"},
      {"x\r\ny\r\n", "x\ny\n", "x\ny\n"},
      {"line1\rline2\r\r\n", "line1\nline2\n\n", "line1\nline2\n\n"},
      // References to 80..9F are read as Windows-1252 bytes, except the five
      // it leaves undefined.
      {"&#146;&#x96;&#128;", "'-?", "\xE2\x80\x99\xE2\x80\x93\xE2\x82\xAC"},
      {"&#129;&#x9D;&#159;", "\x81\x9D?", "\xC2\x81\xC2\x9D\xC5\xB8"},
      {"<![CDATA[&amp;]]>", "&", "&"},
      {"&amp;nbsp;", "\xA0", "\xC2\xA0"},
      {"&nbsp;", "\xA0", "\xC2\xA0"},
      {"&#x1F600;", "?", "\xF0\x9F\x98\x80"},
      // Numbers that are no character give U+FFFD, past Unicode however
      // many digits (2^32 + 60 once wrapped to "<").
      {"&#xD800;", "?", "\xEF\xBF\xBD"},
      {"&#x110000;&#0;", "??", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"&#4294967356;", "?", "\xEF\xBF\xBD"},
      {"&#-5;&#$41;", "&#-5;&#$41;", "&#-5;&#$41;"},
      {"&#-1;", "&#-1;", "&#-1;"},
      {"caf\xC3\xA9", "caf\xE9", "caf\xC3\xA9"},
  };
  for (const DecodeCase& c : cases) {
    EXPECT_EQ(decode(c.in, latin1_), c.latin1) << c.in;
    EXPECT_EQ(decode(c.in, utf8_), c.utf8) << c.in;
  }
}

// The direct UTF-8 decoder gives what the translate engine gives with the
// same rules, on texts made of the fragments the rules look at.
TEST_F(XmlEntitiesTest, DirectDecoderMatchesTheEngine) {
  const char* fragments[] = {"&", "amp;", "lt;", "gt;", "quot;", "apos;", "nbsp;", "#", "x", "1", "4", "6", "0", ";",
                             "eacute", "\r", "\n", "<![CDATA[", "]]>", "]", "<", "!", "a", " ", "\xC3\xA9", "\x80", "#x9",
                             "plain words, more than one thirty-two byte block of them"};
  std::mt19937 random(20);
  auto entities = makeXmlEntityMap();
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int n = static_cast<int>(random() % 12); n > 0; --n) text += fragments[random() % std::size(fragments)];
    if (round % 50 == 0) text.insert(random() % (text.size() + 1), 1, '\0');
    const bool cdata = round & 1, nilIfUnchanged = round & 2;
    Str direct = decodeEntityUtf8(text, nilIfUnchanged, *entities, cdata);
    Str engine = decodeEntityTextByEngine(text, utf8_, utf8_, nilIfUnchanged, *xmlEscCodeMatcher(), *entities, cdata);
    ASSERT_EQ(str(direct), str(engine)) << text;
    ASSERT_EQ(direct.capacity(), engine.capacity()) << text;
  }
}

// scanEscapeAt looks names up where they stand and reads numbers in place;
// the model makes the key "&name;" for lookup() and reads the number as
// decimal or "x" hexadecimal digits, held past Unicode.
TEST_F(XmlEntitiesTest, EscapeScanMatchesTheKeyAndNumberModel) {
  auto entities = makeXmlEntityMap();
  auto model = [&](std::string_view in) -> EscapeScan {
    size_t start = 1;
    while (in.substr(start, 4) == "amp;") start += 4;
    const EscapeScan ampersand{static_cast<int32_t>(start), '&'};
    std::string_view window = in.substr(start, 20);
    size_t semi = window.substr(0, window.find('\0')).find(';');
    if (semi == std::string_view::npos) return ampersand;
    std::string name(window.substr(0, semi));
    int32_t code = entities->lookup("&" + name + ";");
    if (name.starts_with('#')) {
      const bool hex = name.size() > 1 && name[1] == 'x';
      const std::string digits = name.substr(hex ? 2 : 1);
      if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
        return ampersand;
      const size_t lead = std::min(digits.find_first_not_of('0'), digits.size());
      const uint64_t v = digits.size() - lead > 8 ? 0x110000 : std::stoull(digits, nullptr, hex ? 16 : 10);
      const bool control = v < 0x20 && v != '\t' && v != '\n' && v != '\r';
      code = control || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF) ? 0xFFFD
             : v >= 0x80 && v < 0xA0 && windows1252ToUnicode(static_cast<uint8_t>(v)) != -1
                 ? windows1252ToUnicode(static_cast<uint8_t>(v))
                 : static_cast<int32_t>(v);
    }
    if (code == -1) return ampersand;
    return {static_cast<int32_t>(start + semi + 1), code};
  };
  using namespace std::string_literals;
  const std::string fragments[] = {"amp;"s, "#"s, "x"s,      "X"s,   "$"s,    "-"s,  " "s,          "0"s,
                                   "9"s,    "1"s, "4"s,      "6"s,   "a"s,    "F"s,  "g"s,          ";"s,
                                   "lt"s,   "eacute"s, "Eta"s, "\0"s, "ffffffff"s, "4294967295"s, "&"s};
  std::mt19937 random(7);
  for (int round = 0; round < 50000; ++round) {
    std::string text = "&";
    for (int n = static_cast<int>(random() % 9); n > 0; --n) text += fragments[random() % std::size(fragments)];
    EscapeScan want = model(text), got = scanEscapeAt(text, 0, *entities);
    ASSERT_EQ(got.matchLength, want.matchLength) << text;
    ASSERT_EQ(got.codePoint, want.codePoint) << text;
  }
}

TEST_F(XmlEntitiesTest, MissingCharactersBecomeApproximations) {
  CharaText dash = unicodeToCharsetText(8212, latin1_, "?", false);
  ASSERT_NE(dash.view(), "?");
  EXPECT_EQ(decode("&mdash;", latin1_), dash.view());
  EXPECT_EQ(decode("&mdash;", utf8_), "\xE2\x80\x94");
}

TEST_F(XmlEntitiesTest, ModuleGlobalsLiveBetweenInitAndEnd) {
  ASSERT_NE(xmlEscCodeMatcher(), nullptr);
  const char* const* table = xmlEscapeTable();
  ASSERT_NE(table, nullptr);
  EXPECT_STREQ(table[0], "<");
  EXPECT_STREQ(table[1], "&lt;");
  EXPECT_STREQ(table[8], "'");
  EXPECT_STREQ(table[9], "&apos;");
  EXPECT_EQ(table[10], nullptr);
  EXPECT_STREQ(xmlEscCodeMatcher()->className(), "fXmlEscCodeTranslateMatcher");
  EXPECT_TRUE(xmlEscCodeMatcher()->isOfClass(fTranslateMatcher::kClassName));
  endXMLModule();
  EXPECT_EQ(xmlEscCodeMatcher(), nullptr);
  EXPECT_EQ(xmlEscapeTable(), nullptr);
  initXMLModule();  // TearDown ends it again
}

}  // namespace
}  // namespace bw

namespace bw {
namespace {

TEST(HtmlReferences, ReadAsBrowsersReadThem) {
  EXPECT_EQ(htmlEntityCount(), 2231u);
  struct Case {
    const char* in;
    bool inAttribute;
    int32_t length, first, second;
  } cases[] = {
      {"&amp;", false, 5, '&', 0},
      {"&amp", false, 4, '&', 0},
      {"&ampx", false, 4, '&', 0},
      {"&ampx", true, 0, 0, 0},        // a legacy name before a letter in a value stays
      {"&amp=", true, 0, 0, 0},
      {"&amp;x", true, 5, '&', 0},
      {"&notin;", false, 7, 0x2209, 0},
      {"&notit;", false, 4, 0xAC, 0},  // the longest legacy name that fits
      {"&NotEqualTilde;", false, 15, 0x2242, 0x338},
      {"&CounterClockwiseContourIntegral;", false, 33, 0x2233, 0},
      {"&bogus;", false, 0, 0, 0},
      {"&", false, 0, 0, 0},
      {"& x", false, 0, 0, 0},
      {"&#65", false, 4, 'A', 0},
      {"&#x41;", false, 6, 'A', 0},
      {"&#X41;", false, 6, 'A', 0},
      {"&#x;", false, 0, 0, 0},
      {"&#150;", false, 6, 0x2013, 0},
      {"&#0;", false, 4, 0xFFFD, 0},
      {"&#xDFFF;", false, 8, 0xFFFD, 0},
      {"&#4294967356;", false, 13, 0xFFFD, 0},
      {"&#99999999999999999999999;", false, 26, 0xFFFD, 0},
  };
  for (const Case& c : cases) {
    const HtmlReference r = scanHtmlReference(c.in, 0, c.inAttribute);
    EXPECT_EQ(r.length, c.length) << c.in;
    if (r.length == 0) continue;
    EXPECT_EQ(r.first, c.first) << c.in;
    EXPECT_EQ(r.second, c.second) << c.in;
  }
}

TEST(XmlMarkupText, DecodesOneLevelAndKeepsCdataAsItStandsButItsLineEnds) {
  const auto entities = makeXmlEntityMap();
  struct Case {
    const char* kept;
    const char* markup;
  } cases[] = {
      {"&lt;p&gt;a &amp;lt; b&lt;/p&gt;", "<p>a &lt; b</p>"},
      {"<![CDATA[<p>a &lt; b</p>]]>", "<p>a &lt; b</p>"},
      {"x<![CDATA[&amp;]]>&amp;<![CDATA[never ends", "x&amp;&never ends"},
      {"&eacute;&#233;&#xE9; &unknown; & &#-1;", "\xC3\xA9\xC3\xA9\xC3\xA9 &unknown; & &#-1;"},
      {"a\r\nb\rc", "a\nb\nc"},
      // Line ends are LF in CDATA sections too; a reference to CR is a CR.
      {"<![CDATA[a\r\nb\rc\r\r\n]]>&#13;\r\n&#xD;", "a\nb\nc\n\n\r\n\r"},
      {"&#4294967356;", "\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) EXPECT_EQ(xmlMarkupText(c.kept, *entities), c.markup) << c.kept;
}

}  // namespace
}  // namespace bw
