// tools/soupdump.cpp - writes the backup dump ("database.backup" format) of
// a news database, for moving feeds and items into a fresh database and for
// seeding tests.
//
//   soupdump DB DUMP
//
// The database is copied to a private folder and the copy is read, so the
// file given is never written. What reads is dumped: a feed or item that
// does not read is left out, an item whose body does not read keeps an
// empty body, and every object is read at most once, so a damaged list that
// goes round ends. Exits with 1 when the copy cannot be opened or the dump
// cannot be written; 3 when the dump was written but some of the database
// could not be read, after a last line "soupdump: not whole: could not read
// ..." naming what; 20 with the exception line for anything else.
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/backup_dump.h"
#include "news/news_dump.h"
#include "news/news_load.h"
#include "platform/assigns.h"
#include "tools/copied_database.h"

namespace {

// Written, but not all of the database read.
constexpr int kNotWhole = 3;

int dump(const std::string& folder, const std::filesystem::path& out) {
  bw::dos::assignAdd("SoupDumpIn", folder);
  bw::dos::assignAdd("SoupDumpOut", std::filesystem::absolute(out).parent_path().string());
  bw::cJournaledIndexedObjectSoupDatabase db(0);
  if (!bw::tools::openCopiedDatabase("soupdump", db, "SoupDumpIn:/copy.soup")) return 1;
  bw::NewsModelReader reader(db);
  // A database without a root holds no feeds: its dump is one NIL record.
  bw::newsRoot none;
  bw::newsRoot* root = reader.root();
  bw::newsRoot& holder = root ? *root : none;
  bw::newsFeed** link = &holder.firstLoadedFeed;
  for (int32_t index : reader.members(holder.feedList, "the feed list")) {
    if (bw::newsFeed* feed = reader.feed(index)) {
      *link = feed;
      link = &feed->nextLoadedFeed;
    }
  }
  const bool written = bw::writeDatabaseBackup(
      "SoupDumpOut:/" + out.filename().string(), holder, db,
      [&](bw::newsFeed& feed, const std::function<void(bw::newsItem&, bw::newsItemBody*)>& write) {
        for (int32_t index : reader.members(feed.itemList, "the item list of feed " + std::to_string(feed.soupIndexOrNone()))) {
          bw::newsItem* item = reader.item(index, feed);
          if (!item) continue;
          bw::LoadedUse itemUse(db, item);
          bw::newsItemBody* body = reader.body(*item);
          bw::LoadedUse bodyUse(db, body);
          write(*item, body);
        }
      });
  if (written) reader.noteUnreached();
  // Closing frees the root and the feeds still loaded.
  db.closeQuickly();
  if (!written) {
    std::fprintf(stderr, "soupdump: no dump written\n");
    return 1;
  }
  if (reader.whole()) return 0;
  std::fprintf(stderr, "soupdump: not whole: %s\n", reader.summary().c_str());
  return kNotWhole;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: soupdump DB DUMP\n", stderr);
    return 2;
  }
  const std::filesystem::path out = argv[2];
  return bw::tools::runOnCopiedDatabase("soupdump", argv[1], [&](const std::string& folder) { return dump(folder, out); });
}
