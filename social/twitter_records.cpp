// social/twitter_records.cpp - the Twitter profile and tweet readers, the
// tweet date grammar and the feed credit ordering.
#include "social/twitter_records.h"

#include <algorithm>
#include <cctype>
#include <array>

#include "core/ascii_case.h"
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
const cEncoding& utf8() { return sharedUtf8Encoding(); }

// Raw from a UTF-8 document the getter copies the bytes: they are taken
// here without its checks, the same bytes and capacity.
bool documentHoldsRaw(const webDataNode* node, bool raw) { return raw && node->getRoot() && node->getRoot()->holdsUtf8(); }

Str textOf(const webDataNode* node, bool raw) {
  if (!node || isJsonNull(node)) return Str();
  if (documentHoldsRaw(node, raw)) return node->infoText().toStr();
  return node->getText(&utf8(), raw);
}

// textOf for a record: a view of the document's bytes where textOf would
// copy them, else of textOf's text kept in held.
RecordString recordTextOf(const webDataNode* node, bool raw, Str& held) {
  if (isJsonNull(node)) return RecordString{};
  if (node && documentHoldsRaw(node, raw)) {
    const NodeText text = node->infoText();
    return text.isNil() ? RecordString{} : recordStringOf(text.view());
  }
  held = textOf(node, raw);
  return recordStringOf(held);
}

const webDataNode* child(const webDataNode* node, Text name) { return jsonMember(node, name); }

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

// 1..12 for a month's name, ASCII case ignored; 0 for any other text.
int32_t monthOf(std::string_view name) {
  for (size_t m = 0; m < kMonthNames.size(); ++m) {
    if (equalsNoCase(name, kMonthNames[m])) return static_cast<int32_t>(m) + 1;
  }
  return 0;
}

// A byte the grammar lets follow the year.
bool endsYear(unsigned char c) { return c == ' ' || c == 0xA0 || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

bigTime twitterParseDate(Text text) {
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

TweetMembers twitterFindTweetMembers(const webDataNode* tweet) {
  enum { kFullText, kIdStr, kEntities, kCreated, kRetweet };
  enum { kUrls, kMedia };
  enum { kExpanded, kMediaUrl, kMediaUrlHttps };
  auto firstOfList = [](const webDataNode* list) { return list ? list->getFirstChild() : nullptr; };
  const auto members =
      findMembers<5>(tweet, {"full_text", "id_str", "entities", "created_at", "retweeted_status"});
  const auto lists = findMembers<2>(members[kEntities], {"urls", "media"});
  const webDataNode* url = findMembers<1>(firstOfList(lists[kUrls]), {"expanded_url"})[0];
  const auto medium =
      findMembers<3>(firstOfList(lists[kMedia]), {"expanded_url", "media_url", "media_url_https"});
  return {members[kFullText], members[kIdStr], members[kRetweet], members[kCreated], members[kEntities],
          url ? url : medium[kExpanded], medium[kMediaUrlHttps] ? medium[kMediaUrlHttps] : medium[kMediaUrl]};
}

namespace {

// The name a retweet's own text begins with ("RT @name: ..."), the way the
// service writes it; NIL when it begins otherwise.
Str retweetedNameOf(const webDataNode* ownText) {
  Str text = textOf(ownText, true);
  const std::string_view t = text.view();
  if (!t.starts_with("RT @")) return Str();
  size_t end = 4;
  while (end < t.size() && (std::isalnum(static_cast<unsigned char>(t[end])) || t[end] == '_')) ++end;
  if (end == 4 || end >= t.size() || t[end] != ':') return Str();
  return Str(t.substr(4, end - 4));
}

}  // namespace

Str twitterShownText(const TweetMembers& members) {
  const webDataNode* fullText = members.fullText;
  const webDataNode* entities = members.entities;
  Str name;
  const webDataNode* whole = members.retweet ? child(members.retweet, "full_text") : nullptr;
  if (whole) {
    fullText = whole;
    entities = child(members.retweet, "entities");
    // The timeline is asked with trim_user, so the retweeted user is often
    // an id alone: its name is then the one the tweet's own text gives.
    name = textOf(child(child(members.retweet, "user"), "screen_name"), true);
    if (!name) name = retweetedNameOf(members.fullText);
  }
  // The texts are read as views of the document's bytes where it has them.
  Str held, heldShort, heldExpanded;
  const RecordString text = recordTextOf(fullText, true, held);
  if (text.nil) return Str();
  std::string shown(text.text);
  bool changed = fullText != members.fullText;
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
  if (whole && name) {
    shown = "RT @" + name.str() + ": " + shown;
    changed = true;
  }
  return changed ? Str(shown) : Str();
}

TweetRecord twitterExtractTweet(const webDataNode& tweet, const newsFeed& feed) {
  const TweetMembers members = twitterFindTweetMembers(&tweet);
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
