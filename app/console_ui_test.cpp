// app/console_ui_test.cpp - what reports and requesters print on the
// console, and that nothing from outside reaches the terminal as a control.
#include "app/console_ui.h"

#include <gtest/gtest.h>

#include "core/raise_test_support.h"

namespace bw {
namespace {

std::string printed(const std::function<void()>& call) {
  testing::internal::CaptureStdout();
  call();
  return testing::internal::GetCapturedStdout();
}

TEST(ConsoleUi, ReportsStandBetweenBlankLines) {
  const FormatArguments contact = {std::string("bugs@example.org")};
  const FormatArguments feed = {std::string("Feed\x1b[2J\x07"), std::string("for the feed:\n\x1b" "1"),
                                std::string("News\x7f"), std::string("\tx\n")};
  struct Case {
    const char* text;
    const FormatArguments* arguments;
    const char* shown;
  } cases[] = {
      {"One line.", nullptr, "One line.\n\n"},
      {"10%) done", nullptr, "10%) done\n\n"},
      {"", nullptr, "\n\n"},
      {"Database was repaired.\nPlease report this problem to:\n\x1b" "1%s", &contact,
       "\nDatabase was repaired.\nPlease report this problem to:\nbugs@example.org\n\n\n"},
      // The parse error of a feed in shell mode: the escape inside an
      // argument goes, other controls from arguments become "?", the format
      // text's own line breaks and tabs stay.
      {"Error %s:\n\x1b" "1%s%s%s", &feed,
       "Error Feed?[2J?:\nfor the feed:\nNews?\tx\n\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(printed([&] { report("Brindlework", c.text, c.arguments); }), c.shown);
  }
  EXPECT_EQ(printed([] { printGuiMessage("a\x1b" "1b", nullptr, "> ", "<"); }), "> ab\n<");
}

TEST(ConsoleUi, RequestersAnswerAsIfClosed) {
  struct Case {
    const char* buttons;
    int32_t result;
  } cases[] = {{"OK", 1}, {"Yes|No", 0}, {"Yes|No|Cancel", 0}, {"1|2|3|Cancel", 0}};
  for (const Case& c : cases) {
    std::string out = printed([&] { EXPECT_EQ(gui_requester("t", "Sure?", c.buttons, nullptr, 0, 0), c.result); });
    EXPECT_EQ(out, "Sure?\n\n") << c.buttons;
  }
  expectRaise([] { gui_requester("t", "x", "OK", nullptr, 300, 0); }, "EPU",
              "gui_requester(); wrapWidth given without wrapHeight");
  ConsoleNewsUi ui;
  EXPECT_EQ(printed([&] { ui.report("t", "%s%%", {std::string("50")}); }), "50%\n\n");
  EXPECT_EQ(ui.waitForChangedGuiItem().window, nullptr);
}

}  // namespace
}  // namespace bw
