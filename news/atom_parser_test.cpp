// news/atom_parser_test.cpp - Atom documents: the feed's uniqueID rules, the
// entry fields and their formats, the link choice, the dates, and the link
// tests.
#include "news/atom_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "news/feed_parse_test_support.h"
#include "web/web_corpus_test_support.h"

namespace bw {
namespace {

class AtomParser : public testing_news::FeedParseTest {
 protected:
  // The feed's title and type and its items' fields, one line each; "" for
  // no feed.
  std::string dumpOf(newsFeed* feed) {
    if (!feed) return "";
    std::string out = feed->title.str() + " | " + feed->type.str() + "\n";
    for (const ItemView& v : items(feed)) {
      out += v.uniqueID + " | " + v.title + " | " + v.link + " | " + v.author + " | " + std::to_string(v.updated) + "\n";
    }
    return out;
  }
};

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
      // Neither a link nor an id before the entries: the feed's address.
      {"<entry><title>e</title><id>http://late/</id></entry><title>T</title><id>urn:x</id>", "http://example.org/5"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string url = "http://example.org/" + std::to_string(n++);
    FeedParseResult r = atom(atomDoc(c.inner), nullptr, url.c_str());
    ASSERT_TRUE(r.feed) << c.inner;
    EXPECT_EQ(r.feed->uniqueID, c.uniqueID) << c.inner;
  }
  EXPECT_TRUE(ui.calls.empty());
  EXPECT_FALSE(atom("<feed xmlns=\"http://www.w3.org/2005/Atom\"></feed>").feed);
}

TEST_F(AtomParser, ReadsAFeedByAnyPrefixOfTheAtomNamespace) {
  int feeds = 0;
  const std::string inner =
      "<title>T</title><id>urn:ID</id><entry><id>e1</id><title>One</title><link href=\"http://example.org/1\"/>"
      "<author><name>Ann</name></author><updated>2015-01-05T10:00:00Z</updated></entry>";
  auto prefixed = [&](const std::string& p, const char* ns) {
    std::string text = inner;
    for (size_t at = 0; (at = text.find('<', at)) != std::string::npos; at += 1 + p.size()) {
      text.insert(text[at + 1] == '/' ? at + 2 : at + 1, p);
    }
    text.replace(text.find("ID"), 2, std::to_string(++feeds));
    return "<" + p + "feed xmlns:" + p.substr(0, p.size() - 1) + "=\"" + ns + "\">" + text + "</" + p + "feed>";
  };
  const std::string plain = dumpOf(atom(atomDoc(inner), nullptr, "http://example.org/plain").feed);
  ASSERT_NE(plain, "");
  int n = 0;
  for (const std::string& doc : {prefixed("atom:", "http://www.w3.org/2005/Atom"), prefixed("a:", "HTTP://www.w3.org/2005/Atom")}) {
    SCOPED_TRACE(doc);
    const std::string url = "http://example.org/" + std::to_string(++n);
    auto d = read(doc);
    ASSERT_TRUE(findAtomFeed(*d, nullptr));
    EXPECT_EQ(dumpOf(atom(doc, nullptr, url.c_str()).feed), plain);
  }
  // Another namespace under the prefix is no Atom feed.
  EXPECT_FALSE(findAtomFeed(*read(prefixed("atom:", "http://example.org/")), nullptr));
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
  // A date is read as RSS dates are: in CDATA, with blanks around.
  int n = 0;
  for (const char* date : {"<![CDATA[2015-01-05T10:00:00Z]]>", "\n <![CDATA[ 2015-01-05T10:00:00Z ]]>\n", " 2015-01-05T10:00:00Z "}) {
    const std::string id = "urn:d" + std::to_string(++n);
    newsFeed* feed = atom(atomDoc("<id>" + id + "</id><entry><id>e</id><title>t</title><updated>" + date +
                                  "</updated></entry>"), nullptr, ("http://example.org/" + id).c_str()).feed;
    ASSERT_TRUE(feed);
    EXPECT_EQ(items(feed)[0].updated, 473767200) << date;
  }
}

TEST_F(AtomParser, ResolvesLinksAndTellsFeedsApartByThem) {
  const std::string doc = atomDoc(
      "<title>T</title><link rel=\"self\" href=\"/feed.xml\"/><logo>logo.png</logo>"
      "<entry xml:base=\"/blog/\"><id>e1</id><link href=\"2003/12/13/atom03\"/></entry>");
  newsFeed* one = atom(doc, nullptr, "http://one.example/feed.xml").feed;
  ASSERT_TRUE(one);
  EXPECT_EQ(one->uniqueID, "http://one.example/feed.xml");
  EXPECT_EQ(one->imageURL, "http://one.example/logo.png");
  EXPECT_EQ(items(one)[0].link, "http://one.example/blog/2003/12/13/atom03");
  // The same relative self link on another host is another feed: nothing
  // asked, nothing merged.
  newsFeed* two = atom(doc, nullptr, "http://two.example/feed.xml").feed;
  ASSERT_TRUE(two);
  EXPECT_NE(one, two);
  EXPECT_EQ(two->uniqueID, "http://two.example/feed.xml");
  EXPECT_TRUE(ui.calls.empty());
  EXPECT_EQ(items(one).size(), 1u);
}

TEST_F(AtomParser, EntriesWithoutIdAreStoredOnce) {
  const std::string doc = atomDoc(
      "<title>T</title><id>urn:f</id>"
      "<entry><title>linked</title><link href=\"/a\"/></entry>"
      "<entry><title>dated</title><updated>2015-01-05T10:00:00Z</updated></entry>"
      "<entry><title>dated</title><updated>2015-01-06T10:00:00Z</updated></entry>"
      "<entry><title>bare</title></entry>"
      "<entry><content>only words</content></entry>"
      "<entry><content>other words</content></entry>");
  newsFeed* feed = atom(doc).feed;
  ASSERT_TRUE(feed);
  std::vector<std::string> ids;
  for (const ItemView& v : items(feed)) ids.push_back(v.uniqueID);
  std::sort(ids.begin(), ids.end());
  ASSERT_EQ(ids.size(), 6u);
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
  EXPECT_EQ(ids[3], "dated, 2015-01-05T10:00:00Z");
  EXPECT_EQ(ids[5], "http://example.org/a, linked");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(atom(doc, feed).feed, feed);
    EXPECT_EQ(items(feed).size(), 6u);
  }
}

