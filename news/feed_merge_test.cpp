// news/feed_merge_test.cpp - the merge stage through the RSS and Atom
// parsers: repeats by date and by text, changed versions chained, the
// generator flag, notUpdates, an undated stored item giving way, the feed's
// times, empty entries, items without ids told apart by their texts, one id
// given to several items, and the bounded index.
#include "news/feed_merge.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "news/feed_parse_test_support.h"
#include "news/news_orderings.h"

namespace bw {
namespace {

using testing_news::rssDocument;

class FeedMergeTest : public testing_news::FeedParseTest {
 protected:
  // One channel with items of (guid, pubDate, summary); guid "" leaves it out.
  static std::string doc(std::initializer_list<std::array<const char*, 3>> list, const char* extra = "") {
    std::string channel = std::string("<title>T</title><link>http://site/</link>") + extra;
    for (const auto& [guid, date, summary] : list) {
      channel += "<item><title>t</title>";
      if (*guid) channel += std::string("<guid>") + guid + "</guid>";
      if (*date) channel += std::string("<pubDate>") + date + "</pubDate>";
      channel += std::string("<description>") + summary + "</description></item>";
    }
    return rssDocument(channel);
  }
};

constexpr const char* k10 = "Mon, 05 Jan 2015 10:00:00 GMT";
constexpr const char* k11 = "Mon, 05 Jan 2015 11:00:00 GMT";
constexpr const char* k12 = "Mon, 05 Jan 2015 12:00:00 GMT";

TEST_F(FeedMergeTest, ClassesRepeatsAndChangedVersions) {
  newsFeed* feed = rss(doc({{"g", k10, "s"}})).feed;
  ASSERT_TRUE(feed);
  const std::string once = dumpModel();
  ASSERT_TRUE(rss(doc({{"g", k10, "s"}}), feed).feed);
  EXPECT_EQ(dumpModel(), once);  // nothing stored the second time

  struct Case {
    const char* date;
    const char* summary;
    size_t count;  // items in the feed afterwards
  } cases[] = {
      {k11, "s", 1},        // one hour (summer time), same texts: a repeat
      {k12, "s", 1},        // two hours, same texts: a repeat
      {k10, "changed", 2},  // the same date, a new summary: a new version
      {k11, "changed", 2},  // one hour from it, the same texts: a repeat
  };
  for (const Case& c : cases) {
    rss(doc({{"g", c.date, c.summary}}), feed);
    EXPECT_EQ(items(feed).size(), c.count) << c.date << " " << c.summary;
  }
  std::vector<ItemView> v = items(feed);
  EXPECT_EQ(v[0].summary, "changed");      // the newest version first
  EXPECT_NE(v[1].newest, 0);               // the stored one holds the chain
  EXPECT_NE(v[0].older, 0);                // chained to the stored one
}

// Texts stored by earlier versions are no new version when the feed serves
// them again, with its guid or id or without (then matched by its texts
// among others of its link and title), in RSS and in Atom: markup stored
// with "<x></x>" and "<br />" for "<x/>" and "<br/>", and CDATA sections
// stored with the CR LF or lone CR of a document with Windows line ends,
// which XML reads as LF (a reference "&#13;" is a CR of the text).
TEST_F(FeedMergeTest, TextsStoredByEarlierVersionsAreNoNewVersion) {
  const struct {
    const char* stored;  // the summary as an earlier version wrote it back
    const char* markup;  // the description in the document
    size_t added;
  } cases[] = {
      {"<p></p>x<br />", "<p/>x<br/>", 0},
      {"<a name=\"n\"></a><i></i>", "<a name='n' /><i/>", 0},
      {"<o><i></i></o>", "<o><i/></o>", 0},
      {"<p></p>", "<p>x</p>", 1},
      {"<p></p>", "<q/>", 1},
      {"<![CDATA[<p>a\r\nb</p>]]>", "<![CDATA[<p>a\r\nb</p>]]>", 0},
      {"<![CDATA[<p>a\r\nb</p>]]>", "<![CDATA[<p>a\nb</p>]]>", 0},
      {"<![CDATA[<p>a\r\nb</p>]]>", "&lt;p&gt;a\r\nb&lt;/p&gt;", 0},
      {"<![CDATA[<p>a\r\nb</p>]]>", "&lt;p&gt;a\nb&lt;/p&gt;", 0},
      {"<![CDATA[a\rb\r\r\nc]]>", "a\rb\n\r\nc", 0},
      {"<![CDATA[a\r\nb]]>", "a&#13;\nb", 1},
      {"<![CDATA[a\r\nb]]>", "<![CDATA[a&#13;\nb]]>", 1},
      {"<![CDATA[a\r\nb]]>", "a\n\nb", 1},
  };
  int n = 0;
  for (const auto& c : cases) {
    for (const bool atomFeed : {false, true}) {
      for (const bool guid : {true, false}) {
        SCOPED_TRACE(std::string(c.markup) + (atomFeed ? " in Atom" : " in RSS") + (guid ? " with id" : " without"));
        const std::string url = "http://example.org/feed" + std::to_string(++n);
        auto page = [&] {
          auto one = [&](const char* id, const std::string& text) {
            if (atomFeed) {
              return std::string("<entry><title>t</title><link href=\"http://site/a\"/>") +
                     (guid ? std::string("<id>") + id + "</id>" : "") +
                     "<updated>2015-01-05T10:00:00Z</updated><summary type=\"html\">" + text + "</summary></entry>";
            }
            return std::string("<item><title>t</title><link>http://site/a</link>") +
                   (guid ? std::string("<guid>") + id + "</guid>" : "") + "<pubDate>" + k10 + "</pubDate><description>" +
                   text + "</description></item>";
          };
          const std::string entries = one("g", c.markup) + one("h", "other");
          return atomFeed ? "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>T</title><link href=\"" + url + "/\"/>" +
                                entries + "</feed>"
                          : rssDocument("<title>T</title><link>" + url + "/</link>" + entries);
        };
        auto parse = [&](newsFeed* update) { return (atomFeed ? atom(page(), update, url.c_str()) : rss(page(), update, url.c_str())).feed; };
        newsFeed* feed = parse(nullptr);
        ASSERT_TRUE(feed);
        for (const ItemView& v : items(feed)) {
          if (v.summary == "other") continue;
          newsItem* it = item(v.index, feed);
          newsItemBody* body = loadObject_newsItemBody(*db, it->bodyIndex);
          body->summary = Str(c.stored);
          db->saveChangesToObject(body);
          db->unloadObject(body);
          db->unloadObject(it);
        }
        const size_t before = items(feed).size();
        parse(feed);
        EXPECT_EQ(items(feed).size(), before + c.added);
      }
    }
  }
}

// An id is its text: a feed that writes its guids or ids another way
// (escaped, in CDATA, by a reference, indented) serves the same items,
// whichever way they were stored; a different text is a new item. So does
// one that indents the titles of its items without ids.
TEST_F(FeedMergeTest, AnIdWrittenAnotherWayIsTheSameId) {
  const struct {
    const char* stored;
    const char* served;
    size_t added;
  } cases[] = {
      {"<![CDATA[urn:a&b<c>]]>", "urn:a&amp;b&lt;c&gt;", 0},
      {"urn:a&amp;b&lt;c&gt;", "<![CDATA[urn:a&b<c>]]>", 0},
      {"<![CDATA[plain]]>", "plain", 0},
      {"plain", "<![CDATA[plain]]>", 0},
      {"x&#38;y", "<![CDATA[x&]]>&#121;", 0},
      {"<![CDATA[<![CDATA[ z ]]]]><![CDATA[>]]>", "&lt;![CDATA[ z ]]&gt;", 0},
      {"urn:g", "\n    urn:g\n  ", 0},
      {"\n urn:h ", "<![CDATA[urn:h]]>", 0},
      {"a&amp;b", "a&amp;amp;b", 1},
      {"<![CDATA[a&amp;b]]>", "a&amp;b", 1},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.stored) + " then " + c.served);
    const std::string url = "http://example.org/ids" + std::to_string(++n);
    auto page = [&](const char* id) {
      std::string d = doc({{id, k10, "s"}});
      return d.replace(d.find("http://site/"), 12, url + "/");
    };
    newsFeed* feed = rss(page(c.stored), nullptr, url.c_str()).feed;
    ASSERT_TRUE(feed);
    rss(page(c.served), feed, url.c_str());
    rss(page(c.served), feed, url.c_str());
    EXPECT_EQ(items(feed).size(), 1 + c.added);
  }
  // Without an id an item is its link and title: the same title indented,
  // or in CDATA with blanks inside, is the same item.
  for (const char* title : {"\n    T &amp; x\n  ", "<![CDATA[ T & x ]]>"}) {
    const std::string url = "http://example.org/titles" + std::to_string(++n);
    auto page = [&](const char* t) {
      return rssDocument("<title>T</title><link>" + url + "/</link><item><title>" + t + "</title><link>" + url +
                         "/a</link><description>s</description></item>");
    };
    newsFeed* feed = rss(page("T &amp; x"), nullptr, url.c_str()).feed;
    ASSERT_TRUE(feed);
    rss(page(title), feed, url.c_str());
    rss(page(title), feed, url.c_str());
    EXPECT_EQ(items(feed).size(), 1u) << title;
  }
}

