// gui/host/core/gui_pens.h - the two row pens of a list: colour words with a
// blend weight, the pen specification text, and the application's small pen
// table whose numbers the rows' "\eP[nnnnn]" escapes carry.
//
// Invariants:
//   1. A colour word is 0xRRGGBB; a top byte a (1-255) mixes it with the
//      screen's colour register 7, per channel (colour*a + r7*(256-a))/256.
//   2. Pen numbers start at 1. Equal colours share one number, which lives
//      while anyone holds it (obtain and release are counted).
//   3. muiAllocPen holds its pens between setup and cleanup only; setup
//      again (a palette change) releases the old ones first.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace bw {

// The screen's colour registers as the toolkit's palette gives them
// (register 7: the palette's Mid colour).
struct GuiColourMap {
  std::array<uint32_t, 8> registers{};
};

// Mixes two 0xRRGGBB colours channel by channel; weight 256 gives a.
uint32_t blendRGB(uint32_t a, uint32_t b, int32_t weight);
// The colour of a register, 0xRRGGBB; 0 for an unknown one.
uint32_t penToRGB(const GuiColourMap& map, int32_t pen);
// "r" and six hexadecimal digits, and back (nullopt when malformed).
std::string guiPenSpec(uint32_t rgb);
std::optional<uint32_t> guiPenSpecRGB(std::string_view spec);

class GuiPenTable {
 public:
  // A pen of the colour spec gives (nullopt for a malformed spec).
  std::optional<int32_t> obtain(std::string_view spec);
  void release(int32_t pen);
  // The colour of a held pen.
  std::optional<uint32_t> rgbOf(int32_t pen) const;
  size_t infoHeld() const { return pens_.size(); }

 private:
  struct Pen {
    uint32_t rgb;
    int32_t holders;
  };
  std::map<int32_t, Pen> pens_;
};

// The application's pen table.
GuiPenTable& guiPenTable();

// The list's pen pair.
class muiAllocPen {
 public:
  muiAllocPen(uint32_t colour0, uint32_t colour1) : colours_{colour0, colour1} {}
  ~muiAllocPen() { cleanup(); }
  muiAllocPen(const muiAllocPen&) = delete;
  muiAllocPen& operator=(const muiAllocPen&) = delete;

  // Obtains both pens for the screen's colours.
  bool setup(const GuiColourMap& screen);
  void cleanup();
  // The pen number of pen 0 or 1, -1 when not set up.
  int32_t pen(int32_t index) const { return pens_[index & 1]; }

 private:
  std::array<uint32_t, 2> colours_;
  std::array<int32_t, 2> pens_{-1, -1};
};

}  // namespace bw
