// web/json_reader_test.cpp - cJSON: tokens, the parser's acceptance rules and
// messages, the tree it builds, and escape decoding into both targets.
#include "web/json_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "web/json_printer.h"
#include "web/json_test_support.h"
#include "web/web_walk.h"

namespace bw {
namespace {

using JsonReaderTest = JsonTest;

// Kind and text of every token of text, up to the end.
std::string tokens(cJSON& reader, const std::string& text) {
  reader.open(text.c_str(), static_cast<int32_t>(text.size() + 1));
  std::string out;
  int32_t p = 0;
  for (;;) {
    JsonToken t = reader.nextToken(p);
    if (t.kind == kJsonEnd) break;
    out += std::to_string(t.kind) + ":" + t.token.str() + " ";
    p = t.position;
  }
  reader.close();
  return out;
}

TEST_F(JsonReaderTest, TokensAndTheirKinds) {
  cJSON reader(latin1_, nullptr);
  EXPECT_EQ(tokens(reader, " { } [ ] : , \"a b\" 12 -3.5 true false null"),
            "1:{ 1:} 2:[ 2:] 4:: 4:, 8:a b 16:12 32:-3.5 64:true 64:false 64:null ");
  // Numbers: a lone minus, "1." "1e" and leading zeros are numbers; one "."
  // and one exponent (with its sign) at most.
  EXPECT_EQ(tokens(reader, "- 1e 007 1. 1e+5 2E-3 -.5"), "16:- 32:1e 16:007 32:1. 32:1e+5 32:2E-3 32:-.5 ");
}

// A number token is what the rule gives reading one character at a time
// (digits; one "." and one exponent with one sign behind it, each stepped
// over once), on random runs long enough for the scan's eight-byte steps and
// cut at random lengths, which the scan must not read past.
TEST_F(JsonReaderTest, NumberTokensFollowTheRuleByteByByte) {
  cJSON reader(latin1_, nullptr);
  // Besides the number's own bytes, the bytes either side of the digits and
  // one with its high bit set.
  const std::string_view charas = "0123456789012345678901234567890123456789.eE+-x ,/:\xB0";
  std::mt19937 random(16);
  for (int round = 0; round < 20000; ++round) {
    std::string text(1, "-0123456789"[random() % 11]);
    for (int n = static_cast<int>(random() % 80); n > 0; --n) text += charas[random() % charas.size()];
    const size_t length = 1 + random() % text.size();
    const std::string_view seen(text.data(), length);
    auto chara = [&](size_t i) { return i < seen.size() ? seen[i] : '\0'; };
    size_t end = 1;
    bool real = false;
    for (bool dot = false, exponent = false;;) {
      const char c = chara(end);
      if (c == '.' && !dot) {
        dot = real = true;
      } else if ((c == 'e' || c == 'E') && !exponent) {
        exponent = real = true;
        if (chara(end + 1) == '+' || chara(end + 1) == '-') ++end;
      } else if (c < '0' || c > '9') {
        break;
      }
      ++end;
    }
    reader.open(text.c_str(), static_cast<int32_t>(length));
    JsonToken t = reader.nextToken(0);
    reader.close();
    ASSERT_EQ(t.token.view(), seen.substr(0, end)) << text << " cut at " << length;
    ASSERT_EQ(t.kind, real ? kJsonReal : kJsonInteger) << text;
  }
}

// A string token ends at its first quote after an even run of backslashes,
// on random runs long enough for the scan's eight-byte steps and cut at
// random lengths, which the scan must not read past.
TEST_F(JsonReaderTest, StringTokensEndAtTheFirstUnescapedQuote) {
  cJSON reader(latin1_, nullptr);
  const std::string_view charas = "\\\\\"abcdefghij";
  std::mt19937 random(17);
  for (int round = 0; round < 20000; ++round) {
    std::string text = "\"";
    for (int n = static_cast<int>(random() % 80); n > 0; --n) text += charas[random() % charas.size()];
    const size_t length = 1 + random() % text.size();
    const std::string_view seen(text.data(), length);
    size_t end = 1;
    for (size_t backslashes = 0; end < seen.size() && (seen[end] != '"' || backslashes % 2 == 1); ++end) {
      backslashes = seen[end] == '\\' ? backslashes + 1 : 0;
    }
    reader.open(text.c_str(), static_cast<int32_t>(length));
    if (end == seen.size()) {
      expectRaise([&] { reader.nextToken(0); }, "JSON", "cJSON; nextToken(); malformed JSON (unclosed string)");
    } else {
      JsonToken t = reader.nextToken(0);
      ASSERT_EQ(t.token.view(), seen.substr(1, end - 1)) << text << " cut at " << length;
      ASSERT_EQ(t.position, static_cast<int32_t>(end + 1)) << text;
    }
    reader.close();
  }
}

// The parser stops at a NUL as it stops at the end of the length given: a
// text with NULs anywhere (in strings, after a backslash, in numbers and
// words, between tokens) reads as the text cut at its first NUL.
TEST_F(JsonReaderTest, ANulEndsTheParseAsTheLengthDoes) {
  cJSON reader(latin1_, nullptr);
  auto outcome = [&](const std::string& text, size_t length) {
    JsonParseResult r = reader.parseDocument(text.data(), static_cast<int32_t>(length));
    std::string out = r.message.isNil() ? "ok\n" : r.message.str() + "\n";
    if (r.root) {
      walkNodes<int>(
          r.root->head(), true,
          [&](webDataNode* n) {
            out += n->getName().str() + "/" + std::to_string(n->getTextValue()) + "/" + n->infoText().str() + "\n";
            return 0;
          },
          [](webDataNode*, int) {});
    }
    return out;
  };
  constexpr char kCharas[] = "{}[]:,\"\\ \n1.e-tru\0xa";
  const std::string_view charas(kCharas, sizeof kCharas - 1);
  std::mt19937 random(23);
  for (int round = 0; round < 20000; ++round) {
    std::string text = round % 2 ? "[\"" : "{\"a\":";
    for (int n = static_cast<int>(random() % 40); n > 0; --n) text += charas[random() % charas.size()];
    const size_t nul = text.find('\0');
    if (nul == std::string::npos) continue;
    ASSERT_EQ(outcome(text, text.size()), outcome(text.substr(0, nul), nul)) << round;
  }
}

TEST_F(JsonReaderTest, TokenEndsAndErrors) {
  cJSON reader(latin1_, nullptr);
  std::string text = "\"a\\\\\" \"b\\\\\\\"c\" 1.2.3";
  reader.open(text.c_str(), 0);
  // Two backslashes before a quote: the quote ends the string; three: it
  // does not.
  JsonToken t = reader.nextToken(0);
  EXPECT_EQ(t.token, "a\\\\");
  t = reader.nextToken(t.position);
  EXPECT_EQ(t.token, "b\\\\\\\"c");
  t = reader.nextToken(t.position);
  EXPECT_EQ(t.token, "1.2");
  expectRaise([&] { reader.nextToken(t.position); }, "JSON",
              "cJSON; nextToken(); malformed JSON (unexpected characters)");
  expectRaise([&] { reader.nextToken(-1); }, "EMU", "cJSON.nextToken(); position out of range");
  reader.close();

  for (const char* bad : {"truex", "true5", "nul", "False", "x"}) {
    std::string s = bad;
    reader.open(s.c_str(), 0);
    expectRaise([&] { reader.nextToken(0); }, "JSON",
                "cJSON; nextToken(); malformed JSON (unexpected characters)");
    reader.close();
  }
  std::string unclosed = "\"abc\\\"";
  reader.open(unclosed.c_str(), 0);
  expectRaise([&] { reader.nextToken(0); }, "JSON", "cJSON; nextToken(); malformed JSON (unclosed string)");
  reader.close();
  expectRaise([&] { reader.nextToken(0); }, "EMU", "cJSON.nextToken(); not open");
}

TEST_F(JsonReaderTest, LineFeedsBetweenTokensCount) {
  cJSON reader(latin1_, nullptr);
  std::string text = "{\n\"a\\n\nb\":\r\n\n1 2";
  JsonParseResult r = reader.parseDocument(text.c_str(), 0);
  EXPECT_FALSE(r.root);
  // Three line feeds between tokens; the one inside the string does not count.
  EXPECT_EQ(reader.infoLineNumber(), 4);
  EXPECT_EQ(r.message,
            "cJSON.parseDocument(); malformed JSON (expected \",\" or closing brace after element)");
}

TEST_F(JsonReaderTest, TreeOfKindsNamesAndTexts) {
  auto root = parseJson(R"({"a": [1, 2.5, "x", true, null], "b": {}})");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->infoEncodingName(), "UTF-8");
  EXPECT_TRUE(root->infoDeclaredEncodingName().isNil());
  webDataNode* object = root->head();
  ASSERT_TRUE(object);
  EXPECT_EQ(object->getTextValue(), kJsonObject);
  EXPECT_EQ(object->getName(), "");
  EXPECT_EQ(object->infoText(), "");
  EXPECT_FALSE(object->getNext());
  webDataNode* a = object->getFirstChild();
  ASSERT_TRUE(a);
  EXPECT_EQ(a->getName(), "a");
  EXPECT_EQ(a->getTextValue(), kJsonArray);
  std::string elements;
  for (webDataNode* e = a->getFirstChild(); e; e = e->getNext()) {
    EXPECT_EQ(e->getName(), "");
    EXPECT_TRUE(e->getNamespace().isNil());
    EXPECT_EQ(e->getParent(), a);
    elements += e->infoText().str() + "/" + std::to_string(e->getTextValue()) + " ";
  }
  EXPECT_EQ(elements, "1/16 2.5/32 x/8 true/64 null/64 ");
  webDataNode* b = a->getNext();
  ASSERT_TRUE(b);
  EXPECT_EQ(b->getName(), "b");
  EXPECT_EQ(b->getTextValue(), kJsonObject);
  EXPECT_FALSE(b->getFirstChild());
  EXPECT_EQ(object->findChild("b", nullptr, nullptr, nullptr), b);
}

// Member names come back as written through the reader's cache of stored
// names: names of one length and the same first and last bytes share a
// slot, and near misses differ in one place anywhere (every length up to
// 37; a letter, an escape or a high byte).
TEST_F(JsonReaderTest, MemberNamesReadAsWritten) {
  std::mt19937 random(31);
  const char* pieces[] = {"b", "\\\"", "\\\\", "\xC3"};
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> names;
    std::string json = "{";
    for (int i = 0; i < 200; ++i) {
      std::string name(1 + random() % 36, 'a');
      name.replace(random() % name.size(), 1, pieces[random() % std::size(pieces)]);
      json += (i ? ",\"" : "\"") + name + "\":" + std::to_string(i);
      names.push_back(name);
    }
    auto root = parseJson(json + "}");
    ASSERT_TRUE(root);
    size_t i = 0;
    for (webDataNode* n = root->head()->getFirstChild(); n; n = n->getNext(), ++i) {
      ASSERT_LT(i, names.size());
      ASSERT_EQ(n->getName().view(), names[i]) << json;
    }
    EXPECT_EQ(i, names.size());
  }
}

