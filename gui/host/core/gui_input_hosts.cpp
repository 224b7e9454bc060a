// gui/host/core/gui_input_hosts.cpp - the input gadget hosts: their build
// fragments, the shared change rules, range checks and the path forms.
#include "gui/host/core/gui_input_hosts.h"

#include <cctype>
#include <string>

#include "core/exception.h"
#include "gui/host/core/gui_app_core.h"
#include "gui/host/core/gui_list_host.h"
#include "platform/native_path.h"
#include "platform/path.h"
#include "platform/path_native.h"

namespace bw {

namespace {

bool parentIsHorizontal(const cGuiItem& item) {
  return guiParentIsClass(item, cGuiGroupHorizontalHost::kClassName);
}

// [label column, gadget], or the gadget alone.
void labelled(cGuiItem& item, bool withLabel = true) {
  GuiFragment& fragment = guiRecord(item).fragment;
  if (withLabel) fragment.push_back(guiLayoutLeaf(GuiLayoutKind::LabelColumn, &item));
  fragment.push_back(guiLayoutLeaf(GuiLayoutKind::Object, &item));
}

// The notification: every user change of the watched value queues the item;
// mapped items are also found when they lose the focus.
void attach(cGuiItem& item, bool mapped, std::function<void()> after = {}) {
  cGuiShared& record = guiRecord(item);
  if (!record.view) return;
  cGuiWindowHostCore* window = record.window;
  if (mapped && window) window->objectMap()[record.view->nativeObject()] = &item;
  record.view->attachNotify([&item, window, after] {
    guiNotify(&item, window);
    if (after) after();
  });
}

void reportChange(cGuiItem& item) {
  cGuiShared& record = guiRecord(item);
  if (record.window) guiNotify(&item, record.window);
}

void showHelp(const cGuiItem& item, Text help) {
  if (GuiGadgetView* view = guiView(item)) view->showHelp(help);
}

void showDisabled(const cGuiItem& item, bool flag) {
  if (GuiGadgetView* view = guiView(item)) view->showDisabled(flag);
}

void checkRange(const cGuiNumberItem& item, int32_t value, const char* message) {
  if (value < item.infoMin() || value > item.infoMax()) raise("EMU", message);
}

}  // namespace

GuiInputView* guiInputView(const cGuiItem& item) { return dynamic_cast<GuiInputView*>(guiView(item)); }

int32_t guiReadInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = i < text.size() && text[i] == '-';
  if (negative) ++i;
  int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

void muiSetStringIfChanged(cGuiItem& item, Text shown) {
  GuiGadgetView* view = guiView(item);
  if (!view) return;
  Str current = view->shownText();
  if (!current.isNil() && current.view() == shown.view()) return;
  view->showText(shown);
  reportChange(item);
}

void muiSetIntegerIfChanged(cGuiItem& item, int32_t value) {
  GuiGadgetView* view = guiView(item);
  if (!view || guiReadInteger(view->shownText().view()) == value) return;
  muiSetStringIfChanged(item, Str(std::to_string(value)));
}

void guiSetValueIfChanged(cGuiItem& item, int32_t value) {
  GuiInputView* view = guiInputView(item);
  if (!view || view->shownValue() == value) return;
  view->showValue(value);
  reportChange(item);
}

bool guiFocusLeftReports(cGuiItem& item) {
  if (item.isOfClass(cGuiStringHost::kClassName)) return !static_cast<cGuiStringHost&>(item).checkContentsChanged();
  if (item.isOfClass(cGuiStringBoxHost::kClassName)) {
    return !static_cast<cGuiStringBoxHost&>(item).checkContentsChanged();
  }
  if (item.isOfClass(cGuiPathStringHost::kClassName)) {
    return !static_cast<cGuiPathStringHost&>(item).checkContentsChanged();
  }
  return item.isOfClass(cGuiNumberStringHost::kClassName);
}

Str guiStateText(cGuiItem& item) {
  if (auto* list = dynamic_cast<cGuiListHost*>(&item)) return list->stateText();
  if (auto* s = dynamic_cast<cGuiStringHost*>(&item)) return s->getState();
  if (dynamic_cast<cGuiPathStringHost*>(&item)) {
    GuiGadgetView* view = guiView(item);
    return view ? view->shownText() : static_cast<cGuiPathStringHost&>(item).infoText();
  }
  if (auto* n = dynamic_cast<cGuiNumberItem*>(&item)) return Str(std::to_string(n->getState()));
  if (auto* t = dynamic_cast<cGuiTick*>(&item)) return Str(t->getState() ? "1" : "0");
  if (auto* p = dynamic_cast<cGuiGroupPage*>(&item)) return Str(std::to_string(p->getState()));
  return Str();
}

void guiRestoreStateText(cGuiItem& item, Text state) {
  if (state.isNil()) return;
  if (auto* list = dynamic_cast<cGuiListHost*>(&item)) return list->restoreState(state);
  int32_t value = guiReadInteger(state.view());
  if (dynamic_cast<cGuiStringHost*>(&item) || dynamic_cast<cGuiPathStringHost*>(&item) ||
      dynamic_cast<cGuiNumberStringHost*>(&item)) {
    if (GuiGadgetView* view = guiView(item)) view->showText(state);
  } else if (auto* n = dynamic_cast<cGuiNumberItem*>(&item)) {
    if (value >= n->infoMin() && value <= n->infoMax()) n->setState(value);
  } else if (auto* t = dynamic_cast<cGuiTick*>(&item)) {
    t->setState(value != 0);
  } else if (auto* p = dynamic_cast<cGuiGroupPage*>(&item)) {
    if (value >= 0 && value < p->infoCount()) p->setState(value);
  }
}

// ---- tick ----

cGuiTickHost::cGuiTickHost(Text label) : cGuiTick(label) { setShared(std::make_unique<cGuiShared>(this)); }

bool cGuiTickHost::keepsLeft() const { return !parentIsHorizontal(*this) && !infoNoWeight(); }

bool cGuiTickHost::hasLabelColumn() const {
  return !infoLabel().empty() || guiParentIsClass(*this, cGuiGroupVerticalHost::kClassName);
}

intptr_t cGuiTickHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  switch (methodId) {
    case 0: labelled(*this, hasLabelColumn()); return 0;
    case 1: attach(*this, false); return 0;
    default: return guiSharedAnswer(methodId, "cGuiTick", parentIsHorizontal(*this) || infoNoWeight(), true, true);
  }
}

