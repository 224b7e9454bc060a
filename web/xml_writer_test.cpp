// web/xml_writer_test.cpp - the XML writer, byte for byte.
#include "web/xml_writer.h"

#include <gtest/gtest.h>

#include "web/web_test_support.h"

namespace bw {
namespace {

class XmlWriterTest : public WebTest {
 protected:
  std::string write(std::string_view xml, bool noDecode = true) {
    auto root = parse(xml);
    return root ? str(createXMLintoString(*root, &utf8_, noDecode)) : "<parse failed>";
  }
};

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

TEST_F(XmlWriterTest, EmptyRootGivesTheDeclaration) {
  webDataRoot root;
  EXPECT_EQ(str(createXMLintoString(root, &utf8_, true)), kDeclaration);
  expectRaise([&] { createXMLintoLinkedStrings(root, nullptr, true); }, "EPU",
              "createXMLintoLinkedStrings(); useEncoding=NIL");
  expectRaise([&] { createXMLintoString(root, nullptr, true); }, "EPU",
              "createXMLintoLinkedStrings(); useEncoding=NIL");
  StrChain chain = createXMLintoLinkedStrings(root, &latin1_, true);
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ(str(chain[0]), "");
  EXPECT_EQ(str(chain[1]), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n");
}

TEST_F(XmlWriterTest, ElementsAttributesAndText) {
  EXPECT_EQ(write("<a x=\"1\" y='2'><b/>x<c>y</c>z</a>"),
            std::string(kDeclaration) + "<a x=\"1\" y=\"2\"><b/>x<c>y</c>z</a>");
  EXPECT_EQ(write("<rss><dc:creator>me</dc:creator></rss>"),
            std::string(kDeclaration) + "<rss><dc:creator>me</dc:creator></rss>");
  // Escapes survive with noDecode; without it "&amp;" alone is written as "&".
  EXPECT_EQ(write("<a>x &amp; y</a>"), std::string(kDeclaration) + "<a>x &amp; y</a>");
  EXPECT_EQ(write("<a>x &amp; y</a>", false), std::string(kDeclaration) + "<a>x & y</a>");
  // Text holding an angle bracket is escaped whole.
  EXPECT_EQ(write("<a>a &lt; b &amp; 'c'</a>", false),
            std::string(kDeclaration) + "<a>a &lt; b &amp; &apos;c&apos;</a>");
  // Attribute values are written as the getter returns them.
  EXPECT_EQ(write("<a t='say \"hi\"'/>"), std::string(kDeclaration) + "<a t=\"say \"hi\"\"/>");
  // A comment followed by an element, and top-level comments after the root;
  // an instruction the same way.
  EXPECT_EQ(write("<a><!-- c --><b/></a><!-- end -->\n"),
            std::string(kDeclaration) + "<a><!-- c --><b/></a><!-- end -->\n");
  EXPECT_EQ(write("<a><?pi x?><b/></a>"), std::string(kDeclaration) + "<a><?pi x?><b/></a>");
}

TEST_F(XmlWriterTest, EmptiedChildrenListGetsAnEndTag) {
  auto root = parse("<a><b/></a>");
  ASSERT_TRUE(root);
  std::unique_ptr<webDataNode> b = root->head()->getFirstChild()->remove();
  EXPECT_EQ(str(createXMLintoString(*root, nullptr, true)),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a></a>");
}

TEST_F(XmlWriterTest, PrintWritesThePiecesVerbatim) {
  auto root = parse("<a t=\"%s%d\">100%</a>");
  ASSERT_TRUE(root);
  testing::internal::CaptureStdout();
  printXMLdocument(*root, &utf8_, true);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::string(kDeclaration) + "<a t=\"%s%d\">100%</a>");
}

TEST_F(XmlWriterTest, TargetCharsetAndLongPieces) {
  auto root = parse("<a t=\"caf\xC3\xA9\">&#x263A; \xE2\x82\xAC</a>");
  ASSERT_TRUE(root);
  EXPECT_EQ(str(createXMLintoString(*root, &latin1_, false)),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a t=\"caf\xE9\">? ?</a>");
  std::string longValue(5000, 'v');
  StrChain chain;
  linkStringF(chain, " %s=\"%s\"", "n", longValue.c_str());
  ASSERT_EQ(chain.size(), 1u);
  EXPECT_EQ(chain[0].length(), 5000 + 5);
}

TEST_F(XmlWriterTest, ParseWriteParseGivesTheSameTree) {
  const char* doc =
      "<rss version=\"2.0\"><channel><title>A &amp; B</title>\n<item><link>u?a=1&amp;b=2</link>"
      "<description><![CDATA[<p>x</p>]]></description></item><!-- c -->tail</channel></rss>";
  auto first = parse(doc);
  ASSERT_TRUE(first);
  Str written = createXMLintoString(*first, &utf8_, true);
  auto second = parse(written.view());
  ASSERT_TRUE(second);
  EXPECT_EQ(str(createXMLintoString(*second, &utf8_, true)), str(written));
}

}  // namespace
}  // namespace bw
