// tools/soupdefault.cpp - makes "database.soup.default", the empty news
// database a fresh install starts from (cleanly closed, root value 0). The
// build runs it beside the brindlework executable.
//
//   soupdefault FILE
//
// The database is made under a temporary name in FILE's folder and renamed
// over FILE, so FILE is never a partial database. Exits with 1 on failure.
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/exception.h"
#include "core/exception_print.h"
#include "core/module_registry.h"
#include "database/journal_file.h"
#include "database/soup_database.h"
#include "platform/assigns.h"
#include "platform/clock.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: soupdefault FILE\n", stderr);
    return 2;
  }
  const std::filesystem::path out = std::filesystem::absolute(argv[1]);
  const std::filesystem::path temporary = out.string() + ".new";
  bw::ModuleRegistry modules;
  modules.add({"timer", bw::initTimerDevice, bw::closeTimerDevice});
  modules.add({"journal", bw::journalModuleInit, bw::journalModuleEnd});
  int rc = 1;
  try {
    modules.initAll();
    bw::dos::assignAdd("SoupDefault", out.parent_path().string());
    bw::cJournaledIndexedObjectSoupDatabase db(0);
    if (db.openNew(bw::Text("SoupDefault:/" + temporary.filename().string()), false, false)) {
      db.close();
      std::error_code ec;
      std::filesystem::rename(temporary, out, ec);
      rc = ec ? 1 : 0;
    }
  } catch (const bw::eException& e) {
    bw::printException(e);
    rc = 20;
  }
  modules.endAll();
  if (rc != 0) std::fprintf(stderr, "soupdefault: cannot make %s\n", out.c_str());
  return rc;
}
