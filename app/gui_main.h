// app/gui_main.h - the windowed mode: gui builds the main, contents and
// update windows, runs the command loop until the user quits, stores the
// selections and ends its windows.
//
// Invariants:
//   1. The loop's first command is the feed-list command; then each turn
//      takes one changed gadget and runs the first command whose gadget it
//      is (in a fixed order); an event of another gadget or window does
//      nothing.
//   2. A quit (main window closed with the contents window closed, "Yes" to
//      the close question, the toolkit's kill command, a command's quit
//      flag) ends the loop at its next turn: the tag and feed selections are
//      stored in one transaction, the status window opened, the gadget
//      states saved, the windows ended.
//   3. An exception inside a command ends gui: the windows are ended and the
//      exception passes on, with nothing stored and no state saved.
//   4. SIGINT, SIGTERM and SIGHUP come in as the kill command (the GUI host
//      holds them while built): in GUI mode SIGINT never sets the break flag.
#pragma once

#include "app/status_window.h"
#include "database/soup_database.h"
#include "news/news_objects.h"

namespace bw {

// Runs the windowed mode; statusWindow may be NIL. A system encoding that
// cannot be loaded raises "ERR" "gui(); failed to load system charset".
void gui(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, StatusWindow* statusWindow);

}  // namespace bw
