// web/xml_reader_test.cpp - cXML: prolog and encodings, tag scanning, the
// tree it builds, its failure messages and line numbers.
#include "web/xml_reader.h"

#include <iconv.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "core/charset_files.h"
#include "web/web_dump.h"
#include "web/web_test_support.h"
#include "web/web_walk.h"
#include "web/xml_entities.h"

namespace bw {
namespace {

class XmlReaderTest : public WebTest {
 protected:
  void SetUp() override {
    WebTest::SetUp();
    reader_ = std::make_unique<cXML>(latin1_);
  }
  void TearDown() override {
    reader_.reset();
    WebTest::TearDown();
  }
  bool open(std::string_view xml) {
    buffer_.assign(xml);
    return reader_->open(buffer_.c_str(), static_cast<int32_t>(buffer_.size() + 1));
  }
  // Opens and parses; the message of the first failure, or "".
  std::string failure(std::string_view xml) {
    if (!open(xml)) return reader_->lastError();
    XmlParseResult r = reader_->parseDocument();
    return r.root ? std::string() : str(r.message);
  }
  std::unique_ptr<webDataRoot> parsed(std::string_view xml) {
    EXPECT_TRUE(open(xml)) << reader_->lastError();
    XmlParseResult r = reader_->parseDocument();
    EXPECT_TRUE(r.root) << str(r.message);
    return std::move(r.root);
  }

  // What reading a document gives: failure, message, line, and the tree
  // as stored and as decoded.
  struct Outcome {
    bool opened = false, parsed = false;
    std::string message, tree;
    int32_t line = 0;
    bool operator==(const Outcome&) const = default;
  };
  Outcome outcome(const std::string& doc) {
    Outcome o;
    o.opened = open(doc);
    if (!o.opened) return Outcome{false, false, reader_->lastError(), "", reader_->infoLineNumber()};
    XmlParseResult r = reader_->parseDocument();
    o.line = reader_->infoLineNumber();
    o.parsed = r.root != nullptr;
    o.message = str(r.message);
    if (r.root) o.tree = dumpWebTree(*r.root, utf8_, true) + dumpWebTree(*r.root, utf8_, false);
    return o;
  }

