// tools/copied_database.h - what the tools that read a database share: the
// file given is copied into a private folder first, so reading it (opening
// replays a journal and sets the open mark) never writes it; the modules the
// news model needs run around the work. The copy and every file the work
// makes (a dump holds the sign-in tokens) are the user's alone: 0600.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "core/exception.h"
#include "core/exception_print.h"
#include "database/journal_file.h"
#include "database/soup_database.h"
#include "news/news_module_list.h"
#include "platform/dos.h"
#include "platform/clock.h"

namespace bw::tools {

// Copies path to "<folder>/copy.soup" in a fresh private folder and runs
// work(folder) with the modules started. Answers work's result, 1 when the
// copy fails, 20 after printing the exception line when work raises.
inline int runOnCopiedDatabase(const char* tool, const char* path, const std::function<int(const std::string&)>& work) {
  std::string folder = std::string(P_tmpdir) + "/" + tool + "-XXXXXX";
  if (!::mkdtemp(folder.data())) return 1;
  std::error_code ec;
  std::filesystem::copy_file(path, folder + "/copy.soup", ec);
  if (ec) {
    std::fprintf(stderr, "%s: cannot read %s: %s\n", tool, path, ec.message().c_str());
    std::filesystem::remove_all(folder, ec);
    return 1;
  }
  std::filesystem::permissions(folder + "/copy.soup", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
  dos::setCreationMode(0600);
  ModuleRegistry modules;
  modules.add({"timer", initTimerDevice, closeTimerDevice});
  modules.add({"journal", journalModuleInit, journalModuleEnd});
  addNewsModules(modules);
  int rc = 0;
  try {
    modules.initAll();
    rc = work(folder);
  } catch (const eException& e) {
    printException(e);
    rc = 20;
  }
  modules.endAll();
  std::filesystem::remove_all(folder, ec);
  return rc;
}

// Opens the copy at path; FALSE after printing "<tool>: cannot open the
// database: " and why, whether the open refused the file or raised on its
// content (a damaged file is no fault of the tool's).
inline bool openCopiedDatabase(const char* tool, cJournaledIndexedObjectSoupDatabase& db, const char* path) {
  std::string why;
  try {
    if (db.open(Text(path), false)) return true;
    why = std::string(db.infoError().view());
  } catch (const eException& e) {
    if (e.code() == "MEM" || e.code() == "BRK") throw;
    why = e.message();
  }
  std::fprintf(stderr, "%s: cannot open the database: %s\n", tool, why.c_str());
  return false;
}

}  // namespace bw::tools
