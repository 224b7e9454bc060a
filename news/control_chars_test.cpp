// news/control_chars_test.cpp - the C0 controls XML forbids (ESC, the
// windows' style escape, among them), written as they are or referenced,
// through every reader and every road to a window: each shows as U+FFFD
// ("?" in a single-byte charset), never as the control.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "news/feed_discovery.h"
#include "news/html_text.h"
#include "news/news_objects.h"
#include "web/control_chars.h"
#include "web/html_reader.h"
#include "web/json_reader.h"
#include "web/json_test_support.h"
#include "web/xml_reader.h"

namespace bw {
namespace {

class ControlChars : public JsonTest {};

const std::string kReplaced = "\xEF\xBF\xBD";

TEST_F(ControlChars, EveryReaderShowsThemReplaced) {
  // Each shape once as XML and HTML write it, once as JSON does.
  const struct {
    const char* markup;
    const char* json;
  } shapes[] = {
      {"\033", "\033"},  // written as it is
      {"&#27;", "\\u001b"}, {"&#x1B;", "\\u001B"}, {"&#00000027;", "\\u001b"}, {"&#1;", "\\u0001"},
      {"\x01", "\x01"},     {"&#8;", "\\b"},       {"&#12;", "\\f"},           {"&#31;", "\\u001f"},
  };
  cXML xml(latin1_);
  cJSON json(latin1_, nullptr);
  auto htmlRoot = createHTMLroot(Str("UTF-8"), Str(), latin1_);
  // The text (or the attribute) of the element t, into charset.
  auto xmlShown = [&](const std::string& document, const char* attribute, const cEncoding* charset) {
    EXPECT_TRUE(xml.open(document.c_str(), static_cast<int32_t>(document.size()))) << xml.lastError();
    XmlParseResult r = xml.parseDocument();
    if (!r.root) return "refused: " + r.message.str();
    webDataNode* t = r.root->findNode("t", nullptr, nullptr, nullptr);
    return (attribute ? t->getAttribute(attribute, charset, false) : t->getText(charset, false)).str();
  };
  auto htmlShown = [&](const std::string& tag, const std::string& after, const char* attribute) {
    std::unique_ptr<webDataNode> n = pHTML::html_parseTag(tag, htmlRoot.get(), Str(after), false).node;
    if (!n) return std::string("refused");
    return (attribute ? n->getAttribute(attribute, &utf8_, false) : n->getText(&utf8_, false)).str();
  };
  // Each road: the text it shows for "a" + shape + "b" (json: the JSON
  // shape), and whether it shows UTF-8.
  using Shown = std::function<std::string(const std::string& markup, const std::string& json)>;
  const struct {
    const char* road;
    bool utf8;
    Shown shown;
  } roads[] = {
      {"XML text", true, [&](auto& m, auto&) { return xmlShown("<t>" + m + "</t>", nullptr, &utf8_); }},
      {"XML attribute into Latin-1", false,
       [&](auto& m, auto&) { return xmlShown("<t v='" + m + "'/>", "v", &latin1_); }},
      // References are text in a CDATA section: only controls as they are.
      {"XML CDATA section", true,
       [&](auto& m, auto&) {
         const std::string raw = m[1] == '&' ? std::string("a\033b") : m;
         return xmlShown("<t><![CDATA[" + raw + "]]></t>", nullptr, &utf8_);
       }},
      {"HTML reader attribute", true, [&](auto& m, auto&) { return htmlShown("a t='" + m + "'", "", "t"); }},
      {"HTML reader text", true, [&](auto& m, auto&) { return htmlShown("p", m, nullptr); }},
      {"HTML to display text", true,
       [&](auto& m, auto&) { return htmlToDisplayText("<pre>" + m + "</pre>", true, true).str(); }},
      {"HTML to Latin-1 display text", false,
       [&](auto& m, auto&) { return htmlToDisplayText(m, true, false).str(); }},
      {"feed description as markup", true,
       [&](auto& m, auto&) { return feedTextForDisplay(xml, &utf8_, Text(m), kFormatHTML, true).str(); }},
      {"feed title as plain text", true,
       [&](auto& m, auto&) {
         return feedTextForDisplay(xml, &utf8_, Text(m), kFormatPlainText, false).str();
       }},
      {"feed name and info fields", true,
       [&](auto& m, auto&) { return convertFeedText(xml, &utf8_, Text(m), false, false).str(); }},
      {"feed tags in Latin-1", false,
       [&](auto& m, auto&) { return convertFeedText(xml, &latin1_, Text(m), false, true).str(); }},
      {"discovered feed's title", true,
       [&](auto& m, auto&) {
         const std::string page =
             "<head><link rel=alternate type=application/rss+xml href=/f title='" + m + "'>";
         return collectFeedCandidates(page, "http://site.test/", "").candidates.at(0).title.str();
       }},
      {"social timeline text", true,
       [&](auto&, auto& j) {
         const std::string document = "{\"text\":\"" + j + "\"}";
         JsonParseResult r = json.parseDocument(document.c_str(), static_cast<int32_t>(document.size()));
         if (!r.root) return "refused: " + r.message.str();
         const Str stored =
             r.root->head()->findChild("text", nullptr, nullptr, nullptr)->getText(&utf8_, true);
         return feedTextForDisplay(json, &utf8_, stored, kFormatPlainText, false).str();
       }},
  };
  for (const auto& r : roads) {
    for (const auto& s : shapes) {
      SCOPED_TRACE(std::string(r.road) + ": " + s.markup);
      const std::string shown = r.shown(std::string("a") + s.markup + "b", std::string("a") + s.json + "b");
      EXPECT_EQ(shown, "a" + (r.utf8 ? kReplaced : "?") + "b");
    }
  }
  // Tab, line feed and carriage return are no such controls.
  EXPECT_EQ(xmlShown("<t>&#9;&#10;&#13;\t</t>", nullptr, &utf8_), "\t\n\r\t");
  EXPECT_EQ(htmlToDisplayText("<pre>a&#9;b\f</pre>\fc", false, true), "a b" + kReplaced + "\nc");
}

// Controls anywhere in documents of each encoding the reader converts, or
// reads where they stand: the tree reads them as U+FFFD, nothing shifts.
TEST_F(ControlChars, DocumentsOfEveryEncodingReadThemReplaced) {
  const std::string utf16 = std::string("\xFF\xFE<\0t\0>\0a\0\033\0<\0/\0t\0>\0", 20);
  const struct {
    std::string document, text;
  } cases[] = {
      {"<?xml version='1.0'?>\001<!--\033--><t>a\033</t>", "a" + kReplaced},
      {"<?xml version='1.0' encoding='ISO-8859-1'?><t>\xE9\033</t>", "\xC3\xA9" + kReplaced},
      {"<?xml version='1.0' encoding='KOI8-R'?>\n<t>\xC1\033</t>", "\xD0\xB0" + kReplaced},
      {utf16, "a" + kReplaced},
      // Stray Windows-1252 bytes in a UTF-8 document.
      {"<t>\x93\xC3\xA9\033\x94</t>", "\xE2\x80\x9C\xC3\xA9" + kReplaced + "\xE2\x80\x9D"},
  };
  cXML xml(latin1_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document);
    ASSERT_TRUE(xml.open(c.document.data(), static_cast<int32_t>(c.document.size()))) << xml.lastError();
    XmlParseResult r = xml.parseDocument();
    ASSERT_TRUE(r.root) << r.message.view();
    EXPECT_EQ(r.root->findNode("t", nullptr, nullptr, nullptr)->getText(&utf8_, false), c.text);
  }
}

// The scan of sixty-four and sixteen bytes at a time finds what one byte at
// a time finds, for every byte at every place and alignment, among plain
// text and among the controls that are allowed.
TEST(ControlScan, FindsWhatTheByteModelFinds) {
  for (const std::string_view around : {"x", "\n", "a\tb\r\n "}) {
    std::string background;
    while (background.size() < 150) background += around;
    background.resize(150);
    for (int b = 0; b < 256; ++b) {
      for (size_t at = 0; at < 150; ++at) {
        std::string text = background;
        text[at] = static_cast<char>(b);
        for (size_t from : {size_t{0}, size_t{1}, size_t{7}}) {
          const char* hit = findForbiddenControl(text.data() + std::min(from, at), text.data() + text.size());
          ASSERT_EQ(hit - text.data(), isForbiddenControl(b) ? static_cast<ptrdiff_t>(at) : 150)
              << b << " at " << at << " among " << static_cast<int>(around[0]);
        }
      }
    }
  }
}

}  // namespace
}  // namespace bw