cGuiTick* cGuiTickHost::setHelp(Text help) {
  cGuiTick::setHelp(help);
  showHelp(*this, infoHelp());
  return this;
}

cGuiTick* cGuiTickHost::setDisabled(bool flag) {
  cGuiTick::setDisabled(flag);
  showDisabled(*this, flag);
  return this;
}

bool cGuiTickHost::getState() {
  if (GuiInputView* view = guiInputView(*this)) return view->shownValue() == 1;
  return state_;
}

cGuiTick* cGuiTickHost::setState(bool flag) {
  if (guiInputView(*this)) {
    guiSetValueIfChanged(*this, flag ? 1 : 0);
  } else {
    state_ = flag;
  }
  return this;
}

// ---- string ----

cGuiStringHost::cGuiStringHost(Text label) : cGuiString(label) { setShared(std::make_unique<cGuiShared>(this)); }

intptr_t cGuiStringHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  switch (methodId) {
    case 0: labelled(*this); return 0;
    case 1: attach(*this, true, [this] { checkContentsChanged(); }); return 0;
    default: return guiSharedAnswer(methodId, "cGuiString", infoNoWeight(), true, true);
  }
}

cGuiString* cGuiStringHost::setHelp(Text help) {
  cGuiString::setHelp(help);
  showHelp(*this, infoHelp());
  return this;
}

