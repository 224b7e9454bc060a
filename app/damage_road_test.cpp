// app/damage_road_test.cpp - a user's feeds through damaged, missing and
// truncated databases: a program folder made by real runs of the built
// program (a database and the backups a few days of use leave), damaged by
// hand in each way a disk or a user can, then `brindlework UpdateAll` run
// twice. The user must end with the newest good data, never with an empty
// database while a good backup was there, and every message in words.
// BRINDLEWORK_KILL_RUNS sets the rounds of random damage (default 1, 10
// with BRINDLEWORK_FULL_SWEEPS=1).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <random>

#include "app/app_test_support.h"
#include "app/child_run_test_support.h"
#include "core/sweep_test_support.h"
#include "web/http_test_support.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;
constexpr int64_t kDay = 86400;

// A feed of `count` items; each round serves more of them.
std::string feedOf(const std::string& name, int count) {
  std::string items;
  for (int i = 1; i <= count; ++i) {
    const std::string id = "http://example.org/" + name + "/" + std::to_string(i);
    items += "<item><title>" + name + " " + std::to_string(i) + "</title><link>" + id + "</link><guid>" + id +
             "</guid><pubDate>Wed, 01 Jan 2020 10:" + std::to_string(10 + i % 50) + ":00 GMT</pubDate></item>";
  }
  return "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>" + name + "</title><link>http://example.org/" +
         name + "</link><description>d</description>" + items + "</channel></rss>";
}

// Output a user may see: words, never an internal exception.
void expectWords(const ChildResult& r) {
  EXPECT_EQ(r.output.find("EXCEPTION"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("();"), std::string::npos) << r.output;
}

class DamageRoadTest : public ProgramTest {
 protected:
  ChildResult runProgram() { return runChild({BRINDLEWORK_EXECUTABLE, "UpdateAll"}, {{"BRINDLEWORK_PROGDIR", tree.host().string()}, {"QT_QPA_PLATFORM", "offscreen"}}); }

  // Items in the database file name (read from a copy, so that it stays as
  // it is); -1 when it does not open.
  int64_t itemsIn(const std::string& name) {
    fs::copy_file(at(name), at("count.soup"), fs::copy_options::overwrite_existing);
    int64_t items = -1;
    withModules([&] {
      Db db(0);
      try {
        if (!db.open("count.soup", false)) return;
        items = 0;
        if (newsRoot* root = db.infoRootValue() ? loadObject_newsRoot(db, db.infoRootValue()) : nullptr) {
          for (int32_t f = root->feedList->infoHeadIndex(); f != 0;) {
            newsFeed* feed = loadObject_newsFeed(db, f);
            for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) ++items;
            f = feed->infoNextIndex();
            db.unloadObject(feed);
          }
          db.unloadObject(root);
        }
        db.closeQuickly();
      } catch (const eException&) {
        items = -1;
      }
    });
    fs::remove(at("count.soup"));
    return items;
  }

  // Four rounds of use, each a few days after the last: every round's feeds
  // have three more items, and the backups rotate.
  void makeHistory() {
    std::atomic<int> round{0};
    test::LoopbackServer server(
        [&](const std::string& request, int) {
          const size_t start = request.find('/') + 1;
          const std::string name = request.substr(start, request.find(' ', start) - start);
          return test::Reply{{"HTTP/1.0 200 OK\r\nContent-Type: application/xml\r\n\r\n" + feedOf(name, 3 * round)}};
        },
        40);
    makeEmptyDatabase("database.soup");
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      for (const char* name : {"a", "b", "c"}) addFeed(db, root, name, 0, false, server.url(name));
    });
    for (round = 1; round <= 4; ++round) {
      for (const std::string& name : namesStartingWith("database.soup")) setMtime(name, mtime(name) - 4 * kDay);
      const ChildResult r = runProgram();
      ASSERT_EQ(r.rc, 0) << r.output;
    }
    server.join();
    for (const auto& e : fs::directory_iterator(tree.host())) pristine_[e.path().filename().string()] = bytes(e.path().filename().string());
    for (const auto& [name, data] : pristine_) times_[name] = mtime(name);
  }
  void putBackHistory() {
    for (const auto& e : fs::directory_iterator(tree.host())) fs::remove_all(e.path());
    for (const auto& [name, data] : pristine_) {
      write(name, data);
      setMtime(name, times_[name]);
    }
  }

  std::map<std::string, std::string> pristine_;
  std::map<std::string, int64_t> times_;
};

