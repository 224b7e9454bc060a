// Tests of the shell template parser: values, keyword lookup, the printed
// error reports byte for byte, and the "?" console question.
#include "platform/shell_template.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/raise_test_support.h"
#include "core/string_procs.h"
#include "platform/argument_line.h"

namespace bw {
namespace {

using pShellParameters::GetParam;

const std::string kOpen = "\x1b[32;43m";
const std::string kClose = "\x1b[31;40m\x1b[0m";

// Captures what the parser prints and feeds it a console input.
class Console {
 public:
  explicit Console(std::string input = "") : input_(std::move(input)) {
    out_ = open_memstream(&buf_, &size_);
    in_ = input_.empty() ? std::fopen("/dev/null", "r") : fmemopen(input_.data(), input_.size(), "r");
    setShellConsole(out_, in_);
  }
  ~Console() {
    setShellConsole(nullptr, nullptr);
    std::fclose(out_);
    std::fclose(in_);
    std::free(buf_);
  }
  std::string text() {
    std::fflush(out_);
    return std::string(buf_, size_);
  }

 private:
  std::string input_;
  char* buf_ = nullptr;
  size_t size_ = 0;
  std::FILE* out_;
  std::FILE* in_;
};

std::string param(int32_t i) {
  const Str& v = GetParam(i);
  return v.isNil() ? "<NIL>" : v.str();
}

// Parses quietly-off and returns what was printed; ok receives the result.
std::string parse(const char* tmpl, const char* args, bool* ok = nullptr, const char* input = "") {
  Console console(input);
  bool result = parseShellTemplate(tmpl, args, false);
  if (ok) *ok = result;
  return console.text();
}

// The error line as a file or a pipe gets it: no colour marks.
std::string marked(const std::string& before, const std::string& token, const std::string& after) {
  return before + token + after + "\n";
}

// On a terminal the offending token is marked in colour.
TEST(ShellTemplateTest, ColourMarksOnlyOnATerminal) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  std::FILE* tty = std::fopen(::ptsname(master), "w");
  ASSERT_NE(tty, nullptr);
  termios raw{};
  ::tcgetattr(::fileno(tty), &raw);
  ::cfmakeraw(&raw);  // the bytes as written, no "\r" added
  ::tcsetattr(::fileno(tty), TCSANOW, &raw);
  setShellConsole(tty, nullptr);
  EXPECT_FALSE(parseShellTemplate("x/s", "", false));
  setShellConsole(nullptr, nullptr);
  std::fclose(tty);
  std::string shown;
  char buf[256];
  for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) {
    shown.append(buf, static_cast<size_t>(n));
  }
  ::close(master);
  EXPECT_EQ(shown, "Shell template error, unknown parameter type:\nx/" + kOpen + "s" + kClose + "\n");
}

