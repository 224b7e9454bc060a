// app/update_gui_test_support.h - the GUI host of the update window's tests:
// built on the offscreen platform with a scratch settings folder, alone or
// with the modules texts need; and the item tree read as text.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
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

inline int guiWindowCount() {
  int n = 0;
  for (cAppResource* r = guiAppClient()->infoFirstResource(); r; r = r->infoNextResource()) ++n;
  return n;
}
inline cGuiWindowHostCore* hostOf(cGuiWindow* w) { return static_cast<cGuiWindowHostCore*>(w); }

// The item tree as nested text: a group as its class and members in
// brackets, a gadget as its class and label.
inline std::string itemTree(const cGuiItem* item) {
  std::string name = item->className();
  if (item->isOfClass(cGuiGroupItem::kClassName)) {
    std::string out = name + "[";
    for (cGuiItem* i = static_cast<const cGuiGroupItem*>(item)->infoFirst(); i; i = i->infoNext()) {
      out += (out.back() == '[' ? "" : " ") + itemTree(i);
    }
    return out + "]";
  }
  if (item->isOfClass(cGuiLabelledItem::kClassName)) {
    const Str& label = static_cast<const cGuiLabelledItem*>(item)->infoLabel();
    return name + ":" + (label.isNil() ? std::string("NIL") : label.str());
  }
  return name;
}

// The application host with the GUI client built, for its lifetime.
class GuiHostUp {
 public:
  GuiHostUp() {
    config_ = std::filesystem::temp_directory_path() / ("bw-update-" + std::to_string(getpid()));
    std::filesystem::create_directories(config_);
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    initAppHost();
    initGuiHostModule();
    newAppHost("Brindlework");
    appHost()->build();
  }
  ~GuiHostUp() {
    unbuildAppHost();
    endGuiHostModule();
    endAppHost();
    std::filesystem::remove_all(config_);
  }
  GuiHostUp(const GuiHostUp&) = delete;
  GuiHostUp& operator=(const GuiHostUp&) = delete;

 private:
  std::filesystem::path config_;
};

class GuiHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initMegaListModule();
    initTranslateEngine();
    initTranslateModule();
    initSystemCharset();
    host_ = std::make_unique<GuiHostUp>();
  }
  void TearDown() override {
    host_.reset();
    endSystemCharset();
    endCharsetModule();
    endTranslateEngine();
    endMegaListModule();
  }
  std::unique_ptr<GuiHostUp> host_;
  NewsGuiWindows windows;
};

}  // namespace bw::testing_app
