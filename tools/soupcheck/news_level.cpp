// tools/soupcheck/news_level.cpp - level 5: the root, feeds, items and
// bodies decoded by their classes, the items' duplicate chains, and what the
// news model does not reach.
#include "tools/soupcheck/news_level.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "tools/soupcheck/soup_index.h"

namespace bw::soupcheck {
namespace {

std::string n(int64_t number) { return std::to_string(number); }

// Why a record does not decode.
struct Undecodable {
  std::string why;
};

// One record's fields in stored order, big-endian, within its block.
class Record {
 public:
  Record(const Area& area, int64_t start, int64_t capacity) : area_(area), at_(start), end_(start + capacity) {}

  uint8_t byte() {
    need(1);
    return area_.byte(at_++);
  }
  bool flag() { return byte() != 0; }
  int32_t value() {
    need(4);
    const auto v = static_cast<int32_t>(area_.u32(at_));
    at_ += 4;
    return v;
  }
  void big() {
    need(8);
    at_ += 8;
  }
  // 1 to 5 bytes: six bits and the sign first, seven bits a byte after it,
  // the top bit set on the last byte.
  int32_t compact() {
    uint8_t b = byte();
    const bool negative = (b & 0x40) != 0;
    uint32_t magnitude = b & 0x3F;
    for (int shift = 6; !(b & 0x80); shift = std::min(shift + 7, 32)) {
      b = byte();
      if (shift < 32) magnitude |= static_cast<uint32_t>(b & 0x7F) << shift;
    }
    return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  }
  // A string record: FF NIL (none); 01 compact capacity, compact length,
  // bytes; 00 capacity (4 bytes), bytes up to a zero within capacity + 1.
  std::optional<std::string> string(const char* name) {
    const uint8_t version = byte();
    if (version == 0xFF) return std::nullopt;
    std::string text;
    if (version == 1) {
      const int32_t capacity = compact(), length = compact();
      if (capacity < 0 || length < 0 || length > capacity) {
        fail(std::string(name) + " has capacity " + n(capacity) + " and length " + n(length));
      }
      if (length > end_ - at_) fail(std::string(name) + " of " + n(length) + " bytes runs past its block");
      for (int32_t i = 0; i < length; ++i) text += static_cast<char>(area_.byte(at_++));
      return text;
    }
    if (version == 0) {
      const int32_t capacity = value();
      if (capacity < 0) fail(std::string(name) + " has capacity " + n(capacity));
      for (int64_t read = 0; read <= capacity; ++read) {
        if (const uint8_t c = byte(); c != 0) {
          text += static_cast<char>(c);
        } else {
          return text;
        }
      }
      fail(std::string(name) + " has no end within its capacity");
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X", version);
    fail(std::string(name) + " has string version " + hex);
  }
  // The record's version, refused above newest.
  int32_t version(int32_t newest) {
    const int32_t v = value();
    if (v > newest) fail("version " + n(v) + ", newer than " + n(newest));
    return v;
  }
  [[noreturn]] static void fail(std::string why) { throw Undecodable{std::move(why)}; }

 private:
  void need(int64_t bytes) const {
    if (bytes > end_ - at_ || !area_.has(at_, bytes)) fail("a field runs past its block");
  }
  const Area& area_;
  int64_t at_;
  int64_t end_;
};

// The layouts of news/news_format.h, each field read where the record's
// version holds it.
int32_t decodeRoot(Record& r) {
  const int32_t v = r.version(8);
  const char* strings[] = {"twitterToken", "twitterTokenSecret", "facebookAccessToken", "facebookUserID", "rootText5"};
  for (int from = 3; from <= 7; ++from) {
    if (v >= from) r.string(strings[from - 3]);
  }
  if (v >= 8) r.big();
  return r.value();  // feedListIndex
}

int32_t decodeFeed(Record& r) {
  r.value();
  r.value();
  const int32_t v = r.version(13);
  for (const char* name : {"title", "url", "uniqueID"}) r.string(name);
  // The type chooses the reader of the feed's documents: the program knows
  // no other types.
  const std::optional<std::string> type = r.string("type");
  if (!type || !(type->starts_with("Twitter") || type->starts_with("Facebook") || type->starts_with("RSS") ||
                 *type == "Atom")) {
    Record::fail("type " + (type ? "\"" + *type + "\"" : std::string("NIL")) + " is none the program knows");
  }
  if (v >= 7) r.flag();
  if (v >= 12) r.flag();
  if (v >= 5) r.big();
  if (v >= 13) r.flag();
  if (v >= 11) r.compact();
  for (const char* name : {"updatedText", "imageURL", "language", "subtitle", "rights", "generator"}) r.string(name);
  if (v >= 6) r.big();
  if (v >= 3) r.string("userName");
  if (v >= 4) r.string("tags");
  if (v >= 2) r.flag();
  if (v >= 10) r.flag();
  if (v >= 9) r.string("filter");
  if (v >= 8) r.flag();
  return r.value();  // itemListIndex
}

struct Item {
  int32_t feed = 0, body = 0, older = 0, newest = 0;
};

Item decodeItem(Record& r) {
  Item item;
  r.value();
  r.value();
  const int32_t v = r.version(9);
  if (v >= 5) item.feed = r.value();
  if (v >= 0) r.string("title");
  r.byte();
  if (v >= 0) r.string("link");
  if (v >= 7) r.string("statedLink");
  if (v >= 0) r.string("uniqueID");
  for (int from : {2, 2, 6}) {
    if (v >= from) r.big();
  }
  if (v >= 8) {
    item.older = r.compact();
    item.newest = r.compact();
  }
  if (v >= 9) r.string("tags");
  if (v >= 3) r.flag();
  if (v >= 4) r.flag();
  item.body = r.value();
  return item;
}

bool decodeBody(Record& r) {
  const int32_t v = r.version(5);
  if (v != 5) Record::fail("version " + n(v) + ", older than 5");
  for (const char* name : {"encoding", "statedEncoding", "publishedText", "updatedText", "author", "imageURL", "summary"}) {
    r.string(name);
  }
  r.byte();
  r.string("content");
  r.byte();
  return true;
}

class NewsWalk {
 public:
  NewsWalk(const Area& area, NewsLevelReport& report) : area_(area), soup_(area), report_(report) {
    // The chain of lists (level 4 found it a sound circle).
    for (int64_t l = static_cast<int32_t>(soup_.entry(11)); l != 0 && soup_.dataOf(l) && lists_.insert(l).second;) {
      l = static_cast<int32_t>(area_.u32(soup_.dataOf(l) + 8));
    }
  }

