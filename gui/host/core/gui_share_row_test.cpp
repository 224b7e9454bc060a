// gui/host/core/gui_share_row_test.cpp - a row's widths from its room and
// the items' asks: a table of cases and a property over many rows.
#include "gui/host/core/gui_share_row.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <random>

namespace bw {
namespace {

TEST(GuiShareRow, WidthsFollowTheRoomAndTheAsks) {
  struct Case {
    const char* what;
    std::vector<int> least, ask;
    std::vector<bool> grows;
    int room;
    std::vector<int> want;
  } cases[] = {
      {"growing: one level", {100, 100}, {1000, 700}, {true, true}, 1250, {625, 625}},
      {"growing: one level beyond the asks too", {100, 100}, {1000, 700}, {true, true}, 1900, {950, 950}},
      {"growing: never below the least", {500, 100}, {1000, 700}, {true, true}, 800, {500, 300}},
      {"below every least", {500, 400}, {1000, 700}, {true, true}, 600, {500, 400}},
      {"a whole one keeps its ask, the growing one the rest", {50, 100}, {150, 750}, {false, true}, 1200, {150, 1050}},
      {"a whole one gives way to the level", {50, 100}, {150, 750}, {false, true}, 200, {100, 100}},
      {"none grows, short: the smaller ask kept", {100, 100}, {1000, 300}, {false, false}, 1000, {700, 300}},
      {"none grows, beyond the asks: levelled up", {50, 100}, {150, 750}, {false, false}, 1200, {450, 750}},
      {"none grows, beyond the asks: equal", {100, 100}, {1000, 700}, {false, false}, 2400, {1200, 1200}},
      {"the rounding to the last at the level", {0, 0, 0}, {10, 10, 10}, {true, true, true}, 100, {33, 33, 34}},
      {"nothing", {}, {}, {}, 500, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(guiShareRowWidths(c.least, c.ask, c.grows, c.room), c.want);
  }
}

// Over random rows: the rules of the header, whatever came before.
TEST(GuiShareRow, EveryRowKeepsItsRules) {
  std::mt19937 random(65);
  for (int round = 0; round < 20000; ++round) {
    const size_t n = 1 + random() % 4;
    std::vector<int> least(n), ask(n);
    std::vector<bool> grows(n);
    for (size_t i = 0; i < n; ++i) {
      least[i] = static_cast<int>(random() % 300);
      ask[i] = least[i] + static_cast<int>(random() % 900);
      grows[i] = random() % 2;
    }
    const int room = static_cast<int>(random() % 3000);
    const std::vector<int> widths = guiShareRowWidths(least, ask, grows, room);
    ASSERT_EQ(widths.size(), n);
    const int leastSum = std::accumulate(least.begin(), least.end(), 0);
    const int askSum = std::accumulate(ask.begin(), ask.end(), 0);
    const int sum = std::accumulate(widths.begin(), widths.end(), 0);
    const bool anyGrows = std::find(grows.begin(), grows.end(), true) != grows.end();
    for (size_t i = 0; i < n; ++i) {
      EXPECT_GE(widths[i], least[i]);
      if (anyGrows ? !grows[i] : askSum >= room) {
        EXPECT_LE(widths[i], std::max(least[i], ask[i]));
      } else if (!anyGrows) {
        EXPECT_GE(widths[i], ask[i]);
      }
    }
    // The items that grow stand at one level, but for those held at their
    // least above it (and the rounding).
    int low = room, high = 0;
    for (size_t i = 0; anyGrows && i < n; ++i)
      if (grows[i] && widths[i] > least[i]) low = std::min(low, widths[i]), high = std::max(high, widths[i]);
    if (high > 0) {
      EXPECT_LE(high - low, static_cast<int>(n)) << "round " << round;
    }
    if (room >= leastSum) {
      EXPECT_EQ(sum, room) << "round " << round;
    }
    EXPECT_EQ(widths, guiShareRowWidths(least, ask, grows, room));
  }
}

}  // namespace
}  // namespace bw
