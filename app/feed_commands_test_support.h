// app/feed_commands_test_support.h - the fixture of the feed command tests:
// a scratch program folder with a database whose feeds are loaded in the
// root's chain, as the running program keeps them, plus a display charset,
// a scripted interface and a run of another program (xmllint, newsboat).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include <initializer_list>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "database/object_soup.h"
#include "gui/gui_list.h"
#include "gui/gui_test_support.h"
#include "gui/host/gui_app_client.h"
#include "platform/app_host.h"
#include "news/ui_seam_test_support.h"
#include "platform/spawn.h"

namespace bw::testing_app {

class FeedCommandTest : public ProgramTest {
 protected:
  // Opens "database.soup" (made when missing), loads every feed into the
  // chain, runs fn and gives everything back.
  void withFeeds(const std::function<void(cJournaledIndexedObjectSoupDatabase&, newsRoot&)>& fn) {
    withDatabase("database.soup", [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
      loadChain(db, root);
      charset = newSystemEncoding();
      try {
        fn(db, root);
      } catch (...) {
        unloadChain(db, root);
        throw;
      }
      unloadChain(db, root);
      charset.reset();
    });
  }
  static void loadChain(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    newsFeed** link = &root.firstLoadedFeed;
    for (int32_t index = root.feedList->infoHeadIndex(); index != 0;) {
      newsFeed* feed = loadObject_newsFeed(db, index);
      *link = feed;
      link = &feed->nextLoadedFeed;
      index = feed->infoNextIndex();
    }
  }
  static void unloadChain(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
    newsFeed* feed = root.firstLoadedFeed;
    root.firstLoadedFeed = nullptr;
    while (feed) {
      newsFeed* next = feed->nextLoadedFeed;
      feed->nextLoadedFeed = nullptr;
      if (db.isOpen()) db.unloadObject(feed);
      feed = next;
    }
  }
  static std::vector<newsFeed*> chain(newsRoot& root) {
    std::vector<newsFeed*> feeds;
    for (newsFeed* f = root.firstLoadedFeed; f; f = f->nextLoadedFeed) feeds.push_back(f);
    return feeds;
  }
  static std::vector<std::string> names(newsRoot& root, const cEncoding& charset) {
    std::vector<std::string> out;
    for (newsFeed* f : chain(root)) out.emplace_back(f->infoName(&charset).view());
    return out;
  }

  std::unique_ptr<cEncoding> charset;
};

// The exit code and standard output of a program run from an argument
// vector, with HOME set to home when given (so that a peer reader keeps its
// files in the scratch folder); code -1 when it is not installed.
struct ProgramOutput {
  int code = -1;
  std::string out;
};
inline ProgramOutput runProgram(const std::vector<std::string>& argv, const std::string& home = "") {
  ProgramOutput result;
  if (findExecutable(argv[0], executableSearchPath()).empty()) return result;
  const char* oldHome = std::getenv("HOME");
  const std::string kept = oldHome ? oldHome : "";
  if (!home.empty()) ::setenv("HOME", home.c_str(), 1);
  SpawnOptions options;
  options.in = SpawnStdio::kNull;
  options.out = SpawnStdio::kPipe;
  options.err = SpawnStdio::kNull;
  SpawnResult spawned = spawnProcess(argv, options);
  if (!home.empty()) oldHome ? ::setenv("HOME", kept.c_str(), 1) : ::unsetenv("HOME");
  if (spawned.error) return result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(spawned.child.stdoutFd(), buffer, sizeof buffer)) > 0;) result.out.append(buffer, n);
  ExitStatus status = spawned.child.wait();
  result.code = status.exited ? status.code : 128 + status.signal;
  return result;
}

}  // namespace bw::testing_app

namespace bw::testing_app {

// The GUI host on the offscreen platform for the length of a scope, inside
// started modules.
class GuiSession {
 public:
  GuiSession() {
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    initAppHost();
    initGuiHostModule();
    newAppHost("Brindlework");
    appHost()->build();
  }
  ~GuiSession() {
    unbuildAppHost();
    endGuiHostModule();
    endAppHost();
  }
  GuiSession(const GuiSession&) = delete;
  GuiSession& operator=(const GuiSession&) = delete;
};

// A feed list as the main window's: one row per loaded feed, its data box
// the feed, multiple selection.
class FeedListFixture {
 public:
  explicit FeedListFixture(newsRoot& root, const cEncoding& charset) : list(&window, 1, nullptr) {
    list.initMultiSelect(true, true);
    for (newsFeed* f = root.firstLoadedFeed; f; f = f->nextLoadedFeed)
      list.addEntry(Str(f->infoName(&charset).view()), 0, false, 0, std::make_unique<boxPTR>(f), false);
  }
  // Selects the rows at these positions, leaving the cursor at cursorAt.
  void select(std::initializer_list<int32_t> rows, int32_t cursorAt) {
    for (int32_t r : rows) {
      list.cursor_gotoStart();
      list.cursor_gotoNext(r);
      list.cursor_setState(true);
    }
    list.cursor_gotoStart();
    list.cursor_gotoNext(cursorAt);
  }
  std::vector<std::string> labels() {
    std::vector<std::string> out;
    if (list.infoSize() == 0) return out;
    list.cursor_gotoStart();
    do out.emplace_back(list.cursor_getLabel().view());
    while (list.cursor_gotoNext(1) == 1);
    return out;
  }

  NeutralGuiWindow window;
  cGuiList list;
};

}  // namespace bw::testing_app