TEST_F(JsonReaderTest, AcceptedOddities) {
  std::string message;
  // Text after an empty outermost container is not read.
  EXPECT_TRUE(parseJson("{}x"));
  EXPECT_TRUE(parseJson("[] ] , garbage"));
  EXPECT_FALSE(parseJson("{\"a\":1}x", &message));
  EXPECT_EQ(message, "cJSON; nextToken(); malformed JSON (unexpected characters)");

  // A text that ends inside containers keeps what was read.
  auto open = parseJson("{\"a\": 1, \"b\": [2");
  ASSERT_TRUE(open);
  webDataNode* b = open->head()->findChild("b", nullptr, nullptr, nullptr);
  ASSERT_TRUE(b);
  ASSERT_TRUE(b->getFirstChild());
  EXPECT_EQ(b->getFirstChild()->infoText(), "2");
  EXPECT_TRUE(parseJson("[1,"));
  EXPECT_TRUE(parseJson("{"));

  // A comma and a member after the outer object make a second top-level node.
  auto two = parseJson("{\"a\":1}, \"c\": 2");
  ASSERT_TRUE(two);
  ASSERT_TRUE(two->head()->getNext());
  EXPECT_EQ(two->head()->getNext()->getName(), "c");
  EXPECT_EQ(two->head()->getNext()->getParent(), nullptr);
  EXPECT_EQ(two->tail(), two->head()->getNext());
  // That member may have an empty name and stay open to the end of the text.
  auto named = parseJson("\xEF\xBB\xBF{\"a\":1}, \"\": {\"d\": [");
  ASSERT_TRUE(named);
  webDataNode* second = named->head()->getNext();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->getName(), "");
  EXPECT_EQ(second->getTextValue(), kJsonObject);
  ASSERT_TRUE(second->getFirstChild());
  EXPECT_EQ(second->getFirstChild()->getName(), "d");
  EXPECT_EQ(second->getFirstChild()->getTextValue(), kJsonArray);
  EXPECT_FALSE(second->getFirstChild()->getFirstChild());

  // Duplicate names are all kept, in order.
  auto dup = parseJson(R"({"k":1,"k":2})");
  ASSERT_TRUE(dup);
  EXPECT_EQ(dup->head()->getLastChild()->infoText(), "2");
  EXPECT_EQ(dup->head()->getFirstChild()->infoText(), "1");

  // A byte-order mark is skipped.
  auto bom = parseJson("\xEF\xBB\xBF[\"x\"]");
  ASSERT_TRUE(bom);
  EXPECT_EQ(bom->head()->getFirstChild()->infoText(), "x");

  // Raw control characters inside strings pass.
  auto raw = parseJson("[\"a\tb\x01\"]");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->head()->getFirstChild()->infoText(), "a\tb\x01");
}

