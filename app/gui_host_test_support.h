// app/gui_host_test_support.h - the Qt application host built offscreen for
// one test, its settings in a scratch folder, taken down in reverse order.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "gui/host/gui_app_client.h"
#include "platform/app_host.h"

namespace bw::testing_app {

class GuiHostUp {
 public:
  explicit GuiHostUp(const std::string& name = "bw-gui-host")
      : config_(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()))) {
    std::filesystem::create_directories(config_);
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) oldConfig_ = old;
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
    if (oldConfig_.empty())
      unsetenv("XDG_CONFIG_HOME");
    else
      setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
  }
  GuiHostUp(const GuiHostUp&) = delete;
  GuiHostUp& operator=(const GuiHostUp&) = delete;

  // The windows the application holds.
  static int windowCount() {
    int n = 0;
    for (cAppResource* r = guiAppClient()->infoFirstResource(); r; r = r->infoNextResource()) ++n;
    return n;
  }

 private:
  std::filesystem::path config_;
  std::string oldConfig_;
};

}  // namespace bw::testing_app
