// news/news_dump.cpp - the news model as text (see news_dump.h).
#include "news/news_dump.h"

#include <cstdio>
#include <string_view>
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

std::string n(int64_t number) { return std::to_string(number); }

// The "! " lines of the notes the reader made since the last call.
class NoteLines {
 public:
  explicit NoteLines(const NewsModelReader& reader) : reader_(reader) {}
  void tell(std::string& out) {
    for (; told_ < reader_.notes().size(); ++told_) out += "! " + reader_.notes()[told_] + "\n";
  }

 private:
  const NewsModelReader& reader_;
  size_t told_ = 0;
};

void dumpItems(cJournaledIndexedObjectSoupDatabase& db, NewsModelReader& reader, NoteLines& lines, newsFeed& feed,
               const std::vector<int32_t>& listed, std::string& out) {
  for (int32_t index : listed) {
    newsItem* item = reader.item(index, feed);
    // The body is read too, though the line shows none of it.
    newsItemBody* body = item ? reader.body(*item) : nullptr;
    lines.tell(out);
    if (!item) continue;
    LoadedUse use(db, item);
    LoadedUse bodyUse(db, body);
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

template <class Step>
bool NewsModelReader::attempt(const std::string& what, Step step) {
  try {
    step();
    return true;
  } catch (const eException& e) {
    if (e.code() == "MEM" || e.code() == "BRK") throw;
    const std::string& message = e.message();
    const size_t problem = message.find("(); ");
    note(what + " (" + (problem == std::string::npos ? message : message.substr(problem + 4)) + ")");
    return false;
  }
}

template <class T, class Load>
T* NewsModelReader::read(const std::string& what, Load load) {
  T* object = nullptr;
  if (attempt(what, [&] { object = load(); }) && !object) note(what + " (no object of its class)");
  return object;
}

newsRoot* NewsModelReader::root() {
  const int32_t index = db_.infoRootValue();
  if (index == 0) return nullptr;
  reach(index);
  return read<newsRoot>("the news root " + n(index) + " with its feed list",
                        [&] { return loadObject_newsRoot(db_, index); });
}

std::vector<int32_t> NewsModelReader::members(const cIndexedObjectList* list, const std::string& owner) {
  std::vector<int32_t> nodes;
  if (!list) return nodes;
  if (!reach(list->soupIndexOrNone())) {
    note(owner + ": list " + n(list->soupIndexOrNone()) + " was read before");
    return nodes;
  }
  auto where = [&] { return owner + (nodes.empty() ? " from its head" : " past index " + n(nodes.back())); };
  for (int32_t index = list->infoHeadIndex(); index != 0;) {
    if (!reach(index)) {
      note(where() + " (it comes back to index " + n(index) + ", read before)");
      return nodes;
    }
    NodeHeader links;
    if (!attempt(where() + ": index " + n(index), [&] { links = db_.readObjectNodeHeader(index); })) return nodes;
    nodes.push_back(index);
    index = links.nextIndex;
  }
  if ((nodes.empty() ? 0 : nodes.back()) != list->infoTailIndex()) {
    note(where() + " (its tail is index " + n(list->infoTailIndex()) + ")");
  }
  return nodes;
}

newsFeed* NewsModelReader::feed(int32_t index) {
  return read<newsFeed>("feed " + n(index), [&] { return loadObject_newsFeed(db_, index); });
}

newsItem* NewsModelReader::item(int32_t index, newsFeed& feed) {
  return read<newsItem>("item " + n(index) + " of feed " + n(feed.soupIndexOrNone()),
                        [&] { return loadObject_newsItem2(db_, index, &feed); });
}

newsItemBody* NewsModelReader::body(const newsItem& item) {
  const std::string what = "the body " + n(item.bodyIndex) + " of item " + n(item.soupIndexOrNone());
  if (item.bodyIndex == 0 || !reach(item.bodyIndex)) {
    note(what + (item.bodyIndex == 0 ? " (none)" : " (read before)"));
    return nullptr;
  }
  return read<newsItemBody>(what, [&] { return loadObject_newsItemBody(db_, item.bodyIndex); });
}

void NewsModelReader::noteUnreached() {
  const ValidationResult check = db_.validate(false, false, true);
  if (!check.valid || !check.indices) {
    note("the database's structures, which do not check sound (soupcheck names the damage)");
    return;
  }
  int64_t unreached = 0;
  for (bool more = check.indices->gotoFirst(); more; more = check.indices->gotoNext()) {
    if (!reached_.contains(static_cast<int32_t>(check.indices->infoCurrent().key))) ++unreached;
  }
  if (unreached > 0) note(n(unreached) + (unreached == 1 ? " stored object" : " stored objects") + " no list leads to");
}

std::string NewsModelReader::summary() const {
  constexpr size_t kNamed = 8;
  std::string text = "could not read ";
  for (size_t i = 0; i < notes_.size() && i < kNamed; ++i) text += (i ? "; " : "") + notes_[i];
  if (notes_.size() > kNamed) text += "; and " + n(static_cast<int64_t>(notes_.size() - kNamed)) + " more";
  return text;
}

std::string dumpNewsModel(cJournaledIndexedObjectSoupDatabase& db) {
  NewsModelReader reader(db);
  return dumpNewsModel(db, reader);
}

std::string dumpNewsModel(cJournaledIndexedObjectSoupDatabase& db, NewsModelReader& reader) {
  std::string out;
  NoteLines lines(reader);
  const int32_t rootIndex = db.infoRootValue();
  newsRoot* root = reader.root();
  lines.tell(out);
  if (!root) return out;
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
  const std::vector<int32_t> feeds = reader.members(root->feedList, "the feed list");
  lines.tell(out);
  for (int32_t index : feeds) {
    newsFeed* feed = reader.feed(index);
    lines.tell(out);
    if (!feed) continue;
    LoadedUse feedUse(db, feed);
    const std::vector<int32_t> listed = reader.members(feed->itemList, "the item list of feed " + n(index));
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
    lines.tell(out);
    dumpItems(db, reader, lines, *feed, listed, out);
  }
  return out;
}

}  // namespace bw
