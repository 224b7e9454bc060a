// app/gui_news_ui.h - the news layer's interface in GUI mode: requesters and
// reports as requester windows, the two waits and the windows the news and
// social layers build, on the GUI host (app/news_gui_windows.h).
//
// Invariants:
//   1. While installed (GuiNewsUiScope), gui_requester and report of
//      app/console_ui.h show windows too, so the program's own messages and
//      the news layer's look alike.
//   2. Leaving the scope puts the console interface back before the host is
//      unbuilt.
#pragma once

#include "app/news_gui_windows.h"
#include "news/ui_seam.h"

namespace bw {

class GuiNewsUi : public NewsUi {
 public:
  int32_t gui_requester(Text title, Text text, Text buttons, const RequesterParameters& parameters, int32_t wrap1,
                        int32_t wrap2) override;
  void report(Text title, Text text, const RequesterParameters& parameters) override;
  ChangedGuiItem checkForChangedGuiItem() override { return windows_.checkForChangedGuiItem(); }
  ChangedGuiItem waitForChangedGuiItem() override { return windows_.waitForChangedGuiItem(); }
  std::unique_ptr<NewsGuiBuiltWindow> CreateGuiWindow(Text title) override { return windows_.CreateGuiWindow(title); }

  NewsGuiWindows& windows() { return windows_; }

 private:
  NewsGuiWindows windows_;
};

// Installs a GuiNewsUi and the requester window for its lifetime; the
// previous interface (the console's) comes back at the end.
class GuiNewsUiScope {
 public:
  GuiNewsUiScope();
  ~GuiNewsUiScope();
  GuiNewsUiScope(const GuiNewsUiScope&) = delete;
  GuiNewsUiScope& operator=(const GuiNewsUiScope&) = delete;
  GuiNewsUi& ui() { return ui_; }

 private:
  GuiNewsUi ui_;
  NewsUi* previous_;
};

}  // namespace bw