  std::unique_ptr<cXML> reader_;
  std::string buffer_;
};

TEST_F(XmlReaderTest, TokensAndAttributes) {
  XmlToken t = tagNextToken("br/", 0);
  EXPECT_EQ(str(t.token), "br");
  t = tagNextToken("br/", t.position);
  EXPECT_EQ(str(t.token), "/");
  EXPECT_TRUE(tagNextToken("br/", 3).token.isNil());
  EXPECT_EQ(str(tagNextToken("/channel x", 0).token), "/channel");
  t = tagNextToken("'a b'  c", 0);
  EXPECT_EQ(str(t.token), "'a b'");
  EXPECT_EQ(t.position, 7);
  expectRaise([] { tagNextToken("\"open", 0); }, "XML",
              "cXML; tagNextToken(); malformed XML, string not closed");

  XmlAttribute a = tagNextAttribute("a href = \"x y\" /", 2);
  EXPECT_EQ(str(a.name), "href");
  EXPECT_EQ(str(a.value), "x y");
  a = tagNextAttribute("a href = \"x y\" /", a.position);
  EXPECT_EQ(str(a.name), "/");
  EXPECT_TRUE(a.value.isNil());
  a = tagNextAttribute("a", 1);
  EXPECT_EQ(str(a.name), "");
  expectRaise([] { tagNextAttribute("a x=", 2); }, "XML",
              "cXML; tagNextAttribute(); malformed XML, unexpected end of document");
  expectRaise([] { tagNextAttribute("a x=y", 2); }, "XML",
              "cXML; tagNextAttribute(); malformed XML, expected string");
}

TEST_F(XmlReaderTest, PrologVersionAndByteOrderMark) {
  ASSERT_TRUE(open("\xEF\xBB\xBF<?xml version=\"1.0\"?><a/>"));
  EXPECT_EQ(str(reader_->infoVersion()), "1.0");
  ASSERT_TRUE(open("\xEF\xBB\xBF<a/>"));
  EXPECT_EQ(str(reader_->infoVersion()), "1.0");
  EXPECT_EQ(str(reader_->infoEncodingName()), "UTF-8");
  ASSERT_TRUE(open("<?xml version=\"1.1\" standalone=\"yes\"?><a/>"));
  EXPECT_EQ(str(reader_->infoVersion()), "1.1");
  // A version after the encoding is skipped like any other attribute.
  ASSERT_TRUE(open("<?xml encoding=\"UTF-8\" version=\"2.0\"?><a/>"));
  EXPECT_EQ(str(reader_->infoVersion()), "1.0");

  EXPECT_EQ(failure("<?xml version=\"2.0\"?><a/>"), "cXML.open(); unsupported XML version");
  EXPECT_EQ(failure("<?xml version=\"1.0\" encoding=\"klingon\"?><a/>"),
            "cXML.open(); the feed's encoding klingon is not supported");
  // A CDATA section where the first tag must stand is text, not a tag.
  EXPECT_EQ(failure("<![CDATA[>"), "cXML.open(); malformed XML, a CDATA section stands where an element must");
  EXPECT_EQ(failure("\xEF\xBB\xBF<![CDATA[x]]><a/>"),
            "cXML.open(); malformed XML, a CDATA section stands where an element must");
  EXPECT_EQ(failure("<?xml version=\"1.0\"><a/>"), "cXML.open(); malformed XML prolog (1)");
  EXPECT_EQ(failure("<?xml version=\"1.0\"? x><a/>"), "cXML.open(); malformed XML prolog (2)");
  EXPECT_EQ(failure("<?xml version=\"1.0\"?> <a"), "cXML.open(); malformed XML, a tag is not closed");
  EXPECT_FALSE(reader_->isOpen());
}

// What may stand before the declaration or the root, and the documents that
// hold nothing or a NUL inside: each opens, or fails with its reason.
TEST_F(XmlReaderTest, WhatStandsBeforeTheRootAndEmptyDocuments) {
  struct Case {
    std::string text;
    const char* failure;  // "" when it parses to a root "a"
  } cases[] = {
      {"\xEF\xBB\xBF\n<?xml version=\"1.0\"?><a/>", ""},
      {"\n\n  <?xml version=\"1.0\"?>\n<a/>", ""},
      {"<!-- made by hand -->\n<?xml version=\"1.0\"?><a/>", ""},
      {"\xEF\xBB\xBF <!-- one --> <!-- two -->\r\n<a/>", ""},
      {" \t<a/>", ""},
      {"", "cXML.open(); the document is empty"},
      {"\xEF\xBB\xBF \n", "cXML.open(); the document is empty"},
      {"<!-- open", "cXML.open(); a comment before the first element is not closed"},
      {"\xEF\xBB\xBF><a/>", "cXML.open(); malformed XML (1)"},
      {" text<a/>", "cXML.open(); malformed XML (1)"},
      {std::string("<a>\none</a>\0\0", 14), ""},
      {std::string("<a>\none</a>\0<b>", 15), "cXML.open(); NUL byte at line 2"},
      {std::string("<a>\none\0</a>", 13), "cXML.open(); NUL byte at line 2"},
      {std::string("\0<a/>", 5), "cXML.open(); NUL byte at line 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    buffer_ = c.text;
    const bool opened = reader_->open(buffer_.data(), static_cast<int32_t>(buffer_.size()));
    if (*c.failure) {
      EXPECT_FALSE(opened);
      EXPECT_EQ(reader_->lastError(), c.failure);
      continue;
    }
    ASSERT_TRUE(opened) << reader_->lastError();
    XmlParseResult r = reader_->parseDocument();
    ASSERT_TRUE(r.root) << str(r.message);
    EXPECT_EQ(str(r.root->head()->getName()), "a");
  }
}

TEST_F(XmlReaderTest, ByteOrderMarkWithLatin1DeclarationOpens) {
  auto root = parsed("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a>caf\xE9</a>");
  ASSERT_TRUE(root);
  EXPECT_EQ(str(root->head()->getText(&utf8_, false)), "caf\xC3\xA9");
  EXPECT_EQ(str(root->infoEncodingName()), "ISO-8859-1");
  EXPECT_EQ(str(root->infoDeclaredEncodingName()), "ISO-8859-1");
}

TEST_F(XmlReaderTest, NonAsciiHeaderOfAConvertedDocumentOpens) {
  // The first tag after the prolog holds a Latin-1 byte: offsets taken before
  // the conversion move with the text instead of failing the open.
  auto root = parsed("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><!-- caf\xE9 --><a t=\"\xE9\">x</a>");
  ASSERT_TRUE(root);
  ASSERT_TRUE(root->head());
  EXPECT_EQ(str(root->head()->getName()), "a");
  EXPECT_EQ(str(root->head()->getAttribute("t", &utf8_, false)), "\xC3\xA9");
}

TEST_F(XmlReaderTest, EncodingFallsBackToWindows1252) {
  auto root = parsed("<?xml version=\"1.0\" encoding=\"ISO_8859-1\"?><a>\x93q\x94</a>");
  ASSERT_TRUE(root);
  EXPECT_EQ(str(root->infoEncodingName()), "Windows-1252");
  EXPECT_EQ(str(root->infoDeclaredEncodingName()), "ISO_8859-1");
  EXPECT_EQ(str(root->head()->getText(&utf8_, false)), "\xE2\x80\x9Cq\xE2\x80\x9D");
  // Another ISO-8859 charset keeps its own table for every byte.
  root = parsed("<?xml version=\"1.0\" encoding=\"iso-8859-15\"?><a>\x93\xA4</a>");
  ASSERT_TRUE(root);
  EXPECT_EQ(str(root->head()->getText(&utf8_, false)), "\xC2\x93\xE2\x82\xAC");

  root = parsed("<a>caf\xE9</a>");
  ASSERT_TRUE(root);
  EXPECT_EQ(str(root->head()->getText(&utf8_, false)), "caf\xC3\xA9");
  EXPECT_EQ(str(root->infoEncodingName()), "Windows-1252");
  EXPECT_EQ(str(root->infoDeclaredEncodingName()), "UTF-8");

  // Stray bytes in a UTF-8 document: only they are read as Windows-1252
  // (81 has no character there), and offsets taken before stay right.
  root = parsed("<?xml version=\"1.0\"?><rss>\x93x\x94 \xE2\x82\xAC\x81<a>\x80\xE9</a></rss>");
  ASSERT_TRUE(root);
  EXPECT_EQ(str(root->infoEncodingName()), "UTF-8");
  EXPECT_TRUE(root->infoDeclaredEncodingName().isNil());
  EXPECT_EQ(str(root->head()->getText(&utf8_, false)), "\xE2\x80\x9Cx\xE2\x80\x9D \xE2\x82\xAC?");
  EXPECT_EQ(str(root->head()->getFirstChild()->getText(&utf8_, false)), "\xE2\x82\xAC\xC3\xA9");

  root = parsed("<?xml version=\"1.0\" encoding=\"utf-8\"?><a>caf\xC3\xA9</a>");
  ASSERT_TRUE(root);
  EXPECT_EQ(str(root->infoEncodingName()), "utf-8");
  EXPECT_TRUE(root->infoDeclaredEncodingName().isNil());
  EXPECT_EQ(str(root->head()->getText(&utf8_, false)), "caf\xC3\xA9");
  EXPECT_EQ(str(root->head()->getText(nullptr, false)), "caf\xE9");
}

TEST_F(XmlReaderTest, DeclaredCharsetsConvertThroughTheirTables) {
  const std::string dir = std::string(BRINDLEWORK_TESTDATA_DIR) + "/charsets/";
  if (!std::ifstream(dir + "8859-2.txt")) GTEST_SKIP() << "test corpus not found: " << dir;
  const std::map<std::string, std::string> files = {{"ISO-8859-2", "8859-2.txt"},
                                                    {"Windows-1251", "cp1251.txt"}};
  setCharsetFileReader([&](const std::string& path) -> std::optional<std::string> {
    for (const auto& [name, file] : files) {
      if (path.ends_with("/" + name) || path.ends_with("/" + name + ".txt")) {
        return readRegularFile(dir + file);
      }
    }
    return std::nullopt;
  });
  auto latin2 = parsed("<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?><a>\xB1\xE6</a>");
  auto cyrillic = parsed("<?xml version=\"1.0\" encoding=\"Windows-1251\"?><a>\xC0\xE1</a>");
  setCharsetFileReader(nullptr);
  ASSERT_TRUE(latin2 && cyrillic);
  EXPECT_EQ(str(latin2->head()->getText(&utf8_, false)), "\xC4\x85\xC4\x87");  // a-ogonek c-acute
  EXPECT_EQ(str(cyrillic->head()->getText(&utf8_, false)), "\xD0\x90\xD0\xB1");
  EXPECT_EQ(str(cyrillic->head()->getText(&latin1_, false)), "??");
}

// Feeds in the system's charsets and common spellings of the built-in ones;
// the expected UTF-8 is python's decoding of the same bytes.
TEST_F(XmlReaderTest, SystemCharsetsAndSpellingsConvert) {
  struct Case {
    const char* encoding;
    const char* text;
    const char* utf8;  // NIL: open fails
  };
  const Case cases[] = {
      {"windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0 \x97 \xB8\xE6",
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80 \xE2\x80\x94 \xD1\x91\xD0\xB6"},
      {"KOI8-R", "\xF0\xD2\xC9\xD7\xC5\xD4, \xCD\xC9\xD2 \xA3\xD6",
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80 \xD1\x91\xD0\xB6"},
      {"ISO-8859-2", "Za\xBF\xF3\xB3\xE6 g\xEA\xB6l\xB1 ja\xBC\xF1",
       "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84"},
      {"cp1252", "\x80\x93x\x94", "\xE2\x82\xAC\xE2\x80\x9Cx\xE2\x80\x9D"},
      {"US-ASCII", "plain", "plain"},
      {"latin1", "caf\xE9", "caf\xC3\xA9"},
      {"ISO8859-1", "caf\xE9", "caf\xC3\xA9"},
      // Bytes 80..9F in a Latin-1 document are read as Windows-1252.
      {"LATIN1", "\x93q\x94", "\xE2\x80\x9Cq\xE2\x80\x9D"},
      {"iso8859-1", "\x93q\x94", "\xE2\x80\x9Cq\xE2\x80\x9D"},
      {"utf8", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"UTF8", "caf\xE9", "caf\xC3\xA9"},  // not UTF-8 after all
      {"Shift_JIS", "\x82\xA0", "\xE3\x81\x82"},
      {"x-unknown", "a", nullptr},
  };
  for (const Case& c : cases) {
    std::string xml = std::string("<?xml version=\"1.0\" encoding=\"") + c.encoding + "\"?><a>" + c.text + "</a>";
    if (!c.utf8) {
      EXPECT_EQ(failure(xml), std::string("cXML.open(); the feed's encoding ") + c.encoding + " is not supported");
      continue;
    }
    auto root = parsed(xml);
    ASSERT_TRUE(root) << c.encoding;
    EXPECT_EQ(str(root->head()->getText(&utf8_, false)), c.utf8) << c.encoding;
  }
}

// The bytes of a UTF-8 text in another encoding, by the system's converter.
std::string encodedIn(const std::string& utf8, const char* encoding) {
  iconv_t cd = iconv_open(encoding, "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << encoding;
  std::string out(utf8.size() * 4 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* to = out.data();
  size_t toLeft = out.size();
  EXPECT_NE(iconv(cd, &in, &inLeft, &to, &toLeft), static_cast<size_t>(-1)) << encoding;
  iconv(cd, nullptr, nullptr, &to, &toLeft);
  iconv_close(cd);
  out.resize(out.size() - toLeft);
  return out;
}

// Feeds written in each encoding (the whole document, declaration included,
// converted from UTF-8) read back to the same title; a reference past
// 2^32 is U+FFFD.
TEST_F(XmlReaderTest, FeedsInEveryEncodingReadToTheirTitle) {
  const struct {
    const char* encoding;  // what the bytes are in
    const char* declared;  // the declaration's encoding; nullptr: no declaration
    const char* bom;       // bytes before the document
    std::string title;
  } cases[] = {
      {"ISO-8859-2", "ISO-8859-2", "", "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84"},
      {"ISO-8859-13", "iso-8859-13", "", "\xC4\x84\xC4\x8D\xC4\x99\xC4\x97\xC4\xAF\xC5\xA1\xC5\xB3\xC5\xAB\xC5\xBE \xE2\x80\x9Dq\xE2\x80\x9C"},
      {"ISO-8859-15", "ISO-8859-15", "", "\xE2\x82\xAC 5 \xC5\x92uvre \xC5\xA0"},
      {"ISO-8859-16", "ISO-8859-16", "", "\xC8\x98i \xC8\x9B \xE2\x82\xAC"},
      {"KOI8-R", "KOI8-R", "", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"SHIFT_JIS", "Shift_JIS", "", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82\xB9"},
      {"EUC-JP", "EUC-JP", "", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82\xB9"},
      // The "ー" of this title is "!<" in the text's seven-bit bytes.
      {"ISO-2022-JP", "ISO-2022-JP", "", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE \xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82\xB9"},
      {"GB2312", "gb2312", "", "\xE4\xB8\xAD\xE6\x96\x87\xE6\x96\xB0\xE9\x97\xBB"},
      {"GBK", "GBK", "", "\xE4\xB8\xAD\xE6\x96\x87\xE6\x96\xB0\xE9\x97\xBB"},
      {"GB18030", "GB18030", "", "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80"},
      {"BIG5", "Big5", "", "\xE4\xB8\xAD\xE6\x96\x87\xE6\x96\xB0\xE8\x81\x9E"},
      {"EUC-KR", "EUC-KR", "", "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 \xEB\x89\xB4\xEC\x8A\xA4"},
      {"UTF-16LE", "UTF-16", "\xFF\xFE", "\xC3\x9Cn\xC3\xAF \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"},
      {"UTF-16BE", "utf-16", "\xFE\xFF", "\xC3\x9Cn\xC3\xAF \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"},
      {"UTF-16LE", nullptr, "", "\xC3\x9Cn\xC3\xAF \xE6\x97\xA5\xE6\x9C\xAC"},
      {"UTF-16BE", "UTF-16", "", "\xC3\x9Cn\xC3\xAF \xE6\x97\xA5\xE6\x9C\xAC"},
      {"UTF-32LE", "UTF-32", "\xFF\xFE", "\xC3\x9Cn\xC3\xAF \xF0\x9F\x98\x80"},
      {"UTF-32BE", nullptr, "", "\xC3\x9Cn\xC3\xAF \xF0\x9F\x98\x80"},
      // A declaration of UTF-16 over single bytes is read as UTF-8.
      {"UTF-8", "UTF-16", "", "caf\xC3\xA9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.encoding) + " declared " + (c.declared ? c.declared : "-"));
    const std::string declaration =
        c.declared ? std::string("<?xml version=\"1.0\" encoding=\"") + c.declared + "\"?>\n" : std::string();
    const std::string utf8 = declaration + "<rss version=\"2.0\"><channel><title>" + c.title +
                             " &amp; &#4294967356;</title></channel></rss>";
    std::string bom = c.bom;
    if (std::string_view(c.encoding).starts_with("UTF-32") && !bom.empty()) {
      bom = c.encoding[6] == 'L' ? std::string("\xFF\xFE\0\0", 4) : std::string("\0\0\xFE\xFF", 4);
    }
    auto root = parsed(bom + encodedIn(utf8, c.encoding));
    ASSERT_TRUE(root && root->head() && root->head()->getFirstChild());
    EXPECT_EQ(str(root->head()->getFirstChild()->getFirstChild()->getText(&utf8_, false)),
              c.title + " & \xEF\xBF\xBD");
  }
}

// The server's charset reads a document that neither a byte-order mark
// nor a declaration names and that is not UTF-8; it never overrides them.
TEST_F(XmlReaderTest, TheServersCharsetNamesAnUndeclaredDocument) {
  const std::string sjis = encodedIn("<a>\xE6\x97\xA5\xE6\x9C\xAC</a>", "SHIFT_JIS");
  const struct {
    std::string document;
    const char* charset;
    const char* want;
  } cases[] = {
      {sjis, "Shift_JIS", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"<a>\xB1\xE6</a>", "iso-8859-2", "\xC4\x85\xC4\x87"},
      {"<a>\x93q\x94</a>", "ISO-8859-1", "\xE2\x80\x9Cq\xE2\x80\x9D"},
      // UTF-8 stays UTF-8, and a declaration holds.
      {"<a>caf\xC3\xA9</a>", "iso-8859-2", "caf\xC3\xA9"},
      {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80</a>", "Shift_JIS", "\xE2\x82\xAC"},
      {"<a>\xB1\xE6</a>", "", "\xC2\xB1\xC3\xA6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charset);
    reader_->setTransportCharset(c.charset);
    auto root = parsed(c.document);
    ASSERT_TRUE(root && root->head());
    EXPECT_EQ(str(root->head()->getText(&utf8_, false)), c.want);
  }
  reader_->setTransportCharset("");
}

// A single-byte document is read where it stands, each string converted as
// the tree takes it; converting the whole text first and reading that as
// UTF-8 gives the same tree, failures and line numbers.
TEST_F(XmlReaderTest, SingleByteDocumentsReadLikeTheirWholeConversion) {
  const char* fragments[] = {"<a>", "</a>", "<b x=\"", "\">", "'", "=", "/>", "\xE9", "\x80", "\x81", "\xFF", "\n",
                             "<\xE9>", "</\xE9>", "<\x81/>", "<?p\xE9?>", "<!--\xE9-->", "<![CDATA[\xE9]]>", " ", "x:", "<",
                             "\xE9 words past the sixteen bytes of a short string \xE9"};
  std::mt19937 random(3);
  for (const char* charset : {"ISO-8859-1", "KOI8-R", "US-ASCII"}) {
    for (int round = 0; round < 1000; ++round) {
      std::string body = "<r>";
      for (int n = static_cast<int>(random() % 10); n > 0; --n) body += fragments[random() % std::size(fragments)];
      // A Latin-1 document with bytes 80..9F, an ASCII one with any byte
      // above 7F, is read as Windows-1252.
      const bool c1 = (std::string_view(charset) == "ISO-8859-1" && body.find_first_of("\x80\x81") != std::string::npos) ||
                      (std::string_view(charset) == "US-ASCII" &&
                       std::any_of(body.begin(), body.end(), [](char c) { return c & 0x80; }));
      cCharset table;
      ASSERT_TRUE(table.load(c1 ? "Windows-1252" : charset, false)) << charset;
      const std::string converted(
          convertStringEncoding(body, table, utf8_, static_cast<int32_t>(body.size()), '?', false, false, nullptr, 0).view());
      const std::string head = "<?xml version=\"1.0\" encoding=\"";
      ASSERT_EQ(outcome(head + charset + "\"?>\n" + body), outcome(head + "UTF-8\"?>\n" + converted)) << body;
    }
  }
}

TEST_F(XmlReaderTest, PreambleIsSkipped) {
  auto root = parsed(
      "<?xml version=\"1.0\"?>\n<!-- c -->\n<?pi x?>\n<!DOCTYPE rss>\n<rss version=\"2.0\"/>");
  ASSERT_TRUE(root);
  EXPECT_EQ(str(root->head()->getName()), "rss");
  EXPECT_EQ(root->head(), root->tail());
}

// Well-formed documents the tag scanner once refused: a DOCTYPE with an
// internal subset (skipped, its entities not expanded), a ">" inside a
// quoted attribute value, and processing instructions inside the document.
TEST_F(XmlReaderTest, WellFormedTagsAreRead) {
  const char* subsets[] = {
      "<!-- c --><!DOCTYPE a [<!ENTITY x \"y\">]><a>&x;</a>",
      "<!DOCTYPE a [<!ENTITY x \"]>\"><!-- ]> --><!ATTLIST a b CDATA '>'>] ><a>&x;</a>",
      "<!DOCTYPE a SYSTEM \"a.dtd\" [\n<!ELEMENT a (#PCDATA)>\n]>\n<a>&x;</a>",
  };
  for (const char* doc : subsets) {
    auto root = parsed(std::string("<?xml version=\"1.0\"?>") + doc);
    ASSERT_TRUE(root) << doc;
    EXPECT_EQ(str(root->head()->getName()), "a") << doc;
    EXPECT_EQ(str(root->head()->getText(&utf8_, false)), "&x;") << doc;
  }
  auto outline = parsed("<opml><outline text=\"Tech > Linux\" b = '>'/></opml>");
  ASSERT_TRUE(outline);
  webDataNode* o = outline->head()->getFirstChild();
  EXPECT_EQ(str(o->getAttribute("text", &utf8_, false)), "Tech > Linux");
  EXPECT_EQ(str(o->getAttribute("b", &utf8_, false)), ">");
  EXPECT_EQ(failure("<a t=\"x<y\"/>"), "cXML.open(); malformed XML, an attribute value is not closed");
  EXPECT_EQ(failure("<a>\"x\" > y</a>"), "");  // quotes in text are only text

  auto pi = parsed("<a>x<?php echo 1; ?>y<b/></a>");
  ASSERT_TRUE(pi);
  webDataNode* instruction = pi->head()->getFirstChild();
  EXPECT_EQ(str(instruction->getName()), "?php echo 1; ?");
  EXPECT_EQ(str(instruction->infoText()), "y");
  EXPECT_FALSE(instruction->getFirstAttribute(nullptr, true).name);
  EXPECT_EQ(str(instruction->getNext()->getName()), "b");
  EXPECT_EQ(instruction->getNext()->getParent(), pi->head());
}

TEST_F(XmlReaderTest, MixedContentTree) {
  auto root = parsed("<a><b/>x<c>y</c>z</a>");
  ASSERT_TRUE(root);
  webDataNode* a = root->head();
  EXPECT_EQ(str(a->infoText()), "");
  EXPECT_TRUE(a->infoTextAfterEndTag().isNil() == false);  // "" after the end tag
  webDataNode* b = a->getFirstChild();
  webDataNode* c = b->getNext();
  EXPECT_EQ(str(b->getName()), "b");
  EXPECT_EQ(str(b->infoText()), "");
  EXPECT_EQ(str(b->infoTextAfterEndTag()), "x");
  EXPECT_FALSE(b->hasChildrenList());
  EXPECT_EQ(str(c->infoText()), "y");
  EXPECT_EQ(str(c->infoTextAfterEndTag()), "z");
  EXPECT_EQ(c->getNext(), nullptr);
  EXPECT_EQ(c->getParent(), a);
  EXPECT_EQ(a->getParent(), nullptr);
  EXPECT_EQ(c->getRoot(), root.get());
}

TEST_F(XmlReaderTest, NamespacesCommentsAndCdata) {
  auto root = parsed("<rss xmlns:dc=\"u\"><dc:creator>me</dc:creator><!-- n -->t"
                     "<d><![CDATA[<b>&amp;</b>]]></d></rss>");
  ASSERT_TRUE(root);
  webDataNode* rss = root->head();
  EXPECT_EQ(str(rss->getAttribute("xmlns:dc", &utf8_, true)), "u");
  webDataNode* creator = rss->getFirstChild();
  EXPECT_TRUE(creator->isNamed("creator", "dc"));
  webDataNode* comment = creator->getNext();
  EXPECT_EQ(str(comment->getName()), "!-- n --");
  EXPECT_EQ(str(comment->infoText()), "t");
  webDataNode* d = comment->getNext();
  EXPECT_EQ(str(d->infoText()), "<![CDATA[<b>&amp;</b>]]>");
  EXPECT_FALSE(d->hasChildrenList());
  EXPECT_EQ(str(d->getText(&utf8_, false)), "<b>&</b>");

  EXPECT_EQ(failure("<dc:creator>me</creator>"),
            "cXML.parseDocument(); malformed XML, mismatched closing tag (2)");
  EXPECT_EQ(failure("<a><d><![CDATA[<b></d></a>"), "cXML.parseDocument(); malformed XML, a CDATA section is not closed");
}

// XML reads CR LF and a lone CR as LF wherever they stand (text, CDATA,
// tags, attribute values, comments), in every encoding: a document reads
// as the same document written with LF; a reference "&#13;" stays a CR.
TEST_F(XmlReaderTest, LineEndsReadAsLineFeeds) {
  const char* fragments[] = {"<a>", "</a>", "\r", "\r\n", "\n", "\r\r\n", "<![CDATA[x\r\ny\r]]>", "<b x=\"1\r\n2\r\"/>",
                             "<c\r\ny='\r'\r/>", "<!--\r-->", "<?p\r?>", "&#13;", "&#xD;\r\n", "\xC3\xA9", "t"};
  auto withLineFeeds = [](std::string doc) {
    for (size_t i = 0; (i = doc.find('\r', i)) != std::string::npos;) doc.replace(i, doc.compare(i, 2, "\r\n") ? 1 : 2, "\n");
    return doc;
  };
  std::mt19937 random(13);
  for (const char* encoding : {"UTF-8", "ISO-8859-1", "UTF-16LE"}) {
    for (int round = 0; round < 300; ++round) {
      std::string body = "\r\n<r>";
      for (int n = static_cast<int>(random() % 10); n > 0; --n) body += fragments[random() % std::size(fragments)];
      body += round % 3 ? "</r>\r\n" : "\r\n<!-- cut -->";
      const std::string doc = std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?>" + body;
      EXPECT_EQ(outcome(encodedIn(doc, encoding)), outcome(encodedIn(withLineFeeds(doc), encoding))) << encoding << " " << doc;
    }
  }
  struct Case {
    const char* doc;
    const char* stored;   // the root's text as the tree holds it
    const char* decoded;  // as the getters give it
  } cases[] = {
      {"<a>x\r\ny\rz\r\r\n</a>", "x\ny\nz\n\n", "x\ny\nz\n\n"},
      {"<a><![CDATA[x\r\ny\rz]]></a>", "<![CDATA[x\ny\nz]]>", "x\ny\nz"},
      {"<a>x&#13;\r\ny&#xD;&#10;</a>", "x&#13;\ny&#xD;&#10;", "x\r\ny\r\n"},
  };
  for (const Case& c : cases) {
    auto root = parsed(c.doc);
    ASSERT_TRUE(root) << c.doc;
    EXPECT_EQ(str(root->head()->infoText()), c.stored) << c.doc;
    EXPECT_EQ(str(root->head()->getText(&utf8_, false)), c.decoded) << c.doc;
  }
  EXPECT_EQ(failure("<a>\r<b>\r\n\r</a>"), "cXML.parseDocument(); malformed XML, mismatched closing tag (1)");
  EXPECT_EQ(reader_->infoLineNumber(), 4);
}

TEST_F(XmlReaderTest, ParseFailures) {
  EXPECT_EQ(failure("<a x=\"1\" x=\"2\"/>"),
            "cXML.parseDocument(); malformed XML, attribute duplicate found");
  EXPECT_EQ(failure("<a x=\"1\" X=\"2\"/>"),
            "cXML.parseDocument(); malformed XML, attribute duplicate found");
  EXPECT_EQ(failure("<a checked/>"), "cXML.parseDocument(); malformed XML, attribute missing value");
  EXPECT_EQ(failure("<a / x=\"1\">"),
            "cXML.parseDocument(); malformed XML, attributes after self-closing /");
  EXPECT_EQ(failure("<a x=1/>"), "cXML; tagNextAttribute(); malformed XML, expected string");
  EXPECT_EQ(failure("<a><b></a>"), "cXML.parseDocument(); malformed XML, mismatched closing tag (1)");
  EXPECT_EQ(failure("<a></a></x>"), "cXML.parseDocument(); malformed XML, mismatched closing tag (1)");
  EXPECT_EQ(failure("<a></a></>"), "cXML.parseDocument(); malformed XML, mismatched closing tag (3)");
  EXPECT_EQ(failure("<a>< ></a>"), "cXML.parseDocument(); malformed XML, empty tag");
  EXPECT_EQ(failure("<a>x<b</a>"),
            "cXML.parseDocument(); malformed XML, a \"<\" in the text starts no tag (write it as &lt;)");
  // The reader stays open at the failing place.
  EXPECT_TRUE(reader_->isOpen());

  cXML closed(latin1_);
  expectRaise([&] { closed.parseDocument(); }, "EMU", "cXML.parseDocument(); not open");
  cCharset unloaded;
  expectRaise([&] { cXML broken(unloaded); }, "BUG", "cXML.new(); failed to create systemCharset");
}

// A tag of 20,000 attributes is read whole, every value found by its name;
// one repeated at its end, in other letters, refuses it.
TEST_F(XmlReaderTest, TagsOfManyAttributes) {
  std::string tag = "<rss";
  for (int i = 0; i < 20'000; ++i) tag += " xmlns:n" + std::to_string(i) + "='" + std::to_string(i) + "'";
  auto root = parsed(tag + "/>");
  ASSERT_TRUE(root);
  webDataNode* rss = root->findNode("rss", nullptr, nullptr, nullptr);
  ASSERT_TRUE(rss);
  EXPECT_EQ(rss->infoAttributeCount(), 20'000);
  EXPECT_EQ(rss->getAttribute("XMLNS:N19999", nullptr, false), "19999");
  EXPECT_EQ(rss->getAttribute("xmlns:n7", nullptr, false), "7");
  EXPECT_EQ(failure(tag + " XMLNS:N0='again'/>"), "cXML.parseDocument(); malformed XML, attribute duplicate found");
}

// A document that ends inside an element was cut off: refused with that
// reason, whatever was cut, and every other failure of a tag names its own.
TEST_F(XmlReaderTest, CutDocumentsAndBrokenTagsSayWhy) {
  const std::string cut = "cXML.parseDocument(); the document ends before its last element is closed; it may have been cut off";
  const std::string malformed = "cXML.parseDocument(); malformed XML, ";
  const struct {
    const char* text;
    std::string failure;
  } cases[] = {
      {"<a>text", cut},
      {"<rss><channel><item><title>Second item ti", cut},
      {"<rss><channel><item><title>t</title></item>\n", cut},
      {"<a><b/>", cut},
      {"<a>x<![CDATA[y", "cXML.open(); malformed XML, a CDATA section is not closed"},
      {"<a>x<b/>y<![CDATA[z", malformed + "a CDATA section is not closed"},
      {"<a>x<!-- y", malformed + "a comment is not closed"},
      {"<a>x<b c=\"d>e", malformed + "an attribute value is not closed"},
      {"<a>x<b c='d", malformed + "an attribute value is not closed"},
      {"<a>x < y</a>", malformed + "a \"<\" in the text starts no tag (write it as &lt;)"},
      {"<a>x<b", malformed + "a tag is not closed"},
      {"<a>x<></a>", malformed + "an empty tag"},
  };
  for (const auto& c : cases) EXPECT_EQ(failure(c.text), c.failure) << c.text;
  EXPECT_TRUE(parsed("<a><b>x</b></a>\n<!-- after -->\n"));
}

// A comment is passed whole, whatever it holds, before the root, between
// elements and inside text; its text after it stays the element's.
TEST_F(XmlReaderTest, CommentsHoldingAnythingAreSkipped) {
  for (const char* comment : {"<!-- ====== -->", "<!-- = -->", "<!--a=b-->", "<!-- <b>x</b> -> \" ' -->", "<!---->"}) {
    const std::string c = comment;
    SCOPED_TRACE(c);
    auto root = parsed("<?xml version=\"1.0\"?>\n" + c + "\n<rss>" + c + "<d>a " + c + "b</d>" + c + "</rss>" + c);
    ASSERT_TRUE(root);
    webDataNode* d = root->head()->findChild("d", nullptr, nullptr, nullptr);
    ASSERT_TRUE(d);
    EXPECT_EQ(str(d->infoText()), "a ");
    EXPECT_EQ(str(d->getFirstChild()->infoText()), "b");
  }
}

TEST_F(XmlReaderTest, NextTagAndTextMayFail) {
  ASSERT_TRUE(open("<a>text<"));
  XmlTagAndText t = reader_->nextTagAndText(false);
  EXPECT_EQ(str(t.tag), "a");
  EXPECT_EQ(str(t.text), "text");
  EXPECT_TRUE(reader_->nextTagAndText(true).tag.isNil());
  expectRaise([&] { reader_->nextTagAndText(false); }, "XML", "cXML.nextTagOrText(); malformed XML");
}

// The tag's end as first written, one byte at a time: a ">" ends the tag, a
// "<" drops it, and a quote after "=" and white space runs to its match.
size_t modelTagEnd(std::string_view all, size_t p) {
  bool afterEquals = false;
  for (size_t i = p + 1; i < all.size(); ++i) {
    const char c = all[i];
    if (c == '>') return i;
    if (c == '<') return std::string_view::npos;
    if (c == '=') {
      afterEquals = true;
    } else if (afterEquals && (c == '"' || c == '\'')) {
      size_t close = all.find(c, i + 1);
      if (close == std::string_view::npos || all.substr(i, close - i).find('<') != std::string_view::npos) return std::string_view::npos;
      i = close;
      afterEquals = false;
    } else if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
      afterEquals = false;
    }
  }
  return std::string_view::npos;
}

// The reader marks the texts with nothing to decode; read through the
// getters, every text must still come out as the translate engine decodes it.
TEST_F(XmlReaderTest, MarkedTextsReadAsTheEngineDecodesThem) {
  const char* fragments[] = {"<a>", "</a>", "<b/>", "<c x=\"&amp;\"/>", "<!-- c -->", "<?p q?>", "&amp;", "&lt;",
                             "&no", "\r", "\r\n", "]]>", "]", "<![CDATA[a&amp;]]>", " t ", "\xC3\xA9", "\n\t",
                             "a run of text longer than the sixty-four bytes of a long scan's first step"};
  std::mt19937 random(7);
  int parsedDocuments = 0;
  for (int round = 0; round < 2000; ++round) {
    std::string doc = "<r>";
    for (int n = static_cast<int>(random() % 12); n > 0; --n) doc += fragments[random() % std::size(fragments)];
    if (!open(doc + "</r>")) continue;
    XmlParseResult r = reader_->parseDocument();
    if (!r.root) continue;
    ++parsedDocuments;
    auto expectEngine = [&](NodeText raw, const Str& read) {
      const Str engine = decodeEntityTextByEngine(raw, utf8_, utf8_, false, *xmlEscCodeMatcher(),
                                                  *sharedXmlEntityMap(), true);
      EXPECT_EQ(str(read), str(engine)) << doc;
      EXPECT_EQ(read.capacity(), engine.capacity()) << doc;
    };
    walkNodes<int>(
        r.root->head(), true,
        [&](webDataNode* n) {
          expectEngine(n->infoText(), n->getText(&utf8_, false));
          if (n->infoTextAfterEndTag()) expectEngine(n->infoTextAfterEndTag(), n->getTextAfterEndTag(&utf8_, false));
          return 0;
        },
        [](webDataNode*, int) {});
  }
  EXPECT_GT(parsedDocuments, 500);
}

TEST_F(XmlReaderTest, TagScanMatchesTheByteModel) {
  const char* fragments[] = {"a", "=", "\"", "'", "<", ">", " ", "\n", "/", "b=\"", "= 'x'", "\xD0\x96", "0123456789abcdef"};
  std::mt19937 random(11);
  for (int round = 0; round < 20000; ++round) {
    std::string doc = "<r><";
    for (int n = static_cast<int>(random() % 14); n > 0; --n) doc += fragments[random() % std::size(fragments)];
    ASSERT_TRUE(open(doc));
    ASSERT_EQ(str(reader_->nextTagAndText(false).tag), "r");
    const size_t end = modelTagEnd(doc, 3);
    const Str tag = reader_->nextTagAndText(true).tag;
    if (end == std::string_view::npos || end == 4) {
      ASSERT_TRUE(tag.isNil()) << doc;
    } else {
      ASSERT_EQ(str(tag), doc.substr(4, end - 4)) << doc;
    }
  }
}

TEST_F(XmlReaderTest, LineNumbers) {
  EXPECT_FALSE(open("<?xml version=\"9\"\n\n?><a/>"));
  EXPECT_EQ(reader_->infoLineNumber(), 3);
  EXPECT_FALSE(reader_->isOpen());

  ASSERT_TRUE(open("<rss>\n<channel>\n<item a=\"1\" a=\"2\">text\nmore\n</item></channel></rss>"));
  XmlParseResult r = reader_->parseDocument();
  EXPECT_FALSE(r.root);
  EXPECT_EQ(str(r.message), "cXML.parseDocument(); malformed XML, attribute duplicate found");
  EXPECT_EQ(reader_->infoLineNumber(), 5);
  reader_->close();
  EXPECT_EQ(reader_->infoLineNumber(), -1);
}

TEST_F(XmlReaderTest, ReadingStopsAtTheLength) {
  const char partial[] = {'<', 'a', '/', '>', 'x', 'y'};
  ASSERT_TRUE(reader_->open(partial, 5));
  XmlParseResult r = reader_->parseDocument();
  ASSERT_TRUE(r.root);
  EXPECT_EQ(str(r.root->head()->infoTextAfterEndTag()), "x");
}

TEST_F(XmlReaderTest, ConvertTextUsesTheReadersTargetAndDecoder) {
  EXPECT_EQ(str(reader_->convertText("caf\xC3\xA9 &amp;", nullptr, false, false)), "caf\xE9 &");
  EXPECT_EQ(str(reader_->convertText("caf\xC3\xA9 &amp;", &utf8_, true, false)), "caf\xC3\xA9 &amp;");
  EXPECT_TRUE(reader_->convertText("plain", &utf8_, true, true).isNil());
  EXPECT_TRUE(reader_->convertText("plain", &utf8_, false, true).isNil());
  EXPECT_EQ(str(reader_->convertText("plain", &utf8_, false, false)), "plain");
  webDataFormat base;
  EXPECT_TRUE(base.convertText("x", nullptr, false, false).isNil());
  EXPECT_EQ(base.infoLineNumber(), 0);
}

TEST_F(XmlReaderTest, DefaultTargetIsTheSystemEncoding) {
  cXML reader;
  EXPECT_FALSE(reader.infoSystemCharset().infoName().isNil());
}

TEST_F(XmlReaderTest, RootsOutliveTheirReader) {
  std::unique_ptr<webDataRoot> root;
  {
    cXML reader(utf8_);
    std::string doc = "<a>&eacute;</a>";
    ASSERT_TRUE(reader.open(doc.c_str(), static_cast<int32_t>(doc.size() + 1)));
    root = reader.parseDocument().root;
  }
  ASSERT_TRUE(root);
  EXPECT_EQ(str(root->head()->getText(nullptr, false)), "\xC3\xA9");
  EXPECT_STREQ(root->getCharset()->className(), "cEncodingUTF");
}

// The UTF-8 well-formedness test of Unicode Table 3-7, written out plainly.
bool referenceWellFormed(std::string_view s) {
  size_t i = 0;
  auto in = [&](size_t k, int lo, int hi) {
    return k < s.size() && static_cast<unsigned char>(s[k]) >= lo &&
           static_cast<unsigned char>(s[k]) <= hi;
  };
  while (i < s.size()) {
    if (in(i, 0x00, 0x7F)) { i += 1; continue; }
    if (in(i, 0xC2, 0xDF) && in(i + 1, 0x80, 0xBF)) { i += 2; continue; }
    if (in(i, 0xE0, 0xE0) && in(i + 1, 0xA0, 0xBF) && in(i + 2, 0x80, 0xBF)) { i += 3; continue; }
    if ((in(i, 0xE1, 0xEC) || in(i, 0xEE, 0xEF)) && in(i + 1, 0x80, 0xBF) && in(i + 2, 0x80, 0xBF)) { i += 3; continue; }
    if (in(i, 0xED, 0xED) && in(i + 1, 0x80, 0x9F) && in(i + 2, 0x80, 0xBF)) { i += 3; continue; }
    if (in(i, 0xF0, 0xF0) && in(i + 1, 0x90, 0xBF) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF)) { i += 4; continue; }
    if (in(i, 0xF1, 0xF3) && in(i + 1, 0x80, 0xBF) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF)) { i += 4; continue; }
    if (in(i, 0xF4, 0xF4) && in(i + 1, 0x80, 0x8F) && in(i + 2, 0x80, 0xBF) && in(i + 3, 0x80, 0xBF)) { i += 4; continue; }
    return false;
  }
  return true;
}

TEST_F(XmlReaderTest, Utf8CheckAgreesWithTheReferenceOnShortSequences) {
  // Every byte pair, and every lead byte with the edge continuation bytes,
  // alone and after an ASCII run that the fast path skips.
  const unsigned char edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      std::string two{static_cast<char>(a), static_cast<char>(b)};
      ASSERT_EQ(isWellFormedUTF8(two), referenceWellFormed(two)) << a << " " << b;
      if (a < 0xE0) continue;
      for (unsigned char c : edges) {
        for (unsigned char d : edges) {
          std::string four = two + static_cast<char>(c) + static_cast<char>(d);
          ASSERT_EQ(isWellFormedUTF8(four), referenceWellFormed(four)) << a << " " << b;
          std::string padded = "0123456789abcdef" + four;
          ASSERT_EQ(isWellFormedUTF8(padded), referenceWellFormed(padded)) << a << " " << b;
        }
      }
    }
  }
}

TEST_F(XmlReaderTest, Utf8CheckAgreesWithTheReferenceOnLongTexts) {
  // ASCII runs of every length around the sixteen- and thirty-two-byte
  // blocks, between sequences well-formed or not.
  const char* fragments[] = {"\xD0\x96", "\xC2\x80\xDF\xBF", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                             "\xC0\x80", "\xED\xA0\x80", "\xE2\x82", "\x80", "\xFF", "\xC2", "\xD0\x96\x96"};
  std::mt19937 random(5);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int n = static_cast<int>(random() % 6); n > 0; --n) {
      text.append(random() % 72, 'a');
      text += fragments[random() % (round % 2 ? std::size(fragments) : 4)];
    }
    ASSERT_EQ(isWellFormedUTF8(text), referenceWellFormed(text)) << text;
  }
}

TEST_F(XmlReaderTest, Utf8CheckOfOpenAgreesAcrossItsBlocks) {
  // open() checks the UTF-8 a block of 64 KiB at a time while it looks for
  // the NUL: sequences cut by a block's end, stray bytes near it, and NULs
  // padding the document (a byte behind them refuses it).
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><l>";
  const char* fragments[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xE2\x82", "\x92", "\xC3\xA9\x92"};
  for (const char* fragment : fragments) {
    for (size_t at = 65530; at <= 65537; ++at) {
      std::string content(at - head.size(), 'a');
      content += std::string("\xC3\xA9") + fragment;
      for (bool strayBehindNul : {false, true}) {
        std::string doc = head + content + "</l>";
        if (strayBehindNul) doc += std::string("\0\0", 2);
        ASSERT_TRUE(open(doc));
        XmlParseResult r = reader_->parseDocument();
        ASSERT_TRUE(r.root);
        EXPECT_EQ(r.root->head()->getText(&utf8_, true) == content, referenceWellFormed(content)) << at;
      }
    }
  }
}

TEST_F(XmlReaderTest, StressLinesStayUtf8ExactlyWhenWellFormed) {
  std::string path = std::string(BRINDLEWORK_TESTDATA_DIR) + "/unicode/UTF-8-test.txt";
  std::ifstream in(path, std::ios::binary);
  if (!in) GTEST_SKIP() << "test corpus not found: " << path;
  std::string line;
  int wellFormed = 0, lines = 0;
  while (std::getline(in, line)) {
    if (line.find_first_of(std::string("<&\0", 3)) != std::string::npos) continue;
    ++lines;
    std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><l>" + line + "</l>";
    ASSERT_TRUE(open(doc)) << line;
    const bool expectUtf8 = referenceWellFormed(line);
    EXPECT_EQ(isWellFormedUTF8(line), expectUtf8) << line;
    EXPECT_EQ(reader_->infoEncodingName() == "UTF-8", expectUtf8) << line;
    XmlParseResult r = reader_->parseDocument();
    ASSERT_TRUE(r.root);
    Str text = r.root->head()->getText(&utf8_, true);
    if (expectUtf8) {
      ++wellFormed;
      EXPECT_EQ(str(text), line);
    } else {
      EXPECT_TRUE(referenceWellFormed(text.view())) << line;
    }
  }
  EXPECT_GT(lines, 100);
  EXPECT_GT(wellFormed, 50);
  EXPECT_LT(wellFormed, lines);
}

}  // namespace
}  // namespace bw
