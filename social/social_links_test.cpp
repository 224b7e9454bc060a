// social/social_links_test.cpp - link keys as a table, and the duplicate
// rebuild: the cases of each feed kind and a seeded workload checked against
// a plain model.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "news/news_test_support.h"
#include "news/short_links.h"
#include "social/social_links.h"

namespace bw {
namespace {

TEST(SocialLinks, Normalised) {
  const char* kNil = nullptr;
  struct {
    const char* link;
    const char* changed;  // onlyIfChanged TRUE; NIL: unchanged
  } cases[] = {
      {"https://www.facebook.com/x/posts/1?comment_id=5&x=2#c", "https://www.facebook.com/x/posts/1#c"},
      {"https://www.facebook.com/x/posts/1?a=1&comment_id=5", "https://www.facebook.com/x/posts/1?a=1"},
      {"https://www.facebook.com/p/?a=1#x", "https://www.facebook.com/p/?a=1#x"},
      {"HTTPS://WWW.FACEBOOK.COM/p?a=1/", "HTTPS://WWW.FACEBOOK.COM/p?a=1"},
      // comment_id= inside the "#" part is not the query's
      {"https://www.facebook.com/p?a=1#x&comment_id=5", "https://www.facebook.com/p?a=1#x&comment_id=5"},
      {"http://example.com/page/?a=1", "http://example.com/page"},
      {"http://example.com/page?a=1#top", "http://example.com/page#top"},
      {"http://example.com/view.php?id=7", "http://example.com/view.php?id=7"},
      {"http://example.com/view.php/?id=7#f", "http://example.com/view.php#f"},
      {"https://www.youtube.com/watch?v=1", kNil},
      {"https://WWW.YOUTUBE.com/watch?v=1/", "https://WWW.YOUTUBE.com/watch?v=1"},
      {"http://example.com/a/", "http://example.com/a"},
      {"http://example.com/a", kNil},
      {"?x=1", ""},
      {"?x#f", "#f"},
      {"a#b?c", "a#b"},
      {"/", ""},
      {"", kNil},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    Str got = normaliseSocialLink(c.link, true);
    EXPECT_EQ(got.isNil(), c.changed == nullptr);
    if (c.changed) {
      EXPECT_EQ(got.view(), c.changed);
    }
    Str always = normaliseSocialLink(c.link, false);
    EXPECT_EQ(always.view(), c.changed ? c.changed : c.link);
    EXPECT_EQ(socialLinkKey(c.link).view(), always.view());
  }
  expectRaise([] { normaliseSocialLink(nullptr, true); }, "EMU", "normaliseSocialLink(); link=NIL");
}

class RebuildTest : public testing_news::NewsTest {
 protected:
  // A stored item at the tail of feed's list (so each one added is older
  // than the ones before), not loaded.
  int32_t add(newsFeed* feed, const char* link, const char* id = "#MISSING") {
    auto body = std::make_unique<newsItemBody>();
    int32_t bodyIndex = db->createdAndUnloadObject(body.release());
    auto item = std::make_unique<newsItem>();
    item->feedIndex = feed->infoSoupIndex();
    item->bodyIndex = bodyIndex;
    item->link = Str(link);
    item->uniqueID = Str(id);
    int32_t index = db->createdAndUnloadObject(item.release());
    feed->itemList->insertAtTail(index);
    return index;
  }
  // (older, newest) of the stored item.
  std::pair<int32_t, int32_t> chain(newsFeed* feed, int32_t index) {
    HeldItem held(*db, item(index, feed));
    return {held->olderDuplicateItemIndex, held->newestDuplicateItemIndex};
  }
  void setChain(newsFeed* feed, int32_t index, int32_t older, int32_t newest) {
    HeldItem held(*db, item(index, feed));
    held->olderDuplicateItemIndex = older;
    held->newestDuplicateItemIndex = newest;
    db->saveChangesToObject(held.get());
  }
  using Chain = std::pair<int32_t, int32_t>;
};

TEST_F(RebuildTest, ChainsOfEachFeedKind) {
  newsFeed* twitter = makeFeed("Twitter v1.1");
  int32_t newest = add(twitter, "http://example.com/a?x=1");
  int32_t middle = add(twitter, "http://example.com/a/");
  int32_t oldest = add(twitter, "http://example.com/a");
  int32_t alone = add(twitter, "");
  setChain(twitter, alone, oldest, 0);  // a stale chain goes
  rebuildFeedDuplicates(*db, *twitter);
  EXPECT_EQ(chain(twitter, oldest), Chain(0, newest));
  EXPECT_EQ(chain(twitter, middle), Chain(oldest, 0));
  EXPECT_EQ(chain(twitter, newest), Chain(middle, 0));
  EXPECT_EQ(chain(twitter, alone), Chain(0, 0));
  // With notUpdates only equal links still meet.
  twitter->notUpdates = true;
  int32_t same = add(twitter, "http://example.com/a");
  rebuildFeedDuplicates(*db, *twitter);
  EXPECT_EQ(chain(twitter, same), Chain(0, oldest));
  EXPECT_EQ(chain(twitter, oldest), Chain(same, 0));
  EXPECT_EQ(chain(twitter, middle), Chain(0, 0));
  EXPECT_EQ(chain(twitter, newest), Chain(0, 0));
  db->unloadObject(twitter);

  newsFeed* rss = makeFeed("RSS 2.0");
  int32_t second = add(rss, "l1", "id");
  int32_t first = add(rss, "l2", "id");
  int32_t missing1 = add(rss, "l", "#MISSING");
  int32_t missing2 = add(rss, "l", "#MISSING");
  int32_t none1 = add(rss, "l", nullptr), none2 = add(rss, "l", nullptr);  // no id, as the merge reads it too
  rebuildFeedDuplicates(*db, *rss);
  EXPECT_EQ(chain(rss, first), Chain(0, second));
  EXPECT_EQ(chain(rss, second), Chain(first, 0));
  for (int32_t missing : {missing1, missing2, none1, none2}) EXPECT_EQ(chain(rss, missing), Chain(0, 0));
  rss->notUpdates = true;
  rebuildFeedDuplicates(*db, *rss);
  EXPECT_EQ(chain(rss, first), Chain(0, 0));
  EXPECT_EQ(chain(rss, second), Chain(0, 0));
  db->unloadObject(rss);

  newsFeed* other = makeFeed("Atom");
  other->type = Str("Unknown");
  int32_t a = add(other, "l", "id");
  int32_t b = add(other, "l", "id");
  setChain(other, a, b, 0);
  rebuildFeedDuplicates(*db, *other);
  EXPECT_EQ(chain(other, a), Chain(b, 0));
  db->unloadObject(other);
}

// 2,000 items with links drawn from a small set, rebuilt twice (the second
// time over the first rebuild's chains, with notUpdates set), each time
// compared with chains built by a plain walk.
TEST_F(RebuildTest, ChainsMatchModel) {
  newsFeed* feed = makeFeed("Facebook v2.8");
  std::mt19937 random(28);
  const char* shapes[] = {"http://s%d.com/p", "http://s%d.com/p/", "http://S%d.com/p?x=1", "",
                          "https://www.facebook.com/%d?a=1"};
  std::vector<int32_t> indexes;  // newest first
  std::vector<std::string> links;
  std::map<int32_t, std::string> linkOf;
  for (int i = 0; i < 2000; ++i) {
    char link[64];
    std::snprintf(link, sizeof link, shapes[random() % 5], static_cast<int>(random() % 40));
    links.emplace_back(link);
    indexes.push_back(add(feed, link));
    linkOf[indexes.back()] = link;
  }
  for (bool notUpdates : {false, true}) {
    SCOPED_TRACE(notUpdates);
    feed->notUpdates = notUpdates;
    rebuildFeedDuplicates(*db, *feed);
    std::map<std::string, std::vector<int32_t>> chains;  // key -> members oldest first
    std::map<int32_t, Chain> want;
    for (size_t i = indexes.size(); i-- > 0;) {
      want[indexes[i]] = {0, 0};
      if (links[i].empty()) continue;
      auto& members = chains[socialLinkKey(links[i]).str()];
      if (!members.empty() && !isSameLink(*feed, links[i], linkOf[members[0]])) continue;
      if (!members.empty()) {
        want[indexes[i]].first = members.back();
        want[members[0]].second = indexes[i];
      }
      members.push_back(indexes[i]);
    }
    for (int32_t index : indexes) ASSERT_EQ(chain(feed, index), want[index]) << index;
  }
  db->unloadObject(feed);
  reopen();
}

}  // namespace
}  // namespace bw
