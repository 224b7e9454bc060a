// news/short_links_test.cpp - short-link expansion against a loopback
// shortener that counts its connections: which links are short, which
// answers change a link, eight requests at once, the retry after the pause,
// the deadline of a silent or stalling shortener, saving; and isSameLink.
#include "news/short_links.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "core/ascii_case.h"
#include "news/news_config.h"
#include "news/news_test_support.h"
#include "news/short_link_server_test_support.h"
#include "platform/clock.h"
#include "web/http.h"
#include "web/url.h"

namespace bw {
namespace {

using testing_news::ConcurrentServer;
using testing_news::ShortAnswer;

ShortAnswer redirect(int status, const std::string& location, int delayMs = 0) {
  std::string r = "HTTP/1.0 " + std::to_string(status) + " Moved\r\n";
  if (!location.empty()) r += "Location: " + location + "\r\n";
  return {r + "\r\n", delayMs, false, ""};
}

class ShortLinks : public testing_news::NewsTest {
 protected:
  void SetUp() override {
    NewsTest::SetUp();
    initHTTPModule();
  }
  void TearDown() override {
    endHTTPModule();
    setClockSource(nullptr);
    NewsTest::TearDown();
  }
  // Plain items with the links, expanded without a soup.
  std::deque<newsItem> expand(const std::vector<std::string>& links, const ShortLinkHooks& hooks = {}) {
    std::deque<newsItem> items(links.size());
    cMegaList_class list(false, nullptr, false);
    for (size_t i = 0; i < links.size(); ++i) {
      items[i].link = Str(links[i]);
      list.infoPastEnd()->beforeInsert(list.makeFloating(&items[i]));
    }
    expandShortenedURLs(list, nullptr, hooks);
    return items;
  }
};

TEST(ShortLink, IsRecognisedByHostAndLength) {
  struct Case {
    const char* link;
    bool shortLink;
  } cases[] = {
      {"http://1234567/abcdefghijklmnopq", true},    // 32 characters
      {"http://1234567/abcdefghijklmnopqr", false},  // 33
      {"http://12345678/abcdefghijklmnop", false},   // a host of 8, 32 characters
      {"http://tinyurl.com/a-rather-long-path-that-goes-on", true},
      {"http://TINYURL.COM/x", true},
      {"http://TinYURL.com:80/a-rather-long-path-that-goes-on", true},
      {"https://www.facebook.com/77/posts/10050?comment_id=10050_3", false},
      {"http://1234567/abcdefghijklmnopqrstuvwxyz", false},
      {"no host here", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isShortLink(c.link), c.shortLink) << c.link;
}

TEST_F(ShortLinks, TakesTheFirstRedirectOnly) {
  ConcurrentServer server([](const std::string& path) {
    if (path == "a") return redirect(301, "http://example.org/article-a");
    if (path == "b") return redirect(302, "https://example.org/b");
    if (path == "c") return redirect(303, "http://example.org/c");
    if (path == "d") return redirect(307, "http://example.org/d");
    if (path == "e") return redirect(308, "http://example.org/e");
    if (path == "f") return ShortAnswer{"HTTP/1.0 200 OK\r\n\r\nbody", 0, false, ""};
    if (path == "g") return redirect(302, "");
    if (path == "h") return redirect(301, "/abc");
    if (path == "i") return redirect(301, "javascript:alert(1)");
    if (path == "j") return redirect(301, "file:///etc/passwd");
    if (path == "k") return redirect(301, "/go?u=http://example.org/k");
    if (path == "l") return redirect(302, "/x/../l2");
    return redirect(404, "");
  });
  const std::string base = server.url("");
  std::string long33 = server.url(std::string(33 - base.size(), 'x'));
  std::deque<newsItem> items =
      expand({server.url("a"), server.url("b"), server.url("c"), server.url("d"), server.url("e"), server.url("f"),
              server.url("g"), server.url("h"), server.url("i"), server.url("j"), long33, server.url("k"),
              server.url("l")});
  const char* expected[] = {"http://example.org/article-a", "https://example.org/b", "http://example.org/c",
                            "http://example.org/d", "http://example.org/e"};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(items[i].link, expected[i]);
    EXPECT_EQ(items[i].statedLink, server.url(std::string(1, static_cast<char>('a' + i))));
  }
  // A relative Location is resolved against the short link; other schemes
  // and answers without a Location leave the link.
  EXPECT_EQ(items[7].link, base + "abc");
  EXPECT_EQ(items[11].link, base + "go?u=http://example.org/k");
  EXPECT_EQ(items[12].link, base + "l2");
  for (size_t i : {5u, 6u, 8u, 9u, 10u}) {
    EXPECT_EQ(items[i].link, i == 10 ? long33 : server.url(std::string(1, static_cast<char>('a' + i)))) << i;
    EXPECT_TRUE(items[i].statedLink.isNil()) << i;
  }
  server.stop();
  EXPECT_EQ(server.connections(), 12);  // never the 33-character link

  // A second expansion keeps the first short link.
  ConcurrentServer again([&](const std::string&) { return redirect(301, "http://example.org/final"); });
  newsItem item;
  item.link = Str(again.url("s"));
  item.statedLink = Str("http://first.short/");
  cMegaList_class list(false, nullptr, false);
  list.infoPastEnd()->beforeInsert(list.makeFloating(&item));
  expandShortenedURLs(list, nullptr);
  EXPECT_EQ(item.link, "http://example.org/final");
  EXPECT_EQ(item.statedLink, "http://first.short/");
}

TEST_F(ShortLinks, RunsEightRequestsAtOnce) {
  ConcurrentServer server([](const std::string& path) { return redirect(301, "http://example.org/" + path, 300); });
  std::vector<std::string> links;
  for (int i = 0; i < 9; ++i) links.push_back(server.url(std::to_string(i)));
  std::deque<newsItem> items = expand(links);
  server.stop();
  for (int i = 0; i < 9; ++i) EXPECT_EQ(items[static_cast<size_t>(i)].link, "http://example.org/" + std::to_string(i));
  EXPECT_EQ(server.maxOpen(), 8);
  std::vector<int> ended = server.endedBeforeEach();
  ASSERT_EQ(ended.size(), 9u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ended[static_cast<size_t>(i)], 0) << i;
  EXPECT_GE(ended[8], 1);
}

TEST_F(ShortLinks, RetriesAFailedSendOnceAfterThePause) {
  int closedPort = 0;
  int fd = test::listenLoopback(1, &closedPort);
  ::close(fd);  // nothing listens there now: the send fails
  std::vector<int32_t> sleeps;
  ShortLinkHooks hooks{[&](int32_t ticks) { sleeps.push_back(ticks); }};
  const std::string link = "http://127.1:" + std::to_string(closedPort) + "/x";
  std::deque<newsItem> items = expand({link, link}, hooks);
  EXPECT_EQ(sleeps, std::vector<int32_t>{kShortLinkRetryTicks});
  EXPECT_EQ(items[0].link, link);
  EXPECT_TRUE(items[1].statedLink.isNil());
}

TEST_F(ShortLinks, ASilentShortenerEndsAtTheDeadline) {
  ConcurrentServer server([](const std::string&) { return ShortAnswer{"", 0, true, ""}; });
  // Each reading of the clock is three seconds later.
  std::atomic<int64_t> now{1700000000};
  setClockSource([&] { return ClockReading{now.fetch_add(3), 0, false}; });
  std::vector<int32_t> sleeps;
  std::deque<newsItem> items = expand({server.url("q")}, ShortLinkHooks{[&](int32_t t) { sleeps.push_back(t); }});
  server.stop();
  EXPECT_EQ(sleeps, std::vector<int32_t>{kShortLinkRetryTicks});
  EXPECT_EQ(server.connections(), 2);
  EXPECT_EQ(items[0].link, server.url("q"));
}

TEST_F(ShortLinks, AnAnswerThatStallsHoldsOnlyItsOwnRequest) {
  // One shortener sends the start of its answer and then nothing, the other
  // answers at once. Read as it comes, the stalled request ends at its
  // deadline and is retried after the pause, like a silent one; a wait for
  // the rest would hold every request until the connection's own time-out.
  // The clock runs ten times as fast as the real one.
  const auto origin = std::chrono::steady_clock::now();
  setClockSource([origin] {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - origin);
    return ClockReading{1700000000 + ms.count() / 100, 0, false};
  });
  for (const std::string start : {"HTTP/1.0 30", "HTTP/1.0 301 Moved\r\nLoca"}) {
    SCOPED_TRACE(start);
    ConcurrentServer server([&](const std::string& path) {
      return path == "stalls" ? ShortAnswer{"", 0, true, start} : redirect(301, "http://example.org/long");
    });
    std::vector<int32_t> sleeps;
    std::deque<newsItem> items =
        expand({server.url("stalls"), server.url("answers")}, ShortLinkHooks{[&](int32_t t) { sleeps.push_back(t); }});
    server.stop();
    EXPECT_EQ(sleeps, std::vector<int32_t>{kShortLinkRetryTicks});
    EXPECT_EQ(server.connections(), 3);
    EXPECT_EQ(items[0].link, server.url("stalls"));
    EXPECT_EQ(items[1].link, "http://example.org/long");
  }
}

TEST_F(ShortLinks, SavesChangedItems) {
  ConcurrentServer server([](const std::string&) { return redirect(302, "http://example.org/long"); });
  newsFeed* feed = makeFeed();
  const int32_t index = addItem(feed);
  newsItem* loaded = item(index, feed);
  loaded->link = Str(server.url("z"));
  cMegaList_class list(false, nullptr, false);
  list.infoPastEnd()->beforeInsert(list.makeFloating(loaded));
  expandShortenedURLs(list, db.get());
  const int32_t feedIndex = feed->infoSoupIndex();
  db->unloadObject(loaded);
  db->unloadObject(feed);
  reopen();
  feed = loadObject_newsFeed(*db, feedIndex);
  loaded = item(index, feed);
  EXPECT_EQ(loaded->link, "http://example.org/long");
  EXPECT_EQ(loaded->statedLink, server.url("z"));
  db->unloadObject(loaded);
  db->unloadObject(feed);
}

TEST(SameLink, ComparesLinksAndHomeAddresses) {
  newsFeed feed, wrong;
  wrong.notUpdates = true;
  struct Case {
    const char* link;
    const char* other;
    bool same;
    bool sameWhenWrong;
  } cases[] = {
      {"http://a.org/story", "HTTP://A.ORG/story", true, true},
      {"http://a.org", "http://a.org", false, false},
      {"http://a.org/", "http://a.org/", false, false},
      {"http://a.org/#", "http://a.org/#", false, false},
      {"story", "story", true, true},
      {"http://a.org/one", "http://a.org/two", true, false},
      {"https://www.facebook.com/x/posts/1", "http://b.org/", true, true},
      {"", "", true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isSameLink(feed, c.link, c.other), c.same) << c.link;
    EXPECT_EQ(isSameLink(wrong, c.link, c.other), c.sameWhenWrong) << c.link;
  }
}

}  // namespace
}  // namespace bw
