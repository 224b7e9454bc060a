// app/opml_import.h - importing the feeds of an OPML file: the "Import OPML
// file" dialog and the walk that adds each feed outline, shows its first
// update in "Update feeds" and either opens "Edit feed" on it or sets its
// name and folder tag at once.
//
// Invariants:
//   1. Reading and walking are app/opml_read.h's: a bounded regular file,
//      the outlines walked without recursion in document order.
//   2. Each feed is stored as its update finishes; an import stopped by the
//      user (Cancel in "Update feeds", or in the editor) or by a quit keeps
//      the feeds added before.
//   3. A feed that cannot be added stops nothing: the import goes on, and at
//      its end one report dialog counts the feeds added, apart from those
//      already subscribed (updated, not added, not edited), and lists each
//      failed outline with its reason in a list that scrolls, so that the
//      report keeps the dialogs' size however many failed.
//   4. Addresses are added as written ("https:" stays), a "feed:" prefix
//      taken off.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/opml_read.h"
#include "app/update_window.h"
#include "core/charset.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

class cGuiList;
class cGuiWindow;

// What an import needs of the main window.
struct ImportTargets {
  cGuiWindow* mainWindow;
  cGuiList& feedList;
  cGuiList& tagList;
  UpdateWindowRecord& updateWindow;
};

struct ImportResult {
  bool quit = false;
  bool stop = false;  // the user ended the import
};

// An outline that gave no feed.
struct ImportFailure {
  std::string name;     // the outline's, empty when it has none
  std::string address;  // as added
  std::string reason;
};
struct ImportCounts {
  int64_t added = 0;
  int64_t alreadySubscribed = 0;
  std::vector<ImportFailure> failures;
};

// The report's summary line ("21 feeds added; 3 already subscribed; 1
// failed:").
std::string importReportText(const ImportCounts& counts);
// The report dialog at the end of an import: the summary line, the
// failures in a list, "OK".
void showImportReport(cGuiWindow* mainWindow, const ImportCounts& counts);

// The dialog; returns the quit flag.
bool importOpmlFile(cJournaledIndexedObjectSoupDatabase& db, ImportTargets targets, newsRoot& root,
                    const cEncoding& charset);
// Adds every feed outline from node on (walked as a folder with tags).
ImportResult importOpmlOutlines(webDataNode& node, bool dontEdit, cJournaledIndexedObjectSoupDatabase& db,
                                ImportTargets targets, newsRoot& root, const cEncoding& charset);

}  // namespace bw
