// tools/soupdump.cpp - writes the backup dump ("database.backup" format) of
// a news database, for moving feeds and items into a fresh database and for
// seeding tests.
//
//   soupdump DB DUMP
//
// The database is copied to a private folder and the copy is read, so the
// file given is never written. Exits with 1 when the copy cannot be opened
// or the dump cannot be written, 20 with the exception line when reading
// fails.
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/backup_dump.h"
#include "news/news_load.h"
#include "platform/assigns.h"
#include "tools/copied_database.h"

namespace {

int dump(const std::string& folder, const std::filesystem::path& out) {
  bw::dos::assignAdd("SoupDumpIn", folder);
  bw::dos::assignAdd("SoupDumpOut", std::filesystem::absolute(out).parent_path().string());
  bw::cJournaledIndexedObjectSoupDatabase db(0);
  if (!db.open(bw::Text("SoupDumpIn:/copy.soup"), false)) {
    std::fprintf(stderr, "soupdump: cannot open the database: %s\n", db.infoError().c_str());
    return 1;
  }
  bw::newsRoot* root = db.infoRootValue() ? bw::loadObject_newsRoot(db, db.infoRootValue()) : nullptr;
  bool written = false;
  if (root) {
    bw::newsFeed** link = &root->firstLoadedFeed;
    for (int32_t index = root->feedList->infoHeadIndex(); index != 0;) {
      bw::newsFeed* feed = bw::loadObject_newsFeed(db, index);
      if (!feed) break;
      *link = feed;
      link = &feed->nextLoadedFeed;
      index = feed->infoNextIndex();
    }
    written = bw::writeDatabaseBackup("SoupDumpOut:/" + out.filename().string(), *root, db);
  }
  db.closeQuickly();
  if (!written) std::fprintf(stderr, "soupdump: no dump written\n");
  return written ? 0 : 1;
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
