// gui/host/core/gui_native_items.h - the items only the host has: the
// native-item base with its build dispatcher, the key button (a button bound
// to a key; Return for the requesters' first button) and the fixed-size
// image, with the fit rule of its pictures; no toolkit here.
//
// Invariants:
//   1. shared ids 0-4 go to makeNativeObject, addNotification and the three
//      info answers; any other id raises "BUG" "cGuiNative.shared(); unknown
//      method id".
//   2. A key button's key 10 is kept as 13 (Return) and its label is shown
//      bold; a press is reported once.
//   3. setImage keeps the previous image whenever it answers FALSE: no
//      picture and no fallback, a fallback of at most 2 x 2, or a zero side
//      in the picture or in the item's area.
//   4. Pictures are read through the reader the toolkit binding registers;
//      without one nothing loads.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "gui/gui_window.h"
#include "gui/host/core/gui_host_items.h"
#include "platform/bitmap.h"

namespace bw {

class cGuiNativeHost : public cGuiNativeItem {
  BW_CLASS(cGuiNativeHost, cGuiNativeItem)

 public:
  cGuiNativeHost() { setShared(std::make_unique<cGuiShared>(this)); }
  intptr_t shared(int32_t methodId, const GuiSharedParams* params) override;
  // False without a parent.
  bool parentIsOfClass(const char* className) const;
  virtual void makeNativeObject();
  virtual void addNotification() {}
  virtual bool infoFixedWidth() { return true; }
  virtual bool infoFixedHeight() { return true; }
  virtual bool infoInCycleChain() { return true; }
};

class cGuiKeyButton : public cGuiNativeHost {
  BW_CLASS(cGuiKeyButton, cGuiNativeHost)

 public:
  cGuiKeyButton(cGuiWindow* window, Text label, uint8_t key);
  void addNotification() override;
  bool infoFixedWidth() override { return false; }
  bool infoInCycleChain() override { return true; }
  bool infoDisabled() const { return disabled_; }
  cGuiKeyButton* setDisabled(bool flag);
  // The label as shown: "\eb" in front for Return.
  const Str& infoLabel() const { return label_; }
  uint8_t infoKey() const { return key_; }

 private:
  cGuiWindow* window_;
  Str label_;
  uint8_t key_;
  bool disabled_ = false;
};

// Where a picture of sw x sh goes in an area of w x h: scaled down keeping
// its proportions when larger, doubled when it fits twice, else as it is;
// centred. A zero side anywhere gives nothing.
struct GuiFit {
  int32_t x, y, width, height;
};
std::optional<GuiFit> guiFitImage(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height);

// Reads a picture file (native path) into a bitmap, alpha kept; nullopt
// when it cannot be read.
using GuiPictureReader = std::function<std::optional<cBitMap>(Text nativePath)>;
void guiSetPictureReader(GuiPictureReader reader);

// A fixed-size image with a frame.
class cGuiNativeIcon : public cGuiNativeHost {
  BW_CLASS(cGuiNativeIcon, cGuiNativeHost)

 public:
  cGuiNativeIcon(cGuiWindow* window, int32_t width, int32_t height);
  ~cGuiNativeIcon() override;
  bool infoInCycleChain() override { return false; }
  // Loads the picture at path, else the fallback (read as a picture too:
  // Linux has no icons; one of at most 2 x 2 counts as missing), fits it
  // into the area and shows it. Paths are internal ones; NIL skips one.
  bool setImage(Text path, Text fallbackPath);
  const Str& infoImagePath() const { return imagePath_; }
  const cBitMap* infoBitMap() const { return bitmap_ ? &*bitmap_ : nullptr; }
  int32_t infoWidth() const { return width_; }
  int32_t infoHeight() const { return height_; }

 private:
  cGuiWindow* window_;
  std::optional<cBitMap> bitmap_;
  Str imagePath_;
  int32_t width_, height_;
};

// Each outside a group raises "EPU" "addKeyButton(); must be done inside a
// group" (addNativeIcon likewise); key is taken AND 255.
cGuiKeyButton* addKeyButton(cGuiWindow* window, Text label, int32_t key);
cGuiNativeIcon* addNativeIcon(cGuiWindow* window, int32_t width, int32_t height);

// What the toolkit view of a key button or an icon also offers.
class GuiNativeItemView : public GuiGadgetView {
 public:
  virtual void showBitMap(const cBitMap* bitmap) { (void)bitmap; }
};

}  // namespace bw
