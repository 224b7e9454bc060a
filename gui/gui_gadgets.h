// gui/gui_gadgets.h - the gadget items, the leaves of the item tree: labels,
// texts, text boxes, buttons, ticks, strings, numbers, choices and native
// items.
//
// Invariants:
//   1. Each item keeps its state here; a host twin builds its toolkit object
//      from that state and mirrors later changes (the virtual setters).
//   2. Texts are owned copies; an empty help, image or unit text is kept as
//      NIL where the operation says so.
//   3. The neutral classes raise nothing; the range checks of the number
//      setters and the path check are the hosts'.
//   4. Every chainable operation is repeated by each concrete class with its
//      own return type, so chains keep their type and a host override of the
//      typed form catches the base form.
#pragma once

#include "gui/gui_item.h"

namespace bw {

// An item with a label.
class cGuiLabelledItem : public cGuiItem {
  BW_CLASS(cGuiLabelledItem, cGuiItem)

 public:
  explicit cGuiLabelledItem(Text label) : label_(label.isNil() ? Str() : Str(label.view())) {}
  const Str& infoLabel() const { return label_; }

 protected:
  char alignment_ = 0;

 private:
  Str label_;
};

// An item that may keep its minimal width and that has a help text.
class cGuiOutputItem : public cGuiLabelledItem {
  BW_CLASS(cGuiOutputItem, cGuiLabelledItem)

 public:
  using cGuiLabelledItem::cGuiLabelledItem;
  // The host then gives the gadget no weight, so it keeps its minimal width.
  virtual cGuiOutputItem* initNoWeight() {
    noWeight_ = true;
    return this;
  }
  bool infoNoWeight() const { return noWeight_; }
  const Str& infoHelp() const { return help_; }
  // Stores a copy; NIL clears it.
  virtual cGuiOutputItem* setHelp(Text help) {
    help_ = help.isNil() ? Str() : Str(help.view());
    return this;
  }

 private:
  bool noWeight_ = false;
  Str help_;
};

// An item the user changes: it can be disabled and calls its notification
// function when its value changed.
class cGuiInputItem : public cGuiOutputItem {
  BW_CLASS(cGuiInputItem, cGuiOutputItem)

 public:
  using cGuiOutputItem::cGuiOutputItem;
  virtual void notifyChanged() {
    if (notifyFunction_) notifyFunction_->call(this);
  }
  bool infoDisabled() const { return disabled_; }
  virtual cGuiInputItem* setDisabled(bool flag) {
    disabled_ = flag;
    return this;
  }
  virtual cGuiInputItem* setNotifyFunction(funcGuiNotify* func) {
    notifyFunction_ = func;
    return this;
  }
  funcGuiNotify* infoNotifyFunction() const { return notifyFunction_; }

 private:
  bool disabled_ = false;
  funcGuiNotify* notifyFunction_ = nullptr;
};

#define BW_GUI_TYPED_OUTPUT(Class)                                    \
  BW_GUI_TYPED_ITEM(Class)                                            \
  Class* initNoWeight() override {                                    \
    cGuiOutputItem::initNoWeight();                                   \
    return this;                                                      \
  }                                                                   \
  Class* setHelp(Text help) override {                                \
    cGuiOutputItem::setHelp(help);                                    \
    return this;                                                      \
  }

#define BW_GUI_TYPED_INPUT(Class)                                     \
  BW_GUI_TYPED_OUTPUT(Class)                                          \
  Class* setDisabled(bool flag) override {                            \
    cGuiInputItem::setDisabled(flag);                                 \
    return this;                                                      \
  }                                                                   \
  Class* setNotifyFunction(funcGuiNotify* func) override {            \
    cGuiInputItem::setNotifyFunction(func);                           \
    return this;                                                      \
  }

// Label style bits: pen 5, pen 4, bold, italic.
inline constexpr int32_t kGuiStylePen5 = 1;
inline constexpr int32_t kGuiStylePen4 = 2;
inline constexpr int32_t kGuiStyleBold = 4;
inline constexpr int32_t kGuiStyleItalic = 8;

// A text without a frame; alignment 0 (none set) shows centred.
class cGuiLabel : public cGuiOutputItem {
  BW_CLASS(cGuiLabel, cGuiOutputItem)

 public:
  using cGuiOutputItem::cGuiOutputItem;
  BW_GUI_TYPED_OUTPUT(cGuiLabel)
  cGuiLabel* initAlignLeft() { return align('L'); }
  cGuiLabel* initAlignCentre() { return align('C'); }
  cGuiLabel* initAlignRight() { return align('R'); }
  bool isAlignLeft() const { return alignment_ == 'L'; }
  bool isAlignCentre() const { return alignment_ == 'C'; }
  bool isAlignRight() const { return alignment_ == 'R'; }
  char infoAlignment() const { return alignment_; }
  cGuiLabel* initStyle(int32_t style) {
    style_ = style;
    return this;
  }
  cGuiLabel* initStylePen5() { return initStyle(kGuiStylePen5); }
  int32_t infoStyle() const { return style_; }

