// news/atom_parser.cpp - parseAtomFeed and the link tests.
#include "news/atom_parser.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

#include "core/ascii_case.h"
#include "core/string_procs.h"
#include "news/feed_links.h"
#include "news/feed_merge.h"
#include "news/news_config.h"
#include "news/news_orderings.h"
#include "news/rss_date.h"
#include "platform/time.h"
#include "web/xhtml_text.h"

namespace bw {
namespace {

bool attributeIs(const webDataNode& node, Text name, Text value, bool def) {
  const Str a = node.getAttribute(name, nullptr, true);
  if (a.isNil()) return def;
  return equalsNoCase(a.view(), value.view());
}

Str textOf(const webDataNode* node, const cEncoding& utf8) { return node ? node->getText(&utf8, true) : Str(); }

// The first "link" child (with the feed's prefix ns) up to limit with an
// "href" for which test holds; NIL without one.
const webDataNode* firstLink(const webDataNode& parent, Text ns, const webDataNode* limit,
                             const std::function<bool(const webDataNode&)>& test) {
  for (const webDataNode* l = parent.findChild("link", ns, nullptr, limit); l;
       l = parent.findChild("link", ns, l, limit)) {
    if (l == limit) break;
    if (!l->getAttribute("href", nullptr, true).isNil() && test(*l)) return l;
  }
  return nullptr;
}

// The link's href, resolved against the address and the xml:base in force.
Str resolvedHref(const webDataNode& link, Text url, const cEncoding& utf8, bool noDecode) {
  return resolveFeedLink(link.getAttribute("href", &utf8, noDecode), link, url, utf8);
}

Str normalisedHref(const webDataNode& link, Text url, const cEncoding& utf8) {
  Str href = resolvedHref(link, url, utf8, true);
  normaliseFeedURL(href);
  return href;
}

// The feed's uniqueID by the first rule that applies; without a link or an
// id, the address the feed was fetched from.
Str feedUniqueID(const webDataNode& feed, Text ns, const webDataNode* limit, const Str& title, Text url,
                 const cEncoding& utf8) {
  if (const webDataNode* l = firstLink(feed, ns, limit, [](const webDataNode& n) {
        return isAtomLinkTypeAndRel(n, "application/atom+xml", "self", false);
      }))
    return normalisedHref(*l, url, utf8);
  if (const webDataNode* l = firstLink(feed, ns, limit, [](const webDataNode& n) { return isAtomLinkRel(n, "self", false); }))
    return normalisedHref(*l, url, utf8);
  if (const webDataNode* id = feed.findChild("id", ns, nullptr, limit); id && id != limit) {
    Str text = textOf(id, utf8);
    if (text.isNil()) text = Str("");
    if (text.view().starts_with("http")) return concatStrings(text, ", ", title);
    return text;
  }
  if (const webDataNode* l = firstLink(feed, ns, limit, [](const webDataNode&) { return true; }))
    return concatStrings(normalisedHref(*l, url, utf8), ", ", title);
  if (url.isNil() || url.length() == 0) return Str();
  return Str(url.view());
}

// Whether node declares ns (its default namespace when prefix is NIL) as
// the Atom namespace.
bool declaresAtom(const webDataNode& node, NodeText prefix) {
  const std::string attribute = prefix.isNil() ? std::string("xmlns") : "xmlns:" + std::string(prefix.view());
  const Str value = node.getAttribute(attribute, nullptr, true);
  return !value.isNil() && equalsNoCase(value.view(), newsConfig::kAtomNamespace);
}

bool hasChildren(const webDataNode* node) { return node && node->getFirstChild(); }

// The identity of an entry without an id, the same at every download while
// the entry is unchanged: its link; else its title and its updated (else
// published) date as written; else a digest of its summary and content.
Str keyWithoutID(const newsItem& item, const newsItemBody& body) {
  if (!item.link.empty()) {
    Str key = copyString(item.link);
    normaliseFeedURL(key);
    return key;
  }
  const Str& date = body.updatedText.isNil() ? body.publishedText : body.updatedText;
  if (item.title.view() != kMissingText || !date.isNil()) {
    return concatStrings(item.title, ", ", date.isNil() ? Str("") : date);
  }
  if (body.summary.isNil() && body.content.isNil()) return Str(kMissingText);
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const Str* text : {&body.summary, &body.content}) {
    for (char c : text->view()) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash = (hash ^ 0xFF) * 1099511628211ull;
  }
  char key[24];
  std::snprintf(key, sizeof key, "#%016llx", static_cast<unsigned long long>(hash));
  return Str(key);
}

bigTime isoDate(const Str& text) {
  if (text.isNil()) return kDateUnset;
  return pTime::parseDateTimeISO8601(text, kDateInvalid, 0, 1, 0);
}

}  // namespace

bool isAtomLinkRel(const webDataNode& node, Text value, bool def) { return attributeIs(node, "rel", value, def); }
bool isAtomLinkType(const webDataNode& node, Text value, bool def) { return attributeIs(node, "type", value, def); }

bool isAtomLinkTypeAndRel(const webDataNode& node, Text typeValue, Text relValue, bool def) {
  const Str type = node.getAttribute("type", nullptr, true);
  const Str rel = node.getAttribute("rel", nullptr, true);
  if (type.isNil() || rel.isNil()) return def;
  return equalsNoCase(type.view(), typeValue.view()) && equalsNoCase(rel.view(), relValue.view());
}

