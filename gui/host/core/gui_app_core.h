// gui/host/core/gui_app_core.h - the host's application client and window
// host without the toolkit: the FIFO event queue, the blocking and the
// polling wait, the kill command, and the window host's events, placement
// and build walk. The toolkit binding (gui/host/) derives from both and
// supplies the native steps.
//
// Invariants:
//   1. Events come out first in, first out. A gadget event names the
//      top-most owner of the changed item and its window; a window event has
//      no item and carries a close request or a dropped path (or neither:
//      the kill command's).
//   2. A wait handles its event before returning it: the window takes the
//      close request or the dropped path, an input item runs its notify
//      function, and the window's changed item is set.
//   3. Events of an ended window never come out of a wait, wherever they
//      stood in the queue.
//   4. Position and size read back as set. A window remembers its placement
//      when it closes, unless the application is iconified.
//   5. The natives are called only between build and teardown; a most
//      derived window calls tearDown() first thing in its destructor.
//   6. Once terminate() ran, the quit request stands until the next build:
//      no reader clears it, and a blocking wait never blocks (with nothing
//      queued it queues every window's window event again), so every loop
//      that waits for the user comes to its quit.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string_view>
#include <vector>

#include "gui/gui_window.h"
#include "gui/host/core/gui_host_items.h"
#include "platform/app_frame.h"

namespace bw {

class cGuiWindowHostCore;

struct GuiEvent {
  cGuiItem* item = nullptr;
  cGuiWindowHostCore* window = nullptr;
  bool closeRequest = false;
  Str droppedPath;
};

// What a wait returns; both NIL when nothing happened.
struct GuiChange {
  cGuiItem* item;
  cGuiWindow* window;
};

class cGuiAppClientCore : public cAppClient {
  BW_CLASS(cGuiAppClientCore, cAppClient)

 public:
  // Ends the windows while the client is still whole (they drop their
  // queued events on the way).
  ~cGuiAppClientCore() override;

  // The toolkit application exists (between build and unbuild).
  virtual bool hasApp() const = 0;
  // One pass of the toolkit's input: block waits for at least one event.
  virtual void inputPass(bool block) = 0;

  // Makes a window host and adds it to the client's resources. Without an
  // application raises "EPU" "cGuiHost; CreateGuiWindow(); cApp.build() must
  // be called first".
  cGuiWindowHostCore* createGuiWindow(Text title);
  // Closes the window when open, takes it out of the resources and deletes
  // it; nothing for NIL.
  void endGuiWindow(cGuiWindow* window);

  void queueChangedItem(cGuiItem* item, cGuiWindowHostCore* window);
  void queueWindowEvent(cGuiWindowHostCore* window);
  void queueDroppedPath(cGuiWindowHostCore* window, Str path);
  // Drops every queued event of the window.
  void discardEventsOf(const cGuiWindowHostCore* window);
  size_t infoQueued() const { return queue_.size(); }

  // Blocks until an event is queued ("EPU" without an application).
  GuiChange waitForChangedGuiItem();
  // One non-blocking input pass, then one event or (NIL, NIL). Unless keep,
  // every other window's changed item and close request are cleared.
  GuiChange checkForChangedGuiItem(bool keepOtherWindows);
  // The kill command: a window event for every window, then the quit
  // request. A resource that is not a window raises "BUG".
  void killCommand();
  // The kill signals' form of the kill command: a request to end the
  // program that no dialog can take back (invariant 6).
  void terminate();
  bool infoTerminating() const { return terminating_; }

  bool infoQuitRequested() const { return quitRequested_ || terminating_; }
  void setQuitRequested(bool flag) { quitRequested_ = flag; }
  bool infoIconified() const { return iconified_; }
  void minimise(cApp& app, bool flag) override;
  const Str& infoAppTitle() const { return appTitle_; }
  const Str& infoAppBase() const { return appBase_; }
  const Str& infoVersionString() const { return versionString_; }

 protected:
  // The window host class of the binding.
  virtual cGuiWindowHostCore* newWindow(Text title) = 0;
  // The names build() gives the toolkit: version "$VER: ...", title, base.
  void prepareNames(cApp& app);
  // Back to a fresh run: queue, quit, termination and iconified cleared.
  void resetRun();
  virtual void nativeMinimise(bool iconified) { (void)iconified; }

 private:
  GuiChange handle(GuiEvent& event);
  std::deque<GuiEvent> queue_;
  bool quitRequested_ = false;
  bool terminating_ = false;
  bool iconified_ = false;
  Str appTitle_, appBase_, versionString_;
};

// For scripted users in tests: called with TRUE whenever a blocking wait
// finds the queue empty (before it blocks), with FALSE whenever a poll
// finds it empty. The hook may queue events; empty: none.
void setGuiIdleHookForTesting(std::function<void(bool blocking)> hook);

// Non-zero exactly for an existing drawer (folder).
bool pathIsDrawer(Text nativePath);
// The internal path of a dropped host file or folder (a folder's ends in
// "/").
Str guiDroppedPath(std::string_view hostPath);

// Queues a change of item (reported as its top-most owner) in window.
void guiNotify(cGuiItem* item, cGuiWindowHostCore* window);

struct GuiPlacement {
  int32_t x, y, width, height;
};

class cGuiWindowHostCore : public cGuiWindow {
  BW_CLASS(cGuiWindowHostCore, cGuiWindow)

