// app/news_gui_windows.h - the window half of the application's news
// interface on the GUI host: the windows the news and social layers build on
// the spot (the sign-in waiting windows) become host windows, a window the
// application built (the update window) is served as the interface's, and
// the host's events come back as the interface's items.
//
// Invariants:
//   1. A window made here is a host window of cGuiHost::CreateGuiWindow;
//      destroying the interface's window ends the host window
//      (endGuiWindow) and forgets it. An adopted window stays the
//      application's: forget (or the end of this object) only drops it here.
//   2. An event of a window made here comes back with that window and the
//      interface's item for the host item (NIL for a window event; an item
//      not made through the interface gives otherNewsGuiItem()). An event of
//      any other window comes back as otherNewsGuiWindow() without an item:
//      consumed, and never taken for one of ours.
//   3. The poll is checkForChangedGuiItem(FALSE): the other windows' changed
//      items and close requests are dropped meanwhile.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "gui/gui_window.h"
#include "gui/host/core/gui_app_core.h"
#include "news/ui_seam.h"

namespace bw {

// Stand-ins for a window and an item the news layers did not build.
NewsGuiWindow* otherNewsGuiWindow();
NewsGuiItem* otherNewsGuiItem();

class NewsGuiWindows {
 public:
  NewsGuiWindows();
  ~NewsGuiWindows();
  NewsGuiWindows(const NewsGuiWindows&) = delete;
  NewsGuiWindows& operator=(const NewsGuiWindows&) = delete;

  std::unique_ptr<NewsGuiBuiltWindow> CreateGuiWindow(Text title);

  // Serves a window the application built: its events come back with the
  // answered interface window, and the gadgets given to the adopt calls as
  // their interface items (the same one for the same gadget).
  NewsGuiWindow* adoptWindow(cGuiWindow* window);
  NewsGuiText* adoptText(NewsGuiWindow* window, cGuiText* text);
  NewsGuiPageGroup* adoptPage(NewsGuiWindow* window, cGuiGroupPage* page);
  NewsGuiItem* adoptItem(NewsGuiWindow* window, cGuiItem* item);
  // Drops an adopted window (nothing for others or NIL); the host window
  // is left as it is.
  void forget(NewsGuiWindow* window);
  ChangedGuiItem checkForChangedGuiItem();
  ChangedGuiItem waitForChangedGuiItem();
  ChangedGuiItem translate(const GuiChange& change) const;

  // The host window and host item behind the interface's (NIL for others).
  cGuiWindow* hostWindow(const NewsGuiWindow* window) const;
  cGuiItem* hostItem(const NewsGuiWindow* window, const NewsGuiItem* item) const;

 private:
  class HostWindow;
  HostWindow* adopted(NewsGuiWindow* window) const;
  std::map<const cGuiWindow*, HostWindow*> windows_;
  // Declared after windows_: they leave it as they go.
  std::vector<std::unique_ptr<HostWindow>> adopted_;
};

}  // namespace bw
