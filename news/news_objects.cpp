// news/news_objects.cpp - construction, release and the small queries of the
// news objects, and the feed's document reader and text conversions.
#include "news/news_objects.h"

#include <string>
#include <string_view>

#include "core/exception.h"
#include "core/unicode.h"
#include "news/html_text.h"
#include "news/news_load.h"
#include "web/control_chars.h"
#include "web/json_reader.h"
#include "web/xml_reader.h"

namespace bw {
namespace {

const TranslateEntry* gTwitterEscapeTable = nullptr;

// Gives back a use of a soup object the holder took, while the soup is open
// and the object is still the one loaded at its index (closing the soup
// frees every loaded object at once).
void giveBackUse(cJournaledIndexedObjectSoupDatabase* soup, cIndexedObject* object) {
  if (!soup || !object || !soup->isOpen()) return;
  int32_t index = object->soupIndexOrNone();
  if (index > 0 && soup->findRegisteredObject(index) == object) soup->unloadObject(object);
}

bool startsWith(const Str& text, std::string_view prefix) { return text.view().substr(0, prefix.size()) == prefix; }

}  // namespace

// --- newsRoot -------------------------------------------------------------------------

newsRoot::~newsRoot() { giveBackUse(soup, feedList); }

void newsRoot::init(cJournaledIndexedObjectSoupDatabase* database) {
  if (!database) raise("EMU", "newsRoot.new(); soup=NIL");
  soup = database;
  CreatedList created = database->createObjectList();
  feedList = created.list;
  feedListIndex = created.index;
}

// --- newsFeed -------------------------------------------------------------------------

newsFeed::~newsFeed() { releaseItemList(); }

void newsFeed::releaseItemList() {
  giveBackUse(soup, itemList);
  itemList = nullptr;
}

void newsFeed::setSoup(cJournaledIndexedObjectSoupDatabase* database) {
  if (!database) raise("EMU", "newsFeed.setSoup(); soup=NIL");
  releaseItemList();
  soup = database;
  CreatedList created = database->createObjectList();
  itemList = created.list;
  itemListIndex = created.index;
}

const Str& newsFeed::infoName(const cEncoding* charset) {
  if (nameCache.isNil() && docFormat) {
    nameCache = convertFeedText(*docFormat, charset, userName.isNil() ? title : userName, false, false);
    // The feed's title was trimmed as stored, where a reference to white
    // space ("&#160;") is no white space yet: trimmed again as read, it
    // shows as the same title with the character written.
    if (userName.isNil() && !nameCache.isNil()) {
      const cEncoding* target = charset ? charset : docFormat->infoDefaultCharset();
      trimDisplayText(nameCache, !target || isUtf8Encoding(*target));
    }
  }
  return nameCache;
}

Str newsFeed::infoTags(const cEncoding* charset) {
  if (!tagsCache.isNil()) return tagsCache;
  if (tags.isNil()) return Str("");
  if (!docFormat) return Str();
  Str converted = convertFeedText(*docFormat, charset, tags, false, false);
  std::string_view inner = converted.view();
  inner = inner.size() >= 2 ? inner.substr(1, inner.size() - 2) : std::string_view();
  tagsCache = Str(inner);
  return tagsCache;
}

void newsFeed::setName(cJournaledIndexedObjectSoupDatabase& db, const cEncoding& charset, const cEncoding& encoding,
                       Text name) {
  SoupTransaction transaction(db.infoBlockFile());
  userName = Str();
  nameCache = Str();
  if (!name.isNil() && name.length() > 0) {
    nameCache = Str(name.view());
    userName = feedTextToFeedEncoding(charset, encoding, name, false);
  }
  db.saveChangesToObject(this);
  transaction.finish();
}

// --- newsItem -------------------------------------------------------------------------

newsItem::~newsItem() { releaseFeed(); }

void newsItem::releaseFeed() {
  if (feedUseSoup_) giveBackUse(feedUseSoup_, feed_);
  feed_ = nullptr;
  feedUseSoup_ = nullptr;
}

void newsItem::setFeed(newsFeed* borrowed) {
  releaseFeed();
  feed_ = borrowed;
}

bigTime newsItem::infoUpdatedElsePublishedDate(bool ignoreFeedSetting) {
  if (ignoreFeedSetting) return updated != kDateUnset ? updated : published;
  if (feed_ && feed_->useDownloadDate) {
    if (downloaded != kDateUnset) return downloaded;
    return updated != kDateUnset ? updated : published;
  }
  if (updated != kDateUnset) return updated;
  return published != kDateUnset ? published : downloaded;
}

bigTime newsItem::infoPublishedDate() {
  if (feed_ && feed_->useDownloadDate) {
    if (downloaded != kDateUnset) return downloaded;
    return published != kDateUnset ? published : updated;
  }
  if (published != kDateUnset) return published;
  return updated != kDateUnset ? updated : downloaded;
}

newsFeed* newsItem::infoFeed(cJournaledIndexedObjectSoupDatabase* db) {
  if (feed_) return feed_;
  if (!db) raise("BUG", "newsItem.infoFeed(); soup=NIL but feed is also NIL");
  bool wasLoaded = db->findLoadedObject(feedIndex, 0) != nullptr;
  newsFeed* feed = loadObject_newsFeed(*db, feedIndex);
  if (!feed) raise("BUG", "newsItem.infoFeed(); feed=NIL");
  feed_ = feed;
  if (wasLoaded) {
    db->unloadObject(feed);  // borrowed from whoever keeps it loaded
  } else {
    feedUseSoup_ = db;  // the only use: kept until the item goes
  }
  return feed_;
}

// --- feed texts -----------------------------------------------------------------------

void setTwitterEscapeTable(const TranslateEntry* table) { gTwitterEscapeTable = table; }
const TranslateEntry* twitterEscapeTable() { return gTwitterEscapeTable; }

std::unique_ptr<webDataFormat> feedTypeToDocFormat(const Str& type) {
  if (startsWith(type, "Twitter")) return std::make_unique<cJSON>(gTwitterEscapeTable);
  if (startsWith(type, "Facebook")) return std::make_unique<cJSON>();
  if (startsWith(type, "RSS") || type == "Atom") return std::make_unique<cXML>();
  raise("BUG", "feedTypeToDocFormat(); unknown type");
}

std::string cdataSectionsEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t at = 0;;) {
    const size_t open = text.find("<![CDATA[", at);
    out.append(text.substr(at, open == std::string_view::npos ? open : open - at));
    if (open == std::string_view::npos) return out;
    const size_t close = text.find("]]>", open + 9);
    const size_t end = close == std::string_view::npos ? text.size() : close;
    for (char c : text.substr(open + 9, end - open - 9)) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
      }
    }
    if (close == std::string_view::npos) return out;
    at = close + 3;
  }
}


Str convertFeedText(webDataFormat& docFormat, const cEncoding* charset, Text text, bool noDecode,
                    bool nilIfUnchanged) {
  if (text.isNil()) return Str();
  if (!noDecode && text.view().find("<![CDATA[") != std::string_view::npos && dynamic_cast<cXML*>(&docFormat)) {
    const std::string twin = cdataSectionsEscaped(text.view());
    return convertFeedText(docFormat, charset, Text(twin), false, false);
  }
  Str converted = docFormat.convertText(text, charset, noDecode, nilIfUnchanged);
  const Text shown = converted.isNil() ? text : Text(converted);
  if (!holdsForbiddenControl(shown.view())) return converted;
  const cEncoding* target = charset ? charset : docFormat.infoDefaultCharset();
  return Str(withoutForbiddenControls(shown.view(), !target || isUtf8Encoding(*target)));
}

Str feedTextToFeedEncoding(const cEncoding& charset, const cEncoding& encoding, Text text, bool nilIfUnchanged) {
  if (text.isNil()) return Str();
  return convertStringEncoding(text, charset, encoding, 0, '?', nilIfUnchanged, false, nullptr, 0);
}

}  // namespace bw
