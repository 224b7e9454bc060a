// app/shell_road_test.cpp - `brindlework UpdateAll` end to end: the built
// program run as a child in a scratch program folder against feeds served on
// 127.0.0.1; then Ctrl-C, a second instance, and SIGKILL at random moments.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <optional>
#include <random>
#include <thread>

#include "app/app_test_support.h"
#include "app/child_run_test_support.h"
#include "app/feed_failure_test_support.h"
#include "app/program_identity.h"
#include "core/sweep_test_support.h"
#include "database/soup_check_test_support.h"
#include "web/http_test_support.h"
#include "web/tls_server_test_support.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

// Three items per feed, dated 2020; Atom for names beginning "atom".
std::string feedDocument(const std::string& name) {
  std::string items;
  const bool atom = name.rfind("atom", 0) == 0;
  for (int i = 1; i <= 3; ++i) {
    const std::string id = "http://example.org/" + name + "/" + std::to_string(i);
    if (atom) {
      items += "<entry><id>" + id + "</id><title>" + name + " " + std::to_string(i) + "</title><link href=\"" + id +
               "\"/><updated>2020-01-0" + std::to_string(i) + "T10:00:00Z</updated><content type=\"html\">&lt;p&gt;" +
               name + "&lt;/p&gt;</content></entry>";
    } else {
      items += "<item><title>" + name + " " + std::to_string(i) + "</title><link>" + id + "</link><guid>" + id +
               "</guid><pubDate>Wed, 0" + std::to_string(i) + " Jan 2020 10:00:00 GMT</pubDate>"
               "<content:encoded><![CDATA[<p>" + name + "</p>]]></content:encoded></item>";
    }
  }
  if (atom) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>" + name +
           "</title><id>urn:" + name + "</id><updated>2020-01-03T10:00:00Z</updated>" + items + "</feed>";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" "
         "xmlns:content=\"http://purl.org/rss/1.0/modules/content/\"><channel><title>" + name +
         "</title><link>http://example.org/" + name + "</link><description>d</description>" + items +
         "</channel></rss>";
}

test::Reply serveFeed(const std::string& request) {
  return {{"HTTP/1.0 200 OK\r\nContent-Type: application/xml\r\n\r\n" + feedDocument(requestedName(request))}};
}

using ChildRun = ChildResult;

class ShellRoadTest : public ProgramTest {
 protected:
  std::atomic<pid_t> child{0};
  std::optional<rlim_t> fileSizeLimit;  // RLIMIT_FSIZE of the children started

  // Starts the program (in a process group of its own) and answers its pid;
  // its standard output and error are read by finish().
  pid_t start(const std::vector<std::string>& arguments) {
    std::vector<std::string> args = {BRINDLEWORK_EXECUTABLE};
    args.insert(args.end(), arguments.begin(), arguments.end());
    started_ = startChild(args, {{"BRINDLEWORK_PROGDIR", tree.host().string()}, {"QT_QPA_PLATFORM", "offscreen"}},
                          {.ownGroup = true, .captureErrors = true, .fileSizeLimit = fileSizeLimit});
    child = started_.pid;
    return started_.pid;
  }
  // finish() without reading: the output's reader is gone at once.
  ChildRun finishUnread(pid_t pid) {
    ::close(started_.output);
    started_.output = ::open("/dev/null", O_RDONLY);
    return finish(pid);
  }
  ChildRun finish(pid_t pid) {
    started_.pid = pid;
    ChildRun r = finishChild(started_);
    child = 0;
    return r;
  }
  ChildRun runProgram(const std::vector<std::string>& arguments = {"UpdateAll"}) { return finish(start(arguments)); }

  // Feeds (name, seeded items): the update order is by the head item's
  // date, the feed without items first; "off" is disabled.
  void seed(int port) {
    makeEmptyDatabase("database.soup");
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      for (auto [name, items] : std::vector<std::pair<std::string, int>>{
               {"rss-a", 3}, {"atom-b", 1}, {"rss-c", 2}, {"off", 1}, {"rss-d", 0}, {"atom-e", 4}}) {
        addFeed(db, root, name, items, name == "off", "http://127.0.0.1:" + std::to_string(port) + "/" + name);
      }
    });
  }
  // Items per feed, by title.
  std::map<std::string, int> itemCounts() {
    std::map<std::string, int> counts;
    withModules([&] {
      Db db(0);
      ASSERT_TRUE(db.open("database.soup", false));
      newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
      for (int32_t f = root->feedList->infoHeadIndex(); f != 0;) {
        newsFeed* feed = loadObject_newsFeed(db, f);
        int& n = counts[std::string(feed->title.view())];
        for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) ++n;
        f = feed->infoNextIndex();
        db.unloadObject(feed);
      }
      db.unloadObject(root);
      db.closeQuickly();
    });
    return counts;
  }
  void expectSound() {
    std::string image = bytes("database.soup");
    testing::expectSoupSound(std::vector<uint8_t>(image.begin(), image.end()), soupcheck::Expect::kClosed);
  }

  const std::map<std::string, int> seeded = {{"rss-a", 3}, {"atom-b", 1}, {"rss-c", 2},
                                             {"off", 1},   {"rss-d", 0},  {"atom-e", 4}};
  const std::map<std::string, int> updated = {{"rss-a", 6}, {"atom-b", 4}, {"rss-c", 5},
                                              {"off", 1},   {"rss-d", 3},  {"atom-e", 7}};

 private:
  StartedChild started_;
};

