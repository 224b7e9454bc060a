// social/twitter_records.cpp - the Twitter profile and tweet readers, the
// tweet date grammar and the feed credit ordering.
#include "social/twitter_records.h"

#include <algorithm>
#include <array>
#include <span>

#include "core/charset.h"
#include "core/mega_list_family.h"
#include "core/string_procs.h"
#include "news/feed_merge.h"
#include "social/json_members.h"
#include "social/service_config.h"

namespace bw {
namespace {

constexpr std::array<std::string_view, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The UTF-8 target every text is read into.
const cEncoding& utf8() {
  static const cEncodingUTF* encoding = [] {
    auto* e = new cEncodingUTF;
    e->load("UTF-8");
    return e;
  }();
  return *encoding;
}

// Raw from a UTF-8 document the getter copies the bytes: they are taken
// here without its checks, the same bytes and capacity.
bool documentHoldsRaw(const webDataNode* node, bool raw) { return raw && node->getRoot() && node->getRoot()->holdsUtf8(); }

Str textOf(const webDataNode* node, bool raw) {
  if (!node) return Str();
  if (documentHoldsRaw(node, raw)) return node->infoText().toStr();
  return node->getText(&utf8(), raw);
}

// textOf for a record: a view of the document's bytes where textOf would
// copy them, else of textOf's text kept in held.
RecordString recordTextOf(const webDataNode* node, bool raw, Str& held) {
  if (node && documentHoldsRaw(node, raw)) {
    const NodeText text = node->infoText();
    return text.isNil() ? RecordString{} : recordStringOf(text.view());
  }
  held = textOf(node, raw);
  return recordStringOf(held);
}

const webDataNode* child(const webDataNode* node, Text name) {
  return node ? node->findChild(name, nullptr, nullptr, nullptr) : nullptr;
}

// list[first].member, NIL when any step is missing.
const webDataNode* firstOf(const webDataNode* list, Text member) {
  return child(list ? list->getFirstChild() : nullptr, member);
}

Str orMissing(Str text) { return text ? std::move(text) : Str(kMissingText); }

}  // namespace

Str twitterNodeText(const webDataNode* node, bool raw) { return textOf(node, raw); }

Str twitterMemberText(const webDataNode* parent, Text name, bool raw) { return textOf(child(parent, name), raw); }

namespace {

struct DateFields {
  int32_t year, month, day, hour, minute, second, zone;
};

// The date of the fields, or kDateInvalid when one is out of its range.
bigTime dateOf(const DateFields& f) {
  if (f.day < 1 || f.day > 31 || f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59 || f.second < 0 ||
      f.second > 59 || f.zone == -9999 || f.year < 1900) {
    return kDateInvalid;
  }
  const int64_t magnitude = f.zone < 0 ? -static_cast<int64_t>(f.zone) : f.zone;
  const int64_t offset = (magnitude / 100 * 60 + magnitude % 100) * 60;
  return pTime::DateTimeToBigTime(f.year, f.month, f.day, f.hour, f.minute, f.second) - (f.zone < 0 ? -offset : offset);
}

// The three bytes of a name with bit 0x20 set in each: A-Z fold to a-z, and
// no byte but a letter of either case gives a lower-case letter, so equal
// keys of a name and a month mean the two are equal without case.
constexpr uint32_t lowerKey(std::string_view name) {
  return (static_cast<uint32_t>(static_cast<unsigned char>(name[0]) | 0x20) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(name[1]) | 0x20) << 8) |
         static_cast<uint32_t>(static_cast<unsigned char>(name[2]) | 0x20);
}

// 1..12 for a month's name, ASCII case ignored; 0 for any other text.
int32_t monthOf(std::string_view name) {
  static constexpr auto kKeys = [] {
    std::array<uint32_t, kMonthNames.size()> keys{};
    for (size_t m = 0; m < keys.size(); ++m) keys[m] = lowerKey(kMonthNames[m]);
    return keys;
  }();
  if (name.size() != 3) return 0;
  const uint32_t key = lowerKey(name);
  for (size_t m = 0; m < kKeys.size(); ++m) {
    if (key == kKeys[m]) return static_cast<int32_t>(m) + 1;
  }
  return 0;
}

// A byte the grammar lets follow the year.
bool endsYear(unsigned char c) { return c == ' ' || c == 0xA0 || c == '\t' || c == '\n' || c == '\r'; }

// The value of the n bytes at t[at] read as digits; a byte that is no digit
// sets notDigit (without a branch: the seven fields' runs unroll).
template <size_t n>
int32_t digitsAt(std::string_view t, size_t at, uint32_t& notDigit) {
  int32_t value = 0;
  for (size_t k = at; k < at + n; ++k) {
    const int32_t d = static_cast<unsigned char>(t[k]) - '0';
    notDigit |= static_cast<uint32_t>(d) > 9 ? 1u : 0u;
    value = value * 10 + d;
  }
  return value;
}

// The fields of a date in the layout the service writes ("Wed Aug 27
// 13:08:45 +0000 2008", nothing or an allowed byte after it), read at their
// fixed places; FALSE for any other text, which the grammar reads. Where it
// answers, the grammar reads the same fields.
bool readServiceLayout(std::string_view t, DateFields& f) {
  if (t.size() < 30 || (t.size() > 30 && !endsYear(static_cast<unsigned char>(t[30])))) return false;
  if (t[0] == ' ' || t[1] == ' ' || t[2] == ' ' || t[3] != ' ' || t[7] != ' ' || t[10] != ' ' || t[13] != ':' ||
      t[16] != ':' || t[19] != ' ' || (t[20] != '+' && t[20] != '-') || t[25] != ' ') {
    return false;
  }
  uint32_t notDigit = 0;
  f = {digitsAt<4>(t, 26, notDigit), monthOf(t.substr(4, 3)), digitsAt<2>(t, 8, notDigit),
       digitsAt<2>(t, 11, notDigit), digitsAt<2>(t, 14, notDigit), digitsAt<2>(t, 17, notDigit),
       digitsAt<4>(t, 21, notDigit)};
  if (t[20] == '-') f.zone = -f.zone;
  return notDigit == 0 && f.month != 0;
}

}  // namespace