  void run() {
    if (!soup_.hasArray()) return;
    const auto root = static_cast<int32_t>(soup_.entry(6));
    if (root == 0) return;
    const std::optional<int32_t> feedList = decode("the root " + n(root), root, decodeRoot);
    if (feedList) {
      for (int64_t feed : members("the feed list of the root", *feedList)) walkFeed(feed);
    }
    for (const auto& [item, link] : duplicateLinks_) {
      if (!items_.contains(link)) finding("item " + n(item) + " names item " + n(link) + " as a duplicate, no item");
    }
    findOlderLoops();
    int64_t unreached = 0, first = 0;
    for (int64_t index : soup_.allocated()) {
      if (reached_.contains(index)) continue;
      if (unreached++ == 0) first = index;
    }
    if (unreached > 0) {
      finding(n(unreached) + (unreached == 1 ? " allocated record" : " allocated records") +
              " that nothing of the news model leads to (the first at index " + n(first) + ")");
    }
  }

 private:
  void finding(const std::string& text) { report_.findings.push_back("news: " + text); }

  // The record at index decoded by decoder; none (with a finding) when it
  // was reached before, holds no record or does not decode.
  template <class Decoder>
  auto decode(const std::string& what, int64_t index, Decoder decoder) -> std::optional<decltype(decoder(
                                                                            std::declval<Record&>()))> {
    if (index <= 0) {
      finding(what + " is missing");
      return std::nullopt;
    }
    if (!reached_.insert(index).second) {
      finding(what + " is reached a second time");
      return std::nullopt;
    }
    const int64_t data = soup_.dataOf(index);
    if (data == 0) {
      finding(what + " holds no record");
      return std::nullopt;
    }
    try {
      Record record(area_, data, soup_.capacityOf(data));
      return decoder(record);
    } catch (const Undecodable& u) {
      finding(what + " does not decode: " + u.why);
      report_.undecodable.push_back(index);
      return std::nullopt;
    }
  }

  // The nodes of the list at index, head to tail, each once.
  std::vector<int64_t> members(const std::string& what, int64_t list) {
    std::vector<int64_t> nodes;
    if (!lists_.contains(list)) {
      finding(what + " is index " + n(list) + ", no list");
      return nodes;
    }
    if (!reached_.insert(list).second) {
      finding(what + " is list " + n(list) + ", reached a second time");
      return nodes;
    }
    std::set<int64_t> seen;
    for (int64_t node = static_cast<int32_t>(area_.u32(soup_.dataOf(list))); node != 0 && seen.insert(node).second;) {
      const int64_t data = soup_.dataOf(node);
      if (data == 0) break;  // level 4 names it
      nodes.push_back(node);
      node = static_cast<int32_t>(area_.u32(data));
    }
    return nodes;
  }

  void walkFeed(int64_t feed) {
    const std::string name = "feed " + n(feed);
    const std::optional<int32_t> itemList = decode(name, feed, decodeFeed);
    if (!itemList) return;
    ++report_.feeds;
    for (int64_t index : members("the item list of " + name, *itemList)) {
      const std::string itemName = "item " + n(index) + " of " + name;
      const std::optional<Item> item = decode(itemName, index, decodeItem);
      if (!item) continue;
      ++report_.items;
      items_.insert(index);
      if (item->feed != feed) finding(itemName + " names feed " + n(item->feed));
      for (int32_t link : {item->older, item->newest}) {
        if (link != 0) duplicateLinks_.emplace(index, link);
      }
      if (item->older != 0) older_.emplace(index, item->older);
      decode("the body " + n(item->body) + " of " + itemName, item->body, decodeBody);
    }
  }

  // A chain of older duplicates runs from newer to older and ends: one that
  // comes back to a member is told once, at the first member met twice.
  void findOlderLoops() {
    std::set<int64_t> done;
    for (const auto& [start, first] : older_) {
      std::set<int64_t> walked;
      for (int64_t at = start; !done.contains(at);) {
        if (!walked.insert(at).second) {
          finding("the chain of older duplicates of item " + n(start) + " comes back to item " + n(at));
          break;
        }
        const auto older = older_.find(at);
        if (older == older_.end()) break;
        at = older->second;
      }
      done.insert(walked.begin(), walked.end());
    }
  }

  const Area& area_;
  SoupIndex soup_;
  NewsLevelReport& report_;
  std::set<int64_t> lists_, reached_, items_;
  std::set<std::pair<int64_t, int32_t>> duplicateLinks_;
  std::map<int64_t, int64_t> older_;  // item -> the item it names as older
};

}  // namespace

NewsLevelReport checkNewsLevel(const std::vector<uint8_t>& data) {
  NewsLevelReport report;
  Area area(data);
  NewsWalk(area, report).run();
  return report;
}

}  // namespace bw::soupcheck
