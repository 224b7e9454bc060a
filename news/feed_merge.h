// news/feed_merge.h - the stage every feed parser ends in: each parsed item
// is classed as new, as a repeat of a stored item (dropped) or as a changed
// version (stored and chained to it); then short links are expanded, the new
// items join the feed's date-ordered list, and the feed's seen-up-to time and
// download length are brought up to date.
//
// Invariants:
//   1. The index of stored items covers the feed's newest max(2N, 100) items,
//      keyed exactly by uniqueID, the newer of two with one key winning. The
//      key "#MISSING" is never indexed, looked up or chained. An item that is
//      not a repeat of the indexed item is still one of an older stored item
//      of its id whose date agrees, or of an item of this download with its
//      id (a feed that lists one id twice stores each version once, chained,
//      and gains nothing when it is downloaded again). An item is a repeat
//      only while its title and texts are those stored, read as shown
//      (CDATA sections and escapes decoded); a date that agrees (or moved by
//      one hour) only lets its link change.
//   2. Items without an id of their own are matched to the stored items of
//      their link and title (whatever ids those were given) by their texts,
//      then by their dates, never by their places in the document. One that
//      shares its link and title with others of its document and matches
//      none is new, with an id of its own; one alone with its link and title
//      keeps the id the link-and-title rule gives it, so an edit of it is a
//      new version. Stored ids never change.
//   3. Stored items are loaded only while they are compared and are given
//      back at once (infoNewsItemLoads of news/news_load.h counts them).
//   4. All item writes of a parse run in the one transaction the constructor
//      begins and finish() ends. If finish() is never reached the new items
//      are given back to the soup (which owns them) and the transaction is
//      left to the soup's own handling.
//   5. The caller's progress line, when given, shows each phase and ends
//      empty.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/mega_list_family.h"
#include "core/string_space.h"
#include "database/soup_database.h"
#include "news/news_objects.h"
#include "news/ui_seam.h"
#include "web/xml_entities.h"

namespace bw {

inline constexpr const char* kMissingText = "#MISSING";

struct FeedMergeSettings {
  bool feedExisted = false;  // the parse updates a stored feed
  // RSS feeds of the marked generator: items whose dates agree are still
  // compared by their texts. Atom passes false.
  bool generatorFlag = false;
  // Some item of the document has no id of its own (noteItemWithoutID):
  // the index's walk keeps what matching them reads of the stored items.
  bool itemsWithoutID = false;
  // The order of new items before they are chained as duplicates.
  fCompareMegaNodes* duplicateOrder = nullptr;
  feedProgressGui* gui = nullptr;
};

// The newest and oldest date over the items of a download: each item counts
// with its published date when valid, else its updated date when valid,
// else not at all.
struct FeedTimeRange {
  static constexpr bigTime kNoOldest = 0x7FFFFFFF;
  bigTime newest = kDateUnset;
  bigTime oldest = kNoOldest;
  // Notes item's date and answers it; kDateUnset for an item without one.
  bigTime note(const newsItem& item);
};

// The feed's times after a download, then the feed is saved: an added feed
// is seen up to range's oldest date (now when no item had a date); an
// updated one, only while its seen-up-to time is unset, up to firstUnseen
// (kNoOldest leaves it), its previous time cleared. downloadLength is stored
// as given.
void settleFeedTimes(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, bool added, const FeedTimeRange& range,
                     bigTime firstUnseen, bigTime downloadLength);

// The id of an item without one that has a link: its link as the feed id
// rule normalises it (the id such items had before, earlierID for
// FeedMerge::add), then ", " and its title, so items that share a page are
// told apart by their titles. Without a title, the link alone.
Str linkAndTitleKey(const Str& link, const Str& title, Str* earlierID);

// "#" and 16 hex digits: a digest of the two texts (either may be NIL).
Str textDigestKey(const Str& a, const Str& b);

class FeedMerge {
 public:
  // Builds the index for itemCount parsed items, sets the running dates and
  // begins the item transaction.
  FeedMerge(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, int32_t itemCount,
            const FeedMergeSettings& settings);
  ~FeedMerge();
  FeedMerge(const FeedMerge&) = delete;
  FeedMerge& operator=(const FeedMerge&) = delete;

  // Notes an item whose id was made from its link and title (or its other
  // fields) rather than given by the feed: every such item of the document,
  // in document order, before the first add(). Each is then added with
  // madeID set, in the same order; item and body stay as they are until the
  // first of them is added, which matches them all (their texts are read
  // only where their links and titles leave them undecided).
  void noteItemWithoutID(const newsItem& item, const newsItemBody& body);

