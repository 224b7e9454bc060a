// app/news_item_test_support.h - the fixture of the news item tests: a news
// database (news/feed_parse_test_support.h) with loaded feeds chained from
// the root, and verbs that add items with bodies, link them into chains of
// updates and read back what a gadget shows.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/gui_host_test_support.h"
#include "app/news_item_text.h"
#include "gui/gui_gadgets.h"
#include "gui/host/gui_app_client.h"
#include "news/feed_parse_test_support.h"
#include "platform/app_host.h"

namespace bw::testing_app {

// Text gadgets that let a test read what was shown (the neutral getState
// of a text answers NIL).
struct ShownText : cGuiText {
  ShownText() : cGuiText("") {}
  std::string shown() const { return text_.str(); }
};
struct ShownTextBox : cGuiTextBox {
  ShownTextBox() : cGuiTextBox("") {}
  std::string shown() const { return text_.str(); }
};

// What renderNewsItemText wrote.
struct Rendered {
  std::string summaryTitle, summary, contentsTitle, contents;
  bool noContents;
};

class NewsItemTest : public testing_news::FeedParseTest {
 protected:
  void SetUp() override {
    FeedParseTest::SetUp();
    feed = loadedFeed("RSS 2.0");
  }

  // A stored feed of the type, loaded for the whole test and chained from
  // the root as the application keeps its feeds.
  newsFeed* loadedFeed(const char* type) {
    newsFeed* f = makeFeed(type);
    f->title = Str(type);
    f->nextLoadedFeed = root->firstLoadedFeed;
    root->firstLoadedFeed = f;
    return f;
  }
  // An item of feed at the tail of its list (older than those before it),
  // with a body; NIL texts where nullptr. Not loaded.
  int32_t add(newsFeed* f, const char* title, const char* summary, const char* content, bool seen = false,
              uint8_t format = kFormatPlainText) {
    auto body = std::make_unique<newsItemBody>();
    body->summary = Str(summary);
    body->content = Str(content);
    body->summaryFormat = format;
    body->contentFormat = format;
    int32_t bodyIndex = db->createdAndUnloadObject(body.release());
    auto it = std::make_unique<newsItem>();
    it->title = Str(title);
    it->titleFormat = kFormatPlainText;
    it->feedIndex = f->infoSoupIndex();
    it->bodyIndex = bodyIndex;
    it->seen = seen;
    it->published = testing_news::kNow - 3600 * ++added_;
    int32_t index = db->createdAndUnloadObject(it.release());
    f->itemList->insertAtTail(index);
    return index;
  }
  // Links the items, given newest first, into one chain of updates.
  void chain(newsFeed* f, const std::vector<int32_t>& newestFirst) {
    HeldItem oldest(*db, item(newestFirst.back(), f));
    for (size_t i = newestFirst.size() - 1; i-- > 0;) {
      HeldItem newer(*db, item(newestFirst[i], f));
      oldest->addAsNewestDuplicate(*db, newer.get());
    }
  }
  // Sets an item's older link as it stands on disk (for damaged chains).
  void setOlderLink(newsFeed* f, int32_t index, int32_t older, int32_t newest) {
    HeldItem it(*db, item(index, f));
    it->olderDuplicateItemIndex = older;
    it->newestDuplicateItemIndex = newest;
    db->saveChangesToObject(it.get());
  }

  Rendered render(int32_t index, newsFeed* f = nullptr) {
    HeldItem it(*db, item(index, f ? f : feed));
    newsItemBody* body = loadObject_newsItemBody(*db, it->bodyIndex);
    ShownText summaryTitle, contentsTitle;
    ShownTextBox summaryBox, contentsBox;
    bool none = renderNewsItemText(*db, *it.get(), body, &utf8, &summaryTitle, &summaryBox, &contentsTitle, &contentsBox);
    db->unloadObject(body);
    return {summaryTitle.shown(), summaryBox.shown(), contentsTitle.shown(), contentsBox.shown(), none};
  }

  newsFeed* feed = nullptr;

 private:
  bigTime added_ = 0;
};

// The same with the application built on the Qt host (offscreen), its
// settings in a scratch folder.
class NewsItemGuiTest : public NewsItemTest {
 protected:
  void SetUp() override {
    NewsItemTest::SetUp();
    host_ = std::make_unique<GuiHostUp>("bw-news-item");
  }
  void TearDown() override {
    host_.reset();
    NewsItemTest::TearDown();
  }
  static int windowCount() { return GuiHostUp::windowCount(); }

 private:
  std::unique_ptr<GuiHostUp> host_;
};

}  // namespace bw::testing_app
