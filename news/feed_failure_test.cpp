// news/feed_failure_test.cpp - the words a user reads for a feed that does not parse.
#include "news/feed_failure.h"

#include <gtest/gtest.h>

#include "news/feed_downloader.h"

namespace bw {
namespace {

TEST(ParseFailureReason, SaysWhatIsWrongWithTheDocument) {
  const struct {
    const char* text;
    int32_t line;
    const char* message;
    const char* want;
  } cases[] = {
      {"x", 1, "cXML.open(); malformed XML (1)", "not valid XML: the document does not begin with an element at line 1"},
      {"{\"error\": 1}", 1, "cXML.open(); malformed XML (1)",
       "not valid XML: the document does not begin with an element at line 1"},
      {"\xEF\xBB\xBF  <a", 1, "cXML.open(); malformed XML (1)", "not valid XML at line 1"},
      {"<?xml version=\"1.0\"?>\nx", 2, "cXML.open(); malformed XML (2)", "not valid XML at line 2"},
      {"<rss>\n<a & b", 2, "cXML; tagNextToken(); malformed XML, string not closed",
       "not valid XML: string not closed at line 2"},
      {"<rss>\0", 1, "cXML.open(); NUL byte at line 1", "not valid XML: NUL byte at line 1"},
      {"   ", 1, "cXML.open(); the document is empty", "the document is empty"},
      {"<rss><channel><item><title>Second item ti", 1,
       "cXML.parseDocument(); the document ends before its last element is closed; it may have been cut off",
       "not valid XML: the document ends before its last element is closed; it may have been cut off"},
      {"<rss>\n<a>x<![CDATA[y", 2, "cXML.parseDocument(); malformed XML, a CDATA section is not closed",
       "not valid XML: a CDATA section is not closed at line 2"},
      {"<html><body>", 1, "", "the page is HTML, not a feed"},
      {"[[[", 1, "cJSON.parseDocument(); the document nests arrays and objects deeper than 512 levels",
       "not valid JSON: the document nests arrays and objects deeper than 512 levels at line 1"},
      {"{\"a\":", 1, "cJSON.parseDocument(); malformed JSON (expected value, for element)",
       "not valid JSON: expected value, for element at line 1"},
  };
  for (const auto& c : cases) {
    ParseFailure failure{Str(c.text), c.line, Str(c.message)};
    EXPECT_EQ(parseFailureReason(failure), c.want) << c.text;
  }
}

}  // namespace
}  // namespace bw
