// gui/host/core/gui_app_core.cpp - the event queue, the two waits, the kill
// command and the window host's toolkit-free half.
#include "gui/host/core/gui_app_core.h"

#include <algorithm>
#include <string>

#include "core/exception.h"
#include "gui/gui_fixed_list.h"
#include "gui/host/core/gui_input_hosts.h"
#include "gui/host/core/gui_list_host.h"
#include "gui/host/core/gui_text.h"
#include "platform/links.h"
#include "platform/native_path.h"
#include "platform/path.h"

namespace bw {
namespace {

std::function<void(bool)> gIdleHook;

}  // namespace

void setGuiIdleHookForTesting(std::function<void(bool blocking)> hook) { gIdleHook = std::move(hook); }

// ---- the application client ----

cGuiAppClientCore::~cGuiAppClientCore() {
  while (cAppResource* r = infoFirstResource()) delete rem(r);
}

cGuiWindowHostCore* cGuiAppClientCore::createGuiWindow(Text title) {
  if (!hasApp()) raise("EPU", "cGuiHost; CreateGuiWindow(); cApp.build() must be called first");
  cGuiWindowHostCore* window = newWindow(title);
  add(window);
  return window;
}

void cGuiAppClientCore::endGuiWindow(cGuiWindow* window) {
  if (!window) return;
  if (window->infoIsOpen()) window->close();
  delete rem(window);
}

void cGuiAppClientCore::queueChangedItem(cGuiItem* item, cGuiWindowHostCore* window) {
  queue_.emplace_back(GuiEvent{item, window, false, Str()});
}

void cGuiAppClientCore::queueWindowEvent(cGuiWindowHostCore* window) {
  queue_.push_back(GuiEvent{nullptr, window, true, Str()});
}

void cGuiAppClientCore::queueDroppedPath(cGuiWindowHostCore* window, Str path) {
  queue_.push_back(GuiEvent{nullptr, window, false, std::move(path)});
}

void cGuiAppClientCore::discardEventsOf(const cGuiWindowHostCore* window) {
  std::erase_if(queue_, [window](const GuiEvent& e) { return e.window == window; });
}

GuiChange cGuiAppClientCore::handle(GuiEvent& event) {
  if (!event.item) {
    if (event.window) event.window->handleWindowEvent(event);
  } else if (event.item->isOfClass(cGuiInputItem::kClassName)) {
    static_cast<cGuiInputItem*>(event.item)->notifyChanged();
  } else if (event.item->isOfClass(cGuiContainerInputItem::kClassName)) {
    static_cast<cGuiContainerInputItem*>(event.item)->notifyChanged();
  }
  if (event.window) event.window->setChangedItem(event.item);
  return {event.item, event.window};
}

GuiChange cGuiAppClientCore::waitForChangedGuiItem() {
  if (!hasApp()) raise("EPU", "cGuiHost; waitForChangedGuiItem(); cApp.build() must be called first");
  while (queue_.empty()) {
    if (terminating_) {
      killCommand();
      if (queue_.empty()) return {nullptr, nullptr};  // no window to tell
      break;
    }
    if (gIdleHook) {
      gIdleHook(true);
      if (!queue_.empty()) break;
    }
    inputPass(true);
  }
  GuiEvent event = std::move(queue_.front());
  queue_.pop_front();
  return handle(event);
}

GuiChange cGuiAppClientCore::checkForChangedGuiItem(bool keepOtherWindows) {
  if (!hasApp()) raise("EPU", "cGuiHost; checkForChangedGuiItem(); cApp.build() must be called first");
  inputPass(false);
  if (gIdleHook && queue_.empty()) gIdleHook(false);
  GuiChange change{nullptr, nullptr};
  if (!queue_.empty()) {
    GuiEvent event = std::move(queue_.front());
    queue_.pop_front();
    change = handle(event);
  }
  if (!keepOtherWindows) {
    for (cAppResource* r = infoFirstResource(); r; r = r->infoNextResource()) {
      if (r == change.window || !r->isOfClass(cGuiWindow::kClassName)) continue;
      auto* window = static_cast<cGuiWindow*>(r);
      window->setChangedItem(nullptr);
      window->setCloseRequested(false);
    }
  }
  return change;
}

void cGuiAppClientCore::killCommand() {
  for (cAppResource* r = infoFirstResource(); r; r = r->infoNextResource()) {
    if (!r->isOfClass(cGuiWindowHostCore::kClassName)) raise("BUG", "cGui; appCxBroker(); resource is not a window!");
    auto* window = static_cast<cGuiWindowHostCore*>(r);
    queueChangedItem(nullptr, window);
    window->setQuitRequested(true);
  }
}

void cGuiAppClientCore::terminate() {
  terminating_ = true;
  killCommand();
}

void cGuiAppClientCore::minimise(cApp& app, bool flag) {
  (void)app;
  iconified_ = !flag;
  nativeMinimise(iconified_);
}

void cGuiAppClientCore::prepareNames(cApp& app) {
  Str version = app.infoVersion().isNil() ? app.infoTitle() : app.infoVersion();
  versionString_ = Str("$VER: " + version.str());
  appTitle_ = guiAppTitle(app.infoTitle());
  appBase_ = guiAppBase(app.infoTitle());
}

void cGuiAppClientCore::resetRun() {
  queue_.clear();
  quitRequested_ = false;
  terminating_ = false;
  iconified_ = false;
}

bool pathIsDrawer(Text nativePath) {
  PathExamination e = examinePath(nativePath, false);
  return e.exists && !dirEntryTypeIsFile(e.type, nativePath);
}

Str guiDroppedPath(std::string_view hostPath) {
  std::string native = dos::hostToNative(hostPath);
  return pathIsDrawer(native) ? cPath::ImportDirPath(native) : cPath::ImportFilePath(native);
}

void guiNotify(cGuiItem* item, cGuiWindowHostCore* window) {
  while (cGuiItem* owner = item->infoOwner()) item = owner;
  window->client()->queueChangedItem(item, window);
}

// ---- the window host ----

cGuiWindowHostCore::cGuiWindowHostCore(Text title, cGuiAppClientCore* client)
    : title_(title.isNil() ? Str() : Str(title.view())), client_(client) {}

cGuiWindowHostCore::~cGuiWindowHostCore() { client_->discardEventsOf(this); }

std::vector<cGuiItem*> cGuiWindowHostCore::buildChain() const {
  std::vector<cGuiItem*> chain;
  cGuiGroupItem* root = infoRootGroup();
  for (cGuiItem* item = root ? root->infoFirst() : nullptr; item; item = item->infoNextBuilt()) {
    chain.push_back(item);
  }
  return chain;
}

void cGuiWindowHostCore::build(bool keepClosed) {
  if (infoCurrentGroup()) raise("EMU", "cGuiWindow.build(); an endGroup() call is missing");
  if (built_) raise("EMU", "cGuiWindow.build(); the window is already built");
  cGuiGroupItem* root = infoRootGroup();
  if (!root) raise("EMU", "cGuiWindow.build(); the window has no root group");
  cGuiShared::Built built = guiRecord(*root).build(nullptr, this, GuiSharedParams{false, false});
  nativeBuild(built.fragment.front());
  built_ = true;
  isOpen_ = false;

  std::vector<cGuiItem*> cycle;
  cGuiItem* firstFocus = nullptr;
  for (cGuiItem* item : buildChain()) {
    if (item->isOfClass(cGuiGroupItem::kClassName)) continue;
    cGuiShared& record = guiRecord(*item);
    record.addNotify();
    if (record.infoInCycleChain() && record.view) cycle.push_back(item);
    if (!firstFocus && record.view && item->isOfClass(cGuiStringItem::kClassName)) firstFocus = item;
  }
  nativeCycleChain(cycle, firstFocus);
  if (busy_) nativeBusy(true);
  if (!keepClosed) open();
}

void cGuiWindowHostCore::open() {
  if (isOpen_ || !built_) return;
  cGuiWindow::open();
  isOpen_ = true;
  nativeShow(true);
}

void cGuiWindowHostCore::close() {
  if (!isOpen_) return;
  if (!client_->infoIconified()) rememberPlacement();
  nativeShow(false);
  isOpen_ = false;
}

bool cGuiWindowHostCore::infoQuitRequested(bool keep) {
  bool requested = client_->infoQuitRequested();
  if (!keep) client_->setQuitRequested(false);
  return requested;
}

Str cGuiWindowHostCore::getDroppedPath(bool keep) {
  Str path = droppedPath_;
  if (!keep) droppedPath_ = Str();
  return path;
}

void cGuiWindowHostCore::setDroppedPath(Text path) { droppedPath_ = path.isNil() ? Str() : Str(path.view()); }

void cGuiWindowHostCore::setBusy(bool flag) {
  if (flag == busy_) return;
  busy_ = flag;
  if (built_) nativeBusy(flag);
}

GuiPosition cGuiWindowHostCore::getPosition() {
  if (!built_) {
    if (!positionGiven()) raise("EMU", "cGuiWindow.getPosition(); no position has been specified yet");
    return cGuiWindow::getPosition();
  }
  if (isOpen_ && !client_->infoIconified()) {
    GuiPlacement p = nativePlacement();
    return {p.x, p.y};
  }
  capturePlacement();
  return cGuiWindow::getPosition();
}

void cGuiWindowHostCore::setPosition(int32_t x, int32_t y) {
  if (built_) nativeMove(x, y);
  cGuiWindow::setPosition(x, y);
}

int32_t cGuiWindowHostCore::infoWidth() { return sizeQuery(true); }

int32_t cGuiWindowHostCore::infoHeight() { return sizeQuery(false); }

int32_t cGuiWindowHostCore::sizeQuery(bool width) {
  auto stored = [&] { return width ? cGuiWindow::infoWidth() : cGuiWindow::infoHeight(); };
  if (!built_) {
    if (stored() < 0) {
      raise("EMU", width ? "cGuiWindow.infoWidth(); no size has been specified yet"
                         : "cGuiWindow.infoHeight(); no size has been specified yet");
    }
    return stored();
  }
  if (isOpen_ && !client_->infoIconified()) return width ? nativePlacement().width : nativePlacement().height;
  capturePlacement();
  return stored();
}

void cGuiWindowHostCore::setSize(int32_t width, int32_t height) {
  if (built_) nativeResize(width, height);
  cGuiWindow::setSize(width, height);
}

// A window never placed learns its placement by opening once.
void cGuiWindowHostCore::capturePlacement() {
  if (positionGiven()) return;
  if (!isOpen_) {
    open();
    rememberPlacement();
    nativeShow(false);
    isOpen_ = false;
  } else {
    rememberPlacement();
  }
}

void cGuiWindowHostCore::rememberPlacement() {
  GuiPlacement p = nativePlacement();
  cGuiWindow::setPosition(p.x, p.y);
  cGuiWindow::setSize(p.width, p.height);
}

GuiNativeObject cGuiWindowHostCore::infoNativeObject(Text kind) {
  if (!built_) {
    std::string_view k = kind.view();
    if (k == "OBJT" || k == "SCRN" || k == "WIND" || k == "APPL" || k == "SIGS") return {nullptr, false};
    return {nullptr, true};
  }
  return nativeObject(kind);
}

void cGuiWindowHostCore::handleWindowEvent(GuiEvent& event) {
  if (event.closeRequest) setCloseRequested(true);
  if (!event.droppedPath.isNil()) droppedPath_ = std::move(event.droppedPath);
}

cGuiWindowHostCore* cGuiWindowHostCore::infoNextWindow() const {
  for (cAppResource* r = infoNextResource(); r; r = r->infoNextResource()) {
    if (r->isOfClass(cGuiWindowHostCore::kClassName)) return static_cast<cGuiWindowHostCore*>(r);
  }
  return nullptr;
}

void cGuiWindowHostCore::focusLeft(void* obj) {
  if (busy_) return;
  auto found = objectMap_.find(obj);
  if (found == objectMap_.end()) return;
  cGuiItem* item = found->second;
  if (!guiFocusLeftReports(*item)) return;
  guiNotify(item, this);
  if (item->isOfClass(cGuiNumberStringHost::kClassName)) static_cast<cGuiNumberStringHost*>(item)->clampToRange();
}

void cGuiWindowHostCore::tearDown() {
  if (!built_) return;
  if (isOpen_) close();
  client_->discardEventsOf(this);
  for (cGuiItem* item : buildChain()) guiRecord(*item).view.reset();
  if (cGuiGroupItem* root = infoRootGroup()) guiRecord(*root).view.reset();
  objectMap_.clear();
  nativeDestroy();
  built_ = false;
}

// ---- factory hooks ----

cGuiGroupHorizontal* cGuiWindowHostCore::makeGroupHorizontal(Text title) { return new cGuiGroupHorizontalHost(title); }
cGuiGroupVertical* cGuiWindowHostCore::makeGroupVertical(Text title) { return new cGuiGroupVerticalHost(title); }
cGuiGroupGrid* cGuiWindowHostCore::makeGroupGrid(Text title, int32_t columns) {
  return new cGuiGroupGridHost(title, columns);
}
cGuiGroupPage* cGuiWindowHostCore::makeGroupPage(Text title) { return new cGuiGroupPageHost(title); }
cGuiBreak* cGuiWindowHostCore::makeBreak() { return new cGuiBreakHost(); }
cGuiBar* cGuiWindowHostCore::makeBar(Text title) { return new cGuiBarHost(title); }
cGuiLabel* cGuiWindowHostCore::makeLabel(Text label) { return new cGuiLabelHost(label); }
cGuiText* cGuiWindowHostCore::makeText(Text label) { return new cGuiTextHost(label); }
cGuiTextBox* cGuiWindowHostCore::makeTextBox(Text label) { return new cGuiTextBoxHost(label); }
cGuiButton* cGuiWindowHostCore::makeButton(Text label) { return new cGuiButtonHost(label); }

cGuiTick* cGuiWindowHostCore::makeTick(Text label) { return new cGuiTickHost(label); }
cGuiString* cGuiWindowHostCore::makeString(Text label) { return new cGuiStringHost(label); }
cGuiStringBox* cGuiWindowHostCore::makeStringBox(Text label) { return new cGuiStringBoxHost(label); }
cGuiPathString* cGuiWindowHostCore::makePathString(Text label) { return new cGuiPathStringHost(label); }
cGuiNumberString* cGuiWindowHostCore::makeNumberString(Text label, int32_t min, int32_t max) {
  return new cGuiNumberStringHost(label, min, max);
}
cGuiSlider* cGuiWindowHostCore::makeSlider(Text label, int32_t min, int32_t max) {
  return new cGuiSliderHost(label, min, max);
}
cGuiCycleChoice* cGuiWindowHostCore::makeCycleChoice(Text label, const StrChain& choices) {
  return new cGuiCycleChoiceHost(label, choices);
}
cGuiRadioChoice* cGuiWindowHostCore::makeRadioChoice(Text label, const StrChain& choices) {
  return new cGuiRadioChoiceHost(label, choices);
}
cGuiNativeSimple* cGuiWindowHostCore::makeNativeSimple() { return new cGuiNativeSimpleHost(); }
cGuiList* cGuiWindowHostCore::makeList(int32_t columns, Text title) { return new cGuiListHost(this, columns, title); }

}  // namespace bw