cGuiString* cGuiStringHost::setDisabled(bool flag) {
  cGuiString::setDisabled(flag);
  showDisabled(*this, flag);
  return this;
}

Str cGuiStringHost::getState() {
  if (GuiGadgetView* view = guiView(*this)) return view->shownText();
  return text_;
}

cGuiString* cGuiStringHost::setState(Text text) {
  muiSetStringIfChanged(*this, text.isNil() ? Text("") : text);
  cGuiString::setState(text);
  return this;
}

bool cGuiStringHost::checkContentsChanged() {
  Str current = getState();
  if (current == text_) return true;
  text_ = current;
  return false;
}

// ---- string box ----

cGuiStringBoxHost::cGuiStringBoxHost(Text label) : cGuiStringBox(label) {
  setShared(std::make_unique<cGuiShared>(this));
}

bool cGuiStringBoxHost::infoInVirtualGroup() const {
  for (cGuiGroupItem* group = infoParent(); group; group = group->infoParent()) {
    if (group->infoScrollable()) return true;
  }
  return false;
}

intptr_t cGuiStringBoxHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  switch (methodId) {
    case 0: labelled(*this); return 0;
    case 1: {
      cGuiShared& record = guiRecord(*this);
      if (record.view && record.window) record.window->objectMap()[record.view->nativeObject()] = this;
      if (record.view) record.view->attachNotify([this] { userEdited(); });
      return 0;
    }
    default: return guiSharedAnswer(methodId, "cGuiStringBox", infoNoWeight(), infoNoWeight(), false);
  }
}

cGuiStringBox* cGuiStringBoxHost::setHelp(Text help) {
  cGuiStringBox::setHelp(help);
  showHelp(*this, infoHelp());
  return this;
}

cGuiStringBox* cGuiStringBoxHost::setDisabled(bool flag) {
  cGuiStringBox::setDisabled(flag);
  showDisabled(*this, flag);
  return this;
}

Str cGuiStringBoxHost::getState() {
  if (GuiGadgetView* view = guiView(*this)) text_ = view->shownText();
  return text_;
}

cGuiStringBox* cGuiStringBoxHost::setState(Text text) {
  if (GuiGadgetView* view = guiView(*this)) {
    view->showText(text.isNil() ? Text("") : text);
    hasChanged_ = true;
    reportChange(*this);
  }
  cGuiStringBox::setState(text);
  return this;
}

void cGuiStringBoxHost::userEdited() {
  if (hasChanged_) return;
  hasChanged_ = true;
  reportChange(*this);
}

void cGuiStringBoxHost::notifyChanged() {
  cGuiStringBox::notifyChanged();
  if (guiView(*this)) hasChanged_ = false;
}

bool cGuiStringBoxHost::checkContentsChanged() {
  Str previous = text_;
  return getState() == previous;
}

// ---- path string ----

cGuiPathStringHost::cGuiPathStringHost(Text label) : cGuiPathString(label) {
  setShared(std::make_unique<cGuiShared>(this));
}

intptr_t cGuiPathStringHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  switch (methodId) {
    case 0: labelled(*this); return 0;
    case 1: attach(*this, true, [this] { checkContentsChanged(); }); return 0;
    default: return guiSharedAnswer(methodId, "cGuiPathString", false, true, true);
  }
}

cGuiPathString* cGuiPathStringHost::setHelp(Text help) {
  cGuiPathString::setHelp(help);
  showHelp(*this, infoHelp());
  return this;
}

cGuiPathString* cGuiPathStringHost::setDisabled(bool flag) {
  cGuiPathString::setDisabled(flag);
  showDisabled(*this, flag);
  return this;
}

