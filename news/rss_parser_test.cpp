// news/rss_parser_test.cpp - RSS documents into feeds and items: the channel
// and item fields with their fallbacks, the refusals, the same-feed question
// through the scripted requester, and an update keeping an empty url.
#include "news/rss_parser.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "news/feed_parse_test_support.h"
#include "web/web_corpus_test_support.h"

namespace bw {
namespace {

using testing_news::rssDocument;

class RssParser : public testing_news::FeedParseTest {};

const char* const kChannel =
    "<title> Daily\tnews </title>"
    "<lastBuildDate>Mon, 05 Jan 2015 10:20:30 GMT</lastBuildDate>"
    "<image><url>http://example.org/a.png?x=1&amp;y=2</url></image>"
    "<language>en</language><copyright>(c) us</copyright><generator>gen</generator>"
    "<item><title>One</title><link> http://example.org/1 </link><guid>g1</guid>"
    "<category>a</category><category>\n  b &amp; c\n</category>"
    "<pubDate>Mon, 05 Jan 2015 10:20:30 GMT</pubDate><description>s1 &amp;</description>"
    "<c:encoded>c1</c:encoded><author>me</author></item>"
    "<item/>"
    "<item><title>Two</title><link>https://example.org/two</link></item>"
    "<item><title>Three</title><guid>http://example.org/3</guid><pubDate>05 Jan 2015 11:20:30 GMT</pubDate></item>"
    "<item><title>Four</title><guid>http://www.washingtonpost.com:80/x</guid></item>"
    "<item><title>Five</title><encoded>not content</encoded></item>"
    "<description>after the items</description><link>http://example.org/</link>";

TEST_F(RssParser, FillsTheFeedAndItsItems) {
  FeedParseResult r = rss(rssDocument(kChannel, " xmlns:c=\"HTTP://purl.org/rss/1.0/modules/content/\""));
  ASSERT_TRUE(r.feed);
  EXPECT_FALSE(r.errorReported);
  newsFeed& f = *r.feed;
  EXPECT_EQ(f.title, "Daily news");
  EXPECT_EQ(f.uniqueID, "http://example.org/, Daily news");
  EXPECT_EQ(f.url, "http://example.org/feed");
  EXPECT_EQ(f.type, "RSS 2.0");
  EXPECT_EQ(f.updatedText, "Mon, 05 Jan 2015 10:20:30 GMT");
  EXPECT_EQ(f.imageURL, "http://example.org/a.png?x=1&y=2");
  EXPECT_EQ(f.language, "en");
  EXPECT_EQ(f.rights, "(c) us");
  EXPECT_EQ(f.generator, "gen");
  EXPECT_TRUE(f.subtitle.isNil());
  EXPECT_EQ(f.seenUpToTime, 473768430);
  EXPECT_EQ(f.downloadLength, 3600);

  std::map<std::string, ItemView> byID;
  std::vector<std::string> order;
  for (const ItemView& v : items(&f)) byID[v.uniqueID] = v, order.push_back(v.uniqueID);
  EXPECT_EQ(order, (std::vector<std::string>{"http://example.org/3", "g1", "http://example.org/two, Two",
                                             "http://www.washingtonpost.com/x", "Five"}));
  const ItemView& one = byID["g1"];
  EXPECT_EQ(one.link, "http://example.org/1");
  EXPECT_EQ(one.tags, "a,b & c");
  EXPECT_EQ(one.summary, "s1 &amp;");
  EXPECT_EQ(one.content, "c1");
  EXPECT_EQ(one.published, 473768430);
  EXPECT_EQ(one.updated, 473768430);
  EXPECT_EQ(byID["http://example.org/two, Two"].published, kDateUnset);
  EXPECT_EQ(byID["http://example.org/3"].link, "http://example.org/3");
  EXPECT_EQ(byID["http://www.washingtonpost.com/x"].link, "http://www.washingtonpost.com:80/x");
  EXPECT_EQ(byID["Five"].content, "NIL");
  EXPECT_EQ(byID["Five"].link, "");
  // The whole model, as tools/newsdump prints it.
  compareOrUpdateOutcomesIn("news/testdata", "rss_parser.newsdump", dumpModel());
}

// Dublin Core stands in for a missing pubDate or author, under the prefix
// the feed declares (or "dc" where it declares none); the RSS elements win.
TEST_F(RssParser, TakesDublinCoreDatesAndCreators) {
  for (const char* declaration : {" xmlns:d=\"http://purl.org/dc/elements/1.1/\"", ""}) {
    const std::string p = *declaration ? "d:" : "dc:";
    FeedParseResult r = rss(rssDocument(
        "<link>http://example.org/" + p + "</link><title>T</title>"
        "<item><guid>" + p + "a</guid><" + p + "date>2015-01-05T10:20:30Z</" + p + "date><" + p + "creator>Ann</" + p + "creator></item>"
        "<item><guid>" + p + "b</guid><pubDate>Mon, 05 Jan 2015 11:20:30 GMT</pubDate><author>bo@x</author>"
        "<" + p + "date>2001-01-01</" + p + "date><" + p + "creator>Cy</" + p + "creator></item>",
        declaration));
    ASSERT_TRUE(r.feed) << declaration;
    std::map<std::string, ItemView> byID;
    for (const ItemView& v : items(r.feed)) byID[v.uniqueID] = v;
    EXPECT_EQ(byID[p + "a"].published, 473768430) << declaration;
    EXPECT_EQ(byID[p + "a"].author, "Ann") << declaration;
    EXPECT_EQ(byID[p + "b"].published, 473768430 + 3600) << declaration;
    EXPECT_EQ(byID[p + "b"].author, "bo@x") << declaration;
  }
}

TEST_F(RssParser, ReadsTheVersionsOfTheSameStructure) {
  for (const char* v : {"2.0", "0.91", "0.92", "0.93", "0.94", ""}) EXPECT_TRUE(isReadableRssVersion(Str(v))) << v;
  EXPECT_TRUE(isReadableRssVersion(Str()));
  for (const char* v : {"1.0", "0.90", "3.0", "2.0 "}) EXPECT_FALSE(isReadableRssVersion(Str(v))) << v;
  newsFeed* unversioned =
      rss("<rss><channel><title>t</title><link>http://u/</link><item><guid>i</guid></item></channel></rss>").feed;
  ASSERT_TRUE(unversioned);
  EXPECT_EQ(unversioned->type, "RSS 2.0");
}

TEST_F(RssParser, RefusesWhatItCannotStore) {
  for (const std::string& xml : {std::string("<feed><title>x</title></feed>"),
                                 std::string("<rss version=\"2.0\"><title>x</title></rss>"), rssDocument("")}) {
    FeedParseResult r = rss(xml);
    EXPECT_FALSE(r.feed || r.errorReported) << xml;
  }
  EXPECT_TRUE(ui.calls.empty());
  EXPECT_EQ(root->feedList->infoHeadIndex(), 0);
  // An xml:base on the channel is an id too.
  EXPECT_TRUE(rss("<rss version=\"0.91\"><channel xml:base=\"http://b/\"><title>t</title></channel></rss>").feed);
}

TEST_F(RssParser, AChannelWithoutLinkIsKnownByItsAddress) {
  const std::string doc = rssDocument("<title>No link</title><item><title>i</title></item>");
  newsFeed* one = rss(doc, nullptr, "http://one/feed").feed;
  newsFeed* two = rss(doc, nullptr, "http://two/feed").feed;
  ASSERT_TRUE(one && two);
  EXPECT_NE(one, two);
  EXPECT_EQ(one->uniqueID, "http://one/feed");
  // Added again from its address: the same feed, nothing new, nothing asked.
  EXPECT_EQ(rss(doc, nullptr, "http://one/feed").feed, one);
  EXPECT_EQ(items(one).size(), 1u);
  EXPECT_TRUE(ui.calls.empty());
  // Without an address there is nothing to know it by.
  FeedParseResult none = rss(doc, nullptr, "");
  EXPECT_FALSE(none.feed);
  EXPECT_TRUE(none.errorReported);
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].title, "Brindlework");
}