// An item stored cut short (by an earlier version that read a broken
// download) is mended by the whole document: same guid, same date.
TEST_F(FeedMergeTest, TheWholeItemMendsOneStoredCutShort) {
  const std::string cut = rssDocument("<title>T</title><link>http://site/</link><item><title>Second item ti</title>"
                                      "<guid>g</guid><pubDate>" + std::string(k10) + "</pubDate></item>");
  newsFeed* feed = rss(cut).feed;
  ASSERT_TRUE(feed);
  std::string whole = cut;
  whole.replace(whole.find("Second item ti"), 14, "Second item title");
  whole.replace(whole.find("</item>"), 7, "<description>All of it.</description></item>");
  rss(whole, feed);
  std::vector<ItemView> v = items(feed);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].title, "Second item title");  // shown: the newest version
  EXPECT_EQ(v[0].summary, "All of it.");
  EXPECT_NE(v[0].older, 0);
  rss(whole, feed);
  EXPECT_EQ(items(feed).size(), 2u);
}

// A one-page news feed: items without guid that share their link and date
// are each kept, and read again add nothing.
TEST_F(FeedMergeTest, ItemsSharingALinkAndADateStayApart) {
  const std::string page = rssDocument(
      "<title>T</title><link>http://site/</link>"
      "<item><title>One</title><link>http://site/news</link><pubDate>" + std::string(k10) + "</pubDate></item>"
      "<item><title>Two</title><link>http://site/news</link><pubDate>" + std::string(k10) + "</pubDate></item>"
      "<item><title>Two</title><link>http://site/news</link><pubDate>" + std::string(k10) + "</pubDate>"
      "<description>other words</description></item>");
  newsFeed* feed = rss(page).feed;
  ASSERT_TRUE(feed);
  EXPECT_EQ(items(feed).size(), 3u);
  rss(page, feed);
  EXPECT_EQ(items(feed).size(), 3u);
}

