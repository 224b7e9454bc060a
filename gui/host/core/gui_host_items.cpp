// gui/host/core/gui_host_items.cpp - the shared record's build walk and the
// label, text, text box, bar, break and button hosts.
#include "gui/host/core/gui_host_items.h"

#include <cstdio>
#include <string>

#include "core/exception.h"
#include "core/string_procs.h"
#include "gui/host/core/gui_app_core.h"
#include "gui/host/core/gui_text.h"
#include "platform/path.h"
#include "platform/path_native.h"

namespace bw {

namespace {

void showHelpIfBuilt(const cGuiItem& item, Text help) {
  if (GuiGadgetView* view = guiView(item)) view->showHelp(help);
}

}  // namespace

intptr_t guiSharedAnswer(int32_t methodId, const char* neutralClass, bool fixedWidth, bool fixedHeight, bool cycle) {
  switch (methodId) {
    case 2: return fixedWidth;
    case 3: return fixedHeight;
    case 4: return cycle;
    default: raise("BUG", std::string(neutralClass) + ".shared(); unknown method id");
  }
}

cGuiShared::Built cGuiShared::build(cGuiItem* previous, cGuiWindowHostCore* win, GuiSharedParams flags) {
  if (previous) previous->setNextBuilt(item());
  window = win;
  fragment.clear();
  item()->shared(0, &flags);
  Built built{std::move(fragment), item()};
  fragment.clear();
  if (item()->isOfClass(cGuiGroupItem::kClassName)) {
    auto* group = static_cast<cGuiGroupItem*>(item());
    if (group->infoFirst()) {
      group->setNextBuilt(group->infoFirst());
      built.last = lastBuilt;
      if (!lastBuilt) {
        std::printf("# OOPS: cGuiShared.build(); lastItem2=NIL for item \"%s\"\n", item()->className());
      }
    }
  }
  return built;
}

cGuiShared& guiRecord(const cGuiItem& item) {
  auto* record = static_cast<cGuiShared*>(item.infoShared());
  if (!record || !record->isOfClass(cGuiShared::kClassName)) {
    raise("BUG", std::string("cGuiShared; ") + item.className() + " has no host record");
  }
  return *record;
}

GuiGadgetView* guiView(const cGuiItem& item) {
  auto* record = static_cast<cGuiShared*>(item.infoShared());
  return record ? record->view.get() : nullptr;
}

bool guiParentIsClass(const cGuiItem& item, const char* className) {
  return item.infoParent() && item.infoParent()->isSameClass(className);
}

// Label: the style escapes in front, the alignment kept apart.
cGuiLabelHost::cGuiLabelHost(Text label) : cGuiLabel(label) { setShared(std::make_unique<cGuiShared>(this)); }

Str cGuiLabelHost::shownText() const {
  int32_t style = infoStyle();
  if (style == 0) return infoLabel();
  return concatStrings(style & kGuiStylePen5 ? "\x1b" "5" : "", style & kGuiStylePen4 ? "\x1b" "4" : "",
                       style & kGuiStyleBold ? "\x1b" "b" : "", style & kGuiStyleItalic ? "\x1b" "i" : "",
                       infoLabel());
}

intptr_t cGuiLabelHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  switch (methodId) {
    case 0:
      guiRecord(*this).fragment.push_back(
          guiLayoutLeaf(infoLabel().empty() ? GuiLayoutKind::HSpace : GuiLayoutKind::Object, this));
      return 0;
    case 1: return 0;
    default:
      return guiSharedAnswer(methodId, "cGuiLabel",
                    guiParentIsClass(*this, cGuiGroupHorizontalHost::kClassName) || infoNoWeight(), true, false);
  }
}

cGuiLabel* cGuiLabelHost::setHelp(Text help) {
  cGuiLabel::setHelp(help);
  showHelpIfBuilt(*this, infoHelp());
  return this;
}

// Text: once built the text lives in the view only.
cGuiTextHost::cGuiTextHost(Text label) : cGuiText(label) { setShared(std::make_unique<cGuiShared>(this)); }

Str cGuiTextHost::shownOf(Text text) const {
  Str prepared = prepareText(text, infoAlignment());
  Str first = firstLineOf(prepared);
  return first.isNil() ? prepared : first;
}

intptr_t cGuiTextHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  cGuiShared& record = guiRecord(*this);
  switch (methodId) {
    case 0:
      record.fragment.push_back(guiLayoutLeaf(GuiLayoutKind::LabelColumn, this));
      record.fragment.push_back(guiLayoutLeaf(GuiLayoutKind::Object, this));
      return 0;
    case 1:
      if (record.view && record.window) record.window->objectMap()[record.view->nativeObject()] = this;
      return 0;
    default: return guiSharedAnswer(methodId, "cGuiText", infoNoWeight(), true, false);
  }
}

