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
//      its end one report counts the feeds added and lists each failed
//      outline with its reason ("21 feeds added; 1 failed: ...").
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

// The text of the report at the end of an import; failures are one line
// each ("name (address): reason").
std::string importReportText(int64_t added, const std::vector<std::string>& failures);

// The dialog; returns the quit flag.
bool importOpmlFile(cJournaledIndexedObjectSoupDatabase& db, ImportTargets targets, newsRoot& root,
                    const cEncoding& charset);
// Adds every feed outline from node on (walked as a folder with tags).
ImportResult importOpmlOutlines(webDataNode& node, bool dontEdit, cJournaledIndexedObjectSoupDatabase& db,
                                ImportTargets targets, newsRoot& root, const cEncoding& charset);

}  // namespace bw
