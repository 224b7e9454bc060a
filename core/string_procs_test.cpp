// Tests of the string procedures: results, capacities and refusals.
#include "core/string_procs.h"

#include <gtest/gtest.h>

#include <string>

#include "core/exception.h"

namespace bw {
namespace {

void expectRaises(auto&& call, const char* code, const char* message) {
  try {
    call();
    ADD_FAILURE() << "expected " << code << ": " << message;
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), code);
    EXPECT_EQ(e.message(), message);
  }
}

StrChain chainOf(std::initializer_list<const char*> texts) {
  StrChain chain;
  for (const char* t : texts) chain.push_back(Str(t));
  return chain;
}

TEST(WhiteSpaceTest, ExactlyFiveBytes) {
  int count = 0;
  for (int c = 0; c < 256; ++c) count += isWhiteSpace(c);
  EXPECT_EQ(count, 5);
  for (int c : {32, 9, 10, 13, 0xA0}) EXPECT_TRUE(isWhiteSpace(c)) << c;
  EXPECT_FALSE(isWhiteSpace(0x0B));  // vertical tab
  EXPECT_FALSE(isWhiteSpace(0x0C));  // form feed
  EXPECT_TRUE(isWhiteSpace(0x120));  // only the low byte counts
  EXPECT_TRUE(isWhiteSpace(static_cast<char>(0xA0)));
}

TEST(ConcatStringsTest, CapacityIsTheSumOfTheTexts) {
  Str none = concatStrings(nullptr, static_cast<const char*>(nullptr), Str());
  EXPECT_FALSE(none.isNil());
  EXPECT_EQ(none.length(), 0);
  EXPECT_EQ(none.capacity(), 0);
  EXPECT_EQ(concatStrings().capacity(), 0);

  Str abc = concatStrings("a", nullptr, Str("bc"));
  EXPECT_EQ(abc, "abc");
  EXPECT_EQ(abc.capacity(), 3);

  // A Str with spare capacity adds only its text; an embedded NUL ends a text.
  Str roomy = Str::withCapacity(50, std::string_view("xy\0z", 4));
  Str joined = concatStrings(roomy, "-", std::string_view("12\0" "3", 4));
  EXPECT_EQ(joined, "xy-12");
  EXPECT_EQ(joined.capacity(), 5);
}

TEST(ConcatStringsTest, NineteenParts) {
  Str s = concatStrings("a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p", "q", "r",
                        "s");
  EXPECT_EQ(s, "abcdefghijklmnopqrs");
}

TEST(JoinStringsTest, SeparatorsOnlyBetweenStrings) {
  Str s = joinStrings(chainOf({"a", "b", "c"}), ", ");
  EXPECT_EQ(s, "a, b, c");
  EXPECT_EQ(s.capacity(), 7);

  Str empty = joinStrings({}, ", ");
  EXPECT_EQ(empty, "");
  EXPECT_EQ(empty.capacity(), 1);

  EXPECT_EQ(joinStrings(chainOf({"a", "b"}), nullptr), "ab");
  Str one = joinStrings(chainOf({""}), "--");
  EXPECT_EQ(one, "");
  EXPECT_EQ(one.capacity(), 1);
  EXPECT_EQ(joinLines(chainOf({"x", "", "y"})), "x\n\ny");
}

TEST(JoinStringsTest, ChainStringsCountByLengthNotCapacity) {
  StrChain chain;
  chain.push_back(Str::withCapacity(100, "ab"));
  chain.push_back(Str::withCapacity(100, std::string_view("c\0d", 3)));
  Str s = joinStrings(chain, "/");
  EXPECT_EQ(s.view(), std::string_view("ab/c\0d", 6));
  EXPECT_EQ(s.capacity(), 6);
}

TEST(CopyStringTest, Capacities) {
  EXPECT_TRUE(copyString(nullptr).isNil());
  EXPECT_TRUE(copyString(Str()).isNil());
  Str empty = copyString("");
  EXPECT_EQ(empty, "");
  EXPECT_EQ(empty.capacity(), 1);
  Str roomy = Str::withCapacity(30, "abc");
  Str copy = copyString(roomy);
  EXPECT_EQ(copy, "abc");
  EXPECT_EQ(copy.capacity(), 3);

  Str kept = copyStringKeepSize(roomy);
  EXPECT_EQ(kept, "abc");
  EXPECT_EQ(kept.capacity(), 30);
  EXPECT_TRUE(copyStringKeepSize(Str()).isNil());
}

TEST(NewStringFromBufferTest, StopsAtNulKeepsCapacity) {
  const char bytes[] = {'a', 'b', '\0', 'c', 'd'};
  Str s = newStringFromBuffer(bytes, 5, false);
  EXPECT_EQ(s, "ab");
  EXPECT_EQ(s.capacity(), 5);
  EXPECT_TRUE(newStringFromBuffer(bytes, 5, true).isNil());

  Str whole = newStringFromBuffer("hello", 0, false);
  EXPECT_EQ(whole, "hello");
  EXPECT_EQ(whole.capacity(), 6);

  const char noNul[] = {'x', 'y', 'z'};
  Str part = newStringFromBuffer(noNul, 2, false);
  EXPECT_EQ(part, "xy");
  EXPECT_EQ(part.capacity(), 2);

  expectRaises([] { newStringFromBuffer(nullptr, 3, false); }, "EPU", "newStringFromBuffer(); buffer=NIL");
  expectRaises([&] { newStringFromBuffer(bytes, -1, false); }, "EPU", "newStringFromBuffer(); length<0");
}

