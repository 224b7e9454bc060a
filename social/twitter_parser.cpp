// social/twitter_parser.cpp - tweets and the profile into the news model.
#include "social/twitter_parser.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/mega_list_family.h"
#include "news/feed_merge.h"
#include "news/feed_newest_item.h"
#include "news/news_load.h"
#include "news/news_orderings.h"
#include "news/short_links.h"
#include "social/social_links.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

constexpr bigTime kNoOldest = 0x7FFFFFFF;

// The items stored in one phase, in the order they were stored: first
// pending, then in the list the merge hands on. Items still held when it
// goes (an exception passed) are given back to the soup.
struct NewItems {
  explicit NewItems(cJournaledIndexedObjectSoupDatabase& db) : db(db) {}
  ~NewItems() {
    std::vector<newsItem*> held = newsItemsOf(list);
    held.insert(held.end(), pending.begin(), pending.end());
    for (newsItem* item : held) {
      try {
        db.unloadObject(item);
      } catch (...) {
      }
    }
  }
  NewItems(const NewItems&) = delete;
  NewItems& operator=(const NewItems&) = delete;
  cJournaledIndexedObjectSoupDatabase& db;
  std::vector<newsItem*> pending;
  cMegaList_class list{false, nullptr, false};
};

class TweetParse {
 public:
  TweetParse(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, feedProgressGui* gui, int32_t tweetCount)
      : db_(db), feed_(feed), gui_(gui), tweetCount_(tweetCount) {}

  // Stores each tweet of the timeline root as a new item.
  void store(const webDataNode& timeline, NewItems& items, bool timeRange) {
    for (const webDataNode* tweet = timeline.getFirstChild(); tweet; tweet = tweet->getNext()) {
      TweetRecord r = twitterExtractTweet(*tweet, feed_);
      r.item->feedIndex = feed_.infoSoupIndex();
      r.item->setFeed(&feed_);
      showProgress(++tweetNumber_);
      r.item->bodyIndex = db_.createdAndUnloadObject(r.body.get());
      r.body.release();
      db_.createdObject(r.item.get());
      items.pending.push_back(r.item.release());
      if (timeRange) noteTime(*items.pending.back());
    }
  }

  // Link chains against the stored items next to the page, expansion, and
  // the items into the feed's list. A tweet that is already stored (same
  // id and dates as a scanned item) is dropped first: chained to its own
  // copy it would no longer count as a repeat.
  void merge(NewItems& items, bool older) {
    SocialLinkChains links(db_, feed_);
    if (!items.pending.empty()) scanStored(links, items, older);
    for (newsItem* item : items.pending) items.list.infoPastEnd()->beforeInsert(items.list.makeFloating(item));
    items.pending.clear();

    setProgressText(gui_, "Expanding shortened URLs");
    expandShortenedURLs(items.list, &db_);
    if (!items.list.isEmpty()) {
      setProgressText(gui_, "Finding duplicate items in feed");
      items.list.sort(gCompareNewsItem_PublishedDate);
      std::vector<newsItem*> sorted = newsItemsOf(items.list);
      if (older) {
        for (newsItem* item : sorted) links.joinAsOldest(*item);
      } else {
        for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) links.joinAsNewest(**it);
      }
    }
    setProgressText(gui_, "Adding items to feed");
    updateFeedNewestItemTime(db_, feed_, items.list, true);
  }

  bigTime newest() const { return newest_; }
  bigTime oldest() const { return oldest_; }

 private:
  struct Stamp {
    bigTime published, updated;
  };
  void scanStored(SocialLinkChains& links, NewItems& items, bool older) {
    std::unordered_map<std::string, Stamp> stored;
    const int32_t limit = std::max(kTwitterMinimumScan, 2 * tweetCount_);
    int32_t index = older ? feed_.itemList->infoTailIndex() : feed_.itemList->infoHeadIndex();
    for (int32_t scanned = 0; index != 0 && scanned < limit; ++scanned) {
      HeldItem item(db_, loadObject_newsItem2(db_, index, &feed_));
      if (!item) break;
      links.remember(*item.get());
      stored.try_emplace(item->uniqueID.str(), Stamp{item->published, item->updated});
      index = older ? item->infoPrevIndex() : item->infoNextIndex();
    }
    std::vector<newsItem*> kept;
    for (newsItem* item : items.pending) {
      auto found = stored.find(item->uniqueID.str());
      const bool repeat = item->uniqueID.view() != kMissingText && found != stored.end() &&
                          found->second.published == item->published && found->second.updated == item->updated;
      if (!repeat) {
        kept.push_back(item);
        continue;
      }
      newsItemBody* body = loadObject_newsItemBody(db_, item->bodyIndex);
      dropNewsItem(db_, item, body);
    }
    items.pending = std::move(kept);
  }
  void showProgress(int32_t number) {
    if (!gui_) return;
    // A count of 0 (tweets without members) or one the running number
    // outgrows shows as done.
    int64_t percent = tweetCount_ > 0 ? int64_t{number} * 100 / tweetCount_ : 100;
    percent = std::min<int64_t>(percent, 100);
    char text[kProgressTextCapacity + 1];
    std::snprintf(text, sizeof text, "Parsing item %ld (%ld%%)", static_cast<long>(number),
                  static_cast<long>(percent));
    setProgressText(gui_, text);
  }
  void noteTime(const newsItem& item) {
    bigTime t;
    if (isValidDate(item.published)) {
      t = item.published;
    } else if (isValidDate(item.updated)) {
      t = item.updated;
    } else {
      return;
    }
    newest_ = std::max(newest_, t);
    oldest_ = std::min(oldest_, t);
  }

  cJournaledIndexedObjectSoupDatabase& db_;
  newsFeed& feed_;
  feedProgressGui* gui_;
  int32_t tweetCount_;
  int32_t tweetNumber_ = 0;
  bigTime newest_ = kDateUnset;
  bigTime oldest_ = kNoOldest;
};

