// app/shell_update.cpp - the shell-mode update of every feed.
#include "app/shell_update.h"

#include <algorithm>
#include <vector>

#include "app/console_ui.h"
#include "core/exception.h"
#include "core/system_charset.h"
#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "news/seen_times.h"
#include "platform/dos_env.h"

namespace bw {
namespace {

ShellFeedUpdate gUpdateForTesting;

// The update of one feed through the news layer's downloaders; the
// downloader is deleted when the update returns or raises.
bool updateOneFeed(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, const cEncoding& charset, newsFeed& feed) {
  DownloaderMade made = createFeedDownloader(db, root, feed, nullptr);
  if (!made.downloader) return false;
  addUpdateFeed(db, root, &charset, made.downloader.get(), feed.url, &feed, nullptr, 0, 0);
  return true;
}

}  // namespace

void setShellFeedUpdateForTesting(ShellFeedUpdate update) { gUpdateForTesting = std::move(update); }

void shell_updateAll(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
  std::unique_ptr<cEncoding> charset = newSystemEncoding();
  if (!charset) raise("ERR", "shell_updateAll(); failed to load system charset");
  if (!root.firstLoadedFeed) return;
  std::vector<newsFeed*> work;
  for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) work.push_back(feed);
  std::stable_sort(work.begin(), work.end(),
                   [](const newsFeed* a, const newsFeed* b) { return a->newestItemTime < b->newestItemTime; });
  bool cancelled = false;
  for (newsFeed* feed : work) {
    if (!feed->disabled) {
      if (gUpdateForTesting) {
        gUpdateForTesting(db, root, *charset, *feed);
      } else {
        updateOneFeed(db, root, *charset, *feed);
      }
    }
    if (dos::checkBreak()) {
      cancelled = true;
      break;
    }
  }
  consolePrint(cancelled ? "\nUpdate cancelled by user.\n" : "\n");
  updateOldestSeenTime(root, nullptr, nullptr, true);
}

}  // namespace bw
