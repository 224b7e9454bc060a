// tools/feedget.cpp - runs the feed update road by hand, as the shell update
// does: adds feeds, or updates every enabled feed of a database, through
// addUpdateFeed with no window, then prints the feeds and their item counts.
//
//   feedget URL... [--urls FILE] [--db FILE]
//   feedget --update-all [--db FILE]
//
// --urls names a file of addresses, one a line, added after those given.
// The database (default "feedget.soup" in the current folder) is made when
// it does not exist. Reports go to the standard output; a question (the
// choice of feeds on a web page) reads its answer from the standard input,
// and an empty or unreadable answer picks the last button. Exits with 0, 1
// when the database cannot be opened, 5 when a feed failed, 20 with
// "EXCEPTION: code message" when something raised.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/exception.h"
#include "core/string_procs.h"
#include "database/journal_file.h"
#include "database/soup_database.h"
#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "news/html_text.h"
#include "news/news_load.h"
#include "news/news_module_list.h"
#include "platform/assigns.h"
#include "platform/clock.h"
#include "platform/dos.h"
#include "platform/dos_env.h"
#include "web/http.h"

namespace {

// Removes the toolkit's text codes ("\x1b" and one character) and shows
// every other control byte but the line end as "?": names and messages from
// feeds never reach the terminal as escape sequences.
std::string plain(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '1') {
      ++i;
      continue;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    out += (c < 0x20 && c != '\n') || c == 0x7F ? '?' : text[i];
  }
  return out;
}

class ConsoleUi : public bw::NewsUi {
 public:
  int32_t gui_requester(bw::Text title, bw::Text text, bw::Text buttons, const bw::RequesterParameters& parameters,
                        int32_t, int32_t) override {
    std::printf("%s: %s\n[%s] ", std::string(title.view()).c_str(),
                plain(bw::fillFormatText(text.view(), parameters)).c_str(), std::string(buttons.view()).c_str());
    std::fflush(stdout);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) return 0;
    const long n = std::strtol(line, nullptr, 10);
    const long count = static_cast<long>(std::count(buttons.view().begin(), buttons.view().end(), '|')) + 1;
    return n >= 1 && n < count ? static_cast<int32_t>(n) : 0;
  }
  void report(bw::Text title, bw::Text text, const bw::RequesterParameters& parameters) override {
    std::printf("\n%s: %s\n", std::string(title.view()).c_str(),
                plain(bw::fillFormatText(text.view(), parameters)).c_str());
  }
  bw::ChangedGuiItem checkForChangedGuiItem() override { return {}; }
  bw::ChangedGuiItem waitForChangedGuiItem() override { return {}; }
};

struct Options {
  std::vector<std::string> urls;
  bool updateAll = false;
  std::string db = "feedget.soup";
};

