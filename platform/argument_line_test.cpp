// platform/argument_line_test.cpp - joining and quoting argv into the line
// the template parser reads, and the kept module copy.
#include "platform/argument_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace bw {
namespace {

Str lineOf(std::vector<const char*> args) {
  args.insert(args.begin(), "brindlework");
  return argumentLineFromArgv(static_cast<int>(args.size()), args.data());
}

TEST(ArgumentLine, JoinsAndQuotes) {
  EXPECT_EQ(lineOf({}), "");
  EXPECT_EQ(lineOf({"UpdateAll"}), "UpdateAll");
  EXPECT_EQ(lineOf({"a", "TO", "b", "ALL"}), "a TO b ALL");
  EXPECT_EQ(lineOf({"TO=b", "a"}), "TO=b a");          // "=" is not quoted
  EXPECT_EQ(lineOf({"two words", "x"}), "\"two words\" x");
  EXPECT_EQ(lineOf({"tab\there"}), "\"tab\there\"");
  EXPECT_EQ(lineOf({"", "x"}), "\"\" x");              // an empty argument stays one
  EXPECT_EQ(lineOf({"say \"hi\" now"}), "\"say hi now\"");  // own quotes dropped
  EXPECT_EQ(lineOf({"a\"b"}), "a\"b");                 // no blank: left as typed
}

TEST(ArgumentLine, DropsOneTrailingLineFeed) {
  EXPECT_EQ(lineOf({"abc\n"}), "abc");
  EXPECT_EQ(lineOf({"\n"}), "");
  EXPECT_EQ(lineOf({"abc\n\n"}), "abc\n");
  EXPECT_EQ(lineOf({"abc"}), "abc");
}

TEST(ArgumentLine, ModuleKeepsTheLine) {
  const char* argv[] = {"brindlework", "UpdateAll", "x y"};
  setProgramArguments(3, argv);
  EXPECT_TRUE(argumentString().isNil());
  initArgumentStringCopy();
  EXPECT_EQ(argumentString(), "UpdateAll \"x y\"");
  endArgumentString();
  EXPECT_TRUE(argumentString().isNil());
}

}  // namespace
}  // namespace bw