TEST_F(JsonReaderTest, EveryParserMessage) {
  const std::pair<const char*, const char*> cases[] = {
      {"1", "cJSON.parseDocument(); malformed JSON (expected \"{\" or \"[\" at start of file)"},
      {"\"s\"", "cJSON.parseDocument(); malformed JSON (expected \"{\" or \"[\" at start of file)"},
      {"}", "cJSON.parseDocument(); malformed JSON (expected \"{\" or \"[\" at start of file)"},
      {"", "cJSON.parseDocument(); malformed JSON (expected \"{\" or \"[\" at start of file)"},
      {"[1,]", "cJSON.parseDocument(); malformed JSON (expected value, for element)"},
      {"[:]", "cJSON.parseDocument(); malformed JSON (expected value, for element)"},
      {"{\"a\":}", "cJSON.parseDocument(); malformed JSON (expected value, for element)"},
      {"{\"a\":1,}",
       "cJSON.parseDocument(); malformed JSON (expected string for name at start of element inside "
       "object)"},
      {"{1:2}",
       "cJSON.parseDocument(); malformed JSON (expected string for name at start of element inside "
       "object)"},
      {"{\"a\" 1}",
       "cJSON.parseDocument(); malformed JSON (expected \":\" after string beginning the element "
       "inside object)"},
      {"[1 2]", "cJSON.parseDocument(); malformed JSON (expected \",\" or closing brace after element)"},
      {"[1]]", "cJSON.parseDocument(); malformed JSON (expected \",\" or closing brace after element)"},
      {"{\"a\":1}}", "cJSON.parseDocument(); malformed JSON (extra closing brace)"},
      {"[\"abc", "cJSON; nextToken(); malformed JSON (unclosed string)"},
      {"[truex]", "cJSON; nextToken(); malformed JSON (unexpected characters)"},
  };
  for (const auto& [text, expected] : cases) {
    std::string message;
    EXPECT_FALSE(parseJson(text, &message)) << text;
    EXPECT_EQ(message, expected) << text;
  }
}

