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
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/backup_dump.h"
#include "core/exception.h"
#include "core/exception_print.h"
#include "database/journal_file.h"
#include "news/news_load.h"
#include "news/news_module_list.h"
#include "platform/assigns.h"
#include "platform/clock.h"

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
  std::string pattern = std::string(P_tmpdir) + "/soupdump-XXXXXX";
  if (!::mkdtemp(pattern.data())) return 1;
  std::error_code ec;
  std::filesystem::copy_file(argv[1], pattern + "/copy.soup", ec);
  if (ec) {
    std::fprintf(stderr, "soupdump: cannot read %s: %s\n", argv[1], ec.message().c_str());
    std::filesystem::remove_all(pattern, ec);
    return 1;
  }
  bw::ModuleRegistry modules;
  modules.add({"timer", bw::initTimerDevice, bw::closeTimerDevice});
  modules.add({"journal", bw::journalModuleInit, bw::journalModuleEnd});
  bw::addNewsModules(modules);
  int rc = 0;
  try {
    modules.initAll();
    rc = dump(pattern, argv[2]);
  } catch (const bw::eException& e) {
    bw::printException(e);
    rc = 20;
  }
  modules.endAll();
  std::filesystem::remove_all(pattern, ec);
  return rc;
}
