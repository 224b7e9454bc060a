// gui/host/core/gui_native_items.cpp - the native-item dispatcher, the key
// button, the image item and its fit rule.
#include "gui/host/core/gui_native_items.h"

#include <algorithm>

#include "core/exception.h"
#include "gui/host/core/gui_app_core.h"
#include "platform/path.h"

namespace bw {

namespace {
GuiPictureReader gReader;
}  // namespace

intptr_t cGuiNativeHost::shared(int32_t methodId, const GuiSharedParams* params) {
  (void)params;
  switch (methodId) {
    case 0: makeNativeObject(); return 0;
    case 1: addNotification(); return 0;
    case 2: return infoFixedWidth();
    case 3: return infoFixedHeight();
    case 4: return infoInCycleChain();
    default: raise("BUG", "cGuiNative.shared(); unknown method id");
  }
}

bool cGuiNativeHost::parentIsOfClass(const char* className) const {
  return infoParent() && infoParent()->isOfClass(className);
}

void cGuiNativeHost::makeNativeObject() {
  guiRecord(*this).fragment.push_back(guiLayoutLeaf(GuiLayoutKind::Object, this));
}

// ---- key button ----

cGuiKeyButton::cGuiKeyButton(cGuiWindow* window, Text label, uint8_t key)
    : window_(window), key_(key == 10 ? 13 : key) {
  std::string_view text = label.isNil() ? std::string_view() : label.view();
  label_ = key_ == 13 ? Str("\x1b" "b" + std::string(text)) : Str(text);
}

void cGuiKeyButton::addNotification() {
  cGuiShared& record = guiRecord(*this);
  if (!record.view) return;
  cGuiWindowHostCore* window = record.window;
  record.view->attachNotify([this, window] { guiNotify(this, window); });
  if (disabled_) record.view->showDisabled(true);
}

cGuiKeyButton* cGuiKeyButton::setDisabled(bool flag) {
  disabled_ = flag;
  if (GuiGadgetView* view = guiView(*this)) view->showDisabled(flag);
  return this;
}

// ---- image ----

std::optional<GuiFit> guiFitImage(int32_t sw, int32_t sh, int32_t w, int32_t h) {
  if (sw <= 0 || sh <= 0 || w <= 0 || h <= 0) return std::nullopt;
  int32_t dw = sw, dh = sh;
  if (sw > w || sh > h) {
    // The ratios sw / w and sh / h compared and applied in integers, so
    // that equal ratios give exact sizes (9 x 9 in 7 x 7 is 7 x 7).
    if (int64_t(sh) * w < int64_t(sw) * h) {
      dw = w;
      dh = static_cast<int32_t>(std::min<int64_t>(h, int64_t(sh) * w / sw));
    } else {
      dh = h;
      dw = static_cast<int32_t>(std::min<int64_t>(w, int64_t(sw) * h / sh));
    }
    // A sliver keeps one pixel.
    dw = std::max(dw, 1);
    dh = std::max(dh, 1);
  } else if (std::min(w / sw, h / sh) >= 2) {
    dw = 2 * sw;
    dh = 2 * sh;
  }
  return GuiFit{(w - dw) / 2, (h - dh) / 2, dw, dh};
}

void guiSetPictureReader(GuiPictureReader reader) { gReader = std::move(reader); }

cGuiNativeIcon::cGuiNativeIcon(cGuiWindow* window, int32_t width, int32_t height)
    : window_(window), width_(width), height_(height) {}

cGuiNativeIcon::~cGuiNativeIcon() {
  // Detach the bitmap from a view that may still show it.
  if (auto* view = dynamic_cast<GuiNativeItemView*>(guiView(*this))) view->showBitMap(nullptr);
}

namespace {

std::optional<cBitMap> readPicture(Text path) {
  if (path.isNil() || path.length() == 0 || !gReader) return std::nullopt;
  Str native = cPath::ExportPath(path);
  return gReader(native);
}

}  // namespace

bool cGuiNativeIcon::setImage(Text path, Text fallbackPath) {
  Text used = path;
  // The picture, else the fallback unless it is a placeholder of a few pixels.
  auto pick = [&]() -> std::optional<cBitMap> {
    if (std::optional<cBitMap> picture = readPicture(path)) return picture;
    used = fallbackPath;
    std::optional<cBitMap> fallback = readPicture(fallbackPath);
    if (fallback && fallback->width < 3 && fallback->height < 3) return std::nullopt;
    return fallback;
  };
  const std::optional<cBitMap> source = pick();
  if (!source) return false;
  std::optional<GuiFit> fit = guiFitImage(source->width, source->height, width_, height_);
  if (!fit) return false;
  cBitMap area(width_, height_);
  if (fit->width == source->width && fit->height == source->height) {
    rtgBltBitMap(*source, 0, 0, area, fit->x, fit->y, source->width, source->height);
  } else {
    rtgScale(*source, RtgRect{0, 0, source->width, source->height}, area,
             RtgRect{fit->x, fit->y, fit->width, fit->height}, 32, true);
  }
  bitmap_ = std::move(area);
  imagePath_ = Str(used.view());
  if (auto* view = dynamic_cast<GuiNativeItemView*>(guiView(*this))) view->showBitMap(&*bitmap_);
  return true;
}

cGuiKeyButton* addKeyButton(cGuiWindow* window, Text label, int32_t key) {
  if (!window->infoCurrentGroup()) raise("EPU", "addKeyButton(); must be done inside a group");
  return static_cast<cGuiKeyButton*>(window->addNative(new cGuiKeyButton(window, label, uint8_t(key & 255))));
}

cGuiNativeIcon* addNativeIcon(cGuiWindow* window, int32_t width, int32_t height) {
  if (!window->infoCurrentGroup()) raise("EPU", "addNativeIcon(); must be done inside a group");
  return static_cast<cGuiNativeIcon*>(window->addNative(new cGuiNativeIcon(window, width, height)));
}

}  // namespace bw