TEST_F(JsonReaderTest, OpenTextsAndMisuse) {
  cJSON reader(latin1_, nullptr);
  expectRaise([&] { reader.parseDocument(nullptr, 0); }, "EMU", "cJSON.parseDocument(); not open");
  std::string text = "[1, 2]";
  reader.open(text.c_str(), 0);
  expectRaise([&] { reader.parseDocument(text.c_str(), 0); }, "EMU",
              "cJSON.parseDocument(); cannot load supplied contents since open() has already been used");
  JsonParseResult r = reader.parseDocument(nullptr, 0);
  EXPECT_TRUE(r.root);
  EXPECT_TRUE(reader.isOpen());
  reader.close();

  // A given text is closed on every way out, so the reader goes on working.
  EXPECT_FALSE(reader.parseDocument("[x]", 0).root);
  EXPECT_FALSE(reader.isOpen());
  EXPECT_TRUE(reader.parseDocument("[1]", 0).root);
  EXPECT_FALSE(reader.isOpen());

  // The length bounds the scan as the NUL does.
  std::string longer = "[1][[[";
  JsonParseResult bounded = reader.parseDocument(longer.c_str(), 3);
  ASSERT_TRUE(bounded.root);
  EXPECT_EQ(bounded.root->head()->getFirstChild()->infoText(), "1");
  EXPECT_FALSE(reader.parseDocument("[1,\0 2]", 9).root == nullptr);

  cCharset unloaded;
  expectRaise([&] { cJSON bad(unloaded, nullptr); }, "BUG", "cJSON.new(); failed to create systemCharset");
}

