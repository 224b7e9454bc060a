// gui/host/core/gui_native_items_test.cpp - the fit rule (a table and a
// property over every size up to 64), setImage over a scripted picture
// reader, and the key button's key and refusals.
#include "gui/host/core/gui_native_items.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <string>

#include "core/raise_test_support.h"
#include "gui/host/core/gui_host_test_support.h"
#include "platform/path.h"

namespace bw {
namespace {

TEST(GuiFitImage, Table) {
  struct Case {
    int32_t sw, sh, w, h;
    GuiFit fit;
  };
  Case cases[] = {
      {16, 16, 40, 40, {4, 4, 32, 32}},   // fits twice: doubled
      {16, 16, 30, 30, {7, 7, 16, 16}},   // fits once
      {100, 50, 40, 40, {0, 10, 40, 20}},  // scaled down by width
      {50, 100, 40, 40, {10, 0, 20, 40}},  // by height
      {64, 1, 2, 2, {0, 0, 2, 1}},         // a sliver keeps a pixel
  };
  for (const Case& c : cases) {
    std::optional<GuiFit> fit = guiFitImage(c.sw, c.sh, c.w, c.h);
    ASSERT_TRUE(fit) << c.sw << "x" << c.sh;
    EXPECT_EQ(std::to_string(fit->x) + "," + std::to_string(fit->y) + " " + std::to_string(fit->width) + "x" +
                  std::to_string(fit->height),
              std::to_string(c.fit.x) + "," + std::to_string(c.fit.y) + " " + std::to_string(c.fit.width) + "x" +
                  std::to_string(c.fit.height))
        << c.sw << "x" << c.sh << " in " << c.w << "x" << c.h;
  }
  for (auto [sw, sh, w, h] : {std::array{0, 5, 5, 5}, {5, 0, 5, 5}, {5, 5, 0, 5}, {5, 5, 5, 0}}) {
    EXPECT_FALSE(guiFitImage(sw, sh, w, h));
  }
}

TEST(GuiFitImage, EverySizeUpTo64StaysInsideCentredAndInProportion) {
  for (int32_t sw = 1; sw <= 64; ++sw) {
    for (int32_t sh = 1; sh <= 64; ++sh) {
      for (int32_t w = 1; w <= 64; ++w) {
        for (int32_t h = 1; h <= 64; ++h) {
          GuiFit f = *guiFitImage(sw, sh, w, h);
          bool inside = f.x >= 0 && f.y >= 0 && f.x + f.width <= w && f.y + f.height <= h;
          bool centred = f.x == (w - f.width) / 2 && f.y == (h - f.height) / 2;
          bool proportion = std::abs(int64_t(f.width) * sh - int64_t(f.height) * sw) < std::max(sw, sh);
          bool atMostTwice = f.width <= 2 * sw && f.height <= 2 * sh;
          if (!(inside && centred && proportion && atMostTwice)) {
            FAIL() << sw << "x" << sh << " in " << w << "x" << h << " gave " << f.width << "x" << f.height << " at "
                   << f.x << "," << f.y;
          }
        }
      }
    }
  }
}

// Pictures by internal path, as a scripted reader answers them.
struct Pictures {
  std::map<std::string, cBitMap> files;
  Pictures() {
    guiSetPictureReader([this](Text native) -> std::optional<cBitMap> {
      auto found = files.find(std::string(native.view()));
      if (found == files.end()) return std::nullopt;
      return found->second;
    });
  }
  ~Pictures() { guiSetPictureReader({}); }
  void add(const char* name, int32_t w, int32_t h, uint32_t pixel) {
    cBitMap b(w, h);
    std::fill(b.pixels.begin(), b.pixels.end(), pixel);
    files[std::string(cPath::ExportPath(name).view())] = b;
  }
};

TEST(GuiNativeIcon, FallbacksRefusalsAndTheKeptImage) {
  Pictures pictures;
  pictures.add("RAM:/big.png", 16, 16, 0x80ff0000);
  pictures.add("RAM:/tiny.png", 2, 2, 0xff00ff00);
  pictures.add("RAM:/empty.png", 0, 7, 0);
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("I");
  w->beginGroupVertical(nullptr);
  cGuiNativeIcon* icon = addNativeIcon(w, 40, 40);
  cGuiNativeIcon* flat = addNativeIcon(w, 0, 40);
  w->endGroup();
  EXPECT_TRUE(icon->setImage("RAM:/missing.png", "RAM:/big.png"));  // the fallback
  EXPECT_EQ(icon->infoImagePath(), "RAM:/big.png");
  EXPECT_EQ(icon->infoBitMap()->at(4, 4), 0x80ff0000u);  // doubled, centred, alpha kept
  EXPECT_EQ(icon->infoBitMap()->at(3, 3), 0u);
  struct Refused {
    const char* path;
    const char* fallback;
  };
  Refused refused[] = {{"RAM:/missing.png", "RAM:/gone.png"},
                       {nullptr, "RAM:/tiny.png"},  // a 2 x 2 fallback counts as missing
                       {"RAM:/empty.png", nullptr}};
  for (const Refused& r : refused) {
    EXPECT_FALSE(icon->setImage(r.path, r.fallback)) << (r.path ? r.path : r.fallback);
    EXPECT_EQ(icon->infoImagePath(), "RAM:/big.png");
  }
  EXPECT_TRUE(icon->setImage("RAM:/tiny.png", nullptr));  // as a picture it is fine
  EXPECT_FALSE(flat->setImage("RAM:/big.png", nullptr));   // no area to draw into
  EXPECT_EQ(flat->infoBitMap(), nullptr);
}

TEST(GuiKeyButton, KeysLabelsAndRefusals) {
  FakeGuiClient client;
  FakeGuiWindow* w = client.window("K");
  expectRaise([&] { addKeyButton(w, "OK", 10); }, "EPU", "addKeyButton(); must be done inside a group");
  expectRaise([&] { addNativeIcon(w, 4, 4); }, "EPU", "addNativeIcon(); must be done inside a group");
  w->beginGroupHorizontal(nullptr);
  cGuiKeyButton* ok = addKeyButton(w, "OK", 10 + 256);
  cGuiKeyButton* no = addKeyButton(w, "No", 'n');
  w->endGroup();
  EXPECT_EQ(ok->infoKey(), 13);
  EXPECT_EQ(ok->infoLabel(), "\x1b" "bOK");
  EXPECT_EQ(no->infoLabel(), "No");
  EXPECT_EQ(ok->shared(2, nullptr), 0);
  EXPECT_EQ(ok->shared(4, nullptr), 1);
  expectRaise([&] { ok->shared(5, nullptr); }, "BUG", "cGuiNative.shared(); unknown method id");
  no->setDisabled(true);
  w->build();
  EXPECT_TRUE(w->viewOf(*no)->disabled);
  w->viewOf(*ok)->notify();
  EXPECT_EQ(client.waitForChangedGuiItem().item, ok);
}

}  // namespace
}  // namespace bw
