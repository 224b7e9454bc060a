// news/news_show_test_support.h - the fixture of the tag, filter, show and
// seen-time tests: the news fixture with a root, a chain of loaded feeds, a
// clock standing still, and a GUI list double for the feed list and the tag
// chooser.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/box.h"
#include "core/gui_list_selection.h"
#include "news/news_test_support.h"

namespace bw::testing_news {

// A list gadget's selection: rows of (label, data box, selected).
class FakeList : public GuiListSelection {
 public:
  struct Row {
    std::string label;
    std::unique_ptr<box> data;
    bool selected;
  };
  FakeList& add(std::string label, bool selected, std::unique_ptr<box> data = nullptr) {
    rows.push_back({std::move(label), std::move(data), selected});
    return *this;
  }
  bool cursor_gotoFirstSelected() override {
    cursor_ = -1;
    return seek();
  }
  bool cursor_gotoNextSelected() override { return seek(); }
  void cursor_setState(bool state) override { row().selected = state; }
  box* cursor_getDataBox() override { return row().data.get(); }
  Str cursor_getLabel() override { return Str(row().label); }

  std::vector<Row> rows;

 private:
  Row& row() { return rows.at(static_cast<size_t>(cursor_)); }
  bool seek() {
    while (++cursor_ < static_cast<int>(rows.size())) {
      if (rows[static_cast<size_t>(cursor_)].selected) return true;
    }
    return false;
  }
  int cursor_ = -1;
};

class NewsShowTest : public NewsTest {
 protected:
  // 2026-03-01 12:00:00 local, no zone offset.
  static constexpr bigTime kNow = 825681600;
  static constexpr bigTime kDay = 86400;

  void SetUp() override {
    now = kNow;  // the journal fixture's clock, local time with no zone offset
    NewsTest::SetUp();
    root = std::make_unique<newsRoot>();
    root->init(db.get());
  }
  void TearDown() override {
    root.reset();
    NewsTest::TearDown();
  }

  // reopen(), forgetting the loaded feeds and feed list the root points to
  // (closing the soup frees them).
  void reopenNews() {
    root->firstLoadedFeed = nullptr;
    root->feedList = nullptr;
    reopen();
  }
  // A stored feed, loaded and appended to the root's chain of loaded feeds.
  newsFeed* chainFeed(const char* type = "RSS 2.0") {
    newsFeed* feed = makeFeed(type);
    newsFeed** link = &root->firstLoadedFeed;
    while (*link) link = &(*link)->nextLoadedFeed;
    *link = feed;
    return feed;
  }
  // An item of feed with its dates, at the tail of the feed's list.
  int32_t addDated(newsFeed* feed, const char* title, bigTime published, bigTime updated = kDateUnset) {
    int32_t index = addItem(feed, title);
    newsItem* loaded = item(index, feed);
    loaded->published = published;
    loaded->updated = updated;
    loaded->downloaded = kDateUnset;
    db->saveChangesToObject(loaded);
    db->unloadObject(loaded);
    return index;
  }

  std::unique_ptr<newsRoot> root;
};

}  // namespace bw::testing_news
