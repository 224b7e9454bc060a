// app/shell_update_test.cpp - the shell update's report: failure lines,
// summary, exit status and the progress line, with the update of each feed
// scripted.
#include "app/shell_update.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "app/app_test_support.h"
#include "platform/dos_env.h"
#include "web/http_test_support.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

class ShellReport : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    stream = std::tmpfile();
  }
  void TearDown() override {
    setShellReportStreamForTesting(nullptr, false);
    std::fclose(stream);
    ProgramTest::TearDown();
  }
  std::string reported() {
    std::fflush(stream);
    std::rewind(stream);
    std::string out;
    for (int c; (c = std::fgetc(stream)) != EOF;) out += static_cast<char>(c);
    return out;
  }
  // Feeds "a" (2 new items), "b\e[31m" (fails), "c" (fails, a bad document).
  int runScripted() {
    makeEmptyDatabase("database.soup");
    runShell([](Db& db, newsRoot& root) {
      addFeed(db, root, "a", 0);
      addFeed(db, root, "b\x1b[31m", 0);
      addFeed(db, root, "c", 0);
    });
    setShellFeedUpdateForTesting([](Db&, newsRoot&, const cEncoding&, newsFeed& feed) {
      AddUpdateResult r;
      if (feed.title == "a") feed.newItemCount += 2;
      if (feed.title != "a") r.failure = "HTTP 404 Not Found";
      if (feed.title == "c") r.badDocument = "/data/BadNewsFeed_1";
      return r;
    });
    return runShell();
  }
  std::FILE* stream = nullptr;
};

TEST_F(ShellReport, PipedFailuresGetALineEachAndNoProgress) {
  setShellReportStreamForTesting(stream, false);
  EXPECT_EQ(runScripted(), 5);
  EXPECT_EQ(output, "Updated 3 feeds: 2 new items; 2 failed.\n");
  EXPECT_EQ(reported(),
            "Failed to update \"b\xEF\xBF\xBD[31m\" (http://127.0.0.1/b?[31m): HTTP 404 Not Found\n"
            "Failed to update \"c\" (http://127.0.0.1/c): HTTP 404 Not Found (the document was kept in "
            "/data/BadNewsFeed_1)\n");
}

TEST_F(ShellReport, OnATerminalProgressIsOneLineClearedBeforeEachFailure) {
  setShellReportStreamForTesting(stream, true);
  EXPECT_EQ(runScripted(), 5);
  EXPECT_EQ(reported(),
            "\rUpdating feed 1 of 3: a\x1b[K"
            "\rUpdating feed 2 of 3: b\xEF\xBF\xBD[31m\x1b[K\r\x1b[K"
            "Failed to update \"b\xEF\xBF\xBD[31m\" (http://127.0.0.1/b?[31m): HTTP 404 Not Found\n"
            "\rUpdating feed 3 of 3: c\x1b[K\r\x1b[K"
            "Failed to update \"c\" (http://127.0.0.1/c): HTTP 404 Not Found (the document was kept in "
            "/data/BadNewsFeed_1)\n");
}

TEST(ShellFailureLine, AnAddressShowsNoPassword) {
  // An address and how the line shows it.
  const std::pair<const char*, const char*> cases[] = {
      {"http://u:p%40ss@h:81/f?a=b@c", "http://u:***@h:81/f?a=b@c"},
      {"http://u@h/x:y@z", "http://u@h/x:y@z"},  // no password; the path's "@" is no user information
      {"http://h:8080/p", "http://h:8080/p"},
      {"http://a@b:c@h/", "http://a@b:***@h/"},  // the last "@" ends the user information
      {"not an address", "not an address"},
  };
  for (const auto& [url, shown] : cases) EXPECT_EQ(withoutPassword(url), shown) << url;
}

// A second Ctrl-C, after the one that ended the update: everything is
// written and the database closed, but neither defragmented nor backed up.
TEST_F(ShellReport, ASecondCtrlCEndsTheRunAfterTheFlush) {
  makeEmptyDatabase("database.soup");
  runShell([](Db& db, newsRoot& root) { addFeed(db, root, "a", 0); });
  for (const auto& name : namesStartingWith("database.soup.bak_")) fs::remove(at(name));
  setShellFeedUpdateForTesting([](Db&, newsRoot&, const cEncoding&, newsFeed&) {
    AddUpdateResult r;
    r.cancelled = true;  // the first Ctrl-C ended the download
    dos::signalBreak();  // the second
    return r;
  });
  EXPECT_EQ(runShell(), 0);
  EXPECT_EQ(output, "Update cancelled by user.\nUpdated 0 feeds: 0 new items.\n");
  EXPECT_FALSE(exists("database.soup.bak_1Latest"));
  setShellFeedUpdateForTesting([](Db&, newsRoot&, const cEncoding&, newsFeed&) { return AddUpdateResult{}; });
  EXPECT_EQ(runShell(), 0);  // closed as usual: no validation
  EXPECT_EQ(output, "Updated 1 feed: 0 new items.\n");
}

// Ctrl-C ends a run whose feed waits on a name lookup that never answers,
// over http and https, well before the feed's 10 s time-out, and the
// program's end does not wait for the lookup.
TEST_F(ShellReport, CtrlCEndsARunBehindALookupThatNeverAnswers) {
  setShellFeedUpdateForTesting({});
  for (const char* url : {"http://stuck.test/feed", "https://stuck.test/feed"}) {
    SCOPED_TRACE(url);
    makeEmptyDatabase("database.soup");
    withDatabase("database.soup", [&](Db& db, newsRoot& root) { addFeed(db, root, "stuck", 0, false, url); });
    test::StuckLookup stuck("stuck.test");
    std::thread ctrlC([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      dos::signalBreak();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runShell(), 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ctrlC.join();
    EXPECT_EQ(output, "Update cancelled by user.\nUpdated 0 feeds: 0 new items.\n");
    EXPECT_LT(seconds, 4.0);
  }
}

TEST_F(ShellReport, SummaryLines) {
  const struct {
    ShellUpdateSummary summary;
    const char* line;
  } cases[] = {
      {{37, 412, 3, false}, "Updated 37 feeds: 412 new items; 3 failed."},
      {{1, 1, 0, false}, "Updated 1 feed: 1 new item."},
      {{0, 0, 0, true}, "Updated 0 feeds: 0 new items."},
  };
  for (const auto& c : cases) EXPECT_EQ(shellSummaryLine(c.summary), c.line);
}

}  // namespace
}  // namespace bw::testing_app
