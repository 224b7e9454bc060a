// web/html_reader_test.cpp - pHTML: reading tags at chosen positions, tokens
// and attributes, nodes, quiet mode, messages and the debug line.
#include "web/html_reader.h"

#include <gtest/gtest.h>

#include "web/json_test_support.h"

namespace bw {
namespace {

class HtmlReaderTest : public JsonTest {
 protected:
  void SetUp() override {
    JsonTest::SetUp();
    root_ = createHTMLroot(Str("UTF-8"), Str(), latin1_);
  }
  void TearDown() override {
    root_.reset();
    JsonTest::TearDown();
  }

  // The node of tagText, or NIL; `closes` gets the second result.
  std::unique_ptr<webDataNode> node(std::string_view tagText, bool quiet = true, bool* closes = nullptr,
                                    Str textAfter = Str("after")) {
    HtmlParsedTag t = pHTML::html_parseTag(tagText, root_.get(), std::move(textAfter), quiet);
    if (closes) *closes = t.closes;
    return std::move(t.node);
  }

  std::string attributes(webDataNode& n) {
    std::string out;
    for (webAttributeText a = n.getFirstAttribute(nullptr, true); a.name;
         a = n.getNextAttribute(nullptr, true))
      out += a.name->str() + "=" + a.value.str() + ";";
    return out;
  }

