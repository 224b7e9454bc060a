// web/xhtml_text_test.cpp - xhtmlToString on Atom xhtml content.
#include "web/xhtml_text.h"

#include <gtest/gtest.h>

#include "web/web_test_support.h"

namespace bw {
namespace {

using XhtmlTextTest = WebTest;

TEST_F(XhtmlTextTest, ContentIsWrittenBackAsOneLine) {
  auto root = parse(
      "<entry><content type=\"xhtml\"><xhtml:div class=\"a&quot;b\">Hello <b>bold</b> world "
      "&amp; more</xhtml:div></content> after</entry>");
  ASSERT_TRUE(root);
  webDataNode* content = root->head()->getFirstChild();
  EXPECT_EQ(str(xhtmlToString(*content)),
            "<content type=\"xhtml\"><div class=\"a&quot;b\">Hello <b>bold</b> world &amp; "
            "more</div></content>");
  webDataNode* b = content->getFirstChild()->getFirstChild();
  EXPECT_EQ(str(xhtmlToString(*b)), "<b>bold</b>");
  expectRaise([&] { xhtmlToString(*root->head()); }, "BUG", "xhtmlToString(); node.parent=NIL");
}

// Markup comes back at most twice as long as the feed wrote it: quotes,
// CDATA sections and references stay as written.
TEST_F(XhtmlTextTest, MarkupIsWrittenTheWayASerializerWritesIt) {
  const struct {
    const char* inner;
    const char* markup;
  } cases[] = {
      {"a<br/>b<br></br>c<br />", "a<br/>b<br />c<br />"},
      {"<img src='x.png' alt='say \"hi\"'/>", "<img src=\"x.png\" alt='say \"hi\"'/>"},
      // Empty elements as written, nested and with attributes too.
      {"<x/>", "<x/>"},
      {"<x />", "<x />"},
      {"<x></x>", "<x></x>"},
      {"<x\n/>", "<x />"},
      {"<x a=\"1\" b='2'/>", "<x a=\"1\" b=\"2\"/>"},
      {"<x a=\"1\" />t<x a='1'></x>", "<x a=\"1\" />t<x a=\"1\"></x>"},
      {"<o><i/><i /><i></i></o>", "<o><i/><i /><i></i></o>"},
      {"<o/><o><o/></o>after", "<o/><o><o/></o>after"},
      {"<x/>tail<y/>", "<x/>tail<y/>"},
      {"<p title='&apos;\"&apos;'>\"q\"</p>", "<p title='&apos;\"&apos;'>\"q\"</p>"},
      {"<p title='a&amp;b &lt; c'></p>", "<p title=\"a&amp;b &lt; c\"></p>"},
      {"a<!-- note -->b<!--x-->", "ab"},
      {"<p>x<?pi data?>y</p>", "<p>xy</p>"},
      {"<code><![CDATA[a < b && c]]></code>", "<code><![CDATA[a < b && c]]></code>"},
      {"<p>x<![CDATA[<&<&<&<&<&]]>y</p>", "<p>x<![CDATA[<&<&<&<&<&]]>y</p>"},
      {"5 &lt; 7 &amp;&amp; 7 &gt; 5", "5 &lt; 7 &amp;&amp; 7 &gt; 5"},
      {"<br>x</br>", "<br>x</br>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inner);
    auto root = parse(std::string("<entry><content>") + c.inner + "</content></entry>");
    ASSERT_TRUE(root);
    EXPECT_EQ(str(xhtmlToString(*root->head()->getFirstChild())), std::string("<content>") + c.markup + "</content>");
    EXPECT_LE(std::string_view(c.markup).size(), 2 * std::string_view(c.inner).size());
  }
}

TEST_F(XhtmlTextTest, DeepContentNeedsNoRecursion) {
  std::string doc = "<entry><content>";
  for (int i = 0; i < 100000; ++i) doc += "<p>";
  for (int i = 0; i < 100000; ++i) doc += "</p>";
  doc += "</content></entry>";
  auto root = parse(doc);
  ASSERT_TRUE(root);
  Str markup = xhtmlToString(*root->head()->getFirstChild());
  EXPECT_EQ(markup.length(), 9 + 10 + 100000 * 7);
}

}  // namespace
}  // namespace bw
