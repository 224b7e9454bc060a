// social/facebook_records.cpp - the account, post and comment readers and
// the id and title rules of Facebook items.
#include "social/facebook_records.h"

#include <string>

#include "core/ascii_case.h"
#include "core/exception.h"
#include "news/feed_merge.h"
#include "news/news_config.h"
#include "social/json_members.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

using namespace std::string_view_literals;

constexpr size_t kTitleMinimumCut = 27;

// The post part of an id: what follows its first "_", else the whole id.
std::string_view postPartOf(std::string_view id) {
  const size_t p = id.find('_');
  return p == std::string_view::npos ? id : id.substr(p + 1);
}

const webDataNode* child(const webDataNode* node, Text name) { return jsonMember(node, name); }

Str member(const webDataNode* node, Text name, bool raw = true) { return twitterMemberText(node, name, raw); }

Str nodeText(const webDataNode* node, bool raw = true) { return twitterNodeText(node, raw); }

// The "name" of a "from" object (NIL allowed).
Str fromNameOf(const webDataNode* from) { return nodeText(findMembers<1>(from, {"name"})[0]); }

Str orMissing(Str text) { return text ? std::move(text) : Str(kMissingText); }

std::unique_ptr<newsItemBody> newBody() {
  auto body = std::make_unique<newsItemBody>();
  body->encoding = Str("UTF-8"sv);
  return body;
}

}  // namespace

bigTime facebookParseDate(Text text) {
  if (text.isNil()) return kDateUnset;
  return pTime::parseDateTimeISO8601(text, kDateInvalid, 0, 2, 0);
}

std::unique_ptr<newsFeed> facebookUserInfoToFeed(const webDataRoot& document) {
  const webDataNode* user = document.findNode(kFacebookInfoRoot, nullptr, nullptr, nullptr);
  if (!user) return nullptr;
  auto feed = std::make_unique<newsFeed>();
  feed->title = orMissing(member(user, "name"));
  Str link = member(user, "link", false);
  feed->url = link ? std::move(link) : Str("");
  feed->uniqueID = orMissing(member(user, "id"));
  feed->type = Str(kFacebookFeedType);
  feed->docFormat = feedTypeToDocFormat(feed->type);
  feed->noOlderItems = true;
  feed->subtitle = member(user, "about");
  if (!feed->subtitle) feed->subtitle = member(user, "description");
  feed->tags = Str(",Facebook,");
  return feed;
}

FacebookRecord facebookExtractPost(const webDataNode& post) {
  enum { kFrom, kType, kMessage, kName, kDescription, kPermalink, kId, kCreated, kUpdated, kComments, kLink };
  const auto members = findMembers<11>(&post, {"from", "type", "message", "name", "description", "permalink_url",
                                               "id", "created_time", "updated_time", "comments", "link"});
  FacebookRecord r{std::make_unique<newsItem>(), newBody(), nullptr, Str()};
  newsItem& item = *r.item;
  newsItemBody& body = *r.body;
  const Str fromName = fromNameOf(members[kFrom]);
  Str type = nodeText(members[kType], false);
  if (!type) type = Str("unknown post type");

  Str message = nodeText(members[kMessage]);
  if (message) {
    item.title = facebookMakeTitle(message, true, fromName, false);
    if (equalsNoCase(type.view(), "photo") || equalsNoCase(type.view(), "video")) {
      body.summary = std::move(message);
      body.summaryFormat = kFormatPlainText;
    } else {
      body.content = std::move(message);
      body.contentFormat = kFormatPlainText;
    }
  } else {
    const Str name = nodeText(members[kName]);
    std::string title;
    if (fromName) title += "(" + fromName.str() + ") ";
    title += type.view();
    if (name) title += " from " + name.str();
    item.title = Str(title);
    Str description = nodeText(members[kDescription]);
    body.summary = description ? std::move(description) : Str("(shared a post)");
    body.summaryFormat = kFormatPlainText;
  }
  item.titleFormat = kFormatPlainText;
  // A link post leads to what it shares; any other post to itself.
  Str link = equalsNoCase(type.view(), "link") ? nodeText(members[kLink], false) : Str();
  if (!link || link.empty()) link = nodeText(members[kPermalink], false);
  Str permalink = nodeText(members[kPermalink], false);
  item.link = link ? std::move(link) : Str("");
  item.uniqueID = orMissing(nodeText(members[kId]));
  if (permalink && !permalink.empty()) {
    r.postAddress = std::move(permalink);
  } else if (const size_t owner = item.uniqueID.view().find('_');
             members[kId] && owner != std::string_view::npos && owner > 0 && owner + 1 < item.uniqueID.view().size()) {
    const std::string_view id = item.uniqueID.view();
    r.postAddress = joinedText({newsConfig::kFacebookHome, id.substr(0, owner), "/posts/"sv, id.substr(owner + 1)});
  } else {
    r.postAddress = Str(""sv);
  }
  body.publishedText = nodeText(members[kCreated]);
  item.published = facebookParseDate(body.publishedText);
  body.updatedText = nodeText(members[kUpdated]);
  item.updated = facebookParseDate(body.updatedText);
  item.downloaded = pTime::CurrentTime(0);
  if (!type.empty()) item.tags = Str(type.view());

  if (members[kMessage]) {
    const Str name = nodeText(members[kName]);
    const Str description = nodeText(members[kDescription]);
    if (name || description) {
      if (!body.summary) body.summary = std::move(body.content);
      std::string content(body.summary.view());
      if (name && description) {
        content += "\n\n" + name.str() + "\n" + description.str();
      } else {
        content += "\n\n" + (description ? description : name).str();
      }
      body.content = Str(content);
      body.contentFormat = kFormatPlainText;
      body.summaryFormat = kFormatPlainText;
    }
  }
  const webDataNode* comments = members[kComments];
  const webDataNode* data = child(comments, "data");
  if (data && data->getFirstChild()) r.commentsNode = comments;
  return r;
}

