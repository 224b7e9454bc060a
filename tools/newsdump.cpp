// tools/newsdump.cpp - prints the news model of a database, one line per
// object (news/news_dump.h), for looking inside a database by hand and for
// golden-text tests.
//
//   newsdump DB
//
// The database is copied to a private folder first and the copy is opened,
// so the file given is never written (opening replays a journal and sets the
// open mark). Exits with 1 when the copy cannot be opened, 20 with
// "EXCEPTION: code message" when reading fails.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/exception.h"
#include "database/journal_file.h"
#include "database/soup_database.h"
#include "news/news_dump.h"
#include "news/news_module_list.h"
#include "platform/assigns.h"
#include "platform/clock.h"

namespace {

int dump(const std::string& folder) {
  bw::dos::assignAdd("NewsDump", folder);
  bw::cJournaledIndexedObjectSoupDatabase db(0);
  if (!db.open(bw::Text("NewsDump:/copy.soup"), false)) {
    std::fprintf(stderr, "newsdump: cannot open the database: %s\n", db.infoError().c_str());
    return 1;
  }
  std::string text = bw::dumpNewsModel(db);
  std::fwrite(text.data(), 1, text.size(), stdout);
  db.closeQuickly();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: newsdump DB\n", stderr);
    return 2;
  }
  std::string pattern = std::string(P_tmpdir) + "/newsdump-XXXXXX";
  if (!::mkdtemp(pattern.data())) return 1;
  std::error_code ec;
  std::filesystem::copy_file(argv[1], pattern + "/copy.soup", ec);
  if (ec) {
    std::fprintf(stderr, "newsdump: cannot read %s: %s\n", argv[1], ec.message().c_str());
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
    rc = dump(pattern);
  } catch (const bw::eException& e) {
    std::printf("EXCEPTION: %s %s\n", e.code().c_str(), e.message().c_str());
    rc = 20;
  }
  modules.endAll();
  std::filesystem::remove_all(pattern, ec);
  return rc;
}
