// news/html_text_test.cpp - display text: the rewrite's cases byte for byte
// with and without styles, the HTML guess, the UTF-8 trim, and the whole
// conversion against a sequential reference written from the rules on
// random texts of tag fragments.
#include "news/html_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>

#include "core/ordering.h"
#include "core/translate.h"
#include "news/html_text_reference_test_support.h"

namespace bw {
namespace {

class HtmlText : public ::testing::Test {
 protected:
  void SetUp() override {
    initMegaListModule();
    initTranslateEngine();
    initNewsTextModule();
  }
  void TearDown() override {
    endNewsTextModule();
    endTranslateEngine();
    endMegaListModule();
  }
  static std::string html(const std::string& text, bool styles) {
    return std::string(htmlToDisplayText(text, styles, true).view());
  }
};

const std::string kRule = testing_news::kRuleText;

TEST_F(HtmlText, RewritesTheCases) {
  struct Case {
    const char* in;
    std::string plain;
    std::string styled;
  } cases[] = {
      {"<p>words</p>", "words", "words"},
      {"one<br>two", "one\ntwo", "one\ntwo"},
      {"one<hr>two", "one" + kRule + "two", "one" + kRule + "two"},
      {"<ul><li>a b</li><li>c</li></ul><p>d", "* a b\n* c\n\nd", "* a b\n* c\n\nd"},
      {"<b>w</b>", "*w*", "\x1b" "bw\x1b" "n"},
      {"<strong>w</strong>", "*w*", "\x1b" "bw\x1b" "n"},
      {"<i>w</i>", "w", "\x1b" "iw\x1b" "n"},
      {"<em>w</em> <u>x</u>", "w x", "\x1b" "iw\x1b" "n \x1b" "ux\x1b" "n"},
      {"<a href=\"x\">w</a>", "w", "\x1b" "u\x1b" "5w\x1b" "n\x1b" "2"},
      {"one<span>two", "one two", "one two"},
      {"one</span><span>two", "one two", "one two"},
      {"one <span>two", "one two", "one two"},
      {"one<!-- c -->two", "one two", "one two"},
      {"x <img src=\"/a/b/c.png?s=1\"> y", "x [PICTURE \"c.png\"]\n y", "x [PICTURE \"c.png\"]\n y"},
      {"x <img alt='A b' src=\"/a/c.png\"> y", "x [PICTURE 'A b']\n y", "x [PICTURE 'A b']\n y"},
      {"x <img alt=\"\"> y", "x [PICTURE]\n y", "x [PICTURE]\n y"},
      {"x <IMG SRC=pic.png >", "x [PICTURE \"pic.png\"]", "x [PICTURE \"pic.png\"]"},
      {"x <img src=\"a>b\"> y", "x [PICTURE]\nb\"> y", "x [PICTURE]\nb\"> y"},
      {"one\n\ntwo", "one two", "one two"},
      {"<p>\none\n</p>", "one", "one"},
      {"one\r\ntwo", "one\r two", "one\r two"},
      {"one\t\ttwo", "one two", "one two"},
      {"a < b and c", "a < b and c", "a < b and c"},
      {"<h2>T</h2>text", "T\ntext", "T\ntext"},
      {"x<p>y", "x\ny", "x\ny"},
      {"x< / P >y", "x\ny", "x\ny"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(html(c.in, false), c.plain) << c.in;
    EXPECT_EQ(html(c.in, true), c.styled) << c.in;
  }
}

TEST_F(HtmlText, PreparesByFormatAndGuessesHtml) {
  Str plain("\t a\tb \t");
  const int32_t capacity = plain.capacity();
  Str tidied = prepareTextForDisplay(std::move(plain), kFormatPlainText, false, true);
  EXPECT_EQ(tidied, "a b");
  EXPECT_EQ(tidied.capacity(), capacity);
  EXPECT_EQ(prepareTextForDisplay(Str("<p>a</p>"), kFormatDetect, false, true), "a");
  EXPECT_EQ(prepareTextForDisplay(Str("a < b"), kFormatDetect, false, true), "a < b");
  EXPECT_EQ(prepareTextForDisplay(Str("<b>a</b>"), kFormatXHTML, false, true), "*a*");
  EXPECT_TRUE(prepareTextForDisplay(Str(), kFormatPlainText, false, true).isNil());
  Str kept("x");
  EXPECT_TRUE(prepareTextForDisplay(std::move(kept), 4, false, true).isNil());
  EXPECT_EQ(kept, "x");

  struct Guess {
    const char* text;
    bool html;
  } guesses[] = {
      {"a < b", false},          {"a > b", false},          {"<p>w</p>", true},
      {"<<p>>", false},          {"plain", false},          {"<a href='x>y'>z</a>", false},
      {"<br/><br/>", true},      {"</a></b></c>", true},    {"<p>a<p>b<p>c<p>d<p>e<p>f<p>g<p>h<p>i<p>j<p", true}, {"</x/y/z>", false},
  };
  for (const Guess& g : guesses) EXPECT_EQ(looksLikeHtml(g.text), g.html) << g.text;
}

// With UTF-8 text only the whole pair C2 A0 is a no-break space; a lone A0
// ends a letter ("à" is C3 A0) and stays.
TEST_F(HtmlText, TrimsNoBreakSpacesByEncoding) {
  struct Case {
    const char* in;
    const char* utf8;
    const char* single;
  } cases[] = {
      {"citt\xC3\xA0", "citt\xC3\xA0", "citt\xC3"},
      {"\xC2\xA0 x \xC2\xA0", "x", "\xC2\xA0 x \xC2"},
      {"\xA0x\xA0", "\xA0x\xA0", "x"},
      {"<p>citt\xC3\xA0</p>", "citt\xC3\xA0", "citt\xC3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(htmlToDisplayText(c.in, false, true), c.utf8) << c.in;
    EXPECT_EQ(htmlToDisplayText(c.in, false, false), c.single) << c.in;
    EXPECT_EQ(prepareTextForDisplay(Str(c.in), kFormatHTML, false, true), c.utf8) << c.in;
  }
  EXPECT_EQ(prepareTextForDisplay(Str("citt\xC3\xA0"), kFormatPlainText, false, true), "citt\xC3\xA0");
  EXPECT_EQ(trimNewsWhiteSpace(Str(" http://a/citt\xC3\xA0 "), true), "http://a/citt\xC3\xA0");
  EXPECT_EQ(trimNewsWhiteSpace(Str(" http://a/citt\xC3\xA0 "), false), "http://a/citt\xC3");
}

TEST_F(HtmlText, MatchesTheSequentialReference) {
  static const char* const pieces[] = {"<", ">", "</", "<p>", "</p>", "<br>", "<hr/>", "<b>", "</b>", "<i>",
                                       "</em>", "<u>", "<li>", "</li>", "<ul>", "</ul>", "<a href=x>",
                                       "</a>", "<img>", "<H3>", "< span >", "</div>", "<!--", "-->", "\"",
                                       "'", " ", "  ", "\t", "\n", "\r\n", "w", "Word", ".", ",", "!", "/"};
  std::mt19937 random(24);
  for (int run = 0; run < 100000; ++run) {
    std::string text;
    const int count = static_cast<int>(random() % 12);
    for (int k = 0; k < count; ++k) text += pieces[random() % std::size(pieces)];
    const bool styles = (run & 1) != 0;
    ASSERT_EQ(html(text, styles), testing_news::referenceDisplayText(text, styles, true)) << "text: " << text << " styles " << styles;
  }
}

}  // namespace
}  // namespace bw