bigTime twitterParseDate(Text text) {
  if (text.isNil()) return kDateUnset;
  DateFields fields;
  if (readServiceLayout(text.nulView(), fields)) return dateOf(fields);
  return twitterParseDateByGrammar(text);
}

bigTime twitterParseDateByGrammar(Text text) {
  if (text.isNil()) return kDateUnset;
  const std::string_view t = text.nulView();
  // A number at pos (blanks and a sign before it); fails without digits.
  struct Number {
    int32_t value;
    size_t end;
    bool ok;
  };
  auto number = [&](size_t pos, bool plusSign) {
    if (pos > t.size()) return Number{0, pos, false};
    RuntimeNumber n = readRuntimeNumber(t, pos, plusSign);
    return Number{n.value, n.end, n.digits};
  };
  auto charIs = [&](size_t pos, char c) { return pos < t.size() && t[pos] == c; };

  const size_t i = t.find(' ');
  if (i == std::string_view::npos || i + 4 > t.size()) return kDateInvalid;
  const int32_t month = monthOf(t.substr(i + 1, 3));
  if (month == 0) return kDateInvalid;
  const size_t j = t.find(' ', i + 1);
  if (j == std::string_view::npos) return kDateInvalid;
  const Number day = number(j + 1, false);
  if (!day.ok || day.value < 1 || day.value > 31 || !charIs(day.end, ' ')) return kDateInvalid;
  const Number hour = number(day.end + 1, false);
  if (!hour.ok || hour.value < 0 || hour.value > 23 || !charIs(hour.end, ':')) return kDateInvalid;
  const Number minute = number(hour.end + 1, false);
  if (!minute.ok || minute.value < 0 || minute.value > 59 || !charIs(minute.end, ':')) return kDateInvalid;
  const Number second = number(minute.end + 1, false);
  if (!second.ok || second.value < 0 || second.value > 59 || !charIs(second.end, ' ')) return kDateInvalid;
  const Number zone = number(second.end + 1, true);
  if (!zone.ok || zone.value == -9999) return kDateInvalid;
  const Number year = number(zone.end, false);
  if (!year.ok || year.value < 1900) return kDateInvalid;
  if (year.end < t.size() && !endsYear(static_cast<unsigned char>(t[year.end]))) return kDateInvalid;
  return dateOf({year.value, month, day.value, hour.value, minute.value, second.value, zone.value});
}

