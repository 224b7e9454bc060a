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

// p and q mixed with weight w of 256 for q, two channels at a time.
uint32_t lerp(uint32_t p, uint32_t q, uint32_t w) {
  uint32_t rb = (((p & 0xFF00FFu) * (256 - w) + (q & 0xFF00FFu) * w) >> 8) & 0xFF00FFu;
  uint32_t ag = (((p >> 8) & 0xFF00FFu) * (256 - w) + ((q >> 8) & 0xFF00FFu) * w) & 0xFF00FF00u;
  return rb | ag;
}

// Where destination pixel i samples the source: two neighbours (clamped to
// lo..hi) and the weight of the second, from the pixel centre in 16.16.
struct Tap {
  int32_t first, second;
  uint32_t weight;
};

Tap tapOf(int32_t i, uint32_t factor, int32_t origin, int32_t lo, int32_t hi, bool smooth) {
  int64_t centre = ((int64_t(i) << 16) + 32768) * 65536 / factor - 32768;
  if (!smooth) {
    int32_t x = std::clamp<int32_t>(origin + static_cast<int32_t>((centre + 32768) >> 16), lo, hi);
    return {x, x, 0};
  }
  if (centre < 0) centre = 0;
  int32_t x = std::clamp<int32_t>(origin + static_cast<int32_t>(centre >> 16), lo, hi);
  return {x, std::min(x + 1, hi), static_cast<uint32_t>((centre & 0xFFFF) >> 8)};
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
  std::vector<Tap> columns(static_cast<size_t>(to.width));
  for (int32_t i = 0; i < to.width; ++i) columns[static_cast<size_t>(i)] = tapOf(i, f.x, from.x, sx0, sx1, smooth);
  for (int32_t j = 0; j < to.height; ++j) {
    int32_t ty = to.y + j;
    if (ty < 0 || ty >= dest.height) continue;
    Tap row = tapOf(j, f.y, from.y, sy0, sy1, smooth);
    const uint32_t* top = &source.pixels[static_cast<size_t>(row.first) * source.width];
    const uint32_t* bottom = &source.pixels[static_cast<size_t>(row.second) * source.width];
    uint32_t* out = &dest.pixels[static_cast<size_t>(ty) * dest.width];
    for (int32_t i = 0; i < to.width; ++i) {
      int32_t tx = to.x + i;
      if (tx < 0 || tx >= dest.width) continue;
      const Tap& c = columns[static_cast<size_t>(i)];
      out[tx] = lerp(lerp(top[c.first], top[c.second], c.weight), lerp(bottom[c.first], bottom[c.second], c.weight),
                     row.weight);
    }
  }
  return f;
}

}  // namespace bw
