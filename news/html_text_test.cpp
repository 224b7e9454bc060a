// news/html_text_test.cpp - display text: a table of tricky descriptions
// with their expected text, with and without styles; the HTML guess; the
// UTF-8 trim; feed texts through one level of XML decoding; and random
// texts of tag fragments that must keep every word outside tags.
#include "news/html_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "web/web_test_support.h"

namespace bw {
namespace {

std::string html(const std::string& text, bool styles = false) {
  return std::string(htmlToDisplayText(text, styles, true).view());
}

const std::string kRule = std::string(38, '-');

TEST(HtmlText, ReadsTrickyDescriptions) {
  struct Case {
    const char* in;
    std::string plain;
  } cases[] = {
      {"<p>words</p>", "words"},
      {"5 &lt; 7 &amp;&amp; 7 &gt; 5", "5 < 7 && 7 > 5"},
      {"Vec&lt;String&gt;", "Vec<String>"},
      {"<code>for (int i = 0; i &lt; n; i++)</code>", "for (int i = 0; i < n; i++)"},
      {"Stocks fell <5%, gains >3%", "Stocks fell <5%, gains >3%"},
      {"a < b, c <= d, e<-f", "a < b, c <= d, e<-f"},
      {"one<br>two<br/>three", "one\ntwo\nthree"},
      {"one<hr>two", "one\n" + kRule + "\ntwo"},
      {"<ul><li>a b</li><li>c</li></ul><p>d", "* a b\n* c\n\nd"},
      {"<ol><li>a</li><li>b</li></ol>", "1. a\n2. b"},
      {"<ol start=\"4\"><li>a<ul><li>x</ul></li><li>b</ol>", "4. a\n  * x\n5. b"},
      {"<b>w</b> and <strong>x</strong>", "*w* and *x*"},
      {"H<sub>2</sub>O on the 10<sup>th</sup>", "H2O on the 10th"},
      {"<i>it</i><em>al</em><span>ic</span> <a href=\"x\">link</a>", "italic link"},
      {"x<script>if (a < b) document.write('<p>')</script>y", "xy"},
      {"x<STYLE>p > a { color: red }</STYLE>y<template><p>t</template>z", "xyz"},
      {"a<noscript>enable it</noscript>b", "ab"},
      {"a<!-- c > d -->b<!---->c", "abc"},
      {"<pre>one\n  two\n\nthree</pre>after", "one\n  two\n\nthree\nafter"},
      {"<table><tr><th>k</th><th>v</th></tr><tr><td>1</td><td>2</td></tr></table>", "k | v\n1 | 2"},
      {"<p>x <img alt=\"Don't &amp; do\" src=\"/a/c.png\"> y</p>", "x [PICTURE \"Don't & do\"]\ny"},
      {"x <img src='/a/b/c.png?s=1'> y", "x [PICTURE \"c.png\"]\ny"},
      {"x <img alt=\"\">", "x [PICTURE]"},
      {"<a title=\"a > b\" href=x>t</a>", "t"},
      {"<a href=x title=one title=two>t</a>", "t"},
      {"one\n\ntwo\r\nthree\t\tfour", "one two three four"},
      {"<p>\n one \n</p>", "one"},
      {"<h2>T</h2>text", "T\n\ntext"},
      {"<div>a</div><div>b</div>", "a\nb"},
      {"&copy &notit; &amp &AMP; &frac12x &#x1F600; &#128512 &#0; &#4294967356; &#1114112;",
       "\xC2\xA9 \xC2\xACit; & & \xC2\xBDx \xF0\x9F\x98\x80 \xF0\x9F\x98\x80 \xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD"},
      {"&#150; &#x80; &NotEqualTilde; &unknown; &", "\xE2\x80\x93 \xE2\x82\xAC \xE2\x89\x82\xCC\xB8 &unknown; &"},
      {"a <tag never ends", "a <tag never ends"},
      {"a <b title='open", "a <b title='open"},
      {"</>x</ 3", "</>x</ 3"},
      {"<![CDATA[a &lt; b]]>", "a &lt; b"},
      {"<?xml version='1.0'?><!DOCTYPE html>x", "x"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(html(c.in), c.plain) << c.in;
}

TEST(HtmlText, WritesStyleCodesAroundTheirWords) {
  EXPECT_EQ(html("<b>w</b> <i>x</i> <u>y</u>", true), "\x1b" "bw\x1b" "n \x1b" "ix\x1b" "n \x1b" "uy\x1b" "n");
  EXPECT_EQ(html("see <a href=\"x\">this</a>.", true), "see \x1b" "u\x1b" "5this\x1b" "n\x1b" "2.");
  EXPECT_EQ(html("<strong>bold </strong>next", true), "\x1b" "bbold\x1b" "n next");
}

TEST(HtmlText, PreparesByFormatAndGuessesHtml) {
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
      {"<<p>>", true},          {"plain", false},          {"<a href='x>y'>z</a>", true},
      {"<br/><br/>", true},      {"</a></b></c>", true},    {"<p>a<p>b<p>c<p>d<p>e<p>f<p>g<p>h<p>i<p>j<p", true},
      {"</x/y/z>", false},       {"The <dialog> element", false},
      {"<p><img alt=\"Don't\" src=a.png> text</p>", true},
      {"5 <= 7 and <b>bold</b>", true},
  };
  for (const Guess& g : guesses) EXPECT_EQ(looksLikeHtml(g.text), g.html) << g.text;
}

// With UTF-8 text only the whole pair C2 A0 is a no-break space; a lone A0
// ends a letter ("à" is C3 A0) and stays.
TEST(HtmlText, TrimsNoBreakSpacesByEncoding) {
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
  EXPECT_EQ(htmlToDisplayText("&eacute;&euro;", false, false), "\xE9?");
  EXPECT_EQ(trimNewsWhiteSpace(Str(" http://a/citt\xC3\xA0 "), true), "http://a/citt\xC3\xA0");
  EXPECT_EQ(trimNewsWhiteSpace(Str(" http://a/citt\xC3\xA0 "), false), "http://a/citt\xC3");
}

// Stored texts keep the XML escapes of the feed: HTML carried escaped or in
// CDATA reads the same, and a doubly escaped "<" is text in either.
class FeedText : public WebTest {};

TEST_F(FeedText, DecodesOneLevelBeforeTheMarkup) {
  cXML xml(utf8_);
  struct Case {
    const char* kept;
    int32_t format;
    const char* shown;
  } cases[] = {
      {"&lt;p&gt;5 &amp;lt; 7 &amp;amp;&amp;amp; 7 &amp;gt; 5&lt;/p&gt;", kFormatDetect, "5 < 7 && 7 > 5"},
      {"<![CDATA[<p>5 &lt; 7 &amp;&amp; 7 &gt; 5</p>]]>", kFormatDetect, "5 < 7 && 7 > 5"},
      {"<![CDATA[<p>Vec&lt;String&gt;</p>]]>", kFormatHTML, "Vec<String>"},
      {"The &amp;lt;dialog&amp;gt; element", kFormatHTML, "The <dialog> element"},
      {"The &amp;lt;dialog&amp;gt; element", kFormatDetect, "The <dialog> element"},
      {"The &lt;dialog&gt; element", kFormatDetect, "The <dialog> element"},
      {"a &lt;b&gt;c&lt;/b&gt; d", kFormatPlainText, "a <b>c</b> d"},
      {"&lt;b&gt;x&lt;/b&gt; &#4294967356;", kFormatHTML, "*x* \xEF\xBF\xBD"},
      {"AT&amp;amp;T", kFormatDetect, "AT&T"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(feedTextForDisplay(xml, nullptr, c.kept, c.format, false), c.shown) << c.kept;
  }
  EXPECT_EQ(feedTextForDisplay(xml, &latin1_, "&lt;i&gt;caf&amp;eacute;&lt;/i&gt; &#x20AC;", kFormatHTML, false),
            "caf\xE9 ?");
  EXPECT_TRUE(feedTextForDisplay(xml, nullptr, nullptr, kFormatHTML, false).isNil());
}

// A text carried in CDATA reads as its escaped twin in every format: a
// section's content is text, "<![CDATA[" and "&amp;" in it included, and
// a section ends at its first "]]>" (one written across two sections).
TEST_F(FeedText, CdataReadsAsItsEscapedTwin) {
  cXML xml(utf8_);
  const std::string values[] = {"A <![CDATA[ B", "<![CDATA[ Hello ]]>", "A <![CDATA[x]]> B", "AT&amp;T",
                                "&lt;b&gt; as text", "a ]] b ]]> c", "<b>A</b> <![CDATA[ B", "Tom & Jerry",
                                "x &#60; y &copy;", "5 < 7", "<p>A <![CDATA[x<y]]> B</p>", "line\r\nend"};
  auto escaped = [](std::string_view v) {
    std::string out;
    for (char c : v) out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
    return out;
  };
  auto cdata = [](std::string_view v) {
    std::string out = "<![CDATA[";
    for (char c : v) out += c == '>' && out.ends_with("]]") ? "]]><![CDATA[>" : std::string(1, c);
    return out + "]]>";
  };
  auto shown = [&](const std::string& kept, int32_t format) {
    return feedTextForDisplay(xml, nullptr, kept, format, false).str();
  };
  for (const std::string& v : values) {
    for (int32_t format : {kFormatPlainText, kFormatDetect, kFormatHTML}) {
      EXPECT_EQ(shown(cdata(v), format), shown(escaped(v), format)) << v << " format " << format << " as " << cdata(v);
    }
  }
  EXPECT_EQ(shown("<![CDATA[A <![CDATA[ B]]>", kFormatPlainText), "A <![CDATA[ B");
}

// Random texts of words and markup fragments: every word outside a tag,
// comment or hidden element comes out, in order, never split.
TEST(HtmlText, KeepsEveryWordOfRandomMarkup) {
  static const char* const markup[] = {"<u>", "</small>", "<span>", "</span>", "<sub>", "<a href=\"x>y\">", "</a>",
                                       "<i>", "</em>", "<code>", "<abbr title='t'>", "<q>", "</q>", "<mark>"};
  static const char* const texts[] = {"&lt;", "&gt;", "&amp;", "<", " < ", "<=", ">", "5", "-"};
  std::mt19937 random(53);
  for (int run = 0; run < 20000; ++run) {
    std::string in, want;
    const int count = static_cast<int>(random() % 10);
    for (int k = 0; k < count; ++k) {
      if (random() % 2) {
        in += markup[random() % std::size(markup)];
      } else {
        const size_t t = random() % std::size(texts);
        in += texts[t];
        want += t == 0 ? "<" : t == 1 ? ">" : t == 2 ? "&" : texts[t];
      }
    }
    auto squeeze = [](std::string s) {
      std::string out;
      for (char c : s) if (c != ' ') out += c;
      return out;
    };
    ASSERT_EQ(squeeze(html(in)), squeeze(want)) << in;
  }
}

}  // namespace
}  // namespace bw
