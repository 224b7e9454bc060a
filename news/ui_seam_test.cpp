// news/ui_seam_test.cpp - the format texts of requesters and reports, the
// progress line's clip, and the installed interface.
#include "news/ui_seam.h"

#include <gtest/gtest.h>

#include "core/raise_test_support.h"
#include "news/ui_seam_test_support.h"

namespace bw {
namespace {

TEST(UiSeam, FillsFormatTexts) {
  struct Case {
    const char* text;
    RequesterParameters parameters;
    const char* filled;
  } cases[] = {
      {"Feed:\n\x1b" "1%s", {std::string("a%sb")}, "Feed:\n\x1b" "1a%sb"},
      {"(%ld/%ld) ", {int64_t{3}, int64_t{12}}, "(3/12) "},
      {"100%% of %s", {std::string("x")}, "100% of x"},
      {"%s and %s", {std::string("one")}, "one and "},
      {"50%", {}, "50%"},
  };
  for (const Case& c : cases) EXPECT_EQ(fillFormatText(c.text, c.parameters), c.filled) << c.text;
  EXPECT_EQ(fillFormatText(doublePercent("10%s %ld"), {}), "10%s %ld");
}

TEST(UiSeam, ScriptsRequestersAndClipsProgress) {
  expectRaise([] { newsUi(); }, "BUG", "newsUi(); no user interface installed");
  testing_news::ScriptedNewsUi ui;
  ui.answers = {1};
  EXPECT_EQ(newsUi().gui_requester("Add feed", "Is %s right?", "Yes|No", {std::string("x")}, 0, 0), 1);
  EXPECT_EQ(newsUi().gui_requester("Add feed", "Again?", "Yes|No", {}, 0, 0), 0);
  ASSERT_EQ(ui.calls.size(), 2u);
  EXPECT_EQ(ui.calls[0].filled(), "Is x right?");
  EXPECT_EQ(ui.calls[1].buttons, "Yes|No");

  testing_news::ScriptedText line;
  feedProgressGui gui;
  gui.progressText = &line;
  setProgressText(&gui, std::string(150, 'p'));
  EXPECT_EQ(line.shown, std::string(kProgressTextCapacity, 'p'));
  setProgressText(nullptr, "nothing");
}

}  // namespace
}  // namespace bw
