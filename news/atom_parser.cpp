// news/atom_parser.cpp - parseAtomFeed and the link tests.
#include "news/atom_parser.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ascii_case.h"
#include "core/string_procs.h"
#include "news/feed_element_text.h"
#include "news/feed_links.h"
#include "news/html_text.h"
#include "news/feed_merge.h"
#include "news/news_config.h"
#include "news/news_orderings.h"
#include "news/rss_date.h"
#include "platform/time.h"
#include "web/xhtml_text.h"

namespace bw {
namespace {

// Whether n's prefix (the default namespace when it has none) is bound to
// the Atom namespace by n or an ancestor.
bool inAtomNamespace(const webDataNode& n) {
  const NodeText prefix = n.getNamespace();
  const std::string attribute = prefix.isNil() ? std::string("xmlns") : "xmlns:" + std::string(prefix.view());
  for (const webDataNode* p = &n; p; p = p->getParent()) {
    const Str value = p->getAttribute(attribute, nullptr, true);
    if (!value.isNil()) return equalsNoCase(value.view(), newsConfig::kAtomNamespace);
  }
  return false;
}

// The element is the Atom element name: written with the feed element's
// prefix ns (NIL: none), or with any prefix bound to the Atom namespace.
bool isAtomElement(const webDataNode& n, std::string_view name, Text ns) {
  const NodeText local = n.getName();
  if (local.isNil() || local.view() != name) return false;
  const NodeText prefix = n.getNamespace();
  if (prefix.isNil() == ns.isNil() && (prefix.isNil() || prefix.view() == ns.view())) return true;
  return inAtomNamespace(n);
}

// findChild for Atom elements: the first child after `after` (NIL: from
// the first) that is the Atom element name, not looking past limit.
webDataNode* atomChild(const webDataNode& parent, std::string_view name, Text ns, const webDataNode* after = nullptr,
                       const webDataNode* limit = nullptr) {
  for (webDataNode* n = after ? after->getNext() : parent.getFirstChild(); n; n = n->getNext()) {
    if (isAtomElement(*n, name, ns)) return n;
    if (n == limit) break;
  }
  return nullptr;
}

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
  for (const webDataNode* l = atomChild(parent, "link", ns, nullptr, limit); l; l = atomChild(parent, "link", ns, l, limit)) {
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
  if (const webDataNode* id = atomChild(feed, "id", ns, nullptr, limit); id && id != limit) {
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
// the entry is unchanged: its link and title (earlierID: its link alone,
// the identity it had before); else its title and its updated (else
// published) date as written; else a digest of its summary and content.
Str keyWithoutID(const newsItem& item, const newsItemBody& body, Str* earlierID) {
  if (!item.link.empty()) return linkAndTitleKey(item.link, item.title, earlierID);
  const Str& date = body.updatedText.isNil() ? body.publishedText : body.updatedText;
  if (item.title.view() != kMissingText || !date.isNil()) {
    return concatStrings(item.title, ", ", date.isNil() ? Str("") : date);
  }
  if (body.summary.isNil() && body.content.isNil()) return Str(kMissingText);
  return textDigestKey(body.summary, body.content);
}

// The entry's link: its alternate (or rel-less) link, of type text/html or
// without a type first, then of any type; without one, the first link
// lacking a type or a rel, or typed text/html and alternate.
const webDataNode* entryLink(const webDataNode& entry, Text ns) {
  auto alternate = [](const webDataNode& n) { return isAtomLinkRel(n, "alternate", true); };
  if (const webDataNode* l = firstLink(entry, ns, nullptr, [&](const webDataNode& n) {
        return alternate(n) && isAtomLinkType(n, "text/html", true);
      }))
    return l;
  if (const webDataNode* l = firstLink(entry, ns, nullptr, alternate)) return l;
  return firstLink(entry, ns, nullptr, [](const webDataNode& n) {
    return isAtomLinkTypeAndRel(n, "text/html", "alternate", true);
  });
}

// A text construct's type attribute, "text" when absent.
bool typeIs(const webDataNode& n, Text type) { return isAtomLinkType(n, type, type.view() == "text"); }

// An entry's text construct and its format: XHTML (type xhtml, or HTML
// written unescaped) as markup, html as HTML, anything else as plain text.
Str entryText(webDataNode* n, const cEncoding& utf8, uint8_t& format) {
  if (typeIs(*n, "xhtml")) {
    format = kFormatXHTML;
    return xhtmlContentToString(*n);
  }
  FeedElementText t = feedElementText(n, utf8);
  format = t.markup ? kFormatXHTML
           : typeIs(*n, "html") || typeIs(*n, "text/html") ? kFormatHTML
                                                           : kFormatPlainText;
  return std::move(t.text);
}

// Ampersands and angle brackets escaped: a display text stored where texts
// keep the document's escapes.
Str escapedText(const Str& text) {
  std::string out;
  for (char c : text.view()) {
    out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
  }
  return Str(out);
}

// A feed-level text construct (title, subtitle, rights) as it is stored:
// plain text as written; HTML and XHTML as their display text, escaped.
Str feedText(webDataNode* n, webDataFormat& docFormat, const cEncoding& utf8) {
  if (!n) return Str();
  uint8_t format = kFormatPlainText;
  Str text = entryText(n, utf8, format);
  if (format == kFormatPlainText) return text;
  return escapedText(feedTextForDisplay(docFormat, &utf8, text, format, false));
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
  const webDataNode* firstEntry = atomChild(*top, "entry", ns);
  auto before = [&](const char* name) -> webDataNode* {
    webDataNode* n = atomChild(*top, name, ns, nullptr, firstEntry);
    return n == firstEntry ? nullptr : n;
  };
  setProgressText(gui, "Parsing feed");

  auto fresh = std::make_unique<newsFeed>();
  fresh->type = Str("Atom");
  fresh->docFormat = feedTypeToDocFormat(fresh->type);
  fresh->title = feedText(atomChild(*top, "title", ns), *fresh->docFormat, utf8);
  if (fresh->title.isNil()) fresh->title = Str(kMissingText);
  fresh->url = copyString(url);
  fresh->uniqueID = feedUniqueID(*top, ns, firstEntry, fresh->title, url, utf8);
  if (fresh->uniqueID.isNil()) {
    reportNoUniqueID("Atom", url);
    return {nullptr, true};
  }
  fresh->updatedText = textOf(before("updated"), utf8);
  const webDataNode* logo = before("logo");
  if (!logo) logo = before("icon");
  if (logo) fresh->imageURL = resolveFeedLink(logo->getText(&utf8, false), *logo, url, utf8);
  fresh->language = top->getAttribute("xml:lang", &utf8, true);
  fresh->subtitle = feedText(before("subtitle"), *fresh->docFormat, utf8);
  fresh->rights = feedText(before("rights"), *fresh->docFormat, utf8);
  if (const webDataNode* generator = before("generator")) {
    fresh->generator = textOf(generator, utf8);
    const Str version = generator->getAttribute("version", &utf8, true);
    if (!version.isNil()) fresh->generator = concatStrings(fresh->generator, ",v", version);
  }

  const SettledFeed settled = settleParsedFeed(soup, root, std::move(fresh), updateFeed, charset);
  if (settled.refused) return {nullptr, true};
  newsFeed* feed = settled.feed;
  std::vector<webDataNode*> parts;
  for (webDataNode* e = atomChild(*top, "entry", ns); e; e = atomChild(*top, "entry", ns, e)) {
    if (e->getFirstChild()) parts.push_back(e);
  }
  const auto count = static_cast<int32_t>(parts.size());
  FeedMergeSettings settings;
  settings.feedExisted = settled.existed;
  settings.duplicateOrder = gCompareNewsItem_UpdatedElsePublishedDate;
  settings.gui = gui;
  // Each entry's id element, looked for once, and whether the entry has an
  // id (a text, read as textOf reads it, is NIL only where the element
  // holds none).
  std::vector<const webDataNode*> ids(parts.size());
  std::vector<char> hasID(parts.size());
  for (size_t n = 0; n < parts.size(); ++n) {
    ids[n] = atomChild(*parts[n], "id", ns);
    hasID[n] = ids[n] && !ids[n]->infoText().isNil();
  }
  settings.itemsWithoutID = std::find(hasID.begin(), hasID.end(), 0) != hasID.end();
  // The entries of one document were downloaded together: one reading of
  // the clock.
  const bigTime downloaded = pTime::CurrentTime(0);
  FeedMerge merge(soup, *feed, count, settings);
  struct Entry {
    std::unique_ptr<newsItem> item = std::make_unique<newsItem>();
    std::unique_ptr<newsItemBody> body = std::make_unique<newsItemBody>();
    Str earlierID;
  };
  auto readEntry = [&](size_t n) {
    webDataNode* entry = parts[n];
    auto child = [&](const char* name) { return atomChild(*entry, name, ns); };
    Entry e;
    newsItem* item = e.item.get();
    newsItemBody* body = e.body.get();
    item->feedIndex = feed->infoSoupIndex();
    item->setFeed(feed);
    if (webDataNode* title = child("title")) {
      item->title = entryText(title, utf8, item->titleFormat);
    } else {
      item->title = Str(kMissingText);
      item->titleFormat = kFormatDetect;
    }
    item->uniqueID = textOf(ids[n], utf8);
    const webDataNode* link = entryLink(*entry, ns);
    item->link = link ? resolvedHref(*link, url, utf8, false) : Str("");
    body->encoding = copyString(document.infoEncodingName());
    body->statedEncoding = copyString(document.infoDeclaredEncodingName());
    body->publishedText = textOf(child("published"), utf8);
    body->updatedText = textOf(child("updated"), utf8);
    if (const webDataNode* author = child("author")) {
      body->author = feedElementPlainText(atomChild(*author, "name", ns), utf8);
    }
    if (webDataNode* summary = child("summary")) body->summary = entryText(summary, utf8, body->summaryFormat);
    if (webDataNode* content = child("content")) {
      if (typeIs(*content, "xhtml")) {
        // Stored with its wrapping element, as it always has been.
        body->content = xhtmlToString(*content);
        body->contentFormat = kFormatXHTML;
      } else {
        body->content = entryText(content, utf8, body->contentFormat);
      }
    }
    item->published = parseFeedDate(body->publishedText);
    item->updated = parseFeedDate(body->updatedText);
    if (item->updated == kDateUnset) item->updated = item->published;
    item->downloaded = downloaded;
    if (const webDataNode* category = child("category")) item->tags = category->getAttribute("term", &utf8, false);
    if (item->uniqueID.isNil()) item->uniqueID = keyWithoutID(*item, *body, &e.earlierID);
    return e;
  };
  // Entries without id are read first: the merge matches them all before
  // the first is added.
  std::vector<Entry> withoutID;
  for (size_t n = 0; n < parts.size(); ++n) {
    if (hasID[n]) continue;
    withoutID.push_back(readEntry(n));
    merge.noteItemWithoutID(*withoutID.back().item, *withoutID.back().body);
  }
  size_t nextWithoutID = 0;
  for (size_t n = 0; n < parts.size(); ++n) {
    showItemProgress(gui, static_cast<int32_t>(n + 1), count);
    const bool madeID = !hasID[n];
    Entry e = madeID ? std::move(withoutID[nextWithoutID++]) : readEntry(n);
    merge.add(std::move(e.item), std::move(e.body), e.earlierID, madeID);
  }
  merge.finish();
  return {feed, false};
}

}  // namespace bw