std::unique_ptr<newsFeed> twitterUserInfoToFeed(const webDataRoot& document) {
  const webDataNode* user = document.findNode(kUsersShowRoot, nullptr, nullptr, nullptr);
  if (!user) return nullptr;
  auto feed = std::make_unique<newsFeed>();
  feed->title = orMissing(textOf(child(user, "name"), true));
  Str screenName = textOf(child(user, "screen_name"), false);
  feed->url = screenName ? Str(std::string(kTwitterSiteURL) + screenName.str()) : Str("");
  feed->uniqueID = orMissing(textOf(child(user, "id_str"), true));
  feed->type = Str(kTwitterFeedType);
  feed->docFormat = feedTypeToDocFormat(feed->type);
  feed->noOlderItems = true;
  feed->imageURL = textOf(child(user, "profile_image_url"), false);
  feed->language = textOf(child(user, "lang"), true);
  feed->subtitle = textOf(child(user, "description"), true);
  return feed;
}

size_t twitterTitleCut(std::string_view text) {
  // One walk over the "http"s: the first secure link wins at once, else the
  // first plain one.
  auto slashes = [&](size_t at) {
    const std::string_view rest = text.substr(at);
    return rest.starts_with("//") || rest.starts_with("\\/\\/");
  };
  size_t link = std::string_view::npos;
  for (size_t p = text.find("http"); p != std::string_view::npos; p = text.find("http", p + 1)) {
    if (text.substr(p + 4, 2) == "s:" && slashes(p + 6)) {
      link = p;
      break;
    }
    if (link == std::string_view::npos && text.substr(p + 4, 1) == ":" && slashes(p + 5)) link = p;
  }
  return link != std::string_view::npos && link > 1 ? link : std::string_view::npos;
}

void twitterFindTweetMembers(std::span<const webDataNode* const> tweets, std::span<TweetMembers> found) {
  enum { kFullText, kIdStr, kEntities, kCreated };
  enum { kUrls, kMedia };
  enum { kExpanded, kMediaUrl, kMediaUrlHttps };
  constexpr size_t kWidth = kMembersSideBySide;
  using Nodes = std::array<const webDataNode*, kWidth>;
  // Node `which` of each of the first n arrays, or its first child.
  auto column = [](const auto& arrays, size_t which, size_t n, bool firstChild) {
    Nodes nodes{};
    for (size_t i = 0; i < n; ++i) {
      const webDataNode* node = arrays[i][which];
      nodes[i] = node && firstChild ? node->getFirstChild() : node;
    }
    return nodes;
  };
  // Level by level, each level's walks side by side.
  for (size_t base = 0; base < tweets.size(); base += kWidth) {
    const size_t n = std::min(kWidth, tweets.size() - base);
    // "retweeted_status" is looked for apart, only where it is read: a
    // walk for it would go through every member of a tweet without one.
    std::array<std::array<const webDataNode*, 4>, kWidth> members;
    findMembersOfEach<4>(tweets.subspan(base, n), {"full_text", "id_str", "entities", "created_at"},
                         std::span(members.data(), n));
    std::array<std::array<const webDataNode*, 2>, kWidth> lists;
    const Nodes entities = column(members, kEntities, n, false);
    findMembersOfEach<2>(std::span(entities.data(), n), {"urls", "media"}, std::span(lists.data(), n));
    // The first element of each list.
    std::array<std::array<const webDataNode*, 1>, kWidth> url;
    const Nodes firstUrls = column(lists, kUrls, n, true);
    findMembersOfEach<1>(std::span(firstUrls.data(), n), {"expanded_url"}, std::span(url.data(), n));
    std::array<std::array<const webDataNode*, 3>, kWidth> medium;
    const Nodes firstMedia = column(lists, kMedia, n, true);
    findMembersOfEach<3>(std::span(firstMedia.data(), n), {"expanded_url", "media_url", "media_url_https"},
                         std::span(medium.data(), n));
    // A retweet shows the retweeted text whole, so every tweet is asked.
    std::array<std::array<const webDataNode*, 1>, kWidth> retweet;
    findMembersOfEach<1>(tweets.subspan(base, n), {"retweeted_status"}, std::span(retweet.data(), n));
    for (size_t i = 0; i < n; ++i) {
      const auto& m = members[i];
      const auto& first = medium[i];
      found[base + i] = {m[kFullText], m[kIdStr], retweet[i][0], m[kCreated], m[kEntities],
                         url[i][0] ? url[i][0] : first[kExpanded], first[kMediaUrlHttps] ? first[kMediaUrlHttps] : first[kMediaUrl]};
    }
  }
}