Str cGuiPathStringHost::getState() {
  GuiGadgetView* view = guiView(*this);
  Str text = view ? view->shownText() : text_;
  std::string_view shown = text.isNil() ? std::string_view() : text.view();
  // A device or assign name ("PROGDIR:") is already native and a drawer.
  if (!shown.empty() && shown.back() == ':') return cPath::ImportDirPath(text);
  std::string native = shown.empty() ? std::string() : dos::hostToNative(shown);
  if (!native.empty() && pathOrDeviceExists(native, 2)) return cPath::ImportDirPath(native);
  return cPath::ImportFilePath(native);
}

cGuiPathString* cGuiPathStringHost::setState(Text path) {
  if (cPath::InvalidDirPath(path) && cPath::InvalidFilePath(path)) {
    raise("EMU", "cGuiPathString.setState(); invalid path supplied");
  }
  Str native = cPath::ExportPath(path);
  std::string host;
  if (!native.isNil() && !native.empty() && !dos::nativeToHost(native, host)) host = std::string(native.view());
  if (host != chosenForSaving_) chosenForSaving_.clear();
  muiSetStringIfChanged(*this, host);
  cGuiPathString::setState(host);
  nativePath_ = native;
  return this;
}

bool cGuiPathStringHost::infoChosenForSaving() {
  if (chosenForSaving_.empty()) return false;
  GuiGadgetView* view = guiView(*this);
  Str current = view ? view->shownText() : text_;
  return !current.isNil() && current.view() == chosenForSaving_;
}

bool cGuiPathStringHost::checkContentsChanged() {
  GuiGadgetView* view = guiView(*this);
  Str current = view ? view->shownText() : text_;
  // An edit of the chosen name makes it the user's own.
  if (current.isNil() || current.view() != chosenForSaving_) chosenForSaving_.clear();
  if (current == text_) return true;
  text_ = current;
  return false;
}

// ---- numbers ----

cGuiNumberStringHost::cGuiNumberStringHost(Text label, int32_t min, int32_t max)
    : cGuiNumberString(label, min, max) {
  setShared(std::make_unique<cGuiShared>(this));
}

intptr_t cGuiNumberStringHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  switch (methodId) {
    case 0: labelled(*this); return 0;
    case 1: attach(*this, true, [this] { clampToRange(); }); return 0;
    default: return guiSharedAnswer(methodId, "cGuiNumberString", false, true, true);
  }
}

cGuiNumberString* cGuiNumberStringHost::setHelp(Text help) {
  cGuiNumberString::setHelp(help);
  showHelp(*this, infoHelp());
  return this;
}

cGuiNumberString* cGuiNumberStringHost::setDisabled(bool flag) {
  cGuiNumberString::setDisabled(flag);
  showDisabled(*this, flag);
  return this;
}

int32_t cGuiNumberStringHost::getState() {
  if (GuiGadgetView* view = guiView(*this)) return guiReadInteger(view->shownText().view());
  return value_;
}

cGuiNumberString* cGuiNumberStringHost::setState(int32_t value) {
  checkRange(*this, value, "cGuiNumberString.setState(); number outside of min/max range");
  if (guiView(*this)) {
    muiSetIntegerIfChanged(*this, value);
  } else {
    value_ = value;
  }
  return this;
}

void cGuiNumberStringHost::clampToRange() {
  int32_t value = getState();
  if (value < infoMin()) {
    setState(infoMin());
  } else if (value > infoMax()) {
    setState(infoMax());
  }
}