TEST_F(JsonReaderTest, EscapesDecodeWhenRead) {
  auto root = parseJson(R"(["caf\u00e9", "q\"\\\/\b\f\n\r\t", "\\u00e9", "\u12G4 \u00e9", "\u00E9\u00c9"])");
  ASSERT_TRUE(root);
  webDataNode* e = root->head()->getFirstChild();
  EXPECT_EQ(e->infoText(), "caf\\u00e9");
  EXPECT_EQ(e->getText(nullptr, false), "caf\xE9");
  EXPECT_EQ(e->getText(&utf8_, false), "caf\xC3\xA9");
  EXPECT_EQ(e->getText(nullptr, true), "caf\\u00e9");
  e = e->getNext();
  EXPECT_EQ(e->getText(nullptr, false), "q\"\\/\b\f\n\r\t");
  e = e->getNext();
  EXPECT_EQ(e->getText(nullptr, false), "\\u00e9");
  e = e->getNext();
  // A "\u" that is not followed by four hexadecimal digits stays; later
  // ones still decode.
  EXPECT_EQ(e->getText(nullptr, false), "\\u12G4 \xE9");
  e = e->getNext();
  EXPECT_EQ(e->getText(nullptr, false), "\xE9\xC9");
}

// The direct UTF-8 decoder gives what the translate engine gives with the
// same rules, on texts made of the fragments the rules look at: the escapes
// alone, with the service's entities, and with literal rules that overlap
// each other and the escapes (the earlier rule wins at one position).
TEST_F(JsonReaderTest, DirectDecoderMatchesTheEngine) {
  fTranslateMatcher* simple = &sharedSimpleTranslateMatcher();
  const TranslateEntry entities[] = {{simple, "&amp;", nullptr, 0, "&", nullptr}, {simple, "&quot;", nullptr, 0, "\"", nullptr},
                                     {simple, "&lt;", nullptr, 0, "<", nullptr},  {simple, "&gt;", nullptr, 0, ">", nullptr},
                                     {}};
  const TranslateEntry overlapping[] = {{simple, "&a", nullptr, 0, "1", nullptr},   {simple, "&amp;", nullptr, 0, "2", nullptr},
                                        {simple, "\\x", nullptr, 0, "3", nullptr}, {simple, "\\n", nullptr, 0, "4", nullptr},
                                        {simple, "u", nullptr, 0, nullptr, nullptr}, {}};
  const char* fragments[] = {"\\", "u", "\"", "/", "b", "n", "r", "t", "0", "d", "8", "D", "c", "e", "9", "G",
                             "x", " ", "\xC3\xA9", "&", "amp;", "quot;", "lt;", "a"};
  std::mt19937 random(20);
  for (const TranslateEntry* extra : {static_cast<const TranslateEntry*>(nullptr), entities, overlapping}) {
    JsonDecoder decoder(latin1_.clone(), extra);
    TranslateTable table;
    for (const TranslateEntry* e = extra; e && e->matcher; ++e) table.push_back(*e);
    JsonLiteralRules rules;
    ASSERT_TRUE(rules.assign(table));
    for (int round = 0; round < 20000; ++round) {
      std::string text;
      for (int n = static_cast<int>(random() % 16); n > 0; --n) text += fragments[random() % std::size(fragments)];
      if (round % 50 == 0) text.insert(random() % (text.size() + 1), 1, '\0');
      const bool nilIfUnchanged = round & 1;
      Str direct = decodeJsonUtf8(text, nilIfUnchanged, &rules);
      Str engine = decoder.decodeByEngine(text, utf8_, utf8_, nilIfUnchanged);
      ASSERT_EQ(str(direct), str(engine)) << text;
      ASSERT_EQ(direct.capacity(), engine.capacity()) << text;
    }
  }
  // Other matchers, and an empty match the engine refuses, stay with it.
  JsonLiteralRules rules;
  EXPECT_FALSE(rules.assign({{&sharedFixedTranslateMatcher(), "&amp;", &sharedFixedTranslateAdder(), 0, "&", nullptr}}));
  EXPECT_FALSE(rules.assign({{simple, "", nullptr, 0, "&", nullptr}}));
}

