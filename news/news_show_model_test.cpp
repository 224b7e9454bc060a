// news/news_show_model_test.cpp - the Show walk against a plain filter: random
// Atom feeds mixing published, updated-only and undated entries, read in
// several downloads, must show exactly the items whose date is inside the
// limit, newest part first, each once.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>
#include <string>

#include "news/feed_parse_test_support.h"
#include "news/news_show.h"

namespace bw {
namespace {

class NewsShowModel : public testing_news::FeedParseTest {
 protected:
  // The items the walks show from the head, by soup index.
  std::multiset<int32_t> shown(newsFeed& feed) {
    std::multiset<int32_t> out;
    for (newsItem* i = isNewsItemShown(*db, feed.itemList->infoHeadIndex(), feed, root.get()); i;) {
      out.insert(i->infoSoupIndex());
      const int32_t next = i->infoNextIndex();
      db->unloadObject(i);
      i = isNewsItemShown(*db, next, feed, root.get());
    }
    return out;
  }
  // Every item of the list whose date is inside the limit.
  std::multiset<int32_t> filtered(newsFeed& feed, bigTime limit) {
    std::multiset<int32_t> out;
    for (int32_t i = feed.itemList->infoHeadIndex(); i != 0;) {
      newsItem* it = item(i, &feed);
      if (it->infoPublishedDate() >= limit) out.insert(i);
      i = it->infoNextIndex();
      db->unloadObject(it);
    }
    return out;
  }
};

std::string isoDay(int day) {
  char text[32];
  std::snprintf(text, sizeof text, "2015-%02d-%02dT10:00:00Z", 1 + day / 28, 1 + day % 28);
  return text;
}

TEST_F(NewsShowModel, TheWalkShowsWhatAPlainFilterShows) {
  std::mt19937 random(53);
  root->fixedShowPeriod = true;
  for (int round = 0; round < 30; ++round) {
    SCOPED_TRACE(round);
    const std::string url = "http://example.org/" + std::to_string(round);
    std::string entries;
    newsFeed* feed = nullptr;
    for (int download = 0; download < 3; ++download) {
      const int count = static_cast<int>(random() % 8);
      for (int e = 0; e < count; ++e) {
        entries += "<entry><id>" + std::to_string(download) + "-" + std::to_string(e) + "</id>";
        const unsigned kind = random() % 4;  // both, published, updated only, neither
        if (kind <= 1) entries += "<published>" + isoDay(static_cast<int>(random() % 300)) + "</published>";
        if (kind == 0 || kind == 2) entries += "<updated>" + isoDay(static_cast<int>(random() % 300)) + "</updated>";
        entries += "</entry>";
      }
      feed = atom("<feed xmlns=\"http://www.w3.org/2005/Atom\"><id>urn:" + std::to_string(round) + "</id>" +
                      "<title>T</title>" + entries + "</feed>",
                  feed, url.c_str())
                 .feed;
      ASSERT_TRUE(feed);
    }
    for (int day : {0, 50, 150, 250, 299, 330}) {
      SCOPED_TRACE(day);
      const bigTime limit = pTime::parseDateTimeISO8601(Str(isoDay(day)), kDateInvalid, 0, 1, 0);
      root->showLimitTime = limit;
      EXPECT_EQ(shown(*feed), filtered(*feed, limit));
    }
  }
}

}  // namespace
}  // namespace bw
