// news/atom_parser_test.cpp - Atom documents: the feed's uniqueID rules, the
// entry fields and their formats, the link choice, the dates, and the link
// tests.
#include "news/atom_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "news/feed_parse_test_support.h"
#include "web/web_corpus_test_support.h"

namespace bw {
namespace {

class AtomParser : public testing_news::FeedParseTest {};

std::string atomDoc(const std::string& inner) {
  return "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\" xml:lang=\"de\">" + inner + "</feed>";
}

TEST_F(AtomParser, MakesTheFeedsUniqueID) {
  struct Case {
    std::string inner;
    const char* uniqueID;
  } cases[] = {
      {"<title>T</title><link rel=\"self\" href=\"https://example.org/x\"/>"
       "<link rel=\"self\" type=\"application/atom+xml\" href=\"https://example.org:80/y\"/>",
       "http://example.org/y"},
      {"<link rel=\"self\" href=\"http://example.org/1\"/><link rel=\"self\" href=\"http://example.org/2\"/><title>T</title>", "http://example.org/1"},
      {"<title>T</title><id>http://example.org/id</id><link href=\"http://example.org/alt\"/>", "http://example.org/id, T"},
      {"<title>T</title><id>HTTP://a/id</id>", "HTTP://a/id"},
      {"<title>T</title><link rel=\"alternate\"/><link href=\"https://example.org/alt\"/>", "http://example.org/alt, T"},
      {"<entry><title>e</title><id>http://late/</id></entry><title>T</title><id>urn:x</id>", nullptr},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string url = "http://example.org/" + std::to_string(n++);
    FeedParseResult r = atom(atomDoc(c.inner), nullptr, url.c_str());
    if (!c.uniqueID) {
      EXPECT_FALSE(r.feed);
      EXPECT_TRUE(r.errorReported);
      continue;
    }
    ASSERT_TRUE(r.feed) << c.inner;
    EXPECT_EQ(r.feed->uniqueID, c.uniqueID) << c.inner;
  }
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].text,
            "Failed to make a uniqueID for Atom news feed:\n\x1b" "1%s\n\nPlease report this to:\n\x1b" "1%s");
  EXPECT_FALSE(atom("<feed xmlns=\"http://www.w3.org/2005/Atom\"></feed>").feed);
}

TEST_F(AtomParser, ReadsEntries) {
  FeedParseResult r = atom(atomDoc(
      "<title type=\"html\">Feed &amp; co</title><id>urn:f</id><updated>2015-01-05T10:00:00Z</updated>"
      "<logo>http://example.org/l.png?a=1&amp;b=2</logo><generator version=\"1.2\">Gen</generator>"
      "<entry><title type=\"html\">&lt;b&gt;One&lt;/b&gt;</title><id>e1</id>"
      "<link rel=\"self\" type=\"application/atom+xml\" href=\"http://example.org/self\"/>"
      "<link rel=\"alternate\" type=\"text/html\" href=\"http://example.org/one?x=1&amp;y=2\"/>"
      "<published>2015-01-05T10:00:00Z</published><author><name>Ann</name></author>"
      "<summary type=\"html\">&lt;p&gt;s&lt;/p&gt;</summary><category term=\"t1\"/><category term=\"t2\"/>"
      "<content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\"><p>x</p></div></content></entry>"
      "<entry><title>Two</title><id>e2</id><link href=\"http://example.org/two\"/>"
      "<updated>not a date</updated><summary>plain</summary><content>c</content></entry>"
      "<entry/>"));
  ASSERT_TRUE(r.feed);
  newsFeed& f = *r.feed;
  EXPECT_EQ(f.title, "Feed &amp; co");
  EXPECT_EQ(f.uniqueID, "urn:f");
  EXPECT_EQ(f.type, "Atom");
  EXPECT_EQ(f.imageURL, "http://example.org/l.png?a=1&b=2");
  EXPECT_EQ(f.generator, "Gen,v1.2");
  EXPECT_EQ(f.language, "de");
  std::vector<ItemView> v = items(&f);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].uniqueID, "e1");
  EXPECT_EQ(v[0].link, "http://example.org/one?x=1&y=2");
  EXPECT_EQ(v[0].tags, "t1");
  EXPECT_EQ(v[0].published, 473767200);
  EXPECT_EQ(v[0].updated, 473767200);
  EXPECT_NE(v[0].content.find("<p>x</p>"), std::string::npos);
  EXPECT_EQ(v[1].link, "http://example.org/two");
  EXPECT_EQ(v[1].published, kDateUnset);
  EXPECT_EQ(v[1].updated, kDateInvalid);
  EXPECT_EQ(v[1].content, "c");
  // The whole model, as tools/newsdump prints it.
  compareOrUpdateOutcomesIn("news/testdata", "atom_parser.newsdump", dumpModel());
}

TEST_F(AtomParser, TestsLinkAttributesIgnoringCase) {
  auto doc = read("<feed><link rel=\"SELF\" type=\"Application/Atom+XML\"/><link/></feed>");
  const webDataNode* feed = doc->findNode("feed", nullptr, nullptr, nullptr);
  const webDataNode& both = *feed->getFirstChild();
  const webDataNode& bare = *both.getNext();
  EXPECT_TRUE(isAtomLinkRel(both, "self", false));
  EXPECT_TRUE(isAtomLinkTypeAndRel(both, "application/atom+xml", "self", false));
  EXPECT_FALSE(isAtomLinkTypeAndRel(both, "text/html", "self", true));
  EXPECT_TRUE(isAtomLinkTypeAndRel(bare, "text/html", "alternate", true));
  EXPECT_FALSE(isAtomLinkType(bare, "html", false));
}

}  // namespace
}  // namespace bw
