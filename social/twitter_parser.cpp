// social/twitter_parser.cpp - tweets and the profile into the news model.
#include "social/twitter_parser.h"

#include <memory>
#include <vector>

#include "news/feed_merge.h"
#include "news/news_load.h"
#include "news/short_links.h"
#include "social/id_index.h"
#include "social/social_merge.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

class TweetParse : public SocialPageParse {
 public:
  using SocialPageParse::SocialPageParse;

 private:
  void storeNewer(NewItems& items) override { store(newer_, items, true); }
  void storeOlder(NewItems& items) override { store(older_, items, false); }

  // Stores each tweet of a timeline root as a new item.
  void store(const webDataNode* timeline, NewItems& items, bool timeRange) {
    for (const webDataNode* tweet = timeline ? timeline->getFirstChild() : nullptr; tweet; tweet = tweet->getNext()) {
      TweetRecord r = twitterExtractTweet(*tweet, feed_);
      showNextItem();
      storeNewItem(db_, feed_, std::move(r.item), std::move(r.body), items);
      if (timeRange) range_.note(*items.pending.back());
    }
  }

  // A scanned item's dates; nextSame: the place (plus one) of another
  // scanned item of the same id, 0 at the last.
  struct Stamp {
    bigTime published, updated;
    int32_t nextSame;
  };
  // Besides the link keys, a tweet that is already stored (same id and
  // dates as a scanned item) is dropped first: chained to its own copy it
  // would no longer count as a repeat.
  void scanStored(SocialLinkChains& links, NewItems& items, bool older) override {
    // Every scanned item gives its dates; the index holds the place (plus
    // one) of the first of each id, whose chain reaches the others: a page
    // that holds one id twice stores both, and each must be found again.
    IdIndex stored;
    std::vector<Stamp> stamps;
    scanStoredLinks(db_, feed_, links, older, itemCount(), [&](const newsItem& item, std::string_view uniqueID) {
      stamps.push_back({item.published, item.updated, 0});
      const auto place = static_cast<int32_t>(stamps.size());
      if (const int32_t first = stored.setIfAbsent(uniqueID, place)) {
        // Joins the chain right after the first.
        stamps[place - 1].nextSame = stamps[first - 1].nextSame;
        stamps[first - 1].nextSame = place;
      }
    });
    std::vector<newsItem*> kept;
    for (newsItem* item : items.pending) {
      bool repeat = false;
      if (item->uniqueID.view() != kMissingText) {
        for (int32_t at = stored.find(item->uniqueID.view()); at != 0 && !repeat; at = stamps[at - 1].nextSame) {
          repeat = stamps[at - 1].published == item->published && stamps[at - 1].updated == item->updated;
        }
      }
      if (!repeat) {
        kept.push_back(item);
        continue;
      }
      newsItemBody* body = loadObject_newsItemBody(db_, item->bodyIndex);
      dropNewsItem(db_, item, body);
    }
    items.pending = std::move(kept);
  }
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

  const webDataNode* older = document.findNode(kOlderTimelineRoot, nullptr, nullptr, nullptr);
  TweetParse parse(soup, *feed, gui, document.findNode(kTimelineRoot, nullptr, nullptr, nullptr), older);
  parse.run(transaction, added, older != nullptr, older && !older->getFirstChild());
  return {feed, false};
}

}  // namespace bw
