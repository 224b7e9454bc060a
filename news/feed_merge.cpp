// news/feed_merge.cpp - the merge stage of the feed parsers.
#include "news/feed_merge.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <unordered_set>
#include <vector>

#include "core/box.h"
#include "core/string_procs.h"
#include "news/feed_newest_item.h"
#include "news/list_loop.h"
#include "news/news_format.h"
#include "news/news_load.h"
#include "news/rss_date.h"
#include "news/short_links.h"
#include "platform/time.h"
#include "web/xml_reader.h"

namespace bw {
namespace {

bool isMissing(const Str& key) { return key.isNil() || key == std::string_view(kMissingText); }

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

namespace {

// Whether an XML text holds what reading it changes: an escape, a CDATA
// section or a CR.
bool holdsMarkup(std::string_view v) {
  return std::any_of(v.begin(), v.end(), [](char c) { return c == '&' || c == '<' || c == '\r'; });
}

constexpr uint64_t kDigestStart = 14695981039346656037ull;  // FNV-1a

uint64_t digestOn(uint64_t hash, std::string_view text) {
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

// "#" and the digest in 16 hex digits.
Str digestKey(uint64_t hash) {
  char key[24];
  std::snprintf(key, sizeof key, "#%016llx", static_cast<unsigned long long>(hash));
  return Str(key);
}

// newsItem::infoUpdatedElsePublishedDate(true).
bigTime updatedElsePublished(const newsItem& item) {
  return item.updated != kDateUnset ? item.updated : item.published;
}

bool sameDates(bigTime a, bigTime b) {
  const bigTime d = a - b;
  return d == 0 || d == 3600 || d == -3600;
}

}  // namespace

Str textDigestKey(const Str& a, const Str& b) {
  uint64_t hash = kDigestStart;
  for (const Str* text : {&a, &b}) hash = digestOn(digestOn(hash, text->view()), "\xFF");
  return digestKey(hash);
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

void settleFeedTimes(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, bool added,
                     const FeedTimeRange& range, bigTime firstUnseen, bigTime downloadLength) {
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
  if (const auto* xml = dynamic_cast<const cXML*>(feed.docFormat.get())) decoder_ = xml->infoDecoder();
  indexLimit_ = std::max<int64_t>(2 * int64_t{itemCount}, 100);
  walkIndexed([&](int32_t index, const newsItem& stored) {
    if (settings.itemsWithoutID) {
      storedRefs_.push_back(
          {copyString(stored.uniqueID), copyString(stored.title), updatedElsePublished(stored), stored.bodyIndex});
    }
    if (isMissing(stored.uniqueID)) return;
    if (!index_->get(stored.uniqueID).data) {
      index_->set(stored.uniqueID, new boxVALUE(index));
    } else {
      olderTwins_[stored.uniqueID.str()].push_back(index);
    }
  });
  threshold_ = settings.feedExisted && feed.seenUpToTime == kDateUnset ? feed.newestItemTime : kDateUnset;
  transaction_ = db.beginTransaction();
}

template <class Visit>
void FeedMerge::walkIndexed(Visit visit) {
  int32_t next = feed_.itemList ? feed_.itemList->infoHeadIndex() : 0;
  // A damaged list would hide the items behind a loop or a stray link, to
  // be stored again as new: it is damage.
  ListLoop loop(next);
  for (int64_t n = 0; next != 0 && n < indexLimit_; ++n) {
    Loaded<newsItem> stored{db_, loadObject_newsItem2(db_, next, &feed_)};
    if (!stored.object) raiseLinkDamage("FeedMerge(); the item list names an index that holds no item");
    visit(next, *stored.object);
    next = stored->infoNextIndex();
    loop.stepTo(next, "FeedMerge(); the item list comes back to an item it went through");
  }
}

FeedMerge::~FeedMerge() {
  if (finished_) return;
  // The new items are the soup's; the list's uses go back.
  for (newsItem* item : newsItemsOf(newItems_)) db_.unloadObject(item);
}

namespace {

bool isTagBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Markup with each empty-element tag ("<x/>", "<x a='1' />") read as the
// element with its end tag ("<x></x>", "<x a='1'></x>"): markup stored
// before empty elements were written back as written held that form.
std::string withEndTags(std::string text) {
  if (text.find("/>") == std::string::npos) return text;
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find('<', i);
    const bool isTag = open != std::string::npos && open + 1 < text.size() &&
                       (std::isalpha(static_cast<unsigned char>(text[open + 1])) || text[open + 1] == '_');
    if (!isTag) {
      const size_t stop = open == std::string::npos ? text.size() : open + 1;
      out.append(text, i, stop - i);
      i = stop;
      continue;
    }
    size_t end = open + 1;
    for (char quote = 0; end < text.size() && (quote || text[end] != '>'); ++end) {
      if (quote ? text[end] == quote : text[end] == '"' || text[end] == '\'') quote = quote ? 0 : text[end];
    }
    if (end == text.size() || text[end - 1] != '/') {
      out.append(text, i, end - i);
      i = end;
      continue;
    }
    size_t last = end - 1;
    while (last > open + 1 && isTagBlank(text[last - 1])) --last;
    size_t nameEnd = open + 1;
    while (nameEnd < last && !isTagBlank(text[nameEnd]) && text[nameEnd] != '/') ++nameEnd;
    out.append(text, i, last - i);
    out += "></";
    out.append(text, open + 1, nameEnd - open - 1);
    out += '>';
    i = end + 1;
  }
  return out;
}

}  // namespace

bool FeedMerge::sameShown(const Str& a, const Str& b) const {
  if (a.isNil() || b.isNil()) return a.isNil() == b.isNil();
  if (a.view() == b.view()) return true;
  return decoder_ && withEndTags(shown(a)) == withEndTags(shown(b));
}

uint64_t FeedMerge::shownTextsDigest(const Str& summary, const Str& content) const {
  uint64_t hash = kDigestStart;
  for (const Str* text : {&summary, &content}) {
    if (!text->isNil()) hash = digestOn(hash, withEndTags(shown(*text)));
    hash = digestOn(hash, text->isNil() ? "\xFE" : "\xFF");
  }
  return hash;
}

std::string FeedMerge::shown(const Str& text) const {
  const std::string_view v = text.view();
  return decoder_ && holdsMarkup(v) ? xmlMarkupText(v, decoder_->entities()) : std::string(v);
}

namespace {

// A family's name: its runs of blanks one space, none at either end, so an
// indented title names the family its plain twin names.
std::string collapsedBlanks(std::string text) {
  size_t kept = 0;
  bool blank = false;  // a blank after kept text, written before the next byte
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      blank = kept > 0;
      continue;
    }
    if (blank) text[kept++] = ' ';
    blank = false;
    text[kept++] = c;
  }
  text.resize(kept);
  return text;
}

}  // namespace

void FeedMerge::noteItemWithoutID(const newsItem& item, const newsItemBody& body) {
  unnamed_.push_back(
      {collapsedBlanks(shown(item.uniqueID)), copyString(item.uniqueID), &body, 0, updatedElsePublished(item)});
}

namespace {

// The id without the ", #" and 16 hex digits that tell apart the items of
// one link and title.
std::string_view withoutDigest(std::string_view id) {
  constexpr size_t kSuffix = 2 + 1 + 16;
  if (id.size() <= kSuffix || id.substr(id.size() - kSuffix, 3) != ", #") return id;
  const std::string_view hex = id.substr(id.size() - 16);
  const bool isHex = std::all_of(hex.begin(), hex.end(),
                                 [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
  return isHex ? id.substr(0, id.size() - kSuffix) : id;
}

// Texts and a date of the items of one family.
struct Version {
  uint64_t texts;
  bigTime date;
};

// Whether two of the versions have texts and dates that differ by more
// than a clock change: then only the date tells them apart.
template <class List, class Get>
bool textsNeedDates(const List& list, uint64_t texts, Get get) {
  bool seen = false;
  bigTime date = 0;
  for (const auto& entry : list) {
    const Version v = get(entry);
    if (v.texts != texts) continue;
    if (seen && !sameDates(date, v.date)) return true;
    seen = true;
    date = v.date;
  }
  return false;
}

}  // namespace

// The items without ids of one family (the id their link and title give,
// read as shown) are matched to the stored items of that family, whatever
// ids they were given: first those whose texts and dates agree, then those
// whose texts do, unless several of either side have those texts under
// other dates. Of the rest, one alone in its family, stored or not, keeps
// the id it was given (an edit of it is a new version); one that repeats an
// earlier item of the document (texts and date) is dropped; any other is
// new with an id of its own, made from its texts (and its date, if another
// has its texts).
void FeedMerge::planUnnamed() {
  plan_.resize(unnamed_.size());
  std::unordered_map<std::string, std::vector<size_t>> families;
  // The family of each id given, for the stored items of those ids.
  std::unordered_map<std::string_view, const std::string*> familyOfKey;
  for (size_t i = 0; i < unnamed_.size(); ++i) {
    families[unnamed_[i].family].push_back(i);
    familyOfKey.emplace(unnamed_[i].key.view(), &unnamed_[i].family);
  }
  struct Stored {
    Str id;
    int32_t bodyIndex;
    Version version;  // texts once the family needs them
    bool claimed = false;
  };
  std::unordered_map<std::string, std::vector<Stored>> stored;
  // "Wrong about news updates": no item is taken for a stored one.
  if (!feed_.notUpdates) {
    // Read by the constructor when the settings said so, else here.
    if (!settings_.itemsWithoutID) {
      walkIndexed([&](int32_t, const newsItem& item) {
        storedRefs_.push_back(
            {copyString(item.uniqueID), copyString(item.title), updatedElsePublished(item), item.bodyIndex});
      });
    }
    for (StoredRef& item : storedRefs_) {
      if (const auto known = familyOfKey.find(item.id.view()); known != familyOfKey.end()) {
        stored[*known->second].push_back({std::move(item.id), item.bodyIndex, {0, item.date}});
        continue;
      }
      // Stored under the id of the link alone, the title was not in it.
      const std::string id = shown(Str(withoutDigest(item.id.view())));
      std::string family = collapsedBlanks(id);
      if (!families.contains(family)) family = collapsedBlanks(id + ", " + shown(item.title));
      if (!families.contains(family)) continue;
      stored[family].push_back({std::move(item.id), item.bodyIndex, {0, item.date}});
    }
  }
  std::unordered_set<std::string> taken;  // ids this download has given
  auto isFree = [&](const Str& id) { return !index_->get(id).data && !taken.contains(id.str()); };
  for (auto& [name, members] : families) {
    std::vector<Stored>& candidates = stored[name];
    const bool alone = members.size() == 1 && candidates.size() <= 1;
    // One alone whose stored item, if any, has its id takes the usual test
    // whatever its texts: only the other families read them.
    if (alone && (candidates.empty() || candidates[0].id.view() == unnamed_[members[0]].key.view())) continue;
    for (const size_t e : members) unnamed_[e].texts = shownTextsDigest(unnamed_[e].body->summary, unnamed_[e].body->content);
    for (Stored& s : candidates) {
      Loaded<newsItemBody> body{db_, loadObject_newsItemBody(db_, s.bodyIndex)};
      const Str nil;
      s.version.texts = body.object ? shownTextsDigest(body->summary, body->content) : shownTextsDigest(nil, nil);
    }
    auto docVersion = [&](size_t e) { return Version{unnamed_[e].texts, unnamed_[e].date}; };
    auto storedVersion = [](const Stored& s) { return s.version; };
    std::vector<bool> matched(members.size(), false);
    for (const bool byDate : {true, false}) {
      for (size_t m = 0; m < members.size(); ++m) {
        const Unnamed& u = unnamed_[members[m]];
        if (!byDate && (textsNeedDates(members, u.texts, docVersion) ||
                        textsNeedDates(candidates, u.texts, storedVersion)))
          continue;
        for (Stored& s : candidates) {
          if (matched[m] || s.claimed || s.version.texts != u.texts ||
              (byDate && !sameDates(s.version.date, u.date)))
            continue;
          s.claimed = matched[m] = true;
          taken.insert(s.id.str());
          // One alone that matches the stored item of its own id takes the
          // usual test, in which an undated stored item gives way.
          if (!(alone && s.id.view() == u.key.view())) plan_[members[m]].kind = Planned::kRepeat;
        }
      }
    }
    if (alone) continue;
    for (size_t m = 0; m < members.size(); ++m) {
      if (matched[m]) continue;
      const Unnamed& u = unnamed_[members[m]];
      Planned& p = plan_[members[m]];
      if (std::any_of(members.begin(), members.begin() + static_cast<std::ptrdiff_t>(m),
                      [&](size_t e) { return unnamed_[e].texts == u.texts && unnamed_[e].date == u.date; })) {
        p.kind = Planned::kRepeat;
        continue;
      }
      p.kind = Planned::kOwnID;
      p.id = concatStrings(u.key, ", ", digestKey(u.texts));
      const uint64_t dated = digestOn(u.texts, std::to_string(u.date));
      for (int n = 1; !isFree(p.id); ++n) {
        p.id = concatStrings(u.key, ", ", digestKey(n == 1 ? dated : digestOn(dated, std::to_string(n))));
      }
      taken.insert(p.id.str());
    }
  }
  for (Unnamed& u : unnamed_) u.body = nullptr;  // added from here on
  storedRefs_.clear();
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

std::string FeedMerge::idText(const Str& id) const { return std::string(trimmedBlanks(shown(id))); }

bool FeedMerge::adoptIdWrittenOtherwise(newsItem& item) {
  if (!decoder_) return false;
  const std::string text = idText(item.uniqueID);
  // An id written plainly is its own text; one that holds "&" or "<" as
  // text can only have been written otherwise.
  if (text != item.uniqueID.view() && !holdsMarkup(text) && index_->get(Text(text)).data) {
    item.uniqueID = Str(text);
    return true;
  }
  if (!idsByTextMade_) {
    for (bool on = index_->gotoFirst(); on; on = index_->gotoNext()) {
      const Str& id = *index_->infoCurrent().key;
      std::string written = idText(id);
      if (written != id.view()) idsByText_.try_emplace(std::move(written), copyString(id));
    }
    idsByTextMade_ = true;
  }
  const auto found = idsByText_.find(text);
  if (found == idsByText_.end()) return false;
  item.uniqueID = copyString(found->second);
  return true;
}

bool FeedMerge::isRepeat(newsItem& item, newsItemBody& body, bool idGiven, bool& storedGaveWay) {
  storedGaveWay = false;
  if (feed_.notUpdates || isMissing(item.uniqueID)) return false;
  StringSpaceEntry found = index_->get(item.uniqueID);
  if (!found.data && idGiven && adoptIdWrittenOtherwise(item)) found = index_->get(item.uniqueID);
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

bool FeedMerge::repeatsNewItem(newsItem& item, newsItemBody& body) {
  if (feed_.notUpdates || isMissing(item.uniqueID)) return false;
  const auto earlier = newByID_.find(item.uniqueID.str());
  if (earlier == newByID_.end()) return false;
  for (const int32_t index : earlier->second) {
    if (compare(item, body, index, false) == Verdict::kRepeat) return true;
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
  if (!(sameShown(stored->title, item.title) && (byDate || stored->link == item.link))) return Verdict::kNew;
  Loaded<newsItemBody> storedBody{db_, loadObject_newsItemBody(db_, stored->bodyIndex)};
  const Str nil;
  const Str& summary = storedBody.object ? storedBody->summary : nil;
  const Str& content = storedBody.object ? storedBody->content : nil;
  if (!sameShown(summary, body.summary) || !sameShown(content, body.content)) return Verdict::kNew;
  if (!isValidDate(storedDate) && isValidDate(itemDate)) {
    if (storedBody.object && !(storedBody->publishedText.isNil() && storedBody->updatedText.isNil()) &&
        storedBody->publishedText == body.publishedText && storedBody->updatedText == body.updatedText) {
      // Its dates written as before, read now (an earlier version refused
      // a date in CDATA): the stored item is this one, dated.
      stored->published = item.published;
      stored->updated = item.updated;
      db_.saveChangesToObject(stored.object);
      return Verdict::kRepeat;
    }
    if (!newest || stored->infoIsDuplicate()) return Verdict::kNew;
    index_->remove(item.uniqueID);
    newsItem* gone = stored.object;
    stored.object = nullptr;  // the destroy gives the use back
    destroyNewsItem(db_, gone, nullptr, false);
    return Verdict::kStoredGaveWay;
  }
  return Verdict::kRepeat;
}

bool FeedMerge::add(std::unique_ptr<newsItem> item, std::unique_ptr<newsItemBody> body, const Str& earlierID,
                    bool madeID) {
  Planned planned;
  if (madeID && nextUnnamed_ < unnamed_.size()) {
    if (plan_.empty()) planUnnamed();
    planned = std::move(plan_[nextUnnamed_++]);
  }
  if (planned.kind == Planned::kRepeat) {
    noteDates(*item, false);
    return false;
  }
  if (planned.kind == Planned::kOwnID) item->uniqueID = std::move(planned.id);
  if (planned.kind == Planned::kAsGiven && !earlierID.isNil()) adoptEarlierID(*item, earlierID);
  bool storedGaveWay = false;
  const bool isNew = !isRepeat(*item, *body, !madeID, storedGaveWay) && !repeatsNewItem(*item, *body);
  noteDates(*item, isNew);
  if (!isNew) return false;
  item->bodyIndex = db_.createdAndUnloadObject(body.get());
  body.release();
  const int32_t index = db_.createdObject(item.get());
  if (!isMissing(item->uniqueID)) newByID_[item->uniqueID.str()].push_back(index);
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
    // Versions of one id that nothing stored has are chained to the oldest.
    std::unordered_map<std::string, newsItem*> oldestNew;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      newsItem* item = *it;
      if (isMissing(item->uniqueID)) continue;
      StringSpaceEntry found = index_->get(item->uniqueID);
      if (found.data) {
        Loaded<newsItem> stored{db_,
                                loadObject_newsItem2(db_, static_cast<boxVALUE*>(found.data)->value, &feed_)};
        if (stored.object) stored->addAsNewestDuplicate(db_, item);
      } else if (newByID_[item->uniqueID.str()].size() > 1) {
        auto [oldest, first] = oldestNew.try_emplace(item->uniqueID.str(), item);
        if (!first) oldest->second->addAsNewestDuplicate(db_, item);
      }
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
