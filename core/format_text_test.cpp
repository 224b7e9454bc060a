// core/format_text_test.cpp - the message formatter: conversions, fields,
// missing and mismatched arguments, literal texts.
#include "core/format_text.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(FormatText, FillsConversionsFromTypedArguments) {
  const FormatArguments none;
  const FormatArguments text = {std::string("feed")};
  const FormatArguments num = {int64_t{-42}};
  const FormatArguments big = {int64_t{0x123456789ab}};
  struct Case {
    const char* format;
    const FormatArguments* arguments;
    const char* formatted;
  } cases[] = {
      {"", &text, ""},
      {"", nullptr, ""},
      {"10%) done %s %ld", nullptr, "10%) done %s %ld"},  // NIL list: literal
      {"a %s b", &text, "a feed b"},
      {"%ld|%5ld|%-5ld|%05ld|%+ld", &num, "-42|    0|0    |00000|+0"},  // later ones missing
      {"%lx %08lx", &big, "123456789ab 00000000"},
      {"[%8s][%-6s][%.2s]", &text, "[    feed][      ][]"},
      {"%s", &num, "-42"},  // a number to %s is printed in decimal
      {"%ld", &text, "feed"},  // a text to %ld as it is
      {"100%% %q %", &text, "100% %q %"},
      {"%s and %s", &text, "feed and "},
      {"%99999999999s|", &text, nullptr},  // width clipped, checked below
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    FormattedText out = formatTextMarked(c.format, c.arguments);
    ASSERT_EQ(out.fromArgument.size(), out.text.size());
    if (c.formatted) {
      EXPECT_EQ(out.text, c.formatted);
    } else {
      EXPECT_EQ(out.text.size(), static_cast<size_t>(kFormatFieldLimit) + 1);
    }
  }
}

TEST(FormatText, MarksTheBytesThatCameFromArguments) {
  const FormatArguments arguments = {std::string("xy"), int64_t{7}};
  FormattedText out = formatTextMarked("a%sb%3ld%%", &arguments);
  EXPECT_EQ(out.text, "axyb  7%");
  EXPECT_EQ(out.fromArgument, (std::vector<bool>{false, true, true, false, true, true, true, false}));
}

}  // namespace
}  // namespace bw