TEST_F(RssParser, StoresLinksResolvedAndKeepsTheIdsItsItemsHad) {
  newsFeed* feed = rss(rssDocument("<title>T</title><link>/</link><image><url>logo.png</url></image>"
                                   "<item><link>entry1</link></item>"
                                   "<item xml:base=\"/other/\"><guid>g</guid><link>../frog/froggy-frog</link>"
                                   "<image>i.png</image></item>"),
                       nullptr, "http://example.org/blog/feed.xml")
                       .feed;
  ASSERT_TRUE(feed);
  EXPECT_EQ(feed->imageURL, "http://example.org/blog/logo.png");
  std::map<std::string, ItemView> byID;
  for (const ItemView& v : items(feed)) byID[v.uniqueID] = v;
  ASSERT_EQ(byID.size(), 2u);
  // An item without guid keeps the id its link as written gives it.
  EXPECT_EQ(byID["entry1"].link, "http://example.org/blog/entry1");
  EXPECT_EQ(byID["g"].link, "http://example.org/frog/froggy-frog");
}

TEST_F(RssParser, ItemsWithoutGuidAreStoredOnce) {
  const std::string doc = rssDocument(
      "<title>T</title><link>http://example.org/</link>"
      "<item><title>linked</title><link>/a</link></item>"
      "<item><title>linked elsewhere</title><link>https://example.org:80/b</link></item>"
      "<item><title>titled</title><description>d</description></item>"
      "<item><title>dated</title><pubDate>Mon, 05 Jan 2015 10:20:30 GMT</pubDate></item>");
  newsFeed* feed = rss(doc).feed;
  ASSERT_TRUE(feed);
  std::map<std::string, std::string> links;
  for (const ItemView& v : items(feed)) links[v.uniqueID] = v.link;
  EXPECT_EQ(links, (std::map<std::string, std::string>{{"/a, linked", "http://example.org/a"},
                                                        {"http://example.org/b, linked elsewhere", "https://example.org:80/b"},
                                                        {"titled", ""},
                                                        {"dated", ""}}));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rss(doc, feed).feed, feed);
    EXPECT_EQ(items(feed).size(), 4u);
  }
}