Str twitterShownText(const TweetMembers& members) {
  const webDataNode* fullText = members.fullText;
  const webDataNode* entities = members.entities;
  Str name;
  if (members.retweet) {
    if (const webDataNode* whole = child(members.retweet, "full_text")) {
      fullText = whole;
      entities = child(members.retweet, "entities");
    }
    name = textOf(child(child(members.retweet, "user"), "screen_name"), true);
  }
  // The texts are read as views of the document's bytes where it has them.
  Str held, heldShort, heldExpanded;
  const RecordString text = recordTextOf(fullText, true, held);
  if (text.nil) return Str();
  std::string shown(text.text);
  bool changed = false;
  for (const char* list : {"urls", "media"}) {
    const webDataNode* entries = child(entities, list);
    for (const webDataNode* e = entries ? entries->getFirstChild() : nullptr; e; e = e->getNext()) {
      const RecordString shortLink = recordTextOf(child(e, "url"), true, heldShort);
      const RecordString expanded = recordTextOf(child(e, "expanded_url"), true, heldExpanded);
      if (shortLink.nil || shortLink.text.empty() || expanded.nil) continue;
      for (size_t at = shown.find(shortLink.text); at != std::string::npos;
           at = shown.find(shortLink.text, at + expanded.text.size())) {
        shown.replace(at, shortLink.text.size(), expanded.text);
        changed = true;
      }
    }
  }
  if (members.retweet && name) {
    shown = "RT @" + name.str() + ": " + shown;
    changed = true;
  }
  return changed ? Str(shown) : Str();
}

TweetRecord twitterExtractTweet(const webDataNode& tweet, const newsFeed& feed) {
  const webDataNode* one = &tweet;
  TweetMembers members;
  twitterFindTweetMembers(std::span(&one, 1), std::span(&members, 1));
  return twitterExtractTweet(feed, members);
}

TweetRecord twitterExtractTweet(const newsFeed& feed, const TweetMembers& members) {
  TweetRecord r{std::make_unique<newsItem>(), std::make_unique<newsItemBodyRecord>()};
  newsItem& item = *r.item;
  ItemBodyTexts& body = r.body->texts;
  enum { kSummary, kPublished, kImage };  // the body's texts it may hold
  body.encoding = recordStringOf(std::string_view("UTF-8"));
  if (Str shown = twitterShownText(members)) {
    r.body->held[kSummary] = std::move(shown);
    body.summary = recordStringOf(r.body->held[kSummary]);
  } else {
    body.summary = recordTextOf(members.fullText, true, r.body->held[kSummary]);
  }
  if (!body.summary.nil) {
    const size_t cut = twitterTitleCut(body.summary.text);
    item.title = Str(body.summary.text.substr(0, cut));
    body.summaryFormat = kFormatPlainText;
  } else {
    item.title = Str(kMissingText);
  }
  item.titleFormat = kFormatPlainText;
  item.uniqueID = orMissing(textOf(members.idStr, true));

  // The link: the tweet's, else that of the tweet it retweets.
  const webDataNode* link = members.link;
  if (!link && members.retweet) {
    enum { kUrls, kMedia };
    const auto lists = findMembers<2>(child(members.retweet, "entities"), {"urls", "media"});
    link = firstOf(lists[kUrls], "expanded_url");
    if (!link) link = firstOf(lists[kMedia], "expanded_url");
  }
  item.link = link ? textOf(link, false) : joinedText({feed.url.view(), "/status/", item.uniqueID.view()});

  if (const webDataNode* created = members.created) {
    body.publishedText = recordTextOf(created, true, r.body->held[kPublished]);
    item.published = item.updated =
        twitterParseDate(body.publishedText.nil ? Text(nullptr) : Text(body.publishedText.text));
  } else {
    item.published = item.updated = kDateUnset;
  }
  item.downloaded = pTime::CurrentTime(0);
  if (members.image) body.imageURL = recordTextOf(members.image, false, r.body->held[kImage]);
  return r;
}

int32_t fCompareMegaNodes_twitterFeeds_sort::call(cMegaMiniListGeneric*, MegaNode* a, MegaNode* b) {
  const auto* feedA = static_cast<newsFeed*>(cMegaMiniList_class::getData(a));
  const auto* feedB = static_cast<newsFeed*>(cMegaMiniList_class::getData(b));
  if (feedA->twitterUpdateCredit != feedB->twitterUpdateCredit) {
    return feedA->twitterUpdateCredit > feedB->twitterUpdateCredit ? 1 : -1;
  }
  const int order = feedA->uniqueID.view().compare(feedB->uniqueID.view());
  return order < 0 ? 1 : (order > 0 ? -1 : 0);
}

}  // namespace bw