  // Takes one parsed item and its body: stored when new, dropped when a
  // repeat. Answers whether it was new. earlierID (NIL: none) is the id
  // the item had under an earlier rule: while nothing stored has its id, a
  // stored item of the earlier id with the same title lends the item that
  // id, so items stored before the rule changed stay themselves.
  bool add(std::unique_ptr<newsItem> item, std::unique_ptr<newsItemBody> body, const Str& earlierID = Str(),
           bool madeID = false);

  // Expands shortened links, chains the new items to their stored
  // duplicates, inserts them, settles the feed's times and saves.
  void finish();

  int32_t infoNewCount() const { return newCount_; }

 private:
  enum class Verdict { kNew, kRepeat, kStoredGaveWay };
  // An item without an id of its own as noteItemWithoutID saw it.
  struct Unnamed {
    std::string family;                    // its id as shown
    Str key;                               // the id it was given
    const newsItemBody* body = nullptr;    // until planUnnamed
    uint64_t texts = 0;                    // shownTextsDigest of body, once planUnnamed needs it
    bigTime date = 0;                      // updated, else published
  };
  // What add() does with such an item: drop it as a repeat, keep the id it
  // was given (the usual repeat test follows), or give it a new id.
  struct Planned {
    enum Kind { kRepeat, kAsGiven, kOwnID } kind = kAsGiven;
    Str id;
  };
  void planUnnamed();
  // Calls visit(index, item) for each item the index covers, in list order.
  template <class Visit>
  void walkIndexed(Visit visit);
  bool sameShown(const Str& a, const Str& b) const;
  uint64_t shownTextsDigest(const Str& summary, const Str& content) const;
  // The text as the reader shows it: CDATA sections and escapes read.
  std::string shown(const Str& text) const;
  // idGiven: the item's id is the feed's own (not made from its texts).
  bool isRepeat(newsItem& item, newsItemBody& body, bool idGiven, bool& storedGaveWay);
  // A repeat of an item this download stored under the same id.
  bool repeatsNewItem(newsItem& item, newsItemBody& body);
  // The repeat test of item against the stored item at storedIndex: the
  // newest of its id, or an older one (asked only when their dates agree,
  // and never giving way).
  Verdict compare(newsItem& item, newsItemBody& body, int32_t storedIndex, bool newest);
  bool storedTitleIs(int32_t storedIndex, const Str& title);
  void adoptEarlierID(newsItem& item, const Str& earlierID);
  // An id's text: as the reader reads it, without the blanks around it (a
  // feed that indents its guids gives the same ids).
  std::string idText(const Str& id) const;
  // An id not in the index takes the indexed one of the same text, written
  // otherwise (escaped, in CDATA, indented): the same id. True when it took
  // one.
  bool adoptIdWrittenOtherwise(newsItem& item);
  void noteDates(const newsItem& item, bool isNew);

  cJournaledIndexedObjectSoupDatabase& db_;
  newsFeed& feed_;
  FeedMergeSettings settings_;
  std::unique_ptr<cStringSpace> index_;
  // The older stored items of an indexed id, in list order.
  std::unordered_map<std::string, std::vector<int32_t>> olderTwins_;
  cMegaList_class newItems_{false, nullptr, false};
  int64_t indexLimit_ = 0;
  // New items of this download by id, for a later item of the same id.
  std::unordered_map<std::string, std::vector<int32_t>> newByID_;
  std::shared_ptr<const XmlDecoder> decoder_;  // the feed's XML entities, or none
  // The indexed ids whose text (idText) is not as they are written, by
  // that text; made at the first id not found.
  std::unordered_map<std::string, Str> idsByText_;
  bool idsByTextMade_ = false;
  std::vector<Unnamed> unnamed_;
  // The indexed stored items as planUnnamed reads them, when the document
  // has items without ids.
  struct StoredRef {
    Str id, title;
    bigTime date;
    int32_t bodyIndex;
  };
  std::vector<StoredRef> storedRefs_;
  std::vector<Planned> plan_;
  size_t nextUnnamed_ = 0;
  int32_t transaction_ = 0;
  bool finished_ = false;
  int32_t newCount_ = 0;
  FeedTimeRange range_;
  bigTime oldestNew_ = FeedTimeRange::kNoOldest;
  bigTime threshold_;
};

}  // namespace bw
