// app/news_item_delete_test.cpp - deleting a news item, or its whole chain
// of updates, through the two questions; the soup is checked when each test
// closes it.
#include "app/news_item_delete.h"

#include "app/news_item_test_support.h"

namespace bw {
namespace {

class DeleteNewsItemTest : public testing_app::NewsItemTest {
 protected:
  void SetUp() override {
    NewsItemTest::SetUp();
    list.initMultiSelect(false, false);
  }
  // The news list: one row per item, the row of selected selected.
  void showRows(const std::vector<int32_t>& items, int32_t selected) {
    for (int32_t index : items) list.addEntry(Str("row"), 0, false, index, nullptr);
    list.cursor_gotoStart();
    while (list.cursor_getData() != selected) list.cursor_gotoNext(1);
    list.cursor_setState(true);
  }
  // Deletes with the user's answers; the selected row's item is selected,
  // the chain's newest update (and its body) shown.
  DeleteNewsItemResult remove(int32_t selected, int32_t shown, std::initializer_list<int32_t> answers) {
    ui.answers.assign(answers);
    newsItem* s = item(selected, feed);
    newsItem* n = item(shown, feed);
    newsItemBody* body = loadObject_newsItemBody(*db, n->bodyIndex);
    EXPECT_TRUE(list.cursor_gotoFirstSelected());
    DeleteNewsItemResult result = deleteNewsItem(*db, list, s, n, body, &utf8);
    if (result.code == kNewsItemKept) {
      db->unloadObject(body);
      db->unloadObject(n);
      db->unloadObject(s);
    }
    EXPECT_FALSE(result.quit);
    return result;
  }
  // Whether the item and its body are still stored.
  bool stored(int32_t index) {
    HeldItem it(*db, loadObject_newsItem(*db, index));
    if (!it) return false;
    newsItemBody* body = loadObject_newsItemBody(*db, it->bodyIndex);
    db->unloadObject(body);
    EXPECT_NE(body, nullptr) << index;
    return true;
  }

  cGuiWindow window;
  cGuiList list{&window, 4, ""};
};

TEST_F(DeleteNewsItemTest, AnItemInNoChain) {
  int32_t other = add(feed, "Other", nullptr, "o");
  int32_t lone = add(feed, "Lone & <b>bold</b>", nullptr, "x");
  showRows({other, lone}, lone);
  EXPECT_EQ(remove(lone, lone, {0}).code, kNewsItemKept);  // "No", or the requester closed
  EXPECT_TRUE(stored(lone));
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].title, "Delete news item");
  EXPECT_EQ(ui.calls[0].filled(), "Do you really want to delete this news item:\n\x1b" "1Lone & <b>bold</b>");
  EXPECT_EQ(ui.calls[0].buttons, "Yes|No");

  EXPECT_EQ(remove(lone, lone, {1}).code, kNewsItemRowRemoved);
  EXPECT_EQ(ui.calls.size(), 2u);  // one question only
  EXPECT_FALSE(stored(lone));
  EXPECT_TRUE(stored(other));
  EXPECT_EQ(list.infoCount(), 1);
  EXPECT_EQ(feed->itemList->infoHeadIndex(), other);
}

TEST_F(DeleteNewsItemTest, AChainOfThreeWhollyOrOnlyItsNewest) {
  int32_t newest = add(feed, "T", nullptr, "3");
  int32_t middle = add(feed, "T", nullptr, "2");
  int32_t oldest = add(feed, "T", nullptr, "1");
  chain(feed, {newest, middle, oldest});
  showRows({oldest}, oldest);
  EXPECT_EQ(remove(oldest, newest, {1, 0}).code, kNewsItemListStale);
  EXPECT_EQ(ui.calls.back().filled(), "This news item has duplicates.\nDo you want to delete those as well?");
  EXPECT_FALSE(stored(newest));
  EXPECT_EQ(list.infoSelectionCount(), 0);
  EXPECT_EQ(list.infoCount(), 1);
  {
    HeldItem o(*db, item(oldest, feed));
    EXPECT_EQ(o->newestDuplicateItemIndex, middle);  // the rest is listed again on a refill
  }
  int32_t newer = add(feed, "T", nullptr, "4");
  {
    HeldItem o(*db, item(oldest, feed)), n(*db, item(newer, feed));
    o->addAsNewestDuplicate(*db, n.get());
  }
  list.cursor_setState(true);
  EXPECT_EQ(remove(oldest, newer, {1, 1}).code, kNewsItemRowRemoved);
  for (int32_t index : {newer, middle, oldest}) EXPECT_FALSE(stored(index)) << index;
  EXPECT_EQ(list.infoCount(), 0);
  EXPECT_EQ(feed->itemList->infoHeadIndex(), 0);
}

TEST_F(DeleteNewsItemTest, AChainThatLoopsBackIsDeletedAsFarAsItReaches) {
  int32_t a = add(feed, "T", nullptr, "a");
  int32_t b = add(feed, "T", nullptr, "b");
  int32_t c = add(feed, "T", nullptr, "c");
  setOlderLink(feed, a, b, 0);
  setOlderLink(feed, b, c, 0);
  setOlderLink(feed, c, b, a);  // back to b
  showRows({c}, c);
  EXPECT_EQ(remove(c, a, {1, 1}).code, kNewsItemRowRemoved);
  for (int32_t index : {a, b, c}) EXPECT_FALSE(stored(index)) << index;
}

}  // namespace
}  // namespace bw