// The texts the reader marks as holding no escape (numbers, words,
// containers) read into UTF-8 as the translate engine decodes them,
// capacity included.
TEST_F(JsonReaderTest, PlainTextsReadAsTheEngineDecodesThem) {
  auto root = parseJson(R"({"a": [1, -2.5e3, true, false, null, {}, [], "x\u00e9", ""], "b": 007})");
  ASSERT_TRUE(root);
  JsonDecoder decoder(latin1_.clone(), nullptr);
  int nodes = 0;
  walkNodes<int>(
      root->head(), true,
      [&](webDataNode* n) {
        Str read = n->getText(&utf8_, false);
        Str engine = decoder.decodeByEngine(n->infoText(), utf8_, utf8_, false);
        EXPECT_EQ(str(read), str(engine)) << n->infoText().view();
        EXPECT_EQ(read.capacity(), engine.capacity()) << n->infoText().view();
        return ++nodes;
      },
      [](webDataNode*, int) {});
  EXPECT_EQ(nodes, 12);
}

TEST_F(JsonReaderTest, SurrogatesInBothTargets) {
  auto root = parseJson(R"(["\uD83D\uDE00", "\uD83D", "a\uDE00b", "\uD83D\u0041", "\u0000"])");
  ASSERT_TRUE(root);
  webDataNode* pair = root->head()->getFirstChild();
  EXPECT_EQ(pair->getText(&utf8_, false), "\xF0\x9F\x98\x80");
  EXPECT_EQ(pair->getText(nullptr, false), "??");
  webDataNode* lone = pair->getNext();
  EXPECT_EQ(lone->getText(&utf8_, false), "?");
  EXPECT_EQ(lone->getText(nullptr, false), "?");
  webDataNode* low = lone->getNext();
  EXPECT_EQ(low->getText(&utf8_, false), "a?b");
  webDataNode* highThenOther = low->getNext();
  EXPECT_EQ(highThenOther->getText(&utf8_, false), "?A");
  // No NUL is put into a text.
  EXPECT_EQ(highThenOther->getNext()->getText(&utf8_, false), "?");
  EXPECT_EQ(highThenOther->getNext()->getText(nullptr, false), "?");
}