// A database written before items without guid took their titles into
// their ids: the stored items keep their ids and are not stored again.
TEST_F(FeedMergeTest, ItemsStoredUnderTheirLinkAloneStayThemselves) {
  const std::string channel = "<title>T</title><link>http://site/</link>";
  const std::string before = rssDocument(channel + "<item><title>A</title><link>http://site/a</link></item>"
                                                   "<item><title>B</title><link>http://site/b</link></item>");
  newsFeed* feed = rss(before).feed;
  ASSERT_TRUE(feed);
  // As the last version stored them: the link alone.
  for (int32_t i = feed->itemList->infoHeadIndex(); i != 0;) {
    newsItem* it = item(i, feed);
    it->uniqueID = Str(it->uniqueID.view().substr(0, it->uniqueID.view().find(',')));
    db->saveChangesToObject(it);
    i = it->infoNextIndex();
    db->unloadObject(it);
  }
  const std::string stored = dumpModel();
  ASSERT_NE(stored.find("uniqueID=\"http://site/a\""), std::string::npos);
  rss(before, feed);
  EXPECT_EQ(dumpModel(), stored);
  // A new item at a stored link with another title is an item of its own.
  rss(rssDocument(channel + "<item><title>C</title><link>http://site/a</link></item>"), feed);
  std::vector<ItemView> v = items(feed);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].uniqueID, "http://site/a, C");
  EXPECT_EQ(v[0].older, 0);
}