// Item titles are HTML only on markup's own evidence: an end tag or "/>" of
// an HTML element, or markup written unescaped. Escapes and CDATA are two
// ways of writing the same text: a title that names a tag keeps its words
// in both, shown as written, as feed names and Atom text titles show it,
// and an Atom title of type "html" shows both forms alike.
TEST_F(RssParser, TitlesNamingTagsKeepTheirWords) {
  struct Case {
    const char* written;  // the title element's content
    const char* shown;
    bool asWritten;  // the feed name and an Atom text title show the same
  } cases[] = {
      {"Why &lt;p&gt; tags matter", "Why <p> tags matter", true},
      {"Lazy-loading &lt;img&gt; and &lt;iframe&gt; elements", "Lazy-loading <img> and <iframe> elements", true},
      {"Use &lt;br&gt; sparingly", "Use <br> sparingly", true},
      {"The &lt;dialog&gt; element", "The <dialog> element", true},
      {"&lt;img src=\"x.png\"&gt; lazy", "<img src=\"x.png\"> lazy", true},
      {"&lt;foo&gt;bar&lt;/foo&gt;", "<foo>bar</foo>", true},
      {"&lt;!-- note --&gt; comments", "<!-- note --> comments", true},
      {"Tom &amp; Jerry", "Tom & Jerry", true},
      {"5 &lt; 7 &amp;&amp; 7 &gt; 5", "5 < 7 && 7 > 5", true},
      {"Caf&#233; &#x26; bar", "Caf\xc3\xa9 & bar", true},
      {"&#160;Caf&#233;&#xA0;", "Caf\xc3\xa9", true},
      {"&amp;lt;p&amp;gt; twice escaped", "<p> twice escaped", true},
      {"<![CDATA[Fish & chips]]>", "Fish & chips", true},
      {"<![CDATA[5 < 7]]>", "5 < 7", true},
      {"&lt;b&gt;Bold&lt;/b&gt; news", "*Bold* news", false},
      {"Line&lt;br/&gt;break", "Line\nbreak", false},
      {"Use &lt;br /&gt; here", "Use\nhere", false},
      {"&lt;em&gt;A&lt;/em&gt; &amp;amp; B", "A & B", false},
      {"<![CDATA[Why <p> tags matter]]>", "Why <p> tags matter", true},
      {"<![CDATA[Lazy-loading <img> and <iframe> elements]]>", "Lazy-loading <img> and <iframe> elements", true},
      {"<![CDATA[Use <br> sparingly]]>", "Use <br> sparingly", true},
      {"<![CDATA[The <dialog> element]]>", "The <dialog> element", true},
      {"<![CDATA[<img src=\"x.png\"> lazy]]>", "<img src=\"x.png\"> lazy", true},
      {"<![CDATA[<foo>bar</foo>]]>", "<foo>bar</foo>", true},
      {"<![CDATA[<!-- note --> comments]]>", "<!-- note --> comments", true},
      {"<![CDATA[Use <br>]]> sparingly &lt;p&gt;", "Use <br> sparingly <p>", true},
      {"<![CDATA[<b>Bold</b> news]]>", "*Bold* news", false},
      {"<![CDATA[Line<br/>break]]>", "Line\nbreak", false},
      {"<![CDATA[Use <br /> here]]>", "Use\nhere", false},
      {"<![CDATA[<em>A</em> &amp; B]]>", "A & B", false},
      {"<![CDATA[Use <br>]]> &lt;/p&gt;", "Use", false},
      {"<![CDATA[A <![CDATA[ B]]>", "A <![CDATA[ B", true},
      {"<![CDATA[<![CDATA[ Hello ]]]]><![CDATA[>]]>", "<![CDATA[ Hello ]]>", true},
      {"<![CDATA[Two  spaces\nand <p> a line]]>", "Two  spaces\nand <p> a line", true},
      {"<![CDATA[<p> <![CDATA[ inside]]>", "<p> <![CDATA[ inside", true},
      {"<b>Bold</b> news", "*Bold* news", false},
      {"Real <br/> break", "Real\nbreak", false},
  };
  auto s = [](const Str& t) { return t.isNil() ? std::string("NIL") : t.str(); };
  int n = 0;
  auto atomHtmlTitle = [&](const std::string& written) {
    const std::string site = "http://example.org/" + std::to_string(++n) + "/";
    newsFeed* feed = atom("<feed xmlns=\"http://www.w3.org/2005/Atom\"><id>" + site + "</id><title>T</title>"
                          "<entry><id>e</id><title type=\"html\">" + written + "</title></entry></feed>",
                          nullptr, (site + "atom").c_str()).feed;
    if (!feed) return std::string("no feed");
    newsItem* it = item(feed->itemList->infoHeadIndex(), feed);
    std::string shown = s(feedTextForDisplay(*feed->docFormat, &utf8, it->title, it->titleFormat, false));
    db->unloadObject(it);
    return shown;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    const std::string_view w = c.written;
    if (w.starts_with("<![CDATA[") && w.find("]]>") == w.size() - 3) {
      std::string escaped;
      for (char ch : w.substr(9, w.size() - 12)) {
        escaped += ch == '<' ? "&lt;" : ch == '>' ? "&gt;" : ch == '&' ? "&amp;" : std::string(1, ch);
      }
      EXPECT_EQ(atomHtmlTitle(c.written), atomHtmlTitle(escaped));
    }
    const std::string title = std::string("<title>") + c.written + "</title>";
    const std::string site = "http://example.org/" + std::to_string(++n) + "/";
    newsFeed* feed = rss(rssDocument(title + "<link>" + site + "</link><item>" + title + "<guid>g</guid></item>"),
                         nullptr, site.c_str()).feed;
    ASSERT_TRUE(feed);
    newsItem* it = item(feed->itemList->infoHeadIndex(), feed);
    EXPECT_EQ(s(feedTextForDisplay(*feed->docFormat, &utf8, it->title, it->titleFormat, false)), c.shown);
    db->unloadObject(it);
    if (!c.asWritten) continue;
    EXPECT_EQ(s(feed->infoName(&utf8)), c.shown);
    newsFeed* atomFeed = atom("<feed xmlns=\"http://www.w3.org/2005/Atom\"><id>" + site + "a</id>" + title +
                              "<entry><id>e</id>" + title + "</entry></feed>", nullptr, (site + "atom").c_str()).feed;
    ASSERT_TRUE(atomFeed);
    EXPECT_EQ(s(atomFeed->infoName(&utf8)), c.shown);
    it = item(atomFeed->itemList->infoHeadIndex(), atomFeed);
    EXPECT_EQ(s(feedTextForDisplay(*atomFeed->docFormat, &utf8, it->title, it->titleFormat, false)), c.shown);
    db->unloadObject(it);
  }
}

