// news/news_dump.cpp - the news model as text (see news_dump.h).
#include "news/news_dump.h"

#include <cstdio>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "news/news_load.h"
#include "platform/time.h"

namespace bw {
namespace {

std::string quoted(const Str& s) {
  if (s.isNil()) return "NIL";
  std::string out = "\"";
  for (char c : s.view()) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

class Line {
 public:
  explicit Line(std::string start) : text_(std::move(start)) {}
  Line& add(std::string_view name, const std::string& value) {
    text_ += ' ';
    text_ += name;
    text_ += '=';
    text_ += value;
    return *this;
  }
  Line& add(std::string_view name, const Str& s) { return add(name, quoted(s)); }
  Line& add(std::string_view name, int64_t n) { return add(name, std::to_string(n)); }
  Line& flag(std::string_view name, bool b) { return add(name, std::string(b ? "1" : "0")); }
  Line& date(std::string_view name, bigTime d) { return add(name, dumpDate(d)); }
  std::string done() { return text_ + "\n"; }

 private:
  std::string text_;
};

// The indexes of a list, head to tail, through the stored node headers;
// complains once and stops at a node met twice.
std::vector<int32_t> members(cJournaledIndexedObjectSoupDatabase& db, const cIndexedObjectList& list,
                             std::string& out) {
  std::vector<int32_t> indexes;
  std::unordered_set<int32_t> seen;
  for (int32_t i = list.infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) {
    if (!seen.insert(i).second) {
      out += "! list " + std::to_string(list.soupIndexOrNone()) + " meets node " + std::to_string(i) + " twice\n";
      break;
    }
    indexes.push_back(i);
  }
  return indexes;
}

void dumpItems(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, std::string& out) {
  for (int32_t index : members(db, *feed.itemList, out)) {
    newsItem* item = loadObject_newsItem2(db, index, &feed);
    if (!item) {
      out += "! item " + std::to_string(index) + " cannot be loaded\n";
      continue;
    }
    LoadedUse use(db, item);
    out += Line("item " + std::to_string(index))
               .date("published", item->published)
               .date("updated", item->updated)
               .date("downloaded", item->downloaded)
               .add("uniqueID", item->uniqueID)
               .add("title", item->title)
               .add("older", item->olderDuplicateItemIndex)
               .add("newest", item->newestDuplicateItemIndex)
               .flag("seen", item->seen)
               .done();
  }
}

}  // namespace

std::string dumpDate(bigTime date) {
  if (date == kDateUnset) return "unset";
  if (date == kDateInvalid) return "invalid";
  // Outside years 1..9999 the calendar text would not read back.
  constexpr bigTime kYear1 = -63082281600LL, kYear10000 = 252455616000LL;
  if (date < kYear1 || date >= kYear10000) return std::to_string(date);
  CalendarDate d = pTime::bigTimeToDate(date);
  DayTime t = pTime::secondsToDayTime(date);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, t.hour, t.minute,
                t.second);
  return text;
}

std::string dumpNewsModel(cJournaledIndexedObjectSoupDatabase& db) {
  std::string out;
  int32_t rootIndex = db.infoRootValue();
  newsRoot* root = loadObject_newsRoot(db, rootIndex);
  if (!root) return "! no news root (root value " + std::to_string(rootIndex) + ")\n";
  LoadedUse rootUse(db, root);
  out += Line("root " + std::to_string(rootIndex))
             .add("feedList", root->feedListIndex)
             .add("twitterToken", root->twitterToken)
             .add("twitterTokenSecret", root->twitterTokenSecret)
             .add("facebookAccessToken", root->facebookAccessToken)
             .add("facebookUserID", root->facebookUserID)
             .add("rootText5", root->rootText5)
             .add("rootValue64", root->rootValue64)
             .done();
  for (int32_t index : members(db, *root->feedList, out)) {
    newsFeed* feed = loadObject_newsFeed(db, index);
    if (!feed) {
      out += "! feed " + std::to_string(index) + " cannot be loaded\n";
      continue;
    }
    LoadedUse feedUse(db, feed);
    std::string items;
    std::vector<int32_t> listed = members(db, *feed->itemList, items);
    out += Line("feed " + std::to_string(index))
               .add("type", feed->type)
               .add("title", feed->title)
               .add("url", feed->url)
               .add("uniqueID", feed->uniqueID)
               .add("userName", feed->userName)
               .add("tags", feed->tags)
               .add("filter", feed->filter)
               .flag("disabled", feed->disabled)
               .flag("selected", feed->selectedInList)
               .date("seenUpTo", feed->seenUpToTime)
               .flag("noOlderItems", feed->noOlderItems)
               .add("credit", feed->twitterUpdateCredit)
               .add("downloadLength", feed->downloadLength)
               .flag("summaryIsContents", feed->summaryIsContents)
               .flag("notUpdates", feed->notUpdates)
               .flag("useDownloadDate", feed->useDownloadDate)
               .add("items", static_cast<int64_t>(listed.size()))
               .done();
    dumpItems(db, *feed, out);
  }
  return out;
}

}  // namespace bw
