// app/feed_versions_test.cpp - `UpdateAll` over successive versions of
// feeds shaped as real ones, served on the loopback: after each run every
// item is in the news list once (its versions in one chain), the summary
// counts exactly the versions the run brought, and no stored item changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/app_test_support.h"
#include "app/update_server_test_support.h"
#include "core/charset.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

// An item of a document: its XML, the item the user takes it for, and
// what the user reads of it ("title|text").
struct Served {
  std::string xml, story, shown;
};

std::string day(int d) { return "<pubDate>" + std::to_string(d) + " Jan 2026 10:00:00 GMT</pubDate>"; }

// Version v of feed f, newest items first.
std::vector<Served> feedVersion(int f, int v) {
  std::vector<Served> out;
  auto add = [&](const std::string& xml, const std::string& story, const std::string& shown) {
    out.push_back({xml, story, shown});
  };
  const bool cdata = v == 0;
  const std::string fish =
      cdata ? "<![CDATA[<p>Fish &amp; chips</p>]]>" : "&lt;p&gt;Fish &amp;amp; chips&lt;/p&gt;";
  switch (f) {
    case 0:  // a page's reports without guid at one link and title, one more on top each time; digests of one
             // text
      for (int n = v + 3; n >= 1; --n) {
        const std::string words = "Report " + std::to_string(n);
        add("<title>Report</title><link>http://site.test/r</link>" + day(n) + "<description>" + words +
                "</description>",
            words, "Report|" + words);
      }
      for (int n = (v + 1) / 2; n >= 1; --n)
        add("<title>Digest</title><link>http://site.test/d</link>" + day(10 + n) +
                "<description>See it.</description>",
            "digest " + std::to_string(n), "Digest|See it.");
      break;
    case 1:  // an edited item listed in both its versions under one guid
      if (v >= 2) add("<title>Later</title><guid>g3</guid>" + day(3), "later", "Later|");
      add("<title>Launch moved</title><guid>g1</guid>" + day(2) + "<description>May.</description>", "g1",
          "Launch moved|May.");
      add("<title>Launch set</title><guid>g1</guid>" + day(1) + "<description>April.</description>", "g1",
          "Launch set|April.");
      break;
    case 2:  // items of nothing but a category or an enclosure; items of a text only
      if (v >= 1) add("<description>Second note.</description>", "note 2", "#MISSING|Second note.");
      add("<category>misc</category>", "empty", "#MISSING|");
      add("<enclosure url=\"http://site.test/a.mp3\" length=\"1\" type=\"audio/mpeg\"/>", "empty",
          "#MISSING|");
      add("<description>First note.</description>", "note 1", "#MISSING|First note.");
      break;
    case 3:  // texts and titles in CDATA, then escaped, with and without guid
      if (v >= 3) add("<title>New</title><guid>n</guid>" + day(4), "new", "New|");
      add("<title>Menu</title><guid>m</guid>" + day(1) + "<description>" + fish + "</description>", "menu",
          "Menu|<p>Fish & chips</p>");
      add("<title>" + std::string(cdata ? "<![CDATA[Q&A <today>]]>" : "Q&amp;A &lt;today&gt;") +
              "</title><link>http://site.test/qa</link>" + day(1) + "<description>" + fish + "</description>",
          "qa", "Q&A <today>|<p>Fish & chips</p>");
      break;
    case 4: {  // Windows line ends: texts in CDATA, then escaped, then CDATA and escaped with LF or a lone CR
      const char* ends[] = {"\r\n", "\r\n", "\n", "\r"};
      const std::string lines = std::string("<p>Line one") + ends[v] + "line two</p>";
      const std::string text = v % 3 == 0 ? "<![CDATA[" + lines + "]]>" : "&lt;p&gt;Line one" + std::string(ends[v]) + "line two&lt;/p&gt;";
      const std::string title = v % 3 == 0 ? std::string("<![CDATA[Two") + ends[v] + "lines]]>" : std::string("Two") + ends[v] + "lines";
      add("<title>" + title + "</title><guid>w</guid>" + day(1) + "<description>" + text + "</description>", "guid",
          "Two\nlines|<p>Line one\nline two</p>");
      add("<title>" + title + "</title><link>http://site.test/w</link>" + day(2) + "<description>" + text +
              "</description>",
          "link", "Two\nlines|<p>Line one\nline two</p>");
      break;
    }
    default:  // comment counts that change at every download
      for (const char* n : {"2", "1"})
        add(std::string("<title>Post</title><guid>p") + n + "</guid>" + day(n[0] - '0') +
                "<comments>http://site.test/c</comments><slash:comments>" + std::to_string(v * 7) + n +
                "</slash:comments>",
            n, "Post|");
  }
  return out;
}

