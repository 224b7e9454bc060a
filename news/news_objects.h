// news/news_objects.h - the news model's stored objects: newsRoot, newsFeed,
// newsItem and newsItemBody, with the small queries every other unit uses.
//
// Ownership and uses:
//   1. The soup owns every stored object; loaders (news/news_load.h) hand
//      out one use each, given back with unloadObject (or LoadedUse). One
//      loaded object exists per index; nothing copies one.
//   2. The root holds one use of its feed list, a feed one use of its item
//      list, both taken at init/setSoup or at a fresh load and given back
//      when the object goes (only while the soup is still open: closing the
//      soup frees every loaded object at once).
//   3. An item's feed pointer is borrowed from a feed the caller keeps
//      loaded, except after infoFeed loaded the feed itself: then the item
//      holds that use and gives it back when it goes.
//   4. Stored fields are public: the parsers and the update fill them and
//      then save the object. Records are in news/news_format.h.
//   5. searchTerms and filterTerms are empty exactly when absent (NIL): a
//      split never gives an empty chain.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/charset.h"
#include "core/str.h"
#include "core/translate.h"
#include "database/object_list.h"
#include "database/soup_database.h"
#include "news/news_format.h"
#include "web/web_format.h"

namespace bw {

class newsFeed;

class newsRoot : public cIndexedObject {
  BW_CLASS(newsRoot, cIndexedObject)

 public:
  newsRoot() = default;
  ~newsRoot() override;

  // The root's `new`(soup): keeps soup and stores a new empty feed list
  // (one transaction), holding one use of it.
  void init(cJournaledIndexedObjectSoupDatabase* database);
  void restore(cRestoreStreamBase& stream, bool storing) override;

  int32_t version = kNewsRootVersion;
  Str twitterToken;
  Str twitterTokenSecret;
  Str facebookAccessToken;
  Str facebookUserID;
  Str rootText5;          // kept and written back unchanged
  int64_t rootValue64 = 0;  // kept and written back unchanged
  bigTime showLimitTime = kDateUnset;
  bool fixedShowPeriod = false;
  bool showUnseen = false;
  StrChain searchTerms;  // empty: no search
  cJournaledIndexedObjectSoupDatabase* soup = nullptr;
  int32_t feedListIndex = 0;
  cIndexedObjectList* feedList = nullptr;  // one use held
  newsFeed* firstLoadedFeed = nullptr;     // kept by the application
};

class newsFeed : public cIndexedObjectNode {
  BW_CLASS(newsFeed, cIndexedObjectNode)

 public:
  newsFeed() = default;
  ~newsFeed() override;

  // Keeps soup and stores the feed's new empty item list (one transaction),
  // holding one use of it.
  void setSoup(cJournaledIndexedObjectSoupDatabase* database);
  void restore(cRestoreStreamBase& stream, bool storing) override { restore(stream, storing, false); }
  // skipHeader (the backup dump): no node header and no itemListIndex.
  void restore(cRestoreStreamBase& stream, bool storing, bool skipHeader);

  // The display name: userName, else title, converted into charset; cached
  // in the feed until setName.
  const Str& infoName(const cEncoding* charset);
  // The tags without their enclosing commas, converted; "" without tags
  // (not cached); cached until setTags.
  Str infoTags(const cEncoding* charset);
  // In one transaction: the user's name for the feed (text in charset, kept
  // in the feed's encoding), or back to the title when name is empty; saves.
  void setName(cJournaledIndexedObjectSoupDatabase& db, const cEncoding& charset, const cEncoding& encoding,
               Text name);
  // Drops the tags cache (the tags text itself is the caller's to set).
  void clearTagsCache() { tagsCache = Str(); }
  // In one transaction: the tags typed by the user (display form in charset,
  // no enclosing commas) stored as "," + text in encoding + ","; an empty
  // text removes them (tags NIL); saves (news/feed_tags.cpp).
  void setTags(cJournaledIndexedObjectSoupDatabase& db, const cEncoding& charset, const cEncoding& encoding,
               Text text);
  // The Filter text and its terms split at ","; NIL or empty clears both.
  // Does not save (news/news_filter.cpp).
  void setFilter(Text text);
  // TRUE when seenUpToTime is valid and not after newestItemTime.
  bool infoHasUnseen() const { return isValidDate(seenUpToTime) && seenUpToTime <= newestItemTime; }

