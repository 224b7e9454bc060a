// social/facebook_records.cpp - the account, post and comment readers and
// the id and title rules of Facebook items.
#include "social/facebook_records.h"

#include <string>

#include "core/ascii_case.h"
#include "core/exception.h"
#include "news/feed_merge.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

constexpr size_t kTitleMinimumCut = 27;

const webDataNode* child(const webDataNode* node, Text name) {
  return node ? node->findChild(name, nullptr, nullptr, nullptr) : nullptr;
}

Str member(const webDataNode* node, Text name, bool raw = true) { return twitterMemberText(node, name, raw); }

Str orMissing(Str text) { return text ? std::move(text) : Str(kMissingText); }

std::unique_ptr<newsItemBody> newBody() {
  auto body = std::make_unique<newsItemBody>();
  body->encoding = Str("UTF-8");
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
  FacebookRecord r{std::make_unique<newsItem>(), newBody(), nullptr};
  newsItem& item = *r.item;
  newsItemBody& body = *r.body;
  const Str fromName = member(child(&post, "from"), "name");
  Str type = member(&post, "type", false);
  if (!type) type = Str("unknown post type");

  Str message = member(&post, "message");
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
    const Str name = member(&post, "name");
    std::string title;
    if (fromName) title += "(" + fromName.str() + ") ";
    title += type.view();
    if (name) title += " from " + name.str();
    item.title = Str(title);
    Str description = member(&post, "description");
    body.summary = description ? std::move(description) : Str("(shared a post)");
    body.summaryFormat = kFormatPlainText;
  }
  item.titleFormat = kFormatPlainText;
  Str link = member(&post, "permalink_url", false);
  item.link = link ? std::move(link) : Str("");
  item.uniqueID = orMissing(member(&post, "id"));
  body.publishedText = member(&post, "created_time");
  item.published = facebookParseDate(body.publishedText);
  body.updatedText = member(&post, "updated_time");
  item.updated = facebookParseDate(body.updatedText);
  item.downloaded = pTime::CurrentTime(0);
  if (!type.empty()) item.tags = Str(type.view());

  if (child(&post, "message")) {
    const Str name = member(&post, "name");
    const Str description = member(&post, "description");
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
  const webDataNode* comments = child(&post, "comments");
  const webDataNode* data = child(comments, "data");
  if (data && data->getFirstChild()) r.commentsNode = comments;
  return r;
}

FacebookRecord facebookExtractComment(const webDataNode& comment, const newsItem* parent) {
  if (!parent) raise("EPU", "facebookExtractComment(); parentItemNode=NIL");
  FacebookRecord r{std::make_unique<newsItem>(), newBody(), nullptr};
  newsItem& item = *r.item;
  newsItemBody& body = *r.body;
  body.publishedText = member(&comment, "created_time");
  item.published = facebookParseDate(body.publishedText);
  item.updated = kDateUnset;
  item.downloaded = pTime::CurrentTime(0);

  Str id = member(&comment, "id");
  Str commentPart;
  if (id) commentPart = facebookSplitPostID(id, true).postPart;
  item.uniqueID = orMissing(std::move(id));
  if (!parent->link.empty() && commentPart) {
    const std::string_view link = parent->link.view();
    item.link = Str(std::string(link) + (link.find('?') == std::string_view::npos ? "?" : "&") + "comment_id=" +
                    commentPart.str());
  } else {
    item.link = Str("");
  }
  const Str fromName = member(child(&comment, "from"), "name");
  Str message = member(&comment, "message");
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

FacebookPostID facebookSplitPostID(Text id, bool postPartOnly) {
  const std::string_view text = id.view();
  const size_t p = text.find('_');
  if (p == std::string_view::npos) return {Str(text), Str()};
  return {Str(text.substr(p + 1)), postPartOnly ? Str() : Str(text.substr(0, p))};
}

Str facebookMakeTitle(Text message, bool escapedLineBreaks, Text name, bool isComment) {
  const std::string_view text = message.view();
  size_t cut = std::min(text.size(), text.find(escapedLineBreaks ? "\\n" : "\n"));
  if (cut > kTitleMinimumCut) {
    for (char c : {'.', ',', '-'}) cut = std::min(cut, text.find(c, kTitleMinimumCut));
  }
  while (cut > 1 && text[cut - 1] == ' ') --cut;
  std::string title;
  if (!name.isNil()) title = (isComment ? "(comment by " : "(") + std::string(name.view()) + ") ";
  title.append(text.substr(0, cut));
  return Str(title);
}

}  // namespace bw
