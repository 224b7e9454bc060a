// gui/host/core/gui_input_hosts.h - the host twins of the gadgets that take
// a value: tick, string, string box, path string, number string, slider,
// cycle, radio and native simple, with the change rules they share; no
// toolkit here.
//
// Invariants:
//   1. The change rules live here, not in the toolkit: a program setState
//      of a built gadget that differs from what is shown reports one change
//      (the watched value or the acknowledged string is set), the value
//      already shown reports none. The view shows values without reporting.
//   2. User changes reach the item through the notify the view is given:
//      strings on Return only, ticks, sliders and choices on each change of
//      value, the string box on its first edit after the last report.
//   3. Before the build setters store and getters read the neutral state;
//      once built the view holds the value, and the string hosts keep their
//      stored text as the reference of checkContentsChanged.
//   4. Range errors raise "EMU" "<neutral class>.setState(); number (choice)
//      outside of min/max range" and change nothing.
#pragma once

#include <cstdint>
#include <functional>

#include "gui/host/core/gui_host_items.h"

namespace bw {

// What an input gadget's toolkit object offers beyond a label's: a whole
// number shown (tick 0/1, slider, choice) and a kept scroll setting. The
// text of a string lives in showText/shownText. show* never reports.
class GuiInputView : public GuiGadgetView {
 public:
  virtual int32_t shownValue() { return 0; }
  virtual void showValue(int32_t value) { (void)value; }
};

// The watch trigger of a native simple: report every change, or none.
inline constexpr intptr_t kGuiWatchEveryTime = 0x49893131;
inline constexpr intptr_t kGuiWatchNone = 0x49893133;

// The application's own toolkit object for a native simple item: one value
// read, written and watched.
class GuiNativeValue {
 public:
  virtual ~GuiNativeValue() = default;
  // The toolkit object (a QWidget* in the Qt host).
  virtual void* object() = 0;
  virtual intptr_t read() = 0;
  virtual void write(intptr_t value) = 0;
  // Calls changed after each change of the value.
  virtual void watch(std::function<void()> changed) = 0;
};

// The input view of a built item, else nullptr.
GuiInputView* guiInputView(const cGuiItem& item);
// The value of a typed number: leading blanks, an optional "-" and digits;
// saturates at the int32 range; anything else reads as 0 (the gadget's
// own integer reading).
int32_t guiReadInteger(std::string_view text);
// The string and number gadgets' "set if changed": when the shown text
// differs from shown, shows it and reports the item as acknowledged. The
// integer form compares the number read from the shown text.
void muiSetStringIfChanged(cGuiItem& item, Text shown);
void muiSetIntegerIfChanged(cGuiItem& item, int32_t value);
// The same rule for watched values (tick, slider, choices).
void guiSetValueIfChanged(cGuiItem& item, int32_t value);
// The focus left the item's object: asks the string hosts whether the text
// changed; true when the window must report the item.
bool guiFocusLeftReports(cGuiItem& item);

// The saved state of a gadget as text (string, path and number texts, tick,
// slider, choice and page numbers); NIL for an item without one.
Str guiStateText(cGuiItem& item);
// Puts a saved state back: texts are shown without being reported, the
// watched values are set (reported when they change). A value out of range
// is left out.
void guiRestoreStateText(cGuiItem& item, Text state);

class cGuiTickHost : public cGuiTick {
  BW_CLASS(cGuiTickHost, cGuiTick)

 public:
  explicit cGuiTickHost(Text label);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiTick* setHelp(Text help) override;
  cGuiTick* setDisabled(bool flag) override;
  bool getState() override;
  cGuiTick* setState(bool flag) override;
  // The check mark sits at the left of a space of its own unless the
  // parent is horizontal or the tick has no weight.
  bool keepsLeft() const;
  // Whether the build gives a label column.
  bool hasLabelColumn() const;
};

class cGuiStringHost : public cGuiString {
  BW_CLASS(cGuiStringHost, cGuiString)

 public:
  explicit cGuiStringHost(Text label);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiString* setHelp(Text help) override;
  cGuiString* setDisabled(bool flag) override;
  Str getState() override;
  cGuiString* setState(Text text) override;
  // True when the shown text equals the stored one; else stores it.
  bool checkContentsChanged();
};

class cGuiStringBoxHost : public cGuiStringBox {
  BW_CLASS(cGuiStringBoxHost, cGuiStringBox)

 public:
  explicit cGuiStringBoxHost(Text label);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiStringBox* setHelp(Text help) override;
  cGuiStringBox* setDisabled(bool flag) override;
  // Built: the shown text becomes the stored one.
  Str getState() override;
  // Built: shows the text and reports one change.
  cGuiStringBox* setState(Text text) override;
  void notifyChanged() override;
  bool checkContentsChanged();
  // The user edited the text: reported when nothing was since the last
  // notifyChanged.
  void userEdited();
  // Inside a scrollable group (at any depth) the box grows with its text.
  bool infoInVirtualGroup() const;