  int32_t version = kNewsFeedVersion;
  Str title;
  Str url;
  Str uniqueID;
  Str type;
  std::unique_ptr<webDataFormat> docFormat;  // made from type
  bool disabled = false;
  bool selectedInList = false;
  bigTime seenUpToTime = kDateUnset;
  bool noOlderItems = false;
  int32_t twitterUpdateCredit = 0;
  Str updatedText;
  Str imageURL;
  Str language;
  Str subtitle;
  Str rights;
  Str generator;
  int64_t downloadLength = 0;
  Str userName;
  Str tags;
  bool summaryIsContents = false;
  bool notUpdates = false;
  Str filter;
  bool useDownloadDate = false;
  bigTime previousSeenUpToTime = kDateUnset;
  bool downloadFailed = false;
  // Why the feed's last failed update of this run failed, and when (UTC
  // seconds since 1970); runtime only, like downloadFailed, so stored
  // records stay as older programs read them.
  std::string failureReason;
  int64_t failureTime = 0;
  // Items the updates of this run added (runtime only).
  int32_t newItemCount = 0;
  bool hasNewItems = false;
  bigTime newestItemTime = kDateUnset;
  StrChain filterTerms;  // filter split at ","; empty without a filter
  Str nameCache;
  Str tagsCache;
  cJournaledIndexedObjectSoupDatabase* soup = nullptr;
  int32_t itemListIndex = 0;
  cIndexedObjectList* itemList = nullptr;  // one use held
  newsFeed* nextLoadedFeed = nullptr;

 private:
  friend newsFeed* loadObject_newsFeed(cJournaledIndexedObjectSoupDatabase& db, int32_t index);
  void releaseItemList();
};

// Results of infoOldestDuplicateItemIndex: both 0 for an item in no chain.
struct DuplicateEnds {
  int32_t oldest = 0;
  int32_t newest = 0;
};

class newsItem : public cIndexedObjectNode {
  BW_CLASS(newsItem, cIndexedObjectNode)

 public:
  newsItem() = default;
  ~newsItem() override;

  void restore(cRestoreStreamBase& stream, bool storing) override { restore(stream, storing, false); }
  // skipHeader (the backup dump): no node header, feedIndex or bodyIndex.
  void restore(cRestoreStreamBase& stream, bool storing, bool skipHeader);

  // ignoreFeedSetting: updated unless unset, else published. Otherwise with
  // the feed's useDownloadDate: downloaded, updated, published (first not
  // unset); without: updated, published, downloaded.
  bigTime infoUpdatedElsePublishedDate(bool ignoreFeedSetting);
  // With the feed's useDownloadDate: downloaded, published, updated (first
  // not unset); without: published, updated, downloaded.
  bigTime infoPublishedDate();
  // The item's feed: the cached one, else loaded by feedIndex (db NIL:
  // "BUG" "newsItem.infoFeed(); soup=NIL but feed is also NIL"; none:
  // "BUG" "newsItem.infoFeed(); feed=NIL").
  newsFeed* infoFeed(cJournaledIndexedObjectSoupDatabase* db);
  // Borrows feed (see ownership 3); NIL forgets the cached one.
  void setFeed(newsFeed* borrowed);
  newsFeed* cachedFeed() const { return feed_; }

  // --- duplicate chains (news/duplicate_chain.cpp) ------------------------------
  // A chain of n >= 2 items, newest first: each item's olderDuplicateItemIndex
  // names the next older, 0 in the oldest; only the oldest holds
  // newestDuplicateItemIndex (the newest's index). An item in no chain has
  // both 0. Walks load one member at a time through loadObject_newsItem2
  // with this item's feed, remember what they visited, and end at a link
  // that cannot be loaded or that comes back to a visited item. The raises
  // named below are link damage (eRecordDamage, database/object_soup.h):
  // the chain's links do not agree.
  bool infoIsDuplicate() const { return olderDuplicateItemIndex != 0 || newestDuplicateItemIndex != 0; }
  bool infoIsOldestDuplicate() const { return newestDuplicateItemIndex != 0; }
  // "BUG" "newsItem.infoOldestDuplicateItemIndex(); prevIndex=0" when the
  // walk visited nothing, "...; newestDuplicateIndex=0 (1)" when the oldest
  // holds no newest link.
  DuplicateEnds infoOldestDuplicateItemIndex(cJournaledIndexedObjectSoupDatabase& db);
  int32_t infoNewestDuplicateOrSelfIndex(cJournaledIndexedObjectSoupDatabase& db, bool orSelf);
  // TRUE when other (the very object) is in this item's chain.
  bool infoIsInDuplicateList(cJournaledIndexedObjectSoupDatabase& db, const newsItem* other);
  // In one transaction each; every item changed is saved.
  void addAsNewestDuplicate(cJournaledIndexedObjectSoupDatabase& db, newsItem* other);
  void addAsOldestDuplicate(cJournaledIndexedObjectSoupDatabase& db, newsItem* other);
  // Unlinks this item (its own two fields stay as they are); nothing when it
  // is in no chain. "BUG" "newsItem.removeFromDuplicateList(); failed to
  // find node in duplicate list" when the walk from the newest never meets
  // it.
  void removeFromDuplicateList(cJournaledIndexedObjectSoupDatabase& db);

