// app/update_gui_test_support.h - the fixture of the update window's tests:
// the GUI host built on the offscreen platform with a scratch settings
// folder, the news modules started, and the item tree read as text.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/news_gui_windows.h"
#include "core/ordering.h"
#include "core/system_charset.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "gui/gui_list.h"
#include "gui/host/gui_app_client.h"
#include "platform/app_host.h"

namespace bw::testing_app {

class GuiHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initMegaListModule();
    initTranslateEngine();
    initTranslateModule();
    initSystemCharset();
    config_ = std::filesystem::temp_directory_path() / ("bw-update-" + std::to_string(getpid()));
    std::filesystem::create_directories(config_);
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    initAppHost();
    initGuiHostModule();
    newAppHost("Brindlework");
    appHost()->build();
  }
  void TearDown() override {
    unbuildAppHost();
    endGuiHostModule();
    endAppHost();
    std::filesystem::remove_all(config_);
    endSystemCharset();
    endCharsetModule();
    endTranslateEngine();
    endMegaListModule();
  }
  static int windowCount() {
    int n = 0;
    for (cAppResource* r = guiAppClient()->infoFirstResource(); r; r = r->infoNextResource()) ++n;
    return n;
  }
  static cGuiWindowHostCore* host(cGuiWindow* w) { return static_cast<cGuiWindowHostCore*>(w); }

  // The item tree as nested text: a group as its class and members in
  // brackets, a gadget as its class and label.
  static std::string tree(const cGuiItem* item) {
    std::string name = item->className();
    if (item->isOfClass(cGuiGroupItem::kClassName)) {
      std::string out = name + "[";
      for (cGuiItem* i = static_cast<const cGuiGroupItem*>(item)->infoFirst(); i; i = i->infoNext()) {
        out += (out.back() == '[' ? "" : " ") + tree(i);
      }
      return out + "]";
    }
    if (item->isOfClass(cGuiLabelledItem::kClassName)) {
      const Str& label = static_cast<const cGuiLabelledItem*>(item)->infoLabel();
      return name + ":" + (label.isNil() ? std::string("NIL") : label.str());
    }
    return name;
  }

  NewsGuiWindows windows;
  std::filesystem::path config_;
};

}  // namespace bw::testing_app