TEST_F(ShellRoadTest, UpdatesEveryEnabledFeedOldestFirst) {
  test::LoopbackServer server([](const std::string& request, int) { return serveFeed(request); }, 10);
  seed(server.port());
  ChildRun first = runProgram();
  EXPECT_EQ(first.rc, 0);
  EXPECT_EQ(first.output, "Updated 5 feeds: 15 new items.\n");
  EXPECT_EQ(first.errors, "");  // piped: no progress
  std::vector<std::string> order;
  for (const std::string& request : server.requests()) {
    order.push_back(requestedName(request));
    EXPECT_NE(request.find("User-Agent: " + std::string(programUserAgent) + "\r\n"), std::string::npos) << request;
  }
  EXPECT_EQ(order, (std::vector<std::string>{"rss-d", "atom-b", "rss-c", "rss-a", "atom-e"}));
  EXPECT_EQ(itemCounts(), updated);
  expectSound();
  EXPECT_TRUE(exists("database.soup.bak_1Latest"));
  ChildRun second = runProgram();  // the same documents again: nothing new
  EXPECT_EQ(second.rc, 0);
  EXPECT_TRUE(second.output.ends_with("\nUpdated 5 feeds: 0 new items.\n")) << second.output;
  EXPECT_EQ(itemCounts(), updated);
  expectSound();
}

// Every kind of failure a feed meets, each told in one line on standard
// error with its name, address and reason; the good feed is stored; the
// summary and the exit status say that some failed.
TEST_F(ShellRoadTest, EachFailedFeedIsToldWithItsReason) {
  test::TlsFileServer tls(2);
  tls.put("untrusted", feedDocument("untrusted"));
  test::LoopbackServer server(
      [&](const std::string& request, int) -> test::Reply {
        return failingFeedAnswer(requestedName(request)).value_or(serveFeed(request));
      },
      8);
  std::vector<FailingFeed> failing =
      failingFeeds("http://127.0.0.1:" + std::to_string(server.port()) + "/", tls.port() ? tls.url("untrusted") : "");
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [&](Db& db, newsRoot& root) {
    addFeed(db, root, "rss-ok", 0, false, "http://127.0.0.1:" + std::to_string(server.port()) + "/rss-ok");
    for (const FailingFeed& f : failing) addFeed(db, root, f.name, 0, false, f.url);
  });
  ChildRun run = runProgram();
  EXPECT_EQ(run.rc, 5);
  EXPECT_EQ(run.output, "Updated " + std::to_string(failing.size() + 1) + " feeds: 3 new items; " +
                            std::to_string(failing.size()) + " failed.\n");
  const std::string page = tree.host().string() + "/BadNewsFeed_";
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = run.errors.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(run.errors.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), failing.size()) << run.errors;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string reason =
        failing[i].reason + (failing[i].keepsDocument ? " (the document was kept in " + page : "");
    EXPECT_EQ(lines[i].substr(0, lines[i].find(": ") + 2 + reason.size()),
              "Failed to update \"" + failing[i].name + "\" (" + failing[i].url + "): " + reason);
  }
  EXPECT_EQ(itemCounts().at("rss-ok"), 3);
  EXPECT_EQ(namesStartingWith("BadNewsFeed_").size(), 2u);
  const std::string kept = lines[4].substr(lines[4].find(page) + tree.host().string().size() + 1);
  EXPECT_EQ(bytes(kept.substr(0, kept.size() - 1)), kNotWellFormedFeed);
  expectSound();
  EXPECT_TRUE(exists("database.soup.bak_1Latest"));
}

