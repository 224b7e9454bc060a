// platform/bitmap_test.cpp - pixel arrays, clipping and scaling of cBitMap.
#include "platform/bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>

namespace bw {
namespace {

TEST(BitMap, PixelArraysRoundTripWithInclusiveCorners) {
  cBitMap map(8, 6);
  std::vector<uint32_t> in(4 * 3), out(4 * 3, 0);
  std::iota(in.begin(), in.end(), 0xFF000001u);
  rtgWritePixelArray(map, 2, 1, 5, 3, in.data());
  rtgReadPixelArray(map, 2, 1, 5, 3, out.data());
  EXPECT_EQ(out, in);
  EXPECT_EQ(map.at(5, 3), in.back());
  EXPECT_EQ(map.at(6, 3), 0u);
  EXPECT_EQ(map.at(2, 4), 0u);
}

// Rectangles reaching outside the bitmap touch only what lies inside; empty
// and inverted rectangles and zero sizes touch nothing.
TEST(BitMap, EverythingIsClippedToTheBitmap) {
  cBitMap map(4, 4);
  std::vector<uint32_t> buffer(10 * 10, 7);
  rtgWritePixelArray(map, -3, -3, 6, 6, buffer.data());
  EXPECT_EQ(std::count(map.pixels.begin(), map.pixels.end(), 7u), 16);
  std::vector<uint32_t> read(10 * 10, 0);
  rtgReadPixelArray(map, -3, -3, 6, 6, read.data());
  EXPECT_EQ(read[3 * 10 + 3], 7u);
  EXPECT_EQ(read[0], 0u);
  for (auto [x0, y0, x1, y1] : {std::array{2, 2, 1, 2}, std::array{2, 2, 2, 1}, std::array{9, 9, 12, 12}}) {
    rtgWritePixelArray(map, x0, y0, x1, y1, nullptr);  // never dereferenced
    rtgReadPixelArray(map, x0, y0, x1, y1, nullptr);
  }
  cBitMap dest(4, 4);
  EXPECT_EQ(rtgScale(map, {0, 0, 0, 4}, dest, {0, 0, 4, 4}, 32, true).x, 0u);
  EXPECT_EQ(rtgScale(map, {0, 0, 4, 4}, dest, {0, 0, 4, 0}, 32, false).x, 0u);
  rtgScale(map, {2, 2, 8, 8}, dest, {-2, -2, 9, 9}, 32, true);
  rtgBltBitMap(map, -1, -1, dest, 3, 3, 9, 9);
  EXPECT_EQ(std::count(dest.pixels.begin(), dest.pixels.end(), 0u), 0);
}

TEST(BitMap, ScaleFactorsAndSamples) {
  RtgScaleFactors f = rtgScaleFactors({0, 0, 10, 10}, {0, 0, 15, 15});
  EXPECT_EQ(f.x, 98304u);
  EXPECT_EQ(f.y, 98304u);
  cBitMap two(2, 1);
  two.at(0, 0) = 0xFF000000;
  two.at(1, 0) = 0xFFFFFFFF;
  cBitMap nearest(4, 1), smooth(4, 1);
  rtgScale(two, {0, 0, 2, 1}, nearest, {0, 0, 4, 1}, 32, false);
  rtgScale(two, {0, 0, 2, 1}, smooth, {0, 0, 4, 1}, 32, true);
  EXPECT_EQ(nearest.pixels, (std::vector<uint32_t>{0xFF000000, 0xFF000000, 0xFFFFFFFF, 0xFFFFFFFF}));
  EXPECT_EQ(smooth.pixels.front(), 0xFF000000u);
  EXPECT_EQ(smooth.pixels.back(), 0xFFFFFFFFu);
  EXPECT_GT(smooth.pixels[1] & 0xFF, 0u);  // a blend between the two
  EXPECT_LT(smooth.pixels[1] & 0xFF, 0xFFu);
}

}  // namespace
}  // namespace bw