TEST_F(DamageRoadTest, EveryDamageEndsWithTheNewestGoodData) {
  makeHistory();
  ASSERT_TRUE(exists("database.soup.bak_1Latest"));
  ASSERT_TRUE(exists("database.soup.bak_2KnownGood"));
  const int64_t newest = itemsIn("database.soup.bak_1Latest");
  ASSERT_EQ(itemsIn("database.soup"), 36);
  ASSERT_GT(newest, 0);
  const int rounds = static_cast<int>(bw::testing::sweepCount("BRINDLEWORK_KILL_RUNS", 1, 10));
  std::mt19937_64 random(54);
  const std::string& image = pristine_.at("database.soup");
  struct Damage {
    const char* name;
    std::function<void()> apply;
    bool wholeFile;  // the file is lost as a whole: the newest backup must come back
  };
  auto resize = [&](size_t size) { write("database.soup", image.substr(0, size)); };
  auto zeroAt = [&](size_t position) {
    std::string damaged = image;
    const size_t page = position / 4096 * 4096;
    std::fill(damaged.begin() + static_cast<ptrdiff_t>(page),
              damaged.begin() + static_cast<ptrdiff_t>(std::min(damaged.size(), page + 4096)), '\0');
    write("database.soup", damaged);
  };
  auto indexPage = [&] {
    uint64_t array = 0;  // the data area's word 1 names the index array
    for (int i = 0; i < 8; ++i) array = array << 8 | static_cast<uint8_t>(image[36 + static_cast<size_t>(i)]);
    return static_cast<size_t>(28 + array);
  };
  const std::vector<Damage> damages = {
      {"truncated at random", [&] { resize(1 + random() % (image.size() - 1)); }, true},
      {"100 bytes short", [&] { resize(image.size() - 100); }, true},
      {"0 bytes", [&] { resize(0); }, true},
      {"a text file", [&] { write("database.soup", "This is not a database.\n"); }, true},
      {"zeroed index page", [&] { zeroAt(indexPage()); }, true},
      {"missing", [&] { fs::remove(at("database.soup")); }, true},
      {"only bak_1Latest left", [&] {
         for (const std::string& name : namesStartingWith("database.soup.bak_"))
           if (name != "database.soup.bak_1Latest") fs::remove(at(name));
         resize(image.size() / 2);
       }, true},
      {"random zeroed page", [&] { zeroAt(random() % image.size()); }, false},
  };
  for (int round = 0; round < rounds; ++round) {
    for (const Damage& d : damages) {
      SCOPED_TRACE(std::string(d.name) + ", round " + std::to_string(round));
      putBackHistory();
      d.apply();
      const ChildResult first = runProgram();
      const ChildResult second = runProgram();
      expectWords(first);
      expectWords(second);
      // 5: the feeds' server has gone, and the runs say so.
      EXPECT_TRUE(first.rc == 0 || first.rc == 5 || first.rc == 10) << first.rc << first.output;
      EXPECT_TRUE(second.rc == 0 || second.rc == 5) << second.rc << second.output;
      const int64_t kept = itemsIn("database.soup");
      if (d.wholeFile) {
        EXPECT_GE(kept, newest) << first.output << second.output;
        EXPECT_NE(first.output.find("Restored from backup \"database.soup.bak_1Latest\" (3 feeds, " + std::to_string(newest) + " items, saved "),
                  std::string::npos)
            << first.output;
      } else {
        EXPECT_GT(kept, 0) << first.output << second.output;
      }
    }
  }
}

}  // namespace
}  // namespace bw::testing_app
