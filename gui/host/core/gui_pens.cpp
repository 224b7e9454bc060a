// gui/host/core/gui_pens.cpp - colour blending, pen specifications and the
// pen table.
#include "gui/host/core/gui_pens.h"

#include <cstdio>

namespace bw {

uint32_t blendRGB(uint32_t a, uint32_t b, int32_t weight) {
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    uint32_t ca = (a >> shift) & 0xff;
    uint32_t cb = (b >> shift) & 0xff;
    out |= ((ca * static_cast<uint32_t>(weight) + cb * static_cast<uint32_t>(256 - weight)) / 256) << shift;
  }
  return out;
}

uint32_t penToRGB(const GuiColourMap& map, int32_t pen) {
  auto index = static_cast<size_t>(pen & 0xffff);
  return index < map.registers.size() ? map.registers[index] & 0xffffff : 0;
}

std::string guiPenSpec(uint32_t rgb) {
  char spec[16];
  std::snprintf(spec, sizeof spec, "r%.2x%.2x%.2x", (rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff);
  return spec;
}

std::optional<uint32_t> guiPenSpecRGB(std::string_view spec) {
  if (spec.size() != 7 || spec[0] != 'r') return std::nullopt;
  uint32_t rgb = 0;
  for (char c : spec.substr(1)) {
    int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (digit < 0) return std::nullopt;
    rgb = rgb << 4 | static_cast<uint32_t>(digit);
  }
  return rgb;
}

std::optional<int32_t> GuiPenTable::obtain(std::string_view spec) {
  std::optional<uint32_t> rgb = guiPenSpecRGB(spec);
  if (!rgb) return std::nullopt;
  int32_t free = 1;
  for (auto& [number, pen] : pens_) {
    if (pen.rgb == *rgb) {
      pen.holders++;
      return number;
    }
    if (number == free) free++;
  }
  pens_[free] = {*rgb, 1};
  return free;
}

void GuiPenTable::release(int32_t pen) {
  auto at = pens_.find(pen);
  if (at != pens_.end() && --at->second.holders == 0) pens_.erase(at);
}

std::optional<uint32_t> GuiPenTable::rgbOf(int32_t pen) const {
  auto at = pens_.find(pen);
  if (at == pens_.end()) return std::nullopt;
  return at->second.rgb;
}

GuiPenTable& guiPenTable() {
  static GuiPenTable table;
  return table;
}

bool muiAllocPen::setup(const GuiColourMap& screen) {
  cleanup();
  for (size_t i = 0; i < colours_.size(); i++) {
    uint32_t colour = colours_[i] & 0xffffff;
    if (int32_t weight = static_cast<int32_t>(colours_[i] >> 24))
      colour = blendRGB(colour, penToRGB(screen, 7), weight);
    pens_[i] = guiPenTable().obtain(guiPenSpec(colour)).value_or(-1);
  }
  return true;
}

void muiAllocPen::cleanup() {
  for (int32_t& pen : pens_) {
    if (pen > 0) guiPenTable().release(pen);
    pen = -1;
  }
}

}  // namespace bw