cGuiText* cGuiTextHost::setHelp(Text help) {
  cGuiText::setHelp(help);
  showHelpIfBuilt(*this, infoHelp());
  return this;
}

Str cGuiTextHost::getState() {
  if (GuiGadgetView* view = guiView(*this)) return view->shownText();
  return text_;
}

cGuiText* cGuiTextHost::setState(Text text) {
  GuiGadgetView* view = guiView(*this);
  if (!view) return cGuiText::setState(text);
  // A left-aligned single line shows as it is: no copy for the progress
  // texts that change with every step.
  if (!text.isNil() && infoAlignment() == 'L' && text.view().find('\n') == std::string_view::npos) {
    view->showText(text);
  } else {
    view->showText(shownOf(text));
  }
  text_ = Str();
  return this;
}

// Text box.
cGuiTextBoxHost::cGuiTextBoxHost(Text label) : cGuiTextBox(label) { setShared(std::make_unique<cGuiShared>(this)); }

intptr_t cGuiTextBoxHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  switch (methodId) {
    case 0:
      guiRecord(*this).fragment.push_back(guiLayoutLeaf(GuiLayoutKind::LabelColumn, this));
      guiRecord(*this).fragment.push_back(guiLayoutLeaf(GuiLayoutKind::Object, this));
      return 0;
    case 1: return 0;
    default: return guiSharedAnswer(methodId, "cGuiTextBox", infoNoWeight(), infoNoWeight(), false);
  }
}

cGuiTextBox* cGuiTextBoxHost::setHelp(Text help) {
  cGuiTextBox::setHelp(help);
  showHelpIfBuilt(*this, infoHelp());
  return this;
}

cGuiTextBox* cGuiTextBoxHost::setState(Text text) {
  cGuiTextBox::setState(text);
  if (GuiGadgetView* view = guiView(*this)) view->showText(text_);
  return this;
}

// Bar and break.
cGuiBarHost::cGuiBarHost(Text title) : cGuiBar(title) { setShared(std::make_unique<cGuiShared>(this)); }

bool cGuiBarHost::isHorizontalBar() const { return guiParentIsClass(*this, cGuiGroupVerticalHost::kClassName); }

intptr_t cGuiBarHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  switch (methodId) {
    case 0: guiRecord(*this).fragment.push_back(guiLayoutLeaf(GuiLayoutKind::Object, this)); return 0;
    case 1: return 0;
    default:
      return guiSharedAnswer(methodId, "cGuiBar", guiParentIsClass(*this, cGuiGroupHorizontalHost::kClassName),
                    isHorizontalBar(), false);
  }
}

cGuiBreakHost::cGuiBreakHost() { setShared(std::make_unique<cGuiShared>(this)); }

intptr_t cGuiBreakHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  if (methodId == 0 || methodId == 1) return 0;
  return guiSharedAnswer(methodId, "cGuiBreak", true, true, false);
}

// Button: the image is chosen once, at the build.
cGuiButtonHost::cGuiButtonHost(Text label) : cGuiButton(label) { setShared(std::make_unique<cGuiShared>(this)); }

intptr_t cGuiButtonHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  cGuiShared& record = guiRecord(*this);
  switch (methodId) {
    case 0:
      if (!image_.isNil()) {
        Str native = cPath::ExportPath(image_);
        if (!native.isNil() && !pathOrDeviceExists(native, 0)) {
          image_ = Str();
        } else if (!native.isNil()) {
          imagePath_ = native;
        }
      }
      record.fragment.push_back(guiLayoutLeaf(GuiLayoutKind::Object, this));
      return 0;
    case 1:
      if (record.view) {
        cGuiWindowHostCore* window = record.window;
        record.view->attachNotify([this, window] { guiNotify(this, window); });
      }
      return 0;
    default: return guiSharedAnswer(methodId, "cGuiButton", infoNoWeight(), true, true);
  }
}

cGuiButton* cGuiButtonHost::setHelp(Text help) {
  cGuiButton::setHelp(help);
  showHelpIfBuilt(*this, infoHelp());
  return this;
}

cGuiButton* cGuiButtonHost::setDisabled(bool flag) {
  cGuiButton::setDisabled(flag);
  if (GuiGadgetView* view = guiView(*this)) view->showDisabled(flag);
  return this;
}

}  // namespace bw
