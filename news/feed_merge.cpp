// news/feed_merge.cpp - the merge stage of the feed parsers.
#include "news/feed_merge.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/box.h"
#include "core/string_procs.h"
#include "news/feed_newest_item.h"
#include "news/news_format.h"
#include "news/news_load.h"
#include "news/rss_date.h"
#include "news/short_links.h"
#include "platform/time.h"

namespace bw {
namespace {

bool isMissing(const Str& key) { return key.isNil() || key == std::string_view(kMissingText); }

// Both NIL, or both set and equal.
bool sameText(const Str& a, const Str& b) { return a.isNil() == b.isNil() && (a.isNil() || a.view() == b.view()); }

// Gives back one use of a loaded object on every way out.
template <class T>
struct Loaded {
  cJournaledIndexedObjectSoupDatabase& db;
  T* object;
  ~Loaded() {
    if (object) db.unloadObject(object);
  }
  T* operator->() const { return object; }
};

}  // namespace

Str linkAndTitleKey(const Str& link, const Str& title, Str* earlierID) {
  Str key = copyString(link);
  normaliseFeedURL(key);
  if (title.isNil() || title == std::string_view(kMissingText)) return key;
  if (earlierID) *earlierID = copyString(key);
  return concatStrings(key, ", ", title);
}

Str textDigestKey(const Str& a, const Str& b) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const Str* text : {&a, &b}) {
    for (char c : text->view()) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash = (hash ^ 0xFF) * 1099511628211ull;
  }
  char key[24];
  std::snprintf(key, sizeof key, "#%016llx", static_cast<unsigned long long>(hash));
  return Str(key);
}

bigTime FeedTimeRange::note(const newsItem& item) {
  bigTime t;
  if (isValidDate(item.published)) {
    t = item.published;
  } else if (isValidDate(item.updated)) {
    t = item.updated;
  } else {
    return kDateUnset;
  }
  newest = std::max(newest, t);
  oldest = std::min(oldest, t);
  return t;
}

void settleFeedTimes(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, bool added, const FeedTimeRange& range,
                     bigTime firstUnseen, bigTime downloadLength) {
  if (added) {
    feed.seenUpToTime = range.newest == kDateUnset ? pTime::CurrentTime(0) : range.oldest;
  } else if (feed.seenUpToTime == kDateUnset && firstUnseen != FeedTimeRange::kNoOldest) {
    feed.seenUpToTime = firstUnseen;
    feed.previousSeenUpToTime = kDateUnset;
  }
  feed.downloadLength = downloadLength;
  db.saveChangesToObject(&feed);
}

FeedMerge::FeedMerge(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, int32_t itemCount,
                     const FeedMergeSettings& settings)
    : db_(db), feed_(feed), settings_(settings) {
  index_ = std::make_unique<cStringSpace>(true, cStringSpace::kCaseSensitive);
  const int64_t limit = std::max<int64_t>(2 * int64_t{itemCount}, 100);
  int32_t next = feed.itemList ? feed.itemList->infoHeadIndex() : 0;
  for (int64_t n = 0; next != 0 && n < limit; ++n) {
    Loaded<newsItem> stored{db, loadObject_newsItem2(db, next, &feed)};
    if (!stored.object) break;
    if (!isMissing(stored->uniqueID)) {
      if (!index_->get(stored->uniqueID).data) {
        index_->set(stored->uniqueID, new boxVALUE(next));
      } else {
        olderTwins_[stored->uniqueID.str()].push_back(next);
      }
    }
    next = stored->infoNextIndex();
  }
  threshold_ = settings.feedExisted && feed.seenUpToTime == kDateUnset ? feed.newestItemTime : kDateUnset;
  transaction_ = db.beginTransaction();
}

FeedMerge::~FeedMerge() {
  if (finished_) return;
  // The new items are the soup's; the list's uses go back.
  for (newsItem* item : newsItemsOf(newItems_)) db_.unloadObject(item);
}

bool FeedMerge::storedTitleIs(int32_t storedIndex, const Str& title) {
  Loaded<newsItem> stored{db_, loadObject_newsItem2(db_, storedIndex, &feed_)};
  return stored.object && stored->title == title;
}

void FeedMerge::adoptEarlierID(newsItem& item, const Str& earlierID) {
  if (isMissing(item.uniqueID) || isMissing(earlierID) || index_->get(item.uniqueID).data) return;
  StringSpaceEntry found = index_->get(earlierID);
  if (!found.data) return;
  bool same = storedTitleIs(static_cast<boxVALUE*>(found.data)->value, item.title);
  if (!same) {
    const auto twins = olderTwins_.find(earlierID.str());
    if (twins != olderTwins_.end()) {
      for (const int32_t twin : twins->second) {
        if ((same = storedTitleIs(twin, item.title))) break;
      }
    }
  }
  if (same) item.uniqueID = copyString(earlierID);
}