TEST(ShellTemplateTest, KeywordsPositionsAndSwitches) {
  bool ok = false;
  EXPECT_EQ(parse("FROM/A,TO/K,ALL/S", "a TO b ALL", &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(0), "a");
  EXPECT_EQ(param(1), "b");
  EXPECT_EQ(param(2), "ALL");
  EXPECT_EQ(pShellParameters::infoShellParamCount(), 3);

  EXPECT_EQ(parse("FROM/A,TO/K,ALL/S", "TO=b a", &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(0), "a");
  EXPECT_EQ(param(1), "b");
  EXPECT_EQ(param(2), "<NIL>");

  EXPECT_EQ(parse("FROM/A,TO/K,ALL/S", "to b a all", &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(1), "b");
  EXPECT_EQ(param(2), "all");  // the keyword as typed

  EXPECT_EQ(parse("FROM/A,TO/K", "TO = b a", &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(1), "b");
}

TEST(ShellTemplateTest, MissingRequiredParameterIsOneLine) {
  bool ok = true;
  EXPECT_EQ(parse("FROM/A,TO/K", "TO b", &ok),
            "Shell parameter error, missing required parameter \"FROM\"\n");
  EXPECT_FALSE(ok);
  EXPECT_EQ(param(1), "b");  // values read before the error stay
}

TEST(ShellTemplateTest, QuotedValues) {
  bool ok = false;
  EXPECT_EQ(parse("FROM/A,TO/K", "\"a  b\" TO \"TO\"", &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(0), "a  b");
  EXPECT_EQ(param(1), "TO");
  // A quoted keyword is a value, never a keyword.
  EXPECT_EQ(parse("FROM,TO/K", "\"TO\"", &ok), "");
  EXPECT_EQ(param(0), "TO");
  EXPECT_EQ(parse("FROM/A", "a \"bc", &ok),
            "Shell parameter error, string is missing closing quote:\n" + marked("a \"", "bc", ""));
  EXPECT_FALSE(ok);
}

TEST(ShellTemplateTest, RestOfLineParameter) {
  bool ok = false;
  parse("TEXT/F", "x y  z", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(0), "x y  z");
  parse("TEXT/F", "\"x y\" z", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(0), "\"x y\" z");
  parse("NAME,TEXT/K/F", "n TEXT=a TEXT b", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(0), "n");
  EXPECT_EQ(param(1), "a TEXT b");
}

TEST(ShellTemplateTest, RepeatedKeywordCountsAsPositionalValue) {
  bool ok = true;
  EXPECT_EQ(parse("FROM/A,TO/K", "a TO b TO c", &ok),
            "Shell parameter error, does not match template:\n" + marked("a TO b ", "TO", " c"));
  EXPECT_FALSE(ok);
  EXPECT_EQ(param(0), "a");
  EXPECT_EQ(param(1), "b");
  // With a positional parameter left, the second TO fills it.
  parse("FROM,TO/K,REST", "a TO b TO", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(2), "TO");
}

TEST(ShellTemplateTest, AliasesAndTheKeywordTable) {
  bool ok = false;
  parse("a=b=c/K,d", "B x y", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(0), "x");
  EXPECT_EQ(param(1), "y");
  const auto& table = pShellParameters::keywordTable();
  ASSERT_EQ(table.size(), 2u);
  // Aliases are linked directly behind the first name.
  EXPECT_THAT(table[0], ::testing::ElementsAre(Str("a"), Str("c"), Str("b")));
  FoundString found = findStringInList("C", table);
  EXPECT_TRUE(found.found);
  EXPECT_EQ(found.index, 0);
  found = findStringInList("D", table);
  EXPECT_TRUE(found.found);
  EXPECT_EQ(found.index, 1);
  found = findStringInList("e", table);
  EXPECT_FALSE(found.found);
  EXPECT_EQ(found.index, 2);  // the number of items
  EXPECT_EQ(parse("a=b,B", "", &ok),
            "Shell template error, parameter name already used:\n" + marked("a=b,", "B", ""));
  EXPECT_FALSE(ok);
}

TEST(ShellTemplateTest, TemplateErrors) {
  bool ok = true;
  EXPECT_EQ(parse("x/SA", "", &ok),
            "Shell template error, unknown parameter type:\n" + marked("x/", "SA", ""));
  EXPECT_FALSE(ok);
  EXPECT_EQ(
      parse("x/S/A", "", &ok),
      "Shell template error, parameter type conflicts with a previous type:\n" + marked("x/S/", "A", ""));
  EXPECT_EQ(
      parse("x/A/S", "", &ok),
      "Shell template error, parameter type conflicts with a previous type:\n" + marked("x/A/", "S", ""));
  EXPECT_EQ(parse("x/s", "", &ok), "Shell template error, unknown parameter type:\n" + marked("x/", "s", ""));
  EXPECT_EQ(parse("a,", "", &ok),
            "Shell template error, expected word for parameter name:\n" + marked("a,", " ", ""));
  EXPECT_EQ(parse("", "", &ok),
            "Shell template error, expected word for parameter name:\n" + marked("", " ", ""));
  EXPECT_EQ(parse("a.b", "", &ok), "Shell template error, unexpected character:\n" + marked("a", ".", "b"));
  EXPECT_EQ(parse("a/,b", "", &ok),
            "Shell template error, expected letter for parameter type:\n" + marked("a/", ",", "b"));
  EXPECT_EQ(parse("a b", "", &ok),
            "Shell template error, expected \",\" or end of line:\n" + marked("a ", "b", ""));
  EXPECT_EQ(parse("\"ab", "", &ok),
            "Shell template error, string is missing closing quote:\n" + marked("\"", "ab", ""));
  EXPECT_FALSE(ok);
  // Repeating a letter is allowed.
  parse("x/A/A", "v", &ok);
  EXPECT_TRUE(ok);
}

TEST(ShellTemplateTest, ParameterErrors) {
  bool ok = true;
  EXPECT_EQ(parse("FROM/A,TO/K", "a TO", &ok),
            "Shell parameter error, expected value after keyword:\n" + marked("a TO", " ", ""));
  EXPECT_FALSE(ok);
  EXPECT_EQ(parse("FROM/A,TO/K", "a TO = = b", &ok),
            "Shell parameter error, illegal character:\n" + marked("a TO = ", "=", " b"));
  EXPECT_EQ(parse("FROM", "=", &ok), "Shell parameter error, illegal character:\n" + marked("", "=", ""));
  EXPECT_EQ(parse("N/N", "five", &ok), "Shell parameter error, expected number:\n" + marked("", "five", ""));
  EXPECT_EQ(parse("UpdateAll/S", "UpdateAll x", &ok),
            "Shell parameter error, does not match template:\n" + marked("UpdateAll ", "x", ""));
  EXPECT_FALSE(ok);
}

// A quoted token is marked between its own quotes, not shifted by them.
TEST(ShellTemplateTest, QuotedTokenIsMarkedBetweenItsQuotes) {
  bool ok = true;
  EXPECT_EQ(parse("N/N", "\"5\"", &ok),
            "Shell parameter error, expected number:\n" + marked("\"", "5", "\""));
  EXPECT_FALSE(ok);
  EXPECT_EQ(parse("A", "x \"y z\" w", &ok),
            "Shell parameter error, does not match template:\n" + marked("x \"", "y z", "\" w"));
  EXPECT_EQ(parse("N/N/F", "\"y z\" w", &ok),
            "Shell parameter error, expected number:\n" + marked("", "\"y z\" w", ""));
}

TEST(ShellTemplateTest, NumberParametersKeepTheirText) {
  bool ok = false;
  for (const char* n : {"12", "-5", "+7", "12ab"}) {
    parse("N/N", n, &ok);
    EXPECT_TRUE(ok) << n;
    EXPECT_EQ(param(0), n);
  }
  for (const char* n : {"-", "+x", "-5a", "x5"}) {
    parse("N/N", n, &ok);
    EXPECT_FALSE(ok) << n;
  }
}

TEST(ShellTemplateTest, QuietModePrintsNothingButKeepsValues) {
  Console console;
  EXPECT_FALSE(parseShellTemplate("FROM/A,TO/K", "a TO", true));
  EXPECT_FALSE(parseShellTemplate("x/SA", "", true));
  EXPECT_FALSE(parseShellTemplate("FROM/A,TO/K", "TO b", true));
  EXPECT_EQ(console.text(), "");
  EXPECT_EQ(param(1), "b");
}

TEST(ShellTemplateTest, GetParamOutsideTheParametersRaises) {
  bool ok = false;
  parse("a,,b", "x", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(pShellParameters::infoShellParamCount(), 3);  // counted over the raw commas
  EXPECT_EQ(param(2), "<NIL>");
  for (int32_t i : {-1, 3})
    expectRaise([&] { GetParam(i); }, "EPU", "std/pShellParameters; GetParam(); index is out of range");
  endShellParameters();
  EXPECT_EQ(pShellParameters::infoShellParamCount(), 0);
}

TEST(ShellTemplateTest, QuestionMarkAsksTheConsole) {
  bool ok = false;
  EXPECT_EQ(parse("X/A,Y", "?", &ok, "a b\n"), "X/A,Y: ");
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(0), "a");
  EXPECT_EQ(param(1), "b");

  EXPECT_EQ(parse("X/A,Y", "a ? ", &ok, "b\r\n"), "X/A,Y: ");
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(1), "b");

  EXPECT_EQ(parse("X/A,Y", "?", &ok, ""), "X/A,Y: Shell parameter error, missing required parameter \"X\"\n");
  EXPECT_FALSE(ok);

  // A "?" that is part of a word is a value.
  EXPECT_EQ(parse("X/A,Y", "a?", &ok, "zz\n"), "");
  EXPECT_EQ(param(0), "a?");
}

// The last console line may lack its line feed: no character is lost.
TEST(ShellTemplateTest, AnswerWithoutLineFeedKeepsItsLastCharacter) {
  bool ok = false;
  parse("X/A,Y", "?", &ok, "a b");
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(1), "b");
}

TEST(ShellTemplateTest, TheProgramsOwnTemplate) {
  bool ok = false;
  for (const char* line : {"", "UpdateAll", "updateall"}) {
    EXPECT_EQ(parse("UpdateAll/S", line, &ok), "") << line;
    EXPECT_TRUE(ok);
    EXPECT_EQ(param(0), *line ? line : "<NIL>");
  }
  parse("UpdateAll/S", "UpdateAll x", &ok);
  EXPECT_FALSE(ok);
}

TEST(ShellTemplateTest, NilArgumentsReadTheProgramsArgumentLine) {
  const char* argv[] = {"brindlework", "UpdateAll"};
  setProgramArguments(2, argv);
  initArgumentString();
  bool ok = false;
  parse("UpdateAll/S", nullptr, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(0), "UpdateAll");
  endArgumentString();
  parse("UpdateAll/S", nullptr, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(param(0), "<NIL>");
}

TEST(ShellTemplateTest, ReportsGoToStandardOutput) {
  testing::internal::CaptureStdout();
  bool ok = parseShellTemplate("UpdateAll/S", "x", false);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(ok);
  EXPECT_EQ(printed, "Shell parameter error, does not match template:\n" + marked("", "x", ""));
}

TEST(ShellTemplateTest, CharacterClasses) {
  using namespace pShellParameters;
  EXPECT_EQ(tokenCharClass('5', 0, false), TOKEN_NUMBER);
  EXPECT_EQ(tokenCharClass('5', TOKEN_WORD, false), TOKEN_WORD);
  EXPECT_EQ(tokenCharClass('/', 0, true), TOKEN_SLASH);
  EXPECT_EQ(tokenCharClass('/', 0, false), TOKEN_WORD);
  EXPECT_EQ(tokenCharClass(',', 0, true), TOKEN_COMMA);
  EXPECT_EQ(tokenCharClass('{', 0, true), TOKEN_INVALID);
  EXPECT_EQ(tokenCharClass(200, 0, false), TOKEN_WORD);
  EXPECT_EQ(tokenCharClass('\t', 0, true), TOKEN_SPACE);
  EXPECT_EQ(tokenCharClass(0, 0, false), TOKEN_END);
}

}  // namespace
}  // namespace bw