TEST_F(JsonReaderTest, SingleByteTargetsTakeTheSystemCharset) {
  // A reader of a UTF-8 system still decodes into a single-byte target's
  // own bytes.
  std::string json = R"(["\u00e9"])";
  cJSON utfReader(utf8_, nullptr);
  JsonParseResult r = utfReader.parseDocument(json.c_str(), 0);
  ASSERT_TRUE(r.root);
  EXPECT_EQ(r.root->head()->getFirstChild()->getText(nullptr, false), "\xC3\xA9");
  EXPECT_EQ(r.root->head()->getFirstChild()->getText(&latin1_, false), "\xE9");
  EXPECT_EQ(utfReader.convertText("\\u00e9", &latin1_, false, false), "\xE9");
  EXPECT_EQ(utfReader.convertText("\\u00e9", nullptr, true, false), "\\u00e9");
  EXPECT_TRUE(utfReader.convertText("plain", nullptr, true, true).isNil());
}

TEST_F(JsonReaderTest, ExtraTableRunsAfterTheEscapes) {
  fTranslateMatcher* simple = &sharedSimpleTranslateMatcher();
  const TranslateEntry social[] = {
      {simple, "&amp;", nullptr, 0, "&", nullptr},
      {simple, "&quot;", nullptr, 0, "\"", nullptr},
      {simple, "&lt;", nullptr, 0, "<", nullptr},
      {simple, "&gt;", nullptr, 0, ">", nullptr},
      {},
  };
  auto root = parseJson(R"(["a &amp; b &lt;i&gt; &quot;q&quot; \u00e9 &amp;lt;"])", nullptr, social);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->head()->getFirstChild()->getText(nullptr, false), "a & b <i> \"q\" \xE9 &lt;");
  EXPECT_EQ(root->head()->getFirstChild()->getText(&utf8_, false), "a & b <i> \"q\" \xC3\xA9 &lt;");
  EXPECT_EQ(parseJson(R"(["&amp;"])")->head()->getFirstChild()->getText(nullptr, false), "&amp;");
}

TEST_F(JsonReaderTest, ClassesAndModule) {
  cJSON reader(latin1_, nullptr);
  EXPECT_STREQ(reader.className(), "cJSON");
  EXPECT_TRUE(reader.isOfClass(webDataFormat::kClassName));
  ASSERT_TRUE(jsonEscCodeMatcher());
  EXPECT_STREQ(jsonEscCodeMatcher()->className(), "fJsonEscCodeTranslateMatcher");
  EXPECT_TRUE(jsonEscCodeMatcher()->isOfClass(fTranslateMatcher::kClassName));
  EXPECT_FALSE(jsonEmptyTable()->matcher);

  auto root = parseJson(R"(["\u00e9"])");
  endJSONModule();
  EXPECT_FALSE(jsonEscCodeMatcher());
  expectRaise([&] { root->head()->getFirstChild()->getText(nullptr, false); }, "BUG",
              "JsonDecoder.decode(); JSON module not initialised");
  initJSONModule();
  EXPECT_EQ(root->head()->getFirstChild()->getText(nullptr, false), "\xE9");
}

