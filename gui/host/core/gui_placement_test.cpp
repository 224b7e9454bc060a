// gui/host/core/gui_placement_test.cpp - windows clamped onto screens and
// dialogs centred on their owners.
#include "gui/host/core/gui_placement.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(GuiPlacement, WindowsAreClampedOntoTheScreenTheyOverlapMost) {
  const std::vector<GuiRect> two = {{0, 0, 1600, 900}, {1600, 0, 1280, 1024}};
  struct Case {
    GuiRect window, want;
  } cases[] = {
      {{100, 50, 800, 600}, {100, 50, 800, 600}},       // on the first screen
      {{1700, 100, 800, 600}, {1700, 100, 800, 600}},   // on the second
      {{2400, 100, 800, 600}, {2080, 100, 800, 600}},   // past the right edge
      {{1400, 100, 800, 600}, {1600, 100, 800, 600}},   // across both: most on the second
      {{-500, -40, 800, 600}, {0, 0, 800, 600}},        // above and left of everything
      {{5000, 5000, 300, 200}, {1300, 700, 300, 200}},  // on no screen: the first
      {{10, 10, 2000, 1200}, {0, 0, 1600, 900}},        // larger than its screen
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.window.x << "," << c.window.y);
    EXPECT_EQ(guiClampToScreens(c.window, two), c.want);
  }
  EXPECT_EQ(guiClampToScreens({9000, 9000, 10, 10}, {}), (GuiRect{9000, 9000, 10, 10}));
}

TEST(GuiPlacement, DialogsOpenCentredOnTheirOwnerAndOnTheScreen) {
  const std::vector<GuiRect> screen = {{0, 0, 1600, 900}};
  EXPECT_EQ(guiCentreOn({100, 100, 1000, 700}, 640, 320, screen), (GuiRect{280, 290, 640, 320}));
  // An owner at the screen's edge: the dialog stays on the screen.
  EXPECT_EQ(guiCentreOn({1400, 700, 400, 300}, 640, 320, screen), (GuiRect{960, 580, 640, 320}));
}

}  // namespace
}  // namespace bw