  int32_t version = kNewsItemVersion;
  int32_t feedIndex = 0;
  Str title;
  uint8_t titleFormat = kFormatDetect;
  Str link;
  Str statedLink;
  Str uniqueID;
  bigTime published = 0;
  bigTime updated = 0;
  bigTime downloaded = 0;
  int32_t olderDuplicateItemIndex = 0;
  int32_t newestDuplicateItemIndex = 0;
  Str tags;
  bool seen = false;
  bool secondMark = false;
  int32_t bodyIndex = 0;
  // Set on a fresh item before a read that needs only some fields: kNone
  // (deleting it) reads past every text, kKeys keeps link and uniqueID (a
  // glance at a stored item); the texts read past stay NIL. kKeysAndDates
  // reads as kKeys and stops after the updated date: the fields after it
  // keep what they held.
  enum class Texts : uint8_t { kAll, kKeys, kNone, kKeysAndDates };
  Texts textsRead = Texts::kAll;

 private:
  void releaseFeed();
  newsFeed* feed_ = nullptr;
  // The soup of the feed use infoFeed holds, NIL while the feed is borrowed.
  cJournaledIndexedObjectSoupDatabase* feedUseSoup_ = nullptr;

  // The record restore stores without skipHeader.
  void storeRecord(cRestoreStreamBase& stream);
};

class newsItemBody : public cIndexedObject {
  BW_CLASS(newsItemBody, cIndexedObject)

 public:
  void restore(cRestoreStreamBase& stream, bool storing) override { restore(stream, storing, false); }
  // A body has no header: skipHeader (the backup dump) gives the same bytes,
  // transferred field by field.
  void restore(cRestoreStreamBase& stream, bool storing, bool skipHeader);

  int32_t version = kNewsItemBodyVersion;
  Str encoding;
  Str statedEncoding;
  Str publishedText;
  Str updatedText;
  Str author;
  Str imageURL;
  Str summary;
  uint8_t summaryFormat = kFormatDetect;
  Str content;
  uint8_t contentFormat = kFormatDetect;

 private:
  // The record restore stores without skipHeader.
  void storeRecord(cRestoreStreamBase& stream);
};

// The document reader of a feed type: "Twitter..." a cJSON with the Twitter
// escape table, "Facebook..." a plain cJSON, "RSS..." or "Atom" a cXML;
// anything else "BUG" "feedTypeToDocFormat(); unknown type".
std::unique_ptr<webDataFormat> feedTypeToDocFormat(const Str& type);
// The escape table the Twitter module registers at its start (NIL before);
// it must outlive every feed reader made with it.
void setTwitterEscapeTable(const TranslateEntry* table);
const TranslateEntry* twitterEscapeTable();

// A stored feed text for display: NIL for NIL, else the reader's conversion
// into charset (noDecode for addresses; nilIfUnchanged as convertText),
// every C0 control XML forbids (web/control_chars.h) shown as U+FFFD, "?" in
// a single-byte charset.
Str convertFeedText(webDataFormat& docFormat, const cEncoding* charset, Text text, bool noDecode,
                    bool nilIfUnchanged);
// A stored XML text with each CDATA section's content written escaped, as a
// feed that escapes the same words stores them: decoded, a section's
// content is text up to its first "]]>" ("<![CDATA[" in it included), and
// the two ways of writing a text read alike.
std::string cdataSectionsEscaped(std::string_view text);
// The user's text (in charset) in the feed's encoding, '?' for what cannot
// be mapped; NIL for NIL.
Str feedTextToFeedEncoding(const cEncoding& charset, const cEncoding& encoding, Text text, bool nilIfUnchanged);

}  // namespace bw