TEST_F(AtomParser, HtmlTitlesAndXhtmlContentShowEveryWord) {
  const struct {
    const char* title;    // typed html
    const char* content;  // typed xhtml, inside its div
    const char* titleShown;
    const char* contentShown;
  } cases[] = {
      {"The &amp;lt;dialog&amp;gt; element", "<p>The &lt;dialog&gt; element</p>", "The <dialog> element",
       "The <dialog> element"},
      {"5 &amp;lt; 7 &amp;amp;&amp;amp; 7 &amp;gt; 5", "5 &lt; 7 &amp;&amp; 7 &gt; 5", "5 < 7 && 7 > 5", "5 < 7 && 7 > 5"},
      {"&lt;i&gt;Vec&lt;/i&gt;&amp;lt;String&amp;gt;", "<code><![CDATA[Vec<String>]]></code>", "Vec<String>",
       "Vec<String>"},
      {"a", "x<!-- a > b -->y<br/>z <img alt='say \"hi\"' src='i.png'/>", "a", "xy\nz [PICTURE \"say \"hi\"\"]"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    const std::string url = "http://example.org/" + std::to_string(++n);
    newsFeed* feed = atom(atomDoc(std::string("<title>T</title><id>urn:") + std::to_string(n) +
                                  "</id><entry><id>e</id><title type=\"html\">" + c.title +
                                  "</title><content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">" +
                                  c.content + "</div></content></entry>"),
                          nullptr, url.c_str())
                         .feed;
    ASSERT_TRUE(feed);
    const ItemView v = items(feed).at(0);
    cEncodingUTF utf8;
    utf8.load("UTF-8");
    EXPECT_EQ(feedTextForDisplay(*feed->docFormat, &utf8, v.title, kFormatHTML, false).str(), c.titleShown);
    EXPECT_EQ(feedTextForDisplay(*feed->docFormat, &utf8, v.content, kFormatXHTML, false).str(), c.contentShown);
  }
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
