// gui/host/core/gui_host_test_support.h - test helpers: an application
// client and a window host whose natives are plain fields, so the queue,
// the waits, the build walk and the placement run without a toolkit.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "gui/host/core/gui_app_core.h"
#include "gui/host/core/gui_list_host.h"

namespace bw {

// A view that keeps what it was told.
class FakeGuiView : public GuiGadgetView {
 public:
  void showText(Text shown) override { text = Str(shown.view()); }
  Str shownText() override { return text; }
  void showHelp(Text h) override { help = h.isNil() ? Str() : Str(h.view()); }
  void showDisabled(bool flag) override { disabled = flag; }
  void showPage(int32_t p) override { page = p; }
  void attachNotify(std::function<void()> n) override { notify = std::move(n); }
  void* nativeObject() override { return this; }

  Str text, help;
  bool disabled = false;
  int32_t page = -1;
  std::function<void()> notify;
};

// A list view that counts what it was told.
class FakeGuiListView : public GuiListView {
 public:
  void* nativeObject() override { return this; }
  void listInserted(int32_t, int32_t count) override { inserted += count; }
  void listRemoved(int32_t, int32_t count) override { removed += count; }
  void listChanged(int32_t) override { ++changed; }
  void listReset() override { ++resets; }
  void showSelection() override { ++selectionsShown; }
  void showRowSelection(int32_t) override { ++selectionsShown; }
  void showTitleMark(uint32_t m) override { mark = m; }
  void jumpTo(int32_t row) override { jumpedTo = row; }
  std::vector<int32_t> shownColumnWidths() override { return widths; }
  void showColumnWidths(const std::vector<int32_t>& w) override { widths = w; }
  GuiColourMap screenColours() override { return colours; }

  int inserted = 0, removed = 0, changed = 0, resets = 0, selectionsShown = 0;
  int32_t jumpedTo = -1;
  uint32_t mark = 0;
  std::vector<int32_t> widths;
  GuiColourMap colours;
};

class FakeGuiWindow : public cGuiWindowHostCore {
 public:
  using cGuiWindowHostCore::cGuiWindowHostCore;
  ~FakeGuiWindow() override { tearDown(); }

  // Gives every item of the layout a view, as a binding would.
  void nativeBuild(const GuiLayoutNode& root) override {
    layout = root;
    giveViews(root);
  }
  void nativeCycleChain(const std::vector<cGuiItem*>& c, cGuiItem* focus) override {
    chain = c;
    firstFocus = focus;
  }
  void nativeShow(bool open) override {
    shown = open;
    ++shows;
  }
  GuiPlacement nativePlacement() override { return placement; }
  void nativeMove(int32_t x, int32_t y) override { placement.x = x, placement.y = y; }
  void nativeResize(int32_t w, int32_t h) override { placement.width = w, placement.height = h; }
  void nativeBusy(bool busy) override { nativeIsBusy = busy; }
  // The records must no longer hold views when the natives go.
  void nativeDestroy() override {
    destroyed = true;
    for (cGuiItem* item = infoRootGroup()->infoFirst(); item; item = item->infoNextBuilt()) {
      if (guiView(*item)) viewsLeftAtDestroy = true;
    }
    if (gDestroyedWith) *gDestroyedWith = viewsLeftAtDestroy;
  }
  GuiNativeObject nativeObject(Text) override { return {this, false}; }

  FakeGuiView* viewOf(const cGuiItem& item) { return static_cast<FakeGuiView*>(guiView(item)); }

  GuiLayoutNode layout;
  std::vector<cGuiItem*> chain;
  cGuiItem* firstFocus = nullptr;
  bool shown = false, nativeIsBusy = false, destroyed = false, viewsLeftAtDestroy = false;
  // Where a test wants to learn viewsLeftAtDestroy of a window it ends.
  static inline bool* gDestroyedWith = nullptr;
  int shows = 0;
  GuiPlacement placement{10, 20, 300, 200};

 private:
  void giveViews(const GuiLayoutNode& node) {
    if (node.item && node.item->isOfClass(cGuiListHost::kClassName)) {
      guiRecord(*node.item).view = std::make_unique<FakeGuiListView>();
    } else if (node.item && (node.kind == GuiLayoutKind::Object || node.kind == GuiLayoutKind::Group)) {
      auto view = std::make_unique<FakeGuiView>();
      if (node.item->isOfClass(cGuiTextHost::kClassName)) {
        auto* text = static_cast<cGuiTextHost*>(node.item);
        view->text = text->initialShown();
      }
      guiRecord(*node.item).view = std::move(view);
    }
    for (const GuiLayoutNode& child : node.children) giveViews(child);
  }
};

class FakeGuiClient : public cGuiAppClientCore {
 public:
  bool hasApp() const override { return app; }
  // Each pass runs the next scripted step (or nothing).
  void inputPass(bool block) override {
    ++passes;
    if (block) ++blockingPasses;
    if (!script.empty()) {
      auto step = std::move(script.front());
      script.pop_front();
      step();
    }
  }
  FakeGuiWindow* window(const char* title) { return static_cast<FakeGuiWindow*>(createGuiWindow(title)); }
  void newRun() { resetRun(); }

  bool app = true;
  int passes = 0, blockingPasses = 0;
  std::deque<std::function<void()>> script;

 protected:
  cGuiWindowHostCore* newWindow(Text title) override { return new FakeGuiWindow(title, this); }
};

}  // namespace bw