TEST_F(RssParser, AsksWhetherAFeedIsTheSameOne) {
  const std::string doc = rssDocument("<title>T</title><link>http://site/</link><item><title>i</title></item>");
  newsFeed* first = rss(doc, nullptr, "http://one/feed").feed;
  ASSERT_TRUE(first);
  // Same id elsewhere: asked; "No" stores nothing.
  ui.answers = {0};
  FeedParseResult refused = rss(doc, nullptr, "http://two/feed");
  EXPECT_FALSE(refused.feed);
  EXPECT_TRUE(refused.errorReported);
  ASSERT_EQ(ui.calls.size(), 2u);
  EXPECT_EQ(ui.calls[0].buttons, "Yes|No");
  EXPECT_EQ(ui.calls[0].filled(),
            "This new feed:\n\x1b" "1T\nseems to be the same as this existing feed:\n\x1b" "1T\n\nIs this correct?");
  EXPECT_EQ(ui.calls[1].text, "This seemingly identical feed cannot be added.\n\nPlease report this problem to:\n\x1b" "1%s");
  // "Yes" updates the stored feed, which takes the new url.
  ui.answers = {1};
  EXPECT_EQ(rss(doc, nullptr, "http://two/feed").feed, first);
  EXPECT_EQ(first->url, "http://two/feed");
  // The same url in other letters: no question.
  EXPECT_EQ(rss(doc, nullptr, "HTTP://TWO/feed").feed, first);
  EXPECT_EQ(ui.calls.size(), 3u);
  // An update keeps an empty url.
  first->url = Str("");
  EXPECT_EQ(rss(doc, first, "http://three/").feed, first);
  EXPECT_EQ(first->url, "");
}

}  // namespace
}  // namespace bw
