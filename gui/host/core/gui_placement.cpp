// gui/host/core/gui_placement.cpp - clamping windows onto screens and
// centring dialogs on their owners.
#include "gui/host/core/gui_placement.h"

#include <algorithm>

namespace bw {

namespace {

int64_t overlap(const GuiRect& a, const GuiRect& b) {
  const int64_t w = std::min<int64_t>(int64_t(a.x) + a.width, int64_t(b.x) + b.width) - std::max(a.x, b.x);
  const int64_t h = std::min<int64_t>(int64_t(a.y) + a.height, int64_t(b.y) + b.height) - std::max(a.y, b.y);
  return w > 0 && h > 0 ? w * h : 0;
}

bool inside(const GuiRect& window, const GuiRect& screen) {
  return window.x >= screen.x && window.y >= screen.y &&
         int64_t(window.x) + window.width <= int64_t(screen.x) + screen.width &&
         int64_t(window.y) + window.height <= int64_t(screen.y) + screen.height;
}

}  // namespace

GuiRect guiClampToScreens(GuiRect window, const std::vector<GuiRect>& screens) {
  if (screens.empty()) return window;
  for (const GuiRect& screen : screens)
    if (inside(window, screen)) return window;
  const GuiRect* best = &screens.front();
  int64_t most = 0;
  for (const GuiRect& screen : screens) {
    const int64_t area = overlap(window, screen);
    if (area > most) {
      most = area;
      best = &screen;
    }
  }
  window.width = std::min(window.width, best->width);
  window.height = std::min(window.height, best->height);
  window.x = std::clamp(window.x, best->x, best->x + best->width - window.width);
  window.y = std::clamp(window.y, best->y, best->y + best->height - window.height);
  return window;
}

GuiRect guiCentreOn(GuiRect owner, int32_t width, int32_t height, const std::vector<GuiRect>& screens) {
  const GuiRect centred{owner.x + (owner.width - width) / 2, owner.y + (owner.height - height) / 2, width, height};
  return guiClampToScreens(centred, screens);
}

}  // namespace bw
