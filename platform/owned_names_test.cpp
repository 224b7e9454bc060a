// platform/owned_names_test.cpp - owned names: their form, which ones a
// later run deletes, and the owned file that goes unless renamed.
#include "platform/owned_names.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>

#include "platform/dos_errors.h"
#include "platform/file.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

using testing_paths::TempTree;
namespace fs = std::filesystem;

std::string hex8(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// Names made in one second by one process: each its own, and each naming
// the process.
TEST(OwnedNames, HoldTheProcessAndRandomBits) {
  TempTree t;
  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) {
    const std::string name(newOwnedName(t.internal(), "db_Copy_").view());
    EXPECT_TRUE(std::regex_match(name, std::regex(".*/db_Copy_" + hex8(static_cast<unsigned>(::getpid())) +
                                                  "[0-9a-f]{8}")))
        << name;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 200u);
  // One that stands (even a link that dangles) is never given.
  EXPECT_FALSE(entryStandsAt(Text(t.internal("gone"))));
  t.symlink("nowhere", "gone");
  EXPECT_TRUE(entryStandsAt(Text(t.internal("gone"))));
  EXPECT_EQ(entryIdentity(Text(t.internal("missing"))), EntryIdentity{});
  t.file("a", "1");
  const EntryIdentity a = entryIdentity(Text(t.internal("a")));
  t.file("b", "2");
  fs::rename(t.host("b"), t.host("a"));
  EXPECT_NE(entryIdentity(Text(t.internal("a"))), a);  // another file renamed into its place
}

TEST(OwnedNames, ALaterRunDeletesOnlyWhatEndedRunsLeft) {
  TempTree t;
  ::fflush(nullptr);
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  const std::string gone = hex8(static_cast<unsigned>(ended));
  const std::string mine = hex8(static_cast<unsigned>(::getpid()));
  const struct {
    std::string name;
    bool stays;
  } cases[] = {
      {"x_Copy_" + gone + "0badc0de", false},
      {"x_Copy_" + mine + "0badc0de", false},  // this process makes it again if it wants it
      {"x_Copy_1a2b", false},                  // an earlier version's name: no process
      {"x_Copy_000000010badc0de", true},       // process 1 runs: it may be about to rename it
      {"x_Copy_" + gone + "held", true},       // not an owned name
      {"x_Copy_", true},
      {"y_Copy_" + gone + "0badc0de", true},   // another prefix
      {"x_Copy_" + gone + "0000beef", true},   // held open for writing below
  };
  for (const auto& c : cases) t.file(c.name, "data");
  cFile held;
  held.initialise(0);
  ASSERT_TRUE(held.open(Text(t.internal("x_Copy_" + gone + "0000beef")), false, false));
  EXPECT_EQ(removeLeftOwnedNames(t.internal(), "x_Copy_"), 3);
  held.close();
  for (const auto& c : cases) EXPECT_EQ(fs::exists(t.host(c.name)), c.stays) << c.name;
}

TEST(OwnedNames, AnOwnedFileGoesUnlessPlacedAndKeepsTheReason) {
  TempTree t;
  std::string name;
  {
    OwnedFile file(t.internal(), "f_");
    name = std::string(file.name().view()).substr(t.internal().size());
    t.file(name, "partial");
    dos::ioErrFromErrno(EACCES, dos::Access::write);
  }
  EXPECT_FALSE(fs::exists(t.host(name)));
  EXPECT_EQ(dos::faultMessage(dos::ioErr()), "Permission denied");  // not the delete's
  {
    OwnedFile file(t.internal(), "f_");
    t.file(std::string(file.name().view()).substr(t.internal().size()), "whole");
    t.file("placed-before", "theirs");
    EXPECT_FALSE(file.renameTo(Text(t.internal("placed-before"))));  // never replaces
    EXPECT_TRUE(file.renameTo(Text(t.internal("placed"))));
  }
  EXPECT_EQ(testing_paths::readAll(t.host("placed")), "whole");
  EXPECT_EQ(testing_paths::readAll(t.host("placed-before")), "theirs");
  {
    OwnedFile file(t.internal(), "f_");
    t.file(std::string(file.name().view()).substr(t.internal().size()), "new");
    t.dir("folder");
    EXPECT_FALSE(file.renameTo(Text(t.internal("folder")), true));  // a file, never a folder
    EXPECT_TRUE(file.renameTo(Text(t.internal("placed-before")), true));
  }
  EXPECT_EQ(testing_paths::readAll(t.host("placed-before")), "new");
}

}  // namespace
}  // namespace bw