std::vector<std::string> texts(const SplitResult& r) {
  std::vector<std::string> out;
  for (const Str& s : r.chain) out.push_back(s.str());
  return out;
}

TEST(SplitStringTest, EmptyPiecesAtEveryGap) {
  SplitResult r = splitString("a,,b,", ",");
  EXPECT_EQ(r.count, 4);
  EXPECT_EQ(texts(r), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(r.chain.back(), "");
  EXPECT_EQ(r.chain.back().capacity(), 1);
  EXPECT_EQ(r.chain[1].capacity(), 1);

  SplitResult empty = splitString("", ",");
  EXPECT_EQ(empty.count, 1);
  EXPECT_EQ(texts(empty), (std::vector<std::string>{""}));

  EXPECT_EQ(texts(splitString(",a", ",")), (std::vector<std::string>{"", "a"}));
  EXPECT_EQ(texts(splitString(",", ",")), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(texts(splitString("abc", ",")), (std::vector<std::string>{"abc"}));
}

TEST(SplitStringTest, LongSeparatorsAndLines) {
  SplitResult r = splitString("one<>two<><>three", "<>");
  EXPECT_EQ(texts(r), (std::vector<std::string>{"one", "two", "", "three"}));
  EXPECT_EQ(r.chain[0].capacity(), 3);
  EXPECT_EQ(r.chain[3].capacity(), 5);
  // A separator cut off by the text's end is not a separator.
  EXPECT_EQ(texts(splitString("a<", "<>")), (std::vector<std::string>{"a<"}));
  // Case matters.
  EXPECT_EQ(texts(splitString("aXbxc", "x")), (std::vector<std::string>{"aXb", "c"}));

  SplitResult lines = splitLines("l1\nl2\n");
  EXPECT_EQ(lines.count, 3);
  EXPECT_EQ(texts(lines), (std::vector<std::string>{"l1", "l2", ""}));
}

TEST(SplitStringTest, RefusesWhatCouldNeverAdvance) {
  expectRaises([] { splitString("a,b", ""); }, "EPU", "splitString(); separator is empty");
  // A separator that is empty before its first NUL is empty too.
  expectRaises([] { splitString("a,b", std::string_view("\0,", 2)); }, "EPU", "splitString(); separator is empty");
  expectRaises([] { splitString(nullptr, ","); }, "EPU", "splitString(); text=NIL");
  expectRaises([] { splitString("a", nullptr); }, "EPU", "splitString(); separator=NIL");
}

TEST(SplitStringTest, JoinUndoesSplit) {
  for (const char* text : {"", ",", "a", "a,,b,", ",x,y", "no separators here"}) {
    EXPECT_EQ(joinStrings(splitString(text, ",").chain, ","), text) << text;
  }
}

TEST(TrimWhiteSpaceTest, NewStringOnlyWhenTrimmed) {
  Str trimmed = trimWhiteSpace(Str("  abc \t"));
  EXPECT_EQ(trimmed, "abc");
  EXPECT_EQ(trimmed.capacity(), 3);

  // Nothing to trim: the very same string comes back, buffer and capacity
  // kept (the text is long enough to live outside the object).
  Str source = Str::withCapacity(80, "no white space at either end");
  const char* buffer = source.data();
  Str same = trimWhiteSpace(std::move(source));
  EXPECT_EQ(same.data(), buffer);
  EXPECT_EQ(same.capacity(), 80);
  EXPECT_EQ(same, "no white space at either end");

  Str blank = trimWhiteSpace(Str(" \r\n"));
  EXPECT_EQ(blank, "");
  EXPECT_EQ(blank.capacity(), 1);

  Str empty = trimWhiteSpace(Str::withCapacity(9));
  EXPECT_EQ(empty, "");
  EXPECT_EQ(empty.capacity(), 9);

  Str inner = trimWhiteSpace(Str("\xA0" "a b\xA0"));
  EXPECT_EQ(inner, "a b");
  EXPECT_EQ(trimWhiteSpace(Str("x ")), "x");
  EXPECT_EQ(trimWhiteSpace(Str(" x")), "x");

  expectRaises([] { trimWhiteSpace(Str()); }, "EPU", "trimWhiteSpace(); string=NIL");
}

TEST(TrimInPlaceTest, EndThenStartKeepTheString) {
  Str s = Str::withCapacity(20, "\t x \n");
  trimEnd(s);
  EXPECT_EQ(s, "\t x");
  trimStart(s);
  EXPECT_EQ(s, "x");
  EXPECT_EQ(s.capacity(), 20);

  Str blank = Str(" \t ");
  trimEnd(blank);
  EXPECT_EQ(blank, "");
  Str blank2 = Str(" \t ");
  trimStart(blank2);
  EXPECT_EQ(blank2, "");
  Str empty = Str::withCapacity(0);
  trimEnd(empty);
  trimStart(empty);
  EXPECT_EQ(empty, "");

  Str nil;
  expectRaises([&] { trimEnd(nil); }, "EPU", "trimEnd(); string=NIL");
  expectRaises([&] { trimStart(nil); }, "EPU", "trimStart(); string=NIL");
}

TEST(ShortenTextTest, HalfAtMostAndAtWordBoundary) {
  Str ten("abcdefghij");
  shortenText(ten);
  EXPECT_EQ(ten, "abcde...");

  std::string thousand(1000, 'x');
  thousand[150] = ' ';
  Str longText = Str(thousand);
  shortenText(longText);
  EXPECT_EQ(longText.length(), 151 + 3);
  EXPECT_EQ(longText.view(), thousand.substr(0, 151) + "...");

  // Without white space the cut stays at 200.
  Str noSpace = Str(std::string(1000, 'y'));
  shortenText(noSpace);
  EXPECT_EQ(noSpace.view(), std::string(200, 'y') + "...");

  // White space exactly at the cut stays, one byte past 200.
  std::string spaceAtCut(1000, 'z');
  spaceAtCut[200] = ' ';
  Str atCut = Str(spaceAtCut);
  shortenText(atCut);
  EXPECT_EQ(atCut.view(), spaceAtCut.substr(0, 201) + "...");

  // The appended dots clip at the capacity; short texts still shrink.
  Str four("abcd");
  shortenText(four);
  EXPECT_EQ(four, "a...");
  Str one("a");
  shortenText(one);
  EXPECT_EQ(one, ".");
  Str none;
  shortenText(none);
  EXPECT_TRUE(none.isNil());
}

TEST(PrintableLineTest, ControlBytesShowAsQuestionMarks) {
  struct Case {
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"plain name", "plain name"},
      {"\x1b[31mred\x1b[0m", "?[31mred?[0m"},
      {"a\tb\nc\rd", "a?b?c?d"},
      {std::string("nul\0byte", 8), "nul?byte"},
      {"del\x7f", "del?"},
      {"csi \xc2\x9b" "2J", "csi ?2J"},        // C1 control as UTF-8
      {"caf\xc3\xa9 \xc2\xa0nbsp", "caf\xc3\xa9 \xc2\xa0nbsp"},  // letters and no-break space stay
      {"cut \xc2", "cut \xc2"},                 // a lone lead byte at the end stays
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(printableLine(c.text), c.shown);
  }
}

TEST(ValueAtTest, ReadsOrGivesDefault) {
  ValueAt v = valueAt("size: 42px", 6, -1);
  EXPECT_EQ(v.value, 42);
  EXPECT_EQ(v.position, 8);
  ValueAt spaced = valueAt("size: 42px", 5, -1);
  EXPECT_EQ(spaced.value, 42);
  EXPECT_EQ(spaced.position, 8);

  ValueAt none = valueAt("size: 42px", 0, 77);
  EXPECT_EQ(none.value, 77);
  EXPECT_EQ(none.position, 0);
  ValueAt atEnd = valueAt("12", 2, 5);
  EXPECT_EQ(atEnd.value, 5);
  EXPECT_EQ(atEnd.position, 2);

  EXPECT_EQ(valueAt("\t-17;", 0, 0).value, -17);
  EXPECT_EQ(valueAt("$1fG", 0, 0).value, 31);
  EXPECT_EQ(valueAt("$1fG", 0, 0).position, 3);
  EXPECT_EQ(valueAt("-$10", 0, 0).value, -16);
  EXPECT_EQ(valueAt("%1012", 0, 0).value, 5);
  EXPECT_EQ(valueAt("-x", 0, 9).value, 9);
  EXPECT_EQ(valueAt("-x", 0, 9).position, 0);
  EXPECT_EQ(valueAt("$", 0, 9).value, 9);
  EXPECT_EQ(valueAt("4294967295", 0, 0).value, -1);  // wraps at 32 bits

  expectRaises([] { valueAt("12", 3, 0); }, "EPU", "valueAt(); position out of range");
  expectRaises([] { valueAt("12", -1, 0); }, "EPU", "valueAt(); position out of range");
  expectRaises([] { valueAt(nullptr, 0, 0); }, "EPU", "valueAt(); text=NIL");
}

TEST(FindStringInListTest, WholeNamesIgnoringCase) {
  std::vector<StrChain> table = {chainOf({"UpdateAll", "UA"}), chainOf({"Quiet"})};
  FoundString f = findStringInList("updateall", table);
  EXPECT_TRUE(f.found);
  EXPECT_EQ(f.index, 0);
  EXPECT_EQ(findStringInList("QUIET", table).index, 1);
  FoundString partial = findStringInList("Update", table);
  EXPECT_FALSE(partial.found);
  EXPECT_EQ(partial.index, 2);
}

}  // namespace
}  // namespace bw