webDataNode* findAtomFeed(const webDataRoot& document, Str* prefix) {
  for (webDataNode* n = document.head(); n; n = n->getNext()) {
    if (!(n->getName() == std::string_view("feed")) || !declaresAtom(*n, n->getNamespace())) continue;
    if (prefix) *prefix = n->getNamespace().toStr();
    return n;
  }
  return nullptr;
}

FeedParseResult parseAtomFeed(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document, newsRoot& root,
                              const cEncoding* charset, Text url, newsFeed* updateFeed, feedProgressGui* gui) {
  Str ns;
  webDataNode* top = findAtomFeed(document, &ns);
  if (!top) top = document.findNode("feed", nullptr, nullptr, nullptr);
  if (!hasChildren(top)) return {};
  cEncodingUTF utf8;
  utf8.load("UTF-8");
  const webDataNode* firstEntry = top->findChild("entry", ns, nullptr, nullptr);
  auto before = [&](const char* name) -> const webDataNode* {
    const webDataNode* n = top->findChild(name, ns, nullptr, firstEntry);
    return n == firstEntry ? nullptr : n;
  };
  setProgressText(gui, "Parsing feed");

  auto fresh = std::make_unique<newsFeed>();
  fresh->title = textOf(top->findChild("title", ns, nullptr, nullptr), utf8);
  if (fresh->title.isNil()) fresh->title = Str(kMissingText);
  fresh->url = copyString(url);
  fresh->uniqueID = feedUniqueID(*top, ns, firstEntry, fresh->title, url, utf8);
  if (fresh->uniqueID.isNil()) {
    reportNoUniqueID("Atom", url);
    return {nullptr, true};
  }
  fresh->type = Str("Atom");
  fresh->docFormat = feedTypeToDocFormat(fresh->type);
  fresh->updatedText = textOf(before("updated"), utf8);
  const webDataNode* logo = before("logo");
  if (!logo) logo = before("icon");
  if (logo) fresh->imageURL = resolveFeedLink(logo->getText(&utf8, false), *logo, url, utf8);
  fresh->language = top->getAttribute("xml:lang", &utf8, true);
  fresh->subtitle = textOf(before("subtitle"), utf8);
  fresh->rights = textOf(before("rights"), utf8);
  if (const webDataNode* generator = before("generator")) {
    fresh->generator = textOf(generator, utf8);
    const Str version = generator->getAttribute("version", &utf8, true);
    if (!version.isNil()) fresh->generator = concatStrings(fresh->generator, ",v", version);
  }

  const SettledFeed settled = settleParsedFeed(soup, root, std::move(fresh), updateFeed, charset);
  if (settled.refused) return {nullptr, true};
  newsFeed* feed = settled.feed;
  const std::vector<webDataNode*> parts = childrenWithChildren(*top, "entry", ns);
  const auto count = static_cast<int32_t>(parts.size());
  FeedMergeSettings settings;
  settings.feedExisted = settled.existed;
  settings.duplicateOrder = gCompareNewsItem_UpdatedElsePublishedDate;
  settings.gui = gui;
  FeedMerge merge(soup, *feed, count, settings);
  int32_t number = 0;
  for (webDataNode* entry : parts) {
    showItemProgress(gui, ++number, count);
    auto child = [&](const char* name) { return entry->findChild(name, ns, nullptr, nullptr); };
    auto item = std::make_unique<newsItem>();
    auto body = std::make_unique<newsItemBody>();
    item->feedIndex = feed->infoSoupIndex();
    item->setFeed(feed);
    const webDataNode* title = child("title");
    item->title = textOf(title, utf8);
    if (item->title.isNil()) item->title = Str(kMissingText);
    item->titleFormat = title ? (isAtomLinkType(*title, "html", false) ? kFormatHTML : kFormatPlainText) : kFormatDetect;
    item->uniqueID = textOf(child("id"), utf8);
    const webDataNode* link = firstLink(*entry, ns, nullptr, [](const webDataNode& n) {
      return isAtomLinkTypeAndRel(n, "text/html", "alternate", true);
    });
    item->link = link ? resolvedHref(*link, url, utf8, false) : Str("");
    body->encoding = copyString(document.infoEncodingName());
    body->statedEncoding = copyString(document.infoDeclaredEncodingName());
    body->publishedText = textOf(child("published"), utf8);
    body->updatedText = textOf(child("updated"), utf8);
    if (const webDataNode* author = child("author")) {
      body->author = textOf(author->findChild("name", ns, nullptr, nullptr), utf8);
    }
    if (const webDataNode* summary = child("summary")) {
      body->summary = textOf(summary, utf8);
      body->summaryFormat = isAtomLinkType(*summary, "html", false) ? kFormatHTML : kFormatPlainText;
    }
    if (webDataNode* content = child("content")) {
      if (isAtomLinkType(*content, "xhtml", false)) {
        body->content = xhtmlToString(*content);
        body->contentFormat = kFormatXHTML;
      } else {
        body->content = textOf(content, utf8);
        body->contentFormat = isAtomLinkType(*content, "html", false) ? kFormatHTML : kFormatPlainText;
      }
    }
    item->published = isoDate(body->publishedText);
    item->updated = isoDate(body->updatedText);
    if (item->updated == kDateUnset) item->updated = item->published;
    item->downloaded = pTime::CurrentTime(0);
    if (const webDataNode* category = child("category")) item->tags = category->getAttribute("term", &utf8, false);
    if (item->uniqueID.isNil()) item->uniqueID = keyWithoutID(*item, *body);
    merge.add(std::move(item), std::move(body));
  }
  merge.finish();
  return {feed, false};
}

}  // namespace bw
