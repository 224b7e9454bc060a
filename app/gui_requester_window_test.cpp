// app/gui_requester_window_test.cpp - the text a requester window shows:
// arguments filled in without ever styling it or showing a mark.
#include "app/gui_requester_window.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(RequesterWindowText, ArgumentsNeverShowMarksOrControls) {
  struct Case {
    const char* text;
    FormatArguments arguments;
    const char* shown;
  } cases[] = {
      {"Failed:\n\x1b" "1%s", {std::string("http://example.org/")}, "Failed:\n\x1b" "1http://example.org/"},
      // A mark handed in an argument (a feed's line of "Update feeds") goes
      // whole, not as "?1".
      {"for the feed: %s", {std::string("\x1b" "1(7/12) Turns bad later")}, "for the feed: (7/12) Turns bad later"},
      {"%s%s", {std::string("a\x1b"), std::string("1b")}, "ab"},
      {"%s", {std::string("Feed\x1b[2J\x07 \x7f")}, "Feed?[2J? ?"},
      {"%s", {std::string("two\nlines\ttab")}, "two\nlines\ttab"},
      {"%ld of %s", {int64_t{3}, std::string("x")}, "3 of x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(requesterWindowText(c.text, &c.arguments), c.shown);
  }
  EXPECT_EQ(requesterWindowText("as \x1b" "1it stands", nullptr), "as \x1b" "1it stands");
}

}  // namespace
}  // namespace bw