TEST_F(FeedMergeTest, TheGeneratorFlagComparesTexts) {
  const char* marker = "<generator>https://wordpress.org/?v=4.9.1</generator>";
  newsFeed* feed = rss(doc({{"g", k10, "s"}}, marker)).feed;
  rss(doc({{"g", k10, "edited"}}, marker), feed);
  EXPECT_EQ(items(feed).size(), 2u);
  rss(doc({{"g", k10, "edited"}}, marker), feed);
  EXPECT_EQ(items(feed).size(), 2u);
}

TEST_F(FeedMergeTest, NotUpdatesChainsEveryVersion) {
  newsFeed* feed = rss(doc({{"g", k10, "s"}})).feed;
  feed->notUpdates = true;
  rss(doc({{"g", k10, "s"}}), feed);
  std::vector<ItemView> v = items(feed);
  ASSERT_EQ(v.size(), 2u);  // chained as a duplicate, so both versions stay
  EXPECT_TRUE(v[0].older != 0 || v[1].older != 0);
}

TEST_F(FeedMergeTest, AnUndatedStoredItemGivesWay) {
  newsFeed* feed = rss(doc({{"g", "", "s"}})).feed;
  EXPECT_EQ(feed->seenUpToTime, testing_news::kNow);
  EXPECT_EQ(feed->downloadLength, -1);
  rss(doc({{"g", k10, "s"}}), feed);
  std::vector<ItemView> v = items(feed);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].published, 473767200);
  // A stored item whose date, written as now, an earlier version could not
  // read is the same item: it takes the date and stays.
  const int32_t index = v[0].index;
  newsItem* it = item(index, feed);
  it->published = it->updated = kDateInvalid;
  db->saveChangesToObject(it);
  db->unloadObject(it);
  rss(doc({{"g", k10, "s"}}), feed);
  v = items(feed);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].published, 473767200);
  EXPECT_EQ(v[0].index, index);
}

TEST_F(FeedMergeTest, TwoNewVersionsJoinOneChainNewestFirst) {
  newsFeed* feed = rss(doc({{"g", k10, "s"}})).feed;
  rss(doc({{"g", k12, "a"}, {"g", "Mon, 05 Jan 2015 14:00:00 GMT", "b"}}), feed);
  std::vector<ItemView> v = items(feed);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].summary, "b");
  EXPECT_EQ(v[2].summary, "s");
  EXPECT_NE(v[2].newest, 0);
}

// Entries with nothing of their own to tell them apart are one entry, never
// chained: before, each download stored them again.
TEST_F(FeedMergeTest, EmptyEntriesAreOneEntry) {
  const std::string entries =
      "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title><id>urn:a</id>"
      "<entry><category term=\"x\"/></entry>"
      "<entry><category term=\"y\"/></entry></feed>";
  newsFeed* feed = atom(entries).feed;
  ASSERT_TRUE(feed);
  const std::string once = dumpModel();
  atom(entries, feed);
  EXPECT_EQ(dumpModel(), once);
  std::vector<ItemView> v = items(feed);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].older + v[0].newest, 0);
}

