// app/backup_rotation_test.cpp - the rotation of the backup copies by file
// age, with the files' times set by hand.
#include "app/backup_rotation.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "app/app_test_support.h"
#include "core/raise_test_support.h"
#include "platform/dos_env.h"

namespace bw::testing_app {
namespace {

constexpr int64_t kT0 = 1700000000;
constexpr int64_t kHour = 3600;

class RotationTest : public ProgramTest {
 protected:
  // Gives database.soup the time t and rotates.
  Rotation rotateAt(int64_t t, const StatusLine& status = nullptr) {
    setMtime("database.soup", t);
    Rotation r;
    withModules([&] { r = rotateBackups(false, status); });
    return r;
  }
  // Every file of the folder with its bytes and time.
  std::map<std::string, std::pair<std::string, int64_t>> snapshot() {
    std::map<std::string, std::pair<std::string, int64_t>> files;
    for (const auto& name : namesStartingWith("database.soup")) files[name] = {bytes(name), mtime(name)};
    return files;
  }
  std::vector<std::string> backups() {
    std::vector<std::string> names = namesStartingWith("database.soup.bak_");
    std::sort(names.begin(), names.end());
    for (std::string& n : names) n = n.substr(18);
    return names;
  }
  using Names = std::vector<std::string>;
  using Db = cJournaledIndexedObjectSoupDatabase;
};

TEST_F(RotationTest, CopiesMoveTowardsOlderNamesByAge) {
  makeEmptyDatabase("database.soup");
  rotateAt(kT0);
  EXPECT_EQ(backups(), Names{"1Latest"});
  rotateAt(kT0 + 3 * kHour - 1);  // too soon: nothing changes
  EXPECT_EQ(backups(), Names{"1Latest"});
  rotateAt(kT0 + 3 * kHour);
  EXPECT_EQ(backups(), (Names{"1Latest", "2KnownGood"}));
  rotateAt(kT0 + 6 * kHour);  // no weekly copy yet: the known-good one is validated and becomes it
  EXPECT_EQ(backups(), (Names{"1Latest", "2KnownGood", "5Weekly"}));
  EXPECT_EQ(mtime("database.soup.bak_5Weekly"), kT0);
  // A week later the known-good copy (kT0 + 3 h) is not 6.5 days newer than
  // the weekly one: it becomes the daily copy, the next one 16 h later not.
  rotateAt(kT0 + 9 * kHour);
  EXPECT_EQ(backups(), (Names{"1Latest", "2KnownGood", "3Daily", "5Weekly"}));
  setMtime("database.soup.bak_3Daily", kT0 + 6 * kHour - 57600);
  rotateAt(kT0 + 12 * kHour);  // known good kT0 + 6 h: exactly 57600 s newer
  EXPECT_EQ(backups(), (Names{"1Latest", "2KnownGood", "3Daily", "4OneDayOld", "5Weekly"}));
  EXPECT_EQ(mtime("database.soup.bak_3Daily"), kT0 + 6 * kHour);
  setMtime("database.soup.bak_3Daily", kT0 + 9 * kHour - 57599);
  rotateAt(kT0 + 15 * kHour);  // 57599 s: the known-good copy is dropped
  EXPECT_EQ(mtime("database.soup.bak_3Daily"), kT0 + 9 * kHour - 57599);
  EXPECT_EQ(mtime("database.soup.bak_2KnownGood"), kT0 + 12 * kHour);
}

TEST_F(RotationTest, ADamagedWeeklyCandidateIsSetAsideAndTheDatabaseMarked) {
  makeEmptyDatabase("database.soup");
  makeEmptyDatabase("database.soup.bak_1Latest");
  write("database.soup.bak_2KnownGood", std::string(600, 'x'));
  setMtime("database.soup.bak_1Latest", kT0);
  rotateAt(kT0 + 3 * kHour);
  EXPECT_EQ(backups(), Names{"2KnownGood"});  // the latest copy passed its check: it stays
  EXPECT_EQ(mtime("database.soup.bak_2KnownGood"), kT0);
  ASSERT_EQ(namesStartingWith("database.soup_Corrupt_").size(), 1u);
  EXPECT_EQ(bytes(namesStartingWith("database.soup_Corrupt_")[0]), std::string(600, 'x'));
  withModules([] {
    cJournaledIndexedObjectSoupDatabase db(0);
    ASSERT_TRUE(db.open("database.soup", false));
    EXPECT_TRUE(db.infoNeedsRepair());
    db.close();
  });
}

// A latest copy that fails its check never becomes known good: it is set
// aside, the database is marked for repair, and the known-good, daily and
// weekly copies stay as they were, whatever the damage.
TEST_F(RotationTest, ADamagedLatestCopyNeverReplacesAKnownGoodOne) {
  const std::vector<std::pair<const char*, std::function<void()>>> damages = {
      {"a text file", [&] { write("database.soup.bak_1Latest", "not a database"); }},
      {"cut short", [&] { write("database.soup.bak_1Latest", bytes("database.soup.bak_1Latest").substr(0, 100)); }},
      {"an unusable news model", [&] {
         makeUnusableDatabase();
         fs::rename(at("database.soup"), at("database.soup.bak_1Latest"));
         makeEmptyDatabase("database.soup");
       }},
  };
  for (const auto& [name, damage] : damages) {
    SCOPED_TRACE(name);
    for (const auto& n : namesStartingWith("database.")) fs::remove(at(n));
    makeEmptyDatabase("database.soup");
    for (const char* b : {"database.soup.bak_1Latest", "database.soup.bak_2KnownGood", "database.soup.bak_5Weekly"})
      makeEmptyDatabase(b);
    damage();
    std::map<std::string, std::string> kept;
    for (const char* b : {"database.soup.bak_2KnownGood", "database.soup.bak_5Weekly"}) {
      setMtime(b, kT0);
      kept[b] = bytes(b);
    }
    setMtime("database.soup.bak_1Latest", kT0 + kHour);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(rotateAt(kT0 + 5 * kHour).checkFailed);
    const std::string told = testing::internal::GetCapturedStdout();
    EXPECT_EQ(backups(), (Names{"2KnownGood", "5Weekly"}));
    for (const auto& [b, data] : kept) EXPECT_EQ(bytes(b), data) << b;
    ASSERT_EQ(namesStartingWith("database.soup_Corrupt_").size(), 1u);
    EXPECT_NE(told.find("The backup \"database.soup.bak_1Latest\" failed validation and is now called \"" +
                        namesStartingWith("database.soup_Corrupt_")[0] + "\"."),
              std::string::npos)
        << told;
    withModules([] {
      cJournaledIndexedObjectSoupDatabase db(0);
      ASSERT_TRUE(db.open("database.soup", false));
      EXPECT_TRUE(db.infoNeedsRepair());
      db.close();
    });
  }
}

TEST_F(RotationTest, AFileAtATargetKeepsItsBytes) {
  makeEmptyDatabase("database.soup");
  makeEmptyDatabase("database.soup.bak_1Latest");
  write("database.soup.bak_2KnownGood", "mine");
  setMtime("database.soup.bak_1Latest", kT0);
  setMtime("database.soup.bak_2KnownGood", kT0);
  makeEmptyDatabase("database.soup.bak_3Daily");
  setMtime("database.soup.bak_3Daily", kT0);
  write("database.soup.bak_5Weekly", "weekly");
  setMtime("database.soup.bak_5Weekly", kT0);
  EXPECT_FALSE(rotateAt(kT0 + 3 * kHour).checkFailed);
  EXPECT_EQ(bytes("database.soup.bak_5Weekly"), "weekly");
}

// A rotation stopped part-way - a Ctrl-C during the fresh copy or during a
// check, a kill during a check - leaves every backup as it was (bytes and
// time: a check reads a copy of its own), and the next start deletes what
// the run left.
TEST_F(RotationTest, ARotationStoppedPartWayLeavesTheBackupsAsTheyWere) {
  struct Stop {
    const char* name;
    bool killed;                  // the run ends there (a child process)
    StatusLine atCheck;           // what happens as a check begins
  };
  const Stop stops[] = {
      {"Ctrl-C during the copy", false, nullptr},
      {"Ctrl-C during a check", false, [](std::string_view) { raise("BRK", "Ctrl-C received"); }},
      {"killed during a check", true, [](std::string_view) { ::_exit(0); }},
  };
  for (const Stop& stop : stops) {
    SCOPED_TRACE(stop.name);
    for (const auto& name : namesStartingWith("database.")) fs::remove(at(name));
    makeEmptyDatabase("database.soup");
    withDatabase("database.soup", [](Db& db, newsRoot& root) { addFeed(db, root, "f", 3); });
    for (const char* b : {"database.soup.bak_1Latest", "database.soup.bak_2KnownGood"}) {
      fs::copy_file(at("database.soup"), at(b));
      setMtime(b, kT0);
    }
    const auto before = snapshot();
    setMtime("database.soup", kT0 + 4 * kHour);
    if (stop.killed) {
      ::fflush(nullptr);
      const pid_t child = ::fork();
      if (child == 0) {
        withModules([&] { rotateBackups(false, stop.atCheck); });
        ::_exit(1);
      }
      int status = 0;
      ::waitpid(child, &status, 0);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      EXPECT_FALSE(namesStartingWith("database.soup_Copy_").empty());  // the run's copies stay
    } else {
      if (!stop.atCheck) dos::signalBreak();
      withModules([&] { expectRaise([&] { rotateBackups(false, stop.atCheck); }, "BRK", "Ctrl-C received"); });
      EXPECT_TRUE(namesStartingWith("database.soup_Copy_").empty());
    }
    withModules([] { removeLeftCopies(); });  // the next start
    auto after = snapshot();
    after["database.soup"] = before.at("database.soup");  // written by the run
    EXPECT_EQ(after, before);
  }
}

}  // namespace
}  // namespace bw::testing_app
