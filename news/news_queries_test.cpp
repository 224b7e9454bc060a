// news/news_queries_test.cpp - the small queries of the news objects,
// loading by index (one shared object, the class check, the item's feed)
// and the deletion of an item.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "news/news_test_support.h"

namespace bw {
namespace {

class NewsQueryTest : public testing_news::NewsTest {
 protected:
  // The item indexes of feed's list, head to tail, as the file holds them.
  std::vector<int32_t> listed(int32_t feedIndex) {
    newsFeed* feed = loadObject_newsFeed(*db, feedIndex);
    LoadedUse use(*db, feed);
    std::vector<int32_t> out;
    for (int32_t i = feed->itemList->infoHeadIndex(); i != 0 && out.size() < 100; i = db->readObjectNodeHeader(i).nextIndex) {
      out.push_back(i);
    }
    return out;
  }
};

TEST_F(NewsQueryTest, DateQueriesPickTheFirstSetDate) {
  // Fields published, updated, downloaded: U unset, I invalid, or set (p, u,
  // d); results: infoUpdatedElsePublishedDate ignoring the feed, with and
  // without useDownloadDate, then infoPublishedDate with and without.
  struct {
    const char* fields;
    const char* want;
  } cases[] = {
      {"UUU", "UUUUU"}, {"UUI", "UIIII"}, {"UUd", "Udddd"}, {"UIU", "IIIII"}, {"UII", "IIIII"}, {"UId", "IdIdI"},
      {"UuU", "uuuuu"}, {"UuI", "uIuIu"}, {"Uud", "ududu"}, {"IUU", "IIIII"}, {"IUI", "IIIII"}, {"IUd", "IdIdI"},
      {"IIU", "IIIII"}, {"III", "IIIII"}, {"IId", "IdIdI"}, {"IuU", "uuuII"}, {"IuI", "uIuII"}, {"Iud", "ududI"},
      {"pUU", "ppppp"}, {"pUI", "pIpIp"}, {"pUd", "pdpdp"}, {"pIU", "IIIpp"}, {"pII", "IIIIp"}, {"pId", "IdIdp"},
      {"puU", "uuupp"}, {"puI", "uIuIp"}, {"pud", "ududp"},
  };
  auto value = [](char c) -> bigTime {
    switch (c) {
      case 'U': return kDateUnset;
      case 'I': return kDateInvalid;
      case 'p': return 10;
      case 'u': return 20;
      default: return 30;
    }
  };
  newsFeed feed;
  for (auto& c : cases) {
    SCOPED_TRACE(c.fields);
    newsItem item;
    item.setFeed(&feed);
    item.published = value(c.fields[0]), item.updated = value(c.fields[1]), item.downloaded = value(c.fields[2]);
    feed.useDownloadDate = true;
    EXPECT_EQ(item.infoUpdatedElsePublishedDate(true), value(c.want[0]));
    EXPECT_EQ(item.infoUpdatedElsePublishedDate(false), value(c.want[1]));
    EXPECT_EQ(item.infoPublishedDate(), value(c.want[3]));
    feed.useDownloadDate = false;
    EXPECT_EQ(item.infoUpdatedElsePublishedDate(true), value(c.want[0]));
    EXPECT_EQ(item.infoUpdatedElsePublishedDate(false), value(c.want[2]));
    EXPECT_EQ(item.infoPublishedDate(), value(c.want[4]));
  }
}

TEST_F(NewsQueryTest, UnseenNameTagsAndFeedTexts) {
  struct {
    bigTime seen, newest;
    bool unseen;
  } cases[] = {{kDateUnset, 5, false}, {kDateInvalid, 5, false}, {5, kDateUnset, false},
               {5, 4, false},          {5, 5, true},             {5, 6, true}};
  for (auto& c : cases) {
    newsFeed f;
    f.seenUpToTime = c.seen, f.newestItemTime = c.newest;
    EXPECT_EQ(f.infoHasUnseen(), c.unseen) << c.seen << " " << c.newest;
  }

  newsFeed* feed = makeFeed("Atom");
  feed->title = Str("Title &amp; co");
  feed->tags = Str(",news,tech,");
  EXPECT_EQ(feed->infoName(&utf8), "Title & co");
  EXPECT_EQ(feed->infoTags(&utf8), "news,tech");
  feed->setName(*db, utf8, utf8, "Mine");
  EXPECT_EQ(feed->infoName(&utf8), "Mine");
  feed->setName(*db, utf8, utf8, "");
  EXPECT_TRUE(feed->userName.isNil());
  EXPECT_EQ(feed->infoName(&utf8), "Title & co");
  feed->setName(*db, utf8, utf8, "Kept");
  feed->tags = Str();
  feed->clearTagsCache();
  EXPECT_EQ(feed->infoTags(&utf8), "");
  int32_t index = feed->infoSoupIndex();
  db->unloadObject(feed);
  reopen();
  feed = loadObject_newsFeed(*db, index);
  EXPECT_EQ(feed->userName, "Kept");
  EXPECT_EQ(convertFeedText(*feed->docFormat, &utf8, "&amp;amp;lt;b&amp;amp;gt;", false, false), "<b>");
  EXPECT_TRUE(convertFeedText(*feed->docFormat, &utf8, nullptr, false, false).isNil());
  EXPECT_TRUE(feedTextToFeedEncoding(utf8, utf8, nullptr, false).isNil());
  db->unloadObject(feed);
}

TEST_F(NewsQueryTest, LoadersShareOneObjectAndRefuseOtherClasses) {
  newsFeed* feed = makeFeed();
  int32_t a = addItem(feed);
  newsItem* item = loadObject_newsItem(*db, a);
  EXPECT_EQ(loadObject_newsItem(*db, a), item);
  EXPECT_EQ(item->infoUseCount(), 2);
  // Index 0, an index without a record, and a feed or body asked for as an
  // item (a damaged link) are not loaded; the feed keeps its uses.
  EXPECT_EQ(loadObject_newsItem(*db, 0), nullptr);
  EXPECT_EQ(loadObject_newsItem(*db, 999), nullptr);
  EXPECT_EQ(loadObject_newsItem(*db, feed->infoSoupIndex()), nullptr);
  EXPECT_EQ(loadObject_newsItemBody(*db, a), nullptr);
  EXPECT_EQ(feed->infoUseCount(), 1);
  EXPECT_EQ(item->infoUseCount(), 2);
  db->unloadObject(item);
  db->unloadObject(item);
  // Not loaded, an item's record read as a feed fails as damaged.
  expectRaise([&] { loadObject_newsFeed(*db, a); }, "BUG", "feedTypeToDocFormat(); unknown type");
  EXPECT_EQ(db->findLoadedObject(a, 0), nullptr);

  // loadObject_newsItem2 with the feed given, with the feed found loaded,
  // and without any.
  item = loadObject_newsItem2(*db, a, feed);
  EXPECT_EQ(item->cachedFeed(), feed);
  db->unloadObject(item);
  item = loadObject_newsItem2(*db, a, nullptr);
  EXPECT_EQ(item->cachedFeed(), feed);
  EXPECT_EQ(feed->infoUseCount(), 1);
  db->unloadObject(item);
  int32_t feedIndex = feed->infoSoupIndex();
  db->unloadObject(feed);
  expectRaise([&] { loadObject_newsItem2(*db, a, nullptr); }, "BUG",
              "loadObject_newsItem2(); feed was not already loaded");
  EXPECT_EQ(db->findLoadedObject(a, 0), nullptr);

  // infoFeed of an item whose feed is not loaded keeps the feed's one use
  // for as long as the item lives; a loaded feed is only borrowed.
  item = loadObject_newsItem(*db, a);
  newsFeed* loaded = item->infoFeed(db.get());
  EXPECT_EQ(loaded->infoSoupIndex(), feedIndex);
  EXPECT_EQ(loaded->title, Str());  // still there to read
  db->unloadObject(item);
  EXPECT_EQ(db->findLoadedObject(feedIndex, 0), nullptr);
  feed = loadObject_newsFeed(*db, feedIndex);
  item = loadObject_newsItem(*db, a);
  EXPECT_EQ(item->infoFeed(db.get()), feed);
  EXPECT_EQ(feed->infoUseCount(), 1);
  db->unloadObject(item);
  db->unloadObject(feed);

  newsItem orphan;
  expectRaise([&] { orphan.infoFeed(nullptr); }, "BUG", "newsItem.infoFeed(); soup=NIL but feed is also NIL");
  orphan.feedIndex = 999;
  expectRaise([&] { orphan.infoFeed(db.get()); }, "BUG", "newsItem.infoFeed(); feed=NIL");
}

TEST_F(NewsQueryTest, DestroyingItemsKeepsListsAndChainsStraight) {
  struct {
    const char* what;
    int victim;  // 0..3 of items a, b, c, d (c and d form a chain, d the oldest)
    bool keepDuplicates, neighboursLoaded;
    std::vector<int> list;  // what remains, head to tail
    int32_t dOlder, dNewest;
  } cases[] = {
      {"head", 0, false, false, {1, 2, 3}, 0, 2},
      {"head, neighbour loaded", 0, false, true, {1, 2, 3}, 0, 2},
      {"middle, neighbours loaded", 1, false, true, {0, 2, 3}, 0, 2},
      {"chained newest", 2, false, false, {0, 1, 3}, 0, 0},
      {"chained, neighbours loaded", 2, false, true, {0, 1, 3}, 0, 0},
      {"chained, keeping duplicates", 2, true, true, {0, 1, 3}, 0, 2},
      {"tail, chained oldest", 3, false, true, {0, 1, 2}, 0, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    newsFeed* feed = makeFeed();
    int32_t feedIndex = feed->infoSoupIndex();
    std::vector<int32_t> items;
    for (int i = 0; i < 4; ++i) items.push_back(addItem(feed));
    newsItem* chained = item(items[2], feed);
    newsItem* oldest = item(items[3], feed);
    chained->addAsOldestDuplicate(*db, oldest);
    db->unloadObject(oldest);
    db->unloadObject(chained);

    std::vector<newsItem*> held;
    if (c.neighboursLoaded) {
      for (int n : {c.victim - 1, c.victim + 1}) {
        if (n >= 0 && n < 4) held.push_back(item(items[size_t(n)], feed));
      }
    }
    newsItem* victim = item(items[size_t(c.victim)], feed);
    destroyNewsItem(*db, victim, loadObject_newsItemBody(*db, victim->bodyIndex), c.keepDuplicates);
    for (newsItem* h : held) db->unloadObject(h);
    db->unloadObject(feed);
    reopen();
    std::vector<int32_t> want;
    for (int n : c.list) want.push_back(items[size_t(n)]);
    EXPECT_EQ(listed(feedIndex), want);
    if (c.victim != 3) {
      feed = loadObject_newsFeed(*db, feedIndex);
      newsItem* d = item(items[3], feed);
      EXPECT_EQ(d->olderDuplicateItemIndex, c.dOlder);
      EXPECT_EQ(d->newestDuplicateItemIndex, c.dNewest == 0 ? 0 : items[size_t(c.dNewest)]);
      db->unloadObject(d);
      db->unloadObject(feed);
    }
  }
}

TEST_F(NewsQueryTest, AnItemItsListStillNamesIsNeverDropped) {
  newsFeed* feed = makeFeed();
  int32_t only = addItem(feed);
  int32_t unlisted = addItem(feed, "dropped", false);
  newsItem* it = item(only, feed);
  // The list's only member has the links 0, 0 of an item in no list.
  expectRaise([&] { dropNewsItem(*db, it, nullptr); }, "BUG", "destroyNewsItem(); item is still in its feed's list");
  EXPECT_FALSE(db->infoMustClose());
  EXPECT_EQ(db->findLoadedObject(only, 0), it);
  db->unloadObject(it);
  it = item(unlisted, feed);
  dropNewsItem(*db, it, loadObject_newsItemBody(*db, it->bodyIndex));
  EXPECT_EQ(loadObject_newsItem(*db, unlisted), nullptr);
  int32_t feedIndex = feed->infoSoupIndex();
  db->unloadObject(feed);
  reopen();
  EXPECT_EQ(listed(feedIndex), std::vector<int32_t>{only});
}

}  // namespace
}  // namespace bw
