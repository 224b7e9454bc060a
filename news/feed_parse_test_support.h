// news/feed_parse_test_support.h - the fixture of the parser and merge
// tests: a news database with its root, the modules the parsers need, a
// scripted user interface, a clock standing still, and verbs that read a
// document text and parse it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "news/atom_parser.h"
#include "news/html_text.h"
#include "news/news_dump.h"
#include "news/news_test_support.h"
#include "news/rss_parser.h"
#include "news/short_links.h"
#include "news/ui_seam_test_support.h"
#include "platform/clock.h"
#include "web/http.h"
#include "web/xml_reader.h"

namespace bw::testing_news {

// 2026-03-01 12:00:00 UTC, as bigTime.
inline constexpr int64_t kNowUnix = 1772366400;
inline constexpr bigTime kNow = kNowUnix - 946684800;

class FeedParseTest : public NewsTest {
 protected:
  void SetUp() override {
    NewsTest::SetUp();
    setClockSource([] { return ClockReading{kNowUnix, 0, false}; });
    initHTTPModule();
    root = std::make_unique<newsRoot>();
    root->init(db.get());
    // Whole parses make no requests: short links stay as they are.
    ShortLinkHooks offline;
    offline.offline = true;
    setDefaultShortLinkHooks(offline);
  }
  void TearDown() override {
    dropLoaded();
    setDefaultShortLinkHooks({});
    endHTTPModule();
    setClockSource(nullptr);
    NewsTest::TearDown();
  }
  // Gives back the loaded feeds and the root (before the soup closes).
  void dropLoaded() {
    for (newsFeed* f = root ? root->firstLoadedFeed : nullptr; f;) {
      newsFeed* next = f->nextLoadedFeed;
      db->unloadObject(f);
      f = next;
    }
    if (rootStored) db->unloadObject(root.release());
    root.reset();
    rootStored = false;
  }
  // The whole model as tools/newsdump prints it, from the root stored now.
  std::string dumpModel() {
    if (!rootStored) db->setRootValue(db->createdObject(root.get()));
    rootStored = true;
    return dumpNewsModel(*db);
  }

  std::unique_ptr<webDataRoot> read(const std::string& xml) {
    texts.push_back(std::make_unique<std::string>(xml));
    cXML reader;
    EXPECT_TRUE(reader.open(texts.back()->data(), static_cast<int32_t>(texts.back()->size())));
    XmlParseResult r = reader.parseDocument();
    EXPECT_TRUE(r.root) << r.message.view();
    return std::move(r.root);
  }
  FeedParseResult rss(const std::string& xml, newsFeed* update = nullptr, const char* url = "http://example.org/feed") {
    auto doc = read(xml);
    return doc ? parseRssFeed(*db, *doc, *root, nullptr, url, update, nullptr) : FeedParseResult{};
  }
  FeedParseResult atom(const std::string& xml, newsFeed* update = nullptr, const char* url = "http://example.org/atom") {
    auto doc = read(xml);
    return doc ? parseAtomFeed(*db, *doc, *root, nullptr, url, update, nullptr) : FeedParseResult{};
  }
  // The feed's items, head to tail, loaded one at a time.
  struct ItemView {
    std::string uniqueID, title, link, tags, summary, content, author;
    bigTime published, updated;
    int32_t older, newest;
    int32_t index = 0;  // the item's soup index
    bigTime downloaded = 0;
  };
  std::vector<ItemView> items(newsFeed* feed) {
    std::vector<ItemView> out;
    for (int32_t i = feed->itemList->infoHeadIndex(); i != 0;) {
      newsItem* it = item(i, feed);
      newsItemBody* body = loadObject_newsItemBody(*db, it->bodyIndex);
      auto s = [](const Str& t) { return t.isNil() ? std::string("NIL") : t.str(); };
      out.push_back({s(it->uniqueID), s(it->title), s(it->link), s(it->tags), s(body ? body->summary : Str()),
                     s(body ? body->content : Str()), s(body ? body->author : Str()), it->published, it->updated, it->olderDuplicateItemIndex,
                     it->newestDuplicateItemIndex, i, it->downloaded});
      i = it->infoNextIndex();
      db->unloadObject(body);
      db->unloadObject(it);
    }
    return out;
  }

  std::unique_ptr<newsRoot> root;
  bool rootStored = false;  // the soup owns root (one use held)
  ScriptedNewsUi ui;
  std::vector<std::unique_ptr<std::string>> texts;
};

// An RSS 2.0 document: the channel's inner text, the "rss" attributes.
inline std::string rssDocument(const std::string& channel, const std::string& attributes = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"" + attributes + "><channel>" + channel +
         "</channel></rss>";
}

}  // namespace bw::testing_news