int32_t tweetsWithMembers(const webDataNode* timeline) {
  int32_t count = 0;
  for (const webDataNode* t = timeline ? timeline->getFirstChild() : nullptr; t; t = t->getNext()) {
    if (t->getFirstChild()) ++count;
  }
  return count;
}

}  // namespace

FeedParseResult parseTwitterFeed(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document, newsRoot& root,
                                 const cEncoding* charset, Text, newsFeed* updateFeed, feedProgressGui* gui) {
  setProgressText(gui, "Parsing feed");
  std::unique_ptr<newsFeed> info = twitterUserInfoToFeed(document);
  newsFeed* feed = updateFeed;
  bool added = false;
  if (!updateFeed && !info) return {};
  // The feed's own change and every item go in one transaction: a parse
  // that fails half-way leaves no feed without its items.
  SoupTransaction transaction(soup.infoBlockFile());
  if (!updateFeed) {
    SettledFeed settled = settleParsedFeed(soup, root, std::move(info), nullptr, charset, true);
    if (settled.refused) {
      transaction.finish();
      return {nullptr, true};
    }
    feed = settled.feed;
    added = !settled.existed;
  } else if (info) {
    settleFeed(soup, root, std::move(info), updateFeed);
  }

  const webDataNode* newer = document.findNode(kTimelineRoot, nullptr, nullptr, nullptr);
  const webDataNode* older = document.findNode(kOlderTimelineRoot, nullptr, nullptr, nullptr);
  TweetParse parse(soup, *feed, gui, tweetsWithMembers(newer) + tweetsWithMembers(older));

  {
    NewItems items(soup);
    if (newer) parse.store(*newer, items, true);
    parse.merge(items, false);
  }
  if (added) {
    feed->seenUpToTime = isValidDate(parse.newest()) ? parse.oldest() : pTime::CurrentTime(0);
  } else if (feed->seenUpToTime == kDateUnset && parse.oldest() != kNoOldest) {
    feed->seenUpToTime = parse.oldest();
    feed->previousSeenUpToTime = kDateUnset;
  }
  feed->downloadLength = -1;
  soup.saveChangesToObject(feed);

  if (older) {
    if (!older->getFirstChild()) {
      feed->noOlderItems = true;
      soup.saveChangesToObject(feed);
    }
    NewItems items(soup);
    parse.store(*older, items, false);
    parse.merge(items, true);
  }
  transaction.finish();
  setProgressText(gui, "");
  return {feed, false};
}

}  // namespace bw