int run(const Options& o) {
  namespace fs = std::filesystem;
  const fs::path dbPath = fs::absolute(o.db);
  bw::dos::assignAdd("FeedGet", dbPath.parent_path().string());
  // The commit delay the application uses: changes wait for the flush that
  // ends each document (or two seconds).
  bw::cJournaledIndexedObjectSoupDatabase db(2);
  const std::string internal = "FeedGet:/" + dbPath.filename().string();
  if (!db.open(bw::Text(internal), false)) {
    std::fprintf(stderr, "feedget: cannot open %s: %s\n", dbPath.c_str(), db.infoError().c_str());
    return 1;
  }
  bw::newsRoot* root = nullptr;
  if (db.infoRootValue() != 0) {
    root = bw::loadObject_newsRoot(db, db.infoRootValue());
  } else {
    root = new bw::newsRoot;
    root->init(&db);
    db.setRootValue(db.createdObject(root));
  }
  // Every stored feed loaded, in list order, as the application keeps them.
  bw::newsFeed** tail = &root->firstLoadedFeed;
  for (int32_t i = root->feedList->infoHeadIndex(); i != 0;) {
    bw::newsFeed* feed = bw::loadObject_newsFeed(db, i);
    *tail = feed;
    tail = &feed->nextLoadedFeed;
    i = feed->infoNextIndex();
  }

  int failed = 0;
  if (o.updateAll) {
    for (bw::newsFeed* feed = root->firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
      if (feed->disabled) continue;
      bw::AddUpdateResult r = bw::addUpdateFeed(db, *root, nullptr, nullptr, feed->url, feed, nullptr, 0, 0);
      if (r.failure.empty()) continue;
      ++failed;
      std::printf("failed: %s  %s: %s\n", bw::printableLine(feed->infoName(nullptr).view()).c_str(),
                  bw::printableLine(feed->url.view()).c_str(), bw::printableLine(r.failure).c_str());
    }
  } else {
    for (const std::string& url : o.urls) {
      bw::DownloaderMade made = bw::createDownloaderForURL(*root, bw::Str(url), nullptr, nullptr);
      if (!made.downloader) {
        std::printf("feedget: cannot open %s (%d)\n", bw::printableLine(url).c_str(), made.errorCode);
        ++failed;
        continue;
      }
      bw::AddUpdateResult r =
          bw::addUpdateFeed(db, *root, nullptr, made.downloader.get(), bw::Str(url), nullptr, nullptr, 0, 0);
      if (r.feed) continue;
      ++failed;
      if (!r.failure.empty()) {
        std::printf("failed: %s: %s\n", bw::printableLine(url).c_str(), bw::printableLine(r.failure).c_str());
      }
    }
  }
  std::printf("\n");
  int feeds = 0;
  for (bw::newsFeed* feed = root->firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
    int items = 0;
    for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) ++items;
    std::printf("%6d %s  %s\n", items, bw::printableLine(feed->infoName(nullptr).view()).c_str(),
                bw::printableLine(feed->url.view()).c_str());
    ++feeds;
  }
  std::printf("%d feeds\n", feeds);
  for (bw::newsFeed* f = root->firstLoadedFeed; f;) {
    bw::newsFeed* next = f->nextLoadedFeed;
    db.unloadObject(f);
    f = next;
  }
  db.unloadObject(root);
  db.close();
  return failed ? 5 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  bw::dos::setCreationMode(0600);  // the database is the user's alone, as the program's is
  Options o;
  bool bad = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--update-all") {
      o.updateAll = true;
    } else if (a == "--db" && i + 1 < argc) {
      o.db = argv[++i];
    } else if (a == "--urls" && i + 1 < argc) {
      std::ifstream in(argv[++i]);
      bad = bad || !in;
      for (std::string line; std::getline(in, line);) {
        if (!line.empty()) o.urls.push_back(line);
      }
    } else if (!a.empty() && a[0] != '-') {
      o.urls.push_back(a);
    } else {
      bad = true;
    }
  }
  if (bad || o.urls.empty() == !o.updateAll) {
    std::fputs("usage: feedget URL... [--urls FILE] [--db FILE] | feedget --update-all [--db FILE]\n", stderr);
    return 2;
  }
  bw::ModuleRegistry modules;
  modules.add({"dos", bw::dos::initDosLayer, bw::dos::endDosLayer});
  modules.add({"timer", bw::initTimerDevice, bw::closeTimerDevice});
  modules.add({"journal", bw::journalModuleInit, bw::journalModuleEnd});
  modules.add({"http", bw::initHTTPModule, bw::endHTTPModule});
  bw::addNewsModules(modules);
  ConsoleUi ui;
  bw::setNewsUi(&ui);
  bw::dos::setShellMode(true);
  int rc = 0;
  try {
    modules.initAll();
    rc = run(o);
  } catch (const bw::eException& e) {
    std::printf("EXCEPTION: %s %s\n", e.code().c_str(), e.message().c_str());
    rc = 20;
  }
  modules.endAll();
  bw::setNewsUi(nullptr);
  return rc;
}
