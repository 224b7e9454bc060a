// app/start_race_road_test.cpp - two `brindlework UpdateAll` started at
// once on one data folder whose database is missing, cut short or sound:
// whichever start restores first, the other opens what it restored; every
// good backup is kept as it was, none is said to have failed, no copy is
// left behind, and the user ends with the newest good data.
// BRINDLEWORK_RACE_RUNS sets the trials of each state (default 2, 30 with
// BRINDLEWORK_FULL_SWEEPS=1). A start that finds another holding the folder
// waits, says so, and ends on Ctrl-C or a session's end without touching
// anything.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>

#include <cstdlib>
#include <optional>

#include "app/app_test_support.h"
#include "app/child_run_test_support.h"
#include "core/sweep_test_support.h"
#include "platform/folder_turn.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

class StartRaceRoadTest : public ProgramTest {
 protected:
  StartedChild startProgram() {
    return startChild({BRINDLEWORK_EXECUTABLE, "UpdateAll"},
                      {{"BRINDLEWORK_PROGDIR", tree.host().string()}, {"QT_QPA_PLATFORM", "offscreen"}});
  }
  // The feeds of a database file (read from a copy); -1 when it does not
  // open.
  int feedsIn(const std::string& name) {
    fs::copy_file(at(name), at("count.soup"), fs::copy_options::overwrite_existing);
    int feeds = -1;
    withModules([&] {
      Db db(0);
      if (!db.open("count.soup", false)) return;
      newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
      feeds = 0;
      for (int32_t f = root->feedList->infoHeadIndex(); f != 0; f = db.readObjectNodeHeader(f).nextIndex) ++feeds;
      db.unloadObject(root);
      db.closeQuickly();
    });
    fs::remove(at("count.soup"));
    return feeds;
  }
};

TEST_F(StartRaceRoadTest, TwoStartsAtOnceKeepEveryGoodBackup) {
  // Each file holds its own number of feeds (disabled: nothing to fetch),
  // dated within the last hours, so no run rotates.
  const std::pair<const char*, int> files[] = {{"database.soup", 4},
                                               {"database.soup.bak_1Latest", 3},
                                               {"database.soup.bak_2KnownGood", 2},
                                               {"database.soup.bak_5Weekly", 1}};
  std::map<std::string, std::string> pristine;
  const int64_t now = static_cast<int64_t>(::time(nullptr));
  for (const auto& [name, feeds] : files) {
    makeEmptyDatabase(name);
    withDatabase(name, [&](Db& db, newsRoot& root) {
      for (int f = 0; f < feeds; ++f) addFeed(db, root, "feed " + std::to_string(f), 1, true);
    });
    pristine[name] = bytes(name);
  }
  const std::string image = pristine.at("database.soup");
  const std::pair<const char*, std::function<void()>> states[] = {
      {"missing", [&] { fs::remove(at("database.soup")); }},
      {"cut short", [&] { write("database.soup", image.substr(0, image.size() / 2)); }},
      {"sound", [] {}},
  };
  const long long trials = bw::testing::sweepCount("BRINDLEWORK_RACE_RUNS", 2, 30);
  for (const auto& [state, damage] : states) {
    for (long long trial = 0; trial < trials; ++trial) {
      SCOPED_TRACE(std::string(state) + ", trial " + std::to_string(trial));
      for (const auto& e : fs::directory_iterator(tree.host())) fs::remove_all(e.path());
      for (const auto& [name, data] : pristine) {
        write(name, data);
        setMtime(name, now - 3600);
      }
      damage();
      const StartedChild first = startProgram(), second = startProgram();
      const ChildResult runs[] = {finishChild(first), finishChild(second)};
      for (const ChildResult& r : runs) {
        EXPECT_TRUE(r.rc == 0 || r.rc == 10) << r.rc << r.output;
        for (const char* never : {"EXCEPTION", "failed its check", "No more backups", "();"}) {
          EXPECT_EQ(r.output.find(never), std::string::npos) << r.output;
        }
      }
      for (const auto& [name, data] : pristine) {
        if (name == "database.soup") continue;
        EXPECT_EQ(bytes(name), data) << name << " is not kept as it was";
      }
      for (const auto& name : namesStartingWith("database.soup_")) {
        EXPECT_EQ(name.rfind("database.soup_Corrupt_", 0), 0u) << name << " was left behind";
        EXPECT_EQ(bytes(name), image.substr(0, image.size() / 2)) << name << " is not the damaged database";
      }
      const ChildResult after = finishChild(startProgram());
      EXPECT_EQ(after.rc, 0) << after.output;
      EXPECT_EQ(feedsIn("database.soup"), std::string(state) == "sound" ? 4 : 3);
    }
  }
}

// Reads fd into out until it holds text (false after 60 s or at its end).
bool readUntil(int fd, std::string& out, const std::string& text) {
  char buf[1024];
  for (int waited = 0; out.find(text) == std::string::npos; waited += 100) {
    pollfd p = {fd, POLLIN, 0};
    if (waited > 60000) return false;
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    out.append(buf, static_cast<size_t>(n));
  }
  return true;
}

TEST_F(StartRaceRoadTest, AStartWaitsForTheFolderAndEndsOnASignalWithoutTouchingIt) {
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [&](Db& db, newsRoot& root) { addFeed(db, root, "feed", 1, true); });
  const std::string image = bytes("database.soup");
  const std::pair<const char*, int> cases[] = {{"the other start ends", 0}, {"Ctrl-C", SIGINT}, {"a session's end", SIGTERM}};
  for (const auto& [name, signal] : cases) {
    SCOPED_TRACE(name);
    for (const auto& e : fs::directory_iterator(tree.host())) fs::remove_all(e.path());
    write("database.soup", image);
    std::optional<FolderTurn> other(std::in_place, tree.host().string());
    ASSERT_TRUE(other->held());
    const StartedChild child = startProgram();
    std::string said;
    EXPECT_TRUE(readUntil(child.output, said, "Waiting while another start of the program opens the database...\n"))
        << said;
    if (signal != 0) {
      ::kill(child.pid, signal);
    } else {
      other.reset();
    }
    const ChildResult run = finishChild(child);
    EXPECT_EQ(run.rc, 0) << said << run.output;
    if (signal != 0) {
      EXPECT_EQ(said + run.output, "Waiting while another start of the program opens the database...\n");
      EXPECT_EQ(bytes("database.soup"), image);
      EXPECT_EQ(namesStartingWith("database.soup"), std::vector<std::string>{"database.soup"});
    }
  }
}

}  // namespace
}  // namespace bw::testing_app
