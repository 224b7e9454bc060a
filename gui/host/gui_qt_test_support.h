// gui/host/gui_qt_test_support.h - test helpers of the Qt host: the modules
// texts need, a scratch settings folder, and an application with one
// cGuiAppClient built on the offscreen platform.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "core/ordering.h"
#include "core/system_charset.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "gui/host/gui_app_client.h"

namespace bw {

class QtHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initMegaListModule();
    initTranslateEngine();
    initTranslateModule();
    initSystemCharset();
    config_ = std::filesystem::temp_directory_path() / ("bw-gui-" + std::to_string(getpid()));
    std::filesystem::create_directories(config_);
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    client_ = std::make_unique<cGuiAppClient>();
    app_.initTitle("Brindlework test");
    app_.registerClient(client_.get());
    app_.build();
  }
  void TearDown() override {
    app_.unbuild();
    client_.reset();
    std::filesystem::remove_all(config_);
    endSystemCharset();
    endCharsetModule();
    endTranslateEngine();
    endMegaListModule();
  }

  cGuiWindowHostCore* window(const char* title) { return client_->createGuiWindow(title); }
  static QWidget* widgetOf(cGuiItem* item) { return static_cast<QWidget*>(guiView(*item)->nativeObject()); }
  static QWidget* topOf(cGuiWindow* w) { return static_cast<QWidget*>(w->infoNativeObject("OBJT").object); }
  // The next event, letting Qt deliver what is pending first; a test never
  // blocks on an event that does not come.
  GuiChange nextEvent() {
    for (int i = 0; i < 50 && client_->infoQueued() == 0; ++i) settle();
    if (client_->infoQueued() == 0) {
      ADD_FAILURE() << "no event came";
      return {nullptr, nullptr};
    }
    return client_->waitForChangedGuiItem();
  }
  // Lets Qt deliver what is pending.
  void settle() { QApplication::processEvents(QEventLoop::AllEvents); }

  cAppHost app_;
  std::unique_ptr<cGuiAppClient> client_;
  std::filesystem::path config_;
};

}  // namespace bw
