// news/rss_parser.cpp - parseRssFeed.
#include "news/rss_parser.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/ascii_case.h"
#include "core/string_procs.h"
#include "news/feed_element_text.h"
#include "news/feed_links.h"
#include "news/feed_merge.h"
#include "news/html_text.h"
#include "news/news_config.h"
#include "news/news_orderings.h"
#include "news/rss_date.h"
#include "platform/time.h"

namespace bw {
namespace {

// The element's text in UTF-8: kept (escapes as written) or decoded; NIL
// without the element.
Str textOf(const webDataNode* node, const cEncoding& utf8, bool kept) {
  return node ? node->getText(&utf8, kept) : Str();
}

Str displayText(Str text) {
  if (text.isNil()) return text;
  return prepareTextForDisplay(std::move(text), kFormatDetect, false, true);
}

// A channel text stored as display text; HTML written into it unescaped is
// read as the markup it is. A CDATA section is stored as its escaped twin,
// so a name written either way is judged and shown alike (a section read as
// HTML would lose its line ends and a "<![CDATA[" written inside it).
Str channelDisplayText(webDataNode* node, const cEncoding& utf8) {
  FeedElementText t = feedElementText(node, utf8);
  if (t.markup) return prepareTextForDisplay(std::move(t.text), kFormatXHTML, false, true);
  if (!t.text.isNil() && t.text.view().find("<![CDATA[") != std::string_view::npos)
    t.text = Str(cdataSectionsEscaped(t.text.view()));
  return displayText(std::move(t.text));
}

// A text element of an item and its format: detect, or XHTML when the feed
// wrote its HTML unescaped.
Str itemText(webDataNode* node, const cEncoding& utf8, uint8_t& format) {
  FeedElementText t = feedElementText(node, utf8);
  format = t.markup ? kFormatXHTML : kFormatDetect;
  return std::move(t.text);
}

// An item's title and its format: XHTML when the feed wrote its HTML
// unescaped; else HTML only on the evidence titleLooksLikeHtml takes, and
// plain text otherwise (a title naming a tag keeps its words, escaped or in
// CDATA).
Str itemTitle(webDataNode* node, const cEncoding& utf8, uint8_t& format) {
  FeedElementText t = feedElementText(node, utf8);
  if (t.markup) {
    format = kFormatXHTML;
  } else {
    format = !t.text.isNil() && titleLooksLikeHtml(t.text) ? kFormatHTML : kFormatPlainText;
  }
  return std::move(t.text);
}

// The prefix the "rss" element declares for the namespace (its name
// compared ignoring case), or NIL.
Str namespacePrefix(webDataNode& rss, const cEncoding& utf8, std::string_view ns) {
  for (webAttributeText a = rss.getFirstAttribute(&utf8, true); a.name; a = rss.getNextAttribute(&utf8, true)) {
    std::string_view name = a.name->view();
    if (name.size() < 6 || name.substr(0, 6) != "xmlns:") continue;
    if (!a.value.isNil() && equalsNoCase(a.value.view(), ns)) return Str(name.substr(6));
  }
  return Str();
}

// The new feed from the channel, or NIL when no uniqueID can be made (no
// link, no xml:base and no address).
std::unique_ptr<newsFeed> readChannel(webDataNode& rss, webDataNode& channel, const cEncoding& utf8, Text url) {
  const webDataNode* firstItem = channel.findChild("item", nullptr, nullptr, nullptr);
  auto before = [&](const char* name) { return channel.findChild(name, nullptr, nullptr, firstItem); };
  auto feed = std::make_unique<newsFeed>();

  webDataNode* title = channel.findChild("title", nullptr, nullptr, nullptr);
  if (title) {
    feed->title = channelDisplayText(title, utf8);
    if (feed->title.empty()) feed->title = displayText(textOf(title, utf8, false));
  } else {
    feed->title = Str(kMissingText);
  }
  feed->url = copyString(url);
  Str id = textOf(channel.findChild("link", nullptr, nullptr, nullptr), utf8, true);
  if (id.isNil()) id = channel.getAttribute("xml:base", &utf8, true);
  if (!id.isNil()) {
    feed->uniqueID = concatStrings(id, ", ", feed->title);
  } else if (url.length() > 0) {
    // A channel without a link of its own is known by its address.
    feed->uniqueID = Str(url.view());
  } else {
    return nullptr;
  }
  const Str version = rss.getAttribute("version", &utf8, true);
  feed->type = concatStrings("RSS ", version.isNil() || version.empty() ? Str("2.0") : version);
  feed->docFormat = feedTypeToDocFormat(feed->type);
  feed->updatedText = textOf(before("lastBuildDate"), utf8, true);
  if (feed->updatedText.isNil()) feed->updatedText = textOf(before("pubDate"), utf8, true);
  if (const webDataNode* image = before("image")) {
    if (const webDataNode* address = image->findChild("url", nullptr, nullptr, nullptr)) {
      feed->imageURL = resolveFeedLink(textOf(address, utf8, false), *address, url, utf8);
    }
  }
  feed->language = textOf(before("language"), utf8, true);
  if (webDataNode* description = before("description")) feed->subtitle = channelDisplayText(description, utf8);
  if (webDataNode* copyright = before("copyright")) feed->rights = channelDisplayText(copyright, utf8);
  feed->generator = textOf(before("generator"), utf8, true);
  return feed;
}

struct ParsedItem {
  std::unique_ptr<newsItem> item;
  std::unique_ptr<newsItemBody> body;
  Str earlierID;  // the id an item without guid had before (its link)
};

// The item's guid element, looked for once (NIL for none), and whether it
// gives the item its id: a text, read as readItem reads it, is NIL only
// where the element holds none.
struct ItemGuid {
  webDataNode* node = nullptr;
  bool givesID() const { return node && !node->infoText().isNil(); }
};

// Every item of one document shares one reading of the clock: they were
// downloaded together.
ParsedItem readItem(webDataNode& node, ItemGuid guidNode, bigTime downloaded, newsFeed& feed,
                    const webDataRoot& document, const cEncoding& utf8, const Str& prefix, const Str& dublinCore,
                    Text url) {
  auto child = [&](const char* name) { return node.findChild(name, nullptr, nullptr, nullptr); };
  ParsedItem p{std::make_unique<newsItem>(), std::make_unique<newsItemBody>(), Str()};
  newsItem& item = *p.item;
  newsItemBody& body = *p.body;
  item.feedIndex = feed.infoSoupIndex();
  item.setFeed(&feed);
  item.title = itemTitle(child("title"), utf8, item.titleFormat);
  if (item.title.isNil()) item.title = Str(kMissingText);
  const webDataNode* linkNode = child("link");
  Str link = textOf(linkNode, utf8, false);
  item.link = link.isNil() ? Str("") : trimNewsWhiteSpace(std::move(link), true);
  webDataNode* guid = guidNode.node;
  item.uniqueID = textOf(guid, utf8, true);
  if (item.uniqueID.isNil()) {
    // The link as written and the title; items stored under the link alone
    // keep that id (FeedMerge::add).
    if (!item.link.empty()) {
      item.uniqueID = linkAndTitleKey(item.link, item.title, &p.earlierID);
    } else {
      item.uniqueID = copyString(item.title);
    }
  }
  if (linkNode) item.link = resolveFeedLink(std::move(item.link), *linkNode, url, utf8);
  StrChain categories;
  for (webDataNode* c = node.findChild("category", nullptr, nullptr, nullptr); c;
       c = node.findChild("category", nullptr, c, nullptr)) {
    Str term = c->getText(&utf8, false);
    categories.push_back(term.isNil() ? Str("") : trimNewsWhiteSpace(std::move(term), true));
  }
  if (!categories.empty()) item.tags = joinStrings(categories, ",");
  body.encoding = copyString(document.infoEncodingName());
  body.statedEncoding = copyString(document.infoDeclaredEncodingName());
  // WordPress and many others give the date and the author only as
  // dc:date and dc:creator.
  body.publishedText = textOf(child("pubDate"), utf8, true);
  if (body.publishedText.isNil()) body.publishedText = textOf(node.findChild("date", dublinCore, nullptr, nullptr), utf8, true);
  body.author = feedElementPlainText(child("author"), utf8);
  if (body.author.isNil()) body.author = feedElementPlainText(node.findChild("creator", dublinCore, nullptr, nullptr), utf8);
  const webDataNode* image = child("image");
  if (!image) image = child("img");
  if (image) body.imageURL = resolveFeedLink(textOf(image, utf8, false), *image, url, utf8);
  body.summary = itemText(child("description"), utf8, body.summaryFormat);
  body.content = itemText(node.findChild("encoded", prefix, nullptr, nullptr), utf8, body.contentFormat);
  item.published = item.updated = parseFeedDate(body.publishedText);
  item.downloaded = downloaded;

  const std::string_view id = item.uniqueID.view();
  if (item.link.empty() && guid) {
    // A permalink guid is the item's address, resolved like any link; an
    // absolute one is taken whatever isPermaLink says.
    const Str permaLink = guid->getAttribute("isPermaLink", &utf8, false);
    if (!permaLink.isNil() && equalsNoCase(trimNewsWhiteSpace(copyString(permaLink), true).view(), "true")) {
      Str address = trimNewsWhiteSpace(textOf(guid, utf8, false), true);
      if (!address.empty()) item.link = resolveFeedLink(std::move(address), *guid, url, utf8);
    }
  }
  if (item.link.empty() && (id.starts_with("http://") || id.starts_with("https://"))) item.link = copyString(item.uniqueID);
  if (id.starts_with(newsConfig::kPortGuidPrefix)) normaliseFeedURL(item.uniqueID);
  return p;
}

bool hasChildren(const webDataNode* node) { return node && node->getFirstChild(); }

}  // namespace

bool isReadableRssVersion(const Str& version) {
  if (version.isNil() || version.empty()) return true;
  for (std::string_view v : {"2.0", "0.91", "0.92", "0.93", "0.94"}) {
    if (version.view() == v) return true;
  }
  return false;
}

FeedParseResult parseRssFeed(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document, newsRoot& root,
                             const cEncoding* charset, Text url, newsFeed* updateFeed, feedProgressGui* gui) {
  webDataNode* rss = document.findNode("rss", nullptr, nullptr, nullptr);
  if (!rss) return {};
  cEncodingUTF utf8;
  utf8.load("UTF-8");
  const Str prefix = namespacePrefix(*rss, utf8, newsConfig::kContentModuleNamespace);
  // Dublin Core, by the usual prefix where the feed forgets to declare it.
  Str dublinCore = namespacePrefix(*rss, utf8, "http://purl.org/dc/elements/1.1/");
  if (dublinCore.isNil()) dublinCore = Str("dc");
  setProgressText(gui, "Parsing feed");
  webDataNode* channel = rss->findChild("channel", nullptr, nullptr, nullptr);
  if (!hasChildren(channel)) return {};

  std::unique_ptr<newsFeed> fresh = readChannel(*rss, *channel, utf8, url);
  if (!fresh) {
    reportNoUniqueID("RSS", url);
    return {nullptr, true};
  }
  const SettledFeed settled = settleParsedFeed(soup, root, std::move(fresh), updateFeed, charset);
  if (settled.refused) return {nullptr, true};
  newsFeed* feed = settled.feed;
  const std::vector<webDataNode*> parts = childrenWithChildren(*channel, "item");
  const auto count = static_cast<int32_t>(parts.size());
  FeedMergeSettings settings;
  settings.feedExisted = settled.existed;
  settings.generatorFlag =
      !feed->generator.isNil() && feed->generator.view().find(newsConfig::kGeneratorMarker) != std::string_view::npos;
  settings.duplicateOrder = gCompareNewsItem_PublishedDate;
  settings.gui = gui;
  std::vector<ItemGuid> guids(parts.size());
  for (size_t i = 0; i < parts.size(); ++i) guids[i].node = parts[i]->findChild("guid", nullptr, nullptr, nullptr);
  settings.itemsWithoutID =
      std::any_of(guids.begin(), guids.end(), [](const ItemGuid& g) { return !g.givesID(); });
  const bigTime downloaded = pTime::CurrentTime(0);
  FeedMerge merge(soup, *feed, count, settings);
  // Items without guid are read first: the merge matches them all before
  // the first is added.
  std::vector<ParsedItem> withoutGuid;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (guids[i].givesID()) continue;
    withoutGuid.push_back(readItem(*parts[i], guids[i], downloaded, *feed, document, utf8, prefix, dublinCore, url));
    merge.noteItemWithoutID(*withoutGuid.back().item, *withoutGuid.back().body);
  }
  size_t nextWithoutGuid = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    showItemProgress(gui, static_cast<int32_t>(i) + 1, count);
    const bool madeID = !guids[i].givesID();
    ParsedItem parsed = madeID ? std::move(withoutGuid[nextWithoutGuid++])
                               : readItem(*parts[i], guids[i], downloaded, *feed, document, utf8, prefix,
                                          dublinCore, url);
    merge.add(std::move(parsed.item), std::move(parsed.body), parsed.earlierID, madeID);
  }
  merge.finish();
  return {feed, false};
}

}  // namespace bw