std::string rss(const std::vector<Served>& items) {
  std::string doc =
      "<rss version=\"2.0\" xmlns:slash=\"http://purl.org/rss/1.0/modules/slash/\"><channel>"
      "<title>F</title><link>http://site.test/</link>";
  for (const Served& s : items) doc += "<item>" + s.xml + "</item>";
  return doc + "</channel></rss>";
}

TEST_F(ProgramTest, UpdateAllShowsEachItemOnceAndCountsTheNewOnes) {
  constexpr int kFeeds = 6;
  ConnectionLog log;
  FeedHostServer server(log, "127.0.0.1", "127.0.0.1");
  makeEmptyDatabase("database.soup");
  std::vector<int32_t> feeds;
  withDatabase("database.soup", [&](Db& db, newsRoot& root) {
    for (int f = 0; f < kFeeds; ++f)
      feeds.push_back(addFeed(db, root, "f", 0, false, server.url("/" + std::to_string(f))));
  });
  setShellFeedUpdateForTesting({});
  std::vector<std::map<std::string, std::set<std::string>>> seen(kFeeds);  // the model: each item's texts
  std::map<int32_t, std::string> ids;                                      // each stored item's id
  cEncodingUTF utf8;
  utf8.load("UTF-8");
  for (int v = 0; v < 4; ++v) {
    SCOPED_TRACE("version " + std::to_string(v));
    int news = 0;
    for (int f = 0; f < kFeeds; ++f) {
      for (const Served& s : feedVersion(f, v)) news += seen[f][s.story].insert(s.shown).second;
      server.put("/" + std::to_string(f), {rss(feedVersion(f, v))});
    }
    ASSERT_EQ(runShell(), 0);
    EXPECT_EQ(output,
              "Updated " + std::to_string(kFeeds) + " feeds: " + std::to_string(news) + (news == 1 ? " new item.\n" : " new items.\n"));
    const std::map<int32_t, std::string> before = std::exchange(ids, {});
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      for (int f = 0; f < kFeeds; ++f) {
        newsFeed* feed = loadObject_newsFeed(db, feeds[f]);
        auto text = [&](const Str& s) {
          return s.isNil() ? "" : convertFeedText(*feed->docFormat, &utf8, s, false, false).str();
        };
        std::map<int32_t, int32_t> older;
        std::map<int32_t, std::string> shown;
        for (int32_t i = feed->itemList->infoHeadIndex(); i != 0;) {
          newsItem* item = loadObject_newsItem2(db, i, feed);
          newsItemBody* body = loadObject_newsItemBody(db, item->bodyIndex);
          older[i] = item->olderDuplicateItemIndex;
          shown[i] = text(item->title) + "|" + text(body->summary);
          ids[i] = item->uniqueID.str();
          i = item->infoNextIndex();
          db.unloadObject(body);
          db.unloadObject(item);
        }
        db.unloadObject(feed);
        // One row of the list per chain, named by its oldest item.
        std::map<int32_t, std::set<std::string>> chains;
        for (const auto& [index, texts] : shown) {
          int32_t oldest = index;
          while (older[oldest] != 0) oldest = older[oldest];
          chains[oldest].insert(texts);
        }
        std::multiset<std::set<std::string>> rows, expected;
        for (const auto& [oldest, texts] : chains) rows.insert(texts);
        for (const auto& [story, texts] : seen[f]) expected.insert(texts);
        EXPECT_EQ(rows, expected) << "feed " << f;
      }
    });
    for (const auto& [index, id] : before) EXPECT_EQ(ids[index], id) << "item " << index;
  }
}

}  // namespace
}  // namespace bw::testing_app
