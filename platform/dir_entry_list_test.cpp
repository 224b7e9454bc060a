// Tests of the directory entry list: order, kinds, lookup, removal, sorting
// and unique names.
#include "platform/dir_entry_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/raise_test_support.h"

namespace bw {
namespace {

std::vector<std::string> names(const cDirEntryList& list) {
  std::vector<std::string> out;
  for (const Str& e : list.entries()) out.emplace_back(e.view());
  return out;
}

cDirEntryList listOf(std::initializer_list<const char*> entries) {
  cDirEntryList list;
  for (const char* e : entries) list.add(e, false);
  return list;
}

TEST(DirEntryList, OrderFoldsLettersAndPutsPrefixesFirst) {
  cDirEntryList list = listOf({"abcd", "abc/", "_x", "abc", "B", "Zed", "a"});
  EXPECT_EQ(names(list), (std::vector<std::string>{"a", "abc", "abc/", "abcd", "B", "Zed", "_x"}));
  EXPECT_LT(compareEntryNames("A", "a"), 0);
  EXPECT_EQ(compareEntryNames("same", "same"), 0);
}

TEST(DirEntryList, WalksByKind) {
  cDirEntryList dirs = listOf({"a/", "b/"});
  EXPECT_FALSE(dirs.gotoFirst(1));
  EXPECT_EQ(dirs.infoName().view(), "");
  ASSERT_TRUE(dirs.gotoFirst(2));
  EXPECT_EQ(dirs.infoName().view(), "a/");

  cDirEntryList mixed = listOf({"a", "b/", "c", "", "d/"});
  std::vector<std::string> files, folders;
  for (bool ok = mixed.gotoFirst(1); ok; ok = mixed.gotoNext(1)) files.emplace_back(mixed.infoName().view());
  for (bool ok = mixed.gotoFirst(2); ok; ok = mixed.gotoNext(2)) folders.emplace_back(mixed.infoName().view());
  EXPECT_EQ(files, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(folders, (std::vector<std::string>{"", "b/", "d/"}));  // the empty text counts as a directory
  EXPECT_FALSE(mixed.gotoNext(0));  // past the end stays past the end

  expectRaise([&] { mixed.gotoFirst(3); }, "EMU", "cDirEntryList.gotoFirst(); any0file1dir2 <> 0 or 1 or 2");
  expectRaise([&] { mixed.gotoNext(-1); }, "EMU", "cDirEntryList.gotoNext(); any0file1dir2 <> 0 or 1 or 2");
}

TEST(DirEntryList, CaseTwinsAreBothKeptAndOnlyIdenticalTextsAreDuplicates) {
  cDirEntryList list = listOf({"readme"});
  EXPECT_TRUE(list.addString(Str("Readme"), false));
  EXPECT_FALSE(list.addString(Str("readme"), false));
  EXPECT_EQ(names(list), (std::vector<std::string>{"Readme", "readme"}));
  EXPECT_TRUE(list.addString(Str("readme"), true));  // atFront takes it whatever is there
  EXPECT_EQ(names(list).front(), "readme");
  EXPECT_EQ(list.count(), 3);
}

TEST(DirEntryList, InsertingKeepsTheCursorOnItsEntry) {
  cDirEntryList list = listOf({"b", "d"});
  ASSERT_TRUE(list.gotoName("d", false));
  list.add("c", false);
  list.add("a", true);
  EXPECT_EQ(list.infoName().view(), "d");
  EXPECT_TRUE(list.gotoNext(0) == false);
}

TEST(DirEntryList, GotoNameByKindAndCase) {
  cDirEntryList list = listOf({"docs/", "Notes", "notes", "TMP1"});
  EXPECT_TRUE(list.gotoName("docs", true));
  EXPECT_EQ(list.infoName().view(), "docs/");
  EXPECT_FALSE(list.gotoName("docs", false));
  EXPECT_EQ(list.infoName().view(), "");
  EXPECT_TRUE(list.gotoName("DOCS/", false));  // case-insensitive when nothing matches exactly
  // An exact match wins over an earlier case twin.
  ASSERT_TRUE(list.gotoName("notes", false));
  EXPECT_EQ(list.infoName().view(), "notes");
  ASSERT_TRUE(list.gotoName("NOTES", false));
  EXPECT_EQ(list.infoName().view(), "Notes");
  // A directory-form name finds a file of the same stem with eitherKind.
  EXPECT_TRUE(list.gotoName("tmp1/", true));
  EXPECT_EQ(list.infoName().view(), "TMP1");
  cDirEntryList empty;
  EXPECT_FALSE(empty.gotoName("x", true));
}

TEST(DirEntryList, RemoveMovesToTheNextEntry) {
  cDirEntryList list = listOf({"a", "b", "c"});
  ASSERT_TRUE(list.gotoName("b", false));
  EXPECT_TRUE(list.remove());
  EXPECT_EQ(list.infoName().view(), "c");
  EXPECT_FALSE(list.remove());  // the last entry: no current one afterwards
  EXPECT_EQ(list.infoName().view(), "");
  expectRaise([&] { list.remove(); }, "EMU", "cDirEntryList.remove(); not on a list item");

  cDirEntryList one = listOf({"only"});
  ASSERT_TRUE(one.gotoFirst(0));
  EXPECT_FALSE(one.remove());
  EXPECT_EQ(one.count(), 0);
  EXPECT_FALSE(one.gotoFirst(0));
}

TEST(DirEntryList, SortOrdersCaseTwinsByteWiseAndDropsOnlyIdenticalTexts) {
  cDirEntryList list;
  for (const char* e : {"b", "A", "a", "B"}) list.add(e, true);
  EXPECT_EQ(list.sort(false), 0);
  EXPECT_EQ(names(list), (std::vector<std::string>{"A", "a", "B", "b"}));
  EXPECT_EQ(list.infoName().view(), "");

  cDirEntryList twice;
  for (const char* e : {"x", "y/", "x", "x", "y/"}) twice.add(e, true);
  EXPECT_EQ(twice.sort(true), 0);
  EXPECT_EQ(twice.count(), 5);
  EXPECT_EQ(twice.sort(false), 3);
  EXPECT_EQ(names(twice), (std::vector<std::string>{"x", "y/"}));
}

TEST(DirEntryList, FromNamesEqualsAddingOneByOne) {
  std::mt19937 rng(7);
  const char alphabet[] = "aAbB_/.z";
  for (int round = 0; round < 50; ++round) {
    StrChain raw;
    cDirEntryList oneByOne;
    for (int i = 0; i < 40; ++i) {
      std::string s;
      for (int k = rng() % 4; k >= 0; --k) s += alphabet[rng() % 8];
      raw.emplace_back(s);
      oneByOne.add(Text(s), false);
    }
    EXPECT_EQ(names(*cDirEntryList::fromNames(raw)), names(oneByOne));
    cDirEntryList sorted;
    for (const Str& s : raw) sorted.add(Text(s), true);
    sorted.sort(false);
    EXPECT_EQ(names(sorted), names(oneByOne));
  }
}

TEST(DirEntryList, CloneCopiesEveryEntry) {
  cDirEntryList list = listOf({"a", "A", "b/"});
  auto copy = list.clone();
  EXPECT_EQ(names(*copy), names(list));
  EXPECT_STREQ(copy->className(), "cDirEntryList");
}

TEST(DirEntryList, UniqueNamesAvoidEveryEntryInAnyCaseAndKind) {
  setMakeUniqueNameSeed(1234);
  cDirEntryList probe;
  Str first = probe.makeUniqueName(2, nullptr);
  ASSERT_GE(first.length(), 5);
  EXPECT_EQ(first.view().substr(0, 3), "TMP");
  EXPECT_EQ(first.view().back(), '/');
  EXPECT_EQ(first.capacity(), 12);
  for (char c : first.view().substr(3, first.length() - 4)) EXPECT_TRUE(std::isxdigit(c) && !std::isupper(c));

  // The same seed would give the same name: taken as a file in upper case,
  // it is passed over.
  setMakeUniqueNameSeed(1234);
  std::string stem(first.view().substr(0, first.length() - 1));
  std::string upper = stem;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  cDirEntryList list;
  list.add(Text(upper), false);
  Str second = list.makeUniqueName(2, nullptr);
  EXPECT_NE(second.view(), first.view());
  EXPECT_FALSE(list.gotoName(Text(second), true));

  Str file = list.makeUniqueName(1, "bak_");
  EXPECT_EQ(file.view().substr(0, 4), "bak_");
  EXPECT_NE(file.view().back(), '/');

  expectRaise([&] { list.makeUniqueName(0, nullptr); }, "EMU", "cDirEntryList.makeUniqueName(); file1dir2 <> 1 or 2");
}

TEST(DirEntryList, UniqueNameSeedsOfAnyMagnitudeWork) {
  for (int32_t seed : {INT32_MIN, -1, 0, INT32_MAX}) {
    setMakeUniqueNameSeed(seed);
    cDirEntryList list;
    Str a = list.makeUniqueName(1, nullptr);
    list.add(Text(a), false);
    Str b = list.makeUniqueName(1, nullptr);
    EXPECT_NE(a.view(), b.view()) << seed;
  }
}

TEST(DirEntryList, UniqueNameGivesUpAfterTheRetryLimit) {
  // Every name of the form "TMP" + one hex digit string is taken when the
  // list answers to everything: a list holding each name the seed will give.
  setMakeUniqueNameSeed(99);
  cDirEntryList full;
  for (int i = 0; i < 1000; ++i) full.add(Text(full.makeUniqueName(1, nullptr)), false);
  setMakeUniqueNameSeed(99);
  expectRaise([&] { full.makeUniqueName(1, nullptr); }, "BUG", "cDirEntryList.makeUniqueName(); retry limit exceeded");
}

}  // namespace
}  // namespace bw