// The slider and the two choices: a watched value in min..max.
#define BW_GUI_VALUE_HOST(Host, Base, Neutral, What, FixedWidth)                                     \
  intptr_t Host::shared(int32_t methodId, const GuiSharedParams* params) {                  \
    (void)params;                                                                           \
    switch (methodId) {                                                                     \
      case 0: labelled(*this); return 0;                                                    \
      case 1: attach(*this, false); return 0;                                               \
      default: return guiSharedAnswer(methodId, Neutral, FixedWidth, true, true);                    \
    }                                                                                       \
  }                                                                                         \
  Base* Host::setHelp(Text help) {                                                          \
    Base::setHelp(help);                                                                    \
    showHelp(*this, infoHelp());                                                            \
    return this;                                                                            \
  }                                                                                         \
  Base* Host::setDisabled(bool flag) {                                                      \
    Base::setDisabled(flag);                                                                \
    showDisabled(*this, flag);                                                              \
    return this;                                                                            \
  }                                                                                         \
  int32_t Host::getState() {                                                                \
    if (GuiInputView* view = guiInputView(*this)) return view->shownValue();                \
    return value_;                                                                          \
  }                                                                                         \
  Base* Host::setState(int32_t value) {                                                     \
    checkRange(*this, value, Neutral ".setState(); " What " outside of min/max range");     \
    if (guiInputView(*this)) {                                                              \
      guiSetValueIfChanged(*this, value);                                                   \
    } else {                                                                                \
      value_ = value;                                                                       \
    }                                                                                       \
    return this;                                                                            \
  }

cGuiSliderHost::cGuiSliderHost(Text label, int32_t min, int32_t max) : cGuiSlider(label, min, max) {
  setShared(std::make_unique<cGuiShared>(this));
}
BW_GUI_VALUE_HOST(cGuiSliderHost, cGuiSlider, "cGuiSlider", "number", infoNoWeight())

cGuiCycleChoiceHost::cGuiCycleChoiceHost(Text label, const StrChain& choices) : cGuiCycleChoice(label, choices) {
  setShared(std::make_unique<cGuiShared>(this));
}
BW_GUI_VALUE_HOST(cGuiCycleChoiceHost, cGuiCycleChoice, "cGuiCycleChoice", "choice", infoNoWeight())

cGuiRadioChoiceHost::cGuiRadioChoiceHost(Text label, const StrChain& choices) : cGuiRadioChoice(label, choices) {
  setShared(std::make_unique<cGuiShared>(this));
}
bool cGuiRadioChoiceHost::keepsLeft() const { return !parentIsHorizontal(*this) && !infoNoWeight(); }
BW_GUI_VALUE_HOST(cGuiRadioChoiceHost, cGuiRadioChoice, "cGuiRadioChoice", "choice", !keepsLeft())
#undef BW_GUI_VALUE_HOST

// ---- native simple ----

void cGuiNativeSimpleHost::addNativeSimple(void* object) {
  initNative(static_cast<GuiNativeValue*>(object), kGuiWatchEveryTime, nullptr, true, true, true);
}

void cGuiNativeSimpleHost::initNative(GuiNativeValue* value, intptr_t watchValue, void* labelObject,
                                      bool fixedWidth, bool fixedHeight, bool inCycleChain) {
  if (!value) raise("EMU", "cGuiNativeSimple.initNative(); object=NIL");
  value_ = value;
  watchValue_ = watchValue;
  labelObject_ = labelObject;
  fixedWidth_ = fixedWidth;
  fixedHeight_ = fixedHeight;
  inCycleChain_ = inCycleChain;
}

intptr_t cGuiNativeSimpleHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  switch (methodId) {
    case 0: labelled(*this, labelObject_ != nullptr); return 0;
    case 1: {
      cGuiShared& record = guiRecord(*this);
      if (!value_ || watchValue_ == kGuiWatchNone) return 0;
      cGuiWindowHostCore* window = record.window;
      value_->watch([this, window] {
        if (window && (watchValue_ == kGuiWatchEveryTime || value_->read() == watchValue_)) guiNotify(this, window);
      });
      return 0;
    }
    default: return guiSharedAnswer(methodId, "cGuiNativeSimple", fixedWidth_, fixedHeight_, inCycleChain_);
  }
}

intptr_t cGuiNativeSimpleHost::getState() { return value_ ? value_->read() : 0; }

void cGuiNativeSimpleHost::setState(intptr_t value) {
  if (value_) value_->write(value);
}

}  // namespace bw
