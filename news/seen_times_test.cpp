// news/seen_times_test.cpp - the oldest seen time under a fixed clock, the
// "Undo seen" button's state, and the one-step undo across a reopen.
#include "news/seen_times.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "news/news_show_test_support.h"

namespace bw {
namespace {

using testing_news::FakeList;

struct FakeUndoButton : UndoSeenButton {
  void setDisabled(bool disabled) override { state = disabled ? 1 : 0; }
  int state = -1;  // never set
};

class SeenTimesTest : public testing_news::NewsShowTest {
 protected:
  newsFeed* seenFeed(bigTime seen, bool disabled = false, bigTime newest = 0) {
    newsFeed* feed = chainFeed();
    feed->seenUpToTime = seen;
    feed->newestItemTime = newest == 0 ? kNow : newest;
    feed->disabled = disabled;
    db->saveChangesToObject(feed);
    return feed;
  }
  bigTime oldest(GuiListSelection* list = nullptr, bool force = true) {
    root->showLimitTime = 12345;
    updateOldestSeenTime(*root, list, nullptr, force);
    return root->showLimitTime;
  }
};

TEST_F(SeenTimesTest, OldestSeenTimeOfTheFeedsThatCount) {
  const bigTime twoDays = kNow - 172800, year = kNow - 31622400;
  newsFeed* a = seenFeed(kNow - 400 * kDay);
  EXPECT_EQ(oldest(), kNow - 400 * kDay);  // one feed: no 366-day clamp
  seenFeed(kNow - 450 * kDay);
  EXPECT_EQ(oldest(), year);  // two feeds: clamped
  root->firstLoadedFeed = nullptr;
  EXPECT_EQ(oldest(), twoDays);
  seenFeed(kNow - kDay);
  EXPECT_EQ(oldest(), twoDays);  // never later than two days back
  seenFeed(kNow - 9 * kDay, true);
  seenFeed(kDateInvalid);
  seenFeed(kDateUnset);
  seenFeed(kNow - 8 * kDay, false, kNow - 9 * kDay);  // seen beyond its newest item
  EXPECT_EQ(oldest(), twoDays);
  newsFeed* b = seenFeed(kNow - 5 * kDay);
  newsFeed* c = seenFeed(kNow - 20 * kDay);
  EXPECT_EQ(oldest(), kNow - 20 * kDay);
  FakeList list;
  list.add("a", false, std::make_unique<boxPTR>(a)).add("c", false, std::make_unique<boxPTR>(c));
  list.add("b", true, std::make_unique<boxPTR>(b));
  EXPECT_EQ(oldest(&list), kNow - 5 * kDay);  // the selected feeds only
  list.rows[2].selected = false;
  EXPECT_EQ(oldest(&list), kNow - 20 * kDay);  // no selection: every loaded feed

  root->fixedShowPeriod = true;
  EXPECT_EQ(oldest(nullptr, false), 12345);
  EXPECT_EQ(oldest(nullptr, true), kNow - 20 * kDay);
}

TEST_F(SeenTimesTest, UndoSeenTakesOneStepBackAndSurvivesReopen) {
  newsFeed* moved = seenFeed(kNow - kDay);
  newsFeed* still = seenFeed(kNow - 3 * kDay);
  int32_t movedIndex = moved->infoSoupIndex(), stillIndex = still->infoSoupIndex();
  FakeUndoButton button;
  updateOldestSeenTime(*root, nullptr, &button, false);
  EXPECT_EQ(button.state, 1);
  moved->previousSeenUpToTime = kNow - 30 * kDay;
  updateOldestSeenTime(*root, nullptr, &button, false);
  EXPECT_EQ(button.state, 0);
  EXPECT_EQ(root->showLimitTime, kNow - 3 * kDay);

  for (int undo = 0; undo < 2; ++undo) {  // the second undo finds nothing to undo
    undoSeen(nullptr, &button, *db, *root);
    EXPECT_EQ(moved->seenUpToTime, kNow - 30 * kDay);
    EXPECT_EQ(moved->previousSeenUpToTime, kDateUnset);
    EXPECT_EQ(button.state, 1);
    EXPECT_EQ(root->showLimitTime, kNow - 30 * kDay);
  }
  reopenNews();
  for (auto [index, seen] : {std::pair{movedIndex, kNow - 30 * kDay}, std::pair{stillIndex, kNow - 3 * kDay}}) {
    newsFeed* feed = loadObject_newsFeed(*db, index);
    EXPECT_EQ(feed->seenUpToTime, seen);
    db->unloadObject(feed);
  }
}

}  // namespace
}  // namespace bw
