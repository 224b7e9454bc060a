// Tests of the nullable fixed-capacity string and the Text view.
#include "core/str.h"

#include <gtest/gtest.h>

#include "core/exception.h"

namespace bw {
namespace {

TEST(StrTest, NilIsNotEmpty) {
  Str nil;
  Str empty = Str::withCapacity(0);
  EXPECT_TRUE(nil.isNil());
  EXPECT_FALSE(empty.isNil());
  EXPECT_FALSE(nil == empty);
  EXPECT_TRUE(Str(static_cast<const char*>(nullptr)).isNil());
  EXPECT_TRUE(Text(nil).isNil());
  EXPECT_TRUE(Text(nullptr).isNil());
}

TEST(StrTest, CopyHasCapacityAtLeastOne) {
  EXPECT_EQ(Str("").capacity(), 1);
  EXPECT_EQ(Str("abc").capacity(), 3);
}

TEST(StrTest, AssignAndAppendClipAtCapacity) {
  Str s = Str::withCapacity(5, "abcdefg");
  EXPECT_EQ(s, "abcde");
  s.setLength(2);
  s.append("xyz1234");
  EXPECT_EQ(s, "abxyz");
  EXPECT_EQ(s.capacity(), 5);
  s.setLength(99);
  EXPECT_EQ(s.length(), 5);
}

TEST(StrTest, NilRefusesWrites) {
  Str nil;
  try {
    nil.append("x");
    FAIL();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "EPU");
    EXPECT_EQ(e.message(), "Str.append(); string=NIL");
  }
}

TEST(StrTest, NulLengthStopsAtFirstNul) {
  Str s = Str::withCapacity(5, std::string_view("ab\0cd", 5));
  EXPECT_EQ(s.length(), 5);
  EXPECT_EQ(s.nulLength(), 2);
  EXPECT_EQ(Text(s).nulLength(), 2);
  EXPECT_EQ(Text(s).length(), 5);
  EXPECT_EQ(Text("hello").nulLength(), 5);
}

TEST(StrTest, AdoptKeepsCapacityAndClips) {
  Str s = Str::adopt(std::string("abc"), 10);
  EXPECT_EQ(s, "abc");
  EXPECT_EQ(s.capacity(), 10);
  Str clipped = Str::adopt(std::string("abcdef"), 2);
  EXPECT_EQ(clipped, "ab");
  EXPECT_EQ(clipped.capacity(), 2);
}

}  // namespace
}  // namespace bw