TEST_F(JsonReaderTest, DocumentsOutliveTheirReader) {
  std::unique_ptr<webDataRoot> root;
  {
    cJSON reader(latin1_, nullptr);
    root = reader.parseDocument(R"({"k": "caf\u00e9"})", 0).root;
  }
  ASSERT_TRUE(root);
  EXPECT_EQ(root->head()->getFirstChild()->getText(&utf8_, false), "caf\xC3\xA9");
}

// Nesting is counted by the containers open, whatever the shape, up to the
// limit and no further; brackets in strings and names are no nesting, and
// a level closed is free again.
TEST_F(JsonReaderTest, NestingIsReadToTheLimitAndRefusedPastIt) {
  const int32_t L = kJsonDepthLimit;
  auto times = [](std::string_view unit, int32_t n) {
    std::string out;
    for (int32_t i = 0; i < n; ++i) out += unit;
    return out;
  };
  const std::string mixed = times("[{\"a\":", L / 2);  // L levels, a member name to come
  const std::string closedRun = times("[", L - 1) + times("]", L - 1);
  const struct {
    std::string text;
    int32_t depth;  // of the tree's deepest node (a value is one below its container); 0: refused
  } cases[] = {
      {times("[", L), L},
      {times("[", L + 1), 0},
      {times("[", 1000000), 0},
      {times("{\"a\":", L - 1) + "{", L},
      {times("{\"a\":", L) + "{", 0},
      {times("{\"a\":", L) + "1", L + 1},
      {mixed + "1", L + 1},
      {mixed + "[", 0},
      {mixed + "{", 0},
      {times("[", L - 1) + "\"" + times("[{", 2000) + "\"", L},
      {times("{\"[{[{[{[{\":", L - 1) + "[", L},
      {times("[", L) + times("]", L), L},
      {"[" + closedRun + "," + closedRun + "," + times("{\"a\":", L - 1) + "1", L + 1},
      {"[" + closedRun + "," + times("[", L), 0},
      // A member after the outermost container starts again at level 1.
      {"{\"a\":1}, \"c\": " + times("[", L), L},
      {"{\"a\":1}, \"c\": " + times("[", L + 1), 0},
  };
  const std::string tooDeep =
      "cJSON.parseDocument(); the document nests arrays and objects deeper than " + std::to_string(L) + " levels";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40) + " (" + std::to_string(c.text.size()) + " bytes)");
    std::string message;
    auto root = parseJson(c.text, &message);
    if (c.depth == 0) {
      EXPECT_FALSE(root);
      EXPECT_EQ(message, tooDeep);
      continue;
    }
    ASSERT_TRUE(root) << message;
    int32_t depth = 0, deepest = 0;
    walkNodes<int>(
        root->head(), true, [&](webDataNode*) { return deepest = std::max(deepest, ++depth); },
        [&](webDataNode*, int) { --depth; });
    EXPECT_EQ(deepest, c.depth);
  }
}

TEST_F(JsonReaderTest, DeepNestingPrintsAndEnds) {
  // The tree ends and prints without recursion. Printing is quadratic in the
  // depth (indentation).
  const size_t n = kJsonDepthLimit;
  auto root = parseJson(std::string(n, '['));
  ASSERT_TRUE(root);
  std::string printed = printedTo([&](std::FILE* out) { printJSONroot(*root, out); });
  // Every level opens on a line and, but for the innermost "[]", closes on
  // one; then the empty line.
  const size_t indentation = 2 * ((n - 1) * n / 2) + 2 * ((n - 2) * (n - 1) / 2);
  EXPECT_EQ(printed.size(), indentation + 2 * (n - 1) + 3 + 2 * (n - 1) + 1);
  EXPECT_EQ(printed.substr(0, 8), "[\n  [\n  ");
  EXPECT_EQ(printed.substr(printed.size() - 7), "  ]\n]\n\n");
}

}  // namespace
}  // namespace bw