// Ctrl-C while the third feed's answer is slow in coming ends that download
// (the feed counts as not updated, and as no failure), skips the rest, and
// the run still writes and backs up the database. A session's end (SIGTERM,
// SIGHUP) does the same.
TEST_F(ShellRoadTest, CtrlCOrASessionsEndEndsTheDownloadInHand) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    for (const auto& name : namesStartingWith("database.soup")) fs::remove(at(name));
    test::LoopbackServer server(
        [this, signal](const std::string& request, int index) {
          if (index != 2) return serveFeed(request);
          ::kill(-child.load(), signal);
          test::Reply slow = serveFeed(request);
          slow.segments.insert(slow.segments.begin(), "");
          slow.pauseMs = 3000;
          return slow;
        },
        3);
    seed(server.port());
    ChildRun run = runProgram();
    EXPECT_EQ(run.rc, 0);
    EXPECT_EQ(run.output, "Update cancelled by user.\nUpdated 2 feeds: 6 new items.\n");
    EXPECT_EQ(run.errors, "");
    std::map<std::string, int> want = seeded;
    for (const char* name : {"rss-d", "atom-b"}) want[name] = updated.at(name);
    EXPECT_EQ(itemCounts(), want);
    expectSound();
    EXPECT_TRUE(exists("database.soup.bak_1Latest"));
  }
}

TEST_F(ShellRoadTest, ASecondInstanceIsRefused) {
  makeEmptyDatabase("database.soup");
  withDatabase("database.soup", [&](Db&, newsRoot&) {
    ChildRun run = runProgram();
    EXPECT_EQ(run.rc, 10);
    EXPECT_EQ(run.output.rfind("Failed to open database, due to:\n", 0), 0u) << run.output;
  });
  ChildRun bad = runProgram({"UpdateAll", "x"});
  EXPECT_EQ(bad.rc, 10);
  EXPECT_FALSE(exists("database.soup.bak_1Latest"));
}

// Writes that the system refuses by a signal end no run by it: a reader of
// the output that goes away loses the console text, the update goes on and
// the database is closed and backed up; a file size limit reached in a
// commit is raised as a full disk, and the next run validates and updates.
TEST_F(ShellRoadTest, AReaderGoneOrAFileSizeLimitEndsNoRunBySignal) {
  test::LoopbackServer server([](const std::string& request, int) { return serveFeed(request); }, 10);
  seed(server.port());
  ChildRun unread = finishUnread(start({"UpdateAll"}));
  EXPECT_EQ(unread.rc, 0);
  EXPECT_EQ(itemCounts(), updated);
  expectSound();
  EXPECT_TRUE(exists("database.soup.bak_1Latest"));

  for (const auto& name : namesStartingWith("database.soup")) fs::remove(at(name));
  seed(server.port());
  fileSizeLimit = fs::file_size(at("database.soup"));
  ChildRun limited = runProgram();
  EXPECT_EQ(limited.rc, 10);
  EXPECT_NE(limited.output.find("The disk is full: the database could not be written (needed "), std::string::npos)
      << limited.output;
  EXPECT_EQ(itemCounts(), seeded);
  fileSizeLimit.reset();
  ChildRun again = runProgram();
  EXPECT_EQ(again.rc, 0);
  EXPECT_NE(again.output.find("Validating database"), std::string::npos) << again.output;
  EXPECT_EQ(itemCounts(), updated);
  expectSound();
}

// Kills land anywhere: in the copy of the default, between downloads, in
// commits and in the shutdown. The next run never restores, never sets a
// file aside as corrupt and never repairs anything; every feed has all of
// an update's items or none.
TEST_F(ShellRoadTest, KillsLeaveADatabaseThatValidatesAndRepairsNothing) {
  const int runs = static_cast<int>(bw::testing::sweepCount("BRINDLEWORK_KILL_RUNS", 12, 60));
  test::LoopbackServer server([](const std::string& request, int) { return serveFeed(request); }, 10 * runs + 5);
  seed(server.port());
  const std::string seededImage = bytes("database.soup");
  auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(runProgram().rc, 0);
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began);
  std::mt19937_64 random(30);
  for (int run = 0; run < runs; ++run) {
    SCOPED_TRACE(run);
    for (const auto& name : namesStartingWith("database.soup")) fs::remove(at(name));
    if (run % 3 == 0) {
      write("database.soup.default", seededImage);  // a kill may fall in the copy
    } else {
      write("database.soup", seededImage);
    }
    pid_t pid = start({"UpdateAll"});
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (span.count() + 1)));
    ::kill(pid, SIGKILL);
    finish(pid);
    ChildRun again = runProgram();
    EXPECT_EQ(again.rc, 0) << again.output;
    EXPECT_EQ(again.output.find("repaired"), std::string::npos) << again.output;
    EXPECT_EQ(again.output.find("Restored"), std::string::npos) << again.output;
    EXPECT_TRUE(namesStartingWith("database.soup_Corrupt_").empty());
    for (const auto& [name, count] : itemCounts()) EXPECT_TRUE(count == seeded.at(name) || count == updated.at(name)) << name;
    expectSound();
  }
}

}  // namespace
}  // namespace bw::testing_app
