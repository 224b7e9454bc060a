// social/twitter_parser.cpp - tweets and the profile into the news model.
#include "social/twitter_parser.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "news/feed_merge.h"
#include "news/news_load.h"
#include "social/social_merge.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

class TweetParse {
 public:
  TweetParse(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, feedProgressGui* gui, int32_t tweetCount)
      : db_(db), feed_(feed), gui_(gui), tweetCount_(tweetCount) {}

  // Stores each tweet of the timeline root as a new item.
  void store(const webDataNode& timeline, NewItems& items, bool timeRange) {
    for (const webDataNode* tweet = timeline.getFirstChild(); tweet; tweet = tweet->getNext()) {
      TweetRecord r = twitterExtractTweet(*tweet, feed_);
      showSocialProgress(gui_, "Parsing item %ld (%ld%%)", ++tweetNumber_, tweetCount_);
      storeNewItem(db_, feed_, std::move(r.item), std::move(r.body), items);
      if (timeRange) range_.note(*items.pending.back());
    }
  }

  // Link chains against the stored items next to the page, expansion, and
  // the items into the feed's list. A tweet that is already stored (same
  // id and dates as a scanned item) is dropped first: chained to its own
  // copy it would no longer count as a repeat.
  void merge(NewItems& items, bool older) {
    SocialLinkChains links(db_, feed_);
    if (!items.pending.empty()) scanStored(links, items, older);
    mergeNewItems(db_, feed_, gui_, links, items, older);
  }

  const SocialTimeRange& range() const { return range_; }

 private:
  struct Stamp {
    bigTime published, updated;
  };
  void scanStored(SocialLinkChains& links, NewItems& items, bool older) {
    std::unordered_map<std::string, Stamp> stored;
    scanStoredLinks(db_, feed_, links, older, tweetCount_, [&](const newsItem& item) {
      stored.try_emplace(item.uniqueID.str(), Stamp{item.published, item.updated});
    });
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
  cJournaledIndexedObjectSoupDatabase& db_;
  newsFeed& feed_;
  feedProgressGui* gui_;
  int32_t tweetCount_;
  int32_t tweetNumber_ = 0;
  SocialTimeRange range_;
};

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
  TweetParse parse(soup, *feed, gui, elementsWithMembers(newer) + elementsWithMembers(older));

  {
    NewItems items(soup);
    if (newer) parse.store(*newer, items, true);
    parse.merge(items, false);
  }
  settleSocialFeedTimes(soup, *feed, added, parse.range());

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
