// platform/bitmap.cpp - pixel arrays, blits and scaling on cBitMap.
#include "platform/bitmap.h"

#include <algorithm>

namespace bw {

namespace {

bool emptyRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1) { return x1 < x0 || y1 < y0; }

// Calls f(x, y, bufferIndex) for every pixel of the rectangle that lies in
// the bitmap.
template <class F>
void forClipped(const cBitMap& bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1, F f) {
  if (emptyRect(x0, y0, x1, y1)) return;
  int64_t rowLength = int64_t(x1) - x0 + 1;
  int32_t cx0 = std::max(x0, 0), cy0 = std::max(y0, 0);
  int32_t cx1 = std::min(x1, bitmap.width - 1), cy1 = std::min(y1, bitmap.height - 1);
  for (int32_t y = cy0; y <= cy1; ++y) {
    for (int32_t x = cx0; x <= cx1; ++x) f(x, y, static_cast<size_t>((int64_t(y) - y0) * rowLength + (x - x0)));
  }
}

uint32_t channel(uint32_t p, int shift) { return (p >> shift) & 0xFF; }

// Mixes four pixels with 16-bit weights fx, fy (0..65535) per channel.
uint32_t bilinear(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t fx, uint32_t fy) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    uint64_t top = uint64_t(channel(a, shift)) * (65536 - fx) + uint64_t(channel(b, shift)) * fx;
    uint64_t bottom = uint64_t(channel(c, shift)) * (65536 - fx) + uint64_t(channel(d, shift)) * fx;
    uint64_t v = (top * (65536 - fy) + bottom * fy + (uint64_t(1) << 31)) >> 32;
    out |= static_cast<uint32_t>(std::min<uint64_t>(v, 255)) << shift;
  }
  return out;
}

}  // namespace

int32_t bitMapDepth(const cBitMap& bitmap) { return bitmap.depth; }

cBitMap allocOnePlaneBitMap(int32_t width, int32_t height, bool doNotClear) {
  (void)doNotClear;
  return cBitMap(width, height, 1);
}

void rtgReadPixelArray(const cBitMap& bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t* buffer) {
  forClipped(bitmap, x0, y0, x1, y1, [&](int32_t x, int32_t y, size_t i) { buffer[i] = bitmap.at(x, y); });
}

void rtgWritePixelArray(cBitMap& bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const uint32_t* buffer) {
  forClipped(bitmap, x0, y0, x1, y1, [&](int32_t x, int32_t y, size_t i) { bitmap.at(x, y) = buffer[i]; });
}

void rtgBltBitMap(const cBitMap& source, int32_t sx, int32_t sy, cBitMap& dest, int32_t dx, int32_t dy,
                  int32_t width, int32_t height) {
  for (int32_t y = 0; y < height; ++y) {
    int32_t fy = sy + y, ty = dy + y;
    if (fy < 0 || fy >= source.height || ty < 0 || ty >= dest.height) continue;
    for (int32_t x = 0; x < width; ++x) {
      int32_t fx = sx + x, tx = dx + x;
      if (fx >= 0 && fx < source.width && tx >= 0 && tx < dest.width) dest.at(tx, ty) = source.at(fx, fy);
    }
  }
}

RtgScaleFactors rtgScaleFactors(RtgRect from, RtgRect to) {
  if (from.width <= 0 || from.height <= 0 || to.width <= 0 || to.height <= 0) return {0, 0};
  return {static_cast<uint32_t>((uint64_t(to.width) * 65536 + from.width - 1) / from.width),
          static_cast<uint32_t>((uint64_t(to.height) * 65536 + from.height - 1) / from.height)};
}

RtgScaleFactors rtgScale(const cBitMap& source, RtgRect from, cBitMap& dest, RtgRect to, int32_t depth, bool smooth) {
  RtgScaleFactors f = rtgScaleFactors(from, to);
  if (f.x == 0) return f;
  if (depth != 32) {
    rtgBltBitMap(source, from.x, from.y, dest, to.x, to.y, std::min(from.width, to.width),
                 std::min(from.height, to.height));
    return f;
  }
  // The source area clipped to the source bitmap; samples stay inside it.
  int32_t sx0 = std::max(from.x, 0), sy0 = std::max(from.y, 0);
  int32_t sx1 = std::min(from.x + from.width, source.width) - 1, sy1 = std::min(from.y + from.height, source.height) - 1;
  if (sx1 < sx0 || sy1 < sy0) return f;
  for (int32_t j = 0; j < to.height; ++j) {
    int32_t ty = to.y + j;
    if (ty < 0 || ty >= dest.height) continue;
    // Source position of the pixel centre in 16.16.
    int64_t syFixed = ((int64_t(j) << 16) + 32768) * 65536 / f.y - 32768;
    for (int32_t i = 0; i < to.width; ++i) {
      int32_t tx = to.x + i;
      if (tx < 0 || tx >= dest.width) continue;
      int64_t sxFixed = ((int64_t(i) << 16) + 32768) * 65536 / f.x - 32768;
      if (!smooth) {
        int32_t x = std::clamp<int32_t>(from.x + static_cast<int32_t>((sxFixed + 32768) >> 16), sx0, sx1);
        int32_t y = std::clamp<int32_t>(from.y + static_cast<int32_t>((syFixed + 32768) >> 16), sy0, sy1);
        dest.at(tx, ty) = source.at(x, y);
        continue;
      }
      int64_t cx = std::max<int64_t>(sxFixed, 0), cy = std::max<int64_t>(syFixed, 0);
      int32_t x = std::clamp<int32_t>(from.x + static_cast<int32_t>(cx >> 16), sx0, sx1);
      int32_t y = std::clamp<int32_t>(from.y + static_cast<int32_t>(cy >> 16), sy0, sy1);
      int32_t x2 = std::min(x + 1, sx1), y2 = std::min(y + 1, sy1);
      dest.at(tx, ty) = bilinear(source.at(x, y), source.at(x2, y), source.at(x, y2), source.at(x2, y2),
                                 static_cast<uint32_t>(cx & 0xFFFF), static_cast<uint32_t>(cy & 0xFFFF));
    }
  }
  return f;
}

}  // namespace bw