FacebookRecord facebookExtractComment(const webDataNode& comment, const newsItem* parent, Text postAddress) {
  if (!parent) raise("EPU", "facebookExtractComment(); parentItemNode=NIL");
  enum { kCreated, kId, kFrom, kMessage };
  const auto members = findMembers<4>(&comment, {"created_time", "id", "from", "message"});
  FacebookRecord r{std::make_unique<newsItem>(), newBody(), nullptr, Str()};
  newsItem& item = *r.item;
  newsItemBody& body = *r.body;
  body.publishedText = nodeText(members[kCreated]);
  item.published = facebookParseDate(body.publishedText);
  item.updated = kDateUnset;
  item.downloaded = pTime::CurrentTime(0);

  Str id = nodeText(members[kId]);
  if (!postAddress.isNil() && !postAddress.view().empty() && id) {
    const std::string_view link = postAddress.view();
    item.link = joinedText({link, link.find('?') == std::string_view::npos ? "?"sv : "&"sv, "comment_id="sv,
                            postPartOf(id.view())});
  } else {
    item.link = Str(""sv);
  }
  item.uniqueID = orMissing(std::move(id));
  const Str fromName = fromNameOf(members[kFrom]);
  Str message = nodeText(members[kMessage]);
  if (message) {
    item.title = facebookMakeTitle(message, true, fromName, true);
    body.content = std::move(message);
  } else {
    item.title = Str(kMissingText);
    body.content = Str(kMissingText);
  }
  body.contentFormat = kFormatPlainText;
  item.titleFormat = kFormatPlainText;
  return r;
}

namespace {

// Whether a blank, a line break or a tab (real or escaped), or the end of
// the text, stands at p.
bool breakAt(std::string_view text, size_t p) {
  if (p >= text.size()) return true;
  const char c = text[p];
  if (c == ' ' || c == '\n' || c == '\t' || c == '\r') return true;
  return c == '\\' && p + 1 < text.size() && (text[p + 1] == 'n' || text[p + 1] == 't' || text[p + 1] == 'r');
}

// Where the link that starts at link ends: at a break, or at a "." or ","
// that a break follows (the sentence's, not the link's).
size_t linkEnd(std::string_view text, size_t link) {
  size_t p = link;
  while (!breakAt(text, p) && !((text[p] == '.' || text[p] == ',') && breakAt(text, p + 1))) ++p;
  return p;
}

// The start of the "http://" or "https://" link (slashes plain or escaped)
// that holds position p, or npos.
size_t linkAround(std::string_view text, size_t p) {
  for (size_t at = text.find("http"); at != std::string_view::npos && at <= p; at = text.find("http", at + 1)) {
    std::string_view rest = text.substr(at + 4);
    if (rest.starts_with("s")) rest.remove_prefix(1);
    if (!rest.starts_with("://") && !rest.starts_with(":\\/\\/")) continue;
    if (p < linkEnd(text, at)) return at;
  }
  return std::string_view::npos;
}

}  // namespace

FacebookPostID facebookSplitPostID(Text id, bool postPartOnly) {
  const std::string_view text = id.view();
  const size_t p = text.find('_');
  if (p == std::string_view::npos) return {Str(text), Str()};
  return {Str(postPartOf(text)), postPartOnly ? Str() : Str(text.substr(0, p))};
}

Str facebookMakeTitle(Text message, bool escapedLineBreaks, Text name, bool isComment) {
  const std::string_view text = message.view();
  size_t cut = std::min(text.size(), text.find(escapedLineBreaks ? "\\n"sv : "\n"sv));
  if (cut > kTitleMinimumCut) {
    // The first ".", "," or "-" from kTitleMinimumCut on that ends a word
    // (a blank or the end follows it) outside a link.
    for (size_t p = kTitleMinimumCut; p < cut; ++p) {
      const char c = text[p];
      if (c != '.' && c != ',' && c != '-') continue;
      if (p + 1 != cut && !breakAt(text, p + 1)) continue;
      if (linkAround(text, p) != std::string_view::npos) continue;
      cut = p;
      break;
    }
  }
  while (cut > 1 && text[cut - 1] == ' ') --cut;
  if (name.isNil()) return Str(text.substr(0, cut));
  return joinedText({isComment ? "(comment by "sv : "("sv, name.view(), ") "sv, text.substr(0, cut)});
}

}  // namespace bw