// Reports without guid at one link under one title, stored when their ids
// were numbered in document order (the first under the link and title, the
// others with a digest of their texts as written): read again they add
// nothing, and a report put on top is one new item of its own, whatever
// place the others move to. The stored ids stay.
TEST_F(FeedMergeTest, ReportsOfOneLinkAndTitleAreToldApartByTheirTexts) {
  auto page = [](int newest) {
    std::string channel = "<title>T</title><link>http://site/</link>";
    for (int n = newest; n >= 1; --n) {
      channel += "<item><title>Report</title><link>http://site/news</link><pubDate>0" + std::to_string(n) +
                 " Jan 2015 10:00:00 GMT</pubDate><description>Month " + std::to_string(n) + "</description></item>";
    }
    return rssDocument(channel);
  };
  newsFeed* feed = rss(page(3)).feed;
  ASSERT_TRUE(feed);
  for (const ItemView& v : items(feed)) {
    newsItem* it = item(v.index, feed);
    it->uniqueID = Str(v.summary == "Month 3" ? "http://site/news, Report"
                                             : "http://site/news, Report, " + textDigestKey(Str(v.summary), Str()).str());
    db->saveChangesToObject(it);
    db->unloadObject(it);
  }
  const std::string stored = dumpModel();
  rss(page(3), feed);
  EXPECT_EQ(dumpModel(), stored);
  rss(page(4), feed);
  std::vector<ItemView> v = items(feed);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0].summary, "Month 4");
  EXPECT_EQ(v[0].older + v[0].newest, 0);  // no version of an older report
  EXPECT_EQ(v[1].uniqueID, "http://site/news, Report");
  const std::string four = dumpModel();
  rss(page(4), feed);
  EXPECT_EQ(dumpModel(), four);
}

// Entries sharing one id, dated by their updated time alone: the index
// holds the newest, whose date the others do not share, and all of them land
// at the head of the list (no published date), where none is next to its
// twin. Before, each download added all but one of them again.
TEST_F(FeedMergeTest, AFeedGivingOneIdToSeveralItemsGainsNothingAgain) {
  const std::string entries =
      "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title><id>urn:a</id>"
      "<entry><title>3</title><id>urn:e</id><updated>2015-01-07T10:00:00Z</updated></entry>"
      "<entry><title>2</title><id>urn:e</id><updated>2015-01-06T10:00:00Z</updated></entry>"
      "<entry><title>1</title><id>urn:e</id><updated>2015-01-05T10:00:00Z</updated></entry></feed>";
  newsFeed* feed = atom(entries).feed;
  ASSERT_TRUE(feed);
  atom(entries, feed);
  EXPECT_EQ(items(feed).size(), 3u);

  // An item edited back to an older version under a new date is a new
  // version still: only an older twin whose date agrees is a repeat.
  newsFeed* edited = rss(doc({{"g", k10, "s"}})).feed;
  rss(doc({{"g", k12, "changed"}}), edited);
  rss(doc({{"g", "Mon, 05 Jan 2015 14:00:00 GMT", "s"}}), edited);
  EXPECT_EQ(items(edited).size(), 3u);
}

TEST_F(FeedMergeTest, TheIndexCoversTheNewestItemsOnly) {
  newsFeed* feed = makeFeed();
  for (int i = 0; i < 260; ++i) addItem(feed, "stored");
  FeedMergeSettings settings;
  settings.duplicateOrder = gCompareNewsItem_PublishedDate;
  for (auto [n, loads] : {std::pair{10, 100}, std::pair{70, 140}, std::pair{200, 260}}) {
    const int64_t before = infoNewsItemLoads();
    FeedMerge merge(*db, *feed, n, settings);
    EXPECT_EQ(infoNewsItemLoads() - before, loads) << n;
    merge.finish();
  }
  db->unloadObject(feed);
}

}  // namespace
}  // namespace bw