bool FeedMerge::isRepeat(newsItem& item, newsItemBody& body, bool& storedGaveWay) {
  storedGaveWay = false;
  if (feed_.notUpdates || isMissing(item.uniqueID)) return false;
  StringSpaceEntry found = index_->get(item.uniqueID);
  if (!found.data) return false;
  const Verdict verdict = compare(item, body, static_cast<boxVALUE*>(found.data)->value, true);
  storedGaveWay = verdict == Verdict::kStoredGaveWay;
  if (verdict != Verdict::kNew) return verdict == Verdict::kRepeat;
  // A feed that gives one id to several items: the item may repeat an
  // older stored item of its id rather than the newest. Only one whose date
  // agrees is asked, so an item edited back to an older version with a new
  // date is still a new version.
  const auto twins = olderTwins_.find(item.uniqueID.str());
  if (twins == olderTwins_.end()) return false;
  for (const int32_t twin : twins->second) {
    if (compare(item, body, twin, false) == Verdict::kRepeat) return true;
  }
  return false;
}

FeedMerge::Verdict FeedMerge::compare(newsItem& item, newsItemBody& body, int32_t storedIndex, bool newest) {
  Loaded<newsItem> stored{db_, loadObject_newsItem2(db_, storedIndex, &feed_)};
  if (!stored.object) return Verdict::kNew;
  const bigTime storedDate = stored->infoUpdatedElsePublishedDate(true);
  const bigTime itemDate = item.infoUpdatedElsePublishedDate(true);
  const bigTime d = storedDate - itemDate;
  const bool sameDate = d == 0 || d == 3600 || d == -3600;
  if (!newest && !sameDate) return Verdict::kNew;
  // An item whose date agrees (or moved by a clock change) is the same item
  // while its title and texts are; its link may change. An item cut short
  // by a broken download is mended by the whole one.
  const bool byDate = sameDate && !settings_.generatorFlag;
  if (!(stored->title == item.title && (byDate || stored->link == item.link))) return Verdict::kNew;
  {
    Loaded<newsItemBody> storedBody{db_, loadObject_newsItemBody(db_, stored->bodyIndex)};
    const Str nil;
    const Str& summary = storedBody.object ? storedBody->summary : nil;
    const Str& content = storedBody.object ? storedBody->content : nil;
    if (!sameText(summary, body.summary) || !sameText(content, body.content)) return Verdict::kNew;
  }
  if (!isValidDate(storedDate) && isValidDate(itemDate)) {
    if (!newest || stored->infoIsDuplicate()) return Verdict::kNew;
    index_->remove(item.uniqueID);
    newsItem* gone = stored.object;
    stored.object = nullptr;  // the destroy gives the use back
    destroyNewsItem(db_, gone, nullptr, false);
    return Verdict::kStoredGaveWay;
  }
  return Verdict::kRepeat;
}

bool FeedMerge::add(std::unique_ptr<newsItem> item, std::unique_ptr<newsItemBody> body, const Str& earlierID) {
  if (!earlierID.isNil()) adoptEarlierID(*item, earlierID);
  bool storedGaveWay = false;
  const bool isNew = !isRepeat(*item, *body, storedGaveWay);
  noteDates(*item, isNew);
  if (!isNew) return false;
  item->bodyIndex = db_.createdAndUnloadObject(body.get());
  body.release();
  db_.createdObject(item.get());
  newsItem* stored = item.release();
  newItems_.infoPastEnd()->beforeInsert(newItems_.makeFloating(stored));
  ++newCount_;
  return true;
}

void FeedMerge::noteDates(const newsItem& item, bool isNew) {
  const bigTime t = range_.note(item);
  if (isNew && t != kDateUnset && t > threshold_) oldestNew_ = std::min(oldestNew_, t);
}

void FeedMerge::finish() {
  setProgressText(settings_.gui, "Expanding shortened URLs");
  expandShortenedURLs(newItems_, &db_);

  if (!newItems_.isEmpty()) {
    setProgressText(settings_.gui, "Finding duplicate items in feed");
    if (settings_.duplicateOrder) newItems_.sort(settings_.duplicateOrder);
    std::vector<newsItem*> items = newsItemsOf(newItems_);
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      newsItem* item = *it;
      if (isMissing(item->uniqueID)) continue;
      StringSpaceEntry found = index_->get(item->uniqueID);
      if (!found.data) continue;
      Loaded<newsItem> stored{db_, loadObject_newsItem2(db_, static_cast<boxVALUE*>(found.data)->value, &feed_)};
      if (stored.object) stored->addAsNewestDuplicate(db_, item);
    }
  }
  index_.reset();

  setProgressText(settings_.gui, "Adding items to feed");
  updateFeedNewestItemTime(db_, feed_, newItems_, true);
  finished_ = true;

  settleFeedTimes(db_, feed_, !settings_.feedExisted, range_, oldestNew_,
                  range_.newest == kDateUnset ? -1 : range_.newest - range_.oldest);
  db_.finishTransaction(transaction_);
  setProgressText(settings_.gui, "");
}

}  // namespace bw