 private:
  bool hasChanged_ = false;
};

// Path strings show host paths; getState answers the internal form, a
// drawer's ending in "/".
class cGuiPathStringHost : public cGuiPathString {
  BW_CLASS(cGuiPathStringHost, cGuiPathString)

 public:
  explicit cGuiPathStringHost(Text label);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiPathString* setHelp(Text help) override;
  cGuiPathString* setDisabled(bool flag) override;
  Str getState() override;
  // A path both validity tests refuse raises "EMU" "cGuiPathString.
  // setState(); invalid path supplied"; else shows and stores its host form.
  cGuiPathString* setState(Text path) override;
  bool checkContentsChanged();
  // The native form of the last path set.
  const Str& infoNativePath() const { return nativePath_; }
  // A save-mode requester answered path (host form); it asked before it
  // named a file that is there.
  void noteChosenForSaving(std::string path) { chosenForSaving_ = std::move(path); }
  // The gadget shows what the save-mode requester last answered, not
  // edited since (a program's setState of another path, or a user's edit,
  // forgets the answer).
  bool infoChosenForSaving();

 private:
  Str nativePath_;
  std::string chosenForSaving_;
};

class cGuiNumberStringHost : public cGuiNumberString {
  BW_CLASS(cGuiNumberStringHost, cGuiNumberString)

 public:
  cGuiNumberStringHost(Text label, int32_t min, int32_t max);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiNumberString* setHelp(Text help) override;
  cGuiNumberString* setDisabled(bool flag) override;
  int32_t getState() override;
  cGuiNumberString* setState(int32_t value) override;
  // A shown value outside min..max is set to the nearer end.
  void clampToRange();
  // The characters a user may type.
  static constexpr const char* kAccept = "0123456879-";
};

class cGuiSliderHost : public cGuiSlider {
  BW_CLASS(cGuiSliderHost, cGuiSlider)

 public:
  cGuiSliderHost(Text label, int32_t min, int32_t max);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiSlider* setHelp(Text help) override;
  cGuiSlider* setDisabled(bool flag) override;
  int32_t getState() override;
  cGuiSlider* setState(int32_t value) override;
};

class cGuiCycleChoiceHost : public cGuiCycleChoice {
  BW_CLASS(cGuiCycleChoiceHost, cGuiCycleChoice)

 public:
  cGuiCycleChoiceHost(Text label, const StrChain& choices);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiCycleChoice* setHelp(Text help) override;
  cGuiCycleChoice* setDisabled(bool flag) override;
  int32_t getState() override;
  cGuiCycleChoice* setState(int32_t value) override;
};

class cGuiRadioChoiceHost : public cGuiRadioChoice {
  BW_CLASS(cGuiRadioChoiceHost, cGuiRadioChoice)

 public:
  cGuiRadioChoiceHost(Text label, const StrChain& choices);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  cGuiRadioChoice* setHelp(Text help) override;
  cGuiRadioChoice* setDisabled(bool flag) override;
  int32_t getState() override;
  cGuiRadioChoice* setState(int32_t value) override;
  // As the tick: the buttons keep the left unless horizontal or no weight.
  bool keepsLeft() const;
};

// The application's object as a gadget: its value is read, written and
// (unless the trigger is kGuiWatchNone) watched: kGuiWatchEveryTime
// reports every change, another trigger only a change to that value.
class cGuiNativeSimpleHost : public cGuiNativeSimple {
  BW_CLASS(cGuiNativeSimpleHost, cGuiNativeSimple)

 public:
  cGuiNativeSimpleHost() { setShared(std::make_unique<cGuiShared>(this)); }
  // The window's addNativeSimpleL: object is a GuiNativeValue*; the other
  // values take their defaults (every change, no label, all three TRUE).
  void addNativeSimple(void* object) override;
  void initNative(GuiNativeValue* value, intptr_t watchValue, void* labelObject, bool fixedWidth,
                  bool fixedHeight, bool inCycleChain);
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  intptr_t getState() override;
  void setState(intptr_t value) override;
  GuiNativeValue* infoValue() const { return value_; }
  void* infoLabelObject() const { return labelObject_; }

 private:
  GuiNativeValue* value_ = nullptr;
  intptr_t watchValue_ = kGuiWatchEveryTime;
  void* labelObject_ = nullptr;
  bool fixedWidth_ = true, fixedHeight_ = true, inCycleChain_ = true;
};

}  // namespace bw