  std::unique_ptr<htmlDataRoot> root_;
};

TEST_F(HtmlReaderTest, ReadsOneTagAndTheTextAfterIt) {
  std::string page = "<p><link rel='alternate' type='application/rss+xml' href='/f?a=1&amp;b=2'>\n text<b>";
  HtmlTagAndText t = pHTML::html_nextTagAndText(page, 3, false);
  EXPECT_EQ(t.tag, "link rel='alternate' type='application/rss+xml' href='/f?a=1&amp;b=2'");
  EXPECT_EQ(t.text, "\n text");
  EXPECT_EQ(t.position, static_cast<int64_t>(page.find("<b>")));
  bool closes = true;
  auto link = node(t.tag.view(), false, &closes, std::move(t.text));
  ASSERT_TRUE(link);
  EXPECT_FALSE(closes);
  EXPECT_EQ(link->getName(), "link");
  EXPECT_TRUE(link->getNamespace().isNil());
  EXPECT_EQ(link->getTextValue(), 0);
  EXPECT_EQ(link->getRoot(), root_.get());
  EXPECT_FALSE(link->getParent());
  EXPECT_EQ(link->infoText(), "\n text");
  EXPECT_EQ(attributes(*link), "rel=alternate;type=application/rss+xml;href=/f?a=1&amp;b=2;");
  EXPECT_EQ(link->getAttribute("HREF", nullptr, false), "/f?a=1&b=2");

  // The first tag, and the end of the text.
  t = pHTML::html_nextTagAndText(page, 0, false);
  EXPECT_EQ(t.tag, "p");
  EXPECT_EQ(t.text, "");
  EXPECT_EQ(t.position, 3);
  t = pHTML::html_nextTagAndText(page, static_cast<int64_t>(page.find("<b>")), false);
  EXPECT_EQ(t.tag, "b");
  EXPECT_EQ(t.position, static_cast<int64_t>(page.size()));
  t = pHTML::html_nextTagAndText(page, t.position, false);
  EXPECT_EQ(t.tag, "");
  EXPECT_EQ(t.text, "");
  EXPECT_EQ(t.position, static_cast<int64_t>(page.size()));
  // A NUL ends the text like its end.
  std::string withNul("<a>x\0<b>", 8);
  t = pHTML::html_nextTagAndText(withNul, 0, false);
  EXPECT_EQ(t.text, "x");
  EXPECT_EQ(t.position, 4);
}

TEST_F(HtmlReaderTest, CommentsAndTagsThatAreNone) {
  std::string page = "<!-- <link rel=\"x\" href=\"y\"> -->after<a<b>c<>d";
  HtmlTagAndText t = pHTML::html_nextTagAndText(page, 0, false);
  EXPECT_EQ(t.tag, "!-- <link rel=\"x\" href=\"y\"> --");
  EXPECT_EQ(t.text, "after");
  bool closes = false;
  auto comment = node(t.tag.view(), false, &closes, std::move(t.text));
  ASSERT_TRUE(comment);
  EXPECT_TRUE(closes);
  EXPECT_EQ(comment->getName(), "!-- <link rel=\"x\" href=\"y\"> --");
  EXPECT_EQ(comment->infoText(), "after");
  EXPECT_EQ(comment->infoAttributeCount(), 0);

  // "<" inside a tag drops it; quiet mode answers the ">" to go on from.
  const int64_t lt = static_cast<int64_t>(page.find("<a<b>"));
  t = pHTML::html_nextTagAndText(page, lt, true);
  EXPECT_TRUE(t.tag.isNil());
  EXPECT_TRUE(t.text.isNil());
  EXPECT_EQ(t.position, static_cast<int64_t>(page.find('>', lt)));
  expectRaise([&] { pHTML::html_nextTagAndText(page, lt, false); }, "HTML",
              "pHTML; nextTagOrText(); malformed HTML");
  // "<>" is no tag either.
  t = pHTML::html_nextTagAndText(page, static_cast<int64_t>(page.find("<>")), true);
  EXPECT_TRUE(t.tag.isNil());
  EXPECT_EQ(t.position, static_cast<int64_t>(page.find("<>") + 1));

  // An unclosed comment or a "<" without a ">" leaves nowhere to go on.
  for (std::string bad :
       {std::string("<!-- <a> ->"), std::string("<a href="), std::string("<!--"), std::string("<a\0>", 4)}) {
    t = pHTML::html_nextTagAndText(bad, 0, true);
    EXPECT_TRUE(t.tag.isNil()) << bad;
    EXPECT_EQ(t.position, -1) << bad;
  }
  // Text at the very start: no tag, the next "<" is where to go on.
  t = pHTML::html_nextTagAndText("text <a>", 0, true);
  EXPECT_TRUE(t.tag.isNil());
  EXPECT_EQ(t.position, 5);
}

TEST_F(HtmlReaderTest, PositionsOutsideTheTextAreRefused) {
  // Built soundly: a -1 handed back, or a position past the text, is refused
  // instead of being read.
  std::string page = "<a>b";
  for (int64_t bad : {int64_t{-1}, int64_t{5}, int64_t{1} << 40}) {
    expectRaise([&] { pHTML::html_nextTagAndText(page, bad, true); }, "EMU",
                "pHTML; html_nextTagAndText(); position out of range");
  }
  EXPECT_EQ(pHTML::html_nextTagAndText(page, 4, false).tag, "");
  expectRaise([&] { pHTML::html_nextTagAndText(page, 3, true); }, "BUG",
              "pHTML; html_nextTagAndText(); unexpected tag character");
  expectRaise([&] { pHTML::html_nextTagAndText(page, 2, true); }, "BUG",
              "pHTML; html_nextTagAndText(); unexpected \">\" character");
}

TEST_F(HtmlReaderTest, Tokens) {
  std::string tag = "a  href = \"x y\" b='z'/c d/ /e";
  std::string out;
  for (HtmlToken t = pHTML::tagNextToken(tag, 0); !t.token.isNil(); t = pHTML::tagNextToken(tag, t.position))
    out += "[" + t.token.str() + "]";
  EXPECT_EQ(out, "[a][href][=][\"x y\"][b][=]['z'][/c][d][/][/e]");
  HtmlToken leading = pHTML::tagNextToken(" a", 0);
  EXPECT_EQ(leading.token, "");
  EXPECT_EQ(leading.position, 1);
  HtmlToken end = pHTML::tagNextToken("a", 1);
  EXPECT_TRUE(end.token.isNil());
  EXPECT_EQ(end.position, 1);
  EXPECT_TRUE(pHTML::tagNextToken("a", 7).token.isNil());

  // The debug line comes before the error, byte for byte.
  std::string printed = capturedStdout([] {
    expectRaise([] { pHTML::tagNextToken("a href=\"x", 7); }, "HTML",
                "pHTML; tagNextToken(); malformed HTML, string not closed");
  });
  EXPECT_EQ(printed, "pHTML; tagNextToken(); tag=\"a href=\"x\", pos=7\n");
}

TEST_F(HtmlReaderTest, AttributesAndTheirErrors) {
  HtmlAttribute a = pHTML::html_tagNextAttribute("link rel = 'x' b", 5, false);
  EXPECT_EQ(a.name, "rel");
  EXPECT_EQ(a.value, "x");
  EXPECT_EQ(a.position, 15);
  a = pHTML::html_tagNextAttribute("link rel = 'x' b", 15, false);
  EXPECT_EQ(a.name, "b");
  EXPECT_TRUE(a.value.isNil());
  a = pHTML::html_tagNextAttribute("link", 4, false);
  EXPECT_EQ(a.name, "");
  EXPECT_TRUE(a.value.isNil());
  EXPECT_EQ(a.position, 4);

  expectRaise([] { pHTML::html_tagNextAttribute("a href=", 2, false); }, "HTML",
              "pHTML; html_tagNextAttribute(); malformed HTML, unexpected end of document");
  a = pHTML::html_tagNextAttribute("a rel= a/b=\"c'  x", 2, true);
  EXPECT_EQ(a.name, "rel");
  EXPECT_EQ(a.value, "a/b=\"c'");
  EXPECT_EQ(a.position, 16);
}

// Pages as written: unquoted values, bare names and DOCTYPE identifiers.
TEST_F(HtmlReaderTest, TolerantAttributes) {
  const std::pair<const char*, const char*> cases[] = {
      {"link rel=alternate type=application/rss+xml href=/feed", "rel=alternate;type=application/rss+xml;href=/feed;"},
      {"link rel=\"alternate\" href=\"/f\" crossorigin", "rel=alternate;href=/f;crossorigin=;"},
      {"a href=/feed/", "href=/feed/;"},
      {"input checked disabled", "checked=;disabled=;"},
      {"!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0//EN\" 'x.dtd'", "html=;PUBLIC=;"},
  };
  for (const auto& [tag, want] : cases) {
    bool closes = true;
    auto n = node(tag, false, &closes);
    ASSERT_TRUE(n) << tag;
    EXPECT_FALSE(closes) << tag;
    EXPECT_EQ(attributes(*n), want) << tag;
  }
  bool closes = false;
  auto img = node("img src=x.png /", false, &closes);
  ASSERT_TRUE(img);
  EXPECT_TRUE(closes);
  EXPECT_EQ(attributes(*img), "src=x.png;");
}

TEST_F(HtmlReaderTest, ElementsClosingTagsAndQuietFailures) {
  bool closes = false;
  auto br = node("br/", false, &closes, Str("tail"));
  ASSERT_TRUE(br);
  EXPECT_TRUE(closes);
  EXPECT_EQ(br->getName(), "br");
  EXPECT_EQ(br->infoText(), "");
  EXPECT_EQ(br->infoTextAfterEndTag(), "tail");

  EXPECT_FALSE(node("/head", false, &closes));
  EXPECT_TRUE(closes);
  EXPECT_FALSE(node("", false, &closes));
  EXPECT_FALSE(closes);
  EXPECT_FALSE(node("  ", false, &closes));

  auto atom = node("atom:link href='http://x/feed' rel=\"self\"", false, &closes);
  ASSERT_TRUE(atom);
  EXPECT_FALSE(closes);
  EXPECT_EQ(atom->getName(), "link");
  EXPECT_EQ(atom->getNamespace(), "atom");
  EXPECT_EQ(attributes(*atom), "href=http://x/feed;rel=self;");

  const std::pair<const char*, const char*> failures[] = {
      {"br/ class=\"x\"", "pHTML; html_parseTag(); malformed HTML, attributes after self-closing /"},
      {"br / checked", "pHTML; html_parseTag(); malformed HTML, attributes after self-closing /"},
      {"a href=\"x\" HREF=\"y\"", "pHTML; html_parseTag(); malformed HTML, attribute duplicate found"},
      {"a href=", "pHTML; html_tagNextAttribute(); malformed HTML, unexpected end of document"},
      {"a title=\"x", "pHTML; tagNextToken(); malformed HTML, string not closed"},
  };
  for (const auto& failure : failures) {
    // Plain names: lambdas may not capture structured bindings in C++20.
    const char* tag = failure.first;
    const char* message = failure.second;
    std::string printed = capturedStdout([&] {
      EXPECT_FALSE(node(tag, true, &closes)) << tag;
      EXPECT_FALSE(closes) << tag;
      expectRaise([&] { node(tag, false); }, "HTML", message);
    });
    // Only the unclosed string passes tagNextToken, quiet or not.
    if (std::string_view(tag) == "a title=\"x") {
      EXPECT_EQ(printed,
                "pHTML; tagNextToken(); tag=\"a title=\"x\", pos=8\n"
                "pHTML; tagNextToken(); tag=\"a title=\"x\", pos=8\n");
    } else {
      EXPECT_EQ(printed, "") << tag;
    }
  }
}

// A tag of 20,000 attributes is read whole; one repeated at its end, in
// other letters, refuses it.
TEST_F(HtmlReaderTest, TagsOfManyAttributes) {
  std::string tag = "link";
  for (int i = 0; i < 20'000; ++i) tag += " a" + std::to_string(i) + "=" + std::to_string(i);
  auto link = node(tag, false);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->infoAttributeCount(), 20'000);
  EXPECT_EQ(link->getAttribute("A19999", nullptr, false), "19999");
  EXPECT_FALSE(node(tag + " A0=again"));
}

TEST_F(HtmlReaderTest, ValuesDecodeIntoBothTargets) {
  auto a = node("a t=\"&amp;amp;|&eacute;|&#65;|&#x41;|&#X41;|&bogus;|&amp;nbsp;|&amp;lt;|x\r\ny\"");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->getAttribute("t", nullptr, false), "&|\xE9|A|A|&#X41;|&bogus;|\xA0|<|x\ny");
  EXPECT_EQ(a->getAttribute("t", &utf8_, false), "&|\xC3\xA9|A|A|&#X41;|&bogus;|\xC2\xA0|<|x\ny");
  // An "&" that is not an escape leaves the entities after it decoding.
  auto att = node("a t=\"AT&T &eacute; &amp;amp;\"");
  ASSERT_TRUE(att);
  EXPECT_EQ(att->getAttribute("t", &utf8_, false), "AT&T \xC3\xA9 &");
  auto text = node("p", true, nullptr, Str("caf&eacute; &euro;"));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->getText(&utf8_, false), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(text->getText(nullptr, false).view().substr(0, 4), "caf\xE9");
}

TEST_F(HtmlReaderTest, RootsCarryTheirEntitiesAndEncodings) {
  EXPECT_EQ(root_->infoEntities().size(), 254u);
  EXPECT_EQ(root_->infoEncodingName(), "UTF-8");
  EXPECT_TRUE(root_->infoDeclaredEncodingName().isNil());
  EXPECT_TRUE(root_->getEncoding()->isOfClass(cEncodingUTF::kClassName));
  EXPECT_EQ(root_->getCharset()->infoName(), "ISO-8859-1");
  EXPECT_FALSE(root_->head());
  EXPECT_STREQ(root_->className(), "htmlDataRoot");
  ASSERT_TRUE(htmlEscCodeMatcher());
  EXPECT_STREQ(htmlEscCodeMatcher()->className(), "fHtmlEscCodeTranslateMatcher");
  EXPECT_TRUE(root_->isOfClass(webDataRoot::kClassName));

  auto declared = createHTMLroot(Str("UTF-8"), Str("iso-8859-1"));
  EXPECT_EQ(declared->infoDeclaredEncodingName(), "iso-8859-1");
  cCharset unloaded;
  expectRaise([&] { createHTMLroot(Str("UTF-8"), Str(), unloaded); }, "BUG",
              "createHTMLroot(); failed to create systemCharset");

  // Ending the root before its nodes is safe.
  auto n = node("a href=\"x\"");
  root_.reset();
  n.reset();
}

}  // namespace
}  // namespace bw