 private:
  cGuiLabel* align(char a) {
    alignment_ = a;
    return this;
  }
  int32_t style_ = 0;
};

// A framed one-line text with a label.
class cGuiText : public cGuiOutputItem {
  BW_CLASS(cGuiText, cGuiOutputItem)

 public:
  explicit cGuiText(Text label) : cGuiOutputItem(label) { alignment_ = 'L'; }
  BW_GUI_TYPED_OUTPUT(cGuiText)
  // Neutral: NIL; the host answers the text.
  virtual Str getState() { return Str(); }
  virtual cGuiText* setState(Text text) {
    text_ = text.isNil() ? Str() : Str(text.view());
    return this;
  }
  cGuiText* initFixedFont() {
    fixedFont_ = true;
    return this;
  }
  cGuiText* initAlignRight() {
    alignment_ = 'R';
    return this;
  }
  cGuiText* initAlignCentre() {
    alignment_ = 'C';
    return this;
  }
  bool isFixedFont() const { return fixedFont_; }
  bool isAlignRight() const { return alignment_ == 'R'; }
  bool isAlignCentre() const { return alignment_ == 'C'; }
  char infoAlignment() const { return alignment_; }

 protected:
  Str text_{""};

 private:
  bool fixedFont_ = false;
};

// A framed text of several lines with a label.
class cGuiTextBox : public cGuiOutputItem {
  BW_CLASS(cGuiTextBox, cGuiOutputItem)

 public:
  using cGuiOutputItem::cGuiOutputItem;
  BW_GUI_TYPED_OUTPUT(cGuiTextBox)
  virtual Str getState() { return text_; }
  virtual cGuiTextBox* setState(Text text) {
    text_ = text.isNil() ? Str() : Str(text.view());
    return this;
  }
  cGuiTextBox* initFixedFont() {
    fixedFont_ = true;
    return this;
  }
  bool isFixedFont() const { return fixedFont_; }

 protected:
  Str text_{""};

 private:
  bool fixedFont_ = false;
};

// A push button, optionally with an image (by name).
class cGuiButton : public cGuiInputItem {
  BW_CLASS(cGuiButton, cGuiInputItem)

 public:
  using cGuiInputItem::cGuiInputItem;
  BW_GUI_TYPED_INPUT(cGuiButton)
  // Stores a copy; an empty name leaves no image.
  cGuiButton* initImage(Text name) {
    image_ = (name.isNil() || name.length() == 0) ? Str() : Str(name.view());
    return this;
  }
  const Str& infoImage() const { return image_; }

 protected:
  Str image_;
};

// A check box.
class cGuiTick : public cGuiInputItem {
  BW_CLASS(cGuiTick, cGuiInputItem)

 public:
  using cGuiInputItem::cGuiInputItem;
  BW_GUI_TYPED_INPUT(cGuiTick)
  virtual bool getState() { return state_; }
  // Neutral: stores the flag; the host also mirrors it.
  virtual cGuiTick* setState(bool flag) {
    state_ = flag;
    return this;
  }

 protected:
  bool state_ = false;
};

// The string gadgets' common text.
class cGuiStringItem : public cGuiInputItem {
  BW_CLASS(cGuiStringItem, cGuiInputItem)

 public:
  using cGuiInputItem::cGuiInputItem;
  // Neutral: NIL; hosts answer the gadget's contents.
  virtual Str getState() { return Str(); }
  virtual cGuiStringItem* setState(Text text) {
    text_ = text.isNil() ? Str() : Str(text.view());
    return this;
  }
  const Str& infoText() const { return text_; }

 protected:
  Str text_{""};
};

#define BW_GUI_TYPED_STRING(Class)                                    \
  BW_GUI_TYPED_INPUT(Class)                                           \
  Class* setState(Text text) override {                               \
    cGuiStringItem::setState(text);                                   \
    return this;                                                      \
  }

// A one-line string gadget; it accepts at least 256 characters.
class cGuiString : public cGuiStringItem {
  BW_CLASS(cGuiString, cGuiStringItem)

 public:
  using cGuiStringItem::cGuiStringItem;
  BW_GUI_TYPED_STRING(cGuiString)
  // maxChars := the larger of n and 256.
  cGuiString* initMaxChars(int32_t n) {
    maxChars_ = n < 256 ? 256 : n;
    return this;
  }
  int32_t infoMaxChars() const { return maxChars_; }

 private:
  int32_t maxChars_ = 256;
};

// A multi-line string gadget.
class cGuiStringBox : public cGuiStringItem {
  BW_CLASS(cGuiStringBox, cGuiStringItem)

 public:
  using cGuiStringItem::cGuiStringItem;
  BW_GUI_TYPED_STRING(cGuiStringBox)
  cGuiStringBox* initFixedFont() {
    fixedFont_ = true;
    return this;
  }
  bool isFixedFont() const { return fixedFont_; }

