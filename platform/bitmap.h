// platform/bitmap.h - 32-bit pixel bitmaps and the procedures the GUI host
// draws and scales its images with: pixel-array reads and writes, blits and
// scaling.
//
// Invariants:
//   1. A cBitMap holds width x height pixels 0xAARRGGBB, rows packed (a row
//      is width pixels); the toolkit binding wraps it without copying.
//   2. Rectangles are inclusive (x0, y0)-(x1, y1). Every procedure clips to
//      the bitmaps it touches: parts outside are neither read nor written,
//      and an empty or inverted rectangle, or a zero-size source or
//      destination, does nothing.
//   3. Nothing here raises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bw {

struct cBitMap {
  int32_t width = 0;
  int32_t height = 0;
  int32_t depth = 32;
  std::vector<uint32_t> pixels;

  cBitMap() = default;
  cBitMap(int32_t w, int32_t h, int32_t d = 32)
      : width(w < 0 ? 0 : w), height(h < 0 ? 0 : h), depth(d),
        pixels(static_cast<size_t>(width) * static_cast<size_t>(height), 0) {}
  uint32_t& at(int32_t x, int32_t y) { return pixels[static_cast<size_t>(y) * width + x]; }
  uint32_t at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

int32_t bitMapDepth(const cBitMap& bitmap);
// A bitmap of depth 1 (cleared either way: the buffer is always zeroed).
cBitMap allocOnePlaneBitMap(int32_t width, int32_t height, bool doNotClear);

// Copies the rectangle of the bitmap into buffer, whose rows are
// x1 - x0 + 1 pixels; buffer places outside the bitmap are left alone.
void rtgReadPixelArray(const cBitMap& bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t* buffer);
// The reverse: the buffer's pixels into the rectangle of the bitmap.
void rtgWritePixelArray(cBitMap& bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const uint32_t* buffer);
// Copies a width x height area from (sx, sy) of source to (dx, dy) of dest.
void rtgBltBitMap(const cBitMap& source, int32_t sx, int32_t sy, cBitMap& dest, int32_t dx, int32_t dy,
                  int32_t width, int32_t height);

struct RtgRect {
  int32_t x, y, width, height;
};
// The 16.16 scale factors of rtgScale, rounded up:
// (destination size x 65536 + source size - 1) / source size.
struct RtgScaleFactors {
  uint32_t x, y;
};
RtgScaleFactors rtgScaleFactors(RtgRect from, RtgRect to);
// Scales the source rectangle into the destination rectangle: bilinear when
// smooth, else the nearest pixel. A depth other than 32 blits unscaled.
RtgScaleFactors rtgScale(const cBitMap& source, RtgRect from, cBitMap& dest, RtgRect to, int32_t depth, bool smooth);

}  // namespace bw
