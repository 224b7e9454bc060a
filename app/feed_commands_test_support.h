// app/feed_commands_test_support.h - the fixture of the feed command tests:
// a scratch program folder with a database whose feeds are loaded in the
// root's chain, as the running program keeps them, plus a display charset,
// a scripted interface and a run of another program (xmllint, newsboat).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "database/object_soup.h"
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