 private:
  bool fixedFont_ = false;
};

// A string gadget with a file (or drawer) requester; the second and third
// option bytes become the requester's save and pattern flags.
class cGuiPathString : public cGuiStringItem {
  BW_CLASS(cGuiPathString, cGuiStringItem)

 public:
  using cGuiStringItem::cGuiStringItem;
  BW_GUI_TYPED_STRING(cGuiPathString)
  cGuiPathString* initDrawer() { return option(0); }
  cGuiPathString* initSaveMode() { return option(1); }
  cGuiPathString* initPatternGadget() { return option(2); }
  bool isDrawer() const { return options_[0]; }
  bool isSaveMode() const { return options_[1]; }
  bool isPatternGadget() const { return options_[2]; }

 private:
  cGuiPathString* option(int i) {
    options_[i] = true;
    return this;
  }
  bool options_[3] = {false, false, false};
};

// A number in min..max (inclusive) with an optional unit text.
class cGuiNumberItem : public cGuiInputItem {
  BW_CLASS(cGuiNumberItem, cGuiInputItem)

 public:
  cGuiNumberItem(Text label, int32_t min, int32_t max, int32_t value)
      : cGuiInputItem(label), value_(value), min_(min), max_(max) {}
  // Copy; an empty text leaves NIL.
  virtual cGuiNumberItem* setUnitText(Text text) {
    unitText_ = (text.isNil() || text.length() == 0) ? Str() : Str(text.view());
    return this;
  }
  const Str& infoUnitText() const { return unitText_; }
  virtual int32_t getState() { return value_; }
  // Neutral: stores the value; hosts check the range first.
  virtual cGuiNumberItem* setState(int32_t value) {
    value_ = value;
    return this;
  }
  int32_t infoMin() const { return min_; }
  int32_t infoMax() const { return max_; }

 protected:
  int32_t value_;

 private:
  int32_t min_;
  int32_t max_;
  Str unitText_;
};

#define BW_GUI_TYPED_NUMBER(Class)                                    \
  BW_GUI_TYPED_INPUT(Class)                                           \
  Class* setUnitText(Text text) override {                            \
    cGuiNumberItem::setUnitText(text);                                \
    return this;                                                      \
  }                                                                   \
  Class* setState(int32_t value) override {                           \
    cGuiNumberItem::setState(value);                                  \
    return this;                                                      \
  }

// A number typed as text; starts at 0.
class cGuiNumberString : public cGuiNumberItem {
  BW_CLASS(cGuiNumberString, cGuiNumberItem)

 public:
  cGuiNumberString(Text label, int32_t min, int32_t max) : cGuiNumberItem(label, min, max, 0) {}
  BW_GUI_TYPED_NUMBER(cGuiNumberString)
};

// A slider; starts at min.
class cGuiSlider : public cGuiNumberItem {
  BW_CLASS(cGuiSlider, cGuiNumberItem)

 public:
  cGuiSlider(Text label, int32_t min, int32_t max) : cGuiNumberItem(label, min, max, min) {}
  BW_GUI_TYPED_NUMBER(cGuiSlider)
};

// One of several texts: value 0 .. number of choices - 1.
class cGuiChoiceItem : public cGuiNumberItem {
  BW_CLASS(cGuiChoiceItem, cGuiNumberItem)

 public:
  cGuiChoiceItem(Text label, StrChain choices)
      : cGuiNumberItem(label, 0, static_cast<int32_t>(choices.size()) - 1, 0), choices_(std::move(choices)) {}
  const StrChain& infoChoices() const { return choices_; }

 private:
  StrChain choices_;
};

class cGuiCycleChoice : public cGuiChoiceItem {
  BW_CLASS(cGuiCycleChoice, cGuiChoiceItem)

 public:
  using cGuiChoiceItem::cGuiChoiceItem;
  BW_GUI_TYPED_NUMBER(cGuiCycleChoice)
};

class cGuiRadioChoice : public cGuiChoiceItem {
  BW_CLASS(cGuiRadioChoice, cGuiChoiceItem)

 public:
  using cGuiChoiceItem::cGuiChoiceItem;
  BW_GUI_TYPED_NUMBER(cGuiRadioChoice)
};

// An item whose toolkit object the application makes itself.
class cGuiNativeItem : public cGuiItem {
  BW_CLASS(cGuiNativeItem, cGuiItem)

 public:
  BW_GUI_TYPED_ITEM(cGuiNativeItem)
};

// A native object with an optional watched attribute; the host attaches it.
class cGuiNativeSimple : public cGuiNativeItem {
  BW_CLASS(cGuiNativeSimple, cGuiNativeItem)

 public:
  virtual void addNativeSimple(void* object) { (void)object; }
  virtual intptr_t getState() { return 0; }
  virtual void setState(intptr_t value) { (void)value; }
};

}  // namespace bw