 public:
  cGuiWindowHostCore(Text title, cGuiAppClientCore* client);
  ~cGuiWindowHostCore() override;

  cGuiAppClientCore* client() const { return client_; }
  bool infoBuilt() const override { return built_; }

  // Builds the layout tree, the natives, the notifications and the cycle
  // chain; opens unless keepClosed. A group still open raises "EMU"
  // "cGuiWindow.build(); an endGroup() call is missing".
  void build(bool keepClosed = false) override;
  void open() override;
  void close() override;
  bool infoIsOpen() const override { return isOpen_; }
  Str infoTitle() const override { return title_; }
  bool infoQuitRequested(bool keep) override;
  void setQuitRequested(bool flag) override { client_->setQuitRequested(flag); }
  // The last dropped path as an owned copy; unless keep, it is handed over
  // (the next call answers NIL).
  Str getDroppedPath(bool keep) override;
  void setDroppedPath(Text path) override;
  bool infoBusy() const override { return busy_; }
  void setBusy(bool flag) override;
  // Not built and never placed: "EMU" "cGuiWindow.getPosition(); no
  // position has been specified yet".
  GuiPosition getPosition() override;
  void setPosition(int32_t x, int32_t y) override;
  // Not built and never sized: "EMU" "cGuiWindow.infoWidth(); no size has
  // been specified yet" (infoHeight likewise).
  int32_t infoWidth() override;
  int32_t infoHeight() override;
  void setSize(int32_t width, int32_t height) override;
  GuiNativeObject infoNativeObject(Text kind) override;

  // A wait hands the window its event.
  void handleWindowEvent(GuiEvent& event);
  cGuiWindowHostCore* infoNextWindow() const;
  // The focus left obj for another object of the window (not while busy).
  void focusLeft(void* obj);
  std::map<void*, cGuiItem*>& objectMap() { return objectMap_; }

 protected:
  cGuiGroupHorizontal* makeGroupHorizontal(Text title) override;
  cGuiGroupVertical* makeGroupVertical(Text title) override;
  cGuiGroupGrid* makeGroupGrid(Text title, int32_t columns) override;
  cGuiGroupPage* makeGroupPage(Text title) override;
  cGuiBreak* makeBreak() override;
  cGuiBar* makeBar(Text title) override;
  cGuiLabel* makeLabel(Text label) override;
  cGuiText* makeText(Text label) override;
  cGuiTextBox* makeTextBox(Text label) override;
  cGuiButton* makeButton(Text label) override;
  cGuiTick* makeTick(Text label) override;
  cGuiString* makeString(Text label) override;
  cGuiStringBox* makeStringBox(Text label) override;
  cGuiPathString* makePathString(Text label) override;
  cGuiNumberString* makeNumberString(Text label, int32_t min, int32_t max) override;
  cGuiSlider* makeSlider(Text label, int32_t min, int32_t max) override;
  cGuiCycleChoice* makeCycleChoice(Text label, const StrChain& choices) override;
  cGuiRadioChoice* makeRadioChoice(Text label, const StrChain& choices) override;
  cGuiNativeSimple* makeNativeSimple() override;
  cGuiList* makeList(int32_t columns, Text title) override;

  // The natives the binding supplies.
  virtual void nativeBuild(const GuiLayoutNode& root) = 0;
  virtual void nativeCycleChain(const std::vector<cGuiItem*>& chain, cGuiItem* firstFocus) = 0;
  virtual void nativeShow(bool open) = 0;
  virtual GuiPlacement nativePlacement() = 0;
  virtual void nativeMove(int32_t x, int32_t y) = 0;
  virtual void nativeResize(int32_t width, int32_t height) = 0;
  virtual void nativeBusy(bool busy) = 0;
  virtual void nativeDestroy() = 0;
  virtual GuiNativeObject nativeObject(Text kind) = 0;

  // Closes, drops the window's queued events, clears every record's view
  // along the build chain and then destroys the natives. The most derived
  // class's destructor calls it first.
  void tearDown();
  // Position and size of the open window, stored as the neutral values.
  void rememberPlacement();

 private:
  void capturePlacement();
  int32_t sizeQuery(bool width);
  std::vector<cGuiItem*> buildChain() const;

  Str title_;
  cGuiAppClientCore* client_;
  bool built_ = false;
  bool isOpen_ = false;
  bool busy_ = false;
  Str droppedPath_;
  std::map<void*, cGuiItem*> objectMap_;
};

}  // namespace bw
