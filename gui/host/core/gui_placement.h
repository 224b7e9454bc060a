// gui/host/core/gui_placement.h - where a window goes on the screens the
// toolkit reports: a saved or given place kept only while it lies on a
// screen, a dialog's first place centred on its owner. No toolkit here.
//
// Invariants:
//   1. A rectangle that lies wholly on one screen comes back unchanged.
//   2. Otherwise it is moved (and, when larger than the screen, shrunk) onto
//      the screen it overlaps most, else the first screen; its size is
//      never grown.
//   3. With no screens at all, everything comes back unchanged.
#pragma once

#include <cstdint>
#include <vector>

namespace bw {

struct GuiRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
  bool operator==(const GuiRect&) const = default;
};

// window clamped onto screens (each screen's usable area, the first the
// primary one).
GuiRect guiClampToScreens(GuiRect window, const std::vector<GuiRect>& screens);

// A window of width x height centred on owner, then clamped.
GuiRect guiCentreOn(GuiRect owner, int32_t width, int32_t height, const std::vector<GuiRect>& screens);

}  // namespace bw
