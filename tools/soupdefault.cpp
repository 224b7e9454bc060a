// tools/soupdefault.cpp - makes "database.soup.default", the empty news
// database a fresh install starts from (cleanly closed, root value 0). The
// build runs it beside the brindlework executable.
//
//   soupdefault FILE
//
// FILE must not exist: the tool never replaces a file, and takes no options
// (an argument starting with "-" gets the usage line). The database is made
// under a temporary name in FILE's folder and renamed onto FILE only when
// whole, never over one that appeared meanwhile, so FILE is never a partial
// database. Exits with 2 for a wrong command line, 1 on failure.
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
#include "platform/owned_names.h"

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-' || argv[1][0] == '\0') {
    std::fputs("usage: soupdefault FILE\n", stderr);
    return 2;
  }
  const std::filesystem::path out = std::filesystem::absolute(argv[1]);
  std::error_code ec;
  bool there = std::filesystem::symlink_status(out, ec).type() != std::filesystem::file_type::not_found;
  if (there) {
    std::fprintf(stderr, "soupdefault: %s already exists\n", out.c_str());
    return 1;
  }
  bw::ModuleRegistry modules;
  modules.add({"timer", bw::initTimerDevice, bw::closeTimerDevice});
  modules.add({"journal", bw::journalModuleInit, bw::journalModuleEnd});
  int rc = 1;
  try {
    modules.initAll();
    bw::dos::assignAdd("SoupDefault", out.parent_path().string());
    bw::OwnedFile temporary("SoupDefault:/", out.filename().string() + "_New_");
    bw::cJournaledIndexedObjectSoupDatabase db(0);
    if (db.openNew(temporary.name(), false, false)) {
      db.close();
      const std::string target = "SoupDefault:/" + out.filename().string();
      if (temporary.renameTo(bw::Text(target))) {
        rc = 0;
      } else {
        there = bw::entryStandsAt(bw::Text(target));  // made meanwhile
      }
    }
  } catch (const bw::eException& e) {
    bw::printException(e);
    rc = 20;
  }
  modules.endAll();
  if (rc == 1) std::fprintf(stderr, there ? "soupdefault: %s already exists\n" : "soupdefault: cannot make %s\n", out.c_str());
  return rc;
}
