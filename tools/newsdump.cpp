// tools/newsdump.cpp - prints the news model of a database, one line per
// object (news/news_dump.h), for looking inside a database by hand and for
// golden-text tests.
//
//   newsdump DB
//
// The database is copied to a private folder first and the copy is opened,
// so the file given is never written (opening replays a journal and sets the
// open mark). Exits with 1 when the copy cannot be opened, 20 with
// the exception line when reading fails.
#include <cstdio>
#include <string>

#include "database/soup_database.h"
#include "news/news_dump.h"
#include "platform/assigns.h"
#include "tools/copied_database.h"

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
  return bw::tools::runOnCopiedDatabase("newsdump", argv[1], dump);
}
