// app/news_item_commands.h - the news side of the command loop: the news
// list, the two feed ticks of the "Summary of news item" group, "Show
// previous update", "Open"/"Close", "Open link", the item "Info", "Mark
// unread" and the never-built delete-item and mark buttons; the Show,
// Filter and Search controls come with them (app/show_filter_search.h).
// Each keeps the shown-item state of the gadget set.
//
// Invariants:
//   1. The shown item is the newest update of the selected item's chain (or
//      the selected item itself), until "Show previous update" moves it
//      along the chain; every object replaced is given back first.
//   2. A command that needs a selected or shown item does nothing without
//      one.
//   3. "Open link" opens only http:// and https:// links (any case) without
//      control characters, through openURL with the link as one argument;
//      any other link prints "WARNING: Not opening link of unsupported
//      kind.\n". The item counts as seen either way.
//   4. The contents window is opened only by "Open" and by activating a row
//      with something to show; "Close", "Mark unread" and a render with
//      nothing to show close it.
#pragma once

#include <string>

#include "app/main_windows.h"
#include "database/soup_database.h"
#include "gui/gui_item.h"
#include "news/news_objects.h"

namespace bw {

// The window asleep (busy pointer, no input) for the span of a command.
class WindowBusy {
 public:
  explicit WindowBusy(cGuiWindow* window) : window_(window) { window_->setBusy(true); }
  WindowBusy(const WindowBusy&) = delete;
  WindowBusy& operator=(const WindowBusy&) = delete;
  ~WindowBusy() { window_->setBusy(false); }

 private:
  cGuiWindow* window_;
};

// The commands one by one, in the loop's order.
void summaryIsContentsTicked(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g);
void wrongAboutUpdatesTicked(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g);
void showPreviousUpdate(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g);
void openOrCloseContents(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g);
void openNewsItemLink(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g);
// Answers the quit flag.
bool newsItemInfo(GuiGadgets& g);
bool deleteShownNewsItem(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g);
void markNewsItemUnread(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g);
void setNewsItemSecondMark(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g, bool mark);
void newsListChanged(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, GuiGadgets& g);

// Hands the selected item, shown item and shown body back, runs both
// gadget rules with no item and empties the summary texts.
void clearShownItem(cJournaledIndexedObjectSoupDatabase& db, GuiGadgets& g);

// Whether "Open link" opens the link: http:// or https:// (any case) and no
// control character.
bool isOpenableLink(Text link);
// Why "Open link" does not open link, in words; empty when it does.
std::string linkRefusal(Text link);

}  // namespace bw
